// Joining CRC-32 values of adjacent pieces, so that a file read from its end
// towards its start can still be checked against one CRC over its payload.
#pragma once

#include <cstdint>

namespace vtx {

// The CRC-32 (as crc32_update gives it) of A followed by B, from the CRC of A,
// the CRC of B and the length of B.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b);

// A run of adjacent pieces, built from its end towards its start.
struct CrcRun {
    uint32_t crc = 0;
    uint64_t length = 0;
    // Puts the piece (crc, length) in front of what the run holds.
    void prepend(uint32_t piece_crc, uint64_t piece_length) {
        crc = crc32_combine(piece_crc, crc, length);
        length += piece_length;
    }
};

}  // namespace vtx
