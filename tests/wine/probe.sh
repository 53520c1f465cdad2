# Sourced after lib.sh by the scripts that drive kordel-update.exe: reading its windows
# and controls through window-probe.exe (tests/win32/WindowProbe.cpp), and pressing
# them with the mouse. Needs probe_exe set.
probe_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The control identifiers, read from the window's own header: IdButStart=107 and so on.
eval "$(awk '/enum ControlId/ { on = 1; next } on && /};/ { exit }
    on && match($0, /Id[A-Za-z0-9]+/) {
        name = substr($0, RSTART, RLENGTH)
        if (match($0, /= *[0-9]+/)) n = substr($0, RSTART + 1) + 0; else n++
        print name "=" n
    }' "$probe_dir/../../ui/win32/WindowNames.h")"
[ -n "${IdButStart:-}" ] || { echo "no control identifiers in ui/win32/WindowNames.h" >&2; exit 1; }
But1=$((IdMsgButtonBase + 1))

# ---------------------------------------------------------------- reading the windows
# probe CLASS...: the records of the windows of these classes into $work/probe, from
# one probe that keeps running (a wine process takes a second to start on a busy machine).
start_probe() { coproc probe_server { exec "$WINE" "$probe_exe" --serve 2>/dev/null; }; }
probe() {
    echo "$*" >&"${probe_server[1]}"
    : >"$work/probe"
    local line
    while IFS= read -r -t 30 line <&"${probe_server[0]}"; do
        line=${line%$'\r'}
        [ "$line" != end ] || return 0
        echo "$line" >>"$work/probe"
    done
    fail "the probe stopped answering"
    finish
}
# records_of CLASS: the last probe's records of that window and its children.
records_of() { awk -v head="window class=$1 " '/^window / { on = index($0, head) == 1 } on' "$work/probe"; }
# record PREFIX: the first record of the last probe that starts with PREFIX.
record() { grep -m1 -- "^$1" "$work/probe" || true; }
control() { record "child id=$1 "; }
# field NAME RECORD: one field's value; text and title run to the end of the record.
field() {
    case $1 in
        text | title) [[ $2 != *" $1="* ]] || echo "${2#* $1=}" ;;
        *) local fields=${2%% text=*}
           fields=${fields%% title=*}
           sed -n "s/.* $1=\\([^ ]*\\).*/\\1/p" <<<"$fields" ;;
    esac
}
text_of() { field text "$(control "$1")"; }
main_visible() { probe TMain; [ "$(field visible "$(record 'window class=TMain')")" = 1 ]; }
status_is() { probe TMain; [ "$(text_of "$IdSBar")" = "$1" ]; }
# The error dialog (the main window is probed with it).
dialog_visible() { probe TMsgBox TMain; [ "$(field visible "$(record 'window class=TMsgBox')")" = 1 ]; }
dialog_hidden() { probe TMsgBox TMain; [ "$(field visible "$(record 'window class=TMsgBox')")" = 0 ]; }
# The screen point at the centre of a control of the last probe.
centre_of() {
    local l t r b
    IFS=, read -r l t r b <<<"$(field rect "$(control "$1")")"
    echo "$(((l + r) / 2)) $(((t + b) / 2))"
}
click_control() {
    local x y
    read -r x y <<<"$(centre_of "$1")"
    xdotool mousemove "$x" "$y" click 1
}
