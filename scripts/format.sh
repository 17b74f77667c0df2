#!/usr/bin/env bash
# Lays out the C++ sources as .clang-format says, or, with --check, lists the
# files it would change and fails if there are any (a ctest, label format).
#
#   scripts/format.sh [--check]
#
# The folders below follow it; the rest of the tree joins as it is next
# worked on, by adding its folder here in the same commit as its layout.
set -euo pipefail
cd "$(dirname "$0")/.."

formatted=(app tray files/settings.cpp files/settings.h
    tests/tst_settings.cpp tests/tst_autorun.cpp tests/tst_tray.cpp tests/tst_files.cpp tests/tst_endtoend.cpp)

command -v clang-format >/dev/null || { echo "SKIP: clang-format is not installed"; exit 77; }
mapfile -t sources < <(find "${formatted[@]}" -name '*.cpp' -o -name '*.h' | LC_ALL=C sort)
if [ "${1:-}" != --check ]; then
    clang-format -i "${sources[@]}"
    exit
fi
unformatted=()
for source in "${sources[@]}"; do
    clang-format "$source" | cmp -s - "$source" || unformatted+=("$source")
done
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "Not laid out as .clang-format says (scripts/format.sh mends them):"
    printf '  %s\n' "${unformatted[@]}"
    exit 1
fi
echo "format: ${#sources[@]} files as .clang-format says"
