#!/usr/bin/env bash
# A Debian root of another release, made from Debian's archive and kept in
# ~/.cache/lookout/debian-<release> (made afresh once it is a week old), and
# Lookout's suite run in it: what CI uses to test Debian 13 on its Debian 12
# machine.
#
#   scripts/debian-root.sh [--release R] suite       every test, as root, then
#                                                    as an ordinary user (the
#                                                    Windows one with this
#                                                    checkout's Windows build,
#                                                    where R has Wine)
#   scripts/debian-root.sh [--release R] [--user] [--clone NAME] run COMMAND
#                                                    COMMAND in a fresh clone
#   scripts/debian-root.sh [--release R] [--user] [--clone NAME] shell
#   --keep: keep the clone NAME and its builds from the run before, and copy
#           this checkout's files that differ over it, uncommitted changes
#           included (the others keep their times, so builds stay current)
#
# R is trixie (Debian 13, the default), forky (Debian testing) or bookworm
# (Debian 12). Each command starts from a fresh clone of this checkout's HEAD:
# as root in /root/NAME, or with --user as lookout-newcomer (sudo allowed, home
# of mode 0700) in ~/NAME, with no display, as a newcomer would; NAME is
# lookout unless told (runs side by side need clones of their own). Needs root
# or sudo: the root is entered with pivot_root in a mount and PID namespace of
# its own, with /proc, /sys, /dev and a fresh /run and /tmp; not with chroot,
# in which the kernel refuses the user namespaces the tests' own networks are
# made of.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ "$(id -u)" -eq 0 ] || exec sudo -- "$0" "$@"

release=trixie as_user=0 name=lookout keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --release) release=$2 && shift 2 ;;
    --user) as_user=1 && shift ;;
    --clone) name=$2 && shift 2 ;;
    --keep) keep=1 && shift ;;
    *) break ;;
    esac
done
action=${1:-suite}
[ $# -eq 0 ] || shift
user=lookout-newcomer
cache="${XDG_CACHE_HOME:-$HOME/.cache}/lookout"
root="$cache/debian-$release"

make_root() {
    echo "debian-root: making a Debian $release root in $root: about 2 minutes; the packages the tests" \
        "need come next, inside it (about 1,100: 5 to 10 minutes on a fresh machine)"
    "$here/scripts/install-deps.sh" root
    rm -rf "$root.new" && mkdir -p "$cache"
    # No mirror named: mmdebstrap takes Debian's default archive, and for a stable release adds its updates and
    # security archives too.
    # Testing's Release file may be older than its Valid-Until date on a machine whose clock is ahead of the
    # archive's last signing: the root's own apt is told to take it, the machine's apt is left alone.
    local options=()
    [ "$release" != forky ] || options=(--aptopt='Acquire::Check-Valid-Until "false"')
    mmdebstrap --mode=root --variant=apt "${options[@]}" --include=sudo,git,ca-certificates,procps,passwd,mount \
        "$release" "$root.new"
    chroot "$root.new" useradd --create-home --shell /bin/bash "$user"
    chmod 700 "$root.new/home/$user"
    echo "$user ALL=(ALL) NOPASSWD: ALL" >"$root.new/etc/sudoers.d/$user"
    rm -rf "$root" && mv "$root.new" "$root"
    touch "$root/.made"
}
[ -f "$root/.made" ] && [ -z "$(find "$root/.made" -mtime +6)" ] || make_root

# in_root COMMAND: COMMAND run by bash in the root, as its PID 1 (which reaps
# what the tests leave behind), with this checkout at /mnt/lookout; a git
# worktree's repository, outside the checkout, at its own path.
in_root() {
    unshare --mount --pid --fork --propagation private -- bash -euc '
        root=$1 src=$2 command=$3 git=$4
        mount --bind "$root" "$root"
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --rbind /dev "$root/dev"
        # A booted machine has these: a fresh /run with the folders its services would make, a fresh /tmp.
        mount -t tmpfs -o mode=755 tmpfs "$root/run"
        mkdir -p "$root/run/dbus" "$root/run/systemd" "$root/run/lock" "$root/run/user"
        mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
        mkdir -p "$root/mnt/lookout"
        mount --bind -o ro "$src" "$root/mnt/lookout"
        if [ "$git" != "$src/.git" ]; then
            mkdir -p "$root$git" && mount --bind -o ro "$git" "$root$git"
        fi
        cp /etc/resolv.conf /etc/hosts "$root/etc/"
        cd "$root"
        # The old root put in a folder of this run only: two runs entering the root at once removed one folder twice.
        old=$(mktemp -d .old.XXXXXX)
        pivot_root . "$old"
        cd /
        umount -l "/$old"
        rmdir "/$old"
        exec env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
            ${CI:+CI=$CI} bash -c "$command; status=\$?; wait; exit \$status"
    ' _ "$root" "$here" "$1" "$(git -C "$here" rev-parse --path-format=absolute --git-common-dir)"
}

# As root or as the user, from a fresh clone of HEAD (made by root, which owns the checkout: git
# refuses to read another user's repository).
clone() {
    local fresh="rm -rf $1 && git clone --quiet /mnt/lookout $1"
    [ $keep = 0 ] || fresh="{ [ -d $1 ] || git clone --quiet /mnt/lookout $1; } &&
        (cd /mnt/lookout && git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
            cmp -s \"\$f\" \"$1/\$f\" || { mkdir -p \"\$(dirname \"$1/\$f\")\" && cp -P \"\$f\" \"$1/\$f\"; }; done)"
    # The suite's clones get the checkout's Windows build, for the Windows test under this release's Wine.
    [ "$action" != suite ] || fresh+=" && { [ ! -f /mnt/lookout/$windows_list ] || { mkdir -p $1/build-windows/package &&
        cp /mnt/lookout/$windows_list $1/$windows_list && cp /mnt/lookout/$windows_zip $1/$windows_zip; }; }"
    echo "$fresh && chown -R \$(stat -c %u:%g ${1%/*}) $1"
}
windows_list=build-windows/windows-list.exe windows_zip=build-windows/package/lookout-1.2-win64.zip
as_root() { in_root "$(clone "/root/$name") && cd /root/$name && $1"; }
as_newcomer() {
    in_root "$(clone "/home/$user/$name") && runuser -u $user -- env -i HOME=/home/$user USER=$user LOGNAME=$user \
        PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 ${CI:+CI=$CI} bash -c $(printf %q "cd ~/$name && $1")"
}

case $action in
suite)
    # Every test; the Windows one with the checkout's Windows build (scripts/windows.sh), under this release's
    # Wine, where there are both (Debian testing may have no Wine). A skip counts as a failure here, since the
    # root has every package.
    every_test="{ labels='-LE windows'
        [ ! -f $windows_list ] || ! command -v wine >/dev/null || labels=
        [ -z \"\$labels\" ] || echo 'debian-root: no Windows build or no Wine here: the Windows test is left out'
        ctest --preset \$preset \$labels | tee /tmp/ctest.log; [ \${PIPESTATUS[0]} = 0 ] && ! grep -F Skipped /tmp/ctest.log; }"
    wine="{ [ ! -f $windows_list ] || ! apt-cache policy wine | grep -q 'Candidate: [0-9]' || scripts/install-deps.sh wine; }"
    # A failure names the releases of the Qt, desktops and sound servers it ran with.
    versions() {
        echo "debian-root: Debian $release failed with:"
        in_root "dpkg-query -W -f '  \${Package} \${Version}\n' qt6-base-dev libqt6multimedia6 plasma-workspace kwin-x11 \
            kwin-wayland lxqt-panel openbox tint2 sway waybar xwayland gnome-shell gnome-shell-extension-appindicator \
            pulseaudio pipewire wine 2>/dev/null" || true
    }
    started=$SECONDS status=0
    echo "=== Debian $release, as root: every test of the ci build"
    as_root "scripts/install-deps.sh tests && $wine && preset=ci && cmake --preset ci && nice cmake --build --preset ci &&
        $every_test" ||
        status=1
    echo "=== Debian $release, as $user: every test of the default build"
    as_newcomer "preset=default && cmake --preset default && nice cmake --build --preset default && $every_test" ||
        status=1
    [ $status = 0 ] || versions
    echo "debian-root: the suite on Debian $release in $((SECONDS - started)) s"
    exit $status
    ;;
run)
    [ $# -gt 0 ] || { echo "debian-root: run needs a command" >&2; exit 2; }
    if [ $as_user = 1 ]; then as_newcomer "$*"; else as_root "$*"; fi
    ;;
shell)
    if [ $as_user = 1 ]; then as_newcomer 'exec bash -i'; else as_root 'exec bash -i'; fi
    ;;
*)
    echo "debian-root: suite, run or shell" >&2
    exit 2
    ;;
esac; exit # on the case's own line: a long run never reads on into this file edited meanwhile
