#!/usr/bin/env bash
# Builds everything and runs the benchmarks headless: the figures next to
# curl's on the same simulator, and the goals. Arguments go to velloria-bench
# (--quick: a large blog of 20,000 posts instead of 100,000).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v curl >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends curl
fi
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
build/bench/velloria-bench "$@"
