#!/usr/bin/env bash
# Builds tamrel and runs a whole flashing job on the emulated target: identify the chip,
# program an image with erase, write and verify, dump it back and compare the bytes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/tools/deps.sh" --build
cmake --preset default -S "$root" >/dev/null
cmake --build "$root/build/default" --target tamrel -j"$(nproc)"
tamrel="$root/build/default/tamrel"
unset TAMREL_EXIT_CODES  # the checks below expect success as status 1

work="$root/build/quickstart"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
cp "$root/flash_db.cfg" .
cat > config.cfg <<'CFG'
port=usb
emulate=W25Q32
emulate_image=flash.img
CFG
head -c 100000 /dev/urandom > image.bin

run() {
    echo
    echo "\$ tamrel $*"
    set +e
    # Progress lines overwrite each other on a terminal; in this log keep the last of each run.
    "$tamrel" "$@" | tr '\r' '\n' | awk '
        { key = $0; gsub(/[0-9A-Fx]+/, "", key) }
        NR > 1 && !(key == prev_key && key ~ /(%|->)/) { print prev }
        { prev = $0; prev_key = key }
        END { print prev }'
    local status=${PIPESTATUS[0]}
    set -e
    echo "[exit status $status]"
    [ "$status" = 1 ]
}

run -i
run -e -w -v image.bin -ab=0x10000
run -d dump.bin -ab=0x10000 -al=$((0x10000 + 100000 - 1))
echo
if cmp image.bin dump.bin; then
    echo "dump.bin is byte-identical to image.bin: the emulated chip holds the image at 0x10000."
fi
echo "Files are in $work (flash.img is the chip's content)."
