#!/usr/bin/env bash
# Builds Velloria and runs it against a bundled service simulator, with the
# demo account and blogs: the designed XML interface by default, the current
# interface (OAuth 2 in the browser, JSON) with --current. Further arguments
# go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
if [ "${1:-}" = "--current" ]; then
  shift
  port=${VELLORIA_SIM_PORT:-8775}
  build/velloria-sim-current --port "$port" &
  sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  sleep 0.5
  echo
  echo "Type any name in the E-Mail box and press \"Get\"; when asked for the application key:"
  echo "  consumer key demo-key   secret demo-secret"
  echo "then press Allow on the page your browser opens."
  echo
  build/velloria --interface current --service "127.0.0.1:$port" --web-host "127.0.0.1:$port" "$@"
  exit
fi
port=${VELLORIA_SIM_PORT:-8765}
build/velloria-sim --port "$port" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
sleep 0.5
echo
echo "Demo account:  e-mail demo@example.com   password demo"
echo
build/velloria --interface designed --service "127.0.0.1:$port" --web-host "127.0.0.1:$port" "$@"
