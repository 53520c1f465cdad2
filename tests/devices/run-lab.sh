#!/usr/bin/env bash
# The device lab: boots Debian's own kernel under QEMU and runs the scenarios of
# guest-init.sh against the kernel's real USB-serial drivers (cdc_acm on a GadgetFS
# module and on the configfs ACM function, ftdi_sio on QEMU's emulated FTDI adapter),
# with kordel-flash and kordel-sim as built.
#
#   run-lab.sh BUILD_DIR CACHE_DIR test|bench
#
# The kernel package is fetched with apt-get download and unpacked into CACHE_DIR (kept
# there for the next run); nothing is installed into /boot. Prints one line per scenario
# and exits 1 when one failed, 77 (skipped) when QEMU cannot start here, saying why.
# Software emulation (TCG) by default: the KVM of these machines cannot run a stock kernel;
# KORDEL_LAB_KVM=1 uses KVM where it can. KORDEL_LAB_QEMU names another QEMU binary,
# KORDEL_LAB_VERBOSE=1 shows the guest's other output.
set -euo pipefail

build=$(cd "$1" && pwd)
cache=$2
mode=${3:-test}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
started=$SECONDS

skip() { echo "$mode-devices: skipped: $*"; exit 77; }
die() { echo "$mode-devices: $*" >&2; exit 1; }

# ---------------------------------------------------------------- QEMU

qemu=${KORDEL_LAB_QEMU:-$(command -v qemu-system-x86_64 || true)}
[ -n "$qemu" ] || skip "qemu-system-x86_64 is not installed"
if ! probe=$(echo quit | timeout 60 "$qemu" -accel tcg -machine none -display none -nodefaults \
               -no-user-config -S -monitor stdio 2>&1); then
  skip "$qemu cannot start a machine (${probe:-no output}); the lab needs QEMU with software emulation"
fi
busybox=/bin/busybox
{ ldd "$busybox" 2>&1 || true; } | grep -q "not a dynamic executable" || die "$busybox is not the static busybox (busybox-static)"

# ---------------------------------------------------------------- the kernel

kernel_package() {
  local pkg
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-6\.1[^ ]*-amd64\)$/\1/p' | head -1)
  if [ -z "$pkg" ]; then
    apt-get update -qq >/dev/null 2>&1 || true
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-6\.1[^ ]*-amd64\)$/\1/p' | head -1)
  fi
  echo "$pkg"
}

# The modules the guest loads, by their place in the package.
modules="fs/configfs/configfs drivers/usb/common/usb-common drivers/usb/core/usbcore
drivers/usb/gadget/udc/udc-core drivers/usb/gadget/libcomposite drivers/usb/gadget/udc/dummy_hcd
drivers/usb/gadget/legacy/gadgetfs drivers/usb/gadget/function/u_serial
drivers/usb/gadget/function/usb_f_acm drivers/usb/class/cdc-acm drivers/usb/serial/usbserial
drivers/usb/serial/ftdi_sio drivers/usb/host/xhci-hcd drivers/usb/host/xhci-pci drivers/usb/mon/usbmon"

fetch_kernel() {
  local pkg=$1 dir=$2 t=$SECONDS
  rm -rf "$dir.part" && mkdir -p "$dir.part"
  (cd "$dir.part" && apt-get download "$pkg" >/dev/null 2>&1) || die "apt-get download $pkg failed"
  local deb
  deb=$(ls "$dir.part"/*.deb)
  mkdir -p "$dir.part/root"
  local wanted=("./boot/vmlinuz-*")
  for m in $modules; do wanted+=("./lib/modules/*/kernel/$m.ko"); done
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$dir.part/root" --wildcards "${wanted[@]}"
  # The uncompressed kernel, booted through its PVH entry, starts in half the time.
  local z
  z=$(ls "$dir.part"/root/boot/vmlinuz-*)
  local offset
  offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$z" | head -1 | cut -d: -f1)
  tail -c +$((offset + 1)) "$z" | xz -dc --single-stream > "$dir.part/vmlinux" 2>/dev/null || true
  [ -s "$dir.part/vmlinux" ] || die "cannot unpack the kernel from $z"
  mkdir -p "$dir.part/modules"
  find "$dir.part/root/lib/modules" -name '*.ko' -exec mv {} "$dir.part/modules/" \;
  rm -rf "$dir.part/root" "$deb"
  mv "$dir.part" "$dir"
  echo "$mode-devices: fetched and unpacked $pkg in $((SECONDS - t)) s"
}

pkg=$(kernel_package)
[ -n "$pkg" ] || die "apt-cache knows no linux-image-6.1 package for linux-image-amd64"
kdir=$cache/$pkg
[ -s "$kdir/vmlinux" ] || fetch_kernel "$pkg" "$kdir"

# ---------------------------------------------------------------- the initramfs

root=$cache/root
rm -rf "$root"
mkdir -p "$root"/{bin,lab/bin,lab/modules,proc,sys,dev,tmp}
cp "$busybox" "$root/bin/busybox"
cp "$here/guest-init.sh" "$root/init"
chmod 755 "$root/init"
cp "$kdir"/modules/*.ko "$root/lab/modules/"
# shellcheck disable=SC1091
. "$build/tests/devices/lab.env"
for p in "$KORDEL_FLASH" "$KORDEL_SIM" "$KORDEL_USB_MODULE" "$KORDEL_LAB_LINK" "$KORDEL_LAB_CHECK"; do
  strip -o "$root/lab/bin/$(basename "$p")" "$p"
  for lib in $(ldd "$p" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done
cp "$KORDEL_IMAGE" "$root/lab/image.bin"
echo "KORDEL_IMAGE=/lab/image.bin" > "$root/lab/lab.env"
initrd=$cache/initrd.cpio
(cd "$root" && find . | "$busybox" cpio -o -H newc > "$initrd" 2>/dev/null)

# ---------------------------------------------------------------- the run

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The FTDI adapter's far end: a simulated module on a host pseudo-terminal.
"$KORDEL_SIM" > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
pty=$(head -1 "$work/sim.out")
[ -n "$pty" ] || die "kordel-sim did not start: $(cat "$work/sim.err")"

mkfifo "$work/mon.in" "$work/mon.out"
cat "$work/mon.out" > /dev/null &
accel=tcg
# KVM only where it runs a stock kernel; the paravirtual KVM of these machines does not.
if [ "${KORDEL_LAB_KVM:-0}" = 1 ] && [ -w /dev/kvm ]; then accel=kvm; fi

passed=0 failed=0 bench=""
boot=$SECONDS
exec 3< <(timeout 240 "$qemu" -accel $accel -m 512 -smp 1 -nodefaults -no-user-config \
  -display none -serial stdio -no-reboot \
  -chardev pipe,id=mon,path="$work/mon" -mon chardev=mon,mode=readline \
  -chardev serial,id=ftdi0,path="$pty" -device qemu-xhci,id=xhci \
  -device usb-serial,chardev=ftdi0,id=ftdi \
  -kernel "$kdir/vmlinux" -initrd "$initrd" \
  -append "console=ttyS0 quiet loglevel=1 panic=-1 lab=$mode" 2>&1 </dev/null)
first=1
while IFS= read -r line <&3; do
  line=${line%$'\r'}
  if [ $first = 1 ] && [ "${line#@@}" != "$line" ]; then
    echo "$mode-devices: guest up after $((SECONDS - boot)) s"
    first=0
  fi
  case $line in
    "@@result "*)
      read -r name verdict text <<< "${line#@@result }"
      printf '%-28s %s  %s\n' "$name" "$verdict" "$text"
      if [ "$verdict" = PASS ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
      ;;
    "@@fact "*) echo "    ${line#@@fact }" ;;
    "@@monitor "*) echo "${line#@@monitor }" > "$work/mon.in" ;;
    "@@bench "*) bench=${line#@@bench } ;;
    "@@done") done=1 ;;
    *) [ -n "${KORDEL_LAB_VERBOSE:-}" ] && echo "  guest: $line" ;;
  esac
done
if [ -z "${done:-}" ]; then
  echo "$mode-devices: the guest did not finish (QEMU ended or timed out)"
  failed=$((failed + 1))
fi
if [ "$mode" = bench ] && [ -n "$bench" ]; then
  set -- $bench
  awk -v acm="$1" -v pty="$2" 'BEGIN {
    printf "update through cdc_acm %d ms, on a pty %d ms (same guest)\n", acm, pty
    printf "cdc_acm / protocol floor (1115 ms): %.3f\npty / protocol floor: %.3f\ncdc_acm / pty: %.3f\n",
           acm / 1115, pty / 1115, acm / pty }'
fi
echo "$mode-devices: $((SECONDS - started)) s in all"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
