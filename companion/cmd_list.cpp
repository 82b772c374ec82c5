// list: every bridge discovery admits, with the drive behind it: what the
// scan collects and the updater never shows.
#include <memory>
#include <string>

#include "companion/bridge_main.h"
#include "companion/commands.h"
#include "companion/probe.h"
#include "companion/text.h"
#include "device/discovery.h"
#include "device/platform/platform.h"

namespace vtx::companion {

namespace {

struct ListFree {
    void operator()(DeviceEntry* head) const { dev_free_list(head); }
};
using DeviceList = std::unique_ptr<DeviceEntry, ListFree>;

// ATA security status word (IDENTIFY word 128).
struct SecurityBits {
    bool supported, enabled, locked, frozen, count_expired, enhanced_erase, master_maximum;
};

SecurityBits security_bits(uint16_t word) {
    return {(word & 0x0001) != 0, (word & 0x0002) != 0, (word & 0x0004) != 0, (word & 0x0008) != 0,
            (word & 0x0010) != 0, (word & 0x0020) != 0, (word & 0x0100) != 0};
}

// A zero entry field is all the scan leaves when the drive did not answer.
bool drive_collected(const DeviceEntry& entry) {
    for (uint8_t byte : entry.info_block) {
        if (byte != 0)
            return true;
    }
    for (uint16_t value : entry.security) {
        if (value != 0)
            return true;
    }
    return entry.serial[0] != 0 || entry.firmware[0] != 0 || entry.model[0] != 0;
}

std::string security_summary(const uint16_t* security) {
    SecurityBits bits = security_bits(security[0]);
    if (!bits.supported)
        return "not supported";
    std::string text = "supported";
    text += bits.enabled ? ", enabled" : ", disabled";
    text += bits.locked ? ", locked" : ", not locked";
    text += bits.frozen ? ", frozen" : ", not frozen";
    if (bits.count_expired)
        text += ", password attempts used up";
    text += "; erase " + std::to_string(security[2]) + " min, enhanced erase " +
            std::to_string(security[3]) + " min";
    return text;
}

void print_entry(const Output& output, const DeviceEntry& entry) {
    say(output, "%s  %s\n", printable(entry.path).c_str(), display_text(entry.name).c_str());
    if (!drive_collected(entry)) {
        say(output, "    drive     not collected: no drive answered behind the bridge\n");
        return;
    }
    say(output, "    drive     %s, serial %s, firmware %s\n",
        display_text(fixed_text(entry.model, sizeof entry.model)).c_str(),
        display_text(fixed_text(entry.serial, sizeof entry.serial)).c_str(),
        display_text(fixed_text(entry.firmware, sizeof entry.firmware)).c_str());
    say(output, "    security  %s\n", security_summary(entry.security).c_str());
}

void write_security(JsonWriter& json, const uint16_t* security) {
    SecurityBits bits = security_bits(security[0]);
    json.key("security");
    json.begin_object();
    json.field("status_word", uint32_t(security[0]));
    json.field("master_password_id", uint32_t(security[1]));
    json.field("erase_minutes", uint32_t(security[2]));
    json.field("enhanced_erase_minutes", uint32_t(security[3]));
    json.field("supported", bits.supported);
    json.field("enabled", bits.enabled);
    json.field("locked", bits.locked);
    json.field("frozen", bits.frozen);
    json.field("count_expired", bits.count_expired);
    json.field("enhanced_erase_supported", bits.enhanced_erase);
    json.field("master_password_maximum", bits.master_maximum);
    json.end_object();
}

void write_entry(JsonWriter& json, const DeviceEntry& entry) {
    json.begin_object();
    json.field("path", entry.path);
    json.field("name", entry.name);
    json.key("drive");
    if (!drive_collected(entry)) {
        json.null();
    } else {
        json.begin_object();
        json.field("serial", fixed_text(entry.serial, sizeof entry.serial));
        json.field("model", fixed_text(entry.model, sizeof entry.model));
        json.field("firmware", fixed_text(entry.firmware, sizeof entry.firmware));
        write_security(json, entry.security);
        json.field("info_block", hex_bytes(entry.info_block, sizeof entry.info_block));
        json.end_object();
    }
    json.end_object();
}

}  // namespace

std::string none_found_message() {
    std::string message = "no bridge found";
    if (!platform().is_elevated())
        message += " (not running with administrator rights: drives may not open)";
    return message;
}

int run_list(const Output& output) {
    DeviceList list(dev_scan());
    int count = 0;
    for (const DeviceEntry* entry = list.get(); entry; entry = entry->next)
        ++count;
    int code = count > 0 ? EXIT_DONE : EXIT_NONE_FOUND;
    std::string message = count > 0 ? "" : none_found_message();

    if (output.json()) {
        JsonWriter json;
        json_begin(json, output);
        json.field("count", count);
        json.key("bridges");
        json.begin_array();
        for (const DeviceEntry* entry = list.get(); entry; entry = entry->next)
            write_entry(json, *entry);
        json.end_array();
        return json_end(json, output, code, message);
    }
    for (const DeviceEntry* entry = list.get(); entry; entry = entry->next)
        print_entry(output, *entry);
    if (count == 0)
        say_error(output, message);
    else
        say(output, "%d bridge%s found\n", count, count == 1 ? "" : "s");
    return code;
}

int open_target(const Output& output, std::string& path, OpenedBridge& bridge) {
    const std::vector<std::string>& operands = output.invocation->operands;
    path = !operands.empty() && !operands[0].empty() ? operands[0] : first_bridge_path();
    if (path.empty())
        return finish_early(output, EXIT_NONE_FOUND, none_found_message());
    OpenOutcome outcome = open_bridge(path, bridge);
    if (outcome != OpenOutcome::kOpened)
        return finish_early(output, EXIT_NONE_FOUND, open_failure_message(path, outcome, bridge));
    return EXIT_DONE;
}

}  // namespace vtx::companion
