#!/usr/bin/env bash
# Builds Bremora with its tests and runs them; needs `scripts/setup.sh --tests` (configuring stops
# with a message when GoogleTest is missing). BUILD_DIR and extra cmake arguments select another
# build (the sanitizer run of CI uses build-asan with -DBREMORA_SANITIZE=ON). The last line says how
# many tests were skipped and why, from ctest's JUnit report.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" -DBREMORA_TESTS=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
junit="$(cd "$build" && pwd)/ctest-junit.xml"
rm -f "$junit"
status=0
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --output-junit "$junit" || status=$?

# Skipped tests, counted by the reason each gave (the line after GoogleTest's "Skipped"); the
# reasons of the tests that need the real bills beside the project become one.
samples_missing=0
[ -d ../shared/samples ] || samples_missing=1
if [ -f "$junit" ]; then
    awk -v samples_missing="$samples_missing" '
        function unescape(s) {
            gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s); gsub(/&apos;/, "\047", s)
            gsub(/&amp;/, "\\&", s)
            return s
        }
        /<testcase / { skipped = 0; reason = ""; want = 0 }
        /<skipped/ { skipped = 1 }
        want { reason = $0; want = 0 }
        /: Skipped$/ { if (reason == "") want = 1 }
        /<\/testcase>/ {
            if (skipped) {
                r = unescape(reason)
                sub(/^[ \t]+/, "", r); sub(/[ \t\r]+$/, "", r)
                if (r ~ /^\[  SKIPPED \]/ || r == "") r = "ohne Angabe eines Grundes"
                if (samples_missing && tolower(r) ~ /sample/) r = "../shared/samples fehlt"
                if (!(r in count)) order[++reasons] = r
                count[r]++; total++
            }
            skipped = 0
        }
        END {
            if (total == 0) { print "Keine Tests übersprungen."; exit }
            line = total (total == 1 ? " Test" : " Tests") " übersprungen: "
            for (i = 1; i <= reasons; i++) {
                r = order[i]
                line = line (i > 1 ? "; " : "") r (reasons > 1 ? " (" count[r] ")" : "")
            }
            print line
        }' "$junit"
else
    echo "Übersprungene Tests unbekannt: ctest hat keinen JUnit-Bericht ($junit) geschrieben."
fi
exit "$status"
