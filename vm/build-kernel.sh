#!/usr/bin/env bash
# Builds the virtual board's kernel for one CPU model (e500mc or e500v2) from Debian's linux-source
# package, cross-compiled, and caches vmlinux, i2c-stub.ko and the .config outside the checkout.
# Prints the cache entry's directory on standard output; progress goes to standard error.
#
# Usage: vm/build-kernel.sh [e500mc|e500v2]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/cache.sh"

cpu=${1:-e500mc}
[[ -f $here/kernel/$cpu.config ]] || { vm_say "no kernel fragment for CPU model '$cpu'"; exit 1; }
package=linux-source-6.1
tarball=/usr/src/$package.tar.xz
cross=powerpc-linux-gnu-
for tool in make bc bison flex "${cross}gcc"; do
    command -v "$tool" >/dev/null || { vm_say "$tool is missing (run scripts/install-deps.sh)"; exit 1; }
done
[[ -f $tarball ]] || { vm_say "$tarball is missing (run scripts/install-deps.sh)"; exit 1; }

version=$(vm_package_version "$package")
cache=$(vm_cache_root)
# The options, not the comments around them, name the cache entry
key=$(vm_cache_key "$package $version" "$(${cross}gcc --version | head -n 1)" "allnoconfig vmlinux modules" \
    "$(grep -h '^CONFIG_' "$here/kernel/common.config" "$here/kernel/$cpu.config")")
entry=$cache/kernel-$cpu-$key
if [[ -f $entry/vmlinux && -f $entry/i2c-stub.ko ]]; then
    vm_say "kernel for $cpu cached in $entry"
    vm_cache_touch "$entry"
    echo "$entry"
    exit 0
fi

exec 9>"$cache/kernel.lock"
flock 9
if [[ -f $entry/vmlinux && -f $entry/i2c-stub.ko ]]; then
    echo "$entry"
    exit 0
fi

source_tree=$cache/$package-$version
if [[ ! -f $source_tree/Makefile ]]; then
    vm_say "unpacking $tarball into $source_tree"
    rm -rf "$source_tree" "$source_tree.part"
    mkdir -p "$source_tree.part"
    tar -xf "$tarball" -C "$source_tree.part" --strip-components=1
    mv "$source_tree.part" "$source_tree"
fi
vm_cache_touch "$source_tree"

build=$entry.build
rm -rf "$build"
mkdir -p "$build"
cat "$here/kernel/common.config" "$here/kernel/$cpu.config" >"$build/fragment.config"
kmake=(make -C "$source_tree" O="$build" ARCH=powerpc CROSS_COMPILE="$cross")
vm_say "configuring the kernel for $cpu (allnoconfig plus vm/kernel/common.config and vm/kernel/$cpu.config)"
"${kmake[@]}" -s KCONFIG_ALLCONFIG="$build/fragment.config" allnoconfig >&2

missing=0
while read -r line; do
    if ! grep -qxF "$line" "$build/.config"; then
        vm_say "the kernel configuration lacks $line: a dependency of it is off"
        missing=1
    fi
done < <(grep -E '^CONFIG_' "$build/fragment.config")
[[ $missing -eq 0 ]] || exit 1

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
vm_say "building the kernel for $cpu with -j$jobs (a few minutes; cached afterwards)"
start=$SECONDS
"${kmake[@]}" -j"$jobs" vmlinux modules >"$build/build.log" 2>&1 || {
    tail -n 30 "$build/build.log" >&2
    vm_say "the kernel build failed; the log is $build/build.log"
    exit 1
}
vm_say "kernel for $cpu built in $((SECONDS - start)) s"

rm -rf "$entry.part"
mkdir -p "$entry.part"
cp "$build/vmlinux" "$build/.config" "$build/drivers/i2c/i2c-stub.ko" "$entry.part/"
mv "$entry.part/.config" "$entry.part/config"
rm -rf "$entry"
mv "$entry.part" "$entry"
rm -rf "$build"
# Each change of the options or the package makes a new entry: the old ones go, but for the last
# few (another checkout may still use them), and so do source trees of older package versions.
vm_cache_evict "$cache" "kernel-$cpu-*" 3
vm_cache_evict "$cache" "$package-*" 1
echo "$entry"
