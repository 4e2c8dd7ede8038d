# SPDX-License-Identifier: MIT
# Debian packages built by CPack (`make deb`): "pacelag" with the programs and
# man pages, "libpacelag-util-dev" with the headers, the library, the CMake
# package and the pkg-config file. A shared build adds "libpacelag-util1" with
# the runtime library that the -dev package then depends on.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pacelag)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "pacelag developers")
set(CPACK_PACKAGE_CONTACT "pacelag developers <pacelag@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL dev)
if(TARGET pacelag)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
if(BUILD_SHARED_LIBS)
  list(APPEND CPACK_COMPONENTS_ALL lib)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(PACELAG_DEB_VERSION "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

# Each description's first line is its package's synopsis. (CPack would put a
# CPACK_PACKAGE_DESCRIPTION_SUMMARY before all of them, so none is set.)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME pacelag)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
# pacelag-lab drives ip and tc and inlines Chart.js into its reports; pacelag
# itself needs neither.
set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS "iproute2, libjs-chart.js")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "TCP client and server that show how socket buffers delay requests
pacelag runs as a server or as a client; both pace small time-stamped test
messages at a given rate, so that one can see how much data the kernel's
socket buffers queue and how stale requests become. pacelag-lab watches its
connections through the kernel's socket diagnostics and runs experiments.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libpacelag-util-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "pacelag utility library - development files
A procedural C++17 utility library: an associative array with builders from
command lines, INI and HTML text, template key substitution, and helpers for
texts, numbers, sockets, threads, IPv4/IPv6 addresses, URLs, dates and files.
This package holds the headers, the library, the CMake package (pacelag::util)
and the pkg-config file (pacelag_util).")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libpacelag-util${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIB_DESCRIPTION
  "pacelag utility library - shared library
A procedural C++17 utility library of texts, numbers, addresses, dates and
files. This package holds the shared library.")

# What a program built against the development package needs: the C library's
# and the C++ library's development files, the latter as the package that holds
# the libstdc++ this compiler links (libstdc++-12-dev on Debian 12).
set(PACELAG_DEV_DEPENDS "libc6-dev")
find_program(PACELAG_DPKG_QUERY dpkg-query)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so
  OUTPUT_VARIABLE libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(PACELAG_STDCXX_DEV "")
if(PACELAG_DPKG_QUERY AND IS_ABSOLUTE "${libstdcxx}")
  get_filename_component(libstdcxx "${libstdcxx}" ABSOLUTE) # no "..", links kept
  execute_process(COMMAND ${PACELAG_DPKG_QUERY} -S "${libstdcxx}"
    OUTPUT_VARIABLE owner OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(owner MATCHES "^(libstdc\\+\\+-[0-9]+-dev)[:,]")
    set(PACELAG_STDCXX_DEV "${CMAKE_MATCH_1} | ")
  endif()
endif()
string(APPEND PACELAG_DEV_DEPENDS ", ${PACELAG_STDCXX_DEV}libstdc++-dev")
if(BUILD_SHARED_LIBS)
  string(PREPEND PACELAG_DEV_DEPENDS
    "${CPACK_DEBIAN_LIB_PACKAGE_NAME} (= ${PACELAG_DEB_VERSION}), ")
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${PACELAG_DEV_DEPENDS}")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "cmake, pkgconf | pkg-config")

# Debian's documentation files in every package, and the tidying of the staged
# files (compressed manual pages, no unneeded sections, conffiles).
include(${PROJECT_SOURCE_DIR}/cmake/PacelagDebianDocs.cmake)
pacelag_debian_docs(dev ${CPACK_DEBIAN_DEV_PACKAGE_NAME})
if(TARGET pacelag)
  pacelag_debian_docs(tool ${CPACK_DEBIAN_TOOL_PACKAGE_NAME})
endif()
if(BUILD_SHARED_LIBS)
  pacelag_debian_docs(lib ${CPACK_DEBIAN_LIB_PACKAGE_NAME})
endif()
find_program(PACELAG_GZIP gzip REQUIRED)
set(CPACK_PACELAG_GZIP ${PACELAG_GZIP})
set(CPACK_PACELAG_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PacelagDebTidy.cmake)

include(CPack)
