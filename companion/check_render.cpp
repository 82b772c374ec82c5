// The reports of `check`, for people and as JSON.
#include <cstdio>

#include "companion/check.h"
#include "companion/text.h"
#include "params/encoder.h"

namespace vtx::companion {

namespace {

const char* kind_label(const std::string& kind) {
    if (kind == "firmware")
        return "firmware image";
    if (kind == "rescue")
        return "rescue image";
    if (kind == "led")
        return "LED image";
    if (kind == "params")
        return "parameter file";
    if (kind == "area")
        return "parameter area";
    if (kind == "image")
        return "image";
    return "unrecognised file";
}

const char* revisions_text(const char* revisions) {
    std::string r = revisions;
    if (r == "4-or-10")
        return " (revision 4 or 10)";
    if (r == "other")
        return " (revision other than 4 and 10)";
    return "";
}

void print_image(std::FILE* out, const ImageFacts& f) {
    if (!f.has_header)
        return;
    const ImageHeader& h = f.header;
    std::fprintf(out, "  format    %s (signature %s, image type 0x%02X)\n", f.format,
                 hex32(h.signature).c_str(), unsigned(h.image_type));
    std::fprintf(out, "  fits      variant %u: %s\n", unsigned(h.chip_variant),
                 f.fits.empty() ? "no chip" : fits_text(f.fits).c_str());
    std::fprintf(out, "  payload   %u bytes at offset %u, CRC-32 %s%s\n",
                 unsigned(h.payload_length), unsigned(h.payload_offset),
                 hex32(h.payload_crc).c_str(),
                 !f.crc_computed          ? " (not computed)"
                 : f.crc == h.payload_crc ? ", matches"
                                          : ", does not match");
    std::fprintf(out, "  layout    lead %u bytes to %s, body from offset %u to %s\n",
                 unsigned(h.lead_length), hex32(h.lead_address).c_str(), unsigned(h.body_offset),
                 hex32(h.body_address).c_str());
    std::string date = iso_date(f.header_version.build_date);
    std::fprintf(out, "  version   %s, built %s (header bytes 64 to 83)",
                 version_text(f.header_version).c_str(),
                 date.empty() ? std::to_string(f.header_version.build_date).c_str() : date.c_str());
    if (f.name_version_found)
        std::fprintf(out, "; file name %s, date %s", f.name_version.c_str(),
                     printable(f.name_date).c_str());
    std::fprintf(out, "\n");
}

void print_led(std::FILE* out, const LedFacts& f) {
    if (!f.has_header || f.header.signature != LED_SIGNATURE)
        return;
    std::fprintf(out, "  size      %s bytes; length_a %u + length_b %u = %s\n",
                 std::to_string(f.size).c_str(), unsigned(f.header.length_a),
                 unsigned(f.header.length_b), std::to_string(f.total).c_str());
    char end[24];
    std::snprintf(end, sizeof end, "0x%08X%08X", unsigned(f.range_end >> 32),
                  unsigned(f.range_end));
    std::fprintf(out, "  flash     %s to %s\n", hex32(f.header.flash_address).c_str(),
                 f.range_end >> 32 ? end : hex32(uint32_t(f.range_end)).c_str());
}

void print_params(std::FILE* out, const ParamFacts& f) {
    std::fprintf(out, "  lines     %u kept, %d dropped; %u of %u bytes when packed\n",
                 unsigned(f.entries.size()), dropped_lines(f), unsigned(f.encoded_size),
                 unsigned(PARAMETER_AREA_SIZE));
}

void print_area(std::FILE* out, const FileReport& report) {
    if (report.area_bytes.empty())
        return;
    std::string comment = area_comment(report.area_bytes.data(), report.area);
    std::fprintf(out, "  area      %s", comment.c_str() + 2);
    size_t start = 0;
    const std::string& text = report.area.text;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::fprintf(out, "            %s\n", printable(text.substr(start, end - start)).c_str());
        start = end + 1;
    }
}

void print_findings(std::FILE* out, const std::vector<Finding>& findings, const char* label) {
    for (const Finding& finding : findings) {
        std::fprintf(out, "  %s: ", label);
        if (finding.line > 0)
            std::fprintf(out, "line %d: ", finding.line);
        std::fprintf(out, "%s (%s)\n", finding.message.c_str(), finding.code.c_str());
    }
}

void write_findings(JsonWriter& json, const char* name, const std::vector<Finding>& findings) {
    json.key(name);
    json.begin_array();
    for (const Finding& finding : findings) {
        json.begin_object();
        json.field("code", finding.code);
        json.field("message", finding.message);
        if (finding.line > 0)
            json.field("line", finding.line);
        json.end_object();
    }
    json.end_array();
}

void write_fits(JsonWriter& json, const std::vector<ChipFit>& fits) {
    json.key("fits");
    json.begin_array();
    for (const ChipFit& fit : fits) {
        json.begin_object();
        json.field("chip_id", fit.chip_id);
        json.field("chip_id_hex", hex32(fit.chip_id));
        json.field("revisions", fit.revisions);
        json.field("slot", fit.slot);
        json.end_object();
    }
    json.end_array();
}

void write_image_payload(JsonWriter& json, const ImageFacts& f) {
    const ImageHeader& h = f.header;
    json.key("payload");
    json.begin_object();
    json.field("offset", h.payload_offset);
    json.field("length", h.payload_length);
    json.field("crc", h.payload_crc);
    json.field_or_null("crc_computed", f.crc_computed, f.crc);
    json.field("crc_matches", f.crc_computed && f.crc == h.payload_crc);
    json.end_object();
    json.key("layout");
    json.begin_object();
    json.field("lead_offset", h.lead_offset);
    json.field("lead_address", h.lead_address);
    json.field("lead_length", h.lead_length);
    json.field("body_offset", h.body_offset);
    json.field("body_address", h.body_address);
    json.field("fits", f.layout_fits);
    json.end_object();
}

void write_versions(JsonWriter& json, const ImageFacts& f) {
    json.key("header_version");
    json.begin_object();
    json.field("version", version_text(f.header_version));
    json.field("build_date", f.header_version.build_date);
    json.end_object();
    json.key("name_version");
    if (!f.name_version_found) {
        json.null();
        return;
    }
    json.begin_object();
    json.field("version", f.name_version);
    json.field("date", f.name_date);
    json.end_object();
}

void write_image(JsonWriter& json, const ImageFacts& f) {
    json.key("image");
    json.begin_object();
    json.field("size", f.size);
    if (f.has_header) {
        const ImageHeader& h = f.header;
        json.field("signature", h.signature);
        json.field("signature_hex", hex32(h.signature));
        json.field("format", f.format);
        json.field("image_type", uint32_t(h.image_type));
        json.field_or_null("role", f.role[0] != '\0', f.role);
        json.field("chip_variant", uint32_t(h.chip_variant));
        write_image_payload(json, f);
        write_fits(json, f.fits);
        write_versions(json, f);
    }
    json.end_object();
}

void write_led(JsonWriter& json, const LedFacts& f) {
    json.key("led");
    json.begin_object();
    json.field("size", f.size);
    if (f.has_header) {
        json.field("signature_hex", hex32(f.header.signature));
        json.field("flash_address", f.header.flash_address);
        json.field("length_a", f.header.length_a);
        json.field("length_b", f.header.length_b);
        json.field("total", f.total);
        json.field("range_end", f.range_end);
    }
    json.end_object();
}

void write_params(JsonWriter& json, const ParamFacts& f) {
    json.key("params");
    json.begin_object();
    json.field("line_count", f.line_count);
    json.field("line_limit", f.line_limit);
    json.field("kept", int(f.entries.size()));
    json.field("dropped", dropped_lines(f));
    json.field("encoded_size", f.encoded_size);
    json.field("area_size", PARAMETER_AREA_SIZE);
    json.key("lines");
    json.begin_array();
    for (const ParamPiece& piece : f.pieces) {
        if (piece.comment && piece.outcome == ParamDrop::kNotALine)
            continue;
        json.begin_object();
        json.field("line", piece.line);
        json.field("column", piece.column);
        json.field("outcome", param_drop_name(piece.outcome));
        json.field("name", piece.name);
        json.field("value", piece.value);
        json.field("text", piece.text);
        json.end_object();
    }
    json.end_array();
    json.end_object();
}

}  // namespace

int dropped_lines(const ParamFacts& f) {
    int dropped = 0;
    for (const ParamPiece& piece : f.pieces)
        dropped += piece.outcome != ParamDrop::kKept &&
                   !(piece.comment && piece.outcome == ParamDrop::kNotALine);
    return dropped;
}

std::string fits_text(const std::vector<ChipFit>& fits) {
    std::string text;
    for (size_t i = 0; i < fits.size();) {
        size_t j = i;
        while (j + 1 < fits.size() && fits[j + 1].chip_id == fits[j].chip_id + 1 &&
               std::string(fits[j + 1].revisions) == fits[i].revisions &&
               std::string(fits[j + 1].slot) == fits[i].slot)
            ++j;
        if (!text.empty())
            text += "; ";
        text += hex32(fits[i].chip_id);
        if (j > i)
            text += " to " + hex32(fits[j].chip_id);
        text += std::string(revisions_text(fits[i].revisions)) + " as " + fits[i].slot;
        i = j + 1;
    }
    return text;
}

void print_report(std::FILE* out, const FileReport& report, bool strict) {
    const char* verdict = report.passed(strict)     ? "passed"
                          : report.problems.empty() ? "FAILED (warnings, --strict)"
                                                    : "FAILED";
    std::fprintf(out, "%s: %s: %s\n", printable(report.path).c_str(), kind_label(report.kind),
                 verdict);
    if (report.kind == "firmware" || report.kind == "rescue" || report.kind == "image")
        print_image(out, report.image);
    else if (report.kind == "led")
        print_led(out, report.led);
    else if (report.kind == "params")
        print_params(out, report.params);
    else if (report.kind == "area")
        print_area(out, report);
    print_findings(out, report.problems, "problem");
    print_findings(out, report.warnings, "warning");
}

void write_report(JsonWriter& json, const FileReport& report, bool strict) {
    json.begin_object();
    json.field("path", report.path);
    json.field("kind", report.kind);
    json.field("kind_source", report.kind_forced ? "option" : "content");
    json.field("passed", report.passed(strict));
    write_findings(json, "problems", report.problems);
    write_findings(json, "warnings", report.warnings);
    if (report.kind == "firmware" || report.kind == "rescue" || report.kind == "image")
        write_image(json, report.image);
    else if (report.kind == "led")
        write_led(json, report.led);
    else if (report.kind == "params")
        write_params(json, report.params);
    else if (report.kind == "area" && !report.area_bytes.empty()) {
        json.key("area");
        json.begin_object();
        write_area_json(json, report.area_bytes.data(), report.area);
        json.end_object();
    }
    json.end_object();
}

}  // namespace vtx::companion
