#!/usr/bin/env bash
# Builds the bench preset, runs the WR_BLOCK and delay benchmarks, then times real jobs of
# the built tamrel on an emulated W25Q32 (4 MiB) over each cable: host CPU time of the run
# and the modeled wire time from the emulator's stats line.
set -euo pipefail

cd "$(dirname "$0")/.."
SRC="$PWD"
BUILD_DIR="$SRC/build/bench"
TAMREL="$BUILD_DIR/tamrel"
MIB=4

cmake --preset bench >/dev/null
cmake --build --preset bench -j "${JOBS:-1}"

echo "== Google benchmarks"
"$BUILD_DIR/bench/wr_block_bench"

# Value of a numeric key in a JSON stats line.
json_num() { sed -n "s/.*\"$1\":\([0-9.]*\).*/\1/p" <<<"$2"; }

# run JOB ARGS...: runs tamrel, appends a table row; output kept in JOB.log.
run() {
    local job="$1"
    shift
    local status=0
    { TIMEFORMAT='%3U %3S'; time "$TAMREL" "$@" >"$job.log" 2>&1 || status=$?; } 2>time.txt
    if [ "$status" -ne 1 ]; then  # tamrel exits 1 on success
        echo "bench/run.sh: $cable $job: tamrel exited $status" >&2
        tail -c 400 "$job.log" >&2
        exit 1
    fi
    local stats cpu wire frames
    stats="$(tail -n 1 stats.json)"
    cpu="$(awk '{ printf "%.2f", $1 + $2 }' time.txt)"
    wire="$(json_num wire_time_s "$stats")"
    frames="$(json_num frames "$stats")"
    printf '%-5s %-22s %10s %12.3f %10s %12.3f\n' "$cable" "$job" "$cpu" "$wire" "$frames" \
        "$(awk -v w="$wire" -v m="$MIB" 'BEGIN { print w / m }')"
}

IMAGE="$(mktemp)"
head -c $((MIB * 1024 * 1024)) /dev/urandom >"$IMAGE"
trap 'rm -f "$IMAGE"' EXIT

echo
echo "== tamrel on an emulated W25Q32 ($MIB MiB random image)"
printf '%-5s %-22s %10s %12s %10s %12s\n' cable job "host CPU s" "wire s" frames "wire s/MiB"
for cable in lpt usb; do
    work="$(mktemp -d)"
    (
        cd "$work"
        cp "$SRC/flash_db.cfg" .
        cp "$IMAGE" image.bin
        printf 'port=%s\nemulate=W25Q32\nemulate_image=chip.bin\nemulate_stats=stats.json\n' \
            "$cable" >config.cfg
        run "program -e -w -v" -e -w -v image.bin
        run "erase -e" -e image.bin
        run "write -w" -w image.bin
        run "verify -v" -v image.bin
        grep -q "Verify OK" "program -e -w -v.log" "verify -v.log" ||
            { echo "bench/run.sh: $cable: verify did not report OK" >&2; exit 1; }
        run "dump -d" -d dump.bin
        cmp dump.bin image.bin || { echo "bench/run.sh: $cable dump differs from image" >&2; exit 1; }
    )
    rm -rf "$work"
done
echo "dump matches image on both cables"
