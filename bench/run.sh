#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times Make list and Save diz against their floors on one generated tree.
#
#   bench/run.sh [N] [RUNS] [DATA_DIR]
#
# N archives (default 10000) in DATA_DIR (default bench/data), RUNS paired
# rounds of Make list's contenders (default 3; medians are reported). Every
# contender gets one untimed pass first, so all of them run on a warm page
# cache; then the system calls per archive (strace -c -f) and a cold-cache
# round of the baseline and the command line, the collection's pages dropped
# before each run. The `unzip -p` loop is run once; for N > 20000 it runs on
# every 10th archive and is scaled by 10 (said so in the output).
# VEXLO32_BENCH_MAKE_LIST_ONLY=1 stops after Make list (no unzip loop, no
# Save diz). VEXLO32_BENCH_BEFORE=BUILD_DIR adds another version's command
# line (long layout) and window (short layout), built in BUILD_DIR with the
# targets vexlo32 and vexlo32_bench_window, to every round, for a before and
# after table.
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
command -v strace >/dev/null || need+=(strace)
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

# Make list's contenders, run in paired rounds: each round runs every one of
# them once, in the same order, so that a busy moment of this shared machine
# touches a whole round alike; a ratio is taken within each round and the
# median of those is reported, with the median of each contender's times.
contenders=()
contender() { # NAME COMMAND...
    declare -ga "cmd_${#contenders[@]}"
    local -n ref="cmd_${#contenders[@]}"
    ref=("${@:2}")
    contenders+=("$1")
}
contender baseline "$base" "$tree"
for layout in short long; do
    for mode in first multi; do
        args=(--make-list "$tree" --output "$out/cli-$layout-$mode.txt")
        [ $layout = long ] && args+=(--long)
        [ $mode = multi ] && args+=(--multi-line)
        contender "cli $layout $mode" "$prog" "${args[@]}"
    done
done
for combo in "short first" "long multi"; do
    set -- $combo
    args=("$tree" "$out/win-$1-$2.txt")
    [ "$1" = long ] && args+=(--long)
    [ "$2" = multi ] && args+=(--multi-line)
    contender "window $1 $2" env QT_QPA_PLATFORM=offscreen "$win" "${args[@]}"
done
before=${VEXLO32_BENCH_BEFORE:-}
if [ -n "$before" ]; then
    contender "before: cli long first" "$before/vexlo32" --make-list "$tree" --output "$out/before-cli.txt" --long
    contender "before: window short first" env QT_QPA_PLATFORM=offscreen \
        "$before/bench/vexlo32_bench_window" "$tree" "$out/before-win.txt"
fi

declare -A seconds memory times
# run_once INDEX: runs one contender under GNU time; "SECONDS KIB".
run_once() {
    local -n c="cmd_$1"
    /usr/bin/time -f "%e %M" -o "$out/time" "${c[@]}" >/dev/null 2>&1
    cat "$out/time"
}
echo "== $count archives, $(du -sh "$tree" | cut -f1) on disk, $runs paired rounds, medians" | tee -a "$results"
for i in "${!contenders[@]}"; do run_once "$i" >/dev/null; done # the warm pass
for ((r = 0; r < runs; r++)); do
    for i in "${!contenders[@]}"; do
        read -r e k < <(run_once "$i")
        times[$i]+="$e "
        [ "${memory[$i]:-0}" -ge "$k" ] || memory[$i]=$k
    done
done
# paired NAME OTHER: the median over the rounds of NAME's time / OTHER's.
paired() {
    local -a a b
    read -ra a <<<"${times[$1]}"
    read -ra b <<<"${times[$2]}"
    for ((r = 0; r < ${#a[@]}; r++)); do echo "${a[r]} / ${b[r]}" | bc -l; done | median
}
index() { local i; for i in "${!contenders[@]}"; do [ "${contenders[i]}" = "$1" ] && echo "$i"; done; }
for i in "${!contenders[@]}"; do
    seconds[${contenders[i]}]=$(tr ' ' '\n' <<<"${times[$i]}" | grep . | median)
    printf '%-28s %8.2f s  %7.1f MiB  (runs: %s)\n' "${contenders[i]}" "${seconds[${contenders[i]}]}" \
        "$(echo "${memory[$i]} / 1024" | bc -l)" "${times[$i]% }" | tee -a "$results"
done
for combo in "short first" "long multi"; do
    cmp -s "$out/win-${combo// /-}.txt" "$out/cli-${combo// /-}.txt" ||
        echo "window list $combo differs from the command line's" | tee -a "$results"
done
echo "== paired ratios (median over the rounds)" | tee -a "$results"
for k in "cli short first" "cli short multi" "cli long first" "cli long multi"; do
    printf '%-28s %6.2f x baseline\n' "$k" "$(paired "$(index "$k")" "$(index baseline)")" | tee -a "$results"
done
for combo in "short first" "long multi"; do
    printf '%-28s %6.2f x cli %s (process, Qt start-up included)\n' "window $combo" \
        "$(paired "$(index "window $combo")" "$(index "cli $combo")")" "$combo" | tee -a "$results"
done
if [ -n "$before" ]; then
    printf '%-28s %6.2f x baseline\n' "before: cli long first" \
        "$(paired "$(index "before: cli long first")" "$(index baseline)")" | tee -a "$results"
    printf '%-28s %6.2f x cli short first (this version)\n' "before: window short first" \
        "$(paired "$(index "before: window short first")" "$(index "cli short first")")" | tee -a "$results"
    cmp -s "$out/before-cli.txt" "$out/cli-long-first.txt" ||
        echo "the list of the version before differs" | tee -a "$results"
fi

# System calls per archive, counted by strace over one run of each.
archives=$(find "$tree" -type f -iname '*.zip' | wc -l)
calls() { strace -c -f -o "$out/strace" "$@" >/dev/null 2>&1; awk '$NF == "total" { print $4 }' "$out/strace"; }
echo "== system calls ($archives ZIP archives; strace -c -f)" | tee -a "$results"
for i in "$(index baseline)" "$(index "cli long first")" "$(index "cli short first")" \
    ${before:+"$(index "before: cli long first")"}; do
    local_cmd="cmd_$i[@]"
    n=$(calls "${!local_cmd}")
    printf '%-28s %9d calls  %5.2f per archive\n' "${contenders[i]}" "$n" "$(echo "$n / $archives" | bc -l)" |
        tee -a "$results"
done

# Cold cache: the collection's pages dropped (posix_fadvise DONTNEED on
# every file) before each run, paired rounds of the two.
echo "== cold cache (pages dropped before each run), $runs paired rounds" | tee -a "$results"
declare -A cold
for ((r = 0; r < runs; r++)); do
    for i in "$(index baseline)" "$(index "cli long first")"; do
        "$gen" drop "$tree"
        read -r e k < <(run_once "$i")
        cold[$i]+="$e "
    done
done
for i in "$(index baseline)" "$(index "cli long first")"; do
    printf '%-28s %8.2f s  (runs: %s)\n' "${contenders[i]} (cold)" \
        "$(tr ' ' '\n' <<<"${cold[$i]}" | grep . | median)" "${cold[$i]% }" | tee -a "$results"
done
ratios=$(paste -d/ <(tr ' ' '\n' <<<"${cold[$(index "cli long first")]}" | grep .) \
    <(tr ' ' '\n' <<<"${cold[$(index baseline)]}" | grep .) | bc -l | median)
printf '%-28s %6.2f x baseline (cold)\n' "cli long first" "$ratios" | tee -a "$results"

# How the window kept up while it ran, and an Abort press 1.5 s in.
QT_QPA_PLATFORM=offscreen "$win" "$tree" "$out/win.txt" 2>/dev/null | sed 's/^/window events: /' | tee -a "$results"
QT_QPA_PLATFORM=offscreen "$win" "$tree" "$out/win.txt" --abort-after 1500 2>/dev/null | sed 's/^/window abort:  /' | tee -a "$results"

[ "${VEXLO32_BENCH_MAKE_LIST_ONLY:-0}" = 1 ] && { echo "results in $results"; exit 0; }

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

printf '%-28s %6.1f x cli long first\n' "unzip -p loop" \
    "$(echo "$unzip_s / ${seconds[cli long first]}" | bc -l)" | tee -a "$results"

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
