# Sourced by the other scripts: sets ZORVANE_PYTHON to a Python 3.13+ interpreter.
# $PYTHON, when set, wins; then /usr/bin/python3.13, pyenv's 3.13 builds, and
# whatever python3.13 / python3 is on PATH.
zorvane_find_python() {
    local candidates=()
    [ -n "${PYTHON:-}" ] && candidates+=("$PYTHON")
    candidates+=(/usr/bin/python3.13 /usr/local/bin/python3.13)
    local root
    if command -v pyenv >/dev/null 2>&1; then root=$(pyenv root 2>/dev/null); fi
    root=${root:-$HOME/.pyenv}
    local p
    for p in $(ls -d "$root"/versions/3.1[3-9]*/bin/python3.1[3-9] 2>/dev/null | sort -rV); do
        candidates+=("$p")
    done
    for p in python3.14 python3.13 python3; do
        command -v "$p" >/dev/null 2>&1 && candidates+=("$(command -v "$p")")
    done
    for p in "${candidates[@]}"; do
        if [ -x "$p" ] && "$p" -c 'import sys; sys.exit(sys.version_info < (3, 13))' 2>/dev/null; then
            ZORVANE_PYTHON=$p
            return 0
        fi
    done
    echo "error: no Python 3.13 or later found; set PYTHON=/path/to/python3.13" >&2
    return 1
}
zorvane_find_python
