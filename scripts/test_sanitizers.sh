#!/usr/bin/env bash
# Second build of zorvane with AddressSanitizer and UndefinedBehaviorSanitizer:
# the core and every C++ test through CTest, then the Python extension,
# installed into its own virtual environment (.venv-asan, so the normal .venv
# and wheel build stay untouched), under the whole pytest suite. Any report
# fails the run: ASan stops at its first error, and undefined behaviour is
# built not to recover.
set -euo pipefail
export ZORVANE_VENV=${ZORVANE_ASAN_VENV:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/.venv-asan}
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
cd "$ZORVANE_ROOT"

[ -f /usr/include/gtest/gtest.h ] || apt_install libgtest-dev
"$PY" -m pip install -q cmake ninja

LIBASAN=$(g++ -print-file-name=libasan.so)
if [ ! -f "$LIBASAN" ]; then
    echo "error: g++ has no AddressSanitizer runtime (libasan.so)" >&2
    exit 1
fi

# What the sanitized runs use:
# - detect_leaks=0: CPython keeps interned strings, type objects and module
#   state alive until the process dies, so LeakSanitizer would report the
#   interpreter itself at every exit. Leaks of the module are what the
#   repeated-failure tests in tests/python/test_module_memory.py measure.
# - check_initialization_order / strict_init_order: static initialisers that
#   read another file's globals before they are built.
# - detect_stack_use_after_return: pointers to locals that outlive the call
#   (the pool's jobs live on the caller's stack).
# - halt_on_error / abort_on_error=0: stop at the first report with a non-zero
#   exit status, which fails the test that ran the process.
export ASAN_OPTIONS="detect_leaks=0:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:halt_on_error=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Tells the few tests that measure the C allocator or the address space
# (neither means anything under ASan's own allocator and shadow memory) to
# skip those measurements, and the heaviest repeat loops to run shorter.
export ZORVANE_SANITIZED=1

echo "== C++ core under AddressSanitizer + UndefinedBehaviorSanitizer (CTest)"
start=$SECONDS
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
      -DZORVANE_BUILD_MODULE=OFF -DZORVANE_SANITIZE=address,undefined -DPython_EXECUTABLE="$PY" >/dev/null
quietly build/asan/build.log cmake --build build/asan -j2
run_ctest build/asan
echo "   ($((SECONDS - start)) s)"

echo "== Python module under AddressSanitizer + UndefinedBehaviorSanitizer (pytest)"
start=$SECONDS
"$PY" -m pip install -q \
    --config-settings=build-dir=build/wheel-asan \
    --config-settings=cmake.build-type=RelWithDebInfo \
    --config-settings=cmake.define.ZORVANE_SANITIZE=address,undefined \
    "$ZORVANE_ROOT[test]"
echo "   (build $((SECONDS - start)) s)"
start=$SECONDS
# The interpreter is not built with ASan, so its runtime is preloaded; it must
# come first in the process. libstdc++ is preloaded with it: the interpreter
# does not link it, and ASan finds the real __cxa_throw (which it wraps) only
# in libraries present when it starts; without it the first C++ exception the
# module throws stops the process in an ASan CHECK. PYTHONMALLOC=malloc sends every Python object
# through it too, so that a reference the module drops too early shows up as
# a use after free instead of reading a recycled pymalloc block.
# Child processes started by the tests inherit all of this.
LD_PRELOAD="$LIBASAN $(g++ -print-file-name=libstdc++.so)" PYTHONMALLOC=malloc "$PY" -m pytest -q -p no:cacheprovider tests/python
echo "   (pytest $((SECONDS - start)) s)"
