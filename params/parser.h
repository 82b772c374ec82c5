// The parameter file: NAME = value lines into validated entries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vtx {

constexpr int PARAM_LINE_CAP = 200;
constexpr int PARAM_PIECE = 127;

struct ParameterLine {
    char name[128] = {};
    char value[128] = {};
};

struct ParameterEntry {
    uint8_t id = 0;
    uint8_t type = 0;
    uint8_t length = 0;
    uint8_t value[128] = {};  // types 0 and 5: a little-endian u64
};

// Number of newline characters, plus one when the file is empty or its last
// character is not a newline. Leaves the file at its end.
int param_count_lines(std::FILE* file);
int param_read_lines(std::FILE* file, int limit, ParameterLine* lines);
int param_parse_entries(ParameterLine* lines, int count, ParameterEntry* entries);
int param_parse_bytes(char* text, uint8_t* destination);
bool param_is_hex(const char* text);

// Why a line of a parameter file yields no entry. Used by the companion tools
// that explain a file; the loader itself drops lines in silence.
enum class ParamDrop {
    kKept,
    kNotALine,       // no "=", empty name or value, comment
    kUnknownName,
    kObsolete,
    kBadValue,
    kOverCap,        // beyond the line cap
};

// The whole load of a parameter file: open, count, read, parse. 0 and the
// entries, or -1 (cannot open, no memory, not one entry).
int param_load_file(const char* path, std::vector<ParameterEntry>& entries);

}  // namespace vtx
