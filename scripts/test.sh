#!/usr/bin/env bash
# The project's test command: installs what is needed, then configures, builds and runs every test
# for the host (debug build, then AddressSanitizer and UndefinedBehaviorSanitizer), runs each fuzz
# target for a short bounded time, runs the tests for the PowerPC target under qemu-ppc-static and
# checks its staged install, builds and installs the launcher the way a root file system build does
# ("sdk": the cross compiler and a sysroot given from outside, no preset, no toolchain file), then the
# scenarios on the virtual board (the installed ppc launcher booting under QEMU's PowerPC system
# emulation), and last every host test under valgrind's memcheck. After "dev", "tools" builds imgtool's
# package for a laptop, unpacks it into a scratch root and runs what it holds. Between them, "bench"
# builds the benchmarks in the optimised release preset and runs each program a few iterations,
# without thresholds, so that they keep building and running. Stops at the first step that fails.
#
# Usage: scripts/test.sh [preset...]     (default: dev tools bench asan fuzz ppc sdk vm valgrind)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(dev tools bench asan fuzz ppc sdk vm valgrind)

# Long enough for each fuzz target to get through its seeds and mutate them for a while; the long
# runs happen outside the test command.
FUZZ_SECONDS=20

step() { printf '\n==== %s\n' "$*"; }

# Each stage's wall time, printed at the end (and when a stage fails) so that a slow stage shows.
stage_times=()
stage_started=$SECONDS
stage_name=install
stage_done() {
    stage_times+=("$(printf '%-10s %4d:%02d' "$stage_name" $(((SECONDS - stage_started) / 60)) $(((SECONDS - stage_started) % 60)))")
    stage_name=$1
    stage_started=$SECONDS
}
print_stage_times() {
    stage_done end
    printf '\n==== stage times (min:s)\n'
    printf '%s\n' "${stage_times[@]}"
    printf '%-10s %4d:%02d\n' total $((SECONDS / 60)) $((SECONDS % 60))
}
# The background build of the board's pieces (below) ends with the test command
board_pieces=
stop_board_pieces() {
    if [[ -n $board_pieces ]] && kill -0 "$board_pieces" 2>/dev/null; then
        kill -- "-$board_pieces" 2>/dev/null || true
    fi
}
trap 'print_stage_times; stop_board_pieces' EXIT

# The target has no shared libi2c and may carry other library versions than the cross sysroot:
# the launcher must be a self-contained big-endian 32-bit PowerPC executable.
check_static_ppc() {
    local program=$1 header segments dynamic
    header=$(powerpc-linux-gnu-readelf -h "$program")
    segments=$(powerpc-linux-gnu-readelf -l "$program")
    dynamic=$(powerpc-linux-gnu-readelf -d "$program")
    if ! grep -q 'Class: *ELF32' <<<"$header" ||
        ! grep -q "Data: *2's complement, big endian" <<<"$header" ||
        ! grep -q 'Machine: *PowerPC$' <<<"$header"; then
        echo "$program: not a 32-bit big-endian PowerPC executable" >&2
        return 1
    fi
    if ! grep -q 'Type: *EXEC' <<<"$header" || grep -q INTERP <<<"$segments" ||
        ! grep -q 'no dynamic section' <<<"$dynamic"; then
        echo "$program: not statically linked" >&2
        return 1
    fi
    echo "$program: static 32-bit big-endian PowerPC executable"
}

# What an install put under ROOT: exactly the files named, each a 32-bit big-endian PowerPC program
# linked as asked (statically or dynamically, the words of file(1)).
check_installed() {
    local root=$1 linkage=$2 name description
    shift 2
    local found expected
    found=$(cd "$root" && find . ! -type d | sort)
    expected=$(printf './%s\n' "$@" | sort)
    if [[ $found != "$expected" ]]; then
        printf '%s holds:\n%s\nexpected:\n%s\n' "$root" "$found" "$expected" >&2
        return 1
    fi
    for name in "$@"; do
        description=$(file -b "$root/$name")
        if [[ $description != "ELF 32-bit MSB "* || $description != *", PowerPC"* ||
            $description != *", $linkage linked"* ]]; then
            echo "$root/$name: not a $linkage linked 32-bit big-endian PowerPC program: $description" >&2
            return 1
        fi
        echo "$root/$name: $description"
    done
}

# The project's version, from its one home: the project() call of CMakeLists.txt.
project_version() {
    sed -n 's/^project(launcher VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt
}

# The launcher takes no arguments; its version is a string in the binary.
check_launcher_version() {
    local version
    version=$(project_version)
    [[ -n $version ]] || { echo "CMakeLists.txt: no version in project()" >&2; return 1; }
    # grep reads to the end (no -q), so that strings is not cut off by a closed pipe
    strings "$1" | grep -x "launcher version $version" >/dev/null ||
        { echo "$1: no 'launcher version $version' in it" >&2; return 1; }
    echo "$1: launcher version $version"
}

# The launcher as a root file system build makes it: the cross compiler, its flags and the sysroot
# come from the environment and the command line as an SDK gives them, with no preset and no
# toolchain file of ours; libi2c is found in the sysroot. Then installed with DESTDIR, statically
# linked with the size-saving sections and their garbage collection many such builds use, and again
# dynamically with plain flags.
sdk_build() {
    local sysroot=$root/build/sdk-sysroot linkage
    step "sdk: a sysroot holding libi2c"
    scripts/stage-libi2c.sh
    rm -rf "$sysroot"
    mkdir -p "$sysroot/usr"
    cp -r build/ppc-stage/lib build/ppc-stage/include "$sysroot/usr/"
    local sections="-ffunction-sections -fdata-sections" collect=-Wl,--gc-sections build
    for linkage in static dynamic; do
        # Each its own build directory: CMake keeps the flags of a directory's first configure
        build=build/sdk-$linkage
        step "sdk: configure and build, $linkage launcher${sections:+ ($sections $collect)}"
        CC=powerpc-linux-gnu-gcc CXX=powerpc-linux-gnu-g++ CFLAGS="-O2 $sections --sysroot=$sysroot" \
            CXXFLAGS="-O2 $sections --sysroot=$sysroot" LDFLAGS="$collect --sysroot=$sysroot" \
            cmake -S . -B "$build" -G Ninja -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=powerpc \
            -DCMAKE_FIND_ROOT_PATH="$sysroot" -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
            -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
            -DLAUNCHER_TESTS=OFF -DLAUNCHER_BENCH=OFF -DLAUNCHER_INSTALL_BOOTDIR=/bin \
            -DLAUNCHER_STATIC="$([[ $linkage == static ]] && echo ON || echo OFF)"
        grep -qx "I2C_LIBRARY:FILEPATH=$sysroot/usr/lib/libi2c.a" "$build/CMakeCache.txt" ||
            { echo "sdk: libi2c was not taken from the sysroot" >&2; return 1; }
        cmake --build "$build" -j2
        step "sdk: staged install, $linkage launcher"
        rm -rf "build/sdk-root-$linkage"
        DESTDIR=$root/build/sdk-root-$linkage cmake --install "$build" --prefix /usr
        check_installed "build/sdk-root-$linkage" "${linkage}ally" bin/launcher
        check_launcher_version "build/sdk-root-$linkage/bin/launcher"
        sections='' collect=''
    done
    # Checked with a directory under build/, so that a failing refusal writes nowhere else
    step "sdk: an install of the board's files without DESTDIR is refused"
    rm -rf build/sdk-no-destdir
    cmake "$build" -DLAUNCHER_INSTALL_BOOTDIR="$root/build/sdk-no-destdir/bin" >/dev/null
    if cmake --install "$build" --prefix /usr || [[ -e build/sdk-no-destdir ]]; then
        echo "sdk: the install without DESTDIR went ahead" >&2
        return 1
    fi
    echo "sdk: the install without DESTDIR stopped with the error above, as it should"
}

# What a package or tarball holds: its files (directories left out), sorted, on stdin.
package_files() {
    grep -v '/$' | sort
}

# imgtool for a laptop, as the tools preset packages it: the Debian package unpacked into a scratch
# root holds the files named and nothing else, declares what imgtool runs, and its imgtool is one
# static x86-64 program that answers; the tarball holds the same files.
tools_package() {
    local version deb tarball root=build/tools-root found description
    version=$(project_version)
    deb=build/tools/imgtool_${version}_amd64.deb
    tarball=build/tools/imgtool-${version}-linux-x86_64.tar.gz
    step "tools: configure, build and package (cmake --workflow --preset tools)"
    rm -f "$deb" "$tarball"
    cmake --workflow --preset tools
    step "tools: $deb unpacked into $root"
    rm -rf "$root"
    dpkg-deb -x "$deb" "$root"
    found=$(cd "$root" && find . ! -type d | package_files)
    if [[ $found != $'./usr/bin/imgtool\n./usr/share/doc/imgtool/rescue-download.md\n./usr/share/man/man1/imgtool.1.gz' ]]; then
        printf '%s holds:\n%s\n' "$deb" "$found" >&2
        return 1
    fi
    found=$(tar -tzf "$tarball" | package_files)
    if [[ $found != $'bin/imgtool\nshare/doc/imgtool/rescue-download.md\nshare/man/man1/imgtool.1.gz' ]]; then
        printf '%s holds:\n%s\n' "$tarball" "$found" >&2
        return 1
    fi
    found=$(dpkg-deb -f "$deb" Depends)
    [[ $found == 'xz-utils, tar, gzip' ]] || { echo "$deb: Depends: $found" >&2; return 1; }
    description=$(file -b "$root/usr/bin/imgtool")
    if [[ $description != "ELF 64-bit LSB executable, x86-64,"* || $description != *", statically linked,"* ]]; then
        echo "$root/usr/bin/imgtool: not a static x86-64 program: $description" >&2
        return 1
    fi
    found=$("$root/usr/bin/imgtool" --version)
    [[ $found == "imgtool $version" ]] || { echo "imgtool --version: $found" >&2; return 1; }
    found=$("$root/usr/bin/imgtool" send --help)
    [[ $found == "Usage: imgtool send --line DEV "* ]] || { echo "imgtool send --help: $found" >&2; return 1; }
    # grep reads to the end (no -q), so that zcat is not cut off by a closed pipe
    zcat "$root/usr/share/man/man1/imgtool.1.gz" | grep -x ".TH IMGTOOL \"1\" \".*\" \"imgtool $version\" .*" >/dev/null ||
        { echo "imgtool.1.gz: not imgtool's manual page of version $version" >&2; return 1; }
    printf '%s: imgtool %s, %s, Depends: %s\n' "$deb" "$version" "$description" "$(dpkg-deb -f "$deb" Depends)"
}

step "installing build and test dependencies"
scripts/install-deps.sh

# The dev and valgrind presets compile the same sources with the same flags: through ccache the
# second build takes the first's objects. Objects of debug builds carry their build directory, which
# ccache would otherwise hash; the source paths in them stay absolute, which is what a report needs.
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_NOHASHDIR=1

# The virtual board's kernels and busybox take minutes to build with an empty cache and need nothing
# of the project's own build: they are built (or found in the cache) in the background, at the lowest
# priority, while the other stages build and wait on real-time tests, and the vm stage waits for them.
if [[ " ${presets[*]} " == *" vm "* ]]; then
    mkdir -p build
    setsid bash -c 'nice -n 19 vm/build-busybox.sh && nice -n 19 vm/build-kernel.sh e500mc &&
        nice -n 19 vm/build-kernel.sh e500v2' >build/board-pieces.log 2>&1 &
    board_pieces=$!
fi

for preset in "${presets[@]}"; do
    stage_done "$preset"
    if [[ $preset == bench ]]; then
        step "bench: configure (release)"
        cmake --preset release
        step "bench: build"
        cmake --build --preset release --target benchmarks
        for program in build/release/bench/bench_*; do
            [[ -x $program && -f $program ]] || continue
            step "bench: smoke run of $program"
            # libbenchmark 1.7 takes the minimum time as plain seconds; the 8 MiB transfer over a
            # real line is left to the figures in docs/performance.md.
            "$program" --benchmark_min_time=0.001 --benchmark_filter=-8MiB
        done
        continue
    fi
    if [[ $preset == vm ]]; then
        # The scenarios are a pytest suite registered in the dev configuration; the board they boot
        # is built (or taken from its cache) here, for both CPU models, before the first of them.
        step "vm: waiting for the board's kernels and busybox (build/board-pieces.log)"
        wait "$board_pieces" || { tail -n 30 build/board-pieces.log >&2; exit 1; }
        board_pieces=
        step "vm: configure"
        cmake --preset dev
        for cpu in e500mc e500v2; do
            step "vm: building the virtual board for $cpu"
            vm/run-board --build-only --cpu "$cpu"
        done
        step "vm: test"
        ctest --preset vm
        continue
    fi
    if [[ $preset == sdk ]]; then
        sdk_build
        continue
    fi
    if [[ $preset == tools ]]; then
        tools_package
        continue
    fi
    if [[ $preset == fuzz ]]; then
        step "fuzz: build and run each target for $FUZZ_SECONDS s"
        scripts/fuzz.sh "$FUZZ_SECONDS"
        continue
    fi
    if [[ $preset == ppc ]]; then
        step "ppc: staging libi2c for the target"
        scripts/stage-libi2c.sh
    fi

    step "$preset: configure"
    cmake --preset "$preset"
    step "$preset: build"
    cmake --build --preset "$preset"

    if [[ $preset == ppc ]]; then
        step "ppc: checking that launcher and the board's mgmt_probe are static PowerPC programs"
        check_static_ppc build/ppc/src/launcher
        check_static_ppc build/ppc/vm/mgmt_probe
        step "ppc: staged install: the board's files alone"
        rm -rf build/ppc-root
        DESTDIR=$root/build/ppc-root cmake --install build/ppc --prefix /usr
        check_installed build/ppc-root statically bin/launcher
        check_launcher_version build/ppc-root/bin/launcher
    fi

    step "$preset: test"
    ctest --preset "$preset"
done

step "all presets passed: ${presets[*]}"
