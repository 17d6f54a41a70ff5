#!/usr/bin/env bash
# Install test: installs the build under a temporary root (DESTDIR) with the prefix
# /usr/local and, as a user without root would, under a prefix of its own; checks the files,
# runs the installed program, checks the manual page, the choice of udev folder, and builds
# the Debian package, which leaves install_manifest.txt as the last install wrote it.
# Usage: test_install.sh BUILD_DIR SOURCE_DIR CMAKE CPACK
# Needs the Debian packages man-db, groff-base (manual page) and dpkg-dev (package).
# Run it after a full build: cpack brings every target up to date before it packages.
set -u

build=$1 src=$2 cmake=$3 cpack=$4
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
pass() { echo "ok:   $*"; }

for tool in man:man-db groff:groff-base dpkg-deb:dpkg; do
    if ! command -v "${tool%%:*}" >/dev/null; then
        echo "FAIL: '${tool%%:*}' not found: install the Debian package ${tool#*:}"
        exit 1
    fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
prefix=$root/usr/local
# No user's own config.cfg or flash_db.cfg may answer for the installed ones.
export XDG_CONFIG_HOME=$tmp/xdg
unset TAMREL_EXIT_CODES  # the checks expect the classic status 1 for success

# The files an installation consists of below PREFIX, and the udev rules: where udev reads
# them for a system prefix (UDEV empty), else below UDEV.
in_prefix() {
    local p=$1 udev=${2:-usr/lib} list="bin/tamrel
share/bash-completion/completions/tamrel
share/doc/tamrel/copyright
share/man/man1/tamrel.1.gz
share/tamrel/config-emulated.cfg
share/tamrel/config-lpt.cfg
share/tamrel/config-usb.cfg
share/tamrel/flash_db.cfg"
    if ! command -v gzip >/dev/null; then list=${list/tamrel.1.gz/tamrel.1}; fi
    { sed "s|^|$p/|" <<<"$list"; echo "$udev/udev/rules.d/60-tamrel.rules"; } | LC_ALL=C sort
}
expected=$(in_prefix usr/local)

# --- cmake --install ---------------------------------------------------------------------
if ! DESTDIR=$root "$cmake" --install "$build" --prefix /usr/local >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log"
    echo "FAIL: cmake --install failed (is the build up to date?)"
    exit 1
fi
installed=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" = "$expected" ]; then
    pass "installed files"
else
    fail "installed files differ from the expected list:"
    diff <(echo "$expected") <(echo "$installed")
fi
[ -x "$prefix/bin/tamrel" ] || fail "bin/tamrel is not executable"

# A prefix of the user's own: everything below it, the udev rules too, and how to copy them
# where udev reads them. (Under DESTDIR all the same, so that a run as root writes nothing
# outside the test's folder whatever it installs.)
home=$tmp/home/.local
if DESTDIR=$tmp/user "$cmake" --install "$build" --prefix "$home/" >"$tmp/home.log" 2>&1; then
    got=$(cd "$tmp/user" && find . -type f | sed "s|^\./${home#/}/||" | LC_ALL=C sort)
    want=$(in_prefix . lib | sed 's|^\./||' | LC_ALL=C sort)
    [ "$got" = "$want" ] && pass "install under --prefix ~/.local" ||
        { fail "install under --prefix ~/.local:"; diff <(echo "$want") <(echo "$got"); }
    grep -qF "sudo cp $home/lib/udev/rules.d/60-tamrel.rules /etc/udev/rules.d/" "$tmp/home.log" &&
        pass "install says how to copy the udev rules" || { fail "no word on the udev rules:"; cat "$tmp/home.log"; }
else
    cat "$tmp/home.log"
    fail "cmake --install --prefix ~/.local failed"
fi
manifest=$(cat "$build/install_manifest.txt" 2>/dev/null)

# --- the installed program ---------------------------------------------------------------
# Without arguments: banner, usage text, status 1, and no file read (run in an empty folder).
mkdir "$tmp/empty"
usage=$(cd "$tmp/empty" && "$prefix/bin/tamrel" 2>&1)
rc=$?
[ "$rc" = 1 ] && pass "no arguments: status 1" || fail "no arguments: status $rc, expected 1"
case "$usage" in
    $'\nTamrel, ver 2.8, '*) pass "banner" ;;
    *) fail "banner missing; output was: $usage" ;;
esac
grep -q '^ Usage: tamrel ' <<<"$usage" && pass "usage text" || fail "usage text missing"

# The installed database and emulated-target example work together: run from a folder
# holding only config.cfg, the program takes flash_db.cfg from its installation and says so.
mkdir "$tmp/run"
cp "$prefix/share/tamrel/config-emulated.cfg" "$tmp/run/config.cfg" 2>/dev/null
out=$(cd "$tmp/run" && "$prefix/bin/tamrel" -i 2>&1)
rc=$?
if [ "$rc" = 1 ] && grep -qx "Using $prefix/share/tamrel/flash_db.cfg" <<<"$out" &&
    grep -q '^Emulated target: ' <<<"$out" && grep -q '^Status Register:' <<<"$out"; then
    pass "tamrel -i on the installed emulated-target example and database"
else
    fail "tamrel -i on the installed emulated-target example: status $rc, output:"
    echo "$out"
fi
grep -q "Warning: 'extid=' not defined" <<<"$out" && fail "the shipped W25Q32 record warns about extid="

# --- udev folder -------------------------------------------------------------------------
# The other folder udev reads, chosen at configure time; only the rules are installed.
if "$cmake" -S "$src" -B "$tmp/udev-build" -DTAMREL_TESTS=OFF \
    -DTAMREL_UDEV_DIR=/etc/udev/rules.d >"$tmp/udev.log" 2>&1 &&
    DESTDIR=$tmp/udev-root "$cmake" --install "$tmp/udev-build" --component udev >>"$tmp/udev.log" 2>&1; then
    got=$(cd "$tmp/udev-root" && find . -type f | sed 's|^\./||')
    [ "$got" = etc/udev/rules.d/60-tamrel.rules ] && pass "TAMREL_UDEV_DIR=/etc/udev/rules.d" ||
        fail "TAMREL_UDEV_DIR=/etc/udev/rules.d installed: $got"
else
    cat "$tmp/udev.log"
    fail "configuring with TAMREL_UDEV_DIR=/etc/udev/rules.d"
fi
if "$cmake" -S "$src" -B "$tmp/udev-bad" -DTAMREL_TESTS=OFF -DTAMREL_UDEV_DIR=lib/udev/rules.d \
    >"$tmp/udev-bad.log" 2>&1; then
    fail "a relative TAMREL_UDEV_DIR, which udev would never read, was accepted"
else
    pass "a relative TAMREL_UDEV_DIR is refused"
fi

# --- example configurations --------------------------------------------------------------
# config.cfg is searched for key texts anywhere but in comment lines: each example must hold
# exactly its own settings and no key text anywhere else.
check_example() {
    local file=$prefix/share/tamrel/$1 want=$2 got
    got=$(grep -vE '^[[:blank:]]*#' "$file" | grep -E 'port=|lptaddr|emulate|exit_codes' | LC_ALL=C sort)
    if [ "$got" = "$want" ]; then
        pass "example $1"
    else
        fail "example $1: key texts found:"
        echo "$got"
    fi
}
check_example config-lpt.cfg $'lptaddr=0x378\nport=lpt'
check_example config-usb.cfg 'port=usb'
check_example config-emulated.cfg $'emulate=W25Q32\nemulate_image=flash.img\nport=usb'

# --- manual page -------------------------------------------------------------------------
for page in "$src/packaging/tamrel.1" "$prefix/share/man/man1/tamrel.1.gz"; do
    [ -f "$page" ] || page=${page%.gz}
    warn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warn" ] && pass "man --warnings ${page#"$tmp"/}" || fail "man warnings for $page: $warn"
done
# Every switch of the usage text has an entry in OPTIONS.
rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$src/packaging/tamrel.1" 2>/dev/null)
options=$(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$rendered")
switches=$(grep -oE '^ -[a-z]+=?' <<<"$usage" | tr -d ' ')
if [ -z "$switches" ]; then fail "no switches found in the usage text"; fi
missing=0
for sw in $switches; do
    case $sw in
        *=) pattern="^ {7}[-]${sw#-}" ;;
        *) pattern="^ {7}[-]${sw#-}( |\$)" ;;
    esac
    grep -qE "$pattern" <<<"$options" || { fail "man page: no OPTIONS entry for $sw"; missing=1; }
done
if [ -n "$switches" ] && [ "$missing" = 0 ]; then pass "man page OPTIONS cover: $(echo $switches)"; fi

# --- Debian package ----------------------------------------------------------------------
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log"
    # cpack first brings the whole build up to date; show why that failed.
    tail -n 20 "$tmp"/pkg/_CPack_Packages/*/DEB/PreinstallOutput.log 2>/dev/null
    fail "cpack -G DEB failed (it builds every target first: is the whole build green?)"
else
    deb=$(ls "$tmp"/pkg/*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
        fail "cpack produced no .deb"
    else
        pass "cpack built $(basename "$deb")"
        [ "$(cat "$build/install_manifest.txt" 2>/dev/null)" = "$manifest" ] &&
            pass "install_manifest.txt still lists the last cmake --install" ||
            fail "cpack rewrote install_manifest.txt"
        listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./||' | LC_ALL=C sort)
        if [ "$listed" = "$(in_prefix usr)" ]; then
            pass "package contents"
        else
            fail "package contents differ from the installation:"
            diff <(in_prefix usr) <(echo "$listed")
        fi
        [ "$(dpkg-deb -f "$deb" Package)" = tamrel ] || fail "package name"
        [ "$(dpkg-deb -f "$deb" Maintainer)" = "Tamrel maintainers <tamrel-maintainers@example.org>" ] ||
            fail "package maintainer: $(dpkg-deb -f "$deb" Maintainer)"
        depends=$(dpkg-deb -f "$deb" Depends)
        if ldd "$prefix/bin/tamrel" 2>/dev/null | grep -q 'libftdi1\.so'; then
            grep -q 'libftdi1-2' <<<"$depends" || fail "package does not depend on libftdi1-2: $depends"
        fi
        pass "package control: Depends: $depends"
        dpkg-deb -x "$deb" "$tmp/deb"
        (cd "$tmp/empty" && "$tmp/deb/usr/bin/tamrel" >/dev/null 2>&1)
        rc=$?
        [ "$rc" = 1 ] && pass "packaged binary runs" || fail "packaged binary: status $rc, expected 1"
    fi
fi

if [ "$fails" -gt 0 ]; then
    echo "$fails check(s) failed"
    exit 1
fi
echo "all install checks passed"
