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
port="$run/ttyKORDEL-SIM"
"$build/sim/kordel-sim" --link "$port" --flash-out "$run/flash.bin" > /dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
cd "$run"
# The settings file remembers the simulated port; a file of an earlier try is kept.
[ -e Kordel_Update.ini ] || printf '[CONFIG]\r\nComPort=%s\r\n' "$port" > Kordel_Update.ini
echo "Simulated module on $port; press START. The flash ends up in $run/flash.bin."
KORDEL_EXTRA_PORTS="$port" "$build/ui/qt/kordel-update"
