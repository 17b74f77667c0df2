#!/usr/bin/env bash
# Lays out the C++ sources as .clang-format says, or, with --check, lists the
# files it would change and fails if there are any (a ctest, label format).
#
#   scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."

formatted=(app bench files fuzz lobby tests tray watcher)

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
