#!/usr/bin/env bash
# Installs the dependencies, builds, and makes the Debian package
# build/velloria_<version>_amd64.deb with CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cd build
cpack -G DEB
