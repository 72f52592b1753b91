# The Debian package: `cpack -G DEB` in the build folder makes korvalo_<version>_<arch>.deb from
# the install rules. Its dependencies are worked out from the installed program by dpkg-shlibdeps
# (package dpkg-dev).
set(KORVALO_MAINTAINER "Korvalo maintainers <maintainers@korvalo.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

# Korvalo is under GPL-3.0-or-later. A Debian package declares its licence in a machine-readable
# copyright file beside its docs.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvalo)

set(CPACK_PACKAGE_NAME korvalo)
set(CPACK_PACKAGE_VENDOR "Korvalo")
set(CPACK_PACKAGE_CONTACT "${KORVALO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shuffle music for players that play in name order")
set(CPACK_PACKAGE_DESCRIPTION
    "Many car stereos and simple players play the files of a USB stick or SD card in name
order. Korvalo puts a random four-digit number in front of the name of every MP3 and FLAC
file in a folder, so that name order becomes a random order, and can take those digits off
again. It only ever renames the music files of the chosen folder, and never lets a rename
replace a file.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/COPYING")
set(CPACK_RPM_PACKAGE_LICENSE "GPL-3.0-or-later")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Simplified Chinese; without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)

include(CPack)
