#!/usr/bin/env bash
# The light-curve benchmark (bench/light_curve.py) in its own environment, build/bench-venv
# (the peers and zorvane built from this work tree). Writes bench/light-curve-results.md and
# bench/light_curve.png; the mpmath reference is kept in bench/light_curve_reference.npz
# (--recompute computes it again). Arguments are passed on.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
exec "$BENCH_PY" -m bench.light_curve "$@"
