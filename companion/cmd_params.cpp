// params: the bridge's parameter area, decoded and printed as parameter-file
// text that vtx_fwupdate takes back. The area is read, never written.
#include <cstdio>
#include <vector>

#include "companion/area.h"
#include "companion/bridge_main.h"
#include "companion/commands.h"
#include "companion/text.h"
#include "params/encoder.h"
#include "params/programming.h"
#include "tools/outfile/replace_file.h"

namespace vtx::companion {

namespace {

int print_text(const Output& output, const std::string& path, const std::vector<uint8_t>& area,
               const AreaReport& report) {
    say(output, "; Parameter area of the bridge at %s, read by vtx_bridge %s.\n",
        printable(path).c_str(), bridge_version());
    say(output, "%s", area_comment(area.data(), report).c_str());
    say(output, "%s", report.text.c_str());
    if (report.result != 0) {
        say_error(output,
                  "the parameter area cannot be decoded: " + area_stop_text(area.data(), report) +
                      "; the " + std::to_string(report.entries.size()) +
                      " records before it are printed");
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

int write_json(const Output& output, const std::string& path, const std::vector<uint8_t>& area,
               const AreaReport& report) {
    JsonWriter json;
    json_begin(json, output);
    json.field("path", path);
    json.field_or_null("raw_file", !output.invocation->raw_path.empty(),
                       output.invocation->raw_path);
    json.key("area");
    json.begin_object();
    write_area_json(json, area.data(), report);
    json.end_object();
    int code = report.result == 0 ? EXIT_DONE : EXIT_FAILED;
    return json_end(json, output, code,
                    "the parameter area cannot be decoded: " + area_stop_text(area.data(), report));
}

}  // namespace

int run_params(const Output& output) {
    std::string path;
    OpenedBridge bridge;
    if (int code = open_target(output, path, bridge); code != EXIT_DONE)
        return code;

    std::vector<uint8_t> area(PARAMETER_AREA_SIZE, 0);
    int result = param_read_area(bridge.handle.get(), area.data(), PARAMETER_AREA_SIZE);
    if (result != 0)
        return finish_early(
            output, EXIT_FAILED,
            "cannot read the parameter area (result " + std::to_string(result) + ")");
    // The raw bytes are saved before decoding, so an area that does not
    // decode can still be looked at.
    const std::string& raw = output.invocation->raw_path;
    std::string reason;
    if (!raw.empty() && !outfile::replace_file(raw, area.data(), area.size(), reason))
        return finish_early(output, EXIT_FAILED, "cannot write " + printable(raw) + ": " + reason);

    AreaReport report = decode_area(area.data());
    if (output.json())
        return write_json(output, path, area, report);
    return print_text(output, path, area, report);
}

}  // namespace vtx::companion
