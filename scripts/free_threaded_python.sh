#!/usr/bin/env bash
# Builds (once) a free-threaded CPython 3.13 (`./configure --disable-gil`) into a
# cache folder outside the checkout, reuses it when it is already there, and
# prints the interpreter's path as its last line (all else goes to stderr):
#
#     PY313T=$(bash scripts/free_threaded_python.sh | tail -n 1)
#
# The sources are Debian trixie's python3.13 source package (its pristine
# upstream tarball; Debian's own patches are not applied), fetched with apt from
# the Debian mirror that this machine's apt sources already name, through a
# private apt state: the machine's apt configuration is left untouched.
#
#   --debug   builds a debug interpreter (--with-pydebug) into its own folder.
#
# ZORVANE_FT_CACHE overrides the cache folder, which is by default
# ${XDG_CACHE_HOME:-$HOME/.cache}/zorvane/python3.13t (python3.13td for --debug).
set -euo pipefail

debug=0
[ "${1:-}" = "--debug" ] && debug=1
suffix=t; [ "$debug" = 1 ] && suffix=td
PREFIX=${ZORVANE_FT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zorvane/python3.13$suffix}
PYT=$PREFIX/bin/python3.13$suffix

log() { echo "free_threaded_python: $*" >&2; }

is_free_threaded() {
    [ -f "$PREFIX/.complete" ] && [ -x "$PYT" ] &&
        "$PYT" -c 'import sys, sysconfig; sys.exit(not sysconfig.get_config_var("Py_GIL_DISABLED"))' 2>/dev/null
}
if is_free_threaded; then
    log "reusing $PYT"
    echo "$PYT"
    exit 0
fi

sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo

# Compilers and the headers of the standard library's optional modules
# (ssl and zlib above all: pip needs them).
need=()
command -v gcc >/dev/null && command -v make >/dev/null || need+=(build-essential)
for pair in openssl/ssl.h:libssl-dev zlib.h:zlib1g-dev ffi.h:libffi-dev bzlib.h:libbz2-dev \
            lzma.h:liblzma-dev sqlite3.h:libsqlite3-dev readline/readline.h:libreadline-dev \
            uuid/uuid.h:uuid-dev ncurses.h:libncurses-dev; do
    h=${pair%%:*}
    compgen -G "/usr/include/$h" >/dev/null || compgen -G "/usr/include/*-linux-gnu/$h" >/dev/null ||
        need+=("${pair#*:}")
done
[ -f /usr/share/keyrings/debian-archive-keyring.gpg ] || need+=(debian-archive-keyring)
if [ ${#need[@]} -gt 0 ]; then
    log "installing ${need[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The Debian mirror from the machine's own apt sources (deb822 or one-line form).
mirror=$( { cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '/^URIs:/ {for (i = 2; i <= NF; i++) print $i}'
            cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
                sed 's/\[[^]]*\]//' | awk '$1 == "deb" {print $2}'
          } | grep -E '/debian/?$' | head -n 1 || true)
[ -n "$mirror" ] || { log "no Debian mirror in this machine's apt sources"; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zorvane-py313t.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/lists/partial" "$WORK/cache/archives/partial" "$WORK/parts" "$WORK/src"
cat >"$WORK/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror trixie main
EOF
APT=(apt-get -q -o "Dir::Etc::SourceList=$WORK/sources.list" -o "Dir::Etc::SourceParts=$WORK/parts"
     -o "Dir::State::Lists=$WORK/lists" -o "Dir::Cache=$WORK/cache" -o "APT::Sandbox::User=$(id -un)")
log "fetching trixie's python3.13 source package from $mirror"
"${APT[@]}" update >"$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log" >&2; exit 1; }
(cd "$WORK/src" && "${APT[@]}" source --download-only python3.13) >>"$WORK/apt.log" 2>&1 ||
    { cat "$WORK/apt.log" >&2; exit 1; }
orig=$(ls "$WORK"/src/python3.13_*.orig.tar.* | head -n 1)
tar -xf "$orig" -C "$WORK/src"
srcdir=$(ls -d "$WORK"/src/Python-3.13.*/ | head -n 1)

configure=(--disable-gil --prefix="$PREFIX")
[ "$debug" = 1 ] && configure+=(--with-pydebug)
log "building $(basename "$srcdir") with ${configure[*]} (a few minutes)"
rm -rf "$PREFIX"
mkdir -p "$PREFIX"
SECONDS=0
(
    cd "$srcdir"
    ./configure -q "${configure[@]}"
    nice -n 10 make -s -j"$(nproc)"
    make -s install
) >"$WORK/build.log" 2>&1 || { tail -n 60 "$WORK/build.log" >&2; exit 1; }
touch "$PREFIX/.complete"
is_free_threaded || { log "the interpreter built is not free-threaded"; exit 1; }
log "built in ${SECONDS} s"
echo "$PYT"
