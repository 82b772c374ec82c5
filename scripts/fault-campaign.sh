#!/usr/bin/env bash
# The whole fault campaign: power loss after every command and inside every
# flash write (at several prefixes), and a transport failure at every command,
# of an update that starts in the main firmware and of one that starts in the
# rescue firmware, each followed by up to three reruns. Prints the table of
# figures and every point that did not end on the new firmware with the new
# parameters and LED image. The test run tries a sample of the same points.
#
#   scripts/fault-campaign.sh [BUILD_DIR]     (default build/linux-release)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/linux-release}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target test_fault
VTX_FAULT_CAMPAIGN=full "$build/tests/fault/test_fault" --gtest_brief=1
