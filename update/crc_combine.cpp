#include "update/crc_combine.h"

namespace vtx {

namespace {

// Polynomials modulo the CRC's generator, in the reflected bit order the CRC
// itself uses: bit 31 stands for x^0, bit 0 for x^31.
constexpr uint32_t GENERATOR = 0xEDB88320u;
constexpr uint32_t X_POWER_0 = 0x80000000u;
constexpr uint32_t X_POWER_1 = 0x40000000u;

uint32_t multiply(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (int bit = 0; bit < 32; ++bit) {
        if (a & (X_POWER_0 >> bit))
            product ^= b;
        b = (b & 1) ? (b >> 1) ^ GENERATOR : b >> 1;
    }
    return product;
}

// x^(8 * bytes) modulo the generator, by squaring.
uint32_t shift_of(uint64_t bytes) {
    uint32_t result = X_POWER_0;
    uint32_t square = X_POWER_1;
    for (int round = 0; round < 3; ++round)
        square = multiply(square, square);
    for (; bytes != 0; bytes >>= 1) {
        if (bytes & 1)
            result = multiply(square, result);
        square = multiply(square, square);
    }
    return result;
}

}  // namespace

// Appending B to A moves A's remainder up by B's length in bits; the preset
// and final inversions cancel out between the two pieces.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b) {
    return multiply(shift_of(length_b), crc_a) ^ crc_b;
}

}  // namespace vtx
