// A 2048-byte parameter area, decoded for people and for scripts: shared by
// `params` (the bridge's area) and `check` (an area file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "companion/json_writer.h"
#include "params/parser.h"

namespace vtx::companion {

struct AreaReport {
    int result = 0;  // param_decode_area: 0 decoded to the end of the list, -1 stopped
    std::vector<ParameterEntry> entries;
    uint32_t stop_offset = 0;
    // The entries pack back to exactly the area's bytes. False when bytes
    // after the last record are not zero: programming the text writes zeros.
    bool packs_back_same = true;
    bool tail_erased = false;  // every byte from the end of the list on is 0xFF
    std::string text;          // parameter-file lines of the entries
};

// Decodes the 2048 bytes at `area`.
AreaReport decode_area(const uint8_t* area);

// Where and why decoding ended, for people: "the record at offset 12 (id 5,
// PRODUCT) cannot be decoded: 41 03 ..." or "the list ends at offset 12
// (byte 0x00)".
std::string area_stop_text(const uint8_t* area, const AreaReport& report);

// Comment lines for the top of the parameter-file text: ";" before each.
std::string area_comment(const uint8_t* area, const AreaReport& report);

// The report's keys: decoded, stop_offset, stop_byte, stop_reason,
// encoded_size, packs_back_same, entries, text.
void write_area_json(JsonWriter& json, const uint8_t* area, const AreaReport& report);

// The name of a parameter type in JSON and text.
const char* param_type_name(uint8_t type);

}  // namespace vtx::companion
