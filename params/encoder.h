// The 2048-byte parameter area: id-tagged records, back to back.
#pragma once

#include <cstdint>

#include "params/parser.h"

namespace vtx {

constexpr uint32_t PARAMETER_AREA_SIZE = 2048;

// Bytes the entries need when encoded, the byte after the last record not
// included. A file whose entries need more than the area holds is refused.
uint32_t param_encoded_size(const ParameterEntry* entries, int count);

int param_pack_area(const ParameterEntry* entries, int count, uint8_t* area);
int param_make_usb_string(const char* text, uint8_t* destination, int size);

}  // namespace vtx
