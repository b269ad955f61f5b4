#!/usr/bin/env bash
# Stages libi2c (static library and headers) for the PowerPC target, which Debian ships no cross
# package of: the upstream tarball of the i2c-tools source package (fetched from this machine's own
# Debian archive by scripts/fetch-debian-source.sh), built with the cross compiler.
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

for tool in tar make "$cross-gcc" "$cross-ar" "$cross-ranlib"; do
    command -v "$tool" >/dev/null || { echo "stage-libi2c: $tool is missing (run scripts/install-deps.sh)" >&2; exit 1; }
done

src=$work/src
rm -rf "$src"
mkdir -p "$src"
echo "== fetching the i2c-tools upstream tarball"
"$root/scripts/fetch-debian-source.sh" i2c-tools "$src"

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
