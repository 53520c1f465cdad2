#!/usr/bin/env bash
# kordel-flash.exe under wine against kordel-sim: a full update, the failure texts,
# port errors, the registry listing and --sim.
#   flash-tests.sh kordel-flash.exe image.bin
source "$(dirname "$0")/lib.sh"
flash=$1
image=$2
prepare_prefix

# run_flash OUT ERR ARGS...: kordel-flash.exe's output in two files; sets rc.
run_flash() {
    local out=$1 err=$2
    shift 2
    rc=0
    "$WINE" "$flash" "$@" >"$out" 2>"$err" || rc=$?
    tr -d '\r' <"$out" >"$out.tmp" && mv "$out.tmp" "$out"
    tr -d '\r' <"$err" >"$err.tmp" && mv "$err.tmp" "$err"
}

# --- a full update: the module's flash holds the image, then FF filler up to the block end.
start_sim COM5 --flash-out "$work/flash.bin"
# wine's file channel logs the DCB that SetCommState was given.
WINEDEBUG=-all,trace+file run_flash "$work/out" "$work/log" --port COM5
expect_eq "full update exits 0" 0 "$rc"
expect_contains "full update reports success" "$work/out" "Update OK"
length=$(stat -c %s "$image")
blocks_bytes=$(( (length + 255) / 256 * 256 ))
sleep 0.2  # the simulator writes its flash file when the port closes
expect_eq "flash size is whole blocks" "$blocks_bytes" "$(stat -c %s "$work/flash.bin" 2>/dev/null || echo none)"
if cmp -s -n "$length" "$image" "$work/flash.bin"; then pass "flash equals the image"; else fail "flash differs from the image"; fi
filler=$(tail -c +"$((length + 1))" "$work/flash.bin" | od -v -An -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
expect_eq "filler after the image is FF" "$(printf 'ff %.0s' $(seq $((blocks_bytes - length))) | sed 's/ $//')" "$filler"
expect_contains "the tool asked for 4407315 8N1 without flow control" "$work/log" \
    "dump_dcb size=8 rate=4407315 fParity=0 Parity=0 stopbits=1 ~IXON ~IXOFF CTS=0 RTS=0 DSR=0 DTR=0 ~CRTSCTS"
if grep -q "line speed\|not 8N1" "$sim_err"; then fail "the module saw wrong line settings: $(cat "$sim_err")"; else pass "the module saw 8N1"; fi
stop_sims

# --- the fault table: each module fault and the exact text the user reads.
fault_case() {
    local name=$1 rule=$2 expected=$3
    start_sim COM6 --fault "$rule" --flash-out "$work/fault.bin"
    run_flash "$work/out" "$work/err" --port COM6 --quiet
    expect_eq "$name: exit status" 1 "$rc"
    # Every failure line names its port, the second line of a two-line text too.
    expect_eq "$name: message" "$(printf '%s\n' "$expected" | sed 's/^/COM6: /')" \
        "$(sed -n '1,2p' "$work/err")"
    stop_sims
}
fault_case "silent module" "F2=none" "Kordel not found!"
fault_case "CRYPT ERROR at block 3" "F9@3=status:0xC3" $'Error writing Flash\nCRYPT ERROR'
expect_eq "no block after the refused third one" 768 "$(stat -c %s "$work/fault.bin" 2>/dev/null || echo none)"
fault_case "truncated reply" "F5=trunc:3" $'Error Reading CPU-ID\nRECEIVE DATA CORRUPTED'
fault_case "wrong sequence" "F5=seq" $'Error Reading CPU-ID\nWRONG SEQUENCE'
# A reply that starts too late for the 500 ms first-byte limit.
fault_case "late reply" "F9@2=delay:600" $'Error writing Flash\nNO ANSWER'
# A reply dribbling in byte by byte: gaps under the 200 ms limit for later bytes are
# waited out, a longer gap breaks the reply off.
if "$KORDEL_SIM" --help 2>&1 | grep -q 'dribble:'; then
    start_sim COM6 --fault "F5=dribble:60"
    run_flash "$work/out" "$work/err" --port COM6 --quiet
    expect_eq "reply dribbling within the limit: update succeeds" "0 Update OK" "$rc $(cat "$work/out")"
    stop_sims
    fault_case "reply dribbling past the limit" "F5=dribble:260" $'Error Reading CPU-ID\nRECEIVE DATA CORRUPTED'
else
    echo "SKIP: this kordel-sim has no dribble fault; the late reply above stands in for it"
fi
fault_case "hang-up" "F9@2=hangup" "ReadFile function failed (Error: 109)"

# --- Ctrl-C: wine turns SIGINT into the console's Ctrl-C event; the update stops, the
# port is closed and the exit status is 130 (wine's own Ctrl-C exit would be 58).
start_sim COM7
"$WINE" "$flash" --port COM7 >"$work/out" 2>"$work/err" &
flash_pid=$!
for i in $(seq 100); do grep -q "blocks" "$work/out" && break; sleep 0.05; done
kill -INT "$flash_pid"
rc=0
wait "$flash_pid" || rc=$?
expect_eq "Ctrl-C: exit status" 130 "$rc"
expect_contains "Ctrl-C: says what it left behind" "$work/err" "Interrupted: the module now holds a partial image"
for i in $(seq 40); do grep -q "port closed" "$sim_err" && break; sleep 0.05; done
expect_contains "Ctrl-C: the port was closed" "$sim_err" "port closed"
stop_sims

# --- the image is read in place from the executable's BIOS_KORDEL resource.
run_flash "$work/out" "$work/err" --info
expect_contains "--info: the image's size" "$work/out" "Image: $(stat -c %s "$image") bytes"

# --- the help names ports as this system does.
run_flash "$work/out" "$work/err" --help
expect_contains "--help: a COM port as the example" "$work/out" "--port=COM3"
expect_eq "--help: no device path" "" "$(grep -F /dev/ "$work/out" || true)"

# --- port errors
run_flash "$work/out" "$work/err" --port COM77
expect_eq "missing COM: exit status" 1 "$rc"
expect_eq "missing COM: message" "COM77: Unable to open com port (Error: 2)" "$(head -1 "$work/err")"

# --- --sim has no pseudo-terminal on Windows and names the alternative.
run_flash "$work/out" "$work/err" --sim
expect_eq "--sim: exit status" 1 "$rc"
expect_contains "--sim says why" "$work/err" "--sim needs a pseudo-terminal"
expect_contains "--sim names the alternative" "$work/err" "virtual null-modem pair"

# --- the registry listing, in natural order; a name over 127 characters ends it.
name127=COM$(printf 'x%.0s' $(seq 124))
name128=COM$(printf 'y%.0s' $(seq 125))
key='HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM'
reg_escape() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }
# HARDWARE is a volatile key, so SERIALCOMM keeps living: the values wine put there
# (its own COM1) are removed, then the test's are added.
existing=$("$WINE" reg query "$key" 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ { print $1 }')
{
    printf 'REGEDIT4\r\n\r\n[%s]\r\n' "$key"
    for v in $existing; do printf '"%s"=-\r\n' "$(reg_escape "$v")"; done
    # The registry hands values out in the order of their names: Serial1, Serial2, ...
    i=0
    for v in COM10 COM2 com3 COM1 COM2 "$name127" "$name128" COM4; do
        i=$((i + 1))
        printf '"\\\\Device\\\\Serial%s"="%s"\r\n' "$i" "$v"
    done
} >"$work/ports.reg"
"$WINE" regedit /S "$(winepath -w "$work/ports.reg" 2>/dev/null)" >/dev/null 2>&1
run_flash "$work/out" "$work/err" --list
expect_eq "--list: natural order, duplicates kept, stops at the overlong name" \
    "COM1 COM2 COM2 com3 COM10 $name127" "$(tr '\n' ' ' <"$work/out" | sed 's/ $//')"
"$WINE" reg delete "$key" /f >/dev/null 2>&1
run_flash "$work/out" "$work/err" --list
expect_eq "--list without the key" "No serial ports found." "$(cat "$work/out")"

finish
