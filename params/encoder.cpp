#include "params/encoder.h"

#include <cstring>

#include "params/table.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

// The longest text a string entry can hold; anything in the value field past
// it is not text.
constexpr uint32_t TEXT_LIMIT = PARAM_VALUE_SIZE - 1;

// The entry's text, NUL-terminated even when the value field is not.
struct EntryText {
    char text[PARAM_VALUE_SIZE] = {};
    uint32_t length = 0;

    explicit EntryText(const ParameterEntry& entry) {
        while (length < TEXT_LIMIT && entry.value[length] != 0) {
            text[length] = char(entry.value[length]);
            ++length;
        }
    }
};

uint32_t usb_descriptor_length(uint32_t characters, uint32_t size) {
    uint32_t text_bytes = 2 * characters;
    return 2 + (text_bytes < size ? text_bytes : size);
}

uint32_t byte_list_length(const ParameterEntry& entry) {
    return entry.length < PARAM_VALUE_SIZE ? entry.length : PARAM_VALUE_SIZE;
}

// Bytes of the record after its id byte, by the table's type for the id.
uint32_t data_length(const ParameterEntry& entry, const ParameterDef& def) {
    switch (def.type) {
        case PARAM_BYTES_VAR:
            return byte_list_length(entry);
        case PARAM_USB_STRING:
            return usb_descriptor_length(EntryText(entry).length, def.size);
        case PARAM_SIZED_NUMBER:
            return def.size + 1u;
        default:  // numbers, fixed byte lists, SCSI strings
            return def.size;
    }
}

void store_number(uint8_t* out, uint64_t value, uint32_t width) {
    for (uint32_t i = 0; i < width; ++i)
        out[i] = uint8_t(value >> (8 * i));
}

void write_data(const ParameterEntry& entry, const ParameterDef& def, uint8_t* out) {
    switch (def.type) {
        case PARAM_NUMBER:
            store_number(out, load_le64(entry.value), def.size);
            break;
        case PARAM_BYTES_FIXED:
        case PARAM_BYTES_VAR:
            // A fixed list is the parsed bytes with the zeros behind them.
            for (uint32_t i = 0; i < data_length(entry, def); ++i)
                out[i] = entry.value[i];
            break;
        case PARAM_USB_STRING: {
            // Built aside: the descriptor clears `size` bytes, more than a
            // short text's record, and the record may sit at the area's end.
            uint8_t descriptor[2 + 255] = {};
            int length = param_make_usb_string(EntryText(entry).text, descriptor, def.size);
            for (int i = 0; i < length; ++i)
                out[i] = descriptor[i];
            break;
        }
        case PARAM_SCSI_STRING: {
            EntryText text(entry);
            for (uint32_t i = 0; i < def.size; ++i) {
                out[i] = i < text.length ? uint8_t(text.text[i]) : uint8_t(' ');
            }
            break;
        }
        case PARAM_SIZED_NUMBER:
            out[0] = def.size;
            store_number(out + 1, load_le64(entry.value), def.size);
            break;
        default:
            break;
    }
}

}  // namespace

bool param_records_fit(uint32_t encoded_size) {
    return encoded_size <= PARAMETER_RECORDS_MAX;
}

uint32_t param_encoded_size(const ParameterEntry* entries, int count) {
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
        const ParameterDef* def = param_find_usable(entries[i].id);
        if (def != nullptr)
            total += 1 + data_length(entries[i], *def);
    }
    return total > UINT32_MAX ? UINT32_MAX : uint32_t(total);
}

int param_pack_area(const ParameterEntry* entries, int count, uint8_t* area) {
    uint32_t position = 0;
    for (int i = 0; i < count; ++i) {
        const ParameterDef* def = param_find_usable(entries[i].id);
        if (def == nullptr)
            continue;
        uint32_t record = 1 + data_length(entries[i], *def);
        // Records are whole and in order, or not at all: the bridge would
        // read a cut record as garbage.
        if (record > PARAMETER_RECORDS_MAX - position)
            return -1;
        area[position] = def->id;
        write_data(entries[i], *def, area + position + 1);
        position += record;
    }
    return 0;
}

int param_make_usb_string(const char* text, uint8_t* destination, int size) {
    // The descriptor's length byte must hold size + 2.
    if (size < 0)
        size = 0;
    if (size > 252)
        size = 252;
    size_t characters = std::strlen(text);
    int text_bytes = characters < size_t(size) ? int(2 * characters) : size;
    if (text_bytes > size)
        text_bytes = size;
    for (int i = 0; i < size; ++i)
        destination[i] = 0;
    destination[0] = uint8_t(text_bytes + 2);
    destination[1] = 3;
    for (int i = 0; i < text_bytes / 2; ++i) {
        destination[2 + 2 * i] = uint8_t(text[i]);
        destination[3 + 2 * i] = 0;
    }
    return text_bytes + 2;
}

}  // namespace vtx
