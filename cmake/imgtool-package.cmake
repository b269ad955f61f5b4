# imgtool for a technician's laptop: a Debian package and a tarball of the same files, both made by
# CPack from the tools component of one build (the tools preset: cmake --workflow --preset tools).
# The tarball is for a laptop without dpkg; its imgtool, linked statically, runs there all the same.
# It holds bin/ and share/ with no directory above them, so that it unpacks into a prefix as it is
# (tar -xzf imgtool-...tar.gz -C ~/.local).

set(LAUNCHER_PACKAGE_MAINTAINER "Launcher developers <launcher-developers@example.com>"
    CACHE STRING "The Maintainer of the imgtool package: whom its users write to")

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME imgtool)
set(CPACK_PACKAGE_CONTACT "${LAUNCHER_PACKAGE_MAINTAINER}")
set(CPACK_COMPONENTS_ALL tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
# The symbols are of no use on a laptop.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME imgtool)
# imgtool_<version>_amd64.deb
set(CPACK_DEBIAN_TOOLS_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
# imgtool app runs them to make application archives; linked statically, imgtool needs no library.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "xz-utils, tar, gzip")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION [[host tool of the switch module's launcher
imgtool makes and checks the launcher's image records, download files, 64 MiB flash images,
boot-loader environment blocks and application archives, and does the rescue download onto
switch modules over their serial lines with XMODEM-1K (imgtool send).]])

set(CPACK_ARCHIVE_TOOLS_FILE_NAME imgtool-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})

include(CPack)
