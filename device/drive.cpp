// Queries about the drive behind the bridge: the bridge's view of it
// (attachment status, information block) and the drive's own answers passed
// through (READ CAPACITY (16), ATA IDENTIFY DEVICE).
#include "device/drive.h"

#include <algorithm>

#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

constexpr uint32_t ATTACHMENT_SIZE = 16;
constexpr uint32_t CAPACITY_SIZE = 32;
constexpr uint32_t IDENTIFY_SIZE = 512;
constexpr uint32_t DEFAULT_TRANSFER = 4096;
constexpr size_t SENSE_ASCQ = 13;

// IDENTIFY DEVICE words used here.
constexpr size_t WORD_ERASE_TIME = 89;
constexpr size_t WORD_ENHANCED_ERASE_TIME = 90;
constexpr size_t WORD_MASTER_PASSWORD_ID = 92;
constexpr size_t WORD_SECURITY_STATUS = 128;

uint16_t identify_word(const uint8_t* identify, size_t word) {
    return load_le16(identify + 2 * word);
}

// An erase time word counts in units of two minutes: 15 bits of count when
// bit 15 says the extended format is in use, else 8.
uint16_t erase_minutes(uint16_t word) {
    const uint16_t count = (word & 0x8000) ? (word & 0x7FFF) : (word & 0x00FF);
    return uint16_t(count * 2);
}

// ATA IDENTIFY DEVICE through the bridge, as ATA PASS-THROUGH (12): PIO data
// in, one block whose size the drive's block length gives. The buffer is at
// least the 512 bytes of IDENTIFY data (and at least `at_least`), zero-filled
// past what the drive sends, so a drive with short blocks is never read past
// the end of its transfer buffer.
int ata_identify(DeviceHandle* handle, Buffer& reply, uint32_t at_least) {
    const uint16_t block_length = dev_block_length(handle);
    const uint32_t transfer = block_length ? block_length : DEFAULT_TRANSFER;
    if (!buffer_alloc(reply, std::max({transfer, IDENTIFY_SIZE, at_least})))
        return -1;

    VendorCommand command;
    command.cdb[0] = OP_ATA_PASS_THROUGH_12;
    command.cdb[1] = 0x08;  // protocol 4: PIO data in
    command.cdb[2] = 0x0E;  // from the device, length in blocks, from the sector count
    command.cdb[4] = 1;     // sector count
    command.cdb[9] = 0xEC;  // IDENTIFY DEVICE
    return dev_send(handle, command, reply.data(), int32_t(transfer), DIR_IN, DEV_TIMEOUT, nullptr);
}

}  // namespace

int dev_query_attachment(DeviceHandle* handle, AttachmentStatus* out) {
    if (!out)
        return -1;
    alignas(4) uint8_t reply[ATTACHMENT_SIZE] = {};
    const int result =
        dev_send(handle, vendor_command(OP_VENDOR_READ, SUB_ATTACHMENT, 0, ATTACHMENT_SIZE), reply,
                 ATTACHMENT_SIZE, DIR_IN, DEV_TIMEOUT, nullptr);
    if (result != 0)
        return result;
    out->drive_kind = load_le32(reply);
    out->drive_state = load_le32(reply + 4);
    out->word2 = load_le32(reply + 8);
    out->word3 = load_le32(reply + 12);
    return 0;
}

int dev_read_capacity(DeviceHandle* handle, uint64_t* last_lba, uint32_t* block_len) {
    VendorCommand command;
    command.cdb[0] = OP_SERVICE_ACTION_IN_16;
    command.cdb[1] = 0x10;  // READ CAPACITY (16)
    store_be32(command.cdb + 10, CAPACITY_SIZE);
    alignas(4) uint8_t reply[CAPACITY_SIZE] = {};
    const int result =
        dev_send(handle, command, reply, CAPACITY_SIZE, DIR_IN, DEV_TIMEOUT, nullptr);
    if (result != 0)
        return result;
    if (last_lba)
        *last_lba = load_be64(reply);
    if (block_len)
        *block_len = load_be32(reply + 8);
    return 0;
}

int dev_query_info(DeviceHandle* handle, uint8_t selector, uint8_t* out, uint32_t length) {
    if (length > uint32_t(INT32_MAX))
        return -1;
    uint8_t sense[18] = {};
    const int result =
        dev_send(handle, vendor_command(OP_VENDOR_READ, SUB_INFO, 0, length, selector), out,
                 int32_t(length), DIR_IN, DEV_TIMEOUT, sense);
    // The bridge says why a selector is refused in the qualifier, at times
    // also on a command that completed.
    return sense[SENSE_ASCQ] != 0 ? sense[SENSE_ASCQ] : result;
}

int dev_read_info_block(DeviceHandle* handle, uint8_t* out) {
    dev_query_info(handle, INFO_SELECTOR, out, INFO_BLOCK_SIZE);
    return 0;
}

int dev_read_ata_strings(DeviceHandle* handle, char* out) {
    Buffer identify;
    const int result = ata_identify(handle, identify, IDENTIFY_SIZE);
    if (result != 0)
        return result;
    // Serial, firmware revision and model, each followed by a zero that the
    // caller's zero-filled output already holds.
    uint8_t* target = reinterpret_cast<uint8_t*>(out);
    swap_copy16(target, identify.data() + 20, 20);
    swap_copy16(target + 21, identify.data() + 46, 8);
    swap_copy16(target + 30, identify.data() + 54, 40);
    return 0;
}

int dev_ata_identify(DeviceHandle* handle, uint8_t* out, uint32_t n) {
    Buffer identify;
    const int result = ata_identify(handle, identify, n);
    if (result != 0)
        return result;
    std::copy_n(identify.data(), n, out);
    return 0;
}

int dev_read_ata_security(DeviceHandle* handle, uint16_t* out) {
    uint8_t identify[IDENTIFY_SIZE] = {};
    const int result = dev_ata_identify(handle, identify, IDENTIFY_SIZE);
    if (result != 0)
        return result;
    out[0] = identify_word(identify, WORD_SECURITY_STATUS);
    out[1] = identify_word(identify, WORD_MASTER_PASSWORD_ID);
    out[2] = erase_minutes(identify_word(identify, WORD_ERASE_TIME));
    out[3] = erase_minutes(identify_word(identify, WORD_ENHANCED_ERASE_TIME));
    return 0;
}

void swap_copy16(uint8_t* destination, const uint8_t* source, int n) {
    // ATA strings keep the first character of each pair in the high byte.
    for (int i = 0; i < n / 2; ++i) {
        destination[2 * i] = source[2 * i + 1];
        destination[2 * i + 1] = source[2 * i];
    }
}

}  // namespace vtx
