# SPDX-License-Identifier: MIT
# systemd units for a standing pacelag server and for the metrics exporter,
# with the defaults files they read. Installed with the programs (component
# "tool", so in the pacelag package), never enabled by the installation.
#
# Where they go and the paths inside them follow the prefix they are
# installed under, known only at install time: `make install` uses PREFIX,
# the Debian package /usr whatever this build was configured with. Under /usr
# the units go to /lib/systemd/system (Debian bookworm's place for those of
# /usr packages) and the defaults files to /etc/default; under another
# prefix to <prefix>/lib/systemd/system (which systemd also reads) and
# <prefix>/etc/default.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(prefix STREQUAL \"/usr\")
    set(unitdir /lib/systemd/system)
    set(PACELAG_DEFAULTS_DIR /etc/default)
  else()
    set(unitdir \"\${prefix}/lib/systemd/system\")
    set(PACELAG_DEFAULTS_DIR \"\${prefix}/etc/default\")
  endif()
  set(PACELAG_BINDIR \"\${prefix}/${CMAKE_INSTALL_BINDIR}\")
  foreach(unit pacelag-server.service pacelag-watch@.service)
    configure_file(\"${PROJECT_SOURCE_DIR}/dist/\${unit}.in\"
      \"${PROJECT_BINARY_DIR}/dist/install/\${unit}\" @ONLY)
    file(INSTALL \"${PROJECT_BINARY_DIR}/dist/install/\${unit}\" DESTINATION \"\${unitdir}\")
  endforeach()
  foreach(name pacelag-server pacelag-watch)
    file(INSTALL \"${PROJECT_SOURCE_DIR}/dist/\${name}.default\"
      DESTINATION \"\${PACELAG_DEFAULTS_DIR}\" RENAME \${name})
  endforeach()
" COMPONENT tool)
