#!/usr/bin/env bash
# Builds Orvale and passes every test: the whole suite with warnings as errors, the suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of each fuzz
# target. ORVALE_FUZZ_SECONDS sets how long each fuzz target runs (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
# The end-to-end tests run under Xvfb and read the window through the accessibility bus; the
# fuzz targets need clang's libFuzzer; clang-format checks the layout of the sources; pandas
# reads a recording as its users do; help2man makes the manual pages from --help; python-can and
# can-utils read the FMS frame logs.
scripts/install-deps.sh xvfb dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0 \
  desktop-file-utils clang libclang-rt-dev clang-format python3-pandas help2man \
  python3-can can-utils

# CI shows the start and the end of what this prints: when tests fail, their reasons are
# printed again last, where they are seen.
why_failed() {
  local log="$1/Testing/Temporary/LastTest.log"
  echo "== why the failing tests failed (from $log)"
  grep -E '^(FAILED: |FAIL |[^ ]*Failure: |.*: Failure$|\[  FAILED  \] )' "$log" | cut -c1-700 | tail -n 40 || true
}
ctest_or_explain() {  # PRESET [ctest arguments]: the preset builds in build/PRESET
  ctest --preset "$@" || { status=$?; why_failed "build/$1"; exit "$status"; }
}

echo "== build and test (warnings are errors)"
cmake --preset ci >/dev/null
cmake --build --preset ci
ctest_or_explain ci -j "$(nproc)"

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
# The end-to-end and install tests drive the program from outside; the unit, window and
# pseudo-terminal tests are the ones the sanitizers watch.
ctest_or_explain asan -j "$(nproc)" -E '^(e2e|install|cli)\.'

echo "== fuzz the receiver, the port file reader, the FMS decoder and the control API"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
seconds="${ORVALE_FUZZ_SECONDS:-30}"
for target in receiver port_file fms api; do
  corpus=$(mktemp -d)
  log="$corpus.log"
  status=0
  build/fuzz/fuzz/fuzz_${target} -max_total_time="$seconds" -print_final_stats=1 \
    "$corpus" "fuzz/corpus/${target}" >"$log" 2>&1 || status=$?
  grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz_${target} found a fault (exit $status)" >&2
    exit 1
  fi
  rm -rf "$corpus" "$log"
done
echo "== all tests passed"
