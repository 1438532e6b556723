#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The CI steps beyond the normal build and tests (scripts/test.sh --full):
#  0. every C++ file formatted as .clang-format says (scripts/format.sh);
#  1. the whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#     in its own folder (build-sanitize/), leak checking on;
#  2. every fuzz target for a fixed number of inputs from a fixed seed
#     (scripts/fuzz.sh), so that how much is tried does not depend on the
#     machine's speed; open-ended fuzzing is scripts/fuzz.sh on its own.
# Each step prints how long it took.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${VEXLO32_SANITIZE_BUILD_DIR:-$here/build-sanitize}

step() { echo "== $1 ($(date +%T))" >&2; }
started=$(date +%s)

step "formatting"
"$here/scripts/format.sh" --check
step "sanitizer build"
cmake -S "$here" -B "$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLO32_SANITIZE=ON >/dev/null
cmake --build "$sanitize" --parallel "$(nproc)" -- --no-print-directory
step "sanitizer tests"
(
  cd "$sanitize"
  # Leaks of our own code fail the run; the suppressions cover only what the
  # system's Qt and fontconfig keep until exit (see the file).
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$here/scripts/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # The sanitizers make the program slower; the killed-update test needs
  # fewer rounds to cover the same moments, the normal build runs all 200.
  export VEXLO32_KILL_RUNS=${VEXLO32_KILL_RUNS:-60}
  ctest --output-on-failure --timeout 900
)
step "fuzzing"
VEXLO32_FUZZ_RUNS=${VEXLO32_FUZZ_RUNS:-60000} "$here/scripts/fuzz.sh" "${VEXLO32_FUZZ_SECONDS:-300}"
step "done in $(( $(date +%s) - started )) s"
