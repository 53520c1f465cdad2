#!/usr/bin/env bash
# What the shipped Windows programs ask of the loader, read from the files with mingw's
# binutils (no wine needed):
#   binary-checks.sh OBJDUMP NM PROGRAM.exe...
# - every DLL a program imports is a KnownDLL, which Windows maps from System32 only,
#   so that no file of that name beside the program (a downloads folder) is loaded
#   in its place: comctl32 comes through the manifest, the rest at run time;
# - address-space layout randomisation (with 64-bit entropy) and no executable data;
# - the stack protector is compiled in.
set -uo pipefail
objdump=$1 nm=$2
shift 2

# The KnownDLLs of Windows 10 and 11 (HKLM\SYSTEM\CurrentControlSet\Control\Session
# Manager\KnownDLLs), lower case; Windows 7 and 8 list a subset of the ones used here.
known_dlls=(advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32
    kernel32 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore
    shell32 shlwapi user32 wldap32 ws2_32)
known=" ${known_dlls[*]/%/.dll} "

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for program in "$@"; do
    name=${program##*/}
    headers=$("$objdump" -p "$program") || { fail "$name: objdump cannot read it"; continue; }
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
    echo "$name imports: $(echo $imports)"
    [ -n "$imports" ] || fail "$name: no import list"
    for dll in $imports; do
        [[ $known == *" $dll "* ]] || fail "$name imports $dll, which a file beside the program could replace"
    done
    for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
        grep -qw "$flag" <<<"$headers" || fail "$name: $flag is not set"
    done
    symbols=$("$nm" "$program") || { fail "$name: nm cannot read it"; continue; }
    grep -qw __stack_chk_fail <<<"$symbols" || fail "$name: no stack protector (__stack_chk_fail)"
done
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
