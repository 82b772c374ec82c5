// Parameter areas: a parameter file to the 2048 bytes the bridge stores, and
// an area back to parameter-file text. Both go through the update tool's own
// loader, encoder and decoder, so the tool and this program agree on every
// byte.
#include <cstdio>

#include "params/decoder.h"
#include "params/encoder.h"
#include "params/parser.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::imagemaker {

int build_parameter_area(const std::string& cfg_path, std::vector<uint8_t>& area,
                         std::string& error) {
    std::vector<uint8_t> probe;
    std::string reason;
    if (!read_binary_file(cfg_path, probe, MAX_PARAMETER_FILE_SIZE, reason)) {
        error = "cannot read the parameter file (missing, not a regular file, or over 4 MiB)";
        return -1;
    }
    std::vector<ParameterEntry> entries;
    if (param_load_file(cfg_path.c_str(), entries) != 0 || entries.empty()) {
        error = "no line of the file sets a known parameter; the update tool refuses it";
        return -1;
    }
    uint32_t needed = param_encoded_size(entries.data(), int(entries.size()));
    if (needed > PARAMETER_AREA_SIZE) {
        error = "the parameters need " + std::to_string(needed) + " bytes, more than the " +
                std::to_string(PARAMETER_AREA_SIZE) + "-byte area; the update tool refuses it";
        return -1;
    }
    area.assign(PARAMETER_AREA_SIZE, 0);
    if (param_pack_area(entries.data(), int(entries.size()), area.data()) != 0) {
        error = "the parameters do not fit the area; the update tool refuses it";
        return -1;
    }
    return 0;
}

int format_parameter_area(const std::vector<uint8_t>& area, std::string& text, std::string& error) {
    const uint8_t* start = nullptr;
    if (area.size() == PARAMETER_AREA_SIZE) {
        start = area.data();
    } else if (area.size() == HEADER_BLOCK_SIZE) {
        // A dump of the whole header block: the area is its upper half.
        start = area.data() + HEADER_HALF_SIZE;
    } else {
        error = "an area file holds 2048 bytes (or a 4096-byte header block), not " +
                std::to_string(area.size());
        return -1;
    }
    std::vector<ParameterEntry> entries;
    uint32_t stop = 0;
    int result = param_decode_area(start, PARAMETER_AREA_SIZE, entries, &stop);
    text = param_format_entries(entries);
    if (result != 0) {
        char where[64];
        std::snprintf(where, sizeof where, "the record at offset %u cannot be decoded", stop);
        error = where;
        return -1;
    }
    return 0;
}

}  // namespace vtx::imagemaker
