#!/usr/bin/env bash
# Installs the Debian packages of the sets named, on Debian 12 or 13:
#   build     building and running Lookout (always installed)
#   demo      what scripts/demo.sh adds without a display: a virtual screen,
#             a tray, a user's hands and screenshots
#   tests     everything the Linux tests add (demo's set included)
#   windows   the Windows cross build, Qt's source for it, and Wine to run it
#   wine      Wine alone, to run a Windows build made elsewhere
#   root      what scripts/debian-root.sh needs to make a Debian root
# for instance: scripts/install-deps.sh tests windows
# Idempotent: when every package is there it says so and changes nothing; only
# when one is missing does it update apt's indexes and install, without
# recommends. Run as root or through sudo. It installs packages and changes
# nothing else: apt's own configuration stays as it was (Qt's source for the
# Windows build is fetched by scripts/qt-windows.sh through an apt
# configuration of the project's own).
set -euo pipefail

# Where one name does not serve both releases, the release picks. Debian 13
# (and anything newer) has Plasma 6, whose StatusNotifierWatcher is kded6's;
# KWin there is for the Plasma 6 tests, which run it as the window manager,
# and kscreen-doctor changes its outputs through its output management.
# shellcheck source=/dev/null
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case $release in
bookworm) plasma=(kded5) ;;
*) plasma=(kded6 kwin-x11 kwin-wayland libkscreen-bin) ;;
esac

build=(
    cmake ninja-build g++ pkgconf
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev libvulkan-dev
    # the screens as X tells them, for the bubble's corner
    libxcb1-dev libxcb-randr0-dev
    # running: platform plugins, a font, and sound (Qt Multimedia plays through
    # PulseAudio's client library; no GStreamer plugin is needed)
    qt6-qpa-plugins qt6-wayland libqt6multimedia6 fonts-dejavu-core
)
demo=(
    # an X server, a panel with a tray (tint2), a user's hands, window lists and screenshots
    xvfb xauth tint2 xdotool x11-utils x11-xserver-utils imagemagick procps
)
tests=(
    "${demo[@]}"
    # the pattern reference, benchmarks, fuzzing and sanitizers
    qt6-5compat-dev libbenchmark-dev clang libclang-rt-dev llvm clang-format
    # a desktop's dark theme, as Qt's GTK platform theme hands it on
    qt6-gtk-platformtheme x11-apps
    # a private session bus, reading a tray item over it, sound servers (PulseAudio, PipeWire), measurements
    dbus dbus-x11 libglib2.0-bin python3 python3-gi gir1.2-glib-2.0
    pulseaudio pulseaudio-utils pipewire-bin pipewire-pulse wireplumber sox time
    # a loopback of a test's own, in a network namespace
    iproute2
    # panels we did not write: LXQt's under openbox, sway's waybar on Wayland;
    # a game's full-screen window in front of them, the clipboard read back, a
    # settings daemon that changes the scale
    lxqt-panel lxqt-themes openbox sway waybar grim xwayland wmctrl xclip xsettingsd
    # and GNOME Shell with its AppIndicator extension, run headless
    gnome-shell gnome-shell-extension-appindicator
    # and KDE Plasma's own shell: the desktop shell package brings its panel and
    # tray, kded the StatusNotifierWatcher, kactivitymanagerd what plasmashell asks for
    plasma-desktop plasma-workspace kactivitymanagerd "${plasma[@]}"
)
wine=(
    # running and driving the Windows program; Wine's Tahoma, as Windows has it
    wine wine64 fonts-wine unzip
)
windows=(
    # the cross compiler, Qt's source and the tools that build it, the zip
    g++-mingw-w64-x86-64-posix dpkg-dev xz-utils zip
    "${wine[@]}"
)
root=(mmdebstrap)

packages=("${build[@]}") sets=build
for set in "$@"; do
    [ "$set" = build ] || sets+=" $set"
    case $set in
    build) ;;
    demo) packages+=("${demo[@]}") ;;
    tests) packages+=("${tests[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    wine) packages+=("${wine[@]}") ;;
    root) packages+=("${root[@]}") ;;
    *)
        echo "install-deps: no set \"$set\" (build, demo, tests, windows, wine, root)" >&2
        exit 2
        ;;
    esac
done
# A here-string, not a process substitution: a chroot may have no /dev/fd.
readarray -t packages <<<"$(printf '%s\n' "${packages[@]}" | sort -u)"

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages of $sets are installed"
    exit 0
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "install-deps: installing ${#missing[@]} of the ${#packages[@]} packages of $sets, with what they depend on"
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
