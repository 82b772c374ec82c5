#!/usr/bin/env bash
# The whole test run: installs what is missing, builds the native Debug and
# Release builds and the Windows cross-build, runs every test (the Windows
# ones under Wine), and checks the formatting.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

passed=0
failed=0
count() {  # reads ctest's closing line: "... 0 tests failed out of N"
    local log=$1 total fails
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
    fails=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n1)
    passed=$((passed + ${total:-0} - ${fails:-0}))
    failed=$((failed + ${fails:-0}))
}

status=0
for preset in linux-debug linux-release windows; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    log=$(mktemp)
    if ! ctest --preset "$preset" 2>&1 | tee "$log"; then status=1; fi
    count "$log"
    rm -f "$log"
done

echo "== format"
if scripts/format.sh --check; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    status=1
fi

echo "tests: $passed passed, $failed failed"
exit $status
