// The benchmark's own CRC-32 variants, which give the values of crc32_update
// eight or sixteen bytes per step, and its clock: the thread's CPU time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtx::bench {

uint32_t crc32_slice8(uint32_t crc, const uint8_t* data, size_t length);
uint32_t crc32_slice16(uint32_t crc, const uint8_t* data, size_t length);
double thread_cpu_seconds();

// CPU seconds per byte of the image reader's CRC and of the sliced ones.
struct CrcSpeeds {
    double table_seconds_per_byte;
    double slice8_seconds_per_byte;
    double slice16_seconds_per_byte;
};
CrcSpeeds measure_crc_speeds();

}  // namespace vtx::bench
