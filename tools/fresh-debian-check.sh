#!/usr/bin/env bash
# Proves that make targets install what they need on a fresh Debian 12: makes a minimal
# root with debootstrap, installs only make and git in it, clones the repository's
# committed HEAD into it and runs the targets there as root, as CI does.
#
#   tools/fresh-debian-check.sh [options] [TARGET...]
#
# Without targets it runs .ci/run (what CI runs); with targets it runs `make TARGET` for
# each, in order, with warnings as errors as in CI. A target may carry variables:
# "fuzz FUZZ_SECONDS=10". Each step's time goes to the log and to the summary.
#
#   -d, --dir DIR         make the root in DIR (empty or missing; default a new folder
#                         under /var/tmp)
#   -r, --repo PATH       the repository to clone (default: the one holding this script)
#   -m, --mirror URL      the Debian mirror (default http://deb.debian.org/debian)
#       --debs DIR        keep downloaded packages in DIR (debootstrap's and apt's), so a
#                         second run downloads less; the root is still made anew
#   -k, --keep            keep the root afterwards (default: removed when all passed)
#   -c, --continue DIR    go on in a root this script made and kept (say, after a failed
#                         step): the packages installed so far stay, the repository is
#                         cloned anew, and only the given targets run, as the later steps
#                         of CI would
#   -h, --help            this text
#
# The targets run with LANG from the caller (C.UTF-8 when unset), as on CI's machine.
# Needs root, debootstrap and unshare (util-linux). The mounts (proc, sys, dev, a pty
# instance of its own, /dev/shm) live in a mount namespace of their own and vanish with
# it; nothing outside DIR is changed.
set -euo pipefail

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; }
die() { echo "fresh-debian-check: $*" >&2; exit 2; }

root_dir=""
repo=$(cd "$(dirname "$0")/.." && pwd)
mirror=http://deb.debian.org/debian
debs=""
keep=0
continue_in=""
targets=()
while [ $# -gt 0 ]; do
    case $1 in
        -d|--dir) root_dir=${2:?$1 needs a folder}; shift ;;
        -r|--repo) repo=${2:?$1 needs a path}; shift ;;
        -m|--mirror) mirror=${2:?$1 needs a URL}; shift ;;
        --debs) debs=${2:?$1 needs a folder}; shift ;;
        -k|--keep) keep=1 ;;
        -c|--continue) continue_in=${2:?$1 needs a folder}; shift ;;
        -h|--help) usage; exit 0 ;;
        --) shift; targets+=("$@"); break ;;
        -*) die "unknown option $1 (see --help)" ;;
        *) targets+=("$1") ;;
    esac
    shift
done

[ "$(id -u)" = 0 ] || die "needs root (debootstrap, chroot and mounts)"
for tool in debootstrap unshare chroot git; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
git -C "$repo" rev-parse --verify -q HEAD >/dev/null || die "$repo: not a git repository with a commit"
if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
    echo "fresh-debian-check: $repo has uncommitted changes; the check uses the last commit only" >&2
fi

if [ -n "$continue_in" ]; then
    root_dir=$(cd "$continue_in" && pwd)
    [ -x "$root_dir/usr/bin/make" ] && [ -x "$root_dir/usr/bin/git" ] ||
        die "$root_dir is no root made by this script (no make and git in it)"
    [ ${#targets[@]} -gt 0 ] || die "--continue needs the targets to run"
elif [ -z "$root_dir" ]; then
    root_dir=$(mktemp -d /var/tmp/fresh-debian.XXXXXX)
    # The root's / as on a real machine: mktemp makes it 0700, and the tests that run a
    # program as another user (uid 65534) could not reach its libraries.
    chmod 755 "$root_dir"
else
    mkdir -p "$root_dir"
    [ -z "$(ls -A "$root_dir")" ] || die "$root_dir is not empty"
    root_dir=$(cd "$root_dir" && pwd)
fi
if [ -n "$debs" ]; then
    mkdir -p "$debs"
    debs=$(cd "$debs" && pwd)
fi
log="$root_dir.log"
[ -z "$continue_in" ] || log="$root_dir.$(date +%H%M%S).log"
: >"$log"
echo "fresh-debian-check: root $root_dir, log $log"

say() { echo "$*" | tee -a "$log"; }
summary=()
timed() {
    local what=$1 start=$SECONDS rc=0
    shift
    say "=== $what"
    "$@" >>"$log" 2>&1 || rc=$?
    local took=$((SECONDS - start))
    summary+=("$(printf '%-40s %s  %dm%02ds' "$what" "$([ $rc = 0 ] && echo ok || echo FAILED)" $((took / 60)) $((took % 60)))")
    say "=== $what: $([ $rc = 0 ] && echo ok || echo "FAILED (status $rc)") in ${took} s"
    return $rc
}

bootstrap() {
    debootstrap --variant=minbase ${debs:+--cache-dir="$debs"} bookworm "$root_dir" "$mirror"
    # The same suites as an installed system: updates and security fixes.
    local security=${mirror%/debian}/debian-security
    cat >"$root_dir/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
    cp /etc/resolv.conf "$root_dir/etc/resolv.conf"
    # No package starts a service inside the root.
    printf '#!/bin/sh\nexit 101\n' >"$root_dir/usr/sbin/policy-rc.d"
    chmod 755 "$root_dir/usr/sbin/policy-rc.d"
    # The repository's committed HEAD, as a bundle the root clones from.
    git -C "$repo" bundle create "$root_dir/tmp/source.bundle" HEAD
}

# in_root COMMAND: runs COMMAND (a shell line) as root in the root with a plain
# environment, the kernel interfaces mounted in a private mount namespace.
in_root() {
    unshare --mount --propagation private -- bash -euo pipefail -c '
        r=$1
        mount -t proc proc "$r/proc"
        mount -t sysfs sys "$r/sys"
        mount --rbind /dev "$r/dev"
        mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$r/dev/pts"
        mount --bind "$r/dev/pts/ptmx" "$r/dev/ptmx"
        mount -t tmpfs -o mode=1777 shm "$r/dev/shm"
        if [ -n "$3" ]; then mount --bind "$3" "$r/var/cache/apt/archives"; fi
        exec chroot "$r" /usr/bin/env -i HOME=/root TERM=dumb CI=true LANG="$4" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            bash -euo pipefail -c "$2"' bash "$root_dir" "$1" "$debs" "$lang"
}

# The caller's language, as CI's machine passes its own (C.UTF-8 there): without one,
# wine cannot give a file a name beyond ASCII.
lang=${LANG:-C.UTF-8}
commit=$(git -C "$repo" log -1 --format='%h %s' HEAD)
status=0
if [ -n "$continue_in" ]; then
    rm -rf "$root_dir/root/kordel"
    git -C "$repo" bundle create "$root_dir/tmp/source.bundle" HEAD
else
    timed "debootstrap --variant=minbase bookworm" bootstrap || status=1
    if [ $status = 0 ]; then
        timed "apt-get install make git" in_root \
            'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq make git' ||
            status=1
    fi
fi
if [ $status = 0 ]; then
    timed "git clone" in_root 'git clone -q /tmp/source.bundle /root/kordel' || status=1
fi
if [ $status = 0 ]; then
    if [ ${#targets[@]} = 0 ]; then
        timed "bash .ci/run" in_root 'cd /root/kordel && bash .ci/run' || status=1
    else
        for target in "${targets[@]}"; do
            timed "make $target" in_root \
                "cd /root/kordel && make $target CMAKE_ARGS=-DKORDEL_WERROR=ON" || { status=1; break; }
        done
    fi
fi

echo
echo "fresh-debian-check: $commit"
printf '  %s\n' "${summary[@]}"
if [ $status = 0 ] && [ $keep = 0 ]; then
    rm -rf --one-file-system "$root_dir"
    echo "fresh-debian-check: all passed (root removed; log $log)"
else
    echo "fresh-debian-check: $([ $status = 0 ] && echo "all passed" || echo FAILED); root kept in $root_dir, log $log"
fi
exit $status
