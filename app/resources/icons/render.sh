#!/usr/bin/env bash
# Renders orvale.svg to the PNG sizes that are committed beside it and embedded in Orvale.
# Run after changing the drawing; needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" orvale.svg --output "orvale-$size.png"
done
