# The Debian package: `cpack -G DEB` in the build folder makes korvalo_<version>_<arch>.deb from
# the install rules. Its dependencies are worked out from the installed program by dpkg-shlibdeps
# (package dpkg-dev).
set(KORVALO_MAINTAINER "Korvalo maintainers <maintainers@korvalo.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

# The package's revision of the release, counted apart from Korvalo's version so that a package
# made again (a fixed dependency, a fixed description) can be told apart. With a revision the
# package's changelog is changelog.Debian.gz.
set(KORVALO_DEBIAN_RELEASE 1)
set(korvalo_deb_version "${PROJECT_VERSION}-${KORVALO_DEBIAN_RELEASE}")

# Files made from a source for the package, compressed as Debian wants them: gzip -9, and -n so
# that no name or time stamp is stored and the same sources always give the same bytes.
set(korvalo_gzipped)
function(korvalo_gzip source output destination)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "gzip -n -9 -c \"$1\" >\"$2\"" sh ${source} ${output}
    DEPENDS ${source} VERBATIM)
  set(korvalo_gzipped ${korvalo_gzipped} ${output} PARENT_SCOPE)
  install(FILES ${output} DESTINATION ${destination})
endfunction()

# The changelog's latest entry is the package's version and date: packaging a new version
# without a changelog entry for it stops here. The manual pages carry that date, not the day of
# the build.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog korvalo_changelog)
list(GET korvalo_changelog 0 korvalo_changelog_head)
string(FIND "${korvalo_changelog_head}" "korvalo (${korvalo_deb_version}) " korvalo_at)
if(NOT korvalo_at EQUAL 0)
  message(FATAL_ERROR "cmake/changelog: the latest entry is not for ${korvalo_deb_version}: "
                      "\"${korvalo_changelog_head}\"")
endif()
list(FILTER korvalo_changelog INCLUDE REGEX "^ -- ")
list(GET korvalo_changelog 0 korvalo_changelog_trailer)
if(NOT korvalo_changelog_trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "cmake/changelog: no date in \"${korvalo_changelog_trailer}\"")
endif()
set(korvalo_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND korvalo_months ${CMAKE_MATCH_2} korvalo_month)
math(EXPR korvalo_month "${korvalo_month} + 1" OUTPUT_FORMAT DECIMAL)
if(korvalo_month LESS 10)
  set(korvalo_month "0${korvalo_month}")
endif()
set(KORVALO_MAN_DATE "${CMAKE_MATCH_3}-${korvalo_month}-${CMAKE_MATCH_1}")

set(korvalo_doc ${PROJECT_BINARY_DIR}/doc)
korvalo_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog ${korvalo_doc}/changelog.Debian.gz
             ${CMAKE_INSTALL_DATADIR}/doc/korvalo)

# The manual pages of both programs, in English and in Simplified Chinese.
foreach(lang IN ITEMS en zh_CN)
  if(lang STREQUAL en)
    set(lang_dir "")
  else()
    set(lang_dir "/${lang}")
  endif()
  foreach(page IN ITEMS korvalo korvalo-cli)
    set(page_dir ${korvalo_doc}/man${lang_dir}/man1)
    configure_file(${PROJECT_SOURCE_DIR}/data/man${lang_dir}/${page}.1.in ${page_dir}/${page}.1
                   @ONLY)
    korvalo_gzip(${page_dir}/${page}.1 ${page_dir}/${page}.1.gz
                 ${CMAKE_INSTALL_MANDIR}${lang_dir}/man1)
  endforeach()
endforeach()
add_custom_target(korvalo_doc ALL DEPENDS ${korvalo_gzipped})

# The lintian tags that do not apply to this package, each with its reason.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME korvalo)

# Korvalo is under GPL-3.0-or-later. A Debian package declares its licence in a machine-readable
# copyright file beside its docs.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvalo)

set(CPACK_PACKAGE_NAME korvalo)
set(CPACK_PACKAGE_VENDOR "Korvalo")
set(CPACK_PACKAGE_CONTACT "${KORVALO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shuffle music for players that play in name order")
# lintian wants every line of the long description within 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Many car stereos and simple players play the files of a USB stick or SD card
in name order. Korvalo puts a random four-digit number in front of the name of
every MP3 and FLAC file in a folder, so that name order becomes a random order,
and can take those digits off again. It only ever renames the music files of
the chosen folder, and never lets a rename replace a file.
.
The package holds the window, korvalo, and korvalo-cli for scripts.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/COPYING")
set(CPACK_RPM_PACKAGE_LICENSE "GPL-3.0-or-later")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KORVALO_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Simplified Chinese; without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)

include(CPack)
