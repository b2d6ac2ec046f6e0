#!/bin/sh
# Runs every fuzz target for a bounded time over its seeds and the regression inputs.
# Usage: fuzz/run.sh BUILD_DIR SECONDS [WORK_DIR]   (BUILD_DIR from: cmake -S fuzz -B BUILD_DIR
# -DCMAKE_CXX_COMPILER=clang++ && cmake --build BUILD_DIR -j2). Fails on the first finding; the
# input that found it is left in WORK_DIR/findings.
set -eu
build=${1:?usage: run.sh BUILD_DIR SECONDS [WORK_DIR]}
seconds=${2:?usage: run.sh BUILD_DIR SECONDS [WORK_DIR]}
here=$(cd "$(dirname "$0")" && pwd)
work=${3:-$(mktemp -d)}
mkdir -p "$work/findings"
# The bill generator is built with the targets (bremora/ is the project's own build below BUILD_DIR).
"$here/make_seeds.sh" "$work/seeds" "$build/bremora/bremora-lvgen"
cat "$here"/dict/*.dict > "$work/all.dict"

for t in fuzz_detect fuzz_gaeb90 fuzz_gaeb2000 fuzz_rtf fuzz_gaebxml fuzz_angebot; do
    case $t in
        fuzz_gaeb90) dict="$here/dict/gaeb90.dict" ;;
        fuzz_gaeb2000 | fuzz_rtf) dict="$here/dict/gaeb2000.dict" ;;
        fuzz_gaebxml) dict="$here/dict/gaebxml.dict" ;;
        fuzz_angebot) dict="$here/dict/xlsx.dict" ;;
        *) dict="$work/all.dict" ;;
    esac
    mkdir -p "$work/corpus/$t"
    set -- "$work/corpus/$t" "$work/seeds/$t"
    if [ -d "$here/regressions/$t" ]; then set -- "$@" "$here/regressions/$t"; fi
    echo "== $t"
    "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -dict="$dict" -artifact_prefix="$work/findings/$t-" -print_final_stats=1 \
        "$@"
done
