#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vexlo32 with the given arguments.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh"
exec "${VEXLO32_BUILD_DIR:-$here/build}/vexlo32" "$@"
