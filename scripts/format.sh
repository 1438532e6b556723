#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Formats every C++ file of the repository with its .clang-format.
#   scripts/format.sh          rewrites the files
#   scripts/format.sh --check  changes nothing; fails, naming the files, when
#                              one is not formatted or has no SPDX licence
#                              line (CI runs this)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
format=$(command -v clang-format-14 || command -v clang-format || true)
[ -n "$format" ] || { echo "format.sh needs clang-format (scripts/deps.sh --fuzz installs it)" >&2; exit 1; }
# tests/layers/ holds fixtures of the layer check, not code of ours.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^tests/layers/')
else
  mapfile -t files < <(find src tests fuzz bench \( -name '*.cpp' -o -name '*.h' \) \
                         -not -path 'tests/layers/*' | sort)
fi
if [ "${1:-}" = "--check" ]; then
  "$format" --dry-run --Werror "${files[@]}"
  # Every source file names its licence.
  unlicensed=$(grep -L 'SPDX-License-Identifier: MIT' "${files[@]}" || true)
  if [ -n "$unlicensed" ]; then
    echo "no SPDX-License-Identifier line in:" >&2
    echo "$unlicensed" >&2
    exit 1
  fi
else
  "$format" -i "${files[@]}"
fi
