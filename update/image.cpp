#include "update/image.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/bridge.h"
#include "update/bridge_match.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Built on the first CRC computation and kept for the rest of the run. Table 0
// is the classic byte-wise table; table k gives the CRC of a byte followed by
// k zero bytes, so sixteen bytes fold in one step. The payload is checked
// several times per update, and byte at a time that check alone took half the
// time the bus needs for the same update.
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

// The payload's CRC, read in 4096-byte pieces through the leading block's
// buffer so that the reader's memory does not grow with the image.
int fold_payload(std::FILE* file, uint32_t length, Buffer& buffer, uint32_t* crc) {
    uint32_t remaining = length;
    *crc = 0;
    while (remaining != 0) {
        uint32_t n = remaining < IMAGE_LEAD_BLOCK ? remaining : IMAGE_LEAD_BLOCK;
        if (std::fread(buffer.data(), 1, n, file) != n)
            return -1;
        *crc = crc32_update(*crc, buffer.data(), n);
        remaining -= n;
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

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t length) {
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

int fw_read_header(const char* path, uint8_t* header) {
    if (path == nullptr)
        return -1;
    File file(std::fopen(path, "rb"));
    if (!file)
        return -1;
    Buffer buffer;
    if (!buffer_alloc(buffer, IMAGE_LEAD_BLOCK))
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
    File file(std::fopen(path, "rb"));
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
    if (!slot_rule_met(header, chip.chip_id, rescue_slot))
        return -1;
    if (kept) {
        std::memcpy(kept->header, bytes, IMAGE_HEADER_SIZE);
        kept->size = uint32_t(size);
        kept->path = path;
    }
    return 0;
}

}  // namespace vtx
