#!/usr/bin/env bash
# Builds the two packages of vtx_fwupdate:
#   - the Debian package vtx-fwupdate_<version>_amd64.deb from a native Release
#     build (default: build/linux-release, the linux-release preset's directory);
#   - the Windows zip vtx_fwupdate-<version>-win64.zip from the MinGW-w64
#     cross-build (default: build/windows, the windows preset's directory).
# Only the programs and the manual pages are built, not the tests.
#
# Usage: scripts/package.sh [--out DIR] [--linux-build DIR] [--windows-build DIR]
# The packages land in DIR (default: build/packages).
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/packages
linux_build=build/linux-release
windows_build=build/windows
while [ $# -gt 0 ]; do
    case "$1" in
        --out) out=$2; shift 2 ;;
        --linux-build) linux_build=$2; shift 2 ;;
        --windows-build) windows_build=$2; shift 2 ;;
        *) echo "usage: $0 [--out DIR] [--linux-build DIR] [--windows-build DIR]" >&2; exit 64 ;;
    esac
done

scripts/install-deps.sh dpkg-dev file
out=$(realpath -m "$out")
mkdir -p "$out"
rm -rf "$out"/vtx-fwupdate_*.deb "$out"/vtx_fwupdate-*-win64.zip "$out"/_CPack_Packages

# A build directory that exists is used as it is configured (a preset's
# directory, or one of your own); a new one is configured as the presets do.
configure() {  # DIR [cmake options...]
    local dir=$1
    shift
    if [ -f "$dir/CMakeCache.txt" ]; then
        cmake "$dir" >/dev/null
    else
        cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    fi
}

echo "== Debian package, from $linux_build"
configure "$linux_build"
cmake --build "$linux_build" --target vtx_fwupdate vtx_bridge vtx_manpages
(cd "$linux_build" && cpack -G DEB -B "$out" >/dev/null)

echo "== Windows zip, from $windows_build"
configure "$windows_build" --toolchain "$PWD/cmake/mingw-w64.cmake"
cmake --build "$windows_build" --target vtx_fwupdate vtx_bridge
(cd "$windows_build" && cpack -G ZIP -B "$out" >/dev/null)

rm -rf "$out"/_CPack_Packages
ls -1 "$out"/vtx-fwupdate_*.deb "$out"/vtx_fwupdate-*-win64.zip
