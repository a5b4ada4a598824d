# `cpack -G DEB` in a build directory makes boardmill_<version>_<arch>.deb from the install rules:
# /usr/bin/boardmill, its man page and the README.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME boardmill)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(BOARDMILL_PACKAGE_CONTACT "boardmill maintainers <boardmill@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${BOARDMILL_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)

# dpkg-shlibdeps reads the libraries the binary links (libzstd, liburing, the C and C++ runtimes)
# and names the packages and versions this system has them from. Without it (no dpkg-dev), the
# two that are not part of every Debian system are named by hand.
find_program(BOARDMILL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(BOARDMILL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libzstd1, liburing2")
endif()

include(CPack)
