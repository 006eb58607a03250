#!/usr/bin/env bash
# Sets up, builds and runs every test (offscreen; the smoke test starts its own X server).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
