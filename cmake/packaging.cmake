# What is installed, and the one package that a build makes.  CLIENT_PACKAGE
# chooses the package:
#   archive  client-<v>-<system>-<cpu>.tar.gz, or client-<v>-win64.zip: the
#            program, the README and the licence.  On Linux also the manual
#            page, and beside a static program the notice of the C library
#            that it holds.
#   deb      client_<v>_<arch>.deb, by Debian's rules: the licence as a
#            machine-readable copyright file, changelog.gz, the manual page
#            compressed, Depends from dpkg-shlibdeps.
# Packages go to dist/ in the source folder.
include(GNUInstallDirs)

# project() gives the version.  The manual page and the Debian changelog
# must name the same one.
file(STRINGS client.1 manual_os REGEX "^\\.Os ")
string(REGEX REPLACE "^\\.Os client " "" manual_version "${manual_os}")
file(STRINGS packaging/debian/changelog changelog_entries REGEX "^client \\(")
list(GET changelog_entries 0 newest_entry)
string(REGEX REPLACE "^client \\(([^)]*)\\).*" "\\1" changelog_version "${newest_entry}")
if(NOT manual_version STREQUAL PROJECT_VERSION OR NOT changelog_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "The files that name the version disagree:\n"
    "  CMakeLists.txt, project(): ${PROJECT_VERSION}\n"
    "  client.1, .Os: ${manual_version}\n"
    "  packaging/debian/changelog, the newest entry: ${changelog_version}\n"
    "A new version goes in all three (HACKING.md, \"Checklist: a new version\").")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS client.1 packaging/debian/changelog)

install(TARGETS client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(CLIENT_PACKAGE STREQUAL "deb")
  # gzip -n leaves the file's name and time out of the header.
  foreach(source IN ITEMS packaging/debian/changelog client.1)
    cmake_path(GET source FILENAME name)
    add_custom_command(OUTPUT ${name}.gz
      COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${name}.gz
      DEPENDS ${source} VERBATIM)
  endforeach()
  add_custom_target(compressed_documents ALL DEPENDS changelog.gz client.1.gz)
  install(FILES packaging/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_BINARY_DIR}/client.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  if(NOT WIN32)
    install(FILES client.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  if(CLIENT_STATIC AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # The static program holds the C library.  Its licence, the LGPL, asks
    # that the program's users learn which library it is and where its
    # source is.
    file(WRITE ${PROJECT_BINARY_DIR}/glibc_version.cpp "#include <features.h>\nglibc __GLIBC__ __GLIBC_MINOR__\n")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -E -P ${PROJECT_BINARY_DIR}/glibc_version.cpp
      OUTPUT_VARIABLE preprocessed COMMAND_ERROR_IS_FATAL ANY)
    if(NOT preprocessed MATCHES "glibc ([0-9]+) ([0-9]+)")
      message(FATAL_ERROR "CLIENT_STATIC: no GNU C library found (${preprocessed})")
    endif()
    set(glibc_version ${CMAKE_MATCH_1}.${CMAKE_MATCH_2})
    # Where dpkg knows the library, the notice also names the distribution's
    # glibc source package.  A cross toolchain's library comes from another
    # source package, which names the glibc that it was built with.
    set(glibc_distribution_source "")
    find_program(DPKG_QUERY dpkg-query)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.a OUTPUT_VARIABLE libc OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(DPKG_QUERY AND IS_ABSOLUTE "${libc}")
      file(REAL_PATH "${libc}" libc)
      execute_process(COMMAND ${DPKG_QUERY} --search ${libc} OUTPUT_VARIABLE owner ERROR_QUIET)
      if(owner MATCHES "^([^:]+(:[^:]+)?): ")
        execute_process(COMMAND ${DPKG_QUERY} --show
          "--showformat=\${source:Package} \${source:Version}\n\${Built-Using}" ${CMAKE_MATCH_1}
          OUTPUT_VARIABLE source_packages ERROR_QUIET)
        if(source_packages MATCHES "^(glibc [^\n]+)")
          set(glibc_source_package "${CMAKE_MATCH_1}")
        elseif(source_packages MATCHES "^([^\n]+)\n(.*, )?glibc \\(= ([^)]+)\\)")
          set(glibc_source_package "glibc ${CMAKE_MATCH_3},\nthrough ${CMAKE_MATCH_1}")
        else()
          message(FATAL_ERROR "CLIENT_STATIC: dpkg names no glibc source package for ${libc}: ${source_packages}")
        endif()
        set(glibc_distribution_source
          "\nThe build used the library as patched and built by the distribution,\nfrom its source package ${glibc_source_package}.\n")
      endif()
    endif()
    configure_file(packaging/glibc-notice.in NOTICE @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/NOTICE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()

set(CPACK_PACKAGE_NAME client)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The client developers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
if(CLIENT_PACKAGE STREQUAL "deb")
  set(CPACK_GENERATOR DEB)
elseif(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "client-${PROJECT_VERSION}-win64")
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME "client-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
endif()

set(CLIENT_MAINTAINER "The client developers <client@example.org>" CACHE STRING
  "Maintainer named in the Debian package")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CLIENT_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  # The target's libraries, where Debian's cross toolchains keep them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_FIND_ROOT_PATH}/lib)
endif()
# The synopsis is the project's description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
client connects to TCP port 5050 at the IPv4 address given on its command
line, takes what one receive delivers (at most 1024 bytes), prints it on
standard output after a fixed label, and exits 0; on any failure it exits
255. On a terminal, it shows the control characters of what it prints
instead of passing them to the terminal. It sends nothing, has no options,
no time-out of its own, and looks up no names.]])
# Debian's name for the target's architecture.  CPack would name the build
# machine's, which is wrong for a cross build.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()

# CPack dates what it packs by SOURCE_DATE_EPOCH, where it is set.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "@CLIENT_SOURCE_DATE_EPOCH@" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "@CLIENT_SOURCE_DATE_EPOCH@")
endif()
]] @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_folders.cmake)
# For cmake/reproducible_packages.cmake, which writes the archives again.
find_package(Python3 3.8 COMPONENTS Interpreter)
set(CPACK_CLIENT_PYTHON "${Python3_EXECUTABLE}")
set(CPACK_CLIENT_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/reproducible_packages.cmake)

include(CPack)
