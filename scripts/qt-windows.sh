#!/usr/bin/env bash
# Builds a static, minimal Qt for 64-bit Windows (win32-g++, MinGW-w64) from
# Debian's own qt6-base source, and installs it into a cache folder outside the
# clone, keyed by the source version:
#   ${XDG_CACHE_HOME:-~/.cache}/lookout/qt-<version>-win64
# Idempotent: a complete install (its .complete stamp is written last) is
# reused at once; an interrupted build goes on where it stopped. Once the
# install is complete, only it stays in the cache (about 100 MB).
# It says at its start how long a build usually takes (see took= below); while
# it runs, a line a minute on standard error says how far along it is
# (scripts/progress.sh), and every error is shown whole.
# Prints the prefix on its last line. Needs: scripts/install-deps.sh windows.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/lookout"

# Qt's source comes through an apt configuration of our own, in the cache: its
# own deb-src list, made from the machine's Debian entries, and its own index
# folders, so that neither /etc/apt nor the machine's indexes change and no root
# is needed. The version is that of the host Qt installed, which the build uses.
version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null) || version=
if [ -z "$version" ]; then
    echo "qt-windows: qt6-base-dev is not installed: run scripts/install-deps.sh windows" >&2
    exit 1
fi
apt_dir="$cache/apt"
src_apt() {
    apt-get -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts" \
        -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User="$(id -un)" "$@"
}
fetch_source() { # into the current folder
    local list uri
    mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    # One-line entries and deb822 stanzas of Debian's own archives, each as its deb-src twin.
    list=$(
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            sed -n -E 's|^deb( +\[[^]]*\])? +([^ ]*/debian(-security)?/?) |deb-src\1 \2 |p'
        for f in /etc/apt/sources.list.d/*.sources; do
            [ ! -f "$f" ] || awk -v RS= -v ORS='\n\n' '/(^|\n)Types:[^\n]*deb/ && /(^|\n)URIs:[^\n]*\/debian(-security)?\/?(\n| |$)/ &&
                !/(^|\n)Enabled: *no/' "$f" | sed -E 's/^Types:.*/Types: deb-src/'
        done
    )
    # None of Debian's own (a mirror under another path): the release's main from the first archive apt has.
    if [ -z "$list" ]; then
        uri=$(
            cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | sed -n -E 's|^deb( +\[[^]]*\])? +([^ ]+) .*|\2|p'
            cat /etc/apt/sources.list.d/*.sources 2>/dev/null | sed -n -E 's|^URIs: *([^ ]+).*|\1|p'
        )
        uri=$(head -n 1 <<<"$uri")
        [ -n "$uri" ] || { echo "qt-windows: apt's sources name no archive to fetch Qt's source from" >&2; exit 1; }
        list="deb-src $uri $(. /etc/os-release && echo "$VERSION_CODENAME") main"
    fi
    # deb822 stanzas and one-line entries cannot share a file: each kind goes where apt reads it.
    printf '%s\n' "$list" | grep '^deb-src' >"$apt_dir/sources.list" || true
    printf '%s\n' "$list" | grep -v '^deb-src' >"$apt_dir/parts/debian.sources" || true
    [ -s "$apt_dir/parts/debian.sources" ] || rm -f "$apt_dir/parts/debian.sources"
    src_apt -q update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log" >&2; exit 1; }
    src_apt -q source "qt6-base=$version"
}
prefix="$cache/qt-$version-win64"
if [ -f "$prefix/.complete" ]; then
    echo "qt-windows: reusing $prefix"
    echo "$prefix"
    exit 0
fi

# Everything Lookout needs (Core, Gui, Widgets, Network, the windows platform
# plugin) and nothing else. Fonts through GDI: in Qt 6.4 direct2d off with
# directwrite3 on fails at the program's link. Debian's source has no
# 3rdparty/wintab, hence no tablet events.
flags=(
    -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32-
    -qt-host-path /usr -prefix "$prefix"
    -static -static-runtime -release -opensource -confirm-license
    -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu -no-freetype -no-harfbuzz -no-fontconfig
    -no-feature-sql -no-feature-printsupport -no-feature-testlib
    -no-feature-concurrent -no-feature-xml -no-feature-ssl
    -no-feature-tabletevent -no-feature-direct2d -no-feature-directwrite
    -no-feature-directwrite3
    -qt-zlib -qt-pcre -qt-libpng -no-libjpeg
)
# From Qt 6.8 on, -no-freetype and -no-harfbuzz only turn away the system's
# copies and -no-feature-ssl leaves Schannel on; the list for 6.4 stays as it
# was, and with it the key of its build folder.
qt68=0
! dpkg --compare-versions "$version" ge 6.8 || qt68=1
[ $qt68 = 0 ] || flags+=(-no-feature-freetype -no-feature-harfbuzz -no-feature-schannel)
work="$cache/work-$version"
# A -no-feature-... given to an existing build folder is silently ignored: the
# folder is keyed by the flags too, so a changed list starts afresh.
key=$(printf '%s\n' "${flags[@]}" | sha256sum | cut -c1-12)
build="$work/build-$key"
mkdir -p "$work"
cd "$work"

# Standard output ends with the prefix, for the caller: what the steps print goes to standard error, shortened.
progress() { "$here/progress.sh" "qt-windows: $1"; }
took="12 to 16 minutes on two idle cores, up to 35 on a loaded machine" # 6.4, Debian 12
[ $qt68 = 0 ] || took="about 35 minutes on two idle cores, up to an hour on a loaded machine" # 6.8, Debian 13
echo "qt-windows: building Qt $version for Windows, once: $took" >&2
start=$SECONDS
if [ ! -d "$work/src" ]; then
    rm -rf "$work/fetch" && mkdir "$work/fetch"
    (cd "$work/fetch" && fetch_source) 2>&1 | progress "Qt's source"
    # Qt 6.8's GDI font database names a DirectWrite type whether DirectWrite is built or not.
    [ $qt68 = 0 ] || patch -d "$work/fetch"/qt6-base-*/ -p1 --forward --quiet <"$here/qt-6.8-gdi-fonts.patch"
    mv "$work/fetch/$(cd "$work/fetch" && ls -d qt6-base-*/ | head -n 1)" "$work/src"
    rm -rf "$work/fetch"
fi
# A toolchain file of the cache's own, so that the installed Qt names no path
# inside whichever clone built it.
cp "$here/../cmake/mingw-w64.cmake" "$work/mingw-w64.cmake"

jobs=${LOOKOUT_QT_JOBS:-$(nproc)}
if [ ! -f "$build/build.ninja" ]; then
    rm -rf "$build" && mkdir -p "$build"
    (cd "$build" && "$work/src/configure" "${flags[@]}" -- -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$work/mingw-w64.cmake" -DLOOKOUT_BUILDING_QT=ON \
        -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(gcc -print-multiarch)/cmake") 2>&1 | progress configure
fi
nice -n 10 cmake --build "$build" --parallel "$jobs" 2>&1 | progress build
rm -rf "$prefix"
cmake --install "$build" 2>&1 | progress install
cp "$work/mingw-w64.cmake" "$prefix/"
echo "$version built in $((SECONDS - start)) s on $(nproc) cores" >"$prefix/.complete"
# The install is all that is used from now on: the build folder (2.5 GB), the source and its apt indexes go.
cd / && rm -rf "$work" "$apt_dir"
echo "qt-windows: built $prefix in $((SECONDS - start)) s"
echo "$prefix"
