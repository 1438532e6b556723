#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times Make list and Save diz against their floors on one generated tree.
#
#   bench/run.sh [N] [RUNS] [DATA_DIR]
#
# N archives (default 10000) in DATA_DIR (default bench/data), RUNS timed
# runs per contender (default 3; the median is reported). Every contender
# gets one untimed pass first, so all of them run on a warm page cache.
# The `unzip -p` loop is run once; for N > 20000 it runs on every 10th
# archive and is scaled by 10 (said so in the output).
#
# Results: a table on standard output, also kept in DATA_DIR/results-N.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10000}
runs=${2:-3}
data=${3:-$here/bench/data}
build=${VEXLO32_BUILD_DIR:-$here/build-bench}
mkdir -p "$data"
data=$(cd "$data" && pwd)

# Tools: GNU time for peak memory, unzip for the per-archive floor,
# eatmydata to measure Save diz without its flushes to the disk.
need=()
[ -x /usr/bin/time ] || need+=(time)
command -v unzip >/dev/null || need+=(unzip)
command -v eatmydata >/dev/null || need+=(eatmydata)
if [ ${#need[@]} -gt 0 ]; then
    sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get install -y "${need[@]}"
fi

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target vexlo32 vexlo32_bench_gen \
    vexlo32_bench_baseline vexlo32_bench_window -- --no-print-directory >/dev/null
prog=$build/vexlo32
gen=$build/bench/vexlo32_bench_gen
base=$build/bench/vexlo32_bench_baseline
win=$build/bench/vexlo32_bench_window

tree=$data/c$count
if [ ! -d "$tree" ]; then
    echo "generating $count archives in $tree" >&2
    "$gen" collection "$tree" "$count" 1998
fi
out=$data/out
mkdir -p "$out"
results=$data/results-$count.txt
: >"$results"

# median of the numbers on standard input
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A seconds memory
# measure NAME COMMAND...: one untimed pass, then RUNS timed ones.
measure() {
    local name=$1; shift
    "$@" >/dev/null 2>&1
    local t=() m=()
    for ((r = 0; r < runs; r++)); do
        /usr/bin/time -f "%e %M" -o "$out/time" "$@" >/dev/null 2>&1
        read -r e k <"$out/time"
        t+=("$e"); m+=("$k")
    done
    seconds[$name]=$(printf '%s\n' "${t[@]}" | median)
    memory[$name]=$(printf '%s\n' "${m[@]}" | sort -g | tail -1)
    printf '%-28s %8.2f s  %7.1f MiB  (runs: %s)\n' "$name" "${seconds[$name]}" \
        "$(echo "${memory[$name]} / 1024" | bc -l)" "${t[*]}" | tee -a "$results"
}

echo "== $count archives, $(du -sh "$tree" | cut -f1) on disk, $runs runs each, medians" | tee -a "$results"
measure baseline "$base" "$tree"
for layout in short long; do
    for mode in first multi; do
        args=(--make-list "$tree" --output "$out/cli-$layout-$mode.txt")
        [ $layout = long ] && args+=(--long)
        [ $mode = multi ] && args+=(--multi-line)
        measure "cli $layout $mode" "$prog" "${args[@]}"
    done
done
for combo in "short first" "long multi"; do
    set -- $combo
    args=("$tree" "$out/win-$1-$2.txt")
    [ "$1" = long ] && args+=(--long)
    [ "$2" = multi ] && args+=(--multi-line)
    measure "window $1 $2" env QT_QPA_PLATFORM=offscreen "$win" "${args[@]}"
    cmp -s "$out/win-$1-$2.txt" "$out/cli-$1-$2.txt" || echo "window list $1 $2 differs from the command line's" | tee -a "$results"
done
# How the window kept up while it ran, and an Abort press 1.5 s in.
QT_QPA_PLATFORM=offscreen "$win" "$tree" "$out/win.txt" 2>/dev/null | sed 's/^/window events: /' | tee -a "$results"
QT_QPA_PLATFORM=offscreen "$win" "$tree" "$out/win.txt" --abort-after 1500 2>/dev/null | sed 's/^/window abort:  /' | tee -a "$results"

# One unzip per archive.
find "$tree" -type f -iname '*zip' | sort >"$out/archives"
step=1; [ "$count" -gt 20000 ] && step=10
awk -v s=$step 'NR % s == 0' "$out/archives" >"$out/sample"
xargs -d '\n' -a "$out/sample" cat >/dev/null
start=$(date +%s.%N)
while IFS= read -r a; do unzip -p -C "$a" FILE_ID.DIZ >/dev/null 2>&1 || true; done <"$out/sample"
unzip_s=$(echo "($(date +%s.%N) - $start) * $step" | bc -l)
printf '%-28s %8.2f s  (%d archives%s)\n' "unzip -p loop" "$unzip_s" "$(wc -l <"$out/sample")" \
    "$([ $step -gt 1 ] && echo ", x$step")" | tee -a "$results"

echo "== ratios" | tee -a "$results"
for k in "cli short first" "cli short multi" "cli long first" "cli long multi"; do
    printf '%-28s %6.2f x baseline  %6.1f x faster than unzip\n' "$k" \
        "$(echo "${seconds[$k]} / ${seconds[baseline]}" | bc -l)" \
        "$(echo "$unzip_s / ${seconds[$k]}" | bc -l)" | tee -a "$results"
done
printf '%-28s %6.2f x cli short first\n' "window short first" \
    "$(echo "${seconds[window short first]} / ${seconds[cli short first]}" | bc -l)" | tee -a "$results"
printf '%-28s %6.2f x cli long multi\n' "window long multi" \
    "$(echo "${seconds[window long multi]} / ${seconds[cli long multi]}" | bc -l)" | tee -a "$results"

# Save diz into 999 archives of 1 MiB, against copying them.
big=$data/big999
[ -d "$big" ] || "$gen" big "$big" 999 1998
printf 'Saved by the benchmark\r\nSecond line\r\n' >"$out/new.diz"
work=$data/big-work
timed() { # NAME FUNCTION ARGS...: the function's own preparation is left out of the time
    local name=$1; shift
    local t=()
    "$@" >/dev/null 2>&1
    for ((r = 0; r < runs; r++)); do
        "$@" >"$out/timed" 2>&1 || true
        t+=("$(cat "$out/elapsed")")
    done
    seconds[$name]=$(printf '%s\n' "${t[@]}" | median)
    printf '%-28s %8.2f s  (runs: %s)\n' "$name" "${seconds[$name]}" "${t[*]}" | tee -a "$results"
}
clock() { local s; s=$(date +%s.%N); "$@"; echo "$(date +%s.%N) - $s" | bc -l >"$out/elapsed"; }
prepare_save() { rm -rf "$work"; cp -r "$big" "$work"; sync; }
prepare_copy() { rm -rf "$work"; mkdir -p "$work"; sync; }
run_save() { prepare_save; clock "$prog" --save-diz "$out/new.diz" "$work"/*.ZIP; }
run_save_nosync() { prepare_save; clock eatmydata "$prog" --save-diz "$out/new.diz" "$work"/*.ZIP; }
run_cp() { prepare_copy; clock cp "$big"/*.ZIP "$work"/; }
run_cp_sync() { prepare_copy; clock sh -c 'cp "$0"/*.ZIP "$1"/ && sync' "$big" "$work"; }
echo "== Save diz into 999 archives of 1 MiB ($(du -sh "$big" | cut -f1))" | tee -a "$results"
timed "save diz (fsync each)" run_save
timed "save diz (no fsync)" run_save_nosync
timed "cp" run_cp
timed "cp + sync" run_cp_sync
printf '%-28s %6.2f x cp   %6.2f x cp + sync\n' "save diz (fsync each)" \
    "$(echo "${seconds[save diz (fsync each)]} / ${seconds[cp]}" | bc -l)" \
    "$(echo "${seconds[save diz (fsync each)]} / ${seconds[cp + sync]}" | bc -l)" | tee -a "$results"
printf '%-28s %6.2f x cp\n' "save diz (no fsync)" \
    "$(echo "${seconds[save diz (no fsync)]} / ${seconds[cp]}" | bc -l)" | tee -a "$results"
rm -rf "$work"
echo "results in $results"
