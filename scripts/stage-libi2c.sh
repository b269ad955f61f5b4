#!/usr/bin/env bash
# Stages libi2c (static library and headers) for the PowerPC target, which Debian ships no cross
# package of: the upstream tarball of the i2c-tools source package, built with the cross compiler.
#
# The source comes from the same Debian archive that this machine's apt already uses: its deb
# entries are turned into deb-src entries in a private apt configuration under build/, so the
# host's own apt sources, lists and caches stay untouched.
#
# Usage: scripts/stage-libi2c.sh        (LAUNCHER_PPC_STAGE overrides the staging prefix)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stage=${LAUNCHER_PPC_STAGE:-$root/build/ppc-stage}
work=$root/build/ppc-stage-work
cross=powerpc-linux-gnu

if [[ -f $stage/lib/libi2c.a && -f $stage/include/i2c/smbus.h ]]; then
    echo "libi2c for $cross already staged in $stage"
    exit 0
fi

for tool in apt-get tar make "$cross-gcc" "$cross-ar" "$cross-ranlib"; do
    command -v "$tool" >/dev/null || { echo "stage-libi2c: $tool is missing (run scripts/install-deps.sh)" >&2; exit 1; }
done

apt_dir=$work/apt
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"

# deb822 stanzas: keep every field (URIs, Suites, Components, Signed-By, ...) and ask for sources
# instead of binaries. Disabled stanzas and source-only stanzas are left out.
shopt -s nullglob
for file in /etc/apt/sources.list.d/*.sources; do
    awk '
        function flush() {
            if (text != "" && binary && !disabled) print text "\n"
            text = ""; binary = 0; disabled = 0
        }
        /^[ \t]*$/ { flush(); next }
        /^#/ { next }
        tolower($1) == "types:" {
            for (i = 2; i <= NF; i++) if ($i == "deb") binary = 1
            text = text "Types: deb-src\n"
            next
        }
        tolower($1) == "enabled:" && tolower($2) == "no" { disabled = 1 }
        { text = text $0 "\n" }
        END { flush() }
    ' "$file" >"$apt_dir/sources.list.d/$(basename "$file")"
done
# One-line format: every deb line becomes a deb-src line with the same options, URI and suite.
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $file ]] || continue
    sed -n 's/^[[:space:]]*deb\([[:space:]]\)/deb-src\1/p' "$file"
done >"$apt_dir/sources.list"
shopt -u nullglob

if ! grep -qs . "$apt_dir/sources.list" "$apt_dir"/sources.list.d/*; then
    echo "stage-libi2c: this machine's apt sources name no deb entry to take the source package from" >&2
    exit 1
fi

cat >"$apt_dir/apt.conf" <<EOF
Dir::Etc::SourceList "$apt_dir/sources.list";
Dir::Etc::SourceParts "$apt_dir/sources.list.d";
Dir::State "$apt_dir";
Dir::State::Lists "$apt_dir/lists";
Dir::State::status "/var/lib/dpkg/status";
Dir::Cache "$apt_dir/cache";
Dir::Cache::archives "$apt_dir/cache/archives";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
APT::Sandbox::User "root";
EOF
export APT_CONFIG=$apt_dir/apt.conf

echo "== fetching the i2c-tools source index"
# A third-party repository without source indexes makes update fail as a whole; the Debian archive's
# index is what counts, and apt-get source below says plainly when it is missing.
apt-get -q update || echo "stage-libi2c: some source indexes could not be fetched; trying the rest" >&2

src=$work/src
rm -rf "$src"
mkdir -p "$src"
echo "== fetching the i2c-tools upstream tarball"
# --tar-only: the full source package does not unpack here (a Debian patch file is missing), and
# only the upstream tarball is needed.
(cd "$src" && apt-get -q source --tar-only i2c-tools)

tarballs=("$src"/i2c-tools_*.orig.tar.*)
[[ ${#tarballs[@]} -eq 1 && -f ${tarballs[0]} ]] || { echo "stage-libi2c: no single upstream tarball in $src" >&2; exit 1; }
tar -xf "${tarballs[0]}" -C "$src"
tree=$(find "$src" -mindepth 2 -maxdepth 2 -name Makefile -path '*/i2c-tools-*' -printf '%h\n' | head -n 1)
[[ -n $tree ]] || { echo "stage-libi2c: the tarball holds no i2c-tools tree" >&2; exit 1; }

echo "== building libi2c for $cross into $stage"
# Only the library: the tools and Python bindings are not needed. The static archive is the one the
# statically linked launcher takes; without the shared one the linker cannot pick the wrong kind.
make -C "$tree" -j"$(nproc)" \
    CC="$cross-gcc" AR="$cross-ar" RANLIB="$cross-ranlib" \
    CFLAGS="-O2" \
    BUILD_STATIC_LIB=1 BUILD_DYNAMIC_LIB=0 \
    PREFIX="$stage" \
    install-lib install-include

[[ -f $stage/lib/libi2c.a && -f $stage/include/i2c/smbus.h ]] || { echo "stage-libi2c: the install left no libi2c.a or i2c/smbus.h in $stage" >&2; exit 1; }
rm -rf "$work"
echo "libi2c for $cross staged in $stage"
