// Bridge identity and status queries: chip detection, version, identity word,
// largest transfer, readiness, restart, and the memory read they share with
// flash access.
#pragma once

#include <cstdint>

#include "device/transport.h"
#include "vtx/records.h"

namespace vtx {

constexpr uint16_t INQUIRY_LENGTH = 254;
constexpr uint8_t DEVICE_TYPE_CDROM = 5;

// Register block of a chip family.
struct ChipRegisters {
    uint32_t revision;           // chip revision register
    uint32_t id;                 // chip id register
    uint32_t identity_fallback;  // address of the identity word's fallback read
};
ChipRegisters chip_registers(int chip_family);  // family 0 or 1

// (0xE2, 0x92, address, length, in): length bytes of the bridge's address
// space into `out`.
int dev_memory_read(DeviceHandle* handle, uint32_t address, void* out, uint32_t length);
// The whole header block (HEADER_BLOCK_SIZE bytes) through the read window.
int dev_read_header_block(DeviceHandle* handle, uint8_t* out);

int dev_inquiry(DeviceHandle* handle, uint8_t* buffer, uint16_t length);
// The family an INQUIRY reply names: by its revision string, by its model
// string, or by the revision first and the model when the revision names none.
constexpr int CHIP_FAMILY_UNKNOWN = 2;
int chip_family_from_revision(const uint8_t* inquiry);  // 0, 1, or CHIP_FAMILY_UNKNOWN
int chip_family_from_model(const uint8_t* inquiry);     // 0, 1, or CHIP_FAMILY_UNKNOWN
int chip_family_of(const uint8_t* inquiry);             // 0, 1, or CHIP_FAMILY_UNKNOWN
int dev_detect_family(DeviceHandle* handle);            // 0, 1, or -1: not a bridge
bool dev_is_bridge(DeviceHandle* handle);
int dev_check_optical(DeviceHandle* handle);        // 1 vendor's optical, 2 other CD/DVD, 0 neither
int dev_get_name(DeviceHandle* handle, char* out);  // 24 bytes into out
int dev_read_version(DeviceHandle* handle, FirmwareVersion* out);
int dev_query_max_transfer(DeviceHandle* handle, uint32_t* out);
int dev_read_identity(DeviceHandle* handle, uint32_t* out);
int dev_check_ready(DeviceHandle* handle);
int dev_restart(DeviceHandle* handle, uint8_t parameter);

}  // namespace vtx
