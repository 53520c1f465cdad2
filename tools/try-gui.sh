#!/usr/bin/env bash
# Starts kordel-update next to a simulated module, its port on the list and selected,
# so that START writes a whole update without hardware.
#   tools/try-gui.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "try-gui: no display to show the window on. Run it from a desktop session," >&2
  echo "or see the README's screenshots (make screenshots remakes them)." >&2
  exit 1
fi
run="$build/gui-demo"
mkdir -p "$run"
# The simulator prints its terminal (/dev/pts/N) first.
"$build/sim/kordel-sim" --flash-out "$run/flash.bin" > "$run/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$run/sim.out" ] && break; sleep 0.1; done
port=$(head -n 1 "$run/sim.out")
[ -c "$port" ] || { echo "try-gui: kordel-sim did not start: $port" >&2; exit 1; }
cd "$run"
# The settings file remembers the simulated port by its path, which selects it as its
# shown name does; the window's place from an earlier try stays.
if grep -q '^ComPort=' Kordel_Update.ini 2> /dev/null; then
  sed -i "s|^ComPort=.*|ComPort=${port}\r|" Kordel_Update.ini
else
  printf '[CONFIG]\r\nComPort=%s\r\n' "$port" > Kordel_Update.ini
fi
echo "Simulated module on $port; press START. The flash ends up in $run/flash.bin."
KORDEL_EXTRA_PORTS="$port" "$build/ui/qt/kordel-update"
