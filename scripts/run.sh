#!/usr/bin/env bash
# Builds Orvale and starts the simulated device, which prints the device path to open.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
exec build/dev/sim/quennet-sim "$@"
