// Bridge identity and status queries: chip detection from INQUIRY data and
// the chip registers, the firmware version, the identity word, the largest
// transfer, the readiness check and the restart command.
#include "device/bridge.h"

#include <cstring>

#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

constexpr uint32_t MAX_TRANSFER_SELECTOR = 2;
constexpr uint32_t READY_CHECK_LENGTH = 96;
// Bits 16 to 23 of the chip revision register above this mark a revision this
// tool was never built for.
constexpr uint8_t CHIP_REV_LIMIT = 0x2F;

// The four revision bytes read as one little-endian word ("1.00" is
// 0x30302E31), by family.
struct RevisionName {
    uint32_t word;
    int family;
};
constexpr RevisionName REVISIONS[] = {
    {0x30302E31, 0}, {0x30302E32, 0},  // "1.00", "2.00"
    {0x31302E31, 1}, {0x31302E32, 1},  // "1.01", "2.01"
    {0x32302E31, 1}, {0x32302E32, 1},  // "1.02", "2.02"
};

// Model strings match with their terminating zero, all eight bytes.
struct ModelName {
    char text[8];
    int family;
};
constexpr ModelName MODELS[] = {{"VTX4500", 0}, {"VTX4600", 1}, {"VTX4700", 1}};

constexpr ChipRegisters FAMILY_REGISTERS[] = {
    {0xB35000C4, 0xB35000C8, 0xFC},
    {0xB37000C4, 0xB37000C8, 0x7FC},
};

struct ChipIdRange {
    int family;
    uint32_t first, last;
};
constexpr ChipIdRange CHIP_IDS[] = {
    {0, 0xA0010001, 0xA0010003},
    {1, 0xA0020000, 0xA0020003},
    {1, 0xA0030000, 0xA0030001},
};

bool chip_id_accepted(int family, uint32_t chip_id) {
    for (const ChipIdRange& range : CHIP_IDS) {
        if (range.family == family && chip_id >= range.first && chip_id <= range.last)
            return true;
    }
    return false;
}

// One vendor query of `length` bytes into a caller's reply buffer.
int vendor_read(DeviceHandle* handle, uint8_t sub_command, uint32_t address, void* reply,
                uint32_t length) {
    return dev_send(handle, vendor_command(OP_VENDOR_READ, sub_command, address, length), reply,
                    int32_t(length), DIR_IN, DEV_TIMEOUT, nullptr);
}

// INQUIRY into a fresh zero-filled working buffer: -1 when the buffer cannot
// be had, else the transport's result.
int read_inquiry(DeviceHandle* handle, Buffer& inquiry) {
    if (!buffer_alloc(inquiry, INQUIRY_LENGTH))
        return -1;
    return dev_inquiry(handle, inquiry.data(), INQUIRY_LENGTH);
}

}  // namespace

ChipRegisters chip_registers(int chip_family) {
    if (chip_family != 0 && chip_family != 1)
        return {0, 0, 0};
    return FAMILY_REGISTERS[chip_family];
}

int dev_memory_read(DeviceHandle* handle, uint32_t address, void* out, uint32_t length) {
    if (length > uint32_t(INT32_MAX))
        return -1;
    return vendor_read(handle, SUB_MEMORY_READ, address, out, length);
}

int dev_inquiry(DeviceHandle* handle, uint8_t* buffer, uint16_t length) {
    VendorCommand command;
    command.cdb[0] = OP_INQUIRY;
    store_be16(command.cdb + 3, length);
    return dev_send(handle, command, buffer, length, DIR_IN, DEV_TIMEOUT, nullptr);
}

int chip_family_from_revision(const uint8_t* inquiry) {
    const uint32_t word = load_le32(inquiry + 32);
    for (const RevisionName& revision : REVISIONS) {
        if (revision.word == word)
            return revision.family;
    }
    return CHIP_FAMILY_UNKNOWN;
}

int chip_family_from_model(const uint8_t* inquiry) {
    for (const ModelName& model : MODELS) {
        if (std::memcmp(inquiry + 44, model.text, sizeof model.text) == 0)
            return model.family;
    }
    return CHIP_FAMILY_UNKNOWN;
}

int chip_family_of(const uint8_t* inquiry) {
    int family = chip_family_from_revision(inquiry);
    return family != CHIP_FAMILY_UNKNOWN ? family : chip_family_from_model(inquiry);
}

int dev_detect_family(DeviceHandle* handle) {
    Buffer inquiry;
    if (read_inquiry(handle, inquiry) != 0)
        return -1;
    int family = chip_family_of(inquiry.data());
    // A drive that names no chip of ours gets no vendor command at all.
    if (family == CHIP_FAMILY_UNKNOWN)
        return -1;

    const ChipRegisters registers = chip_registers(family);
    alignas(4) uint8_t id_reply[4] = {};
    if (dev_memory_read(handle, registers.id, id_reply, sizeof id_reply) != 0)
        return -1;
    alignas(4) uint8_t rev_reply[4] = {};
    if (dev_memory_read(handle, registers.revision, rev_reply, sizeof rev_reply) != 0)
        return -1;

    if (rev_reply[2] > CHIP_REV_LIMIT)
        return -1;
    return chip_id_accepted(family, load_le32(id_reply)) ? family : -1;
}

bool dev_is_bridge(DeviceHandle* handle) {
    const int family = dev_detect_family(handle);
    return family == 0 || family == 1;
}

int dev_check_optical(DeviceHandle* handle) {
    // Discovery admits a lettered volume on any nonzero answer, so a working
    // buffer that cannot be had answers 0 here, not -1.
    static const char VENDOR_OPTICAL[] = "Vantrex USB CD-ROM";
    Buffer inquiry;
    if (read_inquiry(handle, inquiry) != 0)
        return 0;
    if (std::memcmp(inquiry.data() + 8, VENDOR_OPTICAL, sizeof VENDOR_OPTICAL - 1) == 0)
        return 1;
    return (inquiry[0] & 0x1F) == DEVICE_TYPE_CDROM ? 2 : 0;
}

int dev_get_name(DeviceHandle* handle, char* out) {
    // A drive that does not answer keeps an empty name; only running out of
    // memory is a failure.
    Buffer inquiry;
    if (!buffer_alloc(inquiry, INQUIRY_LENGTH))
        return -1;
    if (dev_inquiry(handle, inquiry.data(), INQUIRY_LENGTH) == 0)
        std::memcpy(out, inquiry.data() + 8, 24);
    return 0;
}

int dev_read_version(DeviceHandle* handle, FirmwareVersion* out) {
    alignas(4) uint8_t reply[FIRMWARE_VERSION_SIZE] = {};
    const int result = vendor_read(handle, SUB_VERSION, 0, reply, sizeof reply);
    if (result == 0 && out)
        *out = firmware_version_from_bytes(reply);
    return result;
}

int dev_query_max_transfer(DeviceHandle* handle, uint32_t* out) {
    alignas(4) uint8_t reply[4] = {};
    const int result = vendor_read(handle, SUB_MAX_TRANSFER, MAX_TRANSFER_SELECTOR, reply, 4);
    if (result == 0 && out)
        *out = load_le32(reply);
    return result;
}

int dev_read_identity(DeviceHandle* handle, uint32_t* out) {
    alignas(4) uint8_t reply[4] = {};
    if (vendor_read(handle, SUB_IDENTITY, 0, reply, 4) == 0) {
        if (out)
            *out = load_le32(reply);
        return 0;
    }
    // Firmware that lacks the identity query keeps the same word in memory,
    // at an address that depends on the chip family.
    const int family = dev_detect_family(handle);
    if (family != 0 && family != 1)
        return -1;
    std::memset(reply, 0, sizeof reply);
    const int result = vendor_read(handle, SUB_IDENTITY_FALLBACK,
                                   chip_registers(family).identity_fallback, reply, 4);
    if (result == 0 && out)
        *out = load_le32(reply);
    return result;
}

int dev_read_header_block(DeviceHandle* handle, uint8_t* out) {
    return dev_memory_read(handle, read_window(HEADER_BLOCK_ADDRESS), out, HEADER_BLOCK_SIZE);
}

int dev_check_ready(DeviceHandle* handle) {
    Buffer reply;
    if (!buffer_alloc(reply, READY_CHECK_LENGTH))
        return -1;
    return dev_memory_read(handle, read_window(HEADER_BLOCK_ADDRESS), reply.data(),
                           READY_CHECK_LENGTH);
}

int dev_restart(DeviceHandle* handle, uint8_t parameter) {
    alignas(4) uint8_t zeros[4] = {};
    return dev_send(handle, vendor_command(OP_VENDOR_WRITE, SUB_RESTART, 0, 4, parameter), zeros, 4,
                    DIR_OUT, DEV_TIMEOUT, nullptr);
}

}  // namespace vtx
