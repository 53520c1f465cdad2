#!/usr/bin/env bash
# The developer's distribution copy end to end on a real X server (Xvfb): started with
# the code while a TAPPBUILDER window exists, kordel-update shows its log and copies
# itself into dist/ under the versioned name; without that window, with a second
# argument, or with Qt's own options after the code, it does nothing. Each run must
# have shown the window (it creates the settings file then), so a program that did not
# start fails the checks instead of passing the ones that expect nothing.
#   DistCopyX11Test.sh KORDEL_UPDATE FAKE_APPBUILDER
set -euo pipefail
gui=$1
appbuilder=$2
source "$(dirname "$0")/display.sh"
# Exit status 77 tells CTest that the test was skipped.
if missing=$(display_tools_missing); then echo "$missing is not installed: skipped"; exit 77; fi
start_session

start_display 640x400 || { echo "FAIL: no X display"; exit 1; }
export QT_QPA_PLATFORM=xcb

# Runs the window for a moment in $1 with the given arguments (longer under the
# sanitizers, which make its start slow); fails unless it was still running when
# stopped and had shown its window.
run_gui() {
  local dir=$1 status=0
  shift
  rm -f "$dir/Kordel_Update.ini"
  (cd "$dir" && exec timeout "${KORDEL_GUI_SECONDS:-3}" "$gui" "$@") > "$dir/gui.log" 2>&1 || status=$?
  if [ "$status" -ne 124 ] || [ ! -e "$dir/Kordel_Update.ini" ]; then
    cat "$dir/gui.log"
    echo "FAIL: kordel-update $* did not run (exit status $status)"
    exit 1
  fi
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
# Qt takes -style for itself, but the process received three arguments.
run_gui "$work/with" 5273946 -style Fusion
grep -q "old build" "$work/with/dist/kordel-update13" || { echo "FAIL: copied with Qt's options after the code"; exit 1; }
run_gui "$work/with" 5273946
cmp -s "$gui" "$work/with/dist/kordel-update13" || { echo "FAIL: dist/kordel-update13 is not the program"; exit 1; }
echo "distribution copy: ok"
