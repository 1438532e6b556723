#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test through CTest.
#
#   scripts/test.sh [--full] [CTEST ARGS...]
#
# --full (and every run with CI=true) then also builds with AddressSanitizer
# and UndefinedBehaviorSanitizer and runs the whole suite again, and runs
# each fuzz target for a bounded time (scripts/ci-extra.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
full=false
if [ "${1:-}" = "--full" ]; then
  full=true
  shift
fi
[ "${CI:-}" = "true" ] && full=true

if $full; then
  "$here/scripts/deps.sh" --test --fuzz
else
  "$here/scripts/deps.sh" --test
fi
if $full; then
  # CI: a warning is an error.
  export VEXLO32_CMAKE_ARGS="${VEXLO32_CMAKE_ARGS:-} -DVEXLO32_WERROR=ON"
fi
"$here/scripts/build.sh"
(cd "${VEXLO32_BUILD_DIR:-$here/build}" && ctest --output-on-failure --timeout 600 "$@")
if $full; then
  "$here/scripts/ci-extra.sh"
fi
