#include "update/image.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/bridge.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"
#include "vtx/file.h"

namespace vtx {

namespace {

// The payload is read this much at a time, a flash chunk's largest size; the
// leading block goes through the same buffer first.
constexpr size_t PAYLOAD_PIECE = 65536;
static_assert(PAYLOAD_PIECE >= IMAGE_LEAD_BLOCK);

// The payload's CRC, read in pieces as large as the buffer (a flash chunk's
// worth): the reader's memory does not grow with the image, and an update,
// which reads each payload several times, makes a sixteenth of the reads that
// 4096-byte pieces took.
int fold_payload(std::FILE* file, uint32_t length, ScratchBuffer& buffer, uint32_t* crc) {
    uint32_t remaining = length;
    *crc = 0;
    while (remaining != 0) {
        size_t n = remaining < buffer.size() ? remaining : buffer.size();
        if (std::fread(buffer.data(), 1, n, file) != n)
            return -1;
        *crc = crc32_update(*crc, buffer.data(), n);
        remaining -= uint32_t(n);
    }
    return 0;
}

// Row of the chip variant table: chip ids low..high; variant_rev applies when
// chip_rev is 4 or 10 (rev_dependent rows only).
struct VariantRow {
    uint32_t low;
    uint32_t high;
    int variant;
    bool rev_dependent;
    int variant_rev;
};

constexpr VariantRow VARIANT_TABLE[] = {
    {0xA0010001, 0xA0010001, 2, false, 0},  {0xA0010002, 0xA0010003, 3, false, 0},
    {0xA0020001, 0xA0020003, 12, true, 13}, {0xA0030000, 0xA0030000, 21, false, 0},
    {0xA0030001, 0xA0030001, 22, false, 0},
};

bool is_first_generation(uint32_t chip_id) {
    return chip_id >= 0xA0010001 && chip_id <= 0xA0010003;
}

bool slot_rule_met(const ImageHeader& header, uint32_t chip_id, bool rescue_slot) {
    if (!rescue_slot) {
        return header.signature == MODE_MAIN && header.image_type != IMAGE_TYPE_RESCUE_IN_MAIN;
    }
    // The first chips keep a rescue format of their own; every later chip
    // takes a main-format image marked as rescue.
    if (is_first_generation(chip_id))
        return header.signature == MODE_RESCUE;
    return header.signature == MODE_MAIN && header.image_type == IMAGE_TYPE_RESCUE_IN_MAIN;
}

// chip_id and chip_rev of the bridge. 0, -1 (identity or memory), or the code
// of the chip id read.
int read_chip_identity(DeviceHandle* handle, uint32_t* chip_id, uint32_t* chip_rev) {
    Buffer inquiry;
    if (!buffer_alloc(inquiry, INQUIRY_LENGTH))
        return -1;
    if (dev_inquiry(handle, inquiry.data(), INQUIRY_LENGTH) != 0)
        return -1;
    int family = chip_family_from_revision(inquiry.data());
    if (family == 2)
        family = chip_family_from_model(inquiry.data());
    if (family == 2)
        return -1;
    ChipRegisters registers = chip_registers(family);

    // A revision that cannot be read counts as revision 0; only the id
    // decides whether the bridge answers at all.
    uint8_t reply[4] = {};
    *chip_rev =
        dev_memory_read(handle, registers.revision, reply, 4) == 0 ? load_le32(reply) >> 16 : 0;
    std::memset(reply, 0, sizeof reply);
    int result = dev_memory_read(handle, registers.id, reply, 4);
    if (result != 0)
        return result;
    *chip_id = load_le32(reply);
    return 0;
}

}  // namespace

int fw_read_header(const char* path, uint8_t* header) {
    if (path == nullptr)
        return -1;
    File file(open_regular_file(path, "rb"));
    if (!file)
        return -1;
    ScratchBuffer buffer;
    if (!buffer_alloc_scratch(buffer, PAYLOAD_PIECE))
        return -1;
    if (std::fread(buffer.data(), 1, IMAGE_LEAD_BLOCK, file.get()) != IMAGE_LEAD_BLOCK)
        return -1;
    // The caller's area takes the header before the CRC is known; callers
    // look at it only after a result of 0.
    std::memcpy(header, buffer.data(), IMAGE_HEADER_SIZE);
    ImageHeader fields = image_header_from_bytes(header);

    // The offset is a signed 32-bit value: 0x80000000 and above seek before
    // the start of the file and fail.
    long offset = static_cast<int32_t>(fields.payload_offset);
    if (std::fseek(file.get(), offset, SEEK_SET) != 0) {
        std::perror("fseek()");
        return -1;
    }
    uint32_t crc = 0;
    if (fold_payload(file.get(), fields.payload_length, buffer, &crc) != 0)
        return -1;
    return crc == fields.payload_crc ? 0 : -1;
}

int32_t fw_file_size(const char* path) {
    if (path == nullptr)
        return -1;
    File file(open_regular_file(path, "rb"));
    if (!file)
        return -1;
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return -1;
    return static_cast<int32_t>(std::ftell(file.get()));
}

int fw_expected_variant(uint32_t chip_id, uint32_t chip_rev) {
    for (const VariantRow& row : VARIANT_TABLE) {
        if (chip_id < row.low || chip_id > row.high)
            continue;
        if (row.rev_dependent && (chip_rev == 4 || chip_rev == 10))
            return row.variant_rev;
        return row.variant;
    }
    return -1;
}

bool fw_layout_fits(const ImageHeader& header, uint32_t file_size) {
    if (header.lead_offset != 0)
        return false;
    if (header.body_offset != header.lead_length)
        return false;
    if (file_size < header.lead_length)
        return false;
    if (header.lead_length % FLASH_UNIT != 0)
        return false;
    return (file_size - header.lead_length) % FLASH_UNIT == 0;
}

bool fw_image_spans(const char* path, ImageSpans* spans) {
    if (path == nullptr || spans == nullptr)
        return false;
    File file(open_regular_file(path, "rb"));
    uint8_t bytes[IMAGE_HEADER_SIZE];
    if (!file || std::fread(bytes, 1, sizeof bytes, file.get()) != sizeof bytes)
        return false;
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return false;
    long size = std::ftell(file.get());
    ImageHeader header = image_header_from_bytes(bytes);
    if (size < 0 || uint64_t(size) < header.lead_length)
        return false;
    spans->lead = {header.lead_address, header.lead_length};
    spans->body = {header.body_address, uint64_t(size) - header.lead_length};
    return true;
}

int fw_check_image(DeviceHandle* handle, const char* path, bool rescue_slot) {
    // Everything the file alone can tell comes first, so a damaged or
    // misshapen image sends nothing to the bridge.
    uint8_t bytes[IMAGE_HEADER_SIZE] = {};
    if (fw_read_header(path, bytes) != 0)
        return -1;
    ImageHeader header = image_header_from_bytes(bytes);
    int32_t size = fw_file_size(path);
    if (size < 0 || !fw_layout_fits(header, static_cast<uint32_t>(size)))
        return -1;

    uint32_t chip_id = 0;
    uint32_t chip_rev = 0;
    int result = read_chip_identity(handle, &chip_id, &chip_rev);
    if (result != 0)
        return result;

    int expected = fw_expected_variant(chip_id, chip_rev);
    if (expected < 0 || header.chip_variant != expected)
        return -1;
    return slot_rule_met(header, chip_id, rescue_slot) ? 0 : -1;
}

}  // namespace vtx
