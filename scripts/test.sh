#!/usr/bin/env bash
# Builds Bremora with its tests and runs them. BUILD_DIR and extra cmake arguments select
# another build (the sanitizer run of CI uses build-asan with -DBREMORA_SANITIZE=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
