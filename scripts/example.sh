#!/usr/bin/env bash
# Installs zorvane with what the examples need (matplotlib, Dask) into .venv and
# runs the main example: a light curve through a finite source, written to
# build/examples/light_curve.png (outside the tracked files; -o PATH elsewhere).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
"$PY" -m pip install -q "$ZORVANE_ROOT[examples]"
cd "$ZORVANE_ROOT" && "$PY" examples/light_curve.py "$@"
