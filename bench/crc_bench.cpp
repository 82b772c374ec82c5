// The CRC-32 that every header read runs over the whole payload: the byte-wise
// table of the image reader against a slicing-by-8 variant, which takes eight
// bytes per step through eight tables and gives the same values.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "tools/imagemaker/image_builder.h"
#include "update/image.h"
#include "vtx/bytes.h"

namespace vtx::bench {
namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

Tables make_tables() {
    Tables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
        tables[0][i] = crc;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        for (size_t k = 1; k < 8; ++k) {
            uint32_t prev = tables[k - 1][i];
            tables[k][i] = (prev >> 8) ^ tables[0][prev & 0xFF];
        }
    }
    return tables;
}

// Same folding as crc32_update: the running value is inverted on entry and
// on exit, so chunks chain into one CRC.
uint32_t crc32_slice8(uint32_t crc, const uint8_t* data, size_t length) {
    static const Tables t = make_tables();
    uint32_t c = ~crc;
    for (; length >= 8; data += 8, length -= 8) {
        uint32_t low = load_le32(data) ^ c;
        uint32_t high = load_le32(data + 4);
        c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
            t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
            t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; length > 0; ++data, --length)
        c = (c >> 8) ^ t[0][(c ^ *data) & 0xFF];
    return ~c;
}

const std::vector<uint8_t>& payload() {
    static const std::vector<uint8_t> bytes = imagemaker::pseudo_random_bytes(5, 1 << 20);
    return bytes;
}

// Both give the same value, whole and folded in 4096-byte chunks with an odd
// tail, or the comparison means nothing.
bool same_values() {
    const std::vector<uint8_t>& p = payload();
    uint32_t table = 0, sliced = 0;
    for (size_t at = 0; at < p.size(); at += 4093) {
        size_t n = std::min<size_t>(4093, p.size() - at);
        table = crc32_update(table, p.data() + at, n);
        sliced = crc32_slice8(sliced, p.data() + at, n);
    }
    return table == sliced && crc32_update(0, p.data(), p.size()) == table &&
           crc32_slice8(0, p.data(), 0) == 0;
}

void BM_Crc32ByteTable(benchmark::State& state) {
    const std::vector<uint8_t>& p = payload();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32_update(0, p.data(), p.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.size()));
}

void BM_Crc32SliceBy8(benchmark::State& state) {
    if (!same_values()) {
        state.SkipWithError("slicing-by-8 gives other values");
        return;
    }
    const std::vector<uint8_t>& p = payload();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32_slice8(0, p.data(), p.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.size()));
}

BENCHMARK(BM_Crc32ByteTable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32SliceBy8)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vtx::bench

BENCHMARK_MAIN();
