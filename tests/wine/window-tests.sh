#!/usr/bin/env bash
# kordel-update.exe end to end under wine, on an X server with the openbox window
# manager, against kordel-sim: driven with the mouse and the keyboard (xdotool), its
# controls read by window-probe.exe (wine's controls are no X windows), its LED read
# from the screen's pixels.
#   window-tests.sh CASE kordel-update.exe window-probe.exe appbuilder-window.exe image.bin
# CASE is one of: update error keyboard closing settings distcopy startup codepage.
# Exits 77 (skipped) when the X server, openbox or a driving tool is missing.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/../display.sh"
source "$here/probe.sh"
test_case=$1 gui_exe=$2 probe_exe=$3 appbuilder_exe=$4 image=$5
if missing=$(display_tools_missing xdotool xwininfo import convert); then
    echo "SKIP: $missing is not installed"
    exit 77
fi

exited() { ! kill -0 "$1" 2>/dev/null; }

# The LED's colour from the screen: red, green or what it is (R,G,B) otherwise, taken
# from a 5 x 5 square at its centre in the last probe.
led_colour() {
    local x y red green blue
    read -r x y <<<"$(centre_of "$IdLed1")"
    import -window root -crop "5x5+$((x - 2))+$((y - 2))" +repage "$work/led.png"
    read -r red green blue <<<"$(convert "$work/led.png" -scale '1x1!' -depth 8 txt:- |
        sed -n 's/^0,0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p')"
    if [ "$green" -gt $((2 * red)) ] && [ "$green" -gt $((2 * blue)) ]; then echo green
    elif [ "$red" -gt $((2 * green)) ] && [ "$red" -gt $((2 * blue)) ]; then echo red
    else echo "$red,$green,$blue"; fi
}
led_is() { probe TMain; [ "$(led_colour)" = "$1" ]; }

# Ends the case at once: what the probe saw last, and the program's output.
fail_now() {
    fail "$*"
    echo "    last probe:"; sed 's/^/    /' "$work/probe"
    [ ! -s "$work/gui.log" ] || { echo "    kordel-update.exe said:"; sed 's/^/    /' "$work/gui.log"; }
    finish
}

# ---------------------------------------------------------------- running the window
run="$work/run"
mkdir -p "$run"

# start_gui [ARGS...]: kordel-update.exe in $run, through the wine command in
# gui_launcher (set it to start the program by other means); waits until its first show
# has run (the status text comes last) and openbox has framed and placed the window.
gui_launcher=()
start_gui() {
    (cd "$run" && exec "$WINE" "${gui_launcher[@]}" "$gui_exe" "$@") >"$work/gui.log" 2>&1 &
    gui_pid=$!
    # The first window of a new wineserver loads the X driver and the fonts: slow.
    wait_for 300 status_is "Select COM-Port and press START" || fail_now "no main window"
    wait_for 50 main_visible || fail_now "the main window was not shown"
    x_main=""
    wait_for 50 x_window_framed || fail_now "openbox put no frame around the main window"
    wait_for 30 placed_as_probed || fail_now "wine's rectangle of the main window is not where X has it"
}
# The X window of the main window, mapped and framed by openbox.
x_window_framed() {
    x_main=$(xdotool search --onlyvisible --name '^Kordel Update v' 2>/dev/null | head -n 1)
    [ -n "$x_main" ] && xprop -id "$x_main" _NET_FRAME_EXTENTS | grep -q "="
}
# wine's client area on the screen is where the X window shows it (openbox has moved
# the window where it wanted, and wine has taken note), so clicks land where aimed.
placed_as_probed() {
    probe TMain
    local x y
    read -r x y < <(xwininfo -id "$x_main" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}')
    [ "$x,$y" = "$(field origin "$(record 'window class=TMain')")" ]
}
exit_by_mouse() {
    probe TMain
    click_control "$IdButExit"
    wait_for 100 exited "$gui_pid" || fail_now "EXIT did not end the program"
}

start_module() {
    start_sim COM5 --flash-out "$work/flash.bin" "$@"
    register_ports COM5
}

# The module's flash, once the port closed: the image, then filler to the block's end.
flash_written() { [ -s "$work/flash.bin" ]; }
expect_flash_is_image() {
    local what=$1
    wait_for 50 flash_written || { fail "$what: the module's flash was not written"; return; }
    if cmp -s -n "$(stat -c %s "$image")" "$image" "$work/flash.bin"; then pass "$what: the module's flash holds the image"
    else fail "$what: the module's flash differs from the image"; fi
}

# ---------------------------------------------------------------- cases
# START by the mouse: the status texts, the progress bar, the LED and the flash.
case_update() {
    start_module --fault F9=delay:30
    start_gui
    probe TMain
    expect_eq "title" "Kordel Update v1.3.1" "$(field title "$(record 'window class=TMain')")"
    expect_eq "the port list shows the module's port" "COM5" "$(text_of "$IdCbPort")"
    expect_eq "LED before the update" red "$(led_colour)"
    click_control "$IdButStart"
    local writing=0 start_disabled=0 green=0 positions="" state deadline=$((SECONDS + 60))
    while :; do
        probe TMain
        state=$(text_of "$IdSBar")
        case $state in
            "Writing update...")
                writing=1
                [ "$(field enabled "$(control "$IdButStart")")" = 0 ] && start_disabled=1
                positions="$positions $(field value "$(control "$IdPBar")" | cut -d/ -f1)"
                [ "$green" = 1 ] || { [ "$(led_colour)" = green ] && green=1; } ;;
            "Update OK" | "ERROR") break ;;
        esac
        [ "$SECONDS" -lt "$deadline" ] || fail_now "the update did not end in 60 s"
    done
    expect_eq "status while writing" 1 "$writing"
    expect_eq "START disabled while writing" 1 "$start_disabled"
    expect_eq "LED green while the port is open" 1 "$green"
    # The bar moves: it showed at least two different positions between 0 and its end.
    local moving
    moving=$(tr ' ' '\n' <<<"$positions" | grep -v '^$' | sort -un | awk '$1 > 0' | wc -l)
    if [ "$moving" -ge 2 ]; then pass "the progress bar moves (positions:$positions)"
    else fail "the progress bar did not move (positions:$positions)"; fi
    expect_eq "status after the update" "Update OK" "$state"
    wait_for 20 led_is red || true
    expect_eq "LED after the update" red "$(led_colour)"
    expect_eq "START enabled after the update" 1 "$(field enabled "$(control "$IdButStart")")"
    expect_eq "progress after the update" 0 "$(field value "$(control "$IdPBar")" | cut -d/ -f1)"
    expect_flash_is_image "START by the mouse"
    exit_by_mouse
}

# A module that does not answer: "ERROR" under the error dialog, whose geometry is
# measured on the real window; closing it by the mouse returns the window to Idle.
case_error() {
    start_module --fault F2=none
    start_gui
    click_control "$IdButStart"
    wait_for 300 dialog_visible || fail_now "no error dialog"
    local dialog main
    dialog=$(record 'window class=TMsgBox')
    main=$(record 'window class=TMain')
    expect_eq "dialog caption" "Error" "$(field title "$dialog")"
    expect_eq "dialog text" "Kordel not found!" "$(text_of "$IdMsgInfoLabel")"
    expect_eq "the dialog's buttons" "$But1 Button Schließen" \
        "$(records_of TMsgBox | grep '^child .* class=Button ' | while read -r line; do
               echo "$(field id "$line") $(field class "$line") $(field text "$line")"; done)"
    expect_eq "the button has the focus" 1 "$(field focus "$(control "$But1")")"
    expect_eq "status under the dialog" "ERROR" "$(text_of "$IdSBar")"
    expect_eq "the main window is disabled under the dialog" 0 "$(field enabled "$main")"
    # Outer size, the label's and the button's places in the client area; the dialog
    # is centred over the main window.
    local l t r b ml mt mr mb
    IFS=, read -r l t r b <<<"$(field rect "$dialog")"
    expect_eq "dialog outer size" "280x120" "$((r - l))x$((b - t))"
    expect_eq "label at" "68,8" "$(field pos "$(control "$IdMsgInfoLabel")" | cut -d, -f1,2)"
    expect_eq "button at and size" "103,65,75,25" "$(field pos "$(control "$But1")")"
    IFS=, read -r ml mt mr mb <<<"$(field rect "$main")"
    local dx=$(((l + r) - (ml + mr))) dy=$(((t + b) - (mt + mb)))
    if [ "${dx#-}" -le 1 ] && [ "${dy#-}" -le 1 ]; then pass "dialog centred over the main window"
    else fail "dialog at $l,$t,$r,$b is not centred over the main window at $ml,$mt,$mr,$mb"; fi
    # The dialog covers the LED: moved aside (as a user may), it shows the LED still
    # green, the port still open.
    local x_dialog
    x_dialog=$(xdotool search --onlyvisible --name '^Error$' | head -n 1)
    xdotool windowmove "$x_dialog" 450 400
    wait_for 30 dialog_moved || fail_now "the dialog did not move aside"
    expect_eq "LED under the dialog (the port is still open)" green "$(led_colour)"
    click_control "$But1"
    wait_for 50 dialog_hidden || fail_now "the dialog's button did not close it"
    wait_for 20 status_is "Select COM-Port and press START" || true
    expect_eq "status after the dialog" "Select COM-Port and press START" "$(text_of "$IdSBar")"
    expect_eq "START enabled after the dialog" 1 "$(field enabled "$(control "$IdButStart")")"
    wait_for 20 led_is red || true
    expect_eq "LED after the dialog (port closed)" red "$(led_colour)"
    exit_by_mouse
}

dialog_moved() {
    probe TMsgBox TMain
    local l t r b
    IFS=, read -r l t r b <<<"$(field rect "$(record 'window class=TMsgBox')")"
    [ "$l" -ge 400 ] && [ "$t" -ge 350 ]
}

# Enter and Space press START when it has the focus.
case_keyboard() {
    start_module
    start_gui
    xdotool windowactivate --sync "$x_main" 2>/dev/null || true
    local key
    for key in Return space; do
        rm -f "$work/flash.bin"
        # Tab moves the focus around the controls until it is on START.
        local tabs=0
        probe TMain
        until [ "$(field focus "$(record 'window class=TMain')")" = "$IdButStart" ] || [ "$tabs" -ge 8 ]; do
            xdotool key Tab
            tabs=$((tabs + 1))
            probe TMain
        done
        [ "$tabs" -eq 0 ] || echo "NOTE: $tabs Tab(s) brought the focus to START before $key"
        expect_eq "START has the focus before $key" "$IdButStart" "$(field focus "$(record 'window class=TMain')")"
        xdotool key "$key"
        wait_for 300 status_is "Update OK" || fail_now "$key on the focused START: no update"
        expect_flash_is_image "$key on the focused START"
    done
    exit_by_mouse
}

# EXIT during the update: the placement and the port are saved at once, the window
# stays while the update runs to its end, then the program ends by itself. A failure
# after EXIT raises no dialog that waits for the user. Each row: the case, the module's
# extra fault, and whether the module ends up with the whole image.
progress_started() { probe TMain; [ "$(field value "$(control "$IdPBar")" | cut -d/ -f1)" -gt 0 ]; }
port_saved() { tr -d '\r' <"$run/Kordel_Update.ini" 2>/dev/null | grep -qx "ComPort=COM5"; }

case_closing() {
    local name fault whole
    while IFS='|' read -r name fault whole; do
        stop_sims
        rm -f "$work/flash.bin" "$run/Kordel_Update.ini"
        # shellcheck disable=SC2086 # no fault is no argument
        start_module --fault F9=delay:60 $fault
        start_gui
        click_control "$IdButStart"
        wait_for 100 progress_started || fail_now "$name: the update did not start"
        probe TMain
        click_control "$IdButExit"
        wait_for 50 port_saved || fail_now "$name: EXIT did not save the port at once"
        probe TMain
        if exited "$gui_pid"; then
            fail "$name: the program ended before the update did"
        else
            expect_eq "$name: after EXIT the window stays" 1 "$(field visible "$(record 'window class=TMain')")"
            expect_eq "$name: after EXIT the update goes on" "Writing update..." "$(text_of "$IdSBar")"
        fi
        if wait_for 300 exited "$gui_pid"; then pass "$name: the program ended after the update"
        else fail_now "$name: the program did not end after the update"; fi
        [ "$whole" = no ] || expect_flash_is_image "$name"
    done <<'EOF'
EXIT during the update||yes
EXIT, then a refused block|--fault F9@30=status:0xC3|no
EOF
}

# The settings file after EXIT, byte for byte, with the placement wine reported; then
# two more runs, each of which must find the window where the last one left it.
expected_ini() {
    local screen window vx vy vw vh show flags minx miny maxx maxy l t r b
    screen=$(record "screen ")
    window=$(record 'window class=TMain')
    IFS=, read -r vx vy vw vh <<<"$(field virtual "$screen")"
    IFS=, read -r show flags minx miny maxx maxy l t r b <<<"$(field placement "$window")"
    printf '[Main]\r\nFormVersion=0\r\nShowCmd=%s\r\nFlags=%s\r\nPixelsPerInch=%s\r\n' \
        "$show" "$flags" "$(field dpi "$screen")"
    printf 'MinMaxPos(%sx%s)=%s,%s,%s,%s\r\nMinMaxPos=%s,%s,%s,%s\r\n' \
        "$vw" "$vh" "$minx" "$miny" "$maxx" "$maxy" "$minx" "$miny" "$maxx" "$maxy"
    printf 'NormPos(%sx%s)=%s,%s,%s,%s\r\nNormPos=%s,%s,%s,%s\r\n' \
        "$vw" "$vh" "$l" "$t" "$r" "$b" "$l" "$t" "$r" "$b"
    printf '\r\n[CONFIG]\r\nComPort=COM5\r\n\r\n'
}
normpos() { IFS=, read -r _ _ _ _ _ _ l t r b <<<"$(field placement "$(record 'window class=TMain')")"; echo "$l,$t,$r,$b"; }

moved_from() { probe TMain; [ "$(normpos)" != "$1" ]; }

case_settings() {
    start_module
    local run_number saved="" now
    for run_number in 1 2 3; do
        start_gui
        probe TMain
        if [ "$run_number" = 1 ]; then
            # Away from where the window system puts a new window, so that a restore
            # that does nothing cannot pass for one that works.
            local first
            first=$(normpos)
            xdotool windowmove "$x_main" 157 131
            wait_for 30 moved_from "$first" || fail_now "the window did not move"
            wait_for 30 placed_as_probed || fail_now "wine's rectangle of the moved window is not where X has it"
        fi
        now=$(normpos)
        [ -z "$saved" ] || expect_eq "run $run_number: the window where run $((run_number - 1)) left it" \
            "$saved" "$now"
        expected_ini >"$work/expected.ini"
        exit_by_mouse
        if cmp -s "$work/expected.ini" "$run/Kordel_Update.ini"; then
            pass "run $run_number: Kordel_Update.ini is the placement wine reported (NormPos=$now), byte for byte"
        else
            fail "run $run_number: Kordel_Update.ini (right) is not the expected file (left):"
            diff <(cat -A "$work/expected.ini") <(cat -A "$run/Kordel_Update.ini") | sed 's/^/    /' || true
        fi
        saved=$now
    done
    # The placement the file keeps is the one the window system reported, not a default.
    grep -q "^NormPos=$saved"$'\r'"\$" "$run/Kordel_Update.ini" || fail "NormPos is not $saved"
}

# The distribution copy: only with the code as the one argument while a TAPPBUILDER
# window exists. Each row: the case, whether that window exists, what dist\ holds
# beforehand (a file or a directory of the versioned name), and the arguments.
case_distcopy() {
    start_module
    "$WINE" "$appbuilder_exe" >"$work/appbuilder.out" 2>&1 &
    local appbuilder_pid=$!
    wait_for 100 grep -q ready "$work/appbuilder.out" || fail_now "appbuilder-window.exe did not start"
    # The image's version is 1.3: the program's name with 13 in place of its extension.
    local program=${gui_exe##*/}
    local versioned=${program%.*}13.exe
    local name environment target args
    while IFS='|' read -r name environment target args; do
        if [ "$environment" = no ] && kill -0 "$appbuilder_pid" 2>/dev/null; then
            kill "$appbuilder_pid"
            wait "$appbuilder_pid" 2>/dev/null || true
        fi
        rm -rf "$run/dist" "$run/Kordel_Update.ini"
        mkdir -p "$run/dist"
        if [ "$target" = directory ]; then mkdir "$run/dist/$versioned"; else echo "old build" >"$run/dist/$versioned"; fi
        # shellcheck disable=SC2086 # the arguments are split at blanks on purpose
        start_gui $args
        probe TDebug
        local log
        log=$(record 'window class=TDebug')
        if [ "$name" = "the code with the environment" ] || [ "$name" = "the code, the target a directory" ]; then
            expect_eq "$name: log window shown" 1 "$(field visible "$log")"
            expect_eq "$name: log window caption" "Debug" "$(field title "$log")"
            expect_eq "$name: the log" "$versioned" "$(text_of "$IdMemo" | sed 's/\\r\\n$//')"
            local copy="$run/dist/$versioned"
            [ "$target" != directory ] || copy="$run/dist/$versioned/$program"
            if cmp -s "$gui_exe" "$copy"; then pass "$name: the copy is the program"
            else fail "$name: ${copy#"$run"/} is not a copy of the program"; fi
        else
            expect_eq "$name: no log window" 0 "$(field visible "$log")"
            if [ "$target" = file ] && [ "$(cat "$run/dist/$versioned")" = "old build" ] &&
                [ "$(ls "$run/dist")" = "$versioned" ]; then pass "$name: no copy"
            else fail "$name: dist\\ changed: $(ls -l "$run/dist")"; fi
        fi
        exit_by_mouse
    done <<'EOF'
another argument|yes|file|05273946
a second argument|yes|file|5273946 extra
the code with the environment|yes|file|5273946
the code, the target a directory|yes|directory|5273946
without the environment window|no|file|5273946
EOF
}

# The first show follows the saved placement, whatever the process was started with.
# A shortcut set to "Run: Minimised" starts it with a minimised show state in its
# STARTUPINFO (here: wine's start /min). Windows applies that state to the first
# ShowWindow of a captioned top-level window that asks for a normal show (SW_SHOWNORMAL
# 1, SW_SHOW 5, SW_SHOWDEFAULT 10), and only to the first; wine never applies it. So
# besides the window's state, wine's log of the program's ShowWindow calls shows what
# Windows would do: the main window's first call must not be one of those three (a
# saved position that is applied comes with a hidden show, the window system's own
# position without). Each row: the case, the [Main] entries, the place expected.
case_startup() {
    start_module
    local name entries place main handle first
    while IFS='|' read -r name entries place; do
        printf '[Main]\r\n%b' "$entries" >"$run/Kordel_Update.ini"
        # start runs a program in the program's own folder unless told otherwise.
        gui_launcher=(start /min /wait /d "$(winepath -w "$run")" /unix)
        WINEDEBUG=-all,trace+win start_gui
        gui_launcher=()
        probe TMain
        main=$(record 'window class=TMain')
        handle=$(field handle "$main")
        expect_eq "$name: the saved normal state" 1 "$(field placement "$main" | cut -d, -f1)"
        expect_eq "$name: the place" "$place" "$(normpos | cut -d, -f1,2)"
        first=$(sed -n "s/.*:trace:win:show_window hwnd=$handle, cmd=\([0-9]*\),.*/\1/p" "$work/gui.log" | head -n 1)
        case $first in
            "") fail "$name: no ShowWindow of the main window ($handle) in wine's log" ;;
            1 | 5 | 10) fail "$name: the main window's first ShowWindow asks for $first, which Windows replaces by the start's minimised state" ;;
            *) pass "$name: the main window's first ShowWindow ($first) uses the start's show state up" ;;
        esac
        exit_by_mouse
    done <<'ROWS'
started minimised, a saved place|ShowCmd=1\r\nNormPos=157,131,518,341\r\n|157,131
started minimised, no saved place|ShowCmd=1\r\n|0,0
ROWS
}

# A settings file that an earlier version wrote in the system's 8-bit code page, without
# a byte-order mark: its bytes survive the program's reading and its rewrites (at the
# first show and at closing) in the Western, Cyrillic and Japanese pages (LC_ALL sets
# wine's page). The program runs as shipped, manifest included.
case_codepage() {
    start_module
    local locale text
    while IFS='|' read -r locale text; do
        printf '[CONFIG]\r\nComPort=COM5\r\n\r\n[Notes]\r\nText=%b\r\n\r\n' "$text" >"$run/Kordel_Update.ini"
        LC_ALL=$locale start_gui
        exit_by_mouse
        if LC_ALL=C grep -qxF "Text=$(printf '%b' "$text")"$'\r' "$run/Kordel_Update.ini"; then
            pass "$locale: the earlier version's bytes $text are kept"
        else
            fail "$locale: the bytes $text did not survive:"
            LC_ALL=C sed -n '/^\[Notes\]/,$p' "$run/Kordel_Update.ini" | od -c | sed 's/^/    /'
        fi
        expect_eq "$locale: the file was rewritten" 1 "$(LC_ALL=C grep -c '^NormPos=' "$run/Kordel_Update.ini")"
    done <<'PAGES'
en_US.UTF-8|\xC4\x80\xE9
ru_RU.UTF-8|\xC4\x88\xE9
ja_JP.UTF-8|\x82\xA0\x93\xFA
PAGES
}

prepare_prefix
start_display 800x600 || fail_now "no X display"
start_probe
"case_$test_case"
finish
