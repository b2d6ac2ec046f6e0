#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole conversion (read, convert, save) against its floor: the same input read as a reader
# must and the same number of text, number and formula cells written by libxlsxwriter alone
# (bench/floor_xlsx). Bills from bremora-lvgen (seed 7) of every format; each program runs RUNS times,
# taking turns; medians of wall time and peak memory, and their ratios.
#
#   bench/bench_speed.sh [path/to/bremora-cli] [sizes...]      (default sizes 10000 100000 200000)
#   RUNS=5 FORMATS="90 xml" bench/bench_speed.sh ...
#
# floor_xlsx comes from the same build folder (bench/). Uses /usr/bin/time; the bills go into a
# temporary folder that is removed afterwards. A benchmark, not a test: it prints, it judges nothing.
set -euo pipefail
given_sizes=$(($# > 1 ? $# - 1 : 0))
source "$(dirname "$0")/common.sh"
((given_sizes)) || sizes=(10000 100000 200000)
runs="${RUNS:-3}"
formats=(${FORMATS:-90 2000 xml})
floor="$(dirname "$cli")/bench/floor_xlsx"
[ -x "$floor" ] || { echo "Kein floor_xlsx unter $floor (braucht libxlsxwriter: scripts/setup.sh --tests)" >&2; exit 2; }

# Rows with cells, text cells, number cells and formula cells of every sheet of a workbook.
count_cells() {
    python3 - "$1" <<'PY'
import re, sys, zipfile
rows = texts = numbers = formulas = 0
with zipfile.ZipFile(sys.argv[1]) as z:
    for name in z.namelist():
        if not re.match(r"xl/worksheets/sheet\d+\.xml$", name):
            continue
        xml = z.read(name).decode()
        rows += len(re.findall(r"<row [^>]*>(?=<c )", xml))
        for cell in re.finditer(r"<c [^>]*?(/>|>.*?</c>)", xml):
            c = cell.group(0)
            if "<f>" in c:
                formulas += 1
            elif 't="inlineStr"' in c or 't="s"' in c or 't="str"' in c:
                texts += 1
            elif "<v>" in c:
                numbers += 1
print(rows, texts, numbers, formulas)
PY
}

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'; }

# "wall_seconds peak_MB" of one run.
timed() {
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" > /dev/null 2>&1 || true
    awk '{ printf "%s %.0f\n", $1, $2 / 1024 }' "$work/time.txt"
}

printf '%-6s %8s %10s | %-17s | %-17s | %-13s\n' "" "" "" "bremora-cli" "floor" "ratio"
printf '%-6s %8s %10s | %8s %8s | %8s %8s | %6s %6s\n' "format" "items" "cells" "wall s" "peak MB" "wall s" "peak MB" "time" "memory"
for format in "${formats[@]}"; do
    case $format in
        90) ext=d83 ;;
        2000) ext=p83 ;;
        xml) ext=x83 ;;
        *) echo "unbekanntes Format $format" >&2; exit 2 ;;
    esac
    for n in "${sizes[@]}"; do
        bill="$work/lv_$n.$ext"
        "$lvgen" "$format" --items "$n" --seed 7 -q -o "$bill"
        "$cli" "$bill" -o "$work/out.xlsx" --ueberschreiben > /dev/null 2>&1
        read -r rows texts numbers formulas <<< "$(count_cells "$work/out.xlsx")"
        : > "$work/ours.txt"
        : > "$work/floor.txt"
        for ((i = 0; i < runs; i++)); do
            timed "$cli" "$bill" -o "$work/out.xlsx" --ueberschreiben >> "$work/ours.txt"
            timed "$floor" "$bill" "$work/floor.xlsx" "$rows" "$texts" "$numbers" "$formulas" >> "$work/floor.txt"
        done
        ours_wall=$(cut -d' ' -f1 "$work/ours.txt" | median)
        ours_peak=$(cut -d' ' -f2 "$work/ours.txt" | median)
        floor_wall=$(cut -d' ' -f1 "$work/floor.txt" | median)
        floor_peak=$(cut -d' ' -f2 "$work/floor.txt" | median)
        printf '%-6s %8s %10s | %8s %8s | %8s %8s | %6s %6s\n' "$format" "$n" \
            "$((texts + numbers + formulas))" "$ours_wall" "$ours_peak" "$floor_wall" "$floor_peak" \
            "$(awk -v a="$ours_wall" -v b="$floor_wall" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')" \
            "$(awk -v a="$ours_peak" -v b="$floor_peak" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
        rm -f "$bill" "$work/out.xlsx" "$work/floor.xlsx"
    done
done
