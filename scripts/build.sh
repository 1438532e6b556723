#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds Vexlo32 into build/ (or $VEXLO32_BUILD_DIR): every
# target, or only the targets named (scripts/build.sh vexlo32).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXLO32_BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} ${VEXLO32_CMAKE_ARGS:-} >/dev/null
targets=()
for target in "$@"; do
  targets+=(--target "$target")
done
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}" -- --no-print-directory
