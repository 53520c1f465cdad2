#!/usr/bin/env bash
# kordel-update under a real window manager: Xvfb with openbox, driven with xdotool and
# measured with xprop, xwininfo and the screen's pixels (ImageMagick), against kordel-sim.
#   WindowX11Test.sh CASE KORDEL_UPDATE KORDEL_SIM WM_MESSAGE FAKE_APPBUILDER
# CASE is one of: colours keyboard progress dialog placement minimised maximised logwindow.
# Exits 77 (skipped) when the X server, openbox or a measuring tool is missing.
# KEEP_SHOTS=DIR keeps every screen shot taken, for looking at a failure.
set -euo pipefail
test_case=$1 gui=$2 sim=$3 wm_message=$4 appbuilder=$5
source "$(dirname "$0")/display.sh"
if missing=$(display_tools_missing xdotool xwininfo import convert); then
  echo "SKIP: $missing is not installed"
  exit 77
fi

start_session
fail() {
  echo "FAIL ($test_case): $*"
  [ -z "${main:-}" ] || xprop -id "$main" _NET_WM_STATE WM_STATE 2>&1 | tr "\n" " "
  cat "$work/gui.log" 2> /dev/null || true
  exit 1
}

# Polls a command for up to $1 tenths of a second.
wait_for() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do "$@" > /dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# ---------------------------------------------------------------- X server and openbox
start_display 800x600 || fail "no X display with openbox"
export QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_STYLE_OVERRIDE

# ---------------------------------------------------------------- module and window
mkdir "$work/run"
# Starts a simulated module with the given faults; its terminal goes to $pts.
start_sim() {
  "$sim" --flash-out "$work/flash.bin" "$@" > "$work/sim.out" 2>&1 &
  pids+=($!)
  wait_for 150 test -s "$work/sim.out" || fail "kordel-sim did not start"
  pts=$(head -n 1 "$work/sim.out")
  [ -c "$pts" ] || fail "kordel-sim did not start: $(cat "$work/sim.out")"
}

# Starts kordel-update in $work/run with the given arguments and waits for its window.
start_gui() {
  (cd "$work/run" && KORDEL_EXTRA_PORTS="$pts${EXTRA_PORTS:-}" exec "$gui" "$@") \
    > "$work/gui.log" 2>&1 &
  gui_pid=$!
  pids+=($gui_pid)
  main=$(window_named "Kordel Update v.*" 300) || { cat "$work/gui.log"; no_window_found; }
  wait_for 150 framed "$main" || fail "openbox put no frame around the main window"
  sleep 0.3
  read -r main_x main_y _ _ < <(client "$main")
}

# Fails on a main window that never showed, saying what there was instead.
no_window_found() {
  kill -0 "$gui_pid" 2> /dev/null && echo "kordel-update is running" || echo "kordel-update has ended"
  local id
  for id in $(xdotool search --name . 2> /dev/null); do
    echo "window $id: $(xprop -id "$id" WM_NAME _NET_WM_STATE 2>&1 | tr '\n' ' ')"
  done
  fail "no main window"
}

# The id of the visible window whose name matches ^$1$, waiting up to $2 tenths.
window_named() {
  for _ in $(seq "$2"); do
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# Asks openbox to act on a window ($1 = close or restore), again every half second
# until the check in the remaining arguments holds, for up to fifteen seconds: openbox
# may still be busy with the window's last change of state, and on a busy machine the
# program takes seconds to end.
wm_until() {
  local action=$1 window=$2
  shift 2
  for _ in $(seq 30); do
    "$wm_message" "$action" "$window"
    wait_for 5 "$@" && return 0
  done
  return 1
}
restored() { ! xprop -id "$1" _NET_WM_STATE | grep -q HIDDEN; }
framed() { xprop -id "$1" _NET_FRAME_EXTENTS | grep -q "="; }
gone() { ! xwininfo -id "$1" 2> /dev/null | grep -q IsViewable; }
exited() { ! kill -0 "$1" 2> /dev/null; }

# The client area: x y width height on the screen.
client() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                           /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}'
}
# The outer frame as openbox drew it: x y width height.
frame() {
  local x y w h l r t b
  read -r x y w h < <(client "$1")
  IFS=', ' read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //')
  echo "$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))"
}
net_wm_name() { xprop -id "$1" _NET_WM_NAME | sed 's/^[^=]*= //'; }
ini_value() { tr -d '\r' < "$work/run/Kordel_Update.ini" | grep -m1 "^$1=" | cut -d= -f2-; }

shot() { import -window root "$work/shot.png"; [ -z "${KEEP_SHOTS:-}" ] || cp "$work/shot.png" "$KEEP_SHOTS/$test_case-$(date +%s%N).png"; }
# The pixels of a rectangle of the last shot as lines "x y red green blue #RRGGBB",
# x and y relative to the rectangle.
pixels() {
  convert "$work/shot.png" -crop "$3x$4+$1+$2" +repage -depth 8 -alpha off txt:- |
    sed -n 's/^\([0-9]*\),\([0-9]*\): (\([0-9]*\),\([0-9]*\),\([0-9]*\)) *\(#[0-9A-F]\{6\}\).*/\1 \2 \3 \4 \5 \6/p'
}
count_colour() { pixels "$1" "$2" "$3" "$4" | grep -c " $5\$" || true; }
# Pixels of text drawn in a dark red on a light ground (anti-aliased edges included).
count_reddish() { pixels "$@" | awk '$3 >= 96 && $4 * 3 <= $3 && $5 * 3 <= $3 {n++} END {print n + 0}'; }
# The LED (at 183,104, 17 x 17) lit green: the port is open.
led_green() {
  shot
  pixels $((main_x + 186)) $((main_y + 108)) 6 6 | awk '$4 > 2 * $3 && $4 > 2 * $5 {n++} END {exit !(n > 10)}'
}
# Presses a point of the main window's client area.
click_main() { xdotool mousemove "$((main_x + $1))" "$((main_y + $2))" click 1; }

# ---------------------------------------------------------------- cases
case_colours() {
  start_sim
  EXTRA_PORTS=":COM1:COM2" start_gui
  shot
  # The BIOS-INFO labels (group panel at 8,4; labels at 9,21 and 9,43) draw in maroon.
  for label in "17 25 232 16" "17 47 233 22"; do
    set -- $label
    local maroon black
    maroon=$(count_colour $((main_x + $1)) $((main_y + $2)) "$3" "$4" "#800000")
    black=$(count_colour $((main_x + $1)) $((main_y + $2)) "$3" "$4" "#000000")
    [ "$maroon" -ge 20 ] && [ "$black" -eq 0 ] ||
      fail "label at $1,$2: $maroon maroon and $black black pixels"
  done
  # "COM-Port:" (at 33,106) ends before the port box (at 96,102): Tahoma's metrics.
  local right
  right=$(pixels $((main_x + 33)) $((main_y + 104)) 63 16 |
    awk '$3 < 64 && $4 < 64 && $5 < 64 {if ($1 > m) m = $1} END {print m + 0}')
  [ "$right" -le 58 ] || fail "COM-Port: reaches x=$((33 + right)), the box starts at 96"
  # The opened list: maroon entries (the current one is highlighted).
  click_main 128 112
  sleep 0.8
  shot
  local listed
  listed=$(count_reddish $((main_x + 96)) $((main_y + 102)) 180 80)
  xdotool key Escape
  [ "$listed" -ge 40 ] || fail "the opened port list shows $listed maroon pixels"
}

case_keyboard() {
  start_sim --fault F9=delay:40
  start_gui
  # START has the focus at start, and Enter presses it: the port opens (LED green).
  xdotool key Return
  wait_for 100 led_green || fail "Enter on the focused START started no update"
  # Space during the update: START is disabled, but the focus must not have moved to EXIT.
  xdotool key space
  wait_for 150 test -e "$work/flash.bin" || fail "Enter on the focused START wrote no update"
  sleep 0.5
  exited "$gui_pid" && fail "Space during the update ended the program"
  # When the update ends, START has the focus again.
  rm -f "$work/flash.bin"
  xdotool key Return
  wait_for 150 test -e "$work/flash.bin" || fail "START did not get the focus back"
  sleep 0.5
  # Tab to EXIT, Enter presses it.
  xdotool key Tab Return
  wait_for 150 exited "$gui_pid" || fail "Enter on the focused EXIT did not end the program"
}

case_progress() {
  start_sim --fault F9@3=status:195
  start_gui
  click_main 100 147
  window_named Error 300 > /dev/null || fail "no error dialog"
  sleep 0.3
  shot
  # pBar at 252,168, 102 x 17, inside a one-pixel edge. Block 3 of 7900 bytes was
  # refused: the bar's value is 768, so the fill is 768 * 100 / 7900 pixels wide.
  local row fill expected=$((768 * 100 / 7900))
  row=$(pixels $((main_x + 253)) $((main_y + 176)) 100 1 | awk '{print $6}')
  fill=$(echo "$row" | awk 'NR == 1 {c = $1} $1 == c {n++; next} {exit} END {print n}')
  [ "$(echo "$row" | tail -n 1)" != "$(echo "$row" | head -n 1)" ] || fail "the bar is all one colour"
  [ "$((fill - expected))" -ge -1 ] && [ "$((fill - expected))" -le 1 ] ||
    fail "the drawn fill is $fill pixels, the value 768 of 7900 needs $expected"
}

case_dialog() {
  start_sim --fault F2=none
  start_gui
  click_main 100 147
  local dialog
  dialog=$(window_named Error 300) || fail "no error dialog"
  wait_for 150 framed "$dialog" || fail "openbox put no frame around the dialog"
  sleep 0.5
  [ "$(net_wm_name "$dialog")" = '"Error"' ] || fail "dialog caption $(net_wm_name "$dialog")"
  local x y w h mx my mw mh
  read -r x y w h < <(frame "$dialog")
  [ "$w x $h" = "280 x 120" ] || fail "dialog outer size $w x $h, not 280 x 120"
  read -r mx my mw mh < <(frame "$main")
  local dx=$(((2 * x + w) - (2 * mx + mw))) dy=$(((2 * y + h) - (2 * my + mh)))
  [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ] || fail "dialog not centred over the main window"
  # Caption and border only: no system menu, no minimise or maximise button.
  local hints flags decorations
  hints=$(xprop -id "$dialog" _MOTIF_WM_HINTS | sed 's/.*= //')
  IFS=', ' read -r flags _ decorations _ _ <<< "$hints"
  [ $((flags & 2)) -ne 0 ] || fail "the dialog sets no decoration hints ($hints)"
  [ $((decorations & 0x71)) -eq 0 ] || fail "the dialog asks for menu or buttons ($hints)"
  local actions
  actions=$(xprop -id "$dialog" _NET_WM_ALLOWED_ACTIONS)
  echo "$actions" | grep -q -E "MAXIMIZE|RESIZE" && fail "openbox lets the dialog be resized: $actions"
  # Enter on the focused "Schließen" closes it.
  xdotool key Return
  wait_for 100 gone "$dialog" || fail "Enter on the dialog's button did not close it"
  exited "$gui_pid" && fail "the program ended with the dialog"
  return 0
}

# Ends the window with EXIT and waits for the program to end.
exit_gui() {
  click_main 309 147
  wait_for 150 exited "$gui_pid" || fail "EXIT did not end the program"
}

case_placement() {
  start_sim
  local run expected="" x y w h
  for run in 1 2 3 4; do
    start_gui
    read -r x y w h < <(frame "$main")
    local now="$x,$y,$((x + w)),$((y + h))"
    # The first run saves where openbox put the frame; each later run finds it there.
    [ -z "$expected" ] || [ "$now" = "$expected" ] || fail "run $run: frame at $now, saved $expected"
    exit_gui
    local saved
    saved=$(ini_value NormPos)
    [ "$saved" = "$now" ] || fail "run $run: NormPos=$saved, the frame was $now"
    [ "$(ini_value ShowCmd)" = 1 ] || fail "run $run: ShowCmd=$(ini_value ShowCmd)"
    expected=$saved
  done
}

case_minimised() {
  start_sim
  start_gui
  local x y w h normal
  read -r x y w h < <(frame "$main")
  normal="$x,$y,$((x + w)),$((y + h))"
  xdotool windowminimize "$main"
  wait_for 100 gone "$main" || fail "the window did not minimise"
  wm_until close "$main" exited "$gui_pid" || fail "closing the minimised window did not end the program"
  [ "$(ini_value ShowCmd)" = 2 ] || fail "ShowCmd=$(ini_value ShowCmd) after closing minimised"
  [ "$(ini_value NormPos)" = "$normal" ] || fail "NormPos=$(ini_value NormPos), the normal frame was $normal"
  # The next run starts minimised and comes back to the same place.
  (cd "$work/run" && KORDEL_EXTRA_PORTS="$pts" exec "$gui") > "$work/gui.log" 2>&1 &
  gui_pid=$!
  pids+=($gui_pid)
  wait_for 300 sh -c "xdotool search --name '^Kordel Update v' | grep -q ." || fail "no window"
  main=$(xdotool search --name '^Kordel Update v' | head -n 1)
  sleep 1
  xprop -id "$main" _NET_WM_STATE | grep -q HIDDEN || fail "the window did not start minimised"
  wm_until restore "$main" restored "$main" || fail "the minimised window did not come back"
  sleep 0.3
  read -r x y w h < <(frame "$main")
  [ "$x,$y,$((x + w)),$((y + h))" = "$normal" ] || fail "restored at $x,$y, saved $normal"
  wm_until close "$main" exited "$gui_pid" || fail "closing did not end the program"
  [ "$(ini_value NormPos)" = "$normal" ] || fail "NormPos=$(ini_value NormPos) after the second run"
}

# Started maximised (ShowCmd=3): NormPos stays the normal frame, where the window
# would come back to.
case_maximised() {
  start_sim
  printf '[Main]\r\nShowCmd=3\r\nNormPos=100,80,457,286\r\n' > "$work/run/Kordel_Update.ini"
  start_gui
  xprop -id "$main" _NET_WM_STATE | grep -q MAXIMIZED_VERT || fail "the window did not start maximised"
  exit_gui
  [ "$(ini_value ShowCmd)" = 3 ] || fail "ShowCmd=$(ini_value ShowCmd) after a maximised run"
  # The normal frame was never shown: its place is exact, its size at least the client's.
  local left top right bottom
  IFS=, read -r left top right bottom <<< "$(ini_value NormPos)"
  [ "$left,$top" = "100,80" ] && [ "$((right - left))" -ge 355 ] && [ "$((bottom - top))" -ge 185 ] ||
    fail "NormPos=$(ini_value NormPos) after a maximised run, not the normal frame at 100,80"
}

case_logwindow() {
  start_sim
  "$appbuilder" > "$work/appbuilder.out" &
  pids+=($!)
  wait_for 150 grep -q ready "$work/appbuilder.out" || fail "fake-appbuilder did not start"
  mkdir "$work/run/dist"
  start_gui 5273946
  local log
  log=$(window_named Debug 300) || fail "no log window"
  wait_for 150 framed "$log" || fail "openbox put no frame around the log window"
  sleep 1.2
  [ "$(net_wm_name "$log")" = '"Debug"' ] || fail "log window caption $(net_wm_name "$log")"
  local x y w h
  read -r x y w h < <(frame "$log")
  [ "$w x $h" = "594 x 554" ] || fail "log window outer size $w x $h, not 594 x 554"
}

"case_$test_case"
echo "$test_case: ok"
