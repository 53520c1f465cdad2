#!/bin/busybox sh
# The device lab's guest: PID 1 of a QEMU guest booted by run-lab.sh. It loads the
# kernel's USB drivers, makes the devices and runs each scenario against the real drivers
# with kordel-flash and kordel-sim as built. It tells the host what it finds in lines
# starting with "@@": "@@result NAME PASS|FAIL TEXT", "@@fact TEXT" (measurements),
# "@@monitor COMMAND" (for QEMU's monitor), and "@@done" last.
/bin/busybox --install -s /bin
export PATH=/bin:/lab/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t debugfs none /sys/kernel/debug
mkdir -p /tmp /dev/gadget /dev/pts
mount -t devpts -o ptmxmode=0666 devpts /dev/pts
ln -sf pts/ptmx /dev/ptmx
mount -t tmpfs tmp /tmp
# The clock the lab's programs and records use (CLOCK_MONOTONIC); kernel messages on
# the console would be mixed into the results.
echo 1 > /proc/sys/kernel/printk

MODE=$(sed -n 's/.*lab=\([a-z]*\).*/\1/p' /proc/cmdline)
. /lab/lab.env
UDC=dummy_udc.0
ACM=/dev/ttyACM0
FTDI=/dev/ttyUSB0
REC=/tmp/record
FAULTS=/tmp/faults

result() { echo "@@result $1 $2 $3"; }
fact() { echo "@@fact $*"; }
now_us() { kordel-lab-link now; }
ms_since() { echo $(( ($(now_us) - $1) / 1000 )); }

# wait_for PATH SECONDS [gone]: until PATH exists (or, with "gone", no longer exists).
wait_for() {
  local i=0
  while [ $i -lt $(($2 * 50)) ]; do
    if [ "$3" = gone ]; then [ -e "$1" ] || return 0; else [ -e "$1" ] && return 0; fi
    usleep 20000
    i=$((i + 1))
  done
  return 1
}

load_drivers() {
  for m in usb-common usbcore configfs udc-core libcomposite dummy_hcd gadgetfs u_serial \
           usb_f_acm cdc-acm usbserial ftdi_sio xhci-hcd xhci-pci usbmon; do
    insmod /lab/modules/$m.ko 2>/tmp/insmod.err || { echo "insmod $m: $(cat /tmp/insmod.err)"; }
  done
}

# ---------------------------------------------------------------- the GadgetFS module

# cdc_acm makes the node before its probe sets the line to 9600 8N1 on the device, so an
# open at once can have its line speed overwritten: the device is ready once the
# module has seen that line coding after the host configured it.
settled() { awk '/ configured [1-9]/ { c = NR } / line / { l = NR } END { exit !(c && l > c) }' $REC; }
wait_acm() {
  wait_for $ACM 30 || return 1
  local i=0
  while ! settled && [ $i -lt 250 ]; do usleep 20000; i=$((i + 1)); done
}

start_module() {
  : > $FAULTS
  mount -t gadgetfs gadgetfs /dev/gadget
  kordel-usb-module --record $REC --flash-out /tmp/flash --faults $FAULTS \
    > /tmp/module.out 2>&1 &
  MODULE=$!
  wait_acm
}

stop_module() {
  kill $MODULE 2>/dev/null
  wait $MODULE 2>/dev/null
  wait_for $ACM 10 gone
  umount /dev/gadget
}

# Writes the module's flash to /tmp/flash now.
module_flash() {
  local before=$(grep -c ' flash$' $REC)
  kill -USR1 $MODULE
  local i=0
  while [ "$(grep -c ' flash$' $REC)" = "$before" ] && [ $i -lt 250 ]; do usleep 20000; i=$((i + 1)); done
}

# Unplugs and plugs the module's device again; the next simulator takes $FAULTS.
replug() {
  kill -HUP $MODULE
  wait_for $ACM 10 gone || return 1
  kill -USR2 $MODULE
  wait_acm
}

# timed_flash OUT ERR ARGS...: kordel-flash; sets STATUS and END (its end, in us).
timed_flash() {
  local out=$1 err=$2
  shift 2
  kordel-lab-link timed kordel-flash "$@" > $out 2> $err
  STATUS=$?
  END=$(sed -n 's/^timed end \([0-9]*\) status.*/\1/p' $err)
}

sim_line_reports() { grep -E 'line speed|not 8N1|flow control|raw mode' /tmp/module.out; }

scenario_break_link() {
  local start=$(now_us)
  echo "mark update" >> $REC
  timed_flash /tmp/s1.out /tmp/s1.trace --trace --port $ACM
  module_flash
  local verdict
  verdict=$(kordel-lab-check update $REC update /tmp/s1.trace /tmp/flash $KORDEL_IMAGE)
  local ok=$?
  local reports=$(sim_line_reports)
  if [ $STATUS -eq 0 ] && grep -q "Update OK" /tmp/s1.out && [ $ok -eq 0 ] && [ -z "$reports" ]; then
    result cdc-acm-with-break PASS "Update OK, flash equals the image; $(echo "$verdict" | head -1) ($(ms_since $start) ms)"
  else
    result cdc-acm-with-break FAIL "exit $STATUS: $(tail -2 /tmp/s1.out | tr '\n' ' ') $(grep -v '^/dev\|^Anzahl\|^[0-9A-F]*:' /tmp/s1.trace | tr '\n' ' ') $(echo "$verdict" | tr '\n' ' ') $reports; record: $(grep -vE ' (rx|tx) ' $REC | tail -12 | tr '\n' ' ')"
  fi
}

# One unplug at the request RULE names (a hang-up of the simulator there).
unplug_at() {
  local name=$1 rule=$2
  echo "$rule=hangup" > $FAULTS
  replug || { result "unplug-$name" FAIL "the device did not come back before the run"; return; }
  : > $FAULTS
  echo "mark $name" >> $REC
  timed_flash /tmp/u.out /tmp/u.err --port $ACM
  local ms=$(kordel-lab-check unplug $REC $name $END)
  local text=$(grep -v '^timed end' /tmp/u.err | head -1)
  local hint=$(grep 'hint:' /tmp/u.err)
  local gone=no back=no
  wait_for $ACM 2 gone && gone=yes
  kill -USR2 $MODULE
  wait_acm && back=yes
  if [ $STATUS -eq 1 ] && echo "$text" | grep -q 'function failed (Error: [0-9]*)' &&
     echo "$hint" | grep -q unplugged && [ "$ms" -le 500 ] 2>/dev/null && [ $gone = yes ] && [ $back = yes ]; then
    result "unplug-$name" PASS "ended $ms ms after the unplug: ${text#$ACM: }; node gone, back as $ACM"
  else
    result "unplug-$name" FAIL "exit $STATUS after '$ms' ms: $text / $hint; gone $gone, back $back"
  fi
}

# One link object through an unplug and a re-plug, as the window keeps it.
kept_link() {
  echo "F9@10=hangup" > $FAULTS
  replug || { result kept-link FAIL "the device did not come back before the run"; return; }
  : > $FAULTS
  kordel-lab-link updates $ACM 2 > /tmp/kept.out 2>&1 &
  local pid=$!
  local i=0
  while ! grep -q '^run 1' /tmp/kept.out && [ $i -lt 1500 ]; do usleep 20000; i=$((i + 1)); done
  wait_for $ACM 5 gone
  kill -USR2 $MODULE
  wait $pid
  local status=$?
  module_flash
  local run1=$(grep '^run 1' /tmp/kept.out) run2=$(grep '^run 2' /tmp/kept.out)
  local size=$(wc -c < $KORDEL_IMAGE)
  head -c $size /tmp/flash > /tmp/flash.head
  if [ $status -eq 1 ] && echo "$run1" | grep -q 'open 0 failed: .*function failed' &&
     echo "$run2" | grep -q 'open 0 ok' && cmp -s /tmp/flash.head $KORDEL_IMAGE; then
    result kept-link PASS "run 1 ${run1#*failed: }, port closed; run 2 after the re-plug: Update OK, flash equals the image"
  else
    result kept-link FAIL "exit $status: $(cat /tmp/kept.out | tr '\n' ' ')"
  fi
}

# A read that waits while the device is unplugged fails at once, without spinning.
hangup_read() {
  local name=$1 port=$2 baud=$3 unplug=$4 replug_cmd=$5
  kordel-lab-link hangup-read $port $baud > /tmp/hr.out 2>&1 &
  local pid=$!
  local i=0
  while ! grep -q '^open' /tmp/hr.out && [ $i -lt 500 ]; do usleep 20000; i=$((i + 1)); done
  usleep 300000
  local at=$(now_us)
  eval "$unplug"
  wait $pid
  local failed=$(sed -n 's/^failed \([0-9]*\) .*/\1/p' /tmp/hr.out)
  local ms=$(( (failed - at) / 1000 ))
  local read=$(sed -n 's/^read //p' /tmp/hr.out) again=$(sed -n 's/^again //p' /tmp/hr.out)
  local cpu=$(sed -n 's/.*cpu \([0-9]*\) ms.*/\1/p' /tmp/hr.out)
  local closed=$(tail -1 /tmp/hr.out)
  eval "$replug_cmd"
  local back=no
  wait_for $port 30 && back=yes
  fact "hung-up $name: first read: $read, $ms ms after the unplug; next read: $again; $closed; cpu $cpu ms"
  if echo "$read" | grep -q '^error' && [ $ms -le 500 ] && echo "$again" | grep -q '^error' &&
     [ "${cpu:-999}" -lt 300 ] && echo "$closed" | grep -q 'open 0' && [ $back = yes ]; then
    result "hung-up-read-$name" PASS "$read after $ms ms; again: $again; back as $port"
  else
    result "hung-up-read-$name" FAIL "$(cat /tmp/hr.out | tr '\n' ' ') ($ms ms after the unplug, back $back)"
  fi
}

# ---------------------------------------------------------------- the other adapters

# What the configfs gadget tells the host about itself (list-ports checks the listing).
ACM_VID=1D6B ACM_PID=0104 ACM_SERIAL=KLAB-ACM-0001 ACM_MAKER="Kordel Lab" ACM_PRODUCT="ACM gadget"
start_acm_gadget() {
  local g=/sys/kernel/config/usb_gadget/acm
  mkdir -p $g $g/configs/c.1 $g/functions/acm.usb0 $g/strings/0x409
  echo 0x$ACM_VID > $g/idVendor
  echo 0x$ACM_PID > $g/idProduct
  echo "$ACM_SERIAL" > $g/strings/0x409/serialnumber
  echo "$ACM_MAKER" > $g/strings/0x409/manufacturer
  echo "$ACM_PRODUCT" > $g/strings/0x409/product
  ln -s $g/functions/acm.usb0 $g/configs/c.1/ 2>/dev/null
  echo $UDC > $g/UDC || echo "cannot bind the ACM gadget to $UDC"
  wait_for $ACM 30
  # The gadget's side of the line, held open: cdc_acm then sees DSR and CD.
  cat /dev/ttyGS0 > /dev/null &
}

# ftdi_add COMMAND: QEMU's monitor adds the FTDI adapter again. QEMU refuses the add of
# the adapter's id when it comes within moments of its device_del (the guest has seen
# the device go by then): the add comes 0.5 s later and is sent again while the adapter
# does not come back. Sets FTDI_TRIES.
ftdi_add() {
  FTDI_TRIES=1
  usleep 500000
  while [ $FTDI_TRIES -le 3 ]; do
    echo "@@monitor $1"
    wait_for $FTDI 4 && return 0
    FTDI_TRIES=$((FTDI_TRIES + 1))
  done
  return 1
}

# A port that fails at set-up: the text, the hint, exit 1, the port free at once.
setup_failure() {
  local name=$1 port=$2 text=$3 hint=$4
  timed_flash /tmp/f.out /tmp/f.err --port $port
  local free=$(kordel-lab-link free $port)
  local got=$(grep -v '^timed end' /tmp/f.err | head -1) gothint=$(grep 'hint:' /tmp/f.err)
  if [ $STATUS -eq 1 ] && [ "$got" = "$port: $text" ] && echo "$gothint" | grep -q "$hint" &&
     [ "$free" = free ]; then
    result "$name" PASS "exit 1, '$text', ${gothint#$port: }, port free"
  else
    result "$name" FAIL "exit $STATUS, '$got' / '$gothint', port $free"
  fi
}

# DTR and RTS at three opens one after the other, from usbmon: the first open finds what
# was there before, the later ones what the tool left at its close.
lines_at_open() {
  local name=$1 port=$2
  cat /sys/kernel/debug/usb/usbmon/0u > /tmp/usbmon.txt &
  local cat=$!
  usleep 200000
  for i in 1 2 3; do
    kordel-flash --port $port > /dev/null 2>&1
    usleep 100000
  done
  usleep 100000
  kill $cat
  local found=$(kordel-lab-check usbmon /tmp/usbmon.txt | tr '\n' ';')
  # Each open may leave them up for one USB round trip, never for long and never for good.
  local long=$(echo "$found" | tr ';' '\n' | awk '/never lowered/ || $(NF - 1) > 500')
  if [ -z "$long" ]; then
    result "lines-at-open-$1" PASS "up $(echo "$found" | sed 's/up //g')"
  else
    result "lines-at-open-$1" FAIL "$found"
  fi
}


# ---------------------------------------------------------------- watch mode

# Lines of the station log FILE from line FROM on (counted from 1).
log_from() { tail -n +$2 $1; }
# The field KEY ("result", "cpu_id", "port", ...) of one JSON line, as text.
json_field() { echo "$1" | sed -n "s/.*\"$2\":\"\([^\"]*\)\".*/\1/p"; }

# start_watch NAME PATTERN: kordel-flash --watch on PATTERN with the log /tmp/NAME.log
# and --json, each output line stamped with its arrival time into /tmp/NAME.out.
start_watch() {
  local name=$1 pattern=$2
  : > /tmp/$name.log
  rm -f /tmp/$name.fifo && mkfifo /tmp/$name.fifo
  kordel-lab-link stamp < /tmp/$name.fifo > /tmp/$name.out &
  STAMP=$!
  kordel-flash --watch --port "$pattern" --log /tmp/$name.log --json > /tmp/$name.fifo 2> /tmp/$name.err &
  WATCH=$!
  # It lists the ports once its watch is in place; a port present by then is updated too.
  usleep 800000
}

# stop_watch: SIGTERM; sets WATCH_STATUS and WATCH_MS (from the signal to the exit).
stop_watch() {
  local t=$(now_us)
  kill -TERM $WATCH
  wait $WATCH
  WATCH_STATUS=$?
  WATCH_MS=$(ms_since $t)
  wait $STAMP
}

# wait_lines FILE N SECONDS: until FILE has N lines.
wait_lines() {
  local i=0
  while [ "$(wc -l < $1)" -lt $2 ] && [ $i -lt $(($3 * 50)) ]; do usleep 20000; i=$((i + 1)); done
  [ "$(wc -l < $1)" -ge $2 ]
}

# The function of the 4-port module behind ttyACMn: its interface number / 2.
acm_function() {
  local intf=$(basename "$(readlink /sys/class/tty/ttyACM$1/device)")
  echo $(( ${intf##*.} / 2 ))
}

WPORTS=4 WROUNDS=8 WCUT_ROUND=3 WCUT_TTY=2
# Eight plugs of a module with four CDC-ACM ports (the GadgetFS module with --ports 4),
# under one kordel-flash --watch: each plug of each port gets exactly one update, with
# the module's own CPU-ID, and its flash holds the image. In one round one port is
# unbound from cdc_acm in the middle of its update: only that one fails. SIGTERM ends
# the watch with status 1 (an update failed).
watch_cdc_acm() {
  local rec=/tmp/wrecord problems="" size=$(wc -c < $KORDEL_IMAGE)
  : > $rec
  mount -t gadgetfs gadgetfs /dev/gadget
  kordel-lab-link nodes /dev > /tmp/nodes.txt &
  local nodes=$!
  start_watch watch usb:1209:0001
  : > /tmp/removed.ms
  local t0=$(now_us)
  kordel-usb-module --realtime --record $rec --flash-out /tmp/wflash --ports $WPORTS > /tmp/wmodule.out 2>&1 &
  local module=$! r=1 done=0 cut_at=""
  while [ $r -le $WROUNDS ]; do
    local round_t=$(now_us) round_problems=$problems
    [ $r -gt 1 ] && kill -USR2 $module
    local n=0
    while [ $n -lt $WPORTS ]; do
      wait_for /dev/ttyACM$n 30 || { problems="$problems; round $r: no /dev/ttyACM$n"; break 2; }
      n=$((n + 1))
    done
    local map="" cut=""
    n=0
    while [ $n -lt $WPORTS ]; do map="$map $n:$(acm_function $n)"; n=$((n + 1)); done
    if [ $r = $WCUT_ROUND ]; then
      # Unbound once its update is well into the block writes (it takes 1.5 s or more).
      local i=0
      while [ "$(grep -c "\"started\",\"port\":\"/dev/ttyACM$WCUT_TTY\"" /tmp/watch.out)" -lt $r ] &&
            [ $i -lt 500 ]; do usleep 20000; i=$((i + 1)); done
      usleep 700000
      cut=$(basename "$(readlink /sys/class/tty/ttyACM$WCUT_TTY/device)")
      cut_at=$(now_us)
      echo -n "$cut" > /sys/bus/usb/drivers/cdc_acm/unbind
    fi
    wait_lines /tmp/watch.log $((done + WPORTS)) 40 ||
      problems="$problems; round $r: $(($(wc -l < /tmp/watch.log) - done)) of $WPORTS records in 40 s (module record: $(grep -vE ' (rx|tx) ' $rec | tail -4 | tr '\n' ' '))"
    local before=$(grep -c ' flash$' $rec)
    kill -USR1 $module
    local i=0
    while [ "$(grep -c ' flash$' $rec)" = "$before" ] && [ $i -lt 250 ]; do usleep 20000; i=$((i + 1)); done
    # One record per port of this plug: ok with that function's CPU-ID (the cut one: error).
    local lines=$(log_from /tmp/watch.log $((done + 1)))
    for entry in $map; do
      local tty=${entry%%:*} fn=${entry##*:}
      local mine=$(echo "$lines" | grep "\"port\":\"/dev/ttyACM$tty\"")
      local count=$(echo "$mine" | grep -c .)
      local result=$(json_field "$mine" result) cpu=$(json_field "$mine" cpu_id)
      local want=$(printf '31002B000F513637393837%02X' $((0x33 + fn)))
      if [ "$count" != 1 ]; then
        problems="$problems; round $r ttyACM$tty: $count records"
      elif [ $r = $WCUT_ROUND ] && [ $tty = $WCUT_TTY ]; then
        [ "$result" = error ] || problems="$problems; round $r ttyACM$tty (unbound): $result"
        CUT_MESSAGE=$(json_field "$mine" message)
        CUT_STEP=$(json_field "$mine" step)
      else
        head -c $size /tmp/wflash.$fn > /tmp/wflash.head 2>/dev/null
        [ "$result" = ok ] && [ "$cpu" = "$want" ] && cmp -s /tmp/wflash.head $KORDEL_IMAGE ||
          problems="$problems; round $r ttyACM$tty (function $fn): $result '$(json_field "$mine" message)' at $(json_field "$mine" step) after $(echo "$mine" | sed -n 's/.*"duration_ms":\([0-9]*\).*/\1/p') ms, CPU-ID $cpu (want $want), flash $(cmp /tmp/wflash.head $KORDEL_IMAGE 2>&1 | head -1)"
      fi
    done
    # What the module saw in a round that went wrong.
    [ "$problems" != "$round_problems" ] &&
      problems="$problems [module: $(awk -v t=$round_t '$1 >= t' $rec | grep -vE ' (rx|tx) ' | tail -10 | tr '\n' ' ')]"
    done=$(wc -l < /tmp/watch.log)
    local unplug_t=$(now_us)
    kill -HUP $module
    n=0
    while [ $n -lt $WPORTS ]; do wait_for /dev/ttyACM$n 10 gone; n=$((n + 1)); done
    # The next plug comes once the watch has seen this one go: it tells a plug by a new
    # path in its listing, so a re-plug under the same names before it lists again would
    # look like no change at all.
    # (The port unbound in the middle of its update was reported gone then.)
    local removed=$((r * WPORTS)) i=0
    while [ "$(grep -c '"event":"port-removed"' /tmp/watch.out)" -lt $removed ] && [ $i -lt 500 ]; do
      usleep 20000; i=$((i + 1))
    done
    local seen=$(grep '"event":"port-removed"' /tmp/watch.out | tail -1 | cut -d' ' -f1)
    [ "$(grep -c '"event":"port-removed"' /tmp/watch.out)" -ge $removed ] || problems="$problems; round $r: the watch did not report the unplug in 10 s"
    echo "$(( (${seen:-$unplug_t} - unplug_t) / 1000 ))" >> /tmp/removed.ms
    # Progress, shown with KORDEL_LAB_VERBOSE=1; the rounds stop at the first that failed.
    echo "watch round $r at $(cut -d' ' -f1 /proc/uptime) s: $(wc -l < /tmp/watch.log) records, longest $(echo "$lines" | sed -n 's/.*"duration_ms":\([0-9]*\).*/\1/p' | sort -n | tail -1) ms, $(grep -c ' break 0xFFFF' $rec) breaks so far${problems:+, $problems}"
    [ -n "$problems" ] && break
    r=$((r + 1))
  done
  local rounds_ms=$(ms_since $t0)
  stop_watch
  kill $module $nodes 2>/dev/null
  wait $module $nodes 2>/dev/null
  umount /dev/gadget
  # The node's appearance to kordel-flash's "started" event for it, per plug.
  local opens=$(cat /tmp/nodes.txt /tmp/watch.out | grep -E '^[0-9]+ (\+ ttyACM|\{"event":"started")' |
    sort -n | awk '$2 == "+" { made[$3] = $1; next }
      { match($0, /ttyACM[0-9]+/); t = substr($0, RSTART, RLENGTH)
        if (t in made) { d = ($1 - made[t]) / 1000; n++; s += d; if (n == 1 || d < lo) lo = d; if (d > hi) hi = d; delete made[t] } }
      END { if (n) printf "%d plugs: %.0f ms mean, %.0f-%.0f ms", n, s / n, lo, hi }')
  fact "watch: node made to the port's update started ($opens); unplug to the watch's last port-removed: $(sort -n /tmp/removed.ms | tr '\n' ' ')ms"
  local records=$(wc -l < /tmp/watch.log) started=$(grep -c '"event":"started"' /tmp/watch.out)
  local summary=$(grep '"event":"summary"' /tmp/watch.out | sed 's/^[0-9]* //')
  local reports=$(grep -E 'line speed|not 8N1|flow control|raw mode' /tmp/wmodule.out | sed 's/^kordel-sim: //' | sort | uniq -c | tr '\n' ' ')
  fact "watch: $WROUNDS plugs of $WPORTS ports in $rounds_ms ms; $records records, $started started; SIGTERM to exit $WATCH_MS ms; $summary"
  # Now and then the module's last line coding is the probe's 9600, not the tool's
  # 4407315 (a class request GadgetFS lost, see the README). The simulators answer at
  # any speed, so this is reported as measured, not judged here.
  [ -n "$reports" ] && fact "watch: the module's line coding at its first request, on so many of the $(wc -l < /tmp/watch.log) plugs of a port: $(echo $reports)"
  local expect=$((WROUNDS * WPORTS))
  [ "$records" = $expect ] || problems="$problems; $records records, not $expect"
  [ "$started" = $expect ] || problems="$problems; $started updates started, not $expect"
  [ $WATCH_STATUS = 1 ] || problems="$problems; exit $WATCH_STATUS after SIGTERM, not 1"
  if [ -z "$problems" ]; then
    result watch-cdc-acm PASS "$WROUNDS plugs x $WPORTS ports: one update each, ok with the port's CPU-ID and the image in its flash; the port unbound mid-update: '$CUT_MESSAGE' at $CUT_STEP, the others ok; SIGTERM: exit 1"
  else
    result watch-cdc-acm FAIL "${problems#; } (stderr: $(head -3 /tmp/watch.err | tr '\n' ' '))"
  fi
}

FTDI_SERIAL=KLAB-FTDI-01
FTDI_ADD="device_add usb-serial,chardev=ftdi0,id=ftdi,serial=$FTDI_SERIAL"
# Watch mode on QEMU's FTDI adapter, removed and added again through QEMU's monitor:
# the adapter present at the start and each of its two plugs get one update each. The
# FT232B cannot run at 4407315 bit/s, so each of them is the set-up failure.
watch_ftdi() {
  start_watch fwatch usb:0403:6001
  local plug=1 problems=""
  wait_lines /tmp/fwatch.log 1 20 || problems="no update of the adapter present at the start"
  while [ $plug -le 2 ]; do
    echo "@@monitor device_del ftdi"
    wait_for $FTDI 10 gone || problems="$problems; plug $plug: $FTDI did not go"
    ftdi_add "$FTDI_ADD"
    [ -e $FTDI ] || problems="$problems; plug $plug: $FTDI did not come back"
    [ $FTDI_TRIES -gt 1 ] && fact "watch-ftdi: plug $plug took $FTDI_TRIES device_add commands"
    wait_lines /tmp/fwatch.log $((plug + 1)) 20 || problems="$problems; plug $plug: no record"
    plug=$((plug + 1))
  done
  usleep 500000
  stop_watch
  local records=$(wc -l < /tmp/fwatch.log) serials=$(grep -c "\"serial_number\":\"$FTDI_SERIAL\"" /tmp/fwatch.log)
  local wanted=$(grep '"port":"/dev/ttyUSB0"' /tmp/fwatch.log | grep '"result":"error"' | grep '"step":"connect"' |
                 grep -c '"message":"SetCommState function failed (Error: 22)"')
  [ "$records" = 3 ] && [ "$wanted" = 3 ] && [ "$serials" = 2 ] || problems="$problems; $records records, $wanted the set-up failure, $serials with serial $FTDI_SERIAL"
  [ $WATCH_STATUS = 1 ] || problems="$problems; exit $WATCH_STATUS after SIGTERM, not 1"
  if [ -z "${problems#; }" ]; then
    result watch-ftdi PASS "present at the start + 2 plugs (device_del/device_add): 3 records, each 'SetCommState function failed (Error: 22)' at connect; SIGTERM: exit 1"
  else
    result watch-ftdi FAIL "${problems#; } $(head -3 /tmp/fwatch.log | tr '\n' ' ')"
  fi
}

# The listing of one port by name: its line of --list, and its object of --list --json.
list_line() { grep "^$1 " /tmp/list.txt; }
list_object() { sed 's/},{/}\n{/g' /tmp/list.json | grep "\"name\":\"$1\""; }
# The bus of the port, from the USB device the kernel made for it: "BUS-PORT".
usb_location() {
  local d
  for d in /sys/bus/usb/devices/*-*; do
    [ -f $d/idVendor ] || continue
    [ "$(cat $d/idVendor):$(cat $d/idProduct)" = "$1" ] && { basename $d; return; }
  done
}

# --list and --list --json show the gadget and the FTDI adapter as they were made, and
# missing WHAT TEXT WANTED...: "; WHAT lacks W" for each W that TEXT does not hold.
missing() {
  local what=$1 text=$2 want
  shift 2
  for want in "$@"; do
    echo "$text" | grep -qF -- "$want" || printf '; %s lacks %s' "$what" "$want"
  done
}

# --port usb:, serial: and location: pick exactly that one port.
list_ports() {
  kordel-flash --list > /tmp/list.txt 2>&1
  kordel-flash --list --json > /tmp/list.json 2>&1
  local problems="" acm_loc=$(usb_location 1d6b:0104) ftdi_loc=$(usb_location 0403:6001)
  problems=$problems$(missing "ttyACM0 line" "$(list_line ttyACM0)" "usb:$ACM_VID:$ACM_PID" \
    "serial:$ACM_SERIAL" "location:$acm_loc" "$ACM_MAKER $ACM_PRODUCT")
  problems=$problems$(missing "ttyACM0 JSON" "$(list_object ttyACM0)" "\"vendor_id\":\"$ACM_VID\"" \
    "\"product_id\":\"$ACM_PID\"" "\"serial_number\":\"$ACM_SERIAL\"" "\"manufacturer\":\"$ACM_MAKER\"" \
    "\"product\":\"$ACM_PRODUCT\"" "\"location\":\"$acm_loc\"" '"driver":"cdc_acm"')
  problems=$problems$(missing "ttyUSB0 line" "$(list_line ttyUSB0)" "usb:0403:6001" \
    "serial:$FTDI_SERIAL" "location:$ftdi_loc" "QEMU QEMU USB SERIAL")
  problems=$problems$(missing "ttyUSB0 JSON" "$(list_object ttyUSB0)" '"vendor_id":"0403"' \
    '"product_id":"6001"' "\"serial_number\":\"$FTDI_SERIAL\"" '"manufacturer":"QEMU"' \
    '"product":"QEMU USB SERIAL"' "\"location\":\"$ftdi_loc\"" '"driver":"ftdi_sio"')
  # Each selector opens exactly its port (the update then fails at the set-up, which
  # names the port).
  local picked=""
  for sel in "usb:$ACM_VID:$ACM_PID=$ACM" "serial:$ACM_SERIAL=$ACM" "location:$acm_loc=$ACM" \
             "usb:0403:6001=$FTDI" "serial:$FTDI_SERIAL=$FTDI" "location:$ftdi_loc=$FTDI"; do
    local selector=${sel%=*} port=${sel##*=}
    kordel-flash --port "$selector" --json > /tmp/sel.out 2>&1
    local ports=$(grep '"event":"result"' /tmp/sel.out | sed 's/.*"port":"\([^"]*\)".*/\1/' | tr '\n' ' ')
    [ "$ports" = "$port " ] || problems="$problems; --port $selector took '$ports' ($(head -2 /tmp/sel.out | tr '\n' ' '))"
    picked="$picked $selector"
  done
  fact "list: $(list_line ttyACM0 | tr -s ' ') | $(list_line ttyUSB0 | tr -s ' ')"
  if [ -z "$problems" ]; then
    result list-ports PASS "ids, serial, maker, product and location of the gadget and the FTDI adapter, plain and JSON; each of$picked took its one port"
  else
    result list-ports FAIL "${problems#; }"
  fi
}

# ---------------------------------------------------------------- runs

run_tests() {
  local t=$(now_us)
  if start_module; then
    fact "device enumerated as $ACM ($(ms_since $t) ms)"
    t=$(now_us); scenario_break_link; fact "time cdc-acm-with-break $(ms_since $t) ms"
    t=$(now_us)
    unplug_at identification F2@1
    unplug_at block-writes F9@10
    unplug_at closing-command F1@1
    kept_link
    fact "time unplug $(ms_since $t) ms"
    t=$(now_us)
    hangup_read cdc_acm $ACM 4407315 "kill -HUP $MODULE" "kill -USR2 $MODULE"
    lines_at_open cdc_acm-gadgetfs $ACM
    fact "time hang-up and lines $(ms_since $t) ms"
    stop_module
  else
    result cdc-acm-with-break FAIL "no $ACM: $(cat /tmp/module.out | tr '\n' ' ')"
  fi
  t=$(now_us)
  watch_cdc_acm
  fact "time watch-cdc-acm $(ms_since $t) ms"
  t=$(now_us)
  start_acm_gadget
  setup_failure break-not-supported $ACM "EscapeCommFunction function failed (Error: 95)" \
    "cannot send the break"
  lines_at_open cdc_acm-configfs $ACM
  fact "time break-not-supported $(ms_since $t) ms"
  t=$(now_us)
  if wait_for $FTDI 10; then
    setup_failure speed-not-supported $FTDI "SetCommState function failed (Error: 22)" \
      "cannot run at 4407315 bit/s"
    lines_at_open ftdi_sio $FTDI
    hangup_read ftdi_sio $FTDI 3000000 "echo '@@monitor device_del ftdi'; usleep 1" \
      "ftdi_add 'device_add usb-serial,chardev=ftdi0,id=ftdi'"
  else
    result speed-not-supported FAIL "no $FTDI"
  fi
  fact "time ftdi $(ms_since $t) ms"
  t=$(now_us)
  if wait_for $FTDI 10; then
    watch_ftdi
    list_ports
  else
    result watch-ftdi FAIL "no $FTDI"
  fi
  fact "time watch-ftdi and list-ports $(ms_since $t) ms"
}

# The update's wall time through cdc_acm and on a pseudo-terminal, in this guest.
run_bench() {
  start_module || { result bench FAIL "no $ACM"; return; }
  local t0=$(now_us)
  kordel-flash -n 3 --port $ACM > /tmp/b1.out 2>&1
  local acm=$(( ($(now_us) - t0) / 3000 ))
  kordel-sim > /tmp/sim.out 2>/dev/null &
  local sim=$!
  wait_for /tmp/sim.out 5
  local i=0
  while [ ! -s /tmp/sim.out ] && [ $i -lt 250 ]; do usleep 20000; i=$((i + 1)); done
  local pty=$(head -1 /tmp/sim.out)
  t0=$(now_us)
  kordel-flash -n 3 --port $pty > /tmp/b2.out 2>&1
  local ptyms=$(( ($(now_us) - t0) / 3000 ))
  kill $sim
  if grep -c "Update OK" /tmp/b1.out | grep -q 3 && grep -c "Update OK" /tmp/b2.out | grep -q 3; then
    result bench PASS "cdc_acm $acm ms, pty $ptyms ms per update (3 each, process start included)"
    echo "@@bench $acm $ptyms"
  else
    result bench FAIL "$(cat /tmp/b1.out /tmp/b2.out | tr '\n' ' ')"
  fi
  stop_module
}

fact "guest init at $(cut -d" " -f1 /proc/uptime) s"
load_drivers > /tmp/drivers.log 2>&1
grep insmod /tmp/drivers.log
mount -t configfs none /sys/kernel/config
fact "drivers loaded at $(cut -d" " -f1 /proc/uptime) s"
if [ "$MODE" = bench ]; then run_bench; else run_tests; fi
echo "@@done"
poweroff -f
