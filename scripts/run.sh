#!/usr/bin/env bash
# Builds Orvale and starts it. Without arguments it runs against the built-in simulated device;
# with arguments they are Orvale's own, e.g. for a real device on a USB adapter:
#   scripts/run.sh --port COM1=/dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
[ $# -eq 0 ] && set -- --simulate
exec build/dev/app/Orvale "$@"
