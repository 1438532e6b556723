#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Make list with "all archive kinds" on against off, on a generated tree in
# which every tenth archive is of another kind (7z, LZH, CAB, TAR.GZ in
# turn, each holding the ZIP's members).
#
#   bench/kinds.sh [N] [RUNS] [DATA_DIR]
#
# N archives (default 20000), RUNS paired runs (default 5; medians reported),
# after one untimed pass of each. Needs 7z, lha, gcab and tar
# (scripts/deps.sh --test).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-20000}
runs=${2:-5}
data=${3:-$here/bench/data}
build=${VEXLO32_BUILD_DIR:-$here/build-bench}
mkdir -p "$data"
data=$(cd "$data" && pwd)

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target vexlo32 vexlo32_bench_gen \
    -- --no-print-directory >/dev/null
prog=$build/vexlo32

tree=$data/kinds$count
if [ ! -d "$tree" ]; then
    echo "generating $count archives in $tree" >&2
    "$build/bench/vexlo32_bench_gen" collection "$tree" "$count" 1998
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    kinds=(7z lzh cab tar.gz)
    i=0
    while IFS= read -r -d '' zip; do
        i=$((i + 1))
        [ $((i % 10)) -eq 0 ] || continue
        kind=${kinds[$(((i / 10) % 4))]}
        rm -rf "$work/m" && mkdir "$work/m"
        unzip -qq -o "$zip" -d "$work/m"
        target=${zip%.*}.$kind
        case $kind in
        7z) (cd "$work/m" && 7z a -bd -bso0 -t7z "$work/a.7z" . >/dev/null) ;;
        lzh) (cd "$work/m" && lha -aq "$work/a.lzh" * >/dev/null) ;;
        cab) (cd "$work/m" && gcab -c -z "$work/a.cab" * >/dev/null) ;;
        tar.gz) tar -C "$work/m" -czf "$work/a.tar.gz" . ;;
        esac
        mv "$work/a.$kind" "$target"
        rm -f "$zip"
    done < <(find "$tree" -name '*.zip' -print0 | sort -z)
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
one() { # seconds and peak KiB of one run
    /usr/bin/time -f '%e %M' "$prog" --make-list "$tree" --output "$data/kinds-list.txt" "$@" \
        2>&1 >/dev/null | tail -1
}
one >/dev/null; one --all-kinds >/dev/null
off=() on=() offm=() onm=()
for _ in $(seq "$runs"); do
    read -r s m < <(one); off+=("$s"); offm+=("$m")
    read -r s m < <(one --all-kinds); on+=("$s"); onm+=("$m")
done
toff=$(printf '%s\n' "${off[@]}" | median)
ton=$(printf '%s\n' "${on[@]}" | median)
echo "Make list of $count archives (one in ten of another kind), medians of $runs paired runs:"
echo "  all kinds off: ${toff} s, $(printf '%s\n' "${offm[@]}" | median) KiB peak"
echo "  all kinds on:  ${ton} s, $(printf '%s\n' "${onm[@]}" | median) KiB peak"
awk -v a="$ton" -v b="$toff" 'BEGIN { printf "  ratio on/off: %.2f\n", a / b }'
