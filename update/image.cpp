#include "update/image.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/bridge.h"
#include "update/bridge_match.h"
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

}  // namespace

bool fw_takes_rescue_format(uint32_t chip_id) {
    return chip_id >= 0xA0010001 && chip_id <= 0xA0010003;
}

bool fw_slot_rule_met(const ImageHeader& header, uint32_t chip_id, bool rescue_slot) {
    if (!rescue_slot) {
        return header.signature == MODE_MAIN && header.image_type != IMAGE_TYPE_RESCUE_IN_MAIN;
    }
    if (fw_takes_rescue_format(chip_id))
        return header.signature == MODE_RESCUE;
    return header.signature == MODE_MAIN && header.image_type == IMAGE_TYPE_RESCUE_IN_MAIN;
}

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
    // A size the signed 32-bit counters cannot hold is no size at all: cut to
    // 32 bits, a file of 4 GiB and some would pass for a small one.
    long size = std::ftell(file.get());
    return size < 0 || size > INT32_MAX ? -1 : int32_t(size);
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
    if (!fw_body_clear_of_header_block(header, file_size))
        return false;
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

bool fw_body_clear_of_header_block(const ImageHeader& header, uint32_t file_size) {
    if (file_size < header.lead_length)
        return false;
    const uint64_t body_end = uint64_t(header.body_address) + (file_size - header.lead_length);
    const uint64_t lead_end = uint64_t(header.lead_address) + header.lead_length;
    if (body_end > ADDRESS_SPACE_END || lead_end > ADDRESS_SPACE_END)
        return false;
    // The bridge boots from the header block; a body over it would leave
    // neither an image header nor the parameters there.
    return body_end <= HEADER_BLOCK_ADDRESS || header.body_address >= HEADER_BLOCK_END ||
           body_end == header.body_address;
}

ImageSpans fw_image_spans(const ValidatedImage& image) {
    ImageHeader header = image_header_from_bytes(image.header);
    ImageSpans spans;
    spans.lead = {header.lead_address, header.lead_length};
    spans.body = {header.body_address,
                  image.size >= header.lead_length ? image.size - header.lead_length : 0};
    return spans;
}

int fw_check_image(DeviceHandle* handle, const char* path, bool rescue_slot, ValidatedImage* kept) {
    // Everything the file alone can tell comes first, so a damaged or
    // misshapen image sends nothing to the bridge.
    uint8_t bytes[IMAGE_HEADER_SIZE] = {};
    if (fw_read_header(path, bytes) != 0)
        return -1;
    ImageHeader header = image_header_from_bytes(bytes);
    int32_t size = fw_file_size(path);
    if (size < 0 || !fw_layout_fits(header, static_cast<uint32_t>(size)))
        return -1;

    ChipIdentity chip;
    int result = fw_read_chip(handle, &chip);
    if (result != 0)
        return result;

    int expected = fw_expected_variant(chip.chip_id, chip.chip_rev);
    if (expected < 0 || header.chip_variant != expected)
        return -1;
    if (!fw_slot_rule_met(header, chip.chip_id, rescue_slot))
        return -1;
    if (kept) {
        std::memcpy(kept->header, bytes, IMAGE_HEADER_SIZE);
        kept->size = uint32_t(size);
        kept->path = path;
    }
    return 0;
}

}  // namespace vtx
