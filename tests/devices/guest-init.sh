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

start_acm_gadget() {
  local g=/sys/kernel/config/usb_gadget/acm
  mkdir -p $g $g/configs/c.1 $g/functions/acm.usb0
  echo 0x1d6b > $g/idVendor
  echo 0x0104 > $g/idProduct
  ln -s $g/functions/acm.usb0 $g/configs/c.1/ 2>/dev/null
  echo $UDC > $g/UDC || echo "cannot bind the ACM gadget to $UDC"
  wait_for $ACM 30
  # The gadget's side of the line, held open: cdc_acm then sees DSR and CD.
  cat /dev/ttyGS0 > /dev/null &
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
      "echo '@@monitor device_add usb-serial,chardev=ftdi0,id=ftdi'"
  else
    result speed-not-supported FAIL "no $FTDI"
  fi
  fact "time ftdi $(ms_since $t) ms"
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
