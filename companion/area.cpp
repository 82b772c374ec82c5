#include "companion/area.h"

#include <algorithm>

#include "companion/text.h"
#include "params/decoder.h"
#include "params/encoder.h"
#include "params/table.h"
#include "vtx/bytes.h"

namespace vtx::companion {

namespace {

// Bytes of the area shown after a record that cannot be decoded.
constexpr uint32_t STOP_CONTEXT = 16;

uint32_t offset_of(const std::vector<ParameterEntry>& entries, size_t index) {
    return param_encoded_size(entries.data(), int(index));
}

bool packs_back_same(const uint8_t* area, const std::vector<ParameterEntry>& entries) {
    std::vector<uint8_t> packed(PARAMETER_AREA_SIZE, 0);
    if (param_pack_area(entries.data(), int(entries.size()), packed.data()) != 0)
        return false;
    return std::equal(packed.begin(), packed.end(), area);
}

void write_entry_value(JsonWriter& json, const ParameterEntry& entry, const ParameterDef& def) {
    switch (def.type) {
        case PARAM_NUMBER:
        case PARAM_SIZED_NUMBER:
            json.field("number", load_le64(entry.value));
            break;
        case PARAM_BYTES_FIXED:
        case PARAM_BYTES_VAR:
            json.field("bytes",
                       hex_bytes(entry.value, std::min<size_t>(entry.length, PARAM_VALUE_SIZE)));
            break;
        default:
            json.field("text", fixed_text(entry.value, PARAM_VALUE_SIZE));
            break;
    }
}

void write_entries(JsonWriter& json, const std::vector<ParameterEntry>& entries) {
    json.key("entries");
    json.begin_array();
    for (size_t i = 0; i < entries.size(); ++i) {
        const ParameterEntry& entry = entries[i];
        const ParameterDef* def = param_find_usable(entry.id);
        if (def == nullptr)
            continue;
        json.begin_object();
        json.field("offset", offset_of(entries, i));
        json.field("id", int(entry.id));
        json.field("name", def->name);
        json.field("type", param_type_name(def->type));
        write_entry_value(json, entry, *def);
        std::string line;
        param_format_entry(entry, line);
        json.field("line", line);
        json.end_object();
    }
    json.end_array();
}

std::string id_text(uint8_t id) {
    const ParameterDef* def = param_find_by_id(id);
    std::string text = "id " + std::to_string(id);
    if (def != nullptr)
        text += std::string(", ") + def->name;
    return text;
}

}  // namespace

const char* param_type_name(uint8_t type) {
    switch (type) {
        case PARAM_NUMBER:
            return "number";
        case PARAM_BYTES_FIXED:
            return "bytes-fixed";
        case PARAM_BYTES_VAR:
            return "bytes-var";
        case PARAM_USB_STRING:
            return "usb-string";
        case PARAM_SCSI_STRING:
            return "scsi-string";
        case PARAM_SIZED_NUMBER:
            return "sized-number";
        default:
            return "obsolete";
    }
}

AreaReport decode_area(const uint8_t* area) {
    AreaReport report;
    report.result =
        param_decode_area(area, PARAMETER_AREA_SIZE, report.entries, &report.stop_offset);
    report.text = param_format_entries(report.entries);
    report.packs_back_same = report.result == 0 && packs_back_same(area, report.entries);
    report.tail_erased =
        std::all_of(area + std::min(report.stop_offset, PARAMETER_AREA_SIZE),
                    area + PARAMETER_AREA_SIZE, [](uint8_t byte) { return byte == 0xFF; });
    return report;
}

std::string area_stop_text(const uint8_t* area, const AreaReport& report) {
    uint32_t at = report.stop_offset;
    if (at >= PARAMETER_AREA_SIZE)
        return "the records fill the area to its end";
    if (report.result == 0)
        return "the list ends at offset " + std::to_string(at) + " (byte " +
               hex_bytes(area + at, 1) + (area[at] == 0xFF ? ", erased flash)" : ")");
    uint32_t shown = std::min(STOP_CONTEXT, PARAMETER_AREA_SIZE - at);
    return "the record at offset " + std::to_string(at) + " (" + id_text(area[at]) +
           ") cannot be decoded: " + hex_bytes(area + at, shown);
}

std::string area_comment(const uint8_t* area, const AreaReport& report) {
    uint32_t used = param_encoded_size(report.entries.data(), int(report.entries.size()));
    std::string text = "; " + std::to_string(report.entries.size()) + " record" +
                       (report.entries.size() == 1 ? "" : "s") + " in " + std::to_string(used) +
                       " of " + std::to_string(PARAMETER_AREA_SIZE) + " bytes; " +
                       area_stop_text(area, report) + ".\n";
    if (report.result == 0 && report.entries.empty())
        text += "; The area sets no parameter: vtx_fwupdate refuses a file without one.\n";
    if (report.result == 0 && !report.packs_back_same && !report.tail_erased)
        text +=
            "; Bytes after the last record are not zero; programming this file writes "
            "zeros there.\n";
    return text;
}

void write_area_json(JsonWriter& json, const uint8_t* area, const AreaReport& report) {
    json.field("decoded", report.result == 0);
    json.field("stop_offset", report.stop_offset);
    const bool stopped_inside = report.stop_offset < PARAMETER_AREA_SIZE;
    json.field_or_null("stop_byte", stopped_inside,
                       stopped_inside ? int(area[report.stop_offset]) : 0);
    json.field("stop_reason", area_stop_text(area, report));
    json.field("encoded_size",
               param_encoded_size(report.entries.data(), int(report.entries.size())));
    json.field("packs_back_same", report.packs_back_same);
    json.field("tail_erased", report.tail_erased);
    write_entries(json, report.entries);
    json.field("text", report.text);
}

}  // namespace vtx::companion
