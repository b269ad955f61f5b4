# shellcheck shell=bash
# Shared by the board's build steps (sourced): where built pieces are cached outside the checkout, and
# the key that names a cache entry after everything that went into it.

# The cache survives a fresh checkout, so a second run and CI reuse a kernel that took minutes to build.
vm_cache_root() {
    local root=${LAUNCHER_VM_CACHE:-/var/cache/launcher-vm}
    if ! mkdir -p "$root" 2>/dev/null || [[ ! -w $root ]]; then
        root=${XDG_CACHE_HOME:-$HOME/.cache}/launcher-vm
        mkdir -p "$root"
    fi
    echo "$root"
}

# The key of a cache entry: a short hash of the given texts.
vm_cache_key() {
    printf '%s\n' "$@" | sha256sum | cut -c1-16
}

vm_package_version() {
    dpkg-query -W -f='${Version}' "$1"
}

vm_say() {
    echo "vm: $*" >&2
}

# Marks a cache entry as used now: eviction keeps the entries used last.
vm_cache_touch() {
    touch "$1" 2>/dev/null || true
}

# Keeps the KEEP entries of CACHE named by the glob PATTERN that were used last and removes the
# others, with what interrupted builds of them left (PATTERN.build, PATTERN.part). Call it holding
# the build lock of that kind of entry, so that no build of it is under way.
vm_cache_evict() {
    local cache=$1 pattern=$2 keep=$3 stale
    find "$cache" -mindepth 1 -maxdepth 1 \( -name "$pattern.build" -o -name "$pattern.part" \) \
        -exec rm -rf {} +
    find "$cache" -mindepth 1 -maxdepth 1 -type d -name "$pattern" ! -name '*.build' ! -name '*.part' \
        -printf '%T@ %p\n' | sort -rn | tail -n +$((keep + 1)) | cut -d' ' -f2- |
        while read -r stale; do
            vm_say "evicting $stale from the cache"
            rm -rf "$stale"
        done
}
