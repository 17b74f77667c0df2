#!/usr/bin/env bash
# Installs every Debian package that building, testing and the demo need.
# Idempotent: apt-get skips what is already there. Run as root (or through sudo).
#   scripts/install-deps.sh           the Linux build, its tests and the demo
#   scripts/install-deps.sh windows   also the Windows cross build and Wine, and
#                                     a deb-src entry so that apt-get source works
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
windows=0
if [ "${1:-}" = windows ]; then
    windows=1
    packages+=(
        # the cross compiler, Qt's source and the tools that build it
        g++-mingw-w64-x86-64-posix dpkg-dev xz-utils zip
        # running and driving the Windows program
        wine wine64
    )
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

# apt-get source needs a deb-src entry for the archive that the binaries come
# from. Add one beside the deb entry, once, in the form the machine uses.
need_update=0
if [ "$windows" = 1 ] && ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    sources=/etc/apt/sources.list.d/debian.sources
    if [ -f "$sources" ] && grep -q '^Types: deb$' "$sources"; then
        # deb822: the first stanza (the main archive) gets deb-src too
        "${sudo[@]}" sed -i '0,/^Types: deb$/s//Types: deb deb-src/' "$sources"
    else
        line=$(grep -hE '^deb [^ ]*debian[^ ]* ' /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1)
        [ -n "$line" ] || line='deb http://deb.debian.org/debian bookworm main'
        echo "deb-src ${line#deb }" | "${sudo[@]}" tee /etc/apt/sources.list.d/lookout-src.list >/dev/null
    fi
    need_update=1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    [ "$need_update" = 0 ] || "${sudo[@]}" apt-get update
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi

"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
