#!/usr/bin/env bash
# The real-event fit (bench/real_fit.py: MOA-2008-BLG-310 fitted with zorvane, MulensModel's
# finite-source methods and VBMicrolensing's ESPLMag2) in its own environment, build/bench-venv
# (the peers and zorvane built from this work tree). Writes bench/real-fit-results.md; 10 to 15
# minutes on one core, most of it MulensModel's limb-darkened Witt-Mao and Lee methods. Arguments are
# passed on (--quick: the fast methods only, no file; about 15 s after the install).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
exec "$BENCH_PY" -m bench.real_fit "$@"
