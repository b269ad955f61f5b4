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
