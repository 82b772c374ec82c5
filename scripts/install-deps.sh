#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing when
# everything is already there. Needs root (or sudo) only when something is missing.
#
#   scripts/install-deps.sh [--demo] [PACKAGE...]
#
# --demo: only the native toolchain the demo builds with (no tests, no
# Windows build), the header-only JSON library of the companion program and
# the header-only command-line parser of the simulator programs.
# Further packages are added to either set.
set -euo pipefail

if [ "${1:-}" = "--demo" ]; then
    shift
    packages=(cmake ninja-build g++ nlohmann-json3-dev libcli11-dev "$@")
else
    packages=(cmake ninja-build g++ clang git libgtest-dev libgmock-dev googletest clang-format
              libbenchmark-dev nlohmann-json3-dev libcli11-dev python3-jsonschema
              g++-mingw-w64-x86-64-posix wine64 "$@")
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "== installing with apt-get: ${missing[*]} (and what they depend on)"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
echo "   apt-get update"
"${sudo_cmd[@]}" apt-get update -qq
# One line per package unpacked and set up, so a long install shows progress.
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" |
    { grep --line-buffered -E '^(Unpacking|Setting up) ' || true; } | sed -u 's/^/   /'
