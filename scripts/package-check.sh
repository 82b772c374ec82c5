#!/usr/bin/env bash
# Builds the packages with scripts/package.sh and checks them:
#   - the manual pages format without a warning;
#   - the Debian package holds exactly the expected files, installs with
#     dpkg -i, its programs run (vtx_bridge --help, vtx_fwupdate's usage text),
#     and it is removed again;
#   - the Windows zip holds exactly the expected files, and its programs run
#     under Wine.
# Needs root for dpkg (as CI has). Ends with one line "package-check: PASS"
# or "package-check: FAIL: <reason>" and exit status 0 or 1.
#
# Usage: scripts/package-check.sh [--linux-build DIR] [--windows-build DIR]
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

linux_build=build/linux-release
windows_build=build/windows
while [ $# -gt 0 ]; do
    case "$1" in
        --linux-build) linux_build=$2; shift 2 ;;
        --windows-build) windows_build=$2; shift 2 ;;
        *) echo "usage: $0 [--linux-build DIR] [--windows-build DIR]" >&2; exit 64 ;;
    esac
done

work=$(mktemp -d)
installed=0
cleanup() {
    [ $installed -eq 1 ] && $sudo_cmd dpkg -r vtx-fwupdate >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package-check: FAIL: $*"
    exit 1
}
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo -n"

scripts/install-deps.sh dpkg-dev file unzip man-db groff-base >/dev/null || fail "installing the tools"
out="$work/packages"
if ! scripts/package.sh --out "$out" --linux-build "$linux_build" \
    --windows-build "$windows_build" >"$work/package.log" 2>&1; then
    tail -n 30 "$work/package.log"
    fail "scripts/package.sh"
fi
deb=$(ls "$out"/vtx-fwupdate_*_amd64.deb) || fail "no Debian package"
zip=$(ls "$out"/vtx_fwupdate-*-win64.zip) || fail "no Windows zip"
version=$(basename "$zip" | sed 's/^vtx_fwupdate-\(.*\)-win64.zip$/\1/')

# Manual pages, as written and as packaged.
for page in docs/man/*.1; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
done

# The Debian package: exactly these files, and sound control data.
expected_deb="./usr/bin/vtx_bridge
./usr/bin/vtx_fwupdate
./usr/share/doc/vtx-fwupdate/README.md
./usr/share/doc/vtx-fwupdate/docs/imagemaker.md
./usr/share/doc/vtx-fwupdate/docs/linux.md
./usr/share/doc/vtx-fwupdate/docs/simulated-run.md
./usr/share/doc/vtx-fwupdate/docs/simulator.md
./usr/share/doc/vtx-fwupdate/docs/trace.md
./usr/share/doc/vtx-fwupdate/docs/vm-rig.md
./usr/share/doc/vtx-fwupdate/docs/vtx_bridge.md
./usr/share/doc/vtx-fwupdate/docs/vtx_bridge.schema.json
./usr/share/man/man1/vtx_bridge.1.gz
./usr/share/man/man1/vtx_fwupdate.1.gz"
actual_deb=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ {print $6}' | sort)
[ "$actual_deb" = "$expected_deb" ] || fail "the Debian package holds:
$actual_deb"
dpkg-deb -f "$deb" Package | grep -qx vtx-fwupdate || fail "package name"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "no dependencies recorded"
dpkg-deb -f "$deb" Recommends | grep -qw man-db || fail "man-db is not recommended"
dpkg-deb -x "$deb" "$work/root"
for program in vtx_fwupdate vtx_bridge; do
    page="$work/root/usr/share/man/man1/$program.1.gz"
    text=$(MANWIDTH=80 man -l "$page" 2>"$work/man.err") || fail "man -l $program.1.gz"
    [ -s "$work/man.err" ] && fail "man warns about $program.1.gz: $(cat "$work/man.err")"
    echo "$text" | grep -q "^NAME" || fail "$program.1.gz has no NAME section"
done

# Install, run, remove.
$sudo_cmd dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
installed=1
/usr/bin/vtx_bridge --help | grep -q "^Usage: vtx_bridge " || fail "vtx_bridge --help"
[ "$(/usr/bin/vtx_bridge --version)" = "vtx_bridge $version" ] || fail "vtx_bridge --version"
printf 'VID = 0x1234\n' >"$work/one.cfg"
/usr/bin/vtx_bridge check --json "$work/one.cfg" | grep -q '"status": "ok"' ||
    fail "vtx_bridge check"
# vtx_fwupdate has no --help: with one argument it prints its usage text on
# standard error and ends with 1.
/usr/bin/vtx_fwupdate one-argument </dev/null >"$work/fw.out" 2>"$work/fw.err"
status=$?
[ $status -eq 1 ] || fail "vtx_fwupdate with one argument ended with $status, not 1"
head -n1 "$work/fw.err" | grep -qx 'Usage: vtx_fwupdate \[<bin> <rescuebin> <cfg> \[led\]\]' ||
    fail "vtx_fwupdate usage text: $(cat "$work/fw.err")"
[ -s "$work/fw.out" ] && fail "vtx_fwupdate wrote to standard output: $(cat "$work/fw.out")"
man -w vtx_bridge >/dev/null 2>&1 || fail "man does not find vtx_bridge after the install"
$sudo_cmd dpkg -r vtx-fwupdate >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
installed=0
[ -e /usr/bin/vtx_bridge ] && fail "vtx_bridge is still there after dpkg -r"

# The Windows zip: exactly these files.
top="vtx_fwupdate-$version-win64"
expected_zip="$top/README.md
$top/config.ini
$top/docs/imagemaker.md
$top/docs/linux.md
$top/docs/simulated-run.md
$top/docs/simulator.md
$top/docs/trace.md
$top/docs/vm-rig.md
$top/docs/vtx_bridge.md
$top/docs/vtx_bridge.schema.json
$top/vtx_bridge.exe
$top/vtx_fwupdate.exe"
actual_zip=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
[ "$actual_zip" = "$expected_zip" ] || fail "the Windows zip holds:
$actual_zip"
unzip -q "$zip" -d "$work/zip"
for exe in vtx_bridge vtx_fwupdate; do
    file "$work/zip/$top/$exe.exe" | grep -q "PE32+ executable" || fail "$exe.exe is no 64-bit Windows program"
done
grep -qx '\[Firmware\]' "$work/zip/$top/config.ini" || fail "config.ini has no [Firmware] section"
if [ -x /usr/lib/wine/wine64 ]; then
    wine() {
        WINEDEBUG=-all WINEPREFIX="$(realpath -m "$windows_build")/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml=" \
            /usr/lib/wine/wine64 "$@"
    }
    wine "$work/zip/$top/vtx_bridge.exe" --help </dev/null 2>/dev/null | tr -d '\r' | grep -q "^Usage: vtx_bridge " ||
        fail "vtx_bridge.exe --help under Wine"
    # Without config.ini beside it, one argument gives the usage text; with
    # it, the tool would go looking for a bridge.
    rm "$work/zip/$top/config.ini"
    wine "$work/zip/$top/vtx_fwupdate.exe" one-argument </dev/null >/dev/null 2>"$work/fw.err"
    status=$?
    [ $status -eq 1 ] || fail "vtx_fwupdate.exe with one argument ended with $status under Wine"
    tr -d '\r' <"$work/fw.err" | grep -Eq '^Usage: vtx_fwupdate(\.exe)? \[<bin>' || fail "vtx_fwupdate.exe usage text"
fi

echo "package-check: PASS ($(basename "$deb"), $(basename "$zip"))"
