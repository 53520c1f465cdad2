#!/usr/bin/env bash
# Times kordel-flash.exe under wine against kordel-sim: one port, then 8 ports at once.
#   bench.sh kordel-flash.exe ROUNDS
source "$(dirname "$0")/lib.sh"
flash=$1
rounds=${2:-5}
prepare_prefix
ports=(COM11 COM12 COM13 COM14 COM15 COM16 COM17 COM18)
for com in "${ports[@]}"; do start_sim "$com"; done

server_pid=$(pgrep -n -f "wineserver.*-p" || true)
# Processor seconds the wineserver has used so far (it serves every port call).
server_cpu() {
    [ -n "$server_pid" ] || { echo 0; return; }
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$server_pid/stat"
}

calc() { awk "BEGIN { print $1 }"; }

# timed ARGS...: runs kordel-flash.exe; sets wall, cpu (the program's user+sys) and
# server (the wineserver's share).
timed() {
    local before after
    before=$(server_cpu)
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$WINE" "$flash" "$@" >"$work/out" 2>&1 ||
        { cat "$work/out"; exit 1; }
    after=$(server_cpu)
    read -r wall user sys <"$work/time"
    cpu=$(calc "$user + $sys")
    server=$(calc "$after - $before")
}

blocks=$("$WINE" "$flash" --info | tr -d '\r' | sed -n 's/.* in \([0-9]*\) blocks$/\1/p')
floor=$(calc "(20 + 20 + 100 + 25 * $blocks + 200) / 1000")

timed --version
startup=$wall
timed --port COM11 --repeat "$rounds" --quiet
one=$(calc "($wall - $startup) / $rounds")
one_cpu=$(calc "($cpu + $server) / $rounds")

args=()
for com in "${ports[@]}"; do args+=(--port "$com"); done
timed "${args[@]}" --repeat "$rounds" --quiet
eight=$(calc "($wall - $startup) / $rounds")
eight_cpu=$(calc "($cpu + $server) / $rounds / ${#ports[@]}")

printf 'image: %s blocks; protocol floor %.3f s; wine start-up %.2f s (subtracted)\n' "$blocks" "$floor" "$startup"
printf 'one port:  %.3f s per update, %.2f x floor; CPU %.3f s per update (program + wineserver)\n' \
    "$one" "$(calc "$one / $floor")" "$one_cpu"
printf '8 ports:   %.3f s per round of 8 updates, %.2f x one port; CPU %.3f s per update\n' \
    "$eight" "$(calc "$eight / $one")" "$eight_cpu"
