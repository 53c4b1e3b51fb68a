#!/usr/bin/env bash
# Builds Orvale with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
# The end-to-end tests run under Xvfb and read the window through the accessibility bus.
scripts/install-deps.sh xvfb dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0
cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci -j "$(nproc)"
