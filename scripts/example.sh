#!/usr/bin/env bash
# Installs zorvane into .venv and runs the main example.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
"$PY" -m pip install -q "$ZORVANE_ROOT"
cd "$ZORVANE_ROOT" && "$PY" examples/light_curve.py
