#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets (fuzz/) with clang in their own build folder
# and runs each for a bounded time on a copy of its seed corpus.
#
#   scripts/fuzz.sh [SECONDS]      default 60 s per target, or $VEXLO32_FUZZ_SECONDS
#
# With VEXLO32_FUZZ_RUNS=N each target instead runs N inputs from a fixed
# seed (VEXLO32_FUZZ_SEED, default 1), so that how much a run tries does not
# depend on the machine's speed: what CI uses. SECONDS then only caps a slow
# machine.
#
# A crash, a hang (-timeout), one allocation past -malloc_limit_mb or a
# process past -rss_limit_mb (the sanitizer's own quarantine counts there)
# fails the script;
# the input is kept under $build/artifacts/<target>/ and must be added to
# tests/regress/<target>/ with the fix, where CTest replays it in every build.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXLO32_FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-${VEXLO32_FUZZ_SECONDS:-60}}
targets=(zip url settings kinds oldmethods)
"$here/scripts/deps.sh" --fuzz

cxx=${VEXLO32_FUZZ_CXX:-$(command -v clang++-14 || command -v clang++)}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
  -DVEXLO32_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}" -- --no-print-directory

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  work=$build/corpus/$t
  artifacts=$build/artifacts/$t
  mkdir -p "$work" "$artifacts"
  # The working corpus grows from run to run; the repository's seeds and
  # the saved regression inputs are always part of it.
  cp -n "$here/fuzz/corpus/$t/"* "$work/" 2>/dev/null || true
  if [ -d "$here/tests/regress/$t" ]; then cp -n "$here/tests/regress/$t/"* "$work/" 2>/dev/null || true; fi
  log=$build/fuzz-$t.log
  echo "fuzz_$t: ${VEXLO32_FUZZ_RUNS:+${VEXLO32_FUZZ_RUNS} inputs from seed ${VEXLO32_FUZZ_SEED:-1}, }at most ${seconds}s" >&2
  budget=(-max_total_time="$seconds")
  if [ -n "${VEXLO32_FUZZ_RUNS:-}" ]; then
    budget+=(-runs="$VEXLO32_FUZZ_RUNS" -seed="${VEXLO32_FUZZ_SEED:-1}")
  fi
  # One allocation may be at most 256 MiB; libarchive, though, reserves a
  # table as large as an archive's header declares before it finds the
  # archive cut short, and only touches what it reads: for its target the
  # resident limit is the bound that counts.
  mallocLimit=256
  [ "$t" = kinds ] && mallocLimit=4096
  if "$build/fuzz/fuzz_$t" "$work" "${budget[@]}" -rss_limit_mb=1024 -malloc_limit_mb=$mallocLimit -timeout=10 \
       -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz_$t: ${runs:-?} inputs, no failure" >&2
  else
    status=1
    echo "fuzz_$t FAILED; input kept in $artifacts/" >&2
    tail -60 "$log" >&2
  fi
done
exit $status
