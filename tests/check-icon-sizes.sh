#!/bin/sh
# Checks a Windows icon file: it holds one square 32-bit image for each SIZE given and no
# other, each a PNG picture of the size its directory entry names.
#   check-icon-sizes.sh FILE.ico SIZE...
set -eu
ico=$1
shift
le() { od -An -tu1 -j"$2" -N"$3" "$1" | awk '{ v = 0; for (i = NF; i >= 1; i--) v = v * 256 + $i; print v }'; }
be32() { od -An -tu1 -j"$2" -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
fail() { echo "$ico: $*" >&2; exit 1; }

[ "$(le "$ico" 0 2)" = 0 ] && [ "$(le "$ico" 2 2)" = 1 ] || fail "not an icon file"
count=$(le "$ico" 4 2)
found=""
i=0
while [ "$i" -lt "$count" ]; do
  entry=$(( 6 + 16 * i ))
  width=$(le "$ico" "$entry" 1)
  height=$(le "$ico" $(( entry + 1 )) 1)
  [ "$width" = 0 ] && width=256
  [ "$height" = 0 ] && height=256
  [ "$width" = "$height" ] || fail "image $i is $width x $height"
  [ "$(le "$ico" $(( entry + 6 )) 2)" = 32 ] || fail "image $i is not 32 bits per pixel"
  offset=$(le "$ico" $(( entry + 12 )) 4)
  [ "$(od -An -c -j$(( offset + 1 )) -N3 "$ico" | tr -d ' ')" = PNG ] || fail "image $i is no PNG"
  [ "$(be32 "$ico" $(( offset + 16 )))" = "$width" ] && [ "$(be32 "$ico" $(( offset + 20 )))" = "$height" ] ||
    fail "image $i: its PNG is not $width x $height"
  found="$found $width"
  i=$(( i + 1 ))
done
found=$(echo $found | tr ' ' '\n' | sort -n | tr '\n' ' ')
expected=$(echo "$@" | tr ' ' '\n' | sort -n | tr '\n' ' ')
[ "$found" = "$expected" ] || fail "holds sizes [${found% }], expected [${expected% }]"
echo "$ico: sizes ${found% }"
