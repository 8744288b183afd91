#!/usr/bin/env bash
# Installs zorvane with its test dependencies into .venv and runs every test:
# the C++ core through CTest, then the Python module through pytest.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
cd "$ZORVANE_ROOT"

# GoogleTest for the C++ tests comes from Debian.
if [ ! -f /usr/include/gtest/gtest.h ]; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq libgtest-dev >/dev/null
fi

"$PY" -m pip install -q cmake ninja
"$PY" -m pip install -q "$ZORVANE_ROOT[test]"

echo "== C++ core (CTest)"
cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
      -DZORVANE_BUILD_MODULE=OFF -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build build/cpp
ctest --test-dir build/cpp --output-on-failure -j2

echo "== Python module (pytest)"
# Run from the tests folder so that the installed module, not the source tree, is imported.
"$PY" -m pytest -q tests/python
