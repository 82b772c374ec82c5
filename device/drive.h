// Queries about the drive attached behind the bridge.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

struct AttachmentStatus {
    uint32_t drive_kind = 0;   // 1: the drive's ATA security summary is read
    uint32_t drive_state = 0;  // identity collected only when 1 or 3
    uint32_t word2 = 0;
    uint32_t word3 = 0;
};

constexpr uint32_t INFO_BLOCK_SIZE = 72;
constexpr uint8_t INFO_SELECTOR = 0x13;
constexpr uint32_t ATA_STRINGS_SIZE = 71;  // serial 20+1, firmware 8+1, model 40+1

int dev_query_attachment(DeviceHandle* handle, AttachmentStatus* out);
int dev_read_capacity(DeviceHandle* handle, uint64_t* last_lba, uint32_t* block_len);
int dev_query_info(DeviceHandle* handle, uint8_t selector, uint8_t* out, uint32_t length);
int dev_read_info_block(DeviceHandle* handle, uint8_t* out);
int dev_read_ata_strings(DeviceHandle* handle, char* out);
int dev_ata_identify(DeviceHandle* handle, uint8_t* out, uint32_t n);
int dev_read_ata_security(DeviceHandle* handle, uint16_t* out);  // four values
void swap_copy16(uint8_t* destination, const uint8_t* source, int n);

}  // namespace vtx
