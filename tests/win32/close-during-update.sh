#!/usr/bin/env bash
# The window closed in the middle of an update (window_tests.exe, CloseDuringUpdate*),
# against kordel-sim under wine, Xvfb and openbox: once with a module that takes the
# whole image, once with one that stops answering part way.
#   close-during-update.sh window_tests.exe image.bin
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

# run_case PORT OUTCOME: runs the test program; sets rc.
run_case() {
    rc=0
    KORDEL_EXTRA_PORTS=COM7:COM8 KORDEL_TEST_PORT=$1 KORDEL_TEST_OUTCOME=$2 \
        GTEST_FILTER='CloseDuringUpdate*' "$WINE" "$tests" >"$work/$1.out" 2>&1 || rc=$?
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
finish
