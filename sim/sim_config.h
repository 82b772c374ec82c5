// The text format shared by description files and state files: sections of
// `key = value` lines (docs/simulator.md). Internal to sim/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_internal.h"

namespace vtx::sim::detail {

struct Entry {
    int line = 0;
    std::string key;
    std::vector<std::string> items;  // comma-separated values, unquoted
};

struct Section {
    int line = 0;
    std::string kind;  // platform, bridge, disk, fault
    std::string name;
    std::vector<Entry> entries;
};

// Splits `text` into sections; false with "line N: reason" in `error`.
bool parse_sections(const std::string& text, std::vector<Section>& sections, std::string& error);

// Value conversions; false when the text is not one.
bool parse_u64(const std::string& text, uint64_t max, uint64_t& out);
bool parse_i64(const std::string& text, int64_t min, int64_t max, int64_t& out);
bool parse_double(const std::string& text, double min, double max, double& out);
bool parse_flag(const std::string& text, bool& out);
bool parse_hex(const std::string& text, std::vector<uint8_t>& out);

// Writing: a quoted string (or its hex: form when it holds control
// characters), a flag, a number in hex.
std::string quote(const std::string& text);
std::string flag_text(bool value);
std::string hex_number(uint32_t value);
std::string hex_bytes(const uint8_t* data, size_t length);

// Applies parsed sections to a world. `base` is the directory that relative
// file names of a description start from. False with "line N: reason".
bool apply_sections(World& world, const std::vector<Section>& sections, const std::string& base,
                    std::string& error);

// The whole world as a state file.
std::string render_state(const World& world);

}  // namespace vtx::sim::detail
