#!/usr/bin/env bash
# Times zorvane against NumPy + SciPy, MulensModel and VBMicrolensing (bench/compare.py).
# Creates its own environment, build/bench-venv, installs the peers there together with
# zorvane built from this work tree, and passes its arguments on to compare.py
# (e.g. --quick for a short smoke run). The peers never enter the module's requirements.
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
cd "$ROOT"
exec "$VENV/bin/python" bench/compare.py "$@"
