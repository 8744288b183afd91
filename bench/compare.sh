#!/usr/bin/env bash
# Times zorvane against NumPy + SciPy, MulensModel and VBMicrolensing (bench/compare.py).
# Creates its own environment, build/bench-venv, installs the peers there together with
# zorvane built from this work tree, and passes its arguments on to compare.py
# (e.g. --quick for a short smoke run). The peers never enter the module's requirements.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
exec "$BENCH_PY" -m bench.compare "$@"
