#!/usr/bin/env bash
# Takes a screenshot of Orvale running against the simulated device, under Xvfb, after the
# device has been identified and has driven the vehicle to a position.
#   scripts/screenshot.sh [OUT.png] [--screen WxH] [--scale F] [--plot]
# OUT defaults to docs/orvale-1920x1080.png; --screen sets the virtual screen (default 1920x1080),
# where the window opens as large as its font makes it, or smaller on a smaller screen; --scale
# sets Qt's scale factor (2 draws everything at twice the pixels, as a high-DPI screen does);
# --plot takes the plot window instead, showing a recording of the simulated device's sweep
# (Orvale --view); --bus takes the bus window, reading the simulated device on Qt's virtual CAN
# bus with two faults injected (Engine speed sent wrong, DD1 not sent).
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs/orvale-1920x1080.png
screen=1920x1080
scale=1
plot=""
bus=""
while [ $# -gt 0 ]; do
  case "$1" in
    --plot) plot=1; shift ;;
    --bus) bus=1; shift ;;
    --screen) screen="$2"; shift 2 ;;
    --scale) scale="$2"; shift 2 ;;
    *) out="$1"; shift ;;
  esac
done
scripts/install-deps.sh xvfb xauth imagemagick xdotool >/dev/null
cmake --preset dev >/dev/null
cmake --build --preset dev --target Orvale quennet-sim >/dev/null

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=:93
Xvfb "$DISPLAY" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
sleep 1
# The window's own copy of the executable keeps the port file out of the build tree.
cp build/dev/app/Orvale "$work/Orvale"
if [ -n "$bus" ]; then
  build/dev/sim/quennet-sim --position 50 --serial 42 --link "$work/quennet" \
    --can virtualcan:can0 --control "$work/control" >/dev/null 2>&1 &
  for _ in $(seq 1 50); do [ -e "$work/quennet" ] && [ -p "$work/control" ] && break; sleep 0.1; done
  QT_SCALE_FACTOR="$scale" "$work/Orvale" --port COM1="$work/quennet" --can virtualcan:can0 \
    --bus-check >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 50); do
    win=$(xdotool search --sync --onlyvisible --pid "$pid" --name "Bus" 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.2
  done
  [ -n "${win:-}" ] || { echo "Orvale did not show its bus window" >&2; exit 1; }
  xdotool windowmove "$win" 0 0
  sleep 4
  echo "can-wrong 1022" >"$work/control"
  echo "can-silence DD1" >"$work/control"
  sleep 4
  # Without a window manager the main window, shown after it, covers it.
  xdotool windowraise "$win"
  sleep 1
elif [ -n "$plot" ]; then
  # Ten seconds of the device sweeping 0 to 100 and back, recorded without a window, then shown.
  build/dev/sim/quennet-sim --sweep --rate 10 --link "$work/quennet" >/dev/null 2>&1 &
  for _ in $(seq 1 50); do [ -e "$work/quennet" ] && break; sleep 0.1; done
  "$work/Orvale" --headless --port COM1="$work/quennet" --log "$work/drive.csv" >/dev/null 2>&1 &
  recorder=$!
  sleep 12
  kill "$recorder"; wait "$recorder" || true
  QT_SCALE_FACTOR="$scale" "$work/Orvale" --view "$work/drive.csv" \
    --plot "Engine speed,Wheel based Speed,Brake" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 50); do
    win=$(xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.2
  done
  [ -n "${win:-}" ] || { echo "Orvale did not show its plot window" >&2; exit 1; }
  xdotool windowmove "$win" 0 0
  sleep 1.5
else
QT_SCALE_FACTOR="$scale" "$work/Orvale" --simulate=model=15,serial=42,firmware=0.3B \
  >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 50); do
  win=$(xdotool search --sync --onlyvisible --pid "$pid" --name "Orvale Ver" 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "${win:-}" ] || { echo "Orvale did not show its window" >&2; exit 1; }
xdotool windowmove "$win" 0 0
# Let the watchdog connect, then steer the vehicle up a little with the Up key (Alt+U).
sleep 2
for _ in $(seq 1 8); do xdotool key --window "$win" alt+u; sleep 0.1; done
sleep 1.5
fi
mkdir -p "$(dirname "$out")"
import -window "$win" "$out"
kill "$pid"
echo "wrote $out ($(identify -format '%wx%h' "$out"))"
