# SPDX-License-Identifier: MIT
# systemd units for a standing pacelag server and for the metrics exporter,
# with the defaults files they read. Installed with the programs (component
# "tool", so in the pacelag package), never enabled by the installation.
# Debian bookworm keeps the units of /usr packages in /lib/systemd/system;
# other prefixes get <prefix>/lib/systemd/system, which systemd also reads.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(PACELAG_UNIT_DIR /lib/systemd/system)
else()
  set(PACELAG_UNIT_DIR lib/systemd/system)
endif()
# /etc/default for /usr (GNUInstallDirs' own rule), <prefix>/etc/default else.
set(PACELAG_DEFAULTS_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default)
set(PACELAG_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})

foreach(unit pacelag-server.service pacelag-watch@.service)
  configure_file(${PROJECT_SOURCE_DIR}/dist/${unit}.in ${PROJECT_BINARY_DIR}/dist/${unit} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/dist/${unit} DESTINATION ${PACELAG_UNIT_DIR} COMPONENT tool)
endforeach()
foreach(name pacelag-server pacelag-watch)
  install(FILES ${PROJECT_SOURCE_DIR}/dist/${name}.default DESTINATION ${PACELAG_DEFAULTS_DIR}
    RENAME ${name} COMPONENT tool)
endforeach()

# Files under /etc are the administrator's: dpkg keeps their changes on
# upgrade when the package lists them as conffiles.
if(PACELAG_DEFAULTS_DIR MATCHES "^/etc/")
  file(WRITE ${PROJECT_BINARY_DIR}/dist/conffiles
    "${PACELAG_DEFAULTS_DIR}/pacelag-server\n${PACELAG_DEFAULTS_DIR}/pacelag-watch\n")
  set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/dist/conffiles)
endif()
