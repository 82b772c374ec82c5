// The carry-less-multiply path of the CRC-32: the running remainder is kept as
// four 128-bit lanes, each folded 64 bytes ahead per step by multiplying with
// x^(512+32) and x^512 modulo the polynomial; the lanes are then folded into
// one, reduced to 64 bits and brought down to 32 by Barrett reduction. The
// constants are those powers of x modulo the bit-reflected polynomial, and the
// Barrett pair is the polynomial itself and floor(x^64 / P).
#include "update/crc_paths.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define VTX_CRC_CLMUL 1
#endif

namespace vtx {

#ifdef VTX_CRC_CLMUL

namespace {

constexpr size_t LANE = 16;
constexpr size_t STEP = 4 * LANE;

alignas(16) constexpr uint64_t FOLD_BY_4[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr uint64_t FOLD_BY_1[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr uint64_t FOLD_TO_64[2] = {0x0163cd6124, 0};
alignas(16) constexpr uint64_t BARRETT[2] = {0x01db710641, 0x01f7011641};

#define VTX_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

VTX_CLMUL_TARGET inline __m128i load(const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// lane * (its two constants) folded onto the next 16 bytes.
VTX_CLMUL_TARGET inline __m128i fold(__m128i lane, __m128i constants, __m128i next) {
    __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// The remainder register (already inverted) after `length` bytes, a multiple
// of 16 and at least 64.
VTX_CLMUL_TARGET uint32_t fold_blocks(uint32_t crc, const uint8_t* data, size_t length) {
    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(int(crc)));
    __m128i x2 = load(data + LANE);
    __m128i x3 = load(data + 2 * LANE);
    __m128i x4 = load(data + 3 * LANE);
    data += STEP;
    length -= STEP;

    const __m128i by4 = _mm_load_si128(reinterpret_cast<const __m128i*>(FOLD_BY_4));
    for (; length >= STEP; data += STEP, length -= STEP) {
        x1 = fold(x1, by4, load(data));
        x2 = fold(x2, by4, load(data + LANE));
        x3 = fold(x3, by4, load(data + 2 * LANE));
        x4 = fold(x4, by4, load(data + 3 * LANE));
    }

    const __m128i by1 = _mm_load_si128(reinterpret_cast<const __m128i*>(FOLD_BY_1));
    x1 = fold(x1, by1, x2);
    x1 = fold(x1, by1, x3);
    x1 = fold(x1, by1, x4);
    for (; length >= LANE; data += LANE, length -= LANE)
        x1 = fold(x1, by1, load(data));

    // 128 bits to 64, then Barrett reduction to the 32-bit remainder.
    const __m128i low32s = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, by1, 0x10));
    const __m128i to64 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(FOLD_TO_64));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32s), to64, 0x00),
                      _mm_srli_si128(x, 4));
    const __m128i barrett = _mm_load_si128(reinterpret_cast<const __m128i*>(BARRETT));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32s), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32s), barrett, 0x00);
    return uint32_t(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool processor_has_clmul() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0)
        return false;
    return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

}  // namespace

uint32_t crc32_update_clmul(uint32_t crc, const uint8_t* data, size_t length) {
    if (length < STEP)
        return crc32_update_table(crc, data, length);
    const size_t folded = length & ~(LANE - 1);
    // The fold works on the register between the two inversions; the table
    // path takes the tail from there.
    uint32_t reg = fold_blocks(~crc, data, folded);
    return crc32_update_table(~reg, data + folded, length - folded);
}

bool crc32_clmul_available() {
    return processor_has_clmul();
}

#else

// No carry-less multiply on this processor family: the table path serves.
uint32_t crc32_update_clmul(uint32_t crc, const uint8_t* data, size_t length) {
    return crc32_update_table(crc, data, length);
}

bool crc32_clmul_available() {
    return false;
}

#endif

}  // namespace vtx
