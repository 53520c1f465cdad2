#!/usr/bin/env bash
# Builds the Debian package and the Windows zip twice, from two clean clones of the
# committed HEAD at two different paths, and fails unless both give byte-identical
# files. SOURCE_DATE_EPOCH is left to make (the last commit's time), as for a user.
#   tools/check-reproducible.sh [TARGET...]     (default: package windows)
# The clones go to a scratch folder (KEEP=1 keeps it); the sums are printed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(package windows)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kordel-repro.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
unset SOURCE_DATE_EPOCH
# Each clone compiles everything itself: no object may come from the other's cache.
export CCACHE_DISABLE=1

clones=("$scratch/one/kordel" "$scratch/second-place/kordel-copy")
for clone in "${clones[@]}"; do
    git clone -q --no-local "$repo" "$clone"
    git -C "$clone" checkout -q "$(git -C "$repo" rev-parse HEAD)"
done
for clone in "${clones[@]}"; do
    echo "== make ${targets[*]} in $clone"
    for target in "${targets[@]}"; do
        make -C "$clone" --no-print-directory "$target" >"$clone.$target.log" 2>&1 ||
            { tail -40 "$clone.$target.log"; echo "check-reproducible: make $target failed in $clone"; exit 1; }
    done
done

shipped() { (cd "$1" && ls build-release/kordel_*.deb build-windows/kordel-*-win64.zip 2>/dev/null); }
status=0
files=$(shipped "${clones[0]}")
[ -n "$files" ] || { echo "check-reproducible: nothing was built"; exit 1; }
for file in $files; do
    sums=()
    for clone in "${clones[@]}"; do
        sums+=("$(sha256sum "$clone/$file" | cut -d' ' -f1)")
        echo "${sums[-1]}  $clone/$file"
    done
    if [ "${sums[0]}" = "${sums[1]}" ]; then
        echo "same: $file"
    else
        echo "DIFFERENT: $file"
        status=1
        if command -v diffoscope >/dev/null; then
            diffoscope "${clones[0]}/$file" "${clones[1]}/$file" | head -60 || true
        fi
    fi
done
exit $status
