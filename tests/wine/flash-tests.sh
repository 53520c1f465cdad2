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
    # Every failure line names its port, the second line of a two-line text too; hint
    # lines follow the text.
    expect_eq "$name: message" "$(printf '%s\n' "$expected" | sed 's/^/COM6: /')" \
        "$(head -n "$(printf '%s\n' "$expected" | wc -l)" "$work/err")"
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
expect_contains "hang-up: the module holds a partial image" "$work/err" \
    "COM6: hint: the module now holds a partial image and needs a new update"

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

# --- the station log: one record per attempt, on the disk before the result; read back
# by the program's own report.
winlog=$(winepath -w "$work/station.log" 2>/dev/null)
start_sim COM5 --cpu-id DEADBEEF0011223344556677 --flash-out "$work/logflash.bin"
run_flash "$work/out" "$work/err" --port COM5 --quiet --log "$winlog" --station bench-w --operator anna
expect_eq "--log: exit status" 0 "$rc"
sleep 0.2  # the simulator writes its flash file when the port closes
digest=$(sha256sum "$work/logflash.bin" | cut -c1-64 | tr 'a-f' 'A-F')
for field in '"schema":1,' '"station":"bench-w","operator":"anna",' '"port":"COM5",' \
             '"cpu_id":"DEADBEEF0011223344556677"' '"date":"2026-01-15","snr":"SIM-000001"' \
             "\"sha256\":\"$digest\"" '"result":"ok","message":"Update OK","step":"close","block":null,"blocks":31,'; do
    expect_contains "--log: the record holds $field" "$work/station.log" "$field"
done
stop_sims
start_sim COM6 --fault "F9@3=status:0xC3"
run_flash "$work/out" "$work/err" --port COM6 --quiet --log "$winlog" --retries 1 --retry-delay 0
expect_eq "--log with a retry: exit status" 0 "$rc"
expect_contains "--log: the refused block's record" "$work/station.log" \
    '"message":"Error writing Flash\r\nCRYPT ERROR","step":"write","block":3,"blocks":2,"attempt":1}'
expect_contains "--log: the retry's record" "$work/station.log" '"blocks":31,"attempt":2}'
stop_sims
expect_eq "--log: one line per attempt" 3 "$(wc -l <"$work/station.log")"
# Two programs append at once; a record torn by a power cut stays a line of its own.
printf '{"schema":1,"time":"2026-12-' >>"$work/station.log"
"$WINE" "$flash" --port COM77 --quiet --log "$winlog" --station A --retries 40 --retry-delay 0 >/dev/null 2>&1 &
other=$!
"$WINE" "$flash" --port COM77 --quiet --log "$winlog" --station B --retries 40 --retry-delay 0 >/dev/null 2>&1 || true
wait "$other" || true
expect_eq "two programs: every attempt on a line of its own" $((3 + 1 + 82)) "$(wc -l <"$work/station.log")"
run_flash "$work/out" "$work/err" --log-report "$winlog"
expect_eq "--log-report: exit status" 0 "$rc"
expect_eq "--log-report: one row per record" 85 "$(grep -c '^20' "$work/out")"
expect_contains "--log-report: only the torn line skipped" "$work/err" "1 line of '$winlog' skipped"
expect_eq "--log-report: every attempt of A and of B counted" 2 \
    "$(grep -cE '^[AB] +[0-9]{4}-[0-9]{2}-[0-9]{2} +0 +41$' "$work/out")"
run_flash "$work/out" "$work/err" --log-report "$winlog" --csv
expect_contains "--log-report --csv: the refused block" "$work/out" '"Error writing Flash'
run_flash "$work/out" "$work/err" --port COM5 --log "$(winepath -w "$work" 2>/dev/null)"
expect_contains "--log: a folder is refused" "$work/err" "it is not a regular file; no update was started"
run_flash "$work/out" "$work/err" --port COM5 --log COM9
expect_contains "--log: a device name is refused" "$work/err" "Cannot open the log 'COM9': it is not a regular file"

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

# --- ports chosen through the registry's list: a glob takes every match, and the port
# opened is "\\.\" + its name; what matches nothing is a usage error.
start_sim COM5 --flash-out "$work/flash.bin"
register_ports COM5
WINEDEBUG=-all,trace+file run_flash "$work/out" "$work/log" --port 'COM*'
expect_eq "--port COM*: exit status" 0 "$rc"
expect_contains "--port COM*: updates COM5" "$work/out" "Update OK"
expect_contains "--port COM*: opens \\\\.\\COM5" "$work/log" 'CreateFileW L"\\\\.\\COM5"'
run_flash "$work/out" "$work/err" --port 'usb:0403:6001'
expect_eq "--port usb:: exit status without such a port" 2 "$rc"
expect_eq "--port usb:: says what it looked for" \
    "kordel-flash: no serial port matches 'usb:0403:6001' (--list shows the ports present)" \
    "$(head -1 "$work/err")"
stop_sims

# A port without modem lines, answered as on Windows (wine itself ignores the missing
# lines of its pseudo-terminals): the update fails at the open with the system's number.
start_sim COM5
KORDEL_WINE_NO_MODEM_TOLERANCE=1 run_flash "$work/out" "$work/err" --port COM5
expect_eq "port without modem lines: exit status" 1 "$rc"
expect_eq "port without modem lines: message" "COM5: GetCommModemStatus function failed (Error: 50)" \
    "$(head -1 "$work/err")"
stop_sims

# A port name beyond the system's 8-bit code page (Д is not in Windows-1252) reaches the
# program whole: its arguments are read as UTF-16. Wine decodes a Unix command line by
# the locale's character set, so the locale must exist: C.UTF-8 always does (its
# Windows page is 1252).
LC_ALL=C.UTF-8 run_flash "$work/out" "$work/err" --port COMÄД
expect_eq "non-ASCII port name: message" "COMÄД: Unable to open com port (Error: 2)" \
    "$(head -1 "$work/err")"

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
    "COM1 COM2 COM2 com3 COM10 $name127" "$(awk '{ print $1 }' "$work/out" | tr '\n' ' ' | sed 's/ $//')"
expect_eq "--list: each name with its path and kind (wine's SetupAPI has no Ports devices)" \
    '\\.\COM10 serial' "$(awk '$1 == "COM10" { print $2, $3 }' "$work/out")"
run_flash "$work/out" "$work/err" --list --json
expect_contains "--list --json: the path and the kind" "$work/out" \
    '{"name":"COM1","path":"\\\\.\\COM1","description":"","kind":"serial","vendor_id":null,'
"$WINE" reg delete "$key" /f >/dev/null 2>&1
run_flash "$work/out" "$work/err" --list
expect_eq "--list without the key" "No serial ports found." "$(cat "$work/out")"

finish
