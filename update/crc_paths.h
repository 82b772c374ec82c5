// The paths behind crc32_update, for the code that chooses between them and
// for the tests and the benchmark that hold them to the same values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtx {

// Sixteen bytes a step through sixteen tables built on first use; runs on
// every processor.
uint32_t crc32_update_table(uint32_t crc, const uint8_t* data, size_t length);

// 64 bytes a step with PCLMULQDQ; call it only when crc32_clmul_available()
// says this processor has it (elsewhere it is the table path).
uint32_t crc32_update_clmul(uint32_t crc, const uint8_t* data, size_t length);
bool crc32_clmul_available();

}  // namespace vtx
