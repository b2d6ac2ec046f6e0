#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# GAEB 90 conversion time and peak memory for generated bills of 10,000, 100,000 and 1,000,000
# items (default options of bremora-lvgen: 2 levels, phase 83, 2 long-text lines per item).
#
#   bench/bench_gaeb90.sh [path/to/bremora-cli] [sizes...]
#
# Uses /usr/bin/time -v; the bills go into a temporary folder that is removed afterwards.
set -euo pipefail
source "$(dirname "$0")/common.sh"

printf '%-10s %10s %10s %10s %10s %10s %6s\n' "items" "input MB" "lines" "wall s" "cpu s" "peak MB" "exit"
for n in "${sizes[@]}"; do
    bill="$work/lv_$n.d83"
    "$lvgen" 90 --items "$n" -q -o "$bill"
    lines=$(wc -l < "$bill")
    size_mb=$(awk -v b="$(stat -c %s "$bill")" 'BEGIN { printf "%.1f", b / 1048576 }')
    status=0
    /usr/bin/time -v -o "$work/time.txt" "$cli" "$bill" --regelungen=nein -o "$work/lv_$n.xlsx" \
        > /dev/null 2> "$work/messages.txt" || status=$?
    elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%.2f", s }' "$work/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$work/time.txt")
    peak_mb=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$work/time.txt")
    printf '%-10s %10s %10s %10s %10s %10s %6s\n' "$n" "$size_mb" "$lines" "$elapsed" "$cpu" "$peak_mb" "$status"
    if [ "$status" -ne 0 ]; then
        echo "  Meldungen:" && sed 's/^/    /' "$work/messages.txt" | head -n 8
    fi
    rm -f "$bill" "$work/lv_$n.xlsx"
done
