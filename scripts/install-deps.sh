#!/usr/bin/env bash
# Installs the Debian packages boardmill builds and tests with; does nothing when all are there.
set -euo pipefail

# dpkg-dev and file: `cpack -G DEB` reads the binary's library dependencies with dpkg-shlibdeps;
# lintian checks the packages it makes. strace: the durability tests read the order of sync and
# rename calls from a trace. python3-setuptools, -venv and -pip: the Python package is built and
# installed offline in a test.
packages=(cmake ninja-build g++ pkg-config libzstd-dev liburing-dev libxxhash-dev nlohmann-json3-dev
  libgtest-dev libbenchmark-dev zstd strace libopenmpi-dev openmpi-bin dpkg-dev file lintian
  python3 python3-zstandard python3-numpy python3-xxhash
  python3-setuptools python3-venv python3-pip)
if [[ "${1:-}" == "--with-clang" ]]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
