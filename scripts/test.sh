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

echo "== Worker pool and models under ThreadSanitizer"
# The pool's test programs and the models' (which map the disk, ring and
# integrated forms over the pool) are built and run with the sanitizer; any
# race report fails the run. The models run on four workers, so that pieces
# really run concurrently whatever the number of CPUs.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
      -DZORVANE_BUILD_MODULE=OFF -DZORVANE_SANITIZE=thread -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build build/tsan -j2 --target test_parallel_map test_parallel_pool_size test_models
for t in test_parallel_map test_parallel_pool_size; do
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/$t --gtest_brief=1
done
RAYON_NUM_THREADS=4 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/test_models --gtest_brief=1

echo "== Python module (pytest)"
# Run from the tests folder so that the installed module, not the source tree, is imported.
"$PY" -m pytest -q tests/python

# --- Second build under AddressSanitizer + UndefinedBehaviorSanitizer --------
bash scripts/test_sanitizers.sh

echo "== Fuzzing the numeric core (libFuzzer)"
# clang and the libFuzzer runtime come from Debian: clang-19, because clang 14
# and 16 cannot compile libstdc++ 12's <expected>. fuzz/run.sh replays the kept
# inputs, then fuzzes each target for its share of 60 s.
if ! command -v clang++-19 >/dev/null ||
   ! compgen -G "/usr/lib/llvm-19/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-19 libclang-rt-19-dev >/dev/null
fi
bash fuzz/run.sh
