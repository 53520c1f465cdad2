#!/usr/bin/env bash
# Checks a kordel .deb the way a packager would: the files it holds, its dependencies,
# lintian (no errors allowed; warnings are shown), and the programs unpacked into a
# scratch root and run from there.
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
for size in 16 32 48 64 128 256; do
  f="usr/share/icons/hicolor/${size}x${size}/apps/kordel-update.png"
  grep -qx "\./$f" <<< "$files" || fail "missing $f"
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "== Depends: $depends"
for lib in libc6 libstdc++6 libqt6widgets6; do
  grep -q "$lib" <<< "$depends" || fail "Depends lacks $lib"
done

echo "== lintian"
lintian --fail-on error --info "$deb" || fail "lintian found errors"

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
