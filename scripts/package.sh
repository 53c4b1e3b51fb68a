#!/usr/bin/env bash
# Builds the Debian package of Orvale: a Release build in build/package without tests or
# benchmarks, then cpack. Prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-dev brings dpkg-shlibdeps, from which cpack works out the library dependencies; it
# needs `file` too. help2man makes the manual pages from the programs' --help.
scripts/install-deps.sh dpkg-dev file help2man >&2
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DORVALE_BUILD_TESTS=OFF -DORVALE_BUILD_BENCH=OFF >&2
cmake --build build/package --parallel "$(nproc)" >&2
(cd build/package && cpack -G DEB >&2)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
deb="build/package/orvale_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "cpack did not write $deb" >&2; exit 1; }
echo "$PWD/$deb"
