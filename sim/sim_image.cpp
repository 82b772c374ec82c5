// Small helpers of the simulation: the CRC the boot loader checks, image
// files for tests and descriptions, and the names a bridge goes by.
#include <algorithm>
#include <array>
#include <cctype>

#include "sim/sim_internal.h"
#include "vtx/bytes.h"
#include "vtx/record_writers.h"

namespace vtx::sim {

// The simulation's CRC is its own, byte at a time, on purpose: it shares no
// code with the tool's folds, so the images it makes and the boot loader's
// check hold the tool to the standard value instead of to itself.
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

std::vector<uint8_t> make_image(const ImageRecipe& recipe) {
    uint32_t lead_length = std::max(recipe.lead_length, IMAGE_HEADER_SIZE);
    std::vector<uint8_t> file(size_t(lead_length) + recipe.body_length, 0);
    for (uint32_t i = 0; i < recipe.body_length; ++i) {
        file[lead_length + i] = uint8_t(i * 7u + (i >> 8) * 13u + recipe.seed * 101u);
    }
    ImageHeader header;
    header.signature = recipe.signature;
    header.image_type = recipe.image_type;
    header.chip_variant = recipe.chip_variant;
    header.payload_offset = lead_length;
    header.payload_length = recipe.body_length;
    header.payload_crc = crc32(file.data() + lead_length, recipe.body_length);
    header.body_offset = lead_length;
    header.body_address = recipe.body_address;
    header.lead_offset = 0;
    header.lead_address = recipe.lead_address;
    header.lead_length = lead_length;
    image_header_to_bytes(header, file.data());
    firmware_version_to_bytes(recipe.version, file.data() + IMAGE_VERSION_OFFSET);
    return file;
}

namespace detail {

bool same_path(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i])))
            return false;
    }
    return true;
}

bool is_volume_path(const std::string& path) {
    return path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 &&
           std::isalpha(uint8_t(path[4])) && path[5] == ':';
}

int family_of(const std::string& revision, const std::string& model) {
    static const char* const family0_revisions[] = {"1.00", "2.00"};
    static const char* const family1_revisions[] = {"1.01", "2.01", "1.02", "2.02"};
    // The INQUIRY field holds four characters, cut or padded with blanks.
    std::string field = (revision + "    ").substr(0, 4);
    for (const char* r : family0_revisions) {
        if (field == r)
            return 0;
    }
    for (const char* r : family1_revisions) {
        if (field == r)
            return 1;
    }
    if (model == "VTX4500")
        return 0;
    if (model == "VTX4600" || model == "VTX4700")
        return 1;
    return -1;
}

}  // namespace detail

}  // namespace vtx::sim
