#!/bin/sh
# Installs the Python package into a fresh virtual environment, offline, the way its README
# says, and runs its tests there against the library of this build. Exits 77 (a skip for ctest)
# when the interpreter cannot make a virtual environment with pip. The environment sees the
# system's packages, numpy and pip among them, so it needs no pip of its own.
# Usage: check_package_install.sh PYTHON SOURCE_DIR LIBRARY BOARDMILL_BINARY SAMPLE_DATA_DIR
set -eu
python=$1 source=$2 library=$3 boardmill=$4 sample=$5
scratch=$(mktemp -d "${TMPDIR:-/tmp}/boardmill-python-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

if ! "$python" -m venv --system-site-packages --without-pip "$scratch/venv" >/dev/null 2>&1 ||
  ! "$scratch/venv/bin/python" -m pip --version >/dev/null 2>&1; then
  echo "skipped: $python cannot make a virtual environment with pip (python3-venv, python3-pip)"
  exit 77
fi
# A copy, so that the build leaves nothing in the sources; the version comes from CMakeLists.txt.
mkdir "$scratch/source"
cp -r "$source/python" "$source/CMakeLists.txt" "$scratch/source/"
"$scratch/venv/bin/python" -m pip install --quiet --no-index --no-cache-dir --no-build-isolation \
  "$scratch/source/python"

cd "$scratch"
BOARDMILL_LIBRARY=$library "$scratch/venv/bin/python" "$source/tests/python/test_boardmill_package.py" \
  "$boardmill" "$sample"
