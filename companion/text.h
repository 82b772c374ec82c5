// Small text helpers of the companion's output. Device strings are bytes a
// bridge chose: for people they are trimmed and anything unprintable is
// shown as \xNN, so no reply can move the cursor or colour the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vtx/records.h"

namespace vtx::companion {

// The bytes of a fixed-size field up to its first NUL.
std::string fixed_text(const char* field, size_t size);
std::string fixed_text(const uint8_t* field, size_t size);

// Blanks and NULs trimmed at both ends; bytes outside printable ASCII as \xNN.
std::string display_text(std::string_view bytes);
// The same without trimming: a path or a file line as given. A backslash
// followed by 'x' is \x5C, so every \xNN of the result is an escape.
std::string printable(std::string_view bytes);

std::string hex32(uint32_t value);                         // "0xA0020001"
std::string hex_bytes(const uint8_t* bytes, size_t n);     // "05 41 03"
std::string version_text(const FirmwareVersion& version);  // "1.2.3"
// "2024-01-15" for a plausible yyyymmdd, else "".
std::string iso_date(uint32_t yyyymmdd);

}  // namespace vtx::companion
