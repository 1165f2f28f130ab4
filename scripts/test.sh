#!/usr/bin/env bash
# Installs, builds and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure --timeout 300 -j2 "$@"
