#!/usr/bin/env bash
# Installs zorvane with its test dependencies into .venv and runs every test
# stage: the C++ core, the Python module, the free-threaded interpreter, the
# sanitizers, the fuzzers and the packaging. Every stage runs even when an
# earlier one failed; the run ends with one line per stage and exits non-zero
# if any stage failed.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

cat <<'INTRO'
scripts/test.sh: every test of zorvane. It installs, where they are missing:
  - into .venv (Python 3.13+): the module and its test packages (pytest, NumPy,
    SciPy, mpmath, Hypothesis, mypy, Dask, Matplotlib, SymPy), CMake and Ninja;
  - Debian packages: libgtest-dev (C++ tests), clang-19 and libclang-rt-19-dev
    (fuzzing), and the headers a CPython build needs;
  - a free-threaded CPython 3.13, built from Debian's source package into
    ~/.cache/zorvane/python3.13t (2 to 10 minutes the first time, then reused),
    with a second environment .venv-3.13t, and .venv-asan for the sanitizers.
It takes about 25 minutes on two cores (the interpreter's first build adds its
own). A summary of the stages comes at the end.
INTRO

STAGES=()
FAILED=0
# Runs one stage in a subshell that stops at its first failing command; the
# next stage runs whatever happened.
stage() {
    local name=$1 fn=$2 start=$SECONDS rc
    echo
    echo "== $name"
    ( set -e; "$fn" )
    rc=$?
    local verdict=passed
    if [ "$rc" -ne 0 ]; then verdict="FAILED (exit $rc)"; FAILED=$((FAILED + 1)); fi
    STAGES+=("$(printf '%-50s %-16s %5d s' "$name" "$verdict" $((SECONDS - start)))")
}

setup() {
    . scripts/venv.sh
    # GoogleTest for the C++ tests comes from Debian.
    [ -f /usr/include/gtest/gtest.h ] || apt_install libgtest-dev
    "$PY" -m pip install -q cmake ninja
    "$PY" -m pip install -q "$ROOT[test]"
}

cpp_core() {
    . scripts/venv.sh
    cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
          -DZORVANE_BUILD_MODULE=OFF >/dev/null
    quietly build/cpp/build.log cmake --build build/cpp
    run_ctest build/cpp
}

thread_sanitizer() {
    # The pool's test programs and the models' (which map the disk, ring and
    # integrated forms over the pool) are built and run with the sanitizer; any
    # race report fails the run. The models run on four workers, so that pieces
    # really run concurrently whatever the number of CPUs.
    . scripts/venv.sh
    cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
          -DZORVANE_BUILD_MODULE=OFF -DZORVANE_SANITIZE=thread >/dev/null
    quietly build/tsan/build.log cmake --build build/tsan -j2 --target test_parallel_map test_parallel_pool_size test_models
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
    for t in test_parallel_map test_parallel_pool_size; do
        build/tsan/$t --gtest_brief=1
    done
    RAYON_NUM_THREADS=4 build/tsan/test_models --gtest_brief=1
}

python_module() {
    . scripts/venv.sh
    # Run from the tests folder so that the installed module, not the source tree, is imported.
    cd tests/python
    "$PY" -m pytest -q -p no:cacheprovider
}

scalar_kernels() {
    # Where the processor has AVX2 the runs above use the four-lane kernels;
    # these tests pin results to the bit, so they run again on the scalar form.
    . scripts/venv.sh
    ZORVANE_KERNELS=scalar run_ctest build/cpp
    cd tests/python
    ZORVANE_KERNELS=scalar "$PY" -m pytest -q -p no:cacheprovider test_bits.py test_models_physics.py
}

free_threaded() {
    # A free-threaded CPython 3.13 (built once into a cache folder outside the
    # checkout) hosts the module in a virtual environment of its own. Not every
    # test dependency publishes free-threaded wheels for each release, and some
    # cannot be built here (Rust, or sources fetched at build time): pip takes the
    # latest release that has a wheel. The whole suite runs with PYTHON_GIL=0,
    # where the user forced the lock off and the threaded tests really call the
    # module in parallel; as imported (the module does not declare that it can run
    # without the lock, so the interpreter turns it on, with a warning) the tests
    # of the import, the conversions, the errors and the threads run, the rest
    # behaving there as on the ordinary build above.
    local ready=$SECONDS
    PY313T=$(bash scripts/free_threaded_python.sh | tail -n 1)
    PYTHON=$PY313T ZORVANE_VENV="$ROOT/.venv-3.13t" . scripts/venv.sh
    "$PY" -m pip install -q --prefer-binary --only-binary ast-serialize "$ROOT[test]"
    echo "interpreter and environment ready in $((SECONDS - ready)) s"
    cd tests/python
    "$PY" -c 'import sysconfig; assert sysconfig.get_config_var("Py_GIL_DISABLED")'
    for gil in as-imported 0; do
        if [ "$gil" = 0 ]; then export PYTHON_GIL=0; else unset PYTHON_GIL; fi
        echo "-- PYTHON_GIL=${PYTHON_GIL:-(unset)}:" \
            "$("$PY" -c 'import sys, zorvane; print("lock", "on" if sys._is_gil_enabled() else "off")' 2>&1 | tr '\n' ' ')"
        local start=$SECONDS
        if [ "$gil" = 0 ]; then
            "$PY" -m pytest -q -p no:cacheprovider
        else
            "$PY" -m pytest -q -p no:cacheprovider test_module_identity.py test_conversion.py \
                test_sequences.py test_threads.py test_errors.py
        fi
        echo "-- suite with PYTHON_GIL=${PYTHON_GIL:-(unset)}: $((SECONDS - start)) s"
    done
}

sanitizers() {
    # A second build under AddressSanitizer + UndefinedBehaviorSanitizer.
    bash scripts/test_sanitizers.sh
}

fuzzing() {
    # clang and the libFuzzer runtime come from Debian: clang-19, because clang 14
    # and 16 cannot compile libstdc++ 12's <expected>. fuzz/run.sh replays the kept
    # inputs, then fuzzes each target for its share of 60 s.
    . scripts/venv.sh
    if ! command -v clang++-19 >/dev/null ||
       ! compgen -G "/usr/lib/llvm-19/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
        apt_install clang-19 libclang-rt-19-dev
    fi
    bash fuzz/run.sh
}

packaging() {
    bash scripts/test_packaging.sh
}

stage "Setup (.venv, the module, its test packages)" setup
stage "C++ core (CTest)" cpp_core
stage "Worker pool and models under ThreadSanitizer" thread_sanitizer
stage "Python module (pytest)" python_module
stage "Scalar kernels (CTest, bits, physics)" scalar_kernels
stage "Free-threaded interpreter (lock on, then off)" free_threaded
stage "AddressSanitizer + UBSan (CTest, pytest)" sanitizers
stage "Fuzzing (libFuzzer)" fuzzing
stage "Packaging (wheel, source archive, fresh install)" packaging

echo
echo "== Summary ($((SECONDS / 60)) min $((SECONDS % 60)) s)"
printf '  %s\n' "${STAGES[@]}"
if [ "$FAILED" -ne 0 ]; then
    echo "$FAILED of ${#STAGES[@]} stages failed"
    exit 1
fi
echo "all ${#STAGES[@]} stages passed"
