# Shared by the wine test drivers: a wine prefix kept in the build folder, a persistent
# wineserver while the tests run, and kordel-sim modules reachable as COM ports.
#   KORDEL_WINEPREFIX  the prefix (made on first use)
#   KORDEL_SIM         the native kordel-sim
set -euo pipefail

: "${KORDEL_WINEPREFIX:?set KORDEL_WINEPREFIX to the wine prefix to use}"
export WINEPREFIX="$KORDEL_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Wine turns Unix file names and command lines into UTF-16 by the locale's character
# set: under the C locale (a fresh machine without LANG) every non-ASCII name fails.
# A locale the caller chose (the code-page tests set LC_ALL) stays.
if [ -z "${LC_ALL:-}" ] && [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then
    export LC_ALL=C.UTF-8
fi
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine64

work=$(mktemp -d "${TMPDIR:-/tmp}/kordel-wine.XXXXXX")
sim_pids=()
failures=0

cleanup() {
    local pid
    for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    # A script that drove windows (tests/display.sh) ends its X server after wine.
    if declare -F stop_display >/dev/null; then stop_display; fi
    rm -rf "$work"
}
trap cleanup EXIT

prepare_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the wine prefix $WINEPREFIX (once)"
        if ! wineboot -i >"$work/wineboot.log" 2>&1; then
            echo "wineboot failed:" >&2
            cat "$work/wineboot.log" >&2
            rm -f "$WINEPREFIX/system.reg"
            return 1
        fi
        wineserver -w  # the server of the first start ends before a persistent one starts
    fi
    # A server that already runs (another test's) stays; it is persistent already.
    wineserver -p -d0 >/dev/null 2>&1 || true
}

# start_sim COMn [kordel-sim options...]: a simulated module whose pseudo-terminal is
# COMn. Wine leaves a pty at 38400 whatever the tool asks (it has no custom rates), so
# the module is told to expect that; the rate the tool asked for is checked from
# wine's log of the DCB instead. Sets sim_out/sim_err to its output files.
start_sim() {
    local com=$1
    shift
    local lower
    lower=$(printf '%s' "$com" | tr 'A-Z' 'a-z')
    sim_out="$work/$com.out"
    sim_err="$work/$com.err"
    rm -f "$WINEPREFIX/dosdevices/$lower"
    "$KORDEL_SIM" --baud 38400 --link "$WINEPREFIX/dosdevices/$lower" "$@" >"$sim_out" 2>"$sim_err" &
    sim_pids+=($!)
    local i
    for i in $(seq 100); do
        [ -L "$WINEPREFIX/dosdevices/$lower" ] && return 0
        sleep 0.05
    done
    echo "kordel-sim for $com did not start:" >&2
    cat "$sim_err" >&2
    return 1
}

# register_ports COMn...: the ports the system lists (SERIALCOMM), in place of wine's own.
# HARDWARE is a volatile key, which cannot be made again: its values are replaced.
register_ports() {
    local key='HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM' name i=0 com
    {
        printf 'REGEDIT4\r\n\r\n[%s]\r\n' "$key"
        for name in $("$WINE" reg query "$key" 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ && $1 != "(Default)" { print $1 }'); do
            printf '"%s"=-\r\n' "${name//\\/\\\\}"
        done
        for com in "$@"; do
            i=$((i + 1))
            printf '"\\\\Device\\\\Serial%s"="%s"\r\n' "$i" "$com"
        done
    } >"$work/ports.reg"
    "$WINE" regedit /S "$(winepath -w "$work/ports.reg" 2>/dev/null)" >/dev/null 2>&1
}

stop_sims() {
    local pid
    for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    sim_pids=()
}

pass() { echo "PASS: $*"; }
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    if [ "$2" == "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi
}

# expect_contains WHAT FILE TEXT
expect_contains() {
    if grep -qF -- "$3" "$2"; then pass "$1"; else
        fail "$1: [$3] not in:"
        sed 's/^/    /' "$2"
    fi
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
