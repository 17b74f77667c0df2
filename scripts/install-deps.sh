#!/usr/bin/env bash
# Installs every Debian package that building, testing and the demo need.
# Idempotent: apt-get skips what is already there. Run as root (or through sudo).
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
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
