#!/usr/bin/env bash
# Builds the bench preset, runs the WR_BLOCK, delay and ByteBlaster-bit benchmarks, then times
# real jobs of the built tamrel on an emulated W25Q32 (4 MiB) over each cable: host CPU time of
# the run (also per MiB moved) and the modeled wire time from the emulator's stats line. The
# jobs: the program sequence, erase, write, verify and dump of the whole chip; -c with an
# identical image, one that differs in three scattered 4 KiB units and one that differs
# everywhere; a range erase of whole 64 KiB blocks.
#
# BASE=<git revision> bash bench/run.sh also builds that revision's tamrel, with this tree's
# USB-Blaster and chip models put in their place so both run on the same model of the wire,
# and times its jobs beside this tree's: a before/after table.
set -euo pipefail

cd "$(dirname "$0")/.."
SRC="$PWD"
unset TAMREL_EXIT_CODES  # the jobs are checked for the classic status 1
BUILD_DIR="$SRC/build/bench"
MIB=4

cmake --preset bench >/dev/null
cmake --build --preset bench -j "${JOBS:-1}"

echo "== Google benchmarks"
"$BUILD_DIR/bench/wr_block_bench"

declare -A BIN=([after]="$BUILD_DIR/tamrel")
if [ -n "${BASE:-}" ]; then
    base_dir="$(mktemp -d)"
    git -C "$SRC" archive "$BASE" | tar -x -C "$base_dir"
    # The same chip model too, so that host CPU compares the tool and not two models.
    cp "$SRC"/src/emulator/{emulated_usb_blaster.h,emulated_usb_blaster.cpp,wire_cost.h} \
        "$SRC"/src/emulator/{flash_chip.h,flash_chip.cpp} "$base_dir/src/emulator/"
    cp "$SRC"/src/adapters/d2xx.h "$base_dir/src/adapters/"  # the model's overlapped calls
    cp "$SRC"/src/flash/spi_opcodes.h "$base_dir/src/flash/"  # the opcodes the model knows
    # Older trees name the status register's BP and SRP bits once more.
    grep -q STATUS_PROTECT "$base_dir/src/flash/spi_opcodes.h" ||
        echo 'enum : unsigned char { STATUS_PROTECT = 0xBC };' >>"$base_dir/src/flash/spi_opcodes.h"
    cmake -S "$base_dir" -B "$base_dir/build" -DCMAKE_BUILD_TYPE=Release -DTAMREL_TESTS=OFF \
        >/dev/null
    cmake --build "$base_dir/build" --target tamrel -j "${JOBS:-1}" >/dev/null
    BIN[before]="$base_dir/build/tamrel"
fi

# Value of a numeric key in a JSON stats line.
json_num() { sed -n "s/.*\"$1\":\([0-9.]*\).*/\1/p" <<<"$2"; }

# run BUILD JOB ARGS...: runs that build's tamrel, appends a table row; output kept in JOB.log.
run() {
    local build="$1" job="$2"
    shift 2
    local status=0
    { TIMEFORMAT='%3U %3S'; time "${BIN[$build]}" "$@" >"$job.log" 2>&1 || status=$?; } 2>time.txt
    if [ "$status" -ne 1 ]; then  # tamrel exits 1 on success
        echo "bench/run.sh: $build $cable $job: tamrel exited $status" >&2
        tail -c 400 "$job.log" >&2
        exit 1
    fi
    local stats cpu wire frames
    stats="$(tail -n 1 stats.json)"
    cpu="$(awk '{ printf "%.2f", $1 + $2 }' time.txt)"
    wire="$(json_num wire_time_s "$stats")"
    frames="$(json_num frames "$stats")"
    printf '%-6s %-5s %-18s %10s %10.3f %10.1f %9s %11.2f\n' "$build" "$cable" "$job" "$cpu" \
        "$(awk -v c="$cpu" -v m="$MIB" 'BEGIN { print c / m }')" "$wire" "$frames" \
        "$(awk -v w="$wire" -v m="$MIB" 'BEGIN { print w / m }')"
}

IMAGE="$(mktemp)"
head -c $((MIB * 1024 * 1024)) /dev/urandom >"$IMAGE"
trap 'rm -f "$IMAGE"; [ -z "${base_dir:-}" ] || rm -rf "$base_dir"' EXIT

echo
echo "== tamrel on an emulated W25Q32 ($MIB MiB random image)"
printf '%-6s %-5s %-18s %10s %10s %10s %9s %11s\n' build cable job "host CPU s" "CPU s/MiB" \
    "wire s" frames "wire s/MiB"
for cable in lpt usb; do
    for build in before after; do
        [ -n "${BIN[$build]:-}" ] || continue
        work="$(mktemp -d)"
        (
            cd "$work"
            export XDG_STATE_HOME="$work/state"  # journals of range erases stay in here
            cp "$SRC/flash_db.cfg" .
            cp "$IMAGE" image.bin
            printf 'port=%s\nemulate=W25Q32\nemulate_image=chip.bin\nemulate_stats=stats.json\n' \
                "$cable" >config.cfg
            run "$build" "program -e -w -v" -e -w -v image.bin
            run "$build" "erase -e" -e image.bin
            run "$build" "write -w" -w image.bin
            run "$build" "verify -v" -v image.bin
            grep -q "Verify OK" "verify -v.log" ||
                { echo "bench/run.sh: $build $cable: verify did not report OK" >&2; exit 1; }
            grep -q "Verify OK" "program -e -w -v.log" ||
                { echo "bench/run.sh: $build $cable: verify did not report OK" >&2; exit 1; }
            run "$build" "dump -d" -d dump.bin
            cmp -s dump.bin image.bin ||
                { echo "bench/run.sh: $build $cable dump differs from image" >&2; exit 1; }
            if [ "$build" = after ]; then
                # Only what changed: the chip holds image.bin now.
                run "$build" "changed: identical" -c -e -w -v image.bin
                if grep -Eq '"0x(02|20|52|D8|C7)"' <(tail -n 1 stats.json); then
                    echo "bench/run.sh: $cable: -c sent an erase or program command" >&2
                    exit 1
                fi
                cp image.bin three.bin
                for at in 0x0F3000 0x1C8000 0x3A1000; do
                    head -c 4096 /dev/urandom |
                        dd of=three.bin bs=1 seek=$((at)) conv=notrunc status=none
                done
                run "$build" "changed: 3 units" -c -e -w -v three.bin
                head -c $((MIB * 1024 * 1024)) /dev/urandom >other.bin
                run "$build" "changed: all" -c -e -w -v other.bin
                for f in "changed: 3 units" "changed: all"; do
                    grep -q "Verify OK" "$f.log" ||
                        { echo "bench/run.sh: $cable: $f: verify did not report OK" >&2; exit 1; }
                done
            fi
            run "$build" "erase 0x10000-0x3EFFFF" -e -ab=0x10000 -al=0x3EFFFF
        )
        rm -rf "$work"
    done
done
echo "dumps match the image on both cables"

# The program sequence of a 32 MiB image with a pseudo-terminal as its output (script(1)):
# host CPU of the run, and the bytes and progress lines the terminal received.
if command -v script >/dev/null; then
    echo
    echo "== program sequence on a terminal, emulated W25Q256 (32 MiB random image), USB-Blaster"
    printf '%-6s %10s %14s %14s\n' build "host CPU s" "terminal bytes" "lines drawn"
    for build in before after; do
        [ -n "${BIN[$build]:-}" ] || continue
        work="$(mktemp -d)"
        (
            cd "$work"
            cp "$SRC/flash_db.cfg" .
            head -c $((32 * 1024 * 1024)) /dev/urandom >image.bin
            printf 'port=usb\nemulate=W25Q256\nemulate_image=chip.bin\n' >config.cfg
            # script(1) ends with tamrel's status, 1 on success: the output says how it went.
            script -qec "bash -c 'TIMEFORMAT=\"%3U %3S\"; { time \"${BIN[$build]}\" -e -w -v \
image.bin >/dev/tty; } 2>time.txt'" typescript >/dev/null || true
            grep -q "Verify OK" typescript ||
                { echo "bench/run.sh: $build: terminal run did not verify" >&2; exit 1; }
            # The terminal turns each newline into CR LF: count the other carriage returns.
            lines=$(($(tr -cd '\r' <typescript | wc -c) - $(tr -cd '\n' <typescript | wc -c)))
            printf '%-6s %10s %14s %14s\n' "$build" "$(awk '{ printf "%.2f", $1 + $2 }' time.txt)" \
                "$(stat -c %s typescript)" "$lines"
        )
        rm -rf "$work"
    done
fi
