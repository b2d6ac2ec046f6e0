#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# GAEB 2000 conversion time and peak memory for generated bills of 10,000, 100,000 and 1,000,000
# items (bremora-lvgen defaults: 2 levels, phase 83, 2 long-text paragraphs per item), with the
# subtotals sheet on. The last column compares the time with the previous size: ten times the
# items should take about ten times as long.
#
# A sheet has 1,048,576 rows and such a bill needs about four per item: from about 250,000 items
# on, the run ends at the full sheet ("ist voll", exit status 3) with the rows written so far.
# Give 200000 as a size to see the largest bill that fits.
#
#   bench/bench_gaeb2000.sh [path/to/bremora-cli] [sizes...]
#
# Uses /usr/bin/time -v; the bills go into a temporary folder that is removed afterwards.
set -euo pipefail
source "$(dirname "$0")/common.sh"

printf '%-10s %10s %10s %10s %10s %10s %6s %8s\n' "items" "input MB" "lines" "wall s" "cpu s" "peak MB" "exit" "x time"
previous=""
for n in "${sizes[@]}"; do
    bill="$work/lv_$n.p83"
    "$lvgen" 2000 --items "$n" -q -o "$bill"
    lines=$(wc -l < "$bill")
    size_mb=$(awk -v b="$(stat -c %s "$bill")" 'BEGIN { printf "%.1f", b / 1048576 }')
    status=0
    /usr/bin/time -v -o "$work/time.txt" "$cli" --teilsummen "$bill" -o "$work/lv_$n.xlsx" \
        > /dev/null 2> "$work/messages.txt" || status=$?
    elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%.2f", s }' "$work/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$work/time.txt")
    peak_mb=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$work/time.txt")
    ratio="-"
    [ -n "$previous" ] && ratio=$(awk -v a="$cpu" -v b="$previous" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }')
    printf '%-10s %10s %10s %10s %10s %10s %6s %8s\n' "$n" "$size_mb" "$lines" "$elapsed" "$cpu" "$peak_mb" "$status" "$ratio"
    if [ "$status" -ne 0 ]; then
        echo "  Meldungen:" && sed 's/^/    /' "$work/messages.txt" | head -n 8
    fi
    previous="$cpu"
    rm -f "$bill" "$work/lv_$n.xlsx"
done
