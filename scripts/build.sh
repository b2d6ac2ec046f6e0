#!/usr/bin/env bash
# Builds Bremora's programs into build/ (Release, warnings as errors), without the tests, so that
# what `scripts/setup.sh` installs is enough. BUILD_DIR selects another folder; extra arguments go
# to cmake. The tests are built and run by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBREMORA_TESTS=OFF "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
