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

}  // namespace vtx
