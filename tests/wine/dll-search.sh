#!/usr/bin/env bash
# Each program limits its DLL search to System32 before it does anything else: under
# wine's relay log of the calls the program itself makes, its first call that loads a
# library, opens a file or reads its command line is
# SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800), and it succeeds.
#   dll-search.sh PROGRAM.exe...
source "$(dirname "$0")/lib.sh"
prepare_prefix

# Only these calls are logged (wine reads the list from the prefix's registry).
watched="SetDefaultDllDirectories LoadLibraryA LoadLibraryW LoadLibraryExA LoadLibraryExW CreateFileW GetCommandLineW"
key='HKCU\Software\Wine\Debug'
include=$(for call in $watched; do printf 'kernel32.%s;kernelbase.%s;' "$call" "$call"; done)
"$WINE" reg add "$key" /v RelayInclude /d "${include%;}" /f >/dev/null 2>&1
trap '"$WINE" reg delete "$key" /v RelayInclude /f >/dev/null 2>&1; cleanup' EXIT

for program in "$@"; do
    name=${program##*/}
    # --version answers at once, without a window.
    WINEDEBUG=-all,+relay "$WINE" "$program" --version >/dev/null 2>"$work/relay" || true
    # The program's own calls: those that return into its image (wine loads it at its
    # preferred base, 0x140000000).
    first=$(grep -E '^[0-9a-f]+:Call KERNEL(32|BASE)\.[A-Za-z]+\(.*\) ret=1400[0-9a-f]{5}$' "$work/relay" | head -n 1)
    case $first in
        *"SetDefaultDllDirectories(00000800)"*) pass "$name: first SetDefaultDllDirectories(0x800)" ;;
        "") fail "$name: none of its calls ($watched) in wine's relay log" ;;
        *) fail "$name: its first call is not SetDefaultDllDirectories(0x800): ${first#*:Call }" ;;
    esac
    expect_eq "$name: SetDefaultDllDirectories succeeds" 1 \
        "$(grep -c 'Ret  KERNEL32.SetDefaultDllDirectories() retval=00000001 ret=1400' "$work/relay")"
done
finish
