#!/usr/bin/env bash
# Runs one Windows test program under wine: wine-run.sh PROGRAM.exe [ARGS...]
source "$(dirname "$0")/lib.sh"
prepare_prefix
rc=0
"$WINE" "$@" || rc=$?
[ "$rc" -eq 0 ] || echo "$1 exited with status $rc"
exit "$rc"
