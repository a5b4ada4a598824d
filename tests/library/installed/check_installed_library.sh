#!/bin/sh
# Installs the build into a scratch prefix and builds a C program against it three ways: with
# pkg-config against the shared library, with pkg-config --static against libboardmill.a, and
# with CMake's find_package(boardmill). Each one reads the sample conversion.
# Usage: check_installed_library.sh BUILD_DIR BOARDMILL_BINARY SAMPLE_DATA_DIR VERSION
set -eu
build=$1 boardmill=$2 sample=$3 version=$4
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/boardmill-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
"$boardmill" convert "$sample" "$scratch/out" --shards 3 --min-free-space-gib 0 >/dev/null
pc=$(find "$scratch/prefix" -name boardmill.pc)
export PKG_CONFIG_PATH="$(dirname "$pc")"
libdir=$(pkg-config --variable=libdir boardmill)

cc -std=c99 -Wall -Wextra -Werror -o "$scratch/shared_reader" "$here/installed_library_reader.c" \
  $(pkg-config --cflags --libs boardmill)
LD_LIBRARY_PATH="$libdir" "$scratch/shared_reader" "$scratch/out" "$version"

# The archive comes first, so libboardmill.so is not needed and --as-needed drops it: the
# program runs without a library path only if the archive holds everything it calls.
cc -std=c99 -Wall -Wextra -Werror -o "$scratch/static_reader" "$here/installed_library_reader.c" \
  $(pkg-config --cflags boardmill) -Wl,--as-needed "$libdir/libboardmill.a" \
  $(pkg-config --static --libs boardmill)
"$scratch/static_reader" "$scratch/out" "$version"

cmake -S "$here/cmake_consumer" -B "$scratch/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
"$scratch/consumer/installed_library_reader" "$scratch/out" "$version"
