#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts the window under Xvfb and saves a PNG of it.
#   scripts/screenshot.sh [OUTPUT.png] [-- program arguments]
# VEXLO32_SHOT_DELAY (seconds, default 2) is how long the window gets to settle;
# VEXLO32_SHOT_ACTIONS, if set, is run (as a shell command) with DISPLAY set
# before the picture is taken, e.g. to send keys with xdotool.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/docs/screenshot.png}
shift || true
[ "${1:-}" = "--" ] && shift
"$here/scripts/deps.sh" --test --shot
command -v import >/dev/null || { echo "screenshot.sh needs ImageMagick (apt-get install imagemagick)" >&2; exit 1; }
"$here/scripts/build.sh" vexlo32

display=:$(( 90 + RANDOM % 9 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display "${VEXLO32_BUILD_DIR:-$here/build}/vexlo32" "$@" &
app=$!
sleep "${VEXLO32_SHOT_DELAY:-2}"
if [ -n "${VEXLO32_SHOT_ACTIONS:-}" ]; then
  DISPLAY=$display bash -c "$VEXLO32_SHOT_ACTIONS"
  sleep 1
fi
id=$(DISPLAY=$display xwininfo -root -tree | awk 'index($0, "(\"vexlo32\"") {print $1; exit}')
mkdir -p "$(dirname "$out")"
if [ -n "$id" ]; then
  DISPLAY=$display import -window root -crop "$(DISPLAY=$display xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width/ {w=$NF} /Height/ {h=$NF} END {printf "%dx%d+%d+%d", w, h, x, y}')" +repage "$out"
else
  DISPLAY=$display import -window root "$out"
fi
echo "saved $out"
