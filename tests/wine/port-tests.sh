#!/usr/bin/env bash
# The Win32 serial port against kordel-sim under wine:
#   port-tests.sh port_tests.exe cancel_tests.exe
source "$(dirname "$0")/lib.sh"
prepare_prefix
start_sim COM5
start_sim COM10
start_sim COM6 --fault F2=dribble:1
export KORDEL_TEST_COM=COM5 KORDEL_TEST_COM10=COM10 KORDEL_TEST_COM_DRIBBLE=COM6
# The port tests run the watcher's event wait, which kordel-flash leaves out under wine.
KORDEL_WINE_LINE_EVENTS=1 "$WINE" "$1"
"$WINE" "$2"
