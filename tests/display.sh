# Sourced by the scripts that drive windows through X: an X server (Xvfb, on a display
# number it picks itself, so parallel tests never collide) with the openbox window
# manager, which gives windows their frames and the keyboard focus.
#   display_tools_missing TOOL...   prints the first tool that is not installed
#   start_display [WIDTHxHEIGHT]    exports DISPLAY; returns 1 when no display came up
#   stop_display                    ends openbox and the X server
#   wait_for TENTHS COMMAND...      runs COMMAND every tenth of a second until it
#                                   succeeds, for at most TENTHS tenths
#   start_session                   a scratch folder $work and a list $pids of background
#                                   processes, removed (and the display stopped) at exit

display_tools_missing() {
    local tool
    for tool in Xvfb openbox xprop "$@"; do
        command -v "$tool" > /dev/null || { echo "$tool"; return 0; }
    done
    return 1
}

wait_for() {
    local tenths=$1
    shift
    # A deadline in elapsed time, so that a slow COMMAND does not stretch it.
    local deadline=$(($(date +%s%N) / 100000000 + tenths))
    until "$@" > /dev/null 2>&1; do
        [ "$(($(date +%s%N) / 100000000))" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

display_pids=()
display_dir=""

display_wm_running() { timeout 2 xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q "window id"; }

# One attempt: a display that another program grabs at the same moment makes openbox
# fail, and the caller tries anew.
display_try_start() {
    local size=$1 number
    rm -f "$display_dir/displayfd"
    mkfifo "$display_dir/displayfd"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3> "$display_dir/displayfd" > /dev/null 2>&1 &
    display_pids+=($!)
    read -r -t 10 number < "$display_dir/displayfd" || return 1
    export DISPLAY=":$number"
    openbox --sm-disable > "$display_dir/openbox.log" 2>&1 &
    display_pids+=($!)
    wait_for 50 display_wm_running
}

start_display() {
    local size=${1:-800x600} attempt
    display_dir=$(mktemp -d "${TMPDIR:-/tmp}/kordel-display.XXXXXX")
    # openbox keeps its settings under HOME and XDG_RUNTIME_DIR: a private pair, so
    # that nothing of the user's desktop applies.
    mkdir -m 700 "$display_dir/runtime" "$display_dir/home"
    export XDG_RUNTIME_DIR="$display_dir/runtime" HOME="$display_dir/home"
    for attempt in 1 2 3; do
        display_try_start "$size" && return 0
        stop_display_processes
    done
    echo "no X display with openbox came up:" >&2
    cat "$display_dir/openbox.log" >&2 2> /dev/null || true
    return 1
}

stop_display_processes() {
    local pid
    for pid in "${display_pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    for pid in "${display_pids[@]}"; do wait "$pid" 2> /dev/null || true; done
    display_pids=()
}

stop_display() {
    stop_display_processes
    [ -z "$display_dir" ] || rm -rf "$display_dir"
    display_dir=""
}

start_session() {
    work=$(mktemp -d)
    pids=()
    trap end_session EXIT
}

end_session() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    stop_display
    wait 2> /dev/null || true
    rm -rf "$work"
}
