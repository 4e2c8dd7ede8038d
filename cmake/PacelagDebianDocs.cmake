# SPDX-License-Identifier: MIT
# The files every Debian package carries in /usr/share/doc/<package>: a
# machine-readable copyright file, whose licence text is taken from LICENSE,
# and changelog.Debian.gz, made from CHANGELOG.md. `make install` puts them in
# the same places. Needs the package names (PacelagPackaging.cmake).

# copyright: the Expat licence is Debian's name for what SPDX calls MIT.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(FIND "${licence}" "Permission is hereby granted" start)
if(start LESS 0)
  message(FATAL_ERROR "LICENSE does not hold the MIT licence text")
endif()
string(SUBSTRING "${licence}" ${start} -1 licence)
string(STRIP "${licence}" licence)
# Each line of the text indented by one blank, an empty line written as " .".
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence "${licence}")
set(PACELAG_COPYRIGHT
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: pacelag
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: 2026 The pacelag developers
License: Expat

License: Expat
 ${licence}
")
file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright "${PACELAG_COPYRIGHT}")

# changelog.Debian.gz: the released versions of CHANGELOG.md. Made again when
# CHANGELOG.md changes (cmake then configures again).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/scripts/debian-changelog.sh)
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md released
  REGEX "^## \\[${PROJECT_VERSION}\\] - [0-9]+-[0-9]+-[0-9]+$")
if(NOT released)
  message(WARNING "CHANGELOG.md has no dated section for version ${PROJECT_VERSION}: "
                  "the packages' changelog will not name the version they carry")
endif()

# pacelag_debian_docs(<component> <package name>)
function(pacelag_debian_docs component package)
  set(dir ${PROJECT_BINARY_DIR}/debian/${package})
  file(MAKE_DIRECTORY ${dir})
  execute_process(
    COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/debian-changelog.sh
            ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${package} ${CPACK_DEBIAN_PACKAGE_RELEASE}
            "${CPACK_PACKAGE_CONTACT}" ${dir}/changelog.Debian.gz
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "changelog.Debian.gz for ${package} not made: ${err}")
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${dir}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()
