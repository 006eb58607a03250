#!/usr/bin/env bash
# Sets up, builds and starts Pixelwright.
#   tools/run.sh              the window program
#   tools/run.sh --simulate   the same with a simulated display module as its port 1 (build/COM1),
#                             stopped when the program ends
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset default
cmake --build --preset default
if [ "${1:-}" != "--simulate" ]; then
  exec build/pixelwright
fi
build/pixelwright-cli simulate --link 1 &
simulator=$!
trap 'kill -TERM "$simulator" 2>/dev/null || true; wait "$simulator" 2>/dev/null || true' EXIT
# Until the module listens; a simulator that refused to start (COM1 is taken) ends the script.
for _ in $(seq 50); do
  [ -S build/COM1 ] && break
  kill -0 "$simulator" 2>/dev/null || { wait "$simulator"; exit $?; }
  sleep 0.1
done
echo "tools/run.sh: the simulated module is port 1 (COM 1 in the window)" >&2
build/pixelwright
