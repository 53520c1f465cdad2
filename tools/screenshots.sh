#!/usr/bin/env bash
# Remakes the README's screenshots of kordel-update under Xvfb, against simulated
# modules: the idle window, the window in the middle of an update, and the error
# dialog of a module that does not answer.
#   tools/screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
out=$(mkdir -p "${2:-docs/screenshots}" && cd "${2:-docs/screenshots}" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 640x400x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done

# A slow module (so that the update can be caught in the middle) and a silent one.
"$build/sim/kordel-sim" --link "$work/ttySIM-slow" --fault F9=delay:60 > /dev/null 2>&1 &
pids+=($!)
"$build/sim/kordel-sim" --link "$work/ttySIM-silent" --fault F2=none > /dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/ttySIM-slow" ] && [ -e "$work/ttySIM-silent" ] && break; sleep 0.1; done
export KORDEL_EXTRA_PORTS="$work/ttySIM-slow:$work/ttySIM-silent"

# Starts the window with `port` remembered; its top-left corner is the screen's.
start_gui() {
  printf '[CONFIG]\r\nComPort=%s\r\n' "$1" > "$work/Kordel_Update.ini"
  (cd "$work" && exec "$build/ui/qt/kordel-update") > /dev/null 2>&1 &
  gui=$!
  pids+=($gui)
  for _ in $(seq 50); do xdotool search --name "Kordel Update" > /dev/null 2>&1 && break; sleep 0.1; done
  sleep 0.5
}
shot() { import -window root -crop "$2" +repage "$out/$1"; }
click() { xdotool mousemove "$1" "$2" click 1; }

start_gui "$work/ttySIM-slow"
shot main-idle.png 355x185+0+0
click 100 147          # START
sleep 1.2
shot main-updating.png 355x185+0+0
sleep 2.5
kill "$gui"

start_gui "$work/ttySIM-silent"
click 100 147
sleep 1
shot error-dialog.png 355x185+0+0
echo "screenshots written to $out"
