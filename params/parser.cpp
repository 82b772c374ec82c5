#include "params/parser.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "params/table.h"
#include "vtx/bytes.h"
#include "vtx/file.h"

namespace vtx {

namespace {

// Characters are classified by explicit comparison, never through the C
// library's classes, so a file byte above 127 (a negative char) is simply
// "not a digit" instead of undefined behaviour or a locale's guess.
bool is_decimal_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_hex_digit(char c) {
    return is_decimal_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned hex_digit_value(char c) {
    if (is_decimal_digit(c))
        return unsigned(c - '0');
    if (c >= 'a')
        return unsigned(c - 'a' + 10);
    return unsigned(c - 'A' + 10);
}

// A newline, carriage return or ";" ends a name or a value: CR LF line ends
// behave like LF, and ";" starts a comment anywhere.
bool ends_text(char c) {
    return c == '\n' || c == '\r' || c == ';';
}

// The next part of a piece split at "=", the way strtok splits: a run of "="
// is one separator and no part is ever empty. Null when no part is left.
const char* next_part(const char* cursor, size_t* length) {
    while (*cursor == '=')
        ++cursor;
    if (*cursor == '\0')
        return nullptr;
    const char* end = cursor;
    while (*end != '\0' && *end != '=')
        ++end;
    *length = size_t(end - cursor);
    return cursor;
}

// The name ends at the first space after it began; a line end or comment
// before that makes the line no parameter line at all.
bool copy_name(const char* part, size_t length, char* out) {
    size_t i = 0;
    while (i < length && part[i] == ' ')
        ++i;
    size_t n = 0;
    for (; i < length && part[i] != ' '; ++i) {
        if (ends_text(part[i]))
            return false;
        out[n++] = part[i];
    }
    out[n] = '\0';
    return n > 0;
}

// The value keeps inner and trailing spaces and tabs; it ends at a line end
// or comment.
bool copy_value(const char* part, size_t length, char* out) {
    size_t i = 0;
    while (i < length && part[i] == ' ')
        ++i;
    size_t n = 0;
    for (; i < length && !ends_text(part[i]); ++i)
        out[n++] = part[i];
    out[n] = '\0';
    return n > 0;
}

bool split_piece(const char* piece, ParameterLine& line) {
    size_t name_length = 0;
    const char* name = next_part(piece, &name_length);
    if (name == nullptr)
        return false;
    size_t value_length = 0;
    const char* value = next_part(name + name_length, &value_length);
    if (value == nullptr)
        return false;
    return copy_name(name, name_length, line.name) && copy_value(value, value_length, line.value);
}

// Unsigned conversion as the C library does it: a number beyond 64 bits
// becomes all ones. The digits are checked before.
uint64_t convert_digits(const char* digits, unsigned base) {
    uint64_t value = 0;
    for (; *digits != '\0'; ++digits) {
        uint64_t digit = hex_digit_value(*digits);
        if (value > (UINT64_MAX - digit) / base)
            return UINT64_MAX;
        value = value * base + digit;
    }
    return value;
}

bool parse_word(const char* text, uint64_t* value) {
    static const char* const kTrue[] = {"y", "yes", "on", "true"};
    static const char* const kFalse[] = {"n", "no", "off", "false"};
    for (const char* word : kTrue) {
        if (std::strcmp(text, word) == 0) {
            *value = 1;
            return true;
        }
    }
    for (const char* word : kFalse) {
        if (std::strcmp(text, word) == 0) {
            *value = 0;
            return true;
        }
    }
    return false;
}

bool parse_string(const char* value, ParameterEntry& entry) {
    if (value[0] != '"')
        return false;
    const char* text = value + 1;
    const char* close = std::strchr(text, '"');
    if (close == nullptr)
        return false;
    size_t length = size_t(close - text);
    for (size_t i = 0; i < length; ++i)
        entry.value[i] = uint8_t(text[i]);
    entry.value[length] = 0;
    entry.length = uint8_t(length);
    return true;
}

bool parse_value(uint8_t type, char* value, ParameterEntry& entry) {
    switch (type) {
        case PARAM_NUMBER:
        case PARAM_SIZED_NUMBER: {
            uint64_t number = 0;
            if (!param_parse_number(value, &number))
                return false;
            store_le64(entry.value, number);
            return true;
        }
        case PARAM_BYTES_FIXED:
        case PARAM_BYTES_VAR: {
            int count = param_parse_bytes(value, entry.value);
            if (count <= 0)
                return false;
            entry.length = uint8_t(count);
            return true;
        }
        case PARAM_USB_STRING:
        case PARAM_SCSI_STRING:
            return parse_string(value, entry);
        default:
            return false;
    }
}

template <typename Record>
bool records_alloc(std::vector<Record>& records, size_t count) {
    try {
        records.assign(count, Record{});
    } catch (const std::bad_alloc&) {
        records.clear();
        return false;
    }
    return true;
}

}  // namespace

bool param_is_hex(const char* text) {
    for (; *text != '\0'; ++text) {
        if (!is_hex_digit(*text))
            return false;
    }
    return true;
}

bool param_parse_number(char* text, uint64_t* value) {
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (*in != ' ' && *in != '\t')
            *out++ = *in;
    }
    *out = '\0';
    if (parse_word(text, value))
        return true;
    if (text[0] == '0' && text[1] == 'x') {
        const char* digits = text + 2;
        if (*digits == '\0' || !param_is_hex(digits))
            return false;
        *value = convert_digits(digits, 16);
        return true;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (!is_decimal_digit(*c))
            return false;
    }
    *value = convert_digits(text, 10);  // an empty value is 0
    return true;
}

int param_parse_bytes(char* text, uint8_t* destination) {
    int count = 0;
    char* cursor = text;
    for (;;) {
        while (*cursor == ' ')
            ++cursor;
        if (*cursor == '\0')
            return count;
        char* piece = cursor;
        while (*cursor != '\0' && *cursor != ' ')
            ++cursor;
        size_t length = size_t(cursor - piece);
        if (*cursor != '\0')
            *cursor++ = '\0';
        if (length != 2 || !is_hex_digit(piece[0]) || !is_hex_digit(piece[1]))
            return -1;
        if (count == PARAM_VALUE_SIZE)
            return -1;
        destination[count++] = uint8_t(hex_digit_value(piece[0]) << 4 | hex_digit_value(piece[1]));
    }
}

int param_count_lines(std::FILE* file) {
    long lines = 0;
    int last = EOF;
    for (int c; (c = std::fgetc(file)) != EOF; last = c) {
        if (c == '\n' && lines < INT_MAX)
            ++lines;
    }
    if (last != '\n' && lines < INT_MAX)
        ++lines;
    return int(lines);
}

int param_read_lines(std::FILE* file, int limit, ParameterLine* lines) {
    int accepted = 0;
    char piece[PARAM_PIECE + 1];
    while (accepted < limit) {
        if (std::feof(file))
            break;
        if (std::fgets(piece, sizeof piece, file) == nullptr)
            break;
        ParameterLine& line = lines[accepted];
        line = ParameterLine{};
        if (split_piece(piece, line)) {
            ++accepted;
        } else {
            line = ParameterLine{};
        }
    }
    return accepted;
}

ParamDrop param_parse_line(ParameterLine& line, ParameterEntry& entry) {
    // Both fields are NUL-terminated within their 128 characters whatever
    // the caller put in them.
    line.name[sizeof line.name - 1] = '\0';
    line.value[sizeof line.value - 1] = '\0';
    entry = ParameterEntry{};
    const ParameterDef* def = param_find_by_name(line.name);
    if (def == nullptr)
        return ParamDrop::kUnknownName;
    if (!param_type_usable(def->type))
        return ParamDrop::kObsolete;
    if (!parse_value(def->type, line.value, entry)) {
        entry = ParameterEntry{};
        return ParamDrop::kBadValue;
    }
    entry.id = def->id;
    entry.type = def->type;
    return ParamDrop::kKept;
}

int param_parse_entries(ParameterLine* lines, int count, ParameterEntry* entries) {
    int written = 0;
    for (int i = 0; i < count; ++i) {
        if (param_parse_line(lines[i], entries[written]) == ParamDrop::kKept)
            ++written;
    }
    return written;
}

int param_load_file(const char* path, std::vector<ParameterEntry>& entries) {
    entries.clear();
    if (path == nullptr)
        return -1;
    File file(open_regular_file(path, "r"));
    if (!file)
        return -1;
    int limit = param_count_lines(file.get());
    std::rewind(file.get());
    if (limit > PARAM_LINE_CAP)
        limit = PARAM_LINE_CAP;

    std::vector<ParameterEntry> parsed;
    int count = 0;
    {
        std::vector<ParameterLine> lines;
        if (!records_alloc(lines, size_t(limit)) || !records_alloc(parsed, size_t(limit))) {
            return -1;
        }
        int read = param_read_lines(file.get(), limit, lines.data());
        count = param_parse_entries(lines.data(), read, parsed.data());
    }  // the lines go as soon as they are parsed
    if (count == 0)
        return -1;
    parsed.resize(size_t(count));
    entries = std::move(parsed);
    return 0;
}

}  // namespace vtx
