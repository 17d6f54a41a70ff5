#!/usr/bin/env bash
# Builds and runs every test: a normal build and an ASan+UBSan build, then the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for preset in default asan; do
    echo "== build and test: $preset =="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    ctest --preset "$preset" -j"$jobs"
done
echo "== fuzz =="
FUZZ_SECONDS="${FUZZ_SECONDS:-20}" bash fuzz/run.sh
