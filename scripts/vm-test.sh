#!/usr/bin/env bash
# The VM rig as part of the test command: the unmodified Linux vtx_fwupdate
# inside a QEMU guest whose kernel sees the simulated bridge as a real USB
# mass-storage device (tests/vm, docs/vm-rig.md).
#
#   scripts/vm-test.sh [BUILD_DIR [WINDOWS_BUILD_DIR]]
#       (default: build/linux-release and build/windows)
#
# With a configured Windows build, the Windows scenarios run its programs
# under the host's Wine in the guest; without one (or without Wine) they
# report pending.
# Installs what the rig needs when it can, fetches Debian's kernel into the
# cache, builds the programs the guest runs, and boots the guest. Exits 0
# with a "vm-test: skipped: <reason>" line when the machine cannot run it
# (no QEMU, no kernel, no way to install them), nonzero when a scenario
# fails. Needs no privileges beyond installing the packages.
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/linux-release}
win_build=${2:-build/windows}
skip() {
    echo "vm-test: skipped: $*"
    exit 0
}

[ "${VTX_SKIP_VM:-0}" = 1 ] && skip "VTX_SKIP_VM=1 is set"
[ "$(uname -s)" = Linux ] && [ "$(uname -m)" = x86_64 ] || skip "the rig needs an x86-64 Linux host"

packages=(qemu-system-x86 busybox-static sg3-utils kmod cpio xz-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    command -v apt-get >/dev/null || skip "missing ${missing[*]} and no apt-get to install them"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo -n true 2>/dev/null || skip "missing ${missing[*]} and no root to install them"
        sudo_cmd=(sudo -n)
    fi
    echo "vm-test: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq >/dev/null 2>&1
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1 ||
        skip "could not install ${missing[*]}"
fi

if ! reason=$(tests/vm/kernel.sh 2>&1 >/dev/null); then
    # An empty or stale package list is the common cause: refresh it once.
    if [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; then
        $([ "$(id -u)" -eq 0 ] || echo sudo -n) apt-get update -qq >/dev/null 2>&1
        reason=$(tests/vm/kernel.sh 2>&1 >/dev/null) || skip "no kernel to boot: $reason"
    else
        skip "no kernel to boot: $reason"
    fi
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
fi
cmake --build "$build" -j2 --target vtx_usbgadget vtx_vmprobe vtx_imagemaker vtx_fwupdate || exit 1

win_args=()
if [ -f "$win_build/CMakeCache.txt" ]; then
    if cmake --build "$win_build" -j2 --target vtx_fwupdate vtx_bridge vtx_vmprobe; then
        win_args=(--windows-build "$win_build")
    else
        echo "vm-test: the Windows programs did not build: the Windows scenarios are pending"
    fi
else
    echo "vm-test: no Windows build in $win_build: the Windows scenarios are pending"
fi

tests/vm/run.sh --build-dir "$build" "${win_args[@]}"
status=$?
[ $status -eq 2 ] && skip "the rig could not start (see above)"
exit $status
