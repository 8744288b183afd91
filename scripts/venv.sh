# Sourced: creates (once) and activates the project's virtual environment .venv,
# built on a Python 3.13+ interpreter, and installs the given pip packages into it.
set -euo pipefail
ZORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$ZORVANE_ROOT/scripts/find_python.sh"
VENV=${ZORVANE_VENV:-$ZORVANE_ROOT/.venv}
if [ ! -x "$VENV/bin/python" ] || ! "$VENV/bin/python" -c 'import sys; sys.exit(sys.version_info < (3, 13))'; then
    rm -rf "$VENV"
    "$ZORVANE_PYTHON" -m venv "$VENV"
    "$VENV/bin/python" -m pip install -q --upgrade pip
fi
PY="$VENV/bin/python"
export PATH="$VENV/bin:$PATH"

# Installs Debian packages (sudo only when not root), for tools the tests need.
apt_install() {
    local sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}

# Runs CTest in a build folder with its output in ctest.log there; prints the
# summary, and the whole log when a test failed.
run_ctest() {
    local dir=$1; shift
    if ctest --test-dir "$dir" --output-on-failure -j2 "$@" >"$dir/ctest.log" 2>&1; then
        grep -E "tests passed|tests failed|Total Test time" "$dir/ctest.log"
    else
        cat "$dir/ctest.log"
        return 1
    fi
}

# Runs a command with its output in a log file, shown only when it fails.
quietly() {
    local log=$1; shift
    mkdir -p "$(dirname "$log")"
    "$@" >"$log" 2>&1 || { cat "$log"; return 1; }
}
