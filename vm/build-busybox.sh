#!/usr/bin/env bash
# Builds the virtual board's busybox from Debian's busybox source package, static and cross-compiled,
# and caches the binary with its list of applets outside the checkout. Prints the cache entry's
# directory on standard output; progress goes to standard error.
#
# Usage: vm/build-busybox.sh
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
source "$here/cache.sh"

cross=powerpc-linux-gnu-
for tool in make bzip2 "${cross}gcc" apt-cache; do
    command -v "$tool" >/dev/null || { vm_say "$tool is missing (run scripts/install-deps.sh)"; exit 1; }
done

# The binary package's candidate names the source version that apt-get source will fetch (less a
# binary-only rebuild suffix), so a cached build is found without asking the archive.
version=$(apt-cache policy busybox | awk '$1 == "Candidate:" { print $2 }' | sed 's/+b[0-9]*$//')
[[ -n $version && $version != "(none)" ]] || { vm_say "apt knows no busybox package (run apt-get update)"; exit 1; }

cache=$(vm_cache_root)
# The options, not the comments around them, name the cache entry
key=$(vm_cache_key "busybox $version" "$(${cross}gcc --version | head -n 1)" "defconfig" \
    "$(grep -h '^CONFIG_' "$here/busybox.config")")
entry=$cache/busybox-$key
if [[ -f $entry/busybox && -f $entry/busybox.links ]]; then
    vm_say "busybox cached in $entry"
    vm_cache_touch "$entry"
    echo "$entry"
    exit 0
fi

exec 9>"$cache/busybox.lock"
flock 9
if [[ -f $entry/busybox && -f $entry/busybox.links ]]; then
    echo "$entry"
    exit 0
fi

work=$entry.build
rm -rf "$work"
mkdir -p "$work"
vm_say "fetching the busybox source ($version)"
"$root/scripts/fetch-debian-source.sh" busybox "$work"
tarballs=("$work"/busybox_*.orig.tar.*)
[[ ${#tarballs[@]} -eq 1 && -f ${tarballs[0]} ]] || { vm_say "no single busybox upstream tarball in $work"; exit 1; }
tar -xf "${tarballs[0]}" -C "$work"
tree=$(find "$work" -mindepth 2 -maxdepth 2 -name Makefile -path '*/busybox-*' -printf '%h\n' | head -n 1)
[[ -n $tree ]] || { vm_say "the tarball holds no busybox tree"; exit 1; }

bmake=(make -C "$tree" ARCH=powerpc CROSS_COMPILE="$cross")
vm_say "configuring busybox (defconfig plus vm/busybox.config)"
"${bmake[@]}" -s defconfig >"$work/config.log" 2>&1
while read -r line; do
    name=${line%%=*}
    sed -i -e "/^$name=/d" -e "/^# $name is not set/d" "$tree/.config"
    echo "$line" >>"$tree/.config"
done < <(grep -E '^CONFIG_' "$here/busybox.config")
{ yes '' || true; } | "${bmake[@]}" -s oldconfig >/dev/null 2>&1
missing=0
while read -r line; do
    grep -qxF "$line" "$tree/.config" || { vm_say "the busybox configuration lacks $line"; missing=1; }
done < <(grep -E '^CONFIG_' "$here/busybox.config")
[[ $missing -eq 0 ]] || exit 1

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
vm_say "building busybox with -j$jobs (a minute or two; cached afterwards)"
start=$SECONDS
"${bmake[@]}" -j"$jobs" busybox busybox.links >"$work/build.log" 2>&1 || {
    tail -n 30 "$work/build.log" >&2
    vm_say "the busybox build failed; the log is $work/build.log"
    exit 1
}
vm_say "busybox built in $((SECONDS - start)) s"

rm -rf "$entry.part"
mkdir -p "$entry.part"
cp "$tree/busybox" "$tree/busybox.links" "$entry.part/"
cp "$tree/.config" "$entry.part/config"
rm -rf "$entry"
mv "$entry.part" "$entry"
rm -rf "$work"
# Each change of the options or the package makes a new entry: the old ones go, but for the last
# few (another checkout may still use them).
vm_cache_evict "$cache" "busybox-*" 3
echo "$entry"
