#include "tools/imagemaker/image_file.h"

#include <algorithm>
#include <array>

#include "vtx/bytes.h"
#include "vtx/record_writers.h"

namespace vtx::imagemaker {

namespace {

// The lead region and the body, before the header goes in.
std::vector<uint8_t> image_content(const ImageRecipe& recipe, uint32_t lead_length) {
    if (recipe.fill == ImageFill::kPseudoRandom) {
        std::vector<uint8_t> file = pseudo_random_bytes(recipe.seed ^ FILLER_STREAM, lead_length);
        std::vector<uint8_t> body = pseudo_random_bytes(recipe.seed, recipe.body_size);
        file.insert(file.end(), body.begin(), body.end());
        std::fill(file.begin(), file.begin() + IMAGE_HEADER_SIZE, uint8_t(0));
        return file;
    }
    std::vector<uint8_t> file(size_t(lead_length) + recipe.body_size, 0);
    const uint32_t base = uint8_t(recipe.seed) * 101u;
    for (uint32_t i = 0; i < recipe.body_size; ++i)
        file[lead_length + i] = uint8_t(i * 7u + (i >> 8) * 13u + base);
    return file;
}

}  // namespace

std::vector<uint8_t> build_image(const ImageRecipe& recipe) {
    const uint32_t lead_length = std::max(recipe.lead_length, IMAGE_HEADER_SIZE);
    std::vector<uint8_t> file = image_content(recipe, lead_length);
    ImageHeader header;
    header.signature = recipe.signature;
    header.image_type = recipe.image_type;
    header.chip_variant = recipe.chip_variant;
    header.payload_offset = lead_length;
    header.payload_length = recipe.body_size;
    header.body_offset = lead_length;
    header.body_address = recipe.body_address;
    header.lead_offset = 0;
    header.lead_address = recipe.lead_address;
    header.lead_length = lead_length;
    firmware_version_to_bytes(recipe.version, file.data() + HEADER_VERSION_OFFSET);
    set_image_header(file, header, true);
    return file;
}

ImageHeader image_header_of(const std::vector<uint8_t>& file) {
    if (file.size() < IMAGE_HEADER_SIZE)
        return {};
    return image_header_from_bytes(file.data());
}

uint32_t payload_crc_of(const std::vector<uint8_t>& file, const ImageHeader& header) {
    uint64_t start = header.payload_offset;
    if (start + header.payload_length > file.size())
        return 0;
    return crc32(file.data() + start, header.payload_length);
}

void set_image_header(std::vector<uint8_t>& file, const ImageHeader& header, bool recompute_crc) {
    if (file.size() < IMAGE_HEADER_SIZE)
        return;
    ImageHeader fields = header;
    if (recompute_crc)
        fields.payload_crc = payload_crc_of(file, fields);
    image_header_to_bytes(fields, file.data());
}

std::vector<uint8_t> pseudo_random_bytes(uint32_t seed, size_t length) {
    std::vector<uint8_t> bytes(length);
    uint32_t state = seed == 0 ? 1 : seed;
    for (size_t i = 0; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = uint8_t(state >> 24);
    }
    return bytes;
}

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit)
                value = (value >> 1) ^ ((value & 1) ? 0xEDB88320 : 0);
            entries[i] = value;
        }
        return entries;
    }();
    crc = ~crc;
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace vtx::imagemaker
