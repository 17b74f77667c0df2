#!/usr/bin/env bash
# Installs what the tests need, builds the project as CI does (warnings are
# errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
