#!/bin/sh
# Wraps PNG pictures into one Windows icon file, one PNG-compressed image each (which
# Windows reads since Vista), so that Explorer, the taskbar and Alt+Tab each find their
# size instead of scaling one: png-to-ico.sh OUT.ico IN.png [IN.png...]
set -eu
out=$1
shift
[ $# -ge 1 ] || { echo "usage: png-to-ico.sh OUT.ico IN.png [IN.png...]" >&2; exit 2; }
# Width and height are the big-endian words at bytes 16 and 20 of the IHDR chunk.
be32() { od -An -tu1 -j"$2" -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
byte() { printf "\\$(printf '%03o' $(( $1 & 255 )))"; }
le16() { byte "$1"; byte $(( $1 >> 8 )); }
le32() { le16 $(( $1 & 65535 )); le16 $(( $1 >> 16 )); }
for in in "$@"; do
  [ "$(od -An -c -j1 -N3 "$in" | tr -d ' ')" = PNG ] || { echo "$in: not a PNG picture" >&2; exit 1; }
  [ "$(be32 "$in" 16)" -le 256 ] && [ "$(be32 "$in" 20)" -le 256 ] ||
    { echo "$in: larger than 256 pixels" >&2; exit 1; }
done
{
  le16 0; le16 1; le16 $#                    # an icon file with $# images
  offset=$(( 6 + 16 * $# ))                  # the PNGs follow the header and directory
  for in in "$@"; do
    width=$(be32 "$in" 16)
    height=$(be32 "$in" 20)
    size=$(wc -c < "$in")
    byte "$width"; byte "$height"            # 256 is written as 0
    byte 0; byte 0; le16 1; le16 32          # true colour, one plane, 32 bits
    le32 "$size"; le32 "$offset"
    offset=$(( offset + size ))
  done
  cat "$@"
} > "$out.tmp"
mv "$out.tmp" "$out"
