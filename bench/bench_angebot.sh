#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The bid of a generated tender of 100,000 items (other sizes as arguments) in each format: the
# tender converted into its workbook (phase 83: the tender's own unit prices stand in the price
# cells, so the workbook is priced as saved), then `bremora-cli --angebot` from tender and
# workbook to the X84: wall time, CPU time and peak memory of that run, and the bid's size.
#
#   bench/bench_angebot.sh [path/to/bremora-cli] [sizes...]
#   LIBREOFFICE=1 bench/bench_angebot.sh ...   re-save each workbook with headless LibreOffice
#                                              Calc first (its shared strings and stored results)
#
# Uses /usr/bin/time -v; everything goes into a temporary folder that is removed afterwards.
set -euo pipefail
source "$(dirname "$0")/common.sh"
[ "${#@}" -gt 0 ] || sizes=(100000)

measure() {
    awk -F': ' '
        /Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; wall = s }
        /User time|System time/ { cpu += $2 }
        /Maximum resident set size/ { peak = $2 / 1024 }
        END { printf "%.2f %.2f %.0f", wall, cpu, peak }' "$work/time.txt"
}

printf '%-6s %8s | %-9s %-9s | %-22s | %8s | %s\n' "" "" "tender" "workbook" "--angebot" "bid" ""
printf '%-6s %8s | %9s %9s | %7s %7s %6s | %8s | %s\n' \
    "format" "items" "MB" "MB" "wall s" "cpu s" "peak MB" "MB" "exit"
for n in "${sizes[@]}"; do
    for format in xml 90 2000; do
        case $format in
            xml) ext=x83 ;;
            90) ext=d83 ;;
            2000) ext=p83 ;;
        esac
        tender="$work/lv_$n.$ext"
        "$lvgen" "$format" --items "$n" -q -o "$tender"
        "$cli" "$tender" -o "$work/lv_$n.xlsx" > /dev/null 2>&1
        priced="$work/lv_$n.xlsx"
        if [ "${LIBREOFFICE:-0}" = 1 ]; then
            mkdir -p "$work/profile/user" "$work/lo"
            HOME="$work" soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
                --nolockcheck --convert-to xlsx --outdir "$work/lo" "$priced" > /dev/null 2>&1
            priced="$work/lo/lv_$n.xlsx"
        fi
        status=0
        /usr/bin/time -v -o "$work/time.txt" "$cli" --angebot "$tender" "$priced" -o "$work/lv_$n.x84" \
            > /dev/null 2> "$work/messages.txt" || status=$?
        read -r wall cpu peak <<< "$(measure)"
        mb() { awk -v b="$(stat -c %s "$1" 2>/dev/null || echo 0)" 'BEGIN { printf "%.1f", b / 1048576 }'; }
        printf '%-6s %8s | %9s %9s | %7s %7s %6s | %8s | %s\n' "$format" "$n" "$(mb "$tender")" \
            "$(mb "$priced")" "$wall" "$cpu" "$peak" "$(mb "$work/lv_$n.x84")" "$status"
        [ "$status" = 0 ] || tail -5 "$work/messages.txt"
        rm -f "$work"/lv_"$n".* "$work"/lo/*
    done
done
