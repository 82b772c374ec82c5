#!/usr/bin/env bash
# The demo: builds the tool with its simulated bridge and runs a whole update
# without hardware. The first run takes the sample bridge from main firmware
# 1.2.3 through the rescue firmware to 1.2.4; the second run finds 1.2.4 and
# skips the update. Needs nothing on standard input.
set -euo pipefail
cd "$(dirname "$0")/.."

# The native toolchain only: the demo builds no tests and no Windows programs.
scripts/install-deps.sh --demo

build=build/demo
echo "== building $build (native, Release)"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Ninja's progress lines ("[12/81] Building ...") show the build going on;
# everything else goes to the log, shown only when the build fails.
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTX_BUILD_TESTS=OFF \
           -DVTX_WERROR=OFF >"$log" 2>&1 &&
       cmake --build "$build" --target vtx_fwupdate_sim vtx_bridge_sim -j "$(nproc)" 2>&1 |
           tee -a "$log" | { grep --line-buffered -E '^\[[0-9]+/[0-9]+\]' || true; } |
           sed -u 's/^/   /'; }; then
    cat "$log"
    echo "demo: the build failed" >&2
    exit 1
fi

sim="$build/sim/vtx_fwupdate_sim"
status=0

# --reset starts from the bridge description, whatever an earlier demo left in
# the state file. The key wait at the end of a run ends at the end of input.
echo
echo "== first run: the update"
"$sim" --reset </dev/null || status=$?
echo
echo
echo "== second run: the bridge already runs the new firmware"
"$sim" </dev/null || status=$?
echo
exit $status
