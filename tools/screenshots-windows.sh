#!/usr/bin/env bash
# Remakes the README's screenshots of kordel-update.exe, under wine on Xvfb with the
# openbox window manager (so they show the title bars), against simulated modules: the
# idle window, the window in the middle of an update, and the error dialog of a module
# that does not answer.
#   tools/screenshots-windows.sh [WIN_BUILD_DIR] [OUT_DIR]
# KORDEL_WINEPREFIX and KORDEL_SIM as for the wine tests (`make screenshots-windows`
# sets them).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build-windows}" && pwd)
out=$(mkdir -p "${2:-docs/screenshots}" && cd "${2:-docs/screenshots}" && pwd)
source "$here/../tests/wine/lib.sh"
source "$here/../tests/display.sh"
source "$here/../tests/wine/probe.sh"
if missing=$(display_tools_missing xdotool xwininfo import); then
    echo "screenshots: $missing is not installed (make deps)" >&2
    exit 1
fi
gui_exe="$build/ui/win32/kordel-update.exe"
probe_exe="$build/tests/win32/window-probe.exe"

# The update has written at least $percent % of the image.
progress_past() {
    probe TMain
    local position limit
    IFS=/ read -r position limit <<<"$(field value "$(control "$IdPBar")")"
    [ "${limit:-0}" -gt 0 ] && [ $((100 * position / limit)) -ge "$percent" ]
}
framed() {
    main=$(xdotool search --onlyvisible --name '^Kordel Update v' 2>/dev/null | head -n 1)
    [ -n "$main" ] && xprop -id "$main" _NET_FRAME_EXTENTS | grep -q "="
}

# Starts the window with `port` remembered and notes its frame as openbox drew it.
start_gui() {
    rm -f "$work/run/Kordel_Update.ini"
    printf '[CONFIG]\r\nComPort=%s\r\n' "$1" >"$work/run/Kordel_Update.ini"
    (cd "$work/run" && exec "$WINE" "$gui_exe") >/dev/null 2>&1 &
    gui=$!
    wait_for 300 status_is "Select COM-Port and press START" || { echo "screenshots: no main window" >&2; exit 1; }
    wait_for 50 framed || { echo "screenshots: the main window got no frame" >&2; exit 1; }
    # openbox's placement, then wine's repaint at the new place.
    sleep 0.7
    local x y w h l r t b
    read -r x y w h < <(xwininfo -id "$main" | awk '/Absolute upper-left X/ {x=$NF}
        /Absolute upper-left Y/ {y=$NF} /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}')
    IFS=', ' read -r l r t b < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed 's/.*= //')
    crop="$((w + l + r))x$((h + t + b))+$((x - l))+$((y - t))"
}
shot() { import -window root -crop "$crop" +repage "$out/$1"; }
press_start() { probe TMain; click_control "$IdButStart"; }
main_gone() { ! xdotool search --onlyvisible --name '^Kordel Update v' >/dev/null 2>&1; }
stop_gui() {
    kill "$gui" 2>/dev/null || true
    wait "$gui" 2>/dev/null || true
    wait_for 50 main_gone || true
}

prepare_prefix
start_display 640x400
start_probe
mkdir "$work/run"
# A slow module (so that the update can be caught in the middle) and a silent one.
start_sim COM5 --fault F9=delay:60
start_sim COM6 --fault F2=none
register_ports COM5 COM6

start_gui COM5
shot main-idle-windows.png
press_start
percent=40
wait_for 300 progress_past || { echo "screenshots: the update did not get going" >&2; exit 1; }
shot main-updating-windows.png
wait_for 300 status_is "Update OK" || true
stop_gui

start_gui COM6
press_start
wait_for 300 dialog_visible || { echo "screenshots: no error dialog" >&2; exit 1; }
# Shown is not yet painted: wine draws the dialog's caption and label right after.
sleep 0.5
shot error-dialog-windows.png
stop_gui
echo "screenshots written to $out"
