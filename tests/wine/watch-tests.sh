#!/usr/bin/env bash
# kordel-flash.exe --watch under wine: simulated modules appear as COM ports the way a
# serial driver announces them (a value in the system's list of serial ports), are
# updated once per plug, each in its own slot, and Ctrl-C ends the watch.
#   watch-tests.sh kordel-flash.exe image.bin
source "$(dirname "$0")/lib.sh"
flash=$1
image=$2
prepare_prefix

# The JSON lines name a port by the path that is opened: "\\.\COM7".
events() { tr -d '\r' <"$work/watch.out" | grep -c "\"event\":\"$1\",\"port\":\"[^\"]*$2\"" || true; }
records() { grep -c "\"result\":\"$1\"" "$work/log.jsonl" 2>/dev/null || true; }

# wait_until WHAT CONDITION...: polls until CONDITION holds; a failed check after 60 s.
wait_until() {
    local what=$1 i
    shift
    for i in $(seq 600); do
        if "$@"; then pass "$what"; return 0; fi
        sleep 0.1
    done
    fail "$what: not within 60 s; the watch said:"
    tr -d '\r' <"$work/watch.out" | sed 's/^/    /'
    sed 's/^/    /' "$work/watch.err"
    return 1
}
count_is() { [ "$("$1" "${@:2:$#-2}")" == "${!#}" ]; }

register_ports
"$WINE" "$flash" --watch --json --log "$(winepath -w "$work/log.jsonl")" --station bench-1 \
    --port COM7 --port COM8 >"$work/watch.out" 2>"$work/watch.err" &
watch_pid=$!
# The watch lists the ports once it watches; none is present yet, so nothing happens.
sleep 2
expect_eq "nothing is updated before a module appears" 0 "$(events started COM)"

# Two modules plugged at once: each gets one update.
start_sim COM7 --cpu-id 0102030405060708090A0B0C --flash-out "$work/flash7.bin"
start_sim COM8 --cpu-id 1112131415161718191A1B1C --flash-out "$work/flash8.bin"
register_ports COM7 COM8
wait_until "two plugged modules are updated" count_is records ok 2
length=$(stat -c %s "$image")
sleep 0.3  # the simulator writes its flash file when the port closes
for n in 7 8; do
    if cmp -s -n "$length" "$image" "$work/flash$n.bin"; then pass "COM$n holds the image"; else fail "COM$n does not hold the image"; fi
done
expect_eq "the records name both modules" "2" \
    "$(grep -c '"cpu_id":"0102030405060708090A0B0C"\|"cpu_id":"1112131415161718191A1B1C"' "$work/log.jsonl")"
expect_eq "the records name the station" "2" "$(grep -c '"station":"bench-1"' "$work/log.jsonl")"

# A port that stays is not updated again; one that goes and comes back is.
sleep 1
expect_eq "a port that stays present is updated once" 1 "$(events started COM8)"
register_ports COM8
wait_until "the unplugged port is reported" count_is events port-removed COM7 1
register_ports COM7 COM8
wait_until "the port plugged again is updated again" count_is records ok 3
expect_eq "COM7 was updated twice, COM8 once" "2 1" "$(events started COM7) $(events started COM8)"

# Ctrl-C with nothing running: every update succeeded, so the watch exits 0.
kill -INT "$watch_pid"
rc=0
wait "$watch_pid" || rc=$?
expect_eq "Ctrl-C ends the watch with 0 after successful updates" 0 "$rc"
expect_contains "the watch ends with its summary" "$work/watch.out" '"event":"summary","passed":3'
register_ports
finish
