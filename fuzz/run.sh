#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed time.
#
#   bash fuzz/run.sh                      # 60 s in all (what CI runs)
#   ZORVANE_FUZZ_SECONDS=1200 bash fuzz/run.sh   # longer, locally
#
# Every target first replays the inputs kept in fuzz/regressions/<target>/
# (each once), then fuzzes from a copy of the committed seed corpus
# fuzz/corpus/<target>/ for its share of the time; new inputs stay in
# build/fuzz and are never merged back. Any crash, hang (-timeout), sanitizer
# report or broken contract fails the run and leaves the input in
# build/fuzz/artifacts/.
#
# The compiler is $ZORVANE_FUZZ_CXX, by default clang++-19: clang 14 and 16 from
# Debian bookworm cannot compile libstdc++ 12's <expected>, clang 19 can.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

CXX_FUZZ="${ZORVANE_FUZZ_CXX:-clang++-19}"
SECONDS_TOTAL="${ZORVANE_FUZZ_SECONDS:-60}"
TARGETS=(fuzz_numeric fuzz_models)
BUILD=build/fuzz

cmake -S fuzz -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER="$CXX_FUZZ" -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build "$BUILD" -j2

# The model forms map over a worker pool; one worker keeps the runs reproducible.
export RAYON_NUM_THREADS=1
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

share=$(( SECONDS_TOTAL / ${#TARGETS[@]} ))
[ "$share" -ge 1 ] || share=1
rm -rf "$BUILD/artifacts"
mkdir -p "$BUILD/artifacts"
for t in "${TARGETS[@]}"; do
    regressions=(fuzz/regressions/"$t"/*)
    if [ -e "${regressions[0]}" ]; then
        echo "== $t: replaying ${#regressions[@]} kept inputs"
        "$BUILD/$t" -timeout=10 -artifact_prefix="$BUILD/artifacts/$t-" "${regressions[@]}" 2>&1 | tail -n 1
    fi
    # Where the processor has AVX2 the runs take the four-lane kernels; the
    # kept and seed inputs once more on the scalar ones.
    echo "== $t: kept and seed inputs on the scalar kernels"
    ZORVANE_KERNELS=scalar "$BUILD/$t" -timeout=10 -artifact_prefix="$BUILD/artifacts/$t-scalar-" \
        fuzz/regressions/"$t"/* fuzz/corpus/"$t"/* 2>&1 | tail -n 1
    echo "== $t: fuzzing for ${share} s"
    rm -rf "$BUILD/corpus/$t"
    mkdir -p "$BUILD/corpus/$t"
    cp fuzz/corpus/"$t"/* "$BUILD/corpus/$t/"
    "$BUILD/$t" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -max_len=256 \
        -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t-" "$BUILD/corpus/$t" 2>&1 |
        grep -v -E '^#[0-9]+' || true
    # libFuzzer's status is lost in the pipe above: a finding leaves an artifact.
    if compgen -G "$BUILD/artifacts/$t-*" >/dev/null; then
        echo "$t found a failing input:" "$BUILD"/artifacts/"$t"-*
        exit 1
    fi
done
