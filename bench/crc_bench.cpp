// The CRC-32 that every header read runs over the whole payload: the byte-wise
// table of the image reader against slicing-by-8 and slicing-by-16, which take
// eight or sixteen bytes per step through as many tables and give the same
// values.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <array>

#include "bench/crc_slicing.h"
#include "tools/imagemaker/image_builder.h"
#include "update/image.h"
#include "vtx/bytes.h"

namespace vtx::bench {

namespace {

template <size_t N>
using Tables = std::array<std::array<uint32_t, 256>, N>;

// Table k gives the CRC of a byte followed by k zero bytes.
template <size_t N>
Tables<N> make_tables() {
    Tables<N> tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
        tables[0][i] = crc;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        for (size_t k = 1; k < N; ++k) {
            uint32_t prev = tables[k - 1][i];
            tables[k][i] = (prev >> 8) ^ tables[0][prev & 0xFF];
        }
    }
    return tables;
}

// Same folding as crc32_update: the running value is inverted on entry and
// on exit, so chunks chain into one CRC. N bytes per step, one table each.
template <size_t N>
uint32_t crc32_slice(uint32_t crc, const uint8_t* data, size_t length) {
    static const Tables<N> t = make_tables<N>();
    uint32_t c = ~crc;
    for (; length >= N; data += N, length -= N) {
        uint32_t next = 0;
        for (size_t word = 0; word < N / 4; ++word) {
            uint32_t v = load_le32(data + 4 * word) ^ (word == 0 ? c : 0);
            size_t k = N - 1 - 4 * word;
            next ^= t[k][v & 0xFF] ^ t[k - 1][(v >> 8) & 0xFF] ^ t[k - 2][(v >> 16) & 0xFF] ^
                    t[k - 3][v >> 24];
        }
        c = next;
    }
    for (; length > 0; ++data, --length)
        c = (c >> 8) ^ t[0][(c ^ *data) & 0xFF];
    return ~c;
}

}  // namespace

uint32_t crc32_slice8(uint32_t crc, const uint8_t* data, size_t length) {
    return crc32_slice<8>(crc, data, length);
}
uint32_t crc32_slice16(uint32_t crc, const uint8_t* data, size_t length) {
    return crc32_slice<16>(crc, data, length);
}

double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

namespace {

const std::vector<uint8_t>& payload() {
    static const std::vector<uint8_t> bytes = imagemaker::pseudo_random_bytes(5, 1 << 20);
    return bytes;
}

// Both give the same value, whole and folded in 4096-byte chunks with an odd
// tail, or the comparison means nothing.
bool same_values(uint32_t (*sliced_crc)(uint32_t, const uint8_t*, size_t)) {
    const std::vector<uint8_t>& p = payload();
    uint32_t table = 0, sliced = 0;
    for (size_t at = 0; at < p.size(); at += 4093) {
        size_t n = std::min<size_t>(4093, p.size() - at);
        table = crc32_update(table, p.data() + at, n);
        sliced = sliced_crc(sliced, p.data() + at, n);
    }
    return table == sliced && crc32_update(0, p.data(), p.size()) == table &&
           sliced_crc(0, p.data(), 0) == 0;
}

void BM_Crc32ByteTable(benchmark::State& state) {
    const std::vector<uint8_t>& p = payload();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32_update(0, p.data(), p.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.size()));
}

void run_sliced(benchmark::State& state, uint32_t (*sliced_crc)(uint32_t, const uint8_t*, size_t)) {
    if (!same_values(sliced_crc)) {
        state.SkipWithError("the sliced CRC gives other values");
        return;
    }
    const std::vector<uint8_t>& p = payload();
    for (auto _ : state)
        benchmark::DoNotOptimize(sliced_crc(0, p.data(), p.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.size()));
}

void BM_Crc32SliceBy8(benchmark::State& state) {
    run_sliced(state, crc32_slice8);
}
void BM_Crc32SliceBy16(benchmark::State& state) {
    run_sliced(state, crc32_slice16);
}

BENCHMARK(BM_Crc32ByteTable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32SliceBy8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32SliceBy16)->Unit(benchmark::kMicrosecond);

// The fastest of a few runs over the payload, on the thread's CPU clock.
double seconds_per_byte(uint32_t (*crc)(uint32_t, const uint8_t*, size_t)) {
    const std::vector<uint8_t>& p = payload();
    double best = 1e9;
    for (int run = 0; run < 8; ++run) {
        double start = thread_cpu_seconds();
        benchmark::DoNotOptimize(crc(0, p.data(), p.size()));
        best = std::min(best, thread_cpu_seconds() - start);
    }
    return best / double(p.size());
}

}  // namespace

CrcSpeeds measure_crc_speeds() {
    return {seconds_per_byte(crc32_update), seconds_per_byte(crc32_slice8),
            seconds_per_byte(crc32_slice16)};
}
}  // namespace vtx::bench

BENCHMARK_MAIN();
