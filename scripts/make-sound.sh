#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes resources/thunder.wav, the sound of the About box: a sharp crack,
# then a low rolling rumble that dies away; two seconds, 22050 Hz, 16-bit
# mono. Needs SoX; the build does not, because the result is kept in
# resources/ beside this script.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/resources/thunder.wav}
command -v sox >/dev/null || { echo "make-sound: sox not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fmt=(-r 22050 -c 1 -b 16)

# -R seeds the noise generators with a fixed value: the same file every time.
# The crack: a short burst of bright noise.
sox -R -n "${fmt[@]}" "$work/crack.wav" synth 0.6 whitenoise lowpass 2500 \
    fade l 0.004 0.6 0.56 gain -n -3
# The rumble: deep noise, swelling a little after the crack and rolling away.
sox -R -n "${fmt[@]}" "$work/rumble.wav" synth 2.0 brownnoise lowpass 160 lowpass 160 \
    tremolo 2.5 55 fade t 0.12 2.0 1.5 gain -n -1
# A second, farther roll of the thunder.
sox -R -n "${fmt[@]}" "$work/roll.wav" synth 1.2 brownnoise lowpass 320 \
    fade t 0.25 1.2 0.9 gain -n -4 pad 0.55
sox -R -m -v 0.4 "$work/crack.wav" -v 0.45 "$work/rumble.wav" -v 0.3 "$work/roll.wav" "${fmt[@]}" "$out" \
    trim 0 2.0 norm -1 fade t 0 2.0 0.05
echo "make-sound: $(soxi -D "$out") s written to $out"
