# Cross build for the target: 32-bit big-endian PowerPC, Linux, glibc, with Debian's cross
# compiler. Test programs run on the build machine through user-mode QEMU.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(LAUNCHER_CROSS_TRIPLE powerpc-linux-gnu)
set(CMAKE_C_COMPILER ${LAUNCHER_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LAUNCHER_CROSS_TRIPLE}-g++)

# Where Debian's cross packages put the target's C library, libstdc++ and kernel headers.
set(LAUNCHER_PPC_SYSROOT /usr/${LAUNCHER_CROSS_TRIPLE})

# Libraries we build for the target ourselves (libi2c, see scripts/stage-libi2c.sh).
if(NOT DEFINED LAUNCHER_PPC_STAGE)
    if(DEFINED ENV{LAUNCHER_PPC_STAGE})
        set(LAUNCHER_PPC_STAGE "$ENV{LAUNCHER_PPC_STAGE}")
    else()
        get_filename_component(LAUNCHER_PPC_STAGE "${CMAKE_CURRENT_LIST_DIR}/../build/ppc-stage" ABSOLUTE)
    endif()
endif()
set(LAUNCHER_PPC_STAGE "${LAUNCHER_PPC_STAGE}" CACHE PATH "Prefix of the libraries staged for the PowerPC target")
# try_compile projects read this file again; they must see the same stage.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LAUNCHER_PPC_STAGE)

set(CMAKE_FIND_ROOT_PATH ${LAUNCHER_PPC_SYSROOT} ${LAUNCHER_PPC_STAGE})
# Target libraries, headers and packages come only from the sysroot and the stage, never from the
# build machine; programs (the emulator, code generators) are the build machine's own.
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# ctest runs the test programs, and gtest_discover_tests lists their tests, through this. -L makes
# the emulator load the target's dynamic loader and shared libraries from the sysroot.
find_program(LAUNCHER_QEMU_PPC qemu-ppc-static)
if(NOT LAUNCHER_QEMU_PPC)
    set(LAUNCHER_QEMU_PPC qemu-ppc-static)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${LAUNCHER_QEMU_PPC} -L ${LAUNCHER_PPC_SYSROOT})
