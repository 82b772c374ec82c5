// Bulk-Only Transport framing: the 31-byte command block wrapper the host
// sends before each command and the 13-byte status wrapper the device sends
// after it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtx::gadget {

constexpr uint32_t CBW_SIGNATURE = 0x43425355;  // "USBC"
constexpr uint32_t CSW_SIGNATURE = 0x53425355;  // "USBS"
constexpr size_t CBW_SIZE = 31;
constexpr size_t CSW_SIZE = 13;

constexpr uint8_t CSW_GOOD = 0;
constexpr uint8_t CSW_FAILED = 1;
constexpr uint8_t CSW_PHASE_ERROR = 2;

// Class requests on ep0.
constexpr uint8_t REQUEST_GET_MAX_LUN = 0xFE;
constexpr uint8_t REQUEST_MASS_STORAGE_RESET = 0xFF;

struct CommandBlockWrapper {
    uint32_t tag = 0;
    uint32_t transfer_length = 0;
    bool data_in = false;
    uint8_t lun = 0;
    uint8_t cdb_length = 0;
    uint8_t cdb[16] = {};
};

// False when the bytes are not a meaningful CBW: not exactly 31 bytes, wrong
// signature, or a CDB length outside 1 to 16. The host must then be answered
// with stalls until it resets the device.
bool parse_cbw(const uint8_t* bytes, size_t length, CommandBlockWrapper& cbw);

void build_csw(uint8_t out[CSW_SIZE], uint32_t tag, uint32_t residue, uint8_t status);

}  // namespace vtx::gadget
