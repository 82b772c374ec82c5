// Shared ground of the parameter tests: files written to a temporary
// directory, loaded and encoded the way param_apply_file does it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/encoder.h"
#include "params/parser.h"
#include "tests/support/support.h"

namespace vtx::test {

using Area = std::vector<uint8_t>;

// The entries of a parameter file holding `text`; empty when the load fails.
inline std::vector<ParameterEntry> load_text(const TempDir& dir, const std::string& text,
                                             int* result = nullptr) {
    std::vector<ParameterEntry> entries;
    int loaded = param_load_file(dir.write("bridge.cfg", text).c_str(), entries);
    if (result != nullptr)
        *result = loaded;
    return entries;
}

inline Area encode(const std::vector<ParameterEntry>& entries, int* result = nullptr) {
    Area area(PARAMETER_AREA_SIZE, 0);
    int packed = param_pack_area(entries.data(), int(entries.size()), area.data());
    if (result != nullptr)
        *result = packed;
    return area;
}

// One entry parsed from a NAME = value line, as the loader would make it.
inline ParameterEntry entry_of(const std::string& name, const std::string& value) {
    ParameterLine line;
    name.copy(line.name, sizeof line.name - 1);
    value.copy(line.value, sizeof line.value - 1);
    ParameterEntry entry;
    EXPECT_EQ(param_parse_line(line, entry), ParamDrop::kKept) << name << " = " << value;
    return entry;
}

}  // namespace vtx::test
