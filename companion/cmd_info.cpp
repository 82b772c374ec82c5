// info: what one bridge says about itself. Read commands only; the trace of
// a run holds no 0xE3 command.
#include <string>

#include "companion/bridge_main.h"
#include "companion/commands.h"
#include "companion/probe.h"
#include "companion/text.h"
#include "update/image.h"

namespace vtx::companion {

namespace {

const char* family_models(int family) {
    return family == 0 ? "VTX4500" : "VTX4600, VTX4700";
}

const char* mode_name(uint32_t mode) {
    if (mode == MODE_MAIN)
        return "main";
    if (mode == MODE_RESCUE)
        return "rescue";
    return "other";
}

const char* mode_text(uint32_t mode) {
    if (mode == MODE_MAIN)
        return "main firmware";
    if (mode == MODE_RESCUE)
        return "rescue firmware";
    return "neither main nor rescue firmware (boot loader, or no answer)";
}

// The revision the image check uses: a register that cannot be read counts
// as revision 0, as it does in the updater.
uint32_t chip_rev_of(const BridgeFacts& facts) {
    return facts.chip_rev_register.ok() ? facts.chip_rev_register.value >> 16 : 0;
}

std::string failed(int result) {
    return "not read (result " + std::to_string(result) + ")";
}

std::string chip_line(const BridgeFacts& facts) {
    std::string line =
        "family " + std::to_string(facts.family) + " (" + family_models(facts.family) + "), id ";
    line += facts.chip_id.ok() ? hex32(facts.chip_id.value) : failed(facts.chip_id.result);
    line += ", revision ";
    if (facts.chip_rev_register.ok())
        line += std::to_string(chip_rev_of(facts)) + " (register " +
                hex32(facts.chip_rev_register.value) + ")";
    else
        line += failed(facts.chip_rev_register.result);
    return line;
}

std::string images_line(const BridgeFacts& facts) {
    if (!facts.chip_id.ok())
        return "unknown: the chip id was not read";
    int variant = fw_expected_variant(facts.chip_id.value, chip_rev_of(facts));
    if (variant < 0)
        return "none: no image fits chip id " + hex32(facts.chip_id.value);
    return "variant " + std::to_string(variant) +
           (fw_takes_rescue_format(facts.chip_id.value)
                ? "; rescue image in rescue format"
                : "; rescue image in main format, marked 0xFE");
}

std::string firmware_line(const BridgeFacts& facts) {
    if (!facts.version.ok())
        return failed(facts.version.result);
    const FirmwareVersion& v = facts.version.value;
    std::string date = iso_date(v.build_date);
    return version_text(v) + ", built " + (date.empty() ? std::to_string(v.build_date) : date);
}

void print_facts(const Output& output, const BridgeFacts& facts) {
    auto row = [&](const char* label, const std::string& value) {
        say(output, "%-10s  %s\n", label, value.c_str());
    };
    row("Bridge", printable(facts.path));
    row("Device", display_text(facts.vendor.value + facts.product.value) + ", revision " +
                      display_text(facts.revision.value) + ", model " +
                      display_text(fixed_text(facts.model.value.data(), facts.model.value.size())));
    row("Chip", chip_line(facts));
    row("Images", images_line(facts));
    row("Firmware", firmware_line(facts));
    row("Run mode", mode_text(facts.mode));
    row("Identity",
        facts.identity.ok() ? hex32(facts.identity.value) : failed(facts.identity.result));
    row("Transfer", facts.max_transfer.ok()
                        ? std::to_string(facts.max_transfer.value) + " bytes per command"
                        : failed(facts.max_transfer.result) + "; updates use 4096-byte chunks");
    row("Ready", facts.ready_result == 0
                     ? std::string("yes")
                     : "no (result " + std::to_string(facts.ready_result) + ")");
}

void write_word(JsonWriter& json, const char* name, const Answer<uint32_t>& answer) {
    json.key(name);
    json.begin_object();
    json.field("result", answer.result);
    if (answer.ok()) {
        json.field("value", answer.value);
        json.field("hex", hex32(answer.value));
    }
    json.end_object();
}

void write_inquiry(JsonWriter& json, const BridgeFacts& facts) {
    json.key("inquiry");
    json.begin_object();
    json.field("result", facts.vendor.result);
    json.field("vendor", facts.vendor.value);
    json.field("product", facts.product.value);
    json.field("revision", facts.revision.value);
    json.field("model", fixed_text(facts.model.value.data(), facts.model.value.size()));
    json.field("device_type", int(facts.device_type));
    json.end_object();
}

void write_chip(JsonWriter& json, const BridgeFacts& facts) {
    json.key("chip");
    json.begin_object();
    json.field("family", facts.family);
    write_word(json, "id", facts.chip_id);
    write_word(json, "revision_register", facts.chip_rev_register);
    json.field("revision", chip_rev_of(facts));
    int variant =
        facts.chip_id.ok() ? fw_expected_variant(facts.chip_id.value, chip_rev_of(facts)) : -1;
    json.field_or_null("expected_variant", variant >= 0, variant);
    json.field_or_null("rescue_format", facts.chip_id.ok(),
                       fw_takes_rescue_format(facts.chip_id.value) ? "rescue" : "main-0xFE");
    json.end_object();
}

void write_firmware(JsonWriter& json, const BridgeFacts& facts) {
    json.key("firmware");
    json.begin_object();
    json.field("result", facts.version.result);
    if (facts.version.ok()) {
        const FirmwareVersion& v = facts.version.value;
        json.field("version", version_text(v));
        json.field("major", v.major);
        json.field("minor", v.minor);
        json.field("patch", v.patch);
        json.field("spare", v.spare);
        json.field("build_date", v.build_date);
        json.field("build_date_iso", iso_date(v.build_date));
    }
    json.end_object();
}

void write_facts(JsonWriter& json, const BridgeFacts& facts) {
    json.key("bridge");
    json.begin_object();
    json.field("path", facts.path);
    write_inquiry(json, facts);
    write_chip(json, facts);
    write_firmware(json, facts);
    json.key("run_mode");
    json.begin_object();
    json.field("name", mode_name(facts.mode));
    json.field("value", facts.mode);
    json.end_object();
    write_word(json, "identity", facts.identity);
    json.key("max_transfer");
    json.begin_object();
    json.field("result", facts.max_transfer.result);
    if (facts.max_transfer.ok())
        json.field("bytes", facts.max_transfer.value);
    json.end_object();
    json.key("ready");
    json.begin_object();
    json.field("result", facts.ready_result);
    json.field("answers", facts.ready_result == 0);
    json.end_object();
    json.end_object();
}

}  // namespace

std::string open_failure_message(const std::string& path, OpenOutcome outcome,
                                 OpenedBridge& bridge) {
    if (outcome == OpenOutcome::kCannotOpen)
        return "cannot open " + printable(path) + " (error " + std::to_string(bridge.open_error) +
               ")";
    BridgeFacts facts;
    read_inquiry_fields(bridge.handle.get(), facts);
    std::string what = "a drive that does not answer INQUIRY";
    if (facts.vendor.ok()) {
        what.assign(1, '"');
        what += display_text(facts.vendor.value + facts.product.value);
        what += '"';
    }
    return printable(path) + " is " + what + ", not a supported bridge";
}

int run_info(const Output& output) {
    std::string path;
    OpenedBridge bridge;
    if (int code = open_target(output, path, bridge); code != EXIT_DONE)
        return code;

    BridgeFacts facts;
    facts.path = path;
    gather_facts(bridge, facts);
    if (!output.json()) {
        print_facts(output, facts);
        return EXIT_DONE;
    }
    JsonWriter json;
    json_begin(json, output);
    write_facts(json, facts);
    return json_end(json, output, EXIT_DONE, "");
}

}  // namespace vtx::companion
