#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the program (only the program: the tests
# are built by scripts/test.sh), and starts it with the given arguments.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" vexlo32
exec "${VEXLO32_BUILD_DIR:-$here/build}/vexlo32" "$@"
