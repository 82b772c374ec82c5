// check: offline checks of update files. The kind of each file comes from
// its content (signatures first), unless --type names it.
#include <cstdio>
#include <memory>
#include <vector>

#include "companion/bridge_main.h"
#include "companion/check.h"
#include "companion/commands.h"
#include "params/encoder.h"
#include "params/parser.h"
#include "vtx/bytes.h"
#include "vtx/file.h"

namespace vtx::companion {

namespace {

// Enough of a file to tell its kind.
constexpr size_t SNIFF_SIZE = 65536;

const char* const KINDS[] = {"firmware", "rescue", "image", "led", "params", "area"};

bool known_kind(const std::string& kind) {
    for (const char* name : KINDS) {
        if (kind == name)
            return true;
    }
    return false;
}

// The header of an image whose signature is damaged still names a layout the
// download could walk, and a payload inside the file.
bool looks_like_image(const std::vector<uint8_t>& head, uint64_t size) {
    if (head.size() < IMAGE_HEADER_SIZE || size < IMAGE_LEAD_BLOCK)
        return false;
    ImageHeader h = image_header_from_bytes(head.data());
    return h.lead_offset == 0 && h.lead_length >= IMAGE_LEAD_BLOCK &&
           h.lead_length % FLASH_UNIT == 0 && h.body_offset == h.lead_length &&
           uint64_t(h.payload_offset) + h.payload_length <= size;
}

bool has_nul(const std::vector<uint8_t>& head) {
    for (uint8_t byte : head) {
        if (byte == 0)
            return true;
    }
    return false;
}

std::string detect_kind(const std::string& path) {
    uint64_t size = 0;
    File file(open_regular_file(path.c_str(), "rb", &size));
    if (!file)
        return "unknown";
    std::vector<uint8_t> head(SNIFF_SIZE);
    head.resize(std::fread(head.data(), 1, head.size(), file.get()));
    uint32_t signature = head.size() >= 4 ? load_le32(head.data()) : 0;
    if (signature == MODE_RESCUE)
        return "rescue";
    if (signature == MODE_MAIN)
        return head.size() > 4 && head[4] == IMAGE_TYPE_RESCUE_IN_MAIN ? "rescue" : "firmware";
    if (signature == LED_SIGNATURE)
        return "led";
    if (looks_like_image(head, size))
        return "image";
    if ((size == PARAMETER_AREA_SIZE || size == HEADER_BLOCK_SIZE) && has_nul(head))
        return "area";
    if (!has_nul(head))
        return "params";
    // The update tool's loader reads past NUL bytes; a file it takes lines
    // from is a parameter file, whatever else it holds.
    std::vector<ParameterEntry> entries;
    return param_load_file(path.c_str(), entries) == 0 ? "params" : "unknown";
}

FileReport check_file(const std::string& path, const std::string& forced) {
    FileReport report;
    report.path = path;
    report.kind_forced = !forced.empty();
    if (Finding failure; not_a_regular_file(path, failure)) {
        report.kind = "unknown";
        report.problem(failure.code, failure.message);
        return report;
    }
    report.kind = forced.empty() ? detect_kind(path) : forced;
    const std::string& kind = report.kind;
    if (kind == "firmware" || kind == "rescue")
        check_image(report, forced.empty() ? "" : kind);
    else if (kind == "image")
        check_image(report, "");
    else if (kind == "led")
        check_led(report);
    else if (kind == "params")
        check_params(report);
    else if (kind == "area")
        check_area(report);
    else if (uint64_t size = 0; !file_size_of(path, size))
        report.problem("cannot-open", "cannot open the file");
    else
        report.problem("unknown-kind",
                       "neither an image, an LED image, a parameter file nor a "
                       "parameter area; --type names the kind");
    return report;
}

}  // namespace

int run_check(const Output& output) {
    const Invocation& invocation = *output.invocation;
    if (!invocation.type.empty() && !known_kind(invocation.type))
        return finish_early(
            output, EXIT_USAGE,
            "--type takes firmware, rescue, image, led, params or area, not " + invocation.type);
    int failed = 0;
    std::vector<FileReport> reports;
    for (const std::string& path : invocation.operands) {
        reports.push_back(check_file(path, invocation.type));
        failed += !reports.back().passed(invocation.strict);
    }
    int code = failed > 0 ? EXIT_FAILED : EXIT_DONE;
    std::string message = std::to_string(failed) + " of " + std::to_string(reports.size()) +
                          " file" + (reports.size() == 1 ? "" : "s") + " failed";
    if (!output.json()) {
        for (const FileReport& report : reports)
            print_report(output.out, report, invocation.strict);
        if (failed > 0)
            say_error(output, message);
        return code;
    }
    JsonWriter json;
    json_begin(json, output);
    json.field("strict", invocation.strict);
    json.field("passed", int(reports.size()) - failed);
    json.field("failed", failed);
    json.key("files");
    json.begin_array();
    for (const FileReport& report : reports)
        write_report(json, report, invocation.strict);
    json.end_array();
    return json_end(json, output, code, message);
}

}  // namespace vtx::companion
