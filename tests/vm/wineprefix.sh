#!/usr/bin/env bash
# Makes the Wine prefix the guest's Windows scenarios start from, once per
# Wine version, in the cache, and prints its path. Plug and Play is off: its
# USB and HID drivers are nothing the scenarios need, and starting them is
# most of a Wine session's start in the emulated guest.
#   wineprefix.sh CACHE_DIR
# The guest lays a writable layer over it (overlayfs on the 9p share), so it
# is never changed there. Drive d: is an optical drive whose device is the
# guest's /dev/sr0 (a dangling link on the host), the way Wine is told which
# Unix device stands behind a drive letter.
# Exit 0 with the path; exit 2 with the reason on standard error.
set -euo pipefail

cache=$1
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "wine64 is not installed" >&2; exit 2; }
version=$("$wine" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n' _) ||
    { echo "wine64 does not start" >&2; exit 2; }
# The recipe's number: raise it when the recipe below changes.
prefix=$cache/wineprefix-2-$version
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

# Made under a name of its own and renamed when whole, so that two rigs
# starting at once never share a half-made prefix.
stage=$prefix.$$
trap 'rm -rf "$stage"' EXIT
rm -rf "$stage"
mkdir -p "$stage"
export WINEPREFIX=$stage WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
{
    "$wine" wineboot -i &&
        "$wine" reg add 'HKLM\Software\Wine\Drives' /v 'd:' /d cdrom /f &&
        "$wine" reg add 'HKLM\System\CurrentControlSet\Services\PlugPlay' /v Start /t REG_DWORD /d 4 /f &&
        /usr/lib/wine/wineserver -w
} >"$cache/wineprefix.log" 2>&1 || {
    echo "wineboot could not make a prefix (see $cache/wineprefix.log)" >&2
    exit 2
}
ln -sfn /tmp/vtxcd "$stage/dosdevices/d:"
ln -sfn /dev/sr0 "$stage/dosdevices/d::"
touch "$stage/.complete"
[ -f "$prefix/.complete" ] || rm -rf "$prefix"
if ! mv -T "$stage" "$prefix" 2>/dev/null; then
    [ -f "$prefix/.complete" ] || { echo "could not store the prefix at $prefix" >&2; exit 2; }
fi
echo "$prefix"
