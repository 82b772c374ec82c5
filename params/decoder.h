// The encoder's inverse: a parameter area read from a bridge back to entries
// and to parameter-file text that the loader reads back to the same area.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "params/parser.h"

namespace vtx {

// 0 when the records up to the end marker decode; -1 when a record cannot be
// decoded (an id the table does not hold as a usable parameter, data that
// runs past the area, a value the file syntax cannot express). `entries`
// then holds the records decoded before it and `stop_offset` where it stopped.
int param_decode_area(const uint8_t* area, uint32_t size, std::vector<ParameterEntry>& entries,
                      uint32_t* stop_offset);

// Parameter-file text, one NAME = value line per entry.
std::string param_format_entries(const std::vector<ParameterEntry>& entries);

}  // namespace vtx
