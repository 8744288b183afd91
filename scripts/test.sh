#!/usr/bin/env bash
# Installs zorvane with its test dependencies into .venv and runs every test:
# the C++ core through CTest, then the Python module through pytest.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
cd "$ZORVANE_ROOT"

# GoogleTest for the C++ tests comes from Debian.
[ -f /usr/include/gtest/gtest.h ] || apt_install libgtest-dev

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

echo "== Scalar kernels (ZORVANE_KERNELS=scalar): C++ core, bits and physics once more"
# Where the processor has AVX2 the runs above use the four-lane kernels; these
# tests pin results to the bit, so they run again on the scalar form.
ZORVANE_KERNELS=scalar ctest --test-dir build/cpp --output-on-failure -j2
ZORVANE_KERNELS=scalar "$PY" -m pytest -q tests/python/test_bits.py tests/python/test_models_physics.py

echo "== Python module on the free-threaded interpreter (lock on, then PYTHON_GIL=0)"
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
(
    SECONDS=0
    PY313T=$(bash scripts/free_threaded_python.sh | tail -n 1)
    PYTHON=$PY313T ZORVANE_VENV="$ZORVANE_ROOT/.venv-3.13t" . scripts/venv.sh
    "$PY" -m pip install -q --prefer-binary --only-binary ast-serialize "$ZORVANE_ROOT[test]"
    echo "interpreter and environment ready in ${SECONDS} s"
    cd tests/python
    "$PY" -c 'import sysconfig; assert sysconfig.get_config_var("Py_GIL_DISABLED")'
    for gil in as-imported 0; do
        if [ "$gil" = 0 ]; then export PYTHON_GIL=0; else unset PYTHON_GIL; fi
        echo "-- PYTHON_GIL=${PYTHON_GIL:-(unset)}:" \
            "$("$PY" -c 'import sys, zorvane; print("lock", "on" if sys._is_gil_enabled() else "off")' 2>&1 | tr '\n' ' ')"
        SECONDS_RUN=$SECONDS
        if [ "$gil" = 0 ]; then
            "$PY" -m pytest -q -p no:cacheprovider
        else
            "$PY" -m pytest -q -p no:cacheprovider test_module_identity.py test_conversion.py \
                test_sequences.py test_threads.py test_errors.py
        fi
        echo "-- suite with PYTHON_GIL=${PYTHON_GIL:-(unset)}: $((SECONDS - SECONDS_RUN)) s"
    done
    echo "free-threaded stage: ${SECONDS} s"
)

# --- Second build under AddressSanitizer + UndefinedBehaviorSanitizer --------
bash scripts/test_sanitizers.sh

echo "== Fuzzing the numeric core (libFuzzer)"
# clang and the libFuzzer runtime come from Debian: clang-19, because clang 14
# and 16 cannot compile libstdc++ 12's <expected>. fuzz/run.sh replays the kept
# inputs, then fuzzes each target for its share of 60 s.
if ! command -v clang++-19 >/dev/null ||
   ! compgen -G "/usr/lib/llvm-19/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
    apt_install clang-19 libclang-rt-19-dev
fi
bash fuzz/run.sh

echo "== Packaging (wheel, source archive, fresh install)"
# Builds the wheel and the source archive, installs the wheel into a new
# virtual environment (not .venv) and calls the module there, then builds a
# wheel again from the unpacked source archive: the archive must hold all that
# the build needs, and both wheels the same files.
(
    set -euo pipefail
    PKG_TMP=$(mktemp -d)
    trap 'rm -rf "$PKG_TMP"' EXIT
    SECONDS=0
    "$PY" -m pip install -q build
    "$PY" -m pip wheel -q --no-deps -w "$PKG_TMP/dist" .
    "$PY" -m build --sdist -o "$PKG_TMP/dist" . >"$PKG_TMP/sdist.log" 2>&1 \
        || { cat "$PKG_TMP/sdist.log"; exit 1; }
    WHEEL=$(ls "$PKG_TMP"/dist/zorvane-*.whl)
    SDIST=$(ls "$PKG_TMP"/dist/zorvane-*.tar.gz)
    echo "built $(basename "$WHEEL") and $(basename "$SDIST") in ${SECONDS} s"
    "$ZORVANE_PYTHON" -m venv "$PKG_TMP/venv"
    "$PKG_TMP/venv/bin/python" -m pip install -q --no-deps "$WHEEL"
    (cd "$PKG_TMP" && "$PKG_TMP/venv/bin/python" - "$PKG_TMP/venv" <<'PYEOF'
import importlib.metadata, pickle, sys
import zorvane
assert zorvane.__file__.startswith(sys.argv[1]), zorvane.__file__
assert importlib.metadata.version("zorvane") == "0.1.0"
a = zorvane.witt_mao_magnification([0.0, 1.0, 3.0], 1.0, 0.1)
assert len(a) == 3 and all(x > 1 for x in a), a
assert pickle.loads(pickle.dumps(zorvane.witt_mao_magnification)) is zorvane.witt_mao_magnification
print("fresh environment:", zorvane.__file__)
PYEOF
    )
    mkdir "$PKG_TMP/unpacked"
    tar xzf "$SDIST" -C "$PKG_TMP/unpacked"
    "$PY" -m pip wheel -q --no-deps -w "$PKG_TMP/from-sdist" "$PKG_TMP"/unpacked/zorvane-*/
    "$PY" - "$WHEEL" "$PKG_TMP"/from-sdist/zorvane-*.whl <<'PYEOF'
import sys, zipfile
names = [sorted(zipfile.ZipFile(p).namelist()) for p in sys.argv[1:]]
assert names[0] == names[1], names
print("wheel from the source archive holds the same files:", ", ".join(names[0]))
PYEOF
    echo "packaging stage: ${SECONDS} s"
)
