# Sourced by the benchmarks' scripts: makes (once) build/bench-venv, installs the
# peers of bench/requirements-compare.txt and zorvane built from this work tree
# into it, sets BENCH_PY and goes to the repository root, from where the
# benchmarks run as modules (python -m bench.NAME).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$ROOT/scripts/find_python.sh"
VENV=${ZORVANE_BENCH_VENV:-$ROOT/build/bench-venv}
if [ ! -x "$VENV/bin/python" ]; then
    "$ZORVANE_PYTHON" -m venv "$VENV"
    "$VENV/bin/python" -m pip install -q --upgrade pip
fi
"$VENV/bin/python" -m pip install -q -r "$ROOT/bench/requirements-compare.txt"
"$VENV/bin/python" -m pip install -q "$ROOT"
BENCH_PY=$VENV/bin/python
cd "$ROOT"
