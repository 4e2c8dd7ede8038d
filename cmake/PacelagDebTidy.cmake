# SPDX-License-Identifier: MIT
# Run by cpack between staging the installed files and building the Debian
# packages, over whatever the install rules put there, so that files added by
# later install rules get the same treatment:
# - manual pages are compressed with gzip -9n (no name, no time stamp);
# - programs, shared and static libraries lose the .comment and .note sections
#   and static libraries their debugging information, as dh_strip does;
# - files under etc/ are listed as conffiles, so dpkg keeps a user's edits;
# - each package gets its lintian overrides (see the end).
# Settings come from the CPack configuration: CPACK_PACELAG_STRIP and
# CPACK_PACELAG_GZIP name the programs.

set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${stage}/*")

function(pacelag_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "packaging step failed: ${ARGN}: ${err}")
  endif()
endfunction()

foreach(path ${staged})
  if(IS_SYMLINK "${path}")
    continue()
  endif()
  if(path MATCHES "/share/man/[^/]+/[^/]+\\.[0-9][a-z]*$")
    pacelag_run(${CPACK_PACELAG_GZIP} -9nf "${path}")
    continue()
  endif()
  file(READ "${path}" magic LIMIT 8 HEX)
  if(magic MATCHES "^7f454c46") # ELF: program or shared library
    if(CPACK_PACELAG_STRIP)
      pacelag_run(${CPACK_PACELAG_STRIP} --remove-section=.comment --remove-section=.note
                  "${path}")
    endif()
  elseif(magic STREQUAL "213c617263683e0a") # "!<arch>\n": static library
    if(CPACK_PACELAG_STRIP)
      pacelag_run(${CPACK_PACELAG_STRIP} --strip-debug --remove-section=.comment
                  --remove-section=.note --enable-deterministic-archives "${path}")
    endif()
  endif()
endforeach()

# Files under etc/ are listed as conffiles of their component's package. The
# DEB generator reads its settings after this script, in the same cpack run.
file(GLOB components LIST_DIRECTORIES true "${stage}/*")
foreach(dir ${components})
  if(NOT IS_DIRECTORY "${dir}")
    continue()
  endif()
  file(GLOB_RECURSE etcfiles LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/etc/*")
  if(NOT etcfiles)
    continue()
  endif()
  get_filename_component(component "${dir}" NAME)
  string(TOUPPER "${component}" upper)
  list(SORT etcfiles)
  string(REPLACE ";" "\n/" lines "/${etcfiles}")
  set(list "${CPACK_TOPLEVEL_DIRECTORY}/pacelag-control/${component}/conffiles")
  file(WRITE "${list}" "${lines}\n")
  list(APPEND CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA "${list}")
endforeach()

# lintian asks a package whose changelog has one entry to close the ITP bug of
# its first upload to Debian's archive. These packages are not uploaded there,
# so there is no such bug; the override says so in each package.
foreach(dir ${components})
  if(NOT IS_DIRECTORY "${dir}")
    continue()
  endif()
  get_filename_component(component "${dir}" NAME)
  string(TOUPPER "${component}" upper)
  set(package "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}")
  if(package)
    file(WRITE "${dir}/usr/share/lintian/overrides/${package}"
      "# Built outside Debian's archive: there is no ITP bug to close.\n"
      "${package}: initial-upload-closes-no-bugs\n")
  endif()
endforeach()
