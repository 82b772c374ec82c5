#include "update/crc.h"

#include "update/crc_paths.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

// Built on the first CRC computation and kept for the rest of the run. Table 0
// is the classic byte-wise table; table k gives the CRC of a byte followed by
// k zero bytes, so sixteen bytes fold in one step.
constexpr int CRC_SLICES = 16;
uint32_t crc_table[CRC_SLICES][256];
bool crc_table_built = false;

void build_crc_table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int round = 0; round < 8; ++round) {
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        }
        crc_table[0][i] = value;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        for (int k = 1; k < CRC_SLICES; ++k) {
            uint32_t previous = crc_table[k - 1][i];
            crc_table[k][i] = (previous >> 8) ^ crc_table[0][previous & 0xFF];
        }
    }
    crc_table_built = true;
}

using CrcPath = uint32_t (*)(uint32_t, const uint8_t*, size_t);

// The payload is checked every time an image is used, four times per update
// for the firmware image; at the table's 3 GB/s that check alone was most of
// the tool's own time, so processors that multiply without carries take the
// path four times as fast.
CrcPath chosen_path = nullptr;

}  // namespace

uint32_t crc32_update_table(uint32_t crc, const uint8_t* data, size_t length) {
    if (!crc_table_built)
        build_crc_table();
    crc = ~crc;
    for (; length >= CRC_SLICES; data += CRC_SLICES, length -= CRC_SLICES) {
        uint32_t next = 0;
        for (int word = 0; word < CRC_SLICES / 4; ++word) {
            uint32_t v = load_le32(data + 4 * word) ^ (word == 0 ? crc : 0);
            int k = CRC_SLICES - 1 - 4 * word;
            next ^= crc_table[k][v & 0xFF] ^ crc_table[k - 1][(v >> 8) & 0xFF] ^
                    crc_table[k - 2][(v >> 16) & 0xFF] ^ crc_table[k - 3][v >> 24];
        }
        crc = next;
    }
    for (; length > 0; ++data, --length)
        crc = crc_table[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t length) {
    if (chosen_path == nullptr)
        chosen_path = crc32_clmul_available() ? crc32_update_clmul : crc32_update_table;
    return chosen_path(crc, data, length);
}

}  // namespace vtx
