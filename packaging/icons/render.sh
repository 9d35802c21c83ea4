#!/usr/bin/env bash
# Renders the committed PNG icons from mailsender.svg; run it after editing the SVG.
# Needs rsvg-convert (Debian: librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for size in 48 256; do
  rsvg-convert -w "$size" -h "$size" mailsender.svg -o "mailsender-$size.png"
done
