# `cpack -G DEB` in a build directory makes one Debian package per install component, each with
# its extended description, /usr/share/doc/<package>/copyright and changelog.gz:
#   boardmill        (cli)          /usr/bin/boardmill, its man page, the README; no Open MPI
#   boardmill-mpi    (mpi)          /usr/bin/boardmill-mpi, for conversions across an MPI job
#   libboardmill1    (library)      the shared library
#   libboardmill-dev (development)  header, libraries to link, pkg-config and CMake files
# Only the components that have install rules become packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME boardmill)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package has a summary of its own, the first line of its description; CPack would put the
# project's description before it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(BOARDMILL_PACKAGE_CONTACT "boardmill maintainers <boardmill@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${BOARDMILL_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)

# dpkg-shlibdeps reads the libraries each binary links (libzstd, liburing, Open MPI for
# boardmill-mpi, the C and C++ runtimes) and names the packages and versions this system has them
# from. Without it (no dpkg-dev), the ones that are not part of every Debian system are named by
# hand.
find_program(BOARDMILL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(BOARDMILL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(BOARDMILL_CLI_LIBRARIES "")
  set(BOARDMILL_MPI_LIBRARIES "")
else()
  set(BOARDMILL_CLI_LIBRARIES "libzstd1, liburing2")
  set(BOARDMILL_MPI_LIBRARIES "libzstd1, liburing2, libopenmpi3")
endif()

set(BOARDMILL_ABOUT "boardmill turns directories of Zstandard-compressed FEN files (one chess
position per line) into 32-byte PackedSfen records, spread over N
Zstandard-compressed shard files, for training chess engines. It converts
sequentially, in parallel with resumable runs, or as a staged pipeline, and
verifies, indexes and decodes the shards it wrote.")

# Each package's description: its summary line, then the text every package shares, then what it
# holds. CPack indents the lines as a control file needs them.
set(BOARDMILL_CLI_SUMMARY "chess position converter to sharded PackedSfen training data")
set(BOARDMILL_CLI_DETAILS "This package holds the command-line tool. It runs on one machine and does not
need MPI; install boardmill-mpi to convert across the ranks of an MPI job.")
set(BOARDMILL_CLI_DEPENDS "${BOARDMILL_CLI_LIBRARIES}")

set(BOARDMILL_MPI_SUMMARY "chess position converter to PackedSfen, MPI flavour")
set(BOARDMILL_MPI_DETAILS "This package holds boardmill-mpi, the same tool linked with Open MPI: started
by mpirun (or another MPI launcher), its parallel conversion spreads the input
over the ranks of the job and writes one set of shards.")
set(BOARDMILL_MPI_DEPENDS "boardmill (= ${PROJECT_VERSION})")
if(BOARDMILL_MPI_LIBRARIES)
  string(APPEND BOARDMILL_MPI_DEPENDS ", ${BOARDMILL_MPI_LIBRARIES}")
endif()
set(CPACK_DEBIAN_MPI_PACKAGE_RECOMMENDS openmpi-bin)

set(BOARDMILL_LIBRARY_SUMMARY "reader and codec of boardmill's PackedSfen shards")
set(BOARDMILL_LIBRARY_DETAILS "This package holds libboardmill, a shared library with a C interface that
encodes and decodes PackedSfen records and reads the shards.")
set(BOARDMILL_LIBRARY_DEPENDS "")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The shlibs file tells packages built against the library which package provides it (CPack
# only writes one when asked for the whole run; packages without a shared library get none), and
# the trigger has ldconfig refresh its cache once after the library is installed or removed.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian-library/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian-library/triggers)

set(BOARDMILL_DEVELOPMENT_SUMMARY "reader and codec of boardmill's PackedSfen shards (development)")
set(BOARDMILL_DEVELOPMENT_DETAILS "This package holds what a program needs to use libboardmill: the header, the
shared and static libraries to link, pkg-config and CMake package files.")
set(BOARDMILL_DEVELOPMENT_DEPENDS "libboardmill1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)

get_cmake_property(BOARDMILL_INSTALL_COMPONENTS COMPONENTS)
set(BOARDMILL_PACKAGES cli boardmill mpi boardmill-mpi library libboardmill1
                       development libboardmill-dev)
while(BOARDMILL_PACKAGES)
  list(POP_FRONT BOARDMILL_PACKAGES component package)
  if(NOT component IN_LIST BOARDMILL_INSTALL_COMPONENTS)
    continue()
  endif()
  string(TOUPPER ${component} key)
  set(CPACK_DEBIAN_${key}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${key}_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_${key}_DESCRIPTION
      "${BOARDMILL_${key}_SUMMARY}\n${BOARDMILL_ABOUT}\n\n${BOARDMILL_${key}_DETAILS}")
  set(CPACK_DEBIAN_${key}_PACKAGE_DEPENDS "${BOARDMILL_${key}_DEPENDS}")
  boardmill_install_package_documents(${package} ${component})
endwhile()

include(CPack)
