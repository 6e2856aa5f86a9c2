# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# CPack's Debian package: zelk_<version>_<arch>.deb, its dependencies found
# by dpkg-shlibdeps from the programs' libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZELK developers")
set(CPACK_PACKAGE_CONTACT "${ZELK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's faces: Liberation Sans stands in for the Windows ones, DejaVu
# has the Cyrillic letters when it is missing.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "uploader for the ZELK network controller of a Vector-06C")
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ZELK sends a program file of up to 65,535 bytes from a PC over a serial port
to the ZELK network controller of a Vector-06C computer, which asks for
every 36-byte packet and checks its sum.
.
The package has the window program zelk (Qt 6), the command-line uploader
zelk-upload for scripts and makefiles, and zelk-emu, an emulated controller
on a pseudo-terminal for trying an upload without the hardware.")
# cpack runs with SOURCE_DATE_EPOCH set to the build's, which clamps the
# archive members' times.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT "set(ENV{SOURCE_DATE_EPOCH} \"${ZELK_SOURCE_DATE_EPOCH}\")\n")
include(CPack)
