// Reading and writing the simulator's text format: sections, `key = value`
// lines, quoted strings, lists, numbers and hex bytes. A person writes these
// files by hand, so every mistake gets its line number and a plain reason.
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "sim/sim_config.h"

namespace vtx::sim::detail {

namespace {

const char* const SECTION_KINDS[] = {"platform", "bridge", "disk", "fault"};

std::string trim(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

std::string at_line(int line, const std::string& reason) {
    return "line " + std::to_string(line) + ": " + reason;
}

bool comment_start(const std::string& text, size_t at) {
    return (text[at] == '#' || text[at] == ';') &&
           (at == 0 || text[at - 1] == ' ' || text[at - 1] == '\t');
}

// One value of a list, starting at `at`; `at` ends on the separator or the
// end of the value text.
bool read_item(const std::string& text, size_t& at, std::string& item, std::string& reason) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at < text.size() && text[at] == '"') {
        ++at;
        item.clear();
        for (;;) {
            if (at >= text.size()) {
                reason = "missing closing quote";
                return false;
            }
            if (text[at] == '"') {
                if (at + 1 < text.size() && text[at + 1] == '"') {
                    item += '"';  // "" stands for one quote
                    at += 2;
                    continue;
                }
                ++at;
                break;
            }
            item += text[at++];
        }
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
            ++at;
        if (at < text.size() && text[at] != ',' && !comment_start(text, at)) {
            reason = "unexpected text after a quoted value";
            return false;
        }
        return true;
    }
    size_t start = at;
    while (at < text.size() && text[at] != ',' && !comment_start(text, at))
        ++at;
    item = trim(text.substr(start, at - start));
    if (item.rfind("hex:", 0) == 0) {
        std::vector<uint8_t> bytes;
        if (!parse_hex(item.substr(4), bytes)) {
            reason = "bad hex: string";
            return false;
        }
        item.assign(bytes.begin(), bytes.end());
    }
    return true;
}

bool parse_items(const std::string& text, std::vector<std::string>& items, std::string& reason) {
    size_t at = 0;
    for (;;) {
        std::string item;
        if (!read_item(text, at, item, reason))
            return false;
        items.push_back(item);
        if (at < text.size() && text[at] == ',') {
            ++at;
            continue;
        }
        return true;
    }
}

// The header ends at the first ']' outside quotes; a comment may follow.
bool parse_header(const std::string& text, Section& section, std::string& reason) {
    size_t close = 1;
    for (bool quoted = false; close < text.size() && (quoted || text[close] != ']'); ++close) {
        if (text[close] == '"')
            quoted = !quoted;
    }
    std::string after = close < text.size() ? trim(text.substr(close + 1)) : "";
    if (close >= text.size() || (!after.empty() && after[0] != '#' && after[0] != ';')) {
        reason = "section header without ']' at its end";
        return false;
    }
    std::string inside = trim(text.substr(1, close - 1));
    size_t space = inside.find_first_of(" \t");
    section.kind = inside.substr(0, space);
    bool known = false;
    for (const char* kind : SECTION_KINDS)
        known = known || section.kind == kind;
    if (!known) {
        reason = "unknown section [" + section.kind + "] (platform, bridge, disk or fault)";
        return false;
    }
    if (space == std::string::npos)
        return true;
    // The name reads as a value does: bare, quoted, or hex:.
    std::string rest = inside.substr(space);
    size_t at = 0;
    if (!read_item(rest, at, section.name, reason))
        return false;
    if (at != rest.size()) {
        reason = "unexpected text after the section name";
        return false;
    }
    return true;
}

bool parse_line(const std::string& raw, std::vector<Section>& sections, int number,
                std::string& reason) {
    for (char c : raw) {
        if (uint8_t(c) < 0x20 && c != '\t') {
            reason = "control character in the line";
            return false;
        }
    }
    std::string text = trim(raw);
    if (text.empty() || text[0] == '#' || text[0] == ';')
        return true;
    if (text[0] == '[') {
        Section section;
        section.line = number;
        if (!parse_header(text, section, reason))
            return false;
        sections.push_back(section);
        return true;
    }
    size_t equals = text.find('=');
    if (equals == std::string::npos) {
        reason = "expected 'key = value' or a [section]";
        return false;
    }
    Entry entry;
    entry.line = number;
    entry.key = trim(text.substr(0, equals));
    for (char& c : entry.key)
        c = char(std::tolower(uint8_t(c)));
    if (entry.key.empty()) {
        reason = "missing key before '='";
        return false;
    }
    if (sections.empty()) {
        reason = "'" + entry.key + "' stands before the first [section]";
        return false;
    }
    if (!parse_items(text.substr(equals + 1), entry.items, reason))
        return false;
    sections.back().entries.push_back(entry);
    return true;
}

}  // namespace

bool parse_sections(const std::string& text, std::vector<Section>& sections, std::string& error) {
    size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ++number;
        std::string reason;
        if (!parse_line(line, sections, number, reason)) {
            error = at_line(number, reason);
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool parse_u64(const std::string& text, uint64_t max, uint64_t& out) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 20)
        return false;
    uint64_t value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && std::isxdigit(uint8_t(c))) {
            digit = std::tolower(uint8_t(c)) - 'a' + 10;
        } else {
            return false;
        }
        uint64_t base = hex ? 16 : 10;
        if (value > (UINT64_MAX - uint64_t(digit)) / base)
            return false;
        value = value * base + uint64_t(digit);
    }
    if (value > max)
        return false;
    out = value;
    return true;
}

bool parse_i64(const std::string& text, int64_t min, int64_t max, int64_t& out) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude;
    if (!parse_u64(negative ? text.substr(1) : text, uint64_t(INT64_MAX), magnitude))
        return false;
    int64_t value = negative ? -int64_t(magnitude) : int64_t(magnitude);
    if (value < min || value > max)
        return false;
    out = value;
    return true;
}

bool parse_double(const std::string& text, double min, double max, double& out) {
    if (text.empty() || text.size() > 64)
        return false;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value))
        return false;
    if (value < min || value > max)
        return false;
    out = value;
    return true;
}

bool parse_flag(const std::string& text, bool& out) {
    std::string lower;
    for (char c : text)
        lower += char(std::tolower(uint8_t(c)));
    if (lower == "yes" || lower == "true" || lower == "on" || lower == "1") {
        out = true;
    } else if (lower == "no" || lower == "false" || lower == "off" || lower == "0") {
        out = false;
    } else {
        return false;
    }
    return true;
}

bool parse_hex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(uint8_t(text[i])) || !std::isxdigit(uint8_t(text[i + 1])))
            return false;
        out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return true;
}

std::string quote(const std::string& text) {
    for (char c : text) {
        if (uint8_t(c) < 0x20) {
            std::vector<uint8_t> bytes(text.begin(), text.end());
            return "hex:" + hex_bytes(bytes.data(), bytes.size());
        }
    }
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string flag_text(bool value) {
    return value ? "yes" : "no";
}

std::string hex_number(uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        out += digits[(value >> shift) & 15];
    return out;
}

std::string hex_bytes(const uint8_t* data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

}  // namespace vtx::sim::detail
