#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Many small bills: 200 copies of the bundled samples (samples/beispiel.d83, .p83, .x83 in turn)
# converted in one call with -j 2, against 200 single calls one after the other and 200 single
# calls two at a time (xargs -P 2). Prints the median wall time of a few runs, the CPU time and the
# peak memory of one run, measured with /usr/bin/time -v.
#
#   bench/bench_stapel.sh [path/to/bremora-cli] [files] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."

cli="$(realpath "${1:-build/bremora-cli}")"
files="${2:-200}"
runs="${3:-5}"
[ -x "$cli" ] || { echo "Kein Programm unter $cli (Release-Build angeben)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/lv"
samples=(samples/beispiel.d83 samples/beispiel.p83 samples/beispiel.x83)
for ((i = 0; i < files; i++)); do
    sample=${samples[i % 3]}
    cp "$sample" "$work/lv/lv$(printf '%03d' "$i").${sample##*.}"
done

# One way of converting everything into $work/out; the folder is emptied before.
batch() {
    "$cli" --leise -j 2 --regelungen=nein --ausgabeordner "$work/out" "$work"/lv/* >/dev/null
}
single_calls() {
    for f in "$work"/lv/*; do
        name=${f##*/}
        "$cli" --regelungen=nein "$f" -o "$work/out/${name%.*}.xlsx" 2>/dev/null
    done
}
single_calls_parallel() {
    # shellcheck disable=SC2016
    printf '%s\n' "$work"/lv/* | xargs -P 2 -I{} sh -c 'n=${1##*/}; "$0" --regelungen=nein "$1" -o "$2/${n%.*}.xlsx" 2>/dev/null' \
        "$cli" {} "$work/out"
}
export -f batch single_calls single_calls_parallel
export cli work

measure() {
    local how=$1 times=() i
    for ((i = 0; i < runs; i++)); do
        rm -rf "$work/out" && mkdir "$work/out"
        /usr/bin/time -v -o "$work/time.txt" bash -c "$how"
        times+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {
            n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%.2f", s }' "$work/time.txt")")
        written=$(find "$work/out" -name '*.xlsx' | wc -l)
        [ "$written" -eq "$files" ] || { echo "$how: $written statt $files Arbeitsmappen" >&2; exit 1; }
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$work/time.txt")
    peak_mb=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$work/time.txt")
    printf '%-34s %10s %10s %10s   %s\n' "$2" "$median" "$cpu" "$peak_mb" "${times[*]}"
}

echo "$files Rechnungen (Beispielgröße), $runs Läufe, $(nproc) Prozessorkerne"
printf '%-34s %10s %10s %10s   %s\n' "" "Median s" "CPU s" "Spitze MB" "alle Läufe s"
measure batch "ein Aufruf, -j 2"
measure single_calls "$files Aufrufe nacheinander"
measure single_calls_parallel "$files Aufrufe, je 2 (xargs -P 2)"
