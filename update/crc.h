// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, preset to all ones,
// result inverted), the check every image payload must pass.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtx {

// Folded chunk by chunk: crc32_update(crc32_update(0, a), b) equals the CRC of
// a followed by b; no bytes give 0. Runs on the fastest path this processor
// has, chosen on the first call; every path gives the same values.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t length);

// The paths themselves, for the tests and the benchmark that hold them to the
// same values. The table path folds sixteen bytes a step through sixteen
// tables built on first use and runs everywhere. The carry-less-multiply path
// folds 64 bytes a step with PCLMULQDQ; it may be called only when
// crc32_clmul_available() says the processor has it.
uint32_t crc32_update_table(uint32_t crc, const uint8_t* data, size_t length);
uint32_t crc32_update_clmul(uint32_t crc, const uint8_t* data, size_t length);
bool crc32_clmul_available();

}  // namespace vtx
