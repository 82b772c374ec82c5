// The CRC-32 that every header read runs over the whole payload, on 1 MiB:
// the sixteen-byte table fold (the fallback, and the path on processors
// without carry-less multiply), the PCLMULQDQ fold, and crc32_update, which
// takes the faster of the two this processor has. All give the same values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "tools/imagemaker/image_builder.h"
#include "update/crc.h"
#include "update/crc_paths.h"

namespace vtx::bench {
namespace {

using CrcPath = uint32_t (*)(uint32_t, const uint8_t*, size_t);

const std::vector<uint8_t>& payload() {
    static const std::vector<uint8_t> bytes = imagemaker::pseudo_random_bytes(5, 1 << 20);
    return bytes;
}

// The path gives the table's value, whole and folded in 4093-byte chunks, or
// its speed means nothing.
bool gives_the_table_values(CrcPath crc) {
    const std::vector<uint8_t>& p = payload();
    uint32_t table = 0, chunked = 0;
    for (size_t at = 0; at < p.size(); at += 4093) {
        size_t n = std::min<size_t>(4093, p.size() - at);
        table = crc32_update_table(table, p.data() + at, n);
        chunked = crc(chunked, p.data() + at, n);
    }
    return chunked == table && crc(0, p.data(), p.size()) == table;
}

void run_path(benchmark::State& state, CrcPath crc) {
    if (!gives_the_table_values(crc)) {
        state.SkipWithError("this path gives other values than the table");
        return;
    }
    const std::vector<uint8_t>& p = payload();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(0, p.data(), p.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.size()));
}

void BM_Crc32TableFold16(benchmark::State& state) {
    run_path(state, crc32_update_table);
}

void BM_Crc32Clmul(benchmark::State& state) {
    if (!crc32_clmul_available()) {
        state.SkipWithError("this processor has no carry-less multiply");
        return;
    }
    run_path(state, crc32_update_clmul);
}

void BM_Crc32Update(benchmark::State& state) {
    run_path(state, crc32_update);
}

BENCHMARK(BM_Crc32TableFold16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32Clmul)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32Update)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vtx::bench
