// Records and constants shared between the subsystems.
#pragma once

#include <cstdint>

namespace vtx {

// Which firmware the bridge runs. The first two equal the signatures of the
// two image formats.
constexpr uint32_t MODE_MAIN = 0x97463136;
constexpr uint32_t MODE_RESCUE = 0x79817981;
constexpr uint32_t MODE_OTHER = 0x52417643;

// The header block: image header in bytes 0 to 2047, parameter area in 2048
// to 4095. Flash is written at its address and read back through the read
// window, the same address with bit 29 set.
constexpr uint32_t HEADER_BLOCK_ADDRESS = 0x8C004000;
constexpr uint32_t HEADER_BLOCK_SIZE = 4096;
constexpr uint32_t HEADER_HALF_SIZE = 2048;
constexpr uint64_t HEADER_BLOCK_END = uint64_t(HEADER_BLOCK_ADDRESS) + HEADER_BLOCK_SIZE;
constexpr uint64_t ADDRESS_SPACE_END = 0x100000000ull;
constexpr uint32_t READ_WINDOW_BIT = 0x20000000;
constexpr uint32_t FLASH_UNIT = 4096;

constexpr uint32_t read_window(uint32_t flash_address) {
    return flash_address | READ_WINDOW_BIT;
}

// Every command goes out with this time-out, in seconds.
constexpr uint32_t DEV_TIMEOUT = 10;
constexpr uint8_t DIR_OUT = 0;  // data to the device
constexpr uint8_t DIR_IN = 1;   // data from the device

// The standard commands the tool sends a drive.
constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t OP_ATA_PASS_THROUGH_12 = 0xA1;
constexpr uint8_t OP_SERVICE_ACTION_IN_16 = 0x9E;  // READ CAPACITY (16)
constexpr uint8_t STATUS_CHECK_CONDITION = 2;      // the status byte of a refused command

// Vendor opcodes and sub-commands of the bridge's command set.
constexpr uint8_t OP_VENDOR_READ = 0xE2;
constexpr uint8_t OP_VENDOR_WRITE = 0xE3;
constexpr uint8_t SUB_MEMORY_READ = 0x92;
constexpr uint8_t SUB_SET_FLASH_ADDRESS = 0x10;
constexpr uint8_t SUB_FLASH_DATA_WRITE = 0x11;
constexpr uint8_t SUB_VERSION = 0xA5;
constexpr uint8_t SUB_RUN_MODE = 0xA6;
constexpr uint8_t SUB_MAX_TRANSFER = 0xCA;
constexpr uint8_t SUB_IDENTITY = 0xC3;
constexpr uint8_t SUB_IDENTITY_FALLBACK = 0x96;
constexpr uint8_t SUB_RESTART = 0x30;
constexpr uint8_t SUB_ATTACHMENT = 0xBB;
constexpr uint8_t SUB_INFO = 0xA8;

// The 16-byte command block handed to dev_send. For vendor commands four
// 32-bit little-endian words {opcode, sub-command, address, length}, with an
// optional parameter byte in byte 5.
struct VendorCommand {
    uint8_t cdb[16] = {};
};

VendorCommand vendor_command(uint8_t opcode, uint8_t sub_command, uint32_t address, uint32_t length,
                             uint8_t parameter = 0);

// The 20-byte reply of the version query.
struct FirmwareVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t patch = 0;
    uint32_t spare = 0;
    uint32_t build_date = 0;  // decimal yyyymmdd
};
constexpr uint32_t FIRMWARE_VERSION_SIZE = 20;

FirmwareVersion firmware_version_from_bytes(const uint8_t* reply20);

// The interpreted fields of an image file's 2048-byte header. The other bytes
// are carried unchanged into the header block.
constexpr uint32_t IMAGE_HEADER_SIZE = 2048;
constexpr uint32_t IMAGE_LEAD_BLOCK = 4096;
constexpr uint8_t IMAGE_TYPE_RESCUE_IN_MAIN = 0xFE;

struct ImageHeader {
    uint32_t signature = 0;
    uint8_t image_type = 0;
    uint8_t chip_variant = 0;
    uint32_t payload_crc = 0;
    uint32_t payload_offset = 0;
    uint32_t payload_length = 0;
    uint32_t body_offset = 0;
    uint32_t body_address = 0;
    uint32_t lead_offset = 0;
    uint32_t lead_address = 0;
    uint32_t lead_length = 0;
};

ImageHeader image_header_from_bytes(const uint8_t* header2048);

// The first 64 bytes of an LED image.
constexpr uint32_t LED_HEADER_SIZE = 64;
constexpr uint32_t LED_SIGNATURE = 0x4C454453;  // "SDEL"

struct LedImageHeader {
    uint32_t signature = 0;
    uint32_t flash_address = 0;
    uint32_t length_a = 0;
    uint32_t length_b = 0;
};

LedImageHeader led_header_from_bytes(const uint8_t* header64);

}  // namespace vtx
