#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# GAEB DA XML conversion time and peak memory for generated bills of 10,000, 100,000 and
# 1,000,000 items (default options of bremora-lvgen: 2 levels, phase 83, 2 long-text paragraphs per
# item), beside pugixml alone parsing the same file and the conversion into the in-memory
# workbook without saving (the reader's share of the run).
#
#   bench/bench_gaebxml.sh [path/to/bremora-cli] [sizes...]
#
# The helpers bench_gaebxml_parse and bench_gaebxml_model come from the same build folder
# (bench/); when missing they are compiled into the temporary folder (the model program from
# the build folder's libraries). Times are CPU seconds (user + system) unless marked wall: the
# machine is shared, so wall time says less. Uses /usr/bin/time -v; the bills go into a
# temporary folder that is removed afterwards.
set -euo pipefail
source "$(dirname "$0")/common.sh"

build="$(dirname "$cli")"
parse="$build/bench/bench_gaebxml_parse"
if [ ! -x "$parse" ]; then
    parse="$work/bench_gaebxml_parse"
    g++ -std=c++20 -O2 -DNDEBUG bench/bench_gaebxml_parse.cpp -lpugixml -o "$parse"
fi
model="$build/bench/bench_gaebxml_model"
if [ ! -x "$model" ]; then
    model="$work/bench_gaebxml_model"
    g++ -std=c++20 -O2 -DNDEBUG -I. bench/bench_gaebxml_model.cpp "$build/app/libbremora_app.a" \
        "$build/gaeb90/libbremora_gaeb90.a" "$build/gaeb2000/libbremora_gaeb2000.a" \
        "$build/gaebxml/libbremora_gaebxml.a" "$build/workbook/libbremora_workbook.a" \
        -lfmt -lpugixml -o "$model"
fi

# Wall time, CPU time and peak memory of the last /usr/bin/time -v run.
measure() {
    awk -F': ' '
        /Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; wall = s }
        /User time|System time/ { cpu += $2 }
        /Maximum resident set size/ { peak = $2 / 1024 }
        END { printf "%.2f %.2f %.0f", wall, cpu, peak }' "$work/time.txt"
}

printf '%-8s %8s | %-15s | %-15s | %-22s | %-13s | %s\n' "" "" "pugixml alone" "into the model" "console run, saved" "ratios" ""
printf '%-8s %8s | %7s %7s | %7s %7s | %7s %7s %6s | %6s %6s | %s\n' \
    "items" "input MB" "cpu s" "peak MB" "cpu s" "peak MB" "wall s" "cpu s" "peak MB" "model" "peak" "exit"
for n in "${sizes[@]}"; do
    bill="$work/lv_$n.x83"
    "$lvgen" xml --items "$n" -q -o "$bill"
    bytes=$(stat -c %s "$bill")
    size_mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')

    /usr/bin/time -v -o "$work/time.txt" "$parse" "$bill" > /dev/null
    read -r _ parse_cpu parse_peak <<< "$(measure)"
    /usr/bin/time -v -o "$work/time.txt" "$model" "$bill" > /dev/null || true
    read -r _ model_cpu model_peak <<< "$(measure)"

    status=0
    /usr/bin/time -v -o "$work/time.txt" "$cli" "$bill" -o "$work/lv_$n.xlsx" \
        > /dev/null 2> "$work/messages.txt" || status=$?
    read -r wall cpu peak <<< "$(measure)"

    # model: conversion into the model per parse (CPU); peak: the run's peak memory per input size.
    ratio=$(awk -v a="$model_cpu" -v b="$parse_cpu" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
    size_ratio=$(awk -v p="$peak" -v b="$bytes" 'BEGIN { printf "%.1f", p * 1048576 / b }')
    printf '%-8s %8s | %7s %7s | %7s %7s | %7s %7s %6s | %6s %6s | %s\n' "$n" "$size_mb" "$parse_cpu" \
        "$parse_peak" "$model_cpu" "$model_peak" "$wall" "$cpu" "$peak" "$ratio" "$size_ratio" "$status"
    if [ "$status" -ne 0 ] || [ "$(grep -vc '^Konvertierung abgeschlossen\.\|^$\|^Das Programm wird jetzt beendet\.\|^Arbeitsmappe gespeichert' "$work/messages.txt")" -gt 0 ]; then
        echo "  Meldungen ($(wc -l < "$work/messages.txt") Zeilen):" && sed 's/^/    /' "$work/messages.txt" | head -n 8
    fi
    rm -f "$bill" "$work/lv_$n.xlsx"
done
