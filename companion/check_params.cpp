// Parameter files: which lines the update tool keeps, which it drops and why
// (it drops them in silence), what it stores differently from what the line
// says, and whether the whole fits the bridge's 2048-byte area.
#include <algorithm>
#include <map>

#include "companion/check.h"
#include "companion/text.h"
#include "params/encoder.h"
#include "params/table.h"
#include "vtx/bytes.h"

namespace vtx::companion {

namespace {

std::string quoted(const std::string& text) {
    std::string out(1, '"');
    out += printable(text);
    out += '"';
    return out;
}

// A table name that differs only in case: the loader compares exactly.
std::string suggestion(const std::string& name) {
    for (const ParameterDef& def : ParameterTable) {
        std::string candidate = def.name;
        if (candidate.size() != name.size() || !param_type_usable(def.type))
            continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i) {
            char a = name[i] >= 'a' && name[i] <= 'z' ? char(name[i] - 32) : name[i];
            same = a == candidate[i];
        }
        if (same)
            return " (names are upper case: " + candidate + ")";
    }
    return "";
}

const char* expected_form(uint8_t type) {
    switch (type) {
        case PARAM_NUMBER:
        case PARAM_SIZED_NUMBER:
            return "a decimal number, 0x and hex digits, or y/yes/on/true, n/no/off/false";
        case PARAM_BYTES_FIXED:
        case PARAM_BYTES_VAR:
            return "two-digit hex bytes separated by blanks";
        default:
            return "text in double quotes";
    }
}

std::string drop_message(const ParamPiece& piece) {
    const ParameterDef* def = param_find_by_name(piece.name.c_str());
    switch (piece.outcome) {
        case ParamDrop::kUnknownName:
            return printable(piece.name) + " is no parameter the update tool knows" +
                   suggestion(piece.name);
        case ParamDrop::kObsolete:
            return piece.name + " is obsolete; the update tool ignores it";
        case ParamDrop::kBadValue:
            return quoted(piece.value) + " is no value for " + piece.name + ": it takes " +
                   expected_form(def ? def->type : PARAM_NUMBER);
        case ParamDrop::kOverCap:
            return "past the update tool's limit of " + std::to_string(PARAM_LINE_CAP) +
                   " lines (or the file's line count): it reads no further";
        default:
            return "no parameter line: it needs NAME = value" +
                   std::string(piece.continuation ? " (the rest of a line longer than 127 "
                                                    "characters, read on its own)"
                                                  : "");
    }
}

}  // namespace

const char* param_drop_name(ParamDrop outcome) {
    switch (outcome) {
        case ParamDrop::kKept:
            return "kept";
        case ParamDrop::kUnknownName:
            return "unknown-name";
        case ParamDrop::kObsolete:
            return "obsolete";
        case ParamDrop::kBadValue:
            return "bad-value";
        case ParamDrop::kOverCap:
            return "over-cap";
        default:
            return "not-a-line";
    }
}

namespace {

void note_piece(FileReport& report, size_t index) {
    const std::vector<ParamPiece>& pieces = report.params.pieces;
    const ParamPiece& piece = pieces[index];
    if (piece.text.find('\x1A') != std::string::npos)
        report.warning("windows-end-of-file",
                       "holds the byte 0x1A, where a text file ends on Windows: the update "
                       "tool there reads nothing after it",
                       piece.line);
    if (piece.outcome != ParamDrop::kKept) {
        if (!piece.comment || piece.outcome != ParamDrop::kNotALine)
            report.warning(param_drop_name(piece.outcome), "dropped: " + drop_message(piece),
                           piece.line);
        return;
    }
    if (piece.continuation)
        report.warning("split-line",
                       "the part from column " + std::to_string(piece.column) +
                           " is read as a line of its own: " + piece.name + " = " +
                           printable(piece.value),
                       piece.line);
    else if (index + 1 < pieces.size() && pieces[index + 1].continuation &&
             !pieces[index + 1].text.empty())
        report.warning("long-line", "longer than 127 characters: the value is cut there",
                       piece.line);
}

void note_number(FileReport& report, const ParameterEntry& entry, const ParameterDef& def,
                 int line) {
    uint64_t value = load_le64(entry.value);
    if (def.size >= 8 || value >> (8 * def.size) == 0)
        return;
    uint64_t stored = value & ((uint64_t(1) << (8 * def.size)) - 1);
    report.warning("value-truncated",
                   std::string(def.name) + ": " + std::to_string(value) + " does not fit " +
                       std::to_string(def.size) + " byte" + (def.size == 1 ? "" : "s") + "; " +
                       std::to_string(stored) + " is stored",
                   line);
}

void note_text(FileReport& report, const ParameterEntry& entry, const ParameterDef& def, int line) {
    size_t room = def.type == PARAM_USB_STRING ? def.size / 2u : def.size;
    if (entry.length > room)
        report.warning("text-truncated",
                       std::string(def.name) + ": " + std::to_string(entry.length) +
                           " characters, the first " + std::to_string(room) + " are stored",
                       line);
    if (def.type != PARAM_USB_STRING)
        return;
    for (size_t i = 0; i < entry.length; ++i) {
        if (entry.value[i] > 127) {
            report.warning("non-ascii-text",
                           std::string(def.name) +
                               ": bytes above 127 are stored as UTF-16 "
                               "units of the same value, not as UTF-8",
                           line);
            return;
        }
    }
}

void note_bytes(FileReport& report, const ParameterEntry& entry, const ParameterDef& def,
                int line) {
    if (def.type == PARAM_BYTES_FIXED && entry.length > def.size)
        report.warning("bytes-truncated",
                       std::string(def.name) + ": " + std::to_string(entry.length) +
                           " bytes, the first " + std::to_string(def.size) + " are stored",
                       line);
    if (def.type == PARAM_BYTES_VAR && entry.value[0] + 1u != entry.length)
        report.warning("count-mismatch",
                       std::string(def.name) + ": the first byte says " +
                           std::to_string(entry.value[0]) + " bytes follow, " +
                           std::to_string(entry.length - 1) + " do",
                       line);
}

void note_entries(FileReport& report) {
    const ParamFacts& facts = report.params;
    std::map<int, int> first_line;
    for (size_t i = 0; i < facts.entries.size(); ++i) {
        const ParameterEntry& entry = facts.entries[i];
        const ParameterDef* def = param_find_usable(entry.id);
        int line = facts.entry_lines[i];
        if (def == nullptr)
            continue;
        if (def->type == PARAM_NUMBER || def->type == PARAM_SIZED_NUMBER)
            note_number(report, entry, *def, line);
        else if (def->type == PARAM_BYTES_FIXED || def->type == PARAM_BYTES_VAR)
            note_bytes(report, entry, *def, line);
        else
            note_text(report, entry, *def, line);
        auto [seen, fresh] = first_line.emplace(entry.id, line);
        if (!fresh)
            report.warning("duplicate",
                           std::string(def->name) + " was set on line " +
                               std::to_string(seen->second) +
                               " already; both records go to the area, in file order",
                           line);
    }
}

}  // namespace

void check_params(FileReport& report) {
    Finding failure;
    if (!walk_parameter_file(report.path, report.params, failure)) {
        report.problems.push_back(failure);
        return;
    }
    for (size_t i = 0; i < report.params.pieces.size(); ++i)
        note_piece(report, i);
    note_entries(report);
    // In file order, as a person reads the file.
    std::stable_sort(report.warnings.begin(), report.warnings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    const ParamFacts& facts = report.params;
    if (facts.entries.empty())
        report.problem("no-parameters",
                       "not one line sets a parameter: the update tool refuses the file");
    if (!param_records_fit(facts.encoded_size))
        report.problem("area-overflow",
                       "the parameters need " + std::to_string(facts.encoded_size) +
                           " bytes; the area holds " + std::to_string(PARAMETER_RECORDS_MAX) +
                           " and the 0 after them");
}

}  // namespace vtx::companion
