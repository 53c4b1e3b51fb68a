#!/usr/bin/env bash
# Builds Orvale and starts it. Without arguments it runs against the built-in simulated device;
# with arguments they are Orvale's own, e.g. for a real device on a USB adapter:
#   scripts/run.sh --port COM1=/dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
# Only the two programs: the tests and benchmarks are scripts/test.sh's to build, and are about
# two thirds of the work of a full build.
cmake --build --preset dev --target Orvale quennet-sim
[ $# -eq 0 ] && set -- --simulate
exec build/dev/app/Orvale "$@"
