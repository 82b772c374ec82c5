#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, -fsanitize=fuzzer,address,undefined)
# in build/rel-fuzz and runs each one for a while over its seed corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target, default 600. TARGETs are the names in fuzz/targets
# (settings, image, ...); default all. VTX_FUZZ_JOBS targets run side by side
# (default 1; the machine has two cores). New inputs go to a working corpus
# in build/rel-fuzz/corpus/<target>, seeded from fuzz/corpus/<target>; a
# crashing input is copied into fuzz/corpus/<target>/ as well, where the
# normal test run replays it (tests/fuzz) until the fault is mended.
# Prints executions and coverage (cov, ft) per target; exit 1 on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
jobs=${VTX_FUZZ_JOBS:-1}
build=build/rel-fuzz

scripts/install-deps.sh clang libclang-rt-14-dev

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
flags="$flags -fno-omit-frame-pointer -gline-tables-only"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVTX_WERROR=OFF -DVTX_BUILD_TESTS=OFF -DVTX_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="$flags" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in fuzz/targets/*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

# Longest input per target: images and LED images need room for a file.
max_len() {
    case $1 in
        image | led | check_file) echo 24576 ;;
        param_file | settings) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

run_target() {
    local target=$1 work="$build/corpus/$1" artifacts="$build/artifacts/$1/"
    local log="$build/logs/$1.log"
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/fuzz_$target" "$work" "fuzz/corpus/$target" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" \
        >"$log" 2>&1 || true
}

summary() {
    local target=$1 log="$build/logs/$1.log" runs cov ft found
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
    found=$(find "$build/artifacts/$target" -type f | wc -l)
    printf '%-16s %12s %8s %8s %9s\n' "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$found"
    for artifact in "$build/artifacts/$target"/*; do
        [ -f "$artifact" ] || continue
        cp "$artifact" "fuzz/corpus/$target/"
        echo "  finding: $artifact (copied to fuzz/corpus/$target/)"
    done
    [ "$found" -eq 0 ]
}

echo "fuzzing ${#targets[@]} targets for ${seconds}s each, $jobs at a time"
running=0
for target in "${targets[@]}"; do
    rm -rf "$build/artifacts/$target"
    run_target "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

status=0
printf '%-16s %12s %8s %8s %9s\n' target executions cov ft findings
for target in "${targets[@]}"; do
    summary "$target" || status=1
done
exit $status
