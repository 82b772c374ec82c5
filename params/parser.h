// The parameter file: NAME = value lines into validated entries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vtx {

constexpr int PARAM_LINE_CAP = 200;
// A line is read in pieces of at most this many characters, so a name and a
// value each fit their 128-character fields.
constexpr int PARAM_PIECE = 127;
constexpr int PARAM_VALUE_SIZE = 128;

struct ParameterLine {
    char name[128] = {};
    char value[128] = {};
};

struct ParameterEntry {
    uint8_t id = 0;
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t value[PARAM_VALUE_SIZE] = {};  // types 0 and 5: a little-endian u64
};

// Number of newline characters, plus one when the file is empty or its last
// character is not a newline. Leaves the file at its end.
int param_count_lines(std::FILE* file);
// Reads up to `limit` accepted lines into `lines`; returns how many.
int param_read_lines(std::FILE* file, int limit, ParameterLine* lines);
// Parses `count` lines into `entries` (room for `count`); returns how many
// entries it wrote. May change the value text of the lines.
int param_parse_entries(ParameterLine* lines, int count, ParameterEntry* entries);
// Splits `text` at spaces into two-digit hex bytes written to `destination`
// (room for PARAM_VALUE_SIZE bytes). The number of bytes, or -1 for a
// malformed piece or more bytes than the destination holds. Cuts `text`.
int param_parse_bytes(char* text, uint8_t* destination);
// True when every character is a hex digit; true for an empty text.
bool param_is_hex(const char* text);
// A number value: spaces and tabs are deleted from `text` (in place), then a
// boolean word, a "0x" hex number or a decimal number. False when it is none.
bool param_parse_number(char* text, uint64_t* value);

// Why a line of a parameter file yields no entry. Used by the companion tools
// that explain a file; the loader itself drops lines in silence.
enum class ParamDrop {
    kKept,
    kNotALine,  // no "=", empty name or value, comment
    kUnknownName,
    kObsolete,
    kBadValue,
    kOverCap,  // beyond the line cap
};

// One accepted line into `entry`: kKept, kUnknownName, kObsolete or
// kBadValue. `entry` is cleared unless the line is kept.
ParamDrop param_parse_line(ParameterLine& line, ParameterEntry& entry);

// The whole load of a parameter file: open, count, read, parse. 0 and the
// entries, or -1 (cannot open, no memory, not one entry).
int param_load_file(const char* path, std::vector<ParameterEntry>& entries);

}  // namespace vtx
