#!/usr/bin/env bash
# Runs one Windows program under wine on a private X display with the openbox window
# manager: wine-run-x.sh PROGRAM.exe [ARGS...]. Windows need a display, and a window
# manager activates them after they are shown, as a desktop does (without one, wine
# waits about 2 s for each window it hides).
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/../display.sh"
prepare_prefix
start_display 800x600 || exit 1
rc=0
"$WINE" "$@" || rc=$?
[ "$rc" -eq 0 ] || echo "$1 exited with status $rc"
exit "$rc"
