#!/usr/bin/env bash
# Updates through the window (window_tests.exe) against kordel-sim under wine, Xvfb and
# openbox: the window closed in the middle of an update (CloseDuringUpdate*), once with
# a module that takes the whole image, once with one that stops answering part way; and
# an update while the port's watcher hands line events to the window's thread
# (LineEventsDuringUpdate*).
#   window-updates.sh window_tests.exe image.bin
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/lib.sh"
source "$here/../display.sh"
tests=$1
image=$2
prepare_prefix
start_display 800x600 || exit 1

# The blocks are slowed down, so that the close comes while they are written.
start_sim COM7 --flash-out "$work/flash.bin" --fault F9=delay:20
start_sim COM8 --fault F9=delay:20 --fault F9@12=none
# Each block's reply one byte a millisecond: received data arrives while ReadByte waits.
start_sim COM9 --flash-out "$work/events.bin" --fault F9=dribble:1

# run_case PORT OUTCOME [FILTER]: runs the test program; sets rc.
run_case() {
    rc=0
    KORDEL_EXTRA_PORTS=COM7:COM8:COM9 KORDEL_TEST_PORT=$1 KORDEL_TEST_OUTCOME=$2 \
        GTEST_FILTER="${3:-CloseDuringUpdate*}" "$WINE" "$tests" >"$work/$1.out" 2>&1 || rc=$?
    sed 's/^/    /' "$work/$1.out"
}

run_case COM7 ok
expect_eq "closed during a good update" 0 "$rc"
length=$(stat -c %s "$image")
# The simulator writes its flash file when the port closes.
if wait_for 20 cmp -s -n "$length" "$image" "$work/flash.bin"; then pass "the update ran to its end"; else
    fail "the flash does not hold the image"
fi

run_case COM8 error
expect_eq "closed during an update that fails later" 0 "$rc"

KORDEL_WINE_LINE_EVENTS=1 run_case COM9 ok 'LineEventsDuringUpdate*'
expect_eq "an update with all ten line events watched" 0 "$rc"
if grep -q "SKIPPED" "$work/COM9.out"; then fail "the line-event case was skipped"; fi
if wait_for 20 cmp -s -n "$length" "$image" "$work/events.bin"; then
    pass "every reply was read whole: the module's flash holds the image"
else
    fail "with line events watched, the flash does not hold the image"
fi
finish
