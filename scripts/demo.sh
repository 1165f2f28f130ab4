#!/usr/bin/env bash
# Builds Velloria and runs it against the bundled service simulator,
# with the demo account and blogs. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
port=${VELLORIA_SIM_PORT:-8765}
build/velloria-sim --port "$port" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
sleep 0.5
echo
echo "Demo account:  e-mail demo@example.com   password demo"
echo
build/velloria --service "127.0.0.1:$port" --web-host "127.0.0.1:$port" "$@"
