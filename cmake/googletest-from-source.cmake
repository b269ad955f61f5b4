# GoogleTest and GoogleMock for a cross build: no package of them exists for the target, so they are
# built as part of the project from the sources that Debian's googletest package installs. The
# targets keep the names that find_package(GTest) gives on the host.
set(LAUNCHER_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
if(NOT EXISTS ${LAUNCHER_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${LAUNCHER_GOOGLETEST_SOURCE} (install the googletest package)")
endif()

set(BUILD_GMOCK ON)
set(INSTALL_GTEST OFF)
# SYSTEM: our warnings-as-errors must not apply to its headers, as on the host, where they come from
# /usr/include.
add_subdirectory(${LAUNCHER_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

foreach(target gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${target})
        add_library(GTest::${target} ALIAS ${target})
    endif()
endforeach()
