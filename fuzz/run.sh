#!/usr/bin/env bash
# Builds the fuzz preset and runs every *_fuzz target for FUZZ_SECONDS seconds on a
# scratch copy of its seed corpus, and prints how many inputs each ran. Any crash, leak,
# sanitizer report or broken check fails the run; the input that caused it is kept in
# build/fuzz/artifacts/.
set -euo pipefail

cd "$(dirname "$0")/.."
FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
BUILD_DIR="build/fuzz"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

ARTIFACTS="$(pwd)/$BUILD_DIR/artifacts"  # absolute: a target may change its folder
mkdir -p "$ARTIFACTS"
targets=("$BUILD_DIR"/fuzz/*_fuzz)
if [ ! -x "${targets[0]}" ]; then
    echo "fuzz/run.sh: no fuzz targets were built" >&2
    exit 1
fi

failed=()
for exe in "${targets[@]}"; do
    [ -x "$exe" ] || continue
    name="$(basename "$exe")"
    work="$(mktemp -d)"
    if [ -d "fuzz/corpus/$name" ]; then
        cp -R "fuzz/corpus/$name/." "$work/"
    fi
    if ! "$exe" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
        -artifact_prefix="$ARTIFACTS/$name-" "$work" 2>"$work.log"; then
        echo "== $name: FAILED"
        tail -n 60 "$work.log"
        failed+=("$name")
    else
        awk -v name="$name" -v secs="$FUZZ_SECONDS" '
            /^stat::number_of_executed_units:/ { runs = $2 }
            /^stat::average_exec_per_sec:/ { rate = $2 }
            END { printf "== %s: %d executions in %d s (%d per second)\n", name, runs, secs, rate }
        ' "$work.log"
    fi
    rm -rf "$work" "$work.log"
done

if [ "${#failed[@]}" -ne 0 ]; then
    echo "fuzz/run.sh: failed: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz/run.sh: all targets passed"
