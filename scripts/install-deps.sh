#!/usr/bin/env bash
# Installs what building and testing the launcher needs on Debian 12: the host toolchain, test and
# benchmark libraries (zlib only as the yardstick of the CRC benchmark and test), the PowerPC cross
# compiler with its user-mode emulator, and what fetching and building the i2c-tools source for the
# target takes, and lrzsz, whose sx is the real XMODEM sender that the interoperability tests run
# against the receiver; valgrind, whose memcheck runs every test of the valgrind preset; clang-14 with
# its runtime libraries (libFuzzer and the sanitizers) for the fuzz targets; the xz, tar and gzip that
# imgtool runs to make application archives; file, which checks what the installs put in place;
# help2man, which makes imgtool's manual page from its help; and
# for the virtual board (vm/), QEMU's PowerPC system emulator, Debian's kernel source with what
# building it takes, python3 for the board's runner and scenario driver, and picocom, the terminal
# program that the technician's scenarios drive on the board's line; pytest and cpio for the unit
# tests of the board's harness. Runs as root (or through sudo where there is one).
set -euo pipefail

packages=(
    cmake ninja-build make g++
    libgtest-dev libgmock-dev googletest libbenchmark-dev libi2c-dev zlib1g-dev
    g++-powerpc-linux-gnu qemu-user-static
    dpkg-dev xz-utils tar gzip file
    lrzsz
    valgrind
    clang-14 libclang-rt-14-dev
    qemu-system-ppc linux-source-6.1 bc bison flex bzip2 python3 picocom
    # The boot loader on the virtual board: Debian's U-Boot for the machine, and mkimage to wrap the kernel
    u-boot-qemu u-boot-tools
    python3-pytest cpio
    # The virtual board's scenarios: pytest's workers, two boards at a time, and pexpect, which drives
    # picocom and the board's shell
    python3-pytest-xdist python3-pexpect
    # The test command's compiler cache: the valgrind stage compiles what the dev stage compiled
    ccache
    # The dev stage's checks of the house style: shell scripts, Python and the C++ layout
    shellcheck flake8 clang-format
    # The manual page of imgtool, made from its own help
    help2man
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [[ $status == installed ]] || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps: all packages already installed"
    exit 0
fi

as_root=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get -q update
"${as_root[@]}" apt-get -q install -y --no-install-recommends "${packages[@]}"
