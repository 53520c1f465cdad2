#!/usr/bin/env bash
# Checks a kordel .deb the way a packager would: the files it holds, its dependencies,
# lintian (no errors allowed; warnings and info tags are shown), the programs unpacked
# into a scratch root, hardened (hardening-check: no "no") and run from there.
#   check-package.sh PACKAGE.deb [...]   (the newest one is checked)
set -euo pipefail
deb=$(ls -t "$@" | head -n 1)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

echo "== $deb"
dpkg-deb -c "$deb"
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in usr/bin/kordel-update usr/bin/kordel-flash usr/bin/kordel-sim \
         usr/share/man/man1/kordel-update.1.gz usr/share/man/man1/kordel-flash.1.gz \
         usr/share/man/man1/kordel-sim.1.gz usr/share/applications/kordel-update.desktop \
         usr/share/doc/kordel/copyright usr/share/doc/kordel/changelog.gz; do
  grep -qx "\./$f" <<< "$files" || fail "missing $f"
done
for size in 16 24 32 48 64 128 256; do
  f="usr/share/icons/hicolor/${size}x${size}/apps/kordel-update.png"
  grep -qx "\./$f" <<< "$files" || fail "missing $f"
done

# The licence in the machine-readable copyright format: MIT, with its text.
copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/kordel/copyright)
for line in "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
            "Files: \*" "License: MIT" " Permission is hereby granted, free of charge, .*"; do
  grep -qx "$line" <<< "$copyright" || fail "copyright has no line [$line]"
done
# The changelog is signed by the package's maintainer.
maintainer=$(dpkg-deb -f "$deb" Maintainer)
echo "== Maintainer: $maintainer"
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/kordel/changelog.gz | zcat |
  grep -qF -- " -- $maintainer  " || fail "the changelog is not signed by $maintainer"

depends=$(dpkg-deb -f "$deb" Depends)
echo "== Depends: $depends"
for lib in libc6 libstdc++6 libqt6widgets6; do
  grep -q "$lib" <<< "$depends" || fail "Depends lacks $lib"
done

echo "== lintian"
lintian --fail-on error --display-info --info "$deb" || fail "lintian found errors"

echo "== installed into the scratch root $root"
# dpkg with its own database in the scratch root; the libraries the package depends
# on are the host's, so the dependencies are not looked for there.
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
as_root=()
[ "$(id -u)" = 0 ] || as_root=(fakeroot)
"${as_root[@]}" dpkg --root="$root" --force-not-root --force-depends --log=/dev/null \
  -i "$deb" 2>&1 | grep -v "^ \|dependency problems\|is not installed" || true
dpkg --root="$root" -s kordel | grep -qx "Status: install ok installed" ||
  fail "dpkg did not install the package into the scratch root"
echo "== hardening-check"
programs=("$root"/usr/bin/kordel-update "$root"/usr/bin/kordel-flash "$root"/usr/bin/kordel-sim)
command -v hardening-check >/dev/null || fail "hardening-check is not installed (package devscripts)"
# Debian 12's C start files (Scrt1.o, crti.o, crtn.o) carry no CET note, so the linker
# marks no program of the release as IBT/SHSTK-ready (hardening-check says "Control flow
# integrity: no" for /usr/bin/ls too). -fcf-protection is checked on the code instead:
# its functions start with an endbr64 landing pad (a build without it has two or so).
hardening=$(hardening-check --nocfprotection "${programs[@]}" 2>&1 || true)
echo "$hardening"
[ "$(grep -c "Stack protected:" <<< "$hardening")" = ${#programs[@]} ] ||
  fail "hardening-check did not check all ${#programs[@]} programs"
weak=$(grep -E ': no\b' <<< "$hardening" | grep -v "Control flow integrity" || true)
[ -z "$weak" ] || fail "programs without hardening:"$'\n'"$weak"
for program in "${programs[@]}"; do
  pads=$(objdump -d --no-show-raw-insn "$program" | grep -c endbr64 || true)
  echo "$(basename "$program"): $pads endbr64 landing pads"
  [ "$pads" -ge 50 ] || fail "$(basename "$program") has no control-flow protection (-fcf-protection)"
done
version=$(dpkg-deb -f "$deb" Version)
for program in kordel-flash kordel-sim; do
  line=$("$root/usr/bin/$program" --version)
  echo "$line"
  [[ $line == "$program $version (firmware "* ]] || fail "$program --version: $line"
done
# Captured first: grep -q ending early would break the pipe under pipefail.
run=$("$root/usr/bin/kordel-flash" --quiet --sim) || fail "kordel-flash --sim failed: $run"
grep -qx "Update OK" <<< "$run" || fail "kordel-flash --sim: $run"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 > /dev/null || true)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  grep -q "$version" <(zcat "$page") || fail "$(basename "$page") does not name version $version"
done
echo "check-package: $deb is fine"
