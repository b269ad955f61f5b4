#!/usr/bin/env bash
# Fetches the tarballs of a Debian source package (apt-get source --tar-only) into a directory, for
# the target pieces that Debian ships no cross package of.
#
# The source comes from the same Debian archive that this machine's apt already uses: its deb
# entries are turned into deb-src entries in a private apt configuration under DIR/apt, so the
# host's own apt sources, lists and caches stay untouched.
#
# Usage: scripts/fetch-debian-source.sh PACKAGE DIR
set -euo pipefail

package=${1:?usage: fetch-debian-source.sh PACKAGE DIR}
dest=${2:?usage: fetch-debian-source.sh PACKAGE DIR}
say() { echo "fetch-debian-source: $*" >&2; }

command -v apt-get >/dev/null || { say "apt-get is missing"; exit 1; }

apt_dir=$dest/apt
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
    say "this machine's apt sources name no deb entry to take the source package from"
    exit 1
fi

cat >"$apt_dir/apt.conf" <<CONF
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
CONF
export APT_CONFIG=$apt_dir/apt.conf

say "fetching the source index for $package"
# A third-party repository without source indexes makes update fail as a whole; the Debian archive's
# index is what counts, and apt-get source below says plainly when it is missing.
apt-get -q update >&2 || say "some source indexes could not be fetched; trying the rest"

say "fetching the $package source tarballs into $dest"
# --tar-only: a full source package does not always unpack here (a Debian patch file may be
# missing), and only the tarballs are needed.
(cd "$dest" && apt-get -q source --tar-only "$package" >&2)
rm -rf "$apt_dir"
