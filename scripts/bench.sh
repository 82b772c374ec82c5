#!/usr/bin/env bash
# The update's own cost (bench/): builds vtx_bench in a Release tree and runs
# it. Arguments go to the benchmark program (--benchmark_filter=FullUpdate...).
# VTX_BENCH_BUILD names the build tree (default build/bench). The machine's
# load is printed before and after: the figures mean little on a busy machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh libbenchmark-dev
build=${VTX_BENCH_BUILD:-build/bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTX_WERROR=OFF >/dev/null
cmake --build "$build" --target vtx_bench -j2
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$build/bench/vtx_bench" "$@" || status=$?
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
