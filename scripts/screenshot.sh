#!/usr/bin/env bash
# Takes a screenshot of Orvale running against the simulated device, under Xvfb, after the
# device has been identified and has driven the vehicle to a position. Writes docs/orvale.png
# (or the path given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/orvale.png}"
scripts/install-deps.sh xvfb xauth imagemagick xdotool >/dev/null
cmake --preset dev >/dev/null
cmake --build --preset dev --target Orvale >/dev/null

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=:93
Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
sleep 1
# The window's own copy of the executable keeps the port file out of the build tree.
cp build/dev/app/Orvale "$work/Orvale"
"$work/Orvale" --simulate=model=15,serial=42,firmware=0.3B >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 50); do
  win=$(xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "${win:-}" ] || { echo "Orvale did not show its window" >&2; exit 1; }
xdotool windowmove "$win" 0 0
# Let the watchdog connect, then steer the vehicle up a little with the Up key (Alt+U).
sleep 2
for _ in $(seq 1 8); do xdotool key --window "$win" alt+u; sleep 0.1; done
sleep 1.5
mkdir -p "$(dirname "$out")"
import -window "$win" "$out"
kill "$pid"
echo "wrote $out"
