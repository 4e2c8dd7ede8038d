# SPDX-License-Identifier: MIT
# Install rules: the programs and man pages (component "tool"), and the library
# as a package others build on (component "dev": headers, library, CMake
# package, pkg-config file; "lib": the shared library's runtime files).
# Paths follow GNUInstallDirs, so distributions get their own layout.
include(CMakePackageConfigHelpers)

set(PACELAG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/pacelag)

# Other programs (src/lab) install themselves; install() without a component
# puts them into "tool" as well (CMAKE_INSTALL_DEFAULT_COMPONENT_NAME).
if(TARGET pacelag)
  install(TARGETS pacelag RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()

install(FILES ${PACELAG_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

# bash completion, one file per program, named after it, where bash-completion
# looks for it.
foreach(program pacelag pacelag-lab)
  if(TARGET ${program})
    install(FILES ${PROJECT_SOURCE_DIR}/dist/completions/${program}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions COMPONENT tool)
  endif()
endforeach()

install(TARGETS ${PACELAG_UTIL_TARGET} EXPORT pacelagTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/pacelag ${PROJECT_BINARY_DIR}/include/pacelag
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
  FILES_MATCHING PATTERN "*.h")
install(EXPORT pacelagTargets NAMESPACE pacelag:: DESTINATION ${PACELAG_CMAKE_DIR}
  COMPONENT dev)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pacelagConfig.cmake.in
  ${PROJECT_BINARY_DIR}/pacelagConfig.cmake INSTALL_DESTINATION ${PACELAG_CMAKE_DIR})
# A new major version may change the library's interface; a newer minor one
# only adds to it.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/pacelagConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/pacelagConfig.cmake
  ${PROJECT_BINARY_DIR}/pacelagConfigVersion.cmake
  DESTINATION ${PACELAG_CMAKE_DIR} COMPONENT dev)

set(PACELAG_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH PACELAG_PC_TO_PREFIX /prefix/${PACELAG_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" PACELAG_PC_TO_PREFIX "${PACELAG_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/pacelag_util.pc.in
  ${PROJECT_BINARY_DIR}/pacelag_util.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pacelag_util.pc DESTINATION ${PACELAG_PKGCONFIG_DIR}
  COMPONENT dev)
