// The 2048-byte parameter area: id-tagged records, back to back.
#pragma once

#include <cstdint>

#include "params/parser.h"

namespace vtx {

constexpr uint32_t PARAMETER_AREA_SIZE = 2048;

// Records may take at most this many bytes: the byte after the last record is
// 0, and that byte must lie inside the area too, or the bridge reads on into
// whatever follows it.
constexpr uint32_t PARAMETER_RECORDS_MAX = PARAMETER_AREA_SIZE - 1;

// Whether records of `encoded_size` bytes fit the area with their closing 0.
// The update, `vtx_bridge pack-params` and `vtx_bridge check` all ask this.
bool param_records_fit(uint32_t encoded_size);

// Bytes the entries need when encoded, the byte after the last record not
// included. A file whose entries do not fit the area is refused.
// Entries whose id names no usable parameter are not encoded and need none.
uint32_t param_encoded_size(const ParameterEntry* entries, int count);

// Encodes the entries, in order, into the zero-filled 2048-byte `area`. 0, or
// -1 when the records do not all fit with the 0 after them: the area then
// holds the records before the first one that did not fit, whole, and nothing
// is written past its end.
int param_pack_area(const ParameterEntry* entries, int count, uint8_t* area);

// The USB string descriptor of `text` (length byte, 3, then each character as
// a byte and a 0) with at most `size` bytes of characters; clears `size` bytes
// at `destination` first and returns the descriptor's length, which may be
// `size` + 2: the destination must hold that many.
int param_make_usb_string(const char* text, uint8_t* destination, int size);

}  // namespace vtx
