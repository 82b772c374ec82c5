// The encoder's inverse: a parameter area read from a bridge back to entries
// and to parameter-file text that the loader reads back to the same area.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "params/parser.h"

namespace vtx {

// Decodes the records of `area` (`size` bytes) up to the end of the list: an
// id that names no usable parameter (0, 16, 17, 57 and up, the erased 0xFF
// among them) or the end of the area. 0 then, with `stop_offset` at that
// byte. -1 when a record cannot be decoded or cannot be written back as one
// file line (data that runs past the area, a length or size byte the encoder
// never writes, a text the file syntax cannot express, a line longer than a
// 127-character piece, more records than a file's 200 lines): `entries`
// holds the records before it and `stop_offset` is the offset of its id
// byte. Nothing past area + size is read.
int param_decode_area(const uint8_t* area, uint32_t size, std::vector<ParameterEntry>& entries,
                      uint32_t* stop_offset);

// One entry as a file line "NAME = value", without the line end. 0, or -1
// when the id names no usable parameter, a text holds a character the file
// syntax cannot carry, a byte list is empty, or the line would not fit one
// 127-character piece.
int param_format_entry(const ParameterEntry& entry, std::string& line);

// Parameter-file text, one NAME = value line per entry; an entry that
// param_format_entry refuses is left out.
std::string param_format_entries(const std::vector<ParameterEntry>& entries);

}  // namespace vtx
