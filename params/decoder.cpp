#include "params/decoder.h"

#include <new>

#include "params/table.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

// Bytes the area has left from `offset` on, never negative.
uint32_t left(uint32_t size, uint32_t offset) {
    return offset < size ? size - offset : 0;
}

uint64_t load_number(const uint8_t* data, uint32_t width) {
    uint64_t value = 0;
    for (uint32_t i = 0; i < width; ++i)
        value |= uint64_t(data[i]) << (8 * i);
    return value;
}

// Each decoder reads only `available` bytes of data after the id byte and
// gives the record's data length, or 0 when the record cannot be decoded.
uint32_t decode_number(const uint8_t* data, uint32_t available, const ParameterDef& def,
                       ParameterEntry& entry) {
    if (available < def.size)
        return 0;
    store_le64(entry.value, load_number(data, def.size));
    return def.size;
}

uint32_t decode_sized_number(const uint8_t* data, uint32_t available, const ParameterDef& def,
                             ParameterEntry& entry) {
    if (available < def.size + 1u || data[0] != def.size)
        return 0;
    store_le64(entry.value, load_number(data + 1, def.size));
    return def.size + 1u;
}

uint32_t copy_bytes(const uint8_t* data, uint32_t count, ParameterEntry& entry) {
    for (uint32_t i = 0; i < count; ++i)
        entry.value[i] = data[i];
    entry.length = uint8_t(count);
    return count;
}

uint32_t decode_fixed_bytes(const uint8_t* data, uint32_t available, const ParameterDef& def,
                            ParameterEntry& entry) {
    if (available < def.size)
        return 0;
    return copy_bytes(data, def.size, entry);
}

// The first byte counts the bytes that follow it; the list is all of them.
uint32_t decode_var_bytes(const uint8_t* data, uint32_t available, ParameterEntry& entry) {
    if (available < 1)
        return 0;
    uint32_t count = data[0] + 1u;
    if (count > available || count > uint32_t(PARAM_VALUE_SIZE))
        return 0;
    return copy_bytes(data, count, entry);
}

// Only descriptors the encoder writes: an even length of 2 to size + 2, type
// 3, and characters whose high byte is 0. A character 0 would end the text.
uint32_t decode_usb_string(const uint8_t* data, uint32_t available, const ParameterDef& def,
                           ParameterEntry& entry) {
    if (available < 2)
        return 0;
    uint32_t length = data[0];
    if (length < 2 || length % 2 != 0 || length > def.size + 2u || length > available)
        return 0;
    if (data[1] != 3)
        return 0;
    uint32_t characters = (length - 2) / 2;
    for (uint32_t i = 0; i < characters; ++i) {
        uint8_t low = data[2 + 2 * i];
        if (low == 0 || data[3 + 2 * i] != 0)
            return 0;
        entry.value[i] = low;
    }
    entry.length = uint8_t(characters);
    return length;
}

// The encoder pads with spaces, so trailing spaces are dropped: the text
// without them encodes to the same field.
uint32_t decode_scsi_string(const uint8_t* data, uint32_t available, const ParameterDef& def,
                            ParameterEntry& entry) {
    if (available < def.size)
        return 0;
    uint32_t length = def.size;
    while (length > 0 && data[length - 1] == ' ')
        --length;
    for (uint32_t i = 0; i < length; ++i) {
        if (data[i] == 0)
            return 0;
        entry.value[i] = data[i];
    }
    entry.length = uint8_t(length);
    return def.size;
}

uint32_t decode_data(const uint8_t* data, uint32_t available, const ParameterDef& def,
                     ParameterEntry& entry) {
    switch (def.type) {
        case PARAM_NUMBER:
            return decode_number(data, available, def, entry);
        case PARAM_BYTES_FIXED:
            return decode_fixed_bytes(data, available, def, entry);
        case PARAM_BYTES_VAR:
            return decode_var_bytes(data, available, entry);
        case PARAM_USB_STRING:
            return decode_usb_string(data, available, def, entry);
        case PARAM_SCSI_STRING:
            return decode_scsi_string(data, available, def, entry);
        case PARAM_SIZED_NUMBER:
            return decode_sized_number(data, available, def, entry);
        default:
            return 0;
    }
}

// A character the loader would cut the value at or lose: the quote ends the
// text, ";" and the line ends end the value, "=" splits it, NUL ends the
// C string, and 0x1A ends a text file on Windows.
bool text_can_carry(char c) {
    return c != '"' && c != ';' && c != '=' && c != '\n' && c != '\r' && c != '\0' && c != '\x1A';
}

void append_hex(std::string& out, uint64_t value, uint32_t digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (uint32_t i = digits; i > 0; --i)
        out += kDigits[(value >> (4 * (i - 1))) & 15];
}

bool format_value(const ParameterEntry& entry, const ParameterDef& def, std::string& out) {
    switch (def.type) {
        case PARAM_NUMBER:
        case PARAM_SIZED_NUMBER:
            // The parameter's full width, so the file shows what is stored.
            out += "0x";
            append_hex(out, load_le64(entry.value), 2 * def.size);
            return true;
        case PARAM_BYTES_FIXED:
        case PARAM_BYTES_VAR: {
            uint32_t count = entry.length < PARAM_VALUE_SIZE ? entry.length : PARAM_VALUE_SIZE;
            for (uint32_t i = 0; i < count; ++i) {
                if (i > 0)
                    out += ' ';
                append_hex(out, entry.value[i], 2);
            }
            return count > 0;
        }
        case PARAM_USB_STRING:
        case PARAM_SCSI_STRING:
            out += '"';
            for (int i = 0; i < PARAM_VALUE_SIZE - 1 && entry.value[i] != 0; ++i) {
                char c = char(entry.value[i]);
                if (!text_can_carry(c))
                    return false;
                out += c;
            }
            out += '"';
            return true;
        default:
            return false;
    }
}

}  // namespace

int param_format_entry(const ParameterEntry& entry, std::string& line) {
    line.clear();
    const ParameterDef* def = param_find_usable(entry.id);
    if (def == nullptr)
        return -1;
    std::string text = def->name;
    text += " = ";
    if (!format_value(entry, *def, text))
        return -1;
    // A longer line would be read as two pieces, the second one lost.
    if (text.size() > size_t(PARAM_PIECE))
        return -1;
    line = std::move(text);
    return 0;
}

std::string param_format_entries(const std::vector<ParameterEntry>& entries) {
    std::string text;
    std::string line;
    for (const ParameterEntry& entry : entries) {
        if (param_format_entry(entry, line) != 0)
            continue;
        text += line;
        text += '\n';
    }
    return text;
}

int param_decode_area(const uint8_t* area, uint32_t size, std::vector<ParameterEntry>& entries,
                      uint32_t* stop_offset) {
    entries.clear();
    uint32_t position = 0;
    if (stop_offset != nullptr)
        *stop_offset = position;
    try {
        // At most a file's worth of entries, so pushing never allocates.
        entries.reserve(size_t(PARAM_LINE_CAP));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::string line;
    int result = 0;
    while (position < size) {
        const ParameterDef* def = param_find_usable(area[position]);
        if (def == nullptr)
            break;  // the end of the list
        // The loader reads no more than 200 lines of a file.
        if (entries.size() == size_t(PARAM_LINE_CAP)) {
            result = -1;
            break;
        }
        ParameterEntry entry;
        entry.id = def->id;
        entry.type = def->type;
        uint32_t length = decode_data(area + position + 1, left(size, position + 1), *def, entry);
        if (length == 0 || param_format_entry(entry, line) != 0) {
            result = -1;
            break;
        }
        entries.push_back(entry);
        position += 1 + length;
    }
    if (stop_offset != nullptr)
        *stop_offset = position;
    return result;
}

}  // namespace vtx
