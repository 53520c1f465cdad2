#!/usr/bin/env bash
# The developer's distribution copy end to end on a real X server (Xvfb): started with
# the code while a TAPPBUILDER window exists, kordel-update shows its log and copies
# itself into dist/ under the versioned name; without that window it does nothing.
#   DistCopyX11Test.sh KORDEL_UPDATE FAKE_APPBUILDER
set -euo pipefail
gui=$1
appbuilder=$2
# Exit status 77 tells CTest that the test was skipped.
command -v Xvfb > /dev/null || { echo "Xvfb is not installed: skipped"; exit 77; }
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses, and an X server on it.
for n in $(seq 70 99); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
Xvfb ":$n" -screen 0 640x400x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$n" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done

# Runs the window for a moment in $1 with the given arguments.
run_gui() {
  local dir=$1
  shift
  (cd "$dir" && exec timeout 3 "$gui" "$@") > "$dir/gui.log" 2>&1 || true
}

mkdir -p "$work/none/dist" "$work/with/dist"
run_gui "$work/none" 5273946
[ -z "$(ls -A "$work/none/dist")" ] || { echo "FAIL: copied without the TAPPBUILDER window"; exit 1; }

"$appbuilder" > "$work/appbuilder.out" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/appbuilder.out" 2> /dev/null && break; sleep 0.05; done
echo "old build" > "$work/with/dist/kordel-update13"
run_gui "$work/with" 5273946 extra
grep -q "old build" "$work/with/dist/kordel-update13" || { echo "FAIL: copied with a second argument"; exit 1; }
run_gui "$work/with" 5273946
cmp -s "$gui" "$work/with/dist/kordel-update13" || { echo "FAIL: dist/kordel-update13 is not the program"; exit 1; }
echo "distribution copy: ok"
