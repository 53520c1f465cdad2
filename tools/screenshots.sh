#!/usr/bin/env bash
# Remakes the README's screenshots of kordel-update under Xvfb with the openbox window
# manager (so they show the title bars), against simulated modules: the idle window,
# the window in the middle of an update, and the error dialog of a module that does
# not answer.
#   tools/screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
out=$(mkdir -p "${2:-docs/screenshots}" && cd "${2:-docs/screenshots}" && pwd)
source "$(dirname "$0")/../tests/display.sh"
if missing=$(display_tools_missing xdotool xwininfo import); then
  echo "screenshots: $missing is not installed (make deps)" >&2
  exit 1
fi
start_session

start_display 640x400
export QT_QPA_PLATFORM=xcb

# A slow module (so that the update can be caught in the middle) and a silent one; the
# port list shows their terminals as pts/N.
# start_sim NAME FAULT...: the terminal's path goes to $pts.
start_sim() {
  local name=$1
  shift
  "$build/sim/kordel-sim" "$@" > "$work/$name.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/$name.out" ] && break; sleep 0.1; done
  pts=$(head -n 1 "$work/$name.out")
  [ -c "$pts" ] || { echo "screenshots: kordel-sim did not start: $pts" >&2; exit 1; }
}
start_sim slow --fault F9=delay:60
slow=$pts
start_sim silent --fault F2=none
silent=$pts
export KORDEL_EXTRA_PORTS="$slow:$silent"

# Starts the window with `port` remembered and notes its frame: x y width height.
start_gui() {
  printf '[CONFIG]\r\nComPort=%s\r\n' "$1" > "$work/Kordel_Update.ini"
  (cd "$work" && exec "$build/ui/qt/kordel-update") > /dev/null 2>&1 &
  gui=$!
  pids+=($gui)
  for _ in $(seq 100); do
    main=$(xdotool search --onlyvisible --name "^Kordel Update v" 2> /dev/null | head -n 1) || true
    [ -n "$main" ] && xprop -id "$main" _NET_FRAME_EXTENTS | grep -q "=" && break
    sleep 0.1
  done
  sleep 0.7
  local x y w h l r t b
  read -r x y w h < <(xwininfo -id "$main" | awk '/Absolute upper-left X/ {x=$NF}
      /Absolute upper-left Y/ {y=$NF} /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}')
  IFS=', ' read -r l r t b < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed 's/.*= //')
  client_x=$x client_y=$y
  crop="$((w + l + r))x$((h + t + b))+$((x - l))+$((y - t))"
}
shot() { import -window root -crop "$crop" +repage "$out/$1"; }
press_start() { xdotool mousemove $((client_x + 100)) $((client_y + 147)) click 1; }

start_gui "$slow"
shot main-idle.png
press_start
sleep 1.2
shot main-updating.png
sleep 2.5
kill "$gui"

start_gui "$silent"
press_start
for _ in $(seq 50); do xdotool search --onlyvisible --name "^Error\$" > /dev/null 2>&1 && break; sleep 0.1; done
sleep 0.5
shot error-dialog.png
echo "screenshots written to $out"
