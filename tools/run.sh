#!/usr/bin/env bash
# Sets up, builds and starts Pixelwright.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset default
cmake --build --preset default
exec build/pixelwright
