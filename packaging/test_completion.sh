#!/usr/bin/env bash
# Bash completion test: loads the generated completion file and asks it for the words of
# command lines, with "=" as a word break (bash's default) and without.
# Usage: test_completion.sh COMPLETION_FILE
set -u

source "$1" || { echo "FAIL: cannot load $1"; exit 1; }
fails=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/run" "$tmp/xdg/tamrel" "$tmp/bin" "$tmp/share/tamrel"
printf 'name=FIRSTLINE is a remark\n# name=REMARK\nname=W25Q32 mnfid=0xEF\nname=W25Q16\tmnfid=0xEF\n' \
    >"$tmp/run/flash_db.cfg"
printf '#\nname=USERCHIP mnfid=0xC2\n' >"$tmp/xdg/tamrel/flash_db.cfg"
# The installed one, beside the program's bin/: searched after the user's.
printf '#\nname=W25Q32 mnfid=0xEF\nname=W25X10 mnfid=0xEF\nname=MX25L mnfid=0xC2\n' \
    >"$tmp/share/tamrel/flash_db.cfg"
touch "$tmp/run/fw.bin" "$tmp/run/fw2.bin" "$tmp/run/other.bin"
printf '#!/bin/sh\n' >"$tmp/bin/tamrel" && chmod +x "$tmp/bin/tamrel"
export XDG_CONFIG_HOME=$tmp/xdg PATH=$tmp/bin:$PATH

# check WORDS... -- EXPECTED...: the last word is the one being completed.
check() {
    local words=() want=()
    while [ "$1" != -- ]; do words+=("$1"); shift; done
    shift
    want=("$@")
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#words[@]} - 1))
    _tamrel
    local got="${COMPREPLY[*]-}" expect="${want[*]-}"
    if [ "$got" = "$expect" ]; then
        echo "ok:   ${words[*]} -> $got"
    else
        echo "FAIL: ${words[*]} -> '$got', expected '$expect'"
        fails=$((fails + 1))
    fi
}

cd "$tmp/run" || exit 1
# Chip names from the current folder's database, then the installed one: records only, in
# file order, each name once.
check tamrel -n = W25 -- W25Q32 W25Q16 W25X10
check tamrel -i -N = -- W25Q32 W25Q16 W25X10 MX25L
check tamrel -n=W25Q3 -- -n=W25Q32
check tamrel -n = F -- 
check tamrel --list-chips M -- MX25L
# Without one in the current folder, the user's.
cd "$tmp" || exit 1
check tamrel -n = -- USERCHIP W25Q32 W25X10 MX25L
cd "$tmp/run" || exit 1
# Switches, and files after them; nothing for the numbers of -ab= and the like.
check tamrel -e -- -e
check tamrel -a -- -ab= -al=
check tamrel --h -- --help
check tamrel --l -- --list --list-chips
check tamrel --usb-s -- --usb-serial=
check tamrel -c -- -c
check tamrel -e -w -v fw -- fw.bin fw2.bin
check tamrel -d o -- other.bin
check tamrel -ab = 0x -- 

[ "$fails" -eq 0 ] && echo "all completion checks passed" || { echo "$fails check(s) failed"; exit 1; }
