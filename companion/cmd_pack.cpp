// pack-params: the 2048-byte area a parameter file encodes to, as the update
// tool would program it.
#include <vector>

#include "companion/bridge_main.h"
#include "companion/check.h"
#include "companion/commands.h"
#include "companion/text.h"
#include "params/encoder.h"
#include "tools/outfile/replace_file.h"

namespace vtx::companion {

namespace {

// 0 with the area, or the reason the update tool would refuse the file.
int pack(const std::string& cfg, std::vector<ParameterEntry>& entries, std::vector<uint8_t>& area,
         std::string& message) {
    // The loader decides; the walk of `check` only explains.
    if (param_load_file(cfg.c_str(), entries) != 0) {
        message =
            "not one line of " + printable(cfg) + " sets a parameter: vtx_fwupdate refuses it";
        return EXIT_FAILED;
    }
    uint32_t size = param_encoded_size(entries.data(), int(entries.size()));
    if (!param_records_fit(size) ||
        param_pack_area(entries.data(), int(entries.size()), area.data()) != 0) {
        message = "the parameters need " + std::to_string(size) + " bytes; the area holds " +
                  std::to_string(PARAMETER_RECORDS_MAX) + " and the 0 after them";
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

}  // namespace

int run_pack_params(const Output& output) {
    const std::string& cfg = output.invocation->operands[0];
    const std::string& out = output.invocation->operands[1];
    ParamFacts facts;
    Finding failure;
    if (!walk_parameter_file(cfg, facts, failure))
        return finish_early(output, EXIT_FAILED, printable(cfg) + ": " + failure.message);
    std::vector<ParameterEntry> entries;
    std::vector<uint8_t> area(PARAMETER_AREA_SIZE, 0);
    std::string message;
    if (int code = pack(cfg, entries, area, message); code != EXIT_DONE)
        return finish_early(output, code, message);
    // The area replaces `out` whole, and never the parameter file it comes from.
    std::string reason;
    if (!outfile::replace_file_apart_from(out, cfg, area.data(), area.size(), reason))
        return finish_early(output, EXIT_FAILED, "cannot write " + printable(out) + ": " + reason);

    uint32_t size = param_encoded_size(entries.data(), int(entries.size()));
    int dropped = dropped_lines(facts);
    if (!output.json()) {
        say(output, "%s: %u parameters, %u of %u bytes, written to %s\n", printable(cfg).c_str(),
            unsigned(entries.size()), unsigned(size), unsigned(PARAMETER_AREA_SIZE),
            printable(out).c_str());
        if (dropped > 0)
            say(output, "%d line%s dropped: vtx_bridge check %s says why\n", dropped,
                dropped == 1 ? "" : "s", printable(cfg).c_str());
        return EXIT_DONE;
    }
    JsonWriter json;
    json_begin(json, output);
    json.field("input", cfg);
    json.field("output", out);
    json.field("entries", int(entries.size()));
    json.field("encoded_size", size);
    json.field("dropped_lines", dropped);
    return json_end(json, output, EXIT_DONE, "");
}

}  // namespace vtx::companion
