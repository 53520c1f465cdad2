#!/usr/bin/env bash
# Runs one Windows test program under wine: wine-run.sh PROGRAM.exe [ARGS...]
source "$(dirname "$0")/lib.sh"
prepare_prefix
"$WINE" "$@"
