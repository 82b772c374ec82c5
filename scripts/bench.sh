#!/usr/bin/env bash
# The update's own cost (bench/): builds vtx_bench in a Release tree and runs
# it. Arguments go to the benchmark program (--benchmark_filter=FullUpdate...).
# VTX_BENCH_BUILD names the build tree (default build/bench).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh libbenchmark-dev
build=${VTX_BENCH_BUILD:-build/bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTX_WERROR=OFF >/dev/null
cmake --build "$build" --target vtx_bench -j2
exec "$build/bench/vtx_bench" "$@"
