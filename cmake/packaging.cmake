# What is installed, and the packages made of it: a .tar.gz and a .deb on
# Linux, a .tar.gz elsewhere, a .zip on Windows.  Every package run writes
# SHA256SUMS beside what it made.
include(GNUInstallDirs)
install(TARGETS client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(NOT WIN32)
  install(FILES client.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME client)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The client developers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "client-${PROJECT_VERSION}-win64")
else()
  set(CPACK_GENERATOR TGZ)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    list(APPEND CPACK_GENERATOR DEB)
  endif()
  set(CPACK_PACKAGE_FILE_NAME "client-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
endif()

set(CLIENT_MAINTAINER "The client developers <client@example.org>" CACHE STRING
  "Maintainer named in the Debian package")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CLIENT_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis is the project's description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
client connects to TCP port 5050 at the IPv4 address given on its command
line, takes what one receive delivers (at most 1024 bytes), prints it on
standard output after a fixed label, and exits 0. Every failure prints one
exact line and exits 255. It sends nothing, has no options, no time-out of
its own, and looks up no names.]])
# The static program needs no library at all; a dynamic one needs what
# dpkg-shlibdeps finds.
if(NOT CLIENT_STATIC)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# Debian's names for the target, not the build machine's (cross builds).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()

# CPack dates archive entries by SOURCE_DATE_EPOCH when it is set.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "@CLIENT_SOURCE_DATE_EPOCH@" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "@CLIENT_SOURCE_DATE_EPOCH@")
endif()
]] @ONLY)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/checksums.cmake)

include(CPack)
