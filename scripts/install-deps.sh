#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing when
# everything is already there. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ git libgtest-dev libgmock-dev googletest clang-format libbenchmark-dev
          g++-mingw-w64-x86-64-posix wine64 "$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
