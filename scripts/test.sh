#!/usr/bin/env bash
# The whole test run: installs what is missing, builds the native Debug build
# (with AddressSanitizer and UndefinedBehaviorSanitizer), the Release build and
# the Windows cross-build, runs every test (the Windows ones under Wine), the
# packages' check, the VM rig, the link-graph check and the formatting check.
# Ends with one line "tests: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

passed=0
failed=0
failures=()
note() {  # note NAME STATUS
    if [ "$2" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("$1"); fi
}
ctest_counts() {  # adds ctest's "N tests failed out of M" to the totals
    local log=$1 name=$2 total fails
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
    fails=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n1)
    if [ -z "$total" ]; then note "$name" 1; return; fi
    passed=$((passed + total - fails))
    failed=$((failed + fails))
    [ "$fails" -eq 0 ] || failures+=("$name")
}
run_preset() {  # configure, build and test one preset
    local preset=$1 log
    echo "== $preset"
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; then
        note "$preset build" 1
        return
    fi
    log=$(mktemp)
    ctest --preset "$preset" 2>&1 | tee "$log"
    ctest_counts "$log" "$preset"
    rm -f "$log"
}

run_preset linux-debug
run_preset linux-release
run_preset windows

echo "== packages"
scripts/package-check.sh
note "packages" $?

echo "== VM rig"
log=$(mktemp)
scripts/vm-test.sh build/linux-release 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
vm=$(sed -n 's/^vm: \([0-9]*\) passed, \([0-9]*\) failed.*/\1 \2/p' "$log" | tail -n1)
if [ -n "$vm" ]; then
    passed=$((passed + ${vm% *}))
    failed=$((failed + ${vm#* }))
    [ "${vm#* }" -eq 0 ] || failures+=("VM rig")
fi
[ "$status" -eq 0 ] || { [ -n "$vm" ] && [ "${vm#* }" -ne 0 ]; } || note "VM rig" 1
rm -f "$log"

echo "== layers"
scripts/check-layers.sh build/linux-release
note "layers" $?

echo "== format"
scripts/format.sh --check
note "format" $?

[ ${#failures[@]} -eq 0 ] || echo "failed: ${failures[*]}"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
