#!/usr/bin/env bash
# Builds Lookout for 64-bit Windows and packs it:
#   build-windows/package/lookout-1.2-win64.zip
# Installs what it needs, builds the static Qt for Windows once (about 12 to
# 16 minutes on two cores; reused afterwards from ~/.cache/lookout), then
# Lookout itself (under a minute). Runs from any folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/install-deps.sh windows
LOOKOUT_QT_WIN=$(scripts/qt-windows.sh | tail -n 1)
export LOOKOUT_QT_WIN

start=$SECONDS
cmake --preset windows -DLOOKOUT_QT_WIN="$LOOKOUT_QT_WIN"
cmake --build --preset windows
rm -f build-windows/package/lookout-*-win64.zip
(cd build-windows && cpack -G ZIP -C Release >/dev/null)
zip=build-windows/package/lookout-1.2-win64.zip
[ -f "$zip" ] || { echo "windows: no $zip" >&2; exit 1; }
echo "windows: Lookout built and packed in $((SECONDS - start)) s: $root/$zip"
