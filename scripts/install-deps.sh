#!/usr/bin/env bash
# Installs every Debian package that building, testing and the demo need.
# Idempotent: apt-get skips what is already there. Run as root (or through sudo).
# It installs packages and changes nothing else: apt's own configuration stays
# as it was (Qt's source for the Windows build is fetched by scripts/qt-windows.sh
# through an apt configuration of the project's own).
#   scripts/install-deps.sh           the Linux build, its tests and the demo
#   scripts/install-deps.sh windows   also the Windows cross build and Wine
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev libvulkan-dev
    # tests: the pattern reference, benchmarks, fuzzing and sanitizers
    qt6-5compat-dev libbenchmark-dev clang libclang-rt-14-dev llvm clang-format
    # running: platform plugins and sound
    qt6-qpa-plugins qt6-wayland libqt6multimedia6 gstreamer1.0-plugins-base
    fonts-dejavu-core
    # a desktop's dark theme, as Qt's GTK platform theme hands it on
    qt6-gtk-platformtheme
    # a real X server, a tray host and a user's hands
    xvfb xauth trayer xdotool x11-utils x11-apps x11-xserver-utils imagemagick
    # a private session bus, reading a tray item over it, a sound server, measurements
    dbus dbus-x11 python3 python3-gi gir1.2-glib-2.0
    pulseaudio pulseaudio-utils sox procps time
    # a loopback of a test's own, in a network namespace
    iproute2
    # panels we did not write: LXQt's under openbox, sway's waybar on Wayland
    lxqt-panel lxqt-themes openbox sway waybar grim xwayland
    # and GNOME Shell with its AppIndicator extension, run headless
    gnome-shell gnome-shell-extension-appindicator
    # and KDE Plasma's own shell: the desktop shell package brings its panel and
    # tray, kded5 the StatusNotifierWatcher, kactivitymanagerd what plasmashell asks for
    plasma-desktop plasma-workspace kded5 kactivitymanagerd
)
windows=0
if [ "${1:-}" = windows ]; then
    windows=1
    packages+=(
        # the cross compiler, Qt's source and the tools that build it
        g++-mingw-w64-x86-64-posix dpkg-dev xz-utils zip
        # running and driving the Windows program; Wine's Tahoma, as Windows has it
        wine wine64 fonts-wine
    )
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi

"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
