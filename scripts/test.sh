#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh" --test
"$here/scripts/build.sh"
cd "${VEXLO32_BUILD_DIR:-$here/build}"
ctest --output-on-failure --timeout 600 "$@"
