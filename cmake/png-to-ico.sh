#!/bin/sh
# Wraps one PNG picture into a Windows icon file (one PNG-compressed image, which
# Windows reads since Vista): png-to-ico.sh IN.png OUT.ico
set -eu
in=$1
out=$2
# Width and height are the big-endian words at bytes 16 and 20 of the IHDR chunk.
be32() { od -An -tu1 -j"$1" -N4 "$in" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
width=$(be32 16)
height=$(be32 20)
size=$(wc -c < "$in")
[ "$width" -le 256 ] && [ "$height" -le 256 ] || { echo "$in: larger than 256 pixels" >&2; exit 1; }
byte() { printf "\\$(printf '%03o' $(( $1 & 255 )))"; }
le16() { byte "$1"; byte $(( $1 >> 8 )); }
le32() { le16 $(( $1 & 65535 )); le16 $(( $1 >> 16 )); }
{
  le16 0; le16 1; le16 1                      # icon file with one image
  byte $(( width & 255 )); byte $(( height & 255 ))  # 256 is written as 0
  byte 0; byte 0; le16 1; le16 32             # true colour, one plane, 32 bits
  le32 "$size"; le32 22                       # the PNG follows the 22-byte header
  cat "$in"
} > "$out.tmp"
mv "$out.tmp" "$out"
