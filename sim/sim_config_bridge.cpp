// A [bridge] section: its configuration, the drive behind it, the firmware
// it starts with and, in state files, its flash and running state.
#include <algorithm>
#include <cstdio>

#include "sim/sim_applier.h"
#include "vtx/file.h"

namespace vtx::sim::detail {

namespace {

// An image a bridge starts on: the largest image the image maker makes, with
// room to spare.
constexpr uint64_t MAX_INPUT_FILE = 65ull << 20;

const Field<BridgeConfig, std::string> BRIDGE_TEXT[] = {
    {"path", &BridgeConfig::path},         {"volume", &BridgeConfig::volume_path},
    {"vendor", &BridgeConfig::vendor},     {"product", &BridgeConfig::product},
    {"revision", &BridgeConfig::revision}, {"optical_product", &BridgeConfig::optical_product},
    {"model", &BridgeConfig::model},
};
const Field<BridgeConfig, uint32_t> BRIDGE_NUMBERS[] = {
    {"chip_id", &BridgeConfig::chip_id},
    {"chip_rev_register", &BridgeConfig::chip_rev_register},
    {"identity", &BridgeConfig::identity},
    {"max_transfer", &BridgeConfig::max_transfer},
};
const Field<BridgeConfig, bool> BRIDGE_FLAGS[] = {
    {"optical", &BridgeConfig::optical},
    {"identity_query", &BridgeConfig::answers_identity_query},
};
const Field<DriveConfig, std::string> DRIVE_TEXT[] = {
    {"drive_serial", &DriveConfig::serial},
    {"drive_firmware", &DriveConfig::firmware},
    {"drive_model", &DriveConfig::model},
};
const Field<DriveConfig, uint64_t> DRIVE_WIDE[] = {{"drive_last_lba", &DriveConfig::last_lba}};
const Field<DriveConfig, uint32_t> DRIVE_WORDS[] = {
    {"drive_block_length", &DriveConfig::block_length},
    {"drive_kind", &DriveConfig::drive_kind},
    {"drive_state", &DriveConfig::drive_state},
};
const Field<DriveConfig, uint16_t> DRIVE_HALVES[] = {
    {"drive_security_status", &DriveConfig::security_status},
    {"drive_master_password_id", &DriveConfig::master_password_id},
    {"drive_erase_time", &DriveConfig::erase_time},
    {"drive_enhanced_erase_time", &DriveConfig::enhanced_erase_time},
};
const Field<DriveConfig, bool> DRIVE_FLAGS[] = {
    {"drive_capacity_fails", &DriveConfig::capacity_fails}};
bool read_binary(const std::string& path, std::vector<uint8_t>& bytes) {
    return read_whole_file(path, MAX_INPUT_FILE, bytes) == WholeFile::kRead;
}

// "none", or a number: a word the bridge may lack.
bool optional_word(const Entry& entry, Value& value, std::optional<uint32_t>& word) {
    if (entry.items.size() == 1 && entry.items[0] == "none") {
        word.reset();
        return true;
    }
    uint32_t number;
    if (!value.get(number))
        return false;
    word = number;
    return true;
}

}  // namespace

bool Applier::drive_entry(BridgeBuild& build, const Entry& entry, std::string& reason) {
    Value value{entry, reason};
    build.drive_line = entry.line;
    int result = set_field(DRIVE_TEXT, build.drive, value);
    if (!result)
        result = set_field(DRIVE_WIDE, build.drive, value);
    if (!result)
        result = set_field(DRIVE_WORDS, build.drive, value);
    if (!result)
        result = set_field(DRIVE_HALVES, build.drive, value);
    if (!result)
        result = set_field(DRIVE_FLAGS, build.drive, value);
    if (result == 0)
        reason = "unknown key '" + entry.key + "' in [bridge]";
    return result > 0;
}

bool Applier::firmware_entry(BridgeBuild& build, const Entry& entry, std::string& reason) {
    Value value{entry, reason};
    const std::string& key = entry.key;
    std::string text;
    // The image is read here, so a file that cannot be used is reported at
    // its own line.
    if (key == "image") {
        if (!value.get(text))
            return false;
        build.image = resolve(text);
        if (!read_binary(build.image, build.image_bytes)) {
            reason = "cannot read image file " + build.image;
            return false;
        }
        if (build.image_bytes.size() < IMAGE_LEAD_BLOCK) {
            reason = "image file " + build.image + " is shorter than 4096 bytes";
            return false;
        }
        return true;
    }
    if (key == "firmware") {
        if (!value.get(text))
            return false;
        build.firmware = text;
        build.recipe.signature = text == "rescue" ? MODE_RESCUE : MODE_MAIN;
        build.recipe.image_type = text == "rescue_in_main" ? IMAGE_TYPE_RESCUE_IN_MAIN : 0;
        return text == "main" || text == "rescue" || text == "rescue_in_main" ||
               value.fail("takes main, rescue or rescue_in_main");
    }
    if (key == "firmware_version") {
        if (!value.get(text))
            return false;
        uint32_t* parts[] = {&build.recipe.version.major, &build.recipe.version.minor,
                             &build.recipe.version.patch};
        size_t start = 0;
        for (size_t i = 0; i < 3; ++i) {
            size_t dot = i < 2 ? text.find('.', start) : text.size();
            uint64_t number;
            if (dot == std::string::npos ||
                !parse_u64(text.substr(start, dot - start), UINT32_MAX, number)) {
                return value.fail("takes major.minor.patch");
            }
            *parts[i] = uint32_t(number);
            start = dot + 1;
        }
        return true;
    }
    if (key == "firmware_date")
        return value.get(build.recipe.version.build_date);
    if (key == "firmware_variant")
        return value.get(build.recipe.chip_variant);
    if (key == "parameter_area") {
        std::vector<uint8_t> bytes;
        if (!value.get(text))
            return false;
        if (!read_binary(resolve(text), bytes))
            return value.fail("cannot read " + text);
        if (bytes.size() > HEADER_HALF_SIZE)
            return value.fail("file is longer than 2048 bytes");
        build.parameters = bytes;
        return true;
    }
    return state_entry(build, entry, reason);
}

static bool parse_page(const Entry& entry, std::pair<uint32_t, std::vector<uint8_t>>& page,
                       std::string& reason) {
    uint64_t address;
    std::vector<uint8_t> fill;
    reason = "'page' takes an address (a multiple of 4096) and 8192 hex digits or fill:XX";
    if (entry.items.size() != 2 || !parse_u64(entry.items[0], UINT32_MAX, address) ||
        address % FLASH_UNIT != 0) {
        return false;
    }
    const std::string& data = entry.items[1];
    if (data.rfind("fill:", 0) == 0) {
        if (!parse_hex(data.substr(5), fill) || fill.size() != 1)
            return false;
        page = {uint32_t(address), std::vector<uint8_t>(FLASH_UNIT, fill[0])};
        return true;
    }
    if (data.size() != 2 * FLASH_UNIT || !parse_hex(data, page.second))
        return false;
    page.first = uint32_t(address);
    return true;
}

bool Applier::state_entry(BridgeBuild& build, const Entry& entry, std::string& reason) {
    Value value{entry, reason};
    const std::string& key = entry.key;
    int64_t number;
    if (key == "page") {
        build.pages.emplace_back();
        return parse_page(entry, build.pages.back(), reason);
    }
    if (key == "restart_count")
        return value.number(0, INT32_MAX, build.restart_count);
    if (key == "next_return_path")
        return value.number(0, INT32_MAX, build.next_return_path);
    build.runtime = true;
    if (key == "powered")
        return value.get(build.powered);
    if (key == "on_bus")
        return value.get(build.on_bus);
    if (key == "returning_at_ms") {
        if (!value.number(0, int64_t(1) << 50, number))
            return false;
        build.returning_at_ms = number;
        return true;
    }
    if (key == "mode") {
        if (!value.number(0, 2, number))
            return false;
        build.mode = uint8_t(number);
        return true;
    }
    if (key == "running_header") {
        // Longer than any text value: read straight from the entry.
        if (entry.items.size() != 1 || !parse_hex(entry.items[0], build.running_header) ||
            build.running_header.size() != IMAGE_HEADER_SIZE) {
            return value.fail("takes 4096 hex digits");
        }
        return true;
    }
    if (key == "pending_address") {
        uint32_t address;
        if (!value.get(address))
            return false;
        build.pending_address = address;
        return true;
    }
    if (key == "identity_failures_left") {
        return value.number(0, INT32_MAX, build.identity_failures_left);
    }
    reason = "unknown key '" + key + "' in [bridge]";
    return false;
}

bool Applier::bridge_entry(BridgeBuild& build, const Entry& entry, std::string& reason) {
    Value value{entry, reason};
    const std::string& key = entry.key;
    int result = set_field(BRIDGE_TEXT, build.config, value);
    if (!result)
        result = set_field(BRIDGE_NUMBERS, build.config, value);
    if (!result)
        result = set_field(BRIDGE_FLAGS, build.config, value);
    if (result)
        return result > 0;
    std::string text;
    int64_t number;
    if (key == "return_paths") {
        build.config.return_paths.clear();
        if (entry.items.size() == 1 && entry.items[0].empty())
            return true;
        for (const std::string& path : entry.items) {
            if (path.empty() || path.size() > MAX_TEXT)
                return value.fail("holds an empty path");
            build.config.return_paths.push_back(path);
        }
        return true;
    }
    if (key == "identity_after_restart")
        return optional_word(entry, value, build.config.identity_after_restart);
    if (key == "version_reply") {
        // Bytes as given (hex: for binary), none left out: a reply need not
        // hold a single zero byte.
        if (!value.get(text))
            return false;
        if (text.size() > FIRMWARE_VERSION_SIZE)
            return value.fail("takes at most 20 bytes");
        build.config.version_reply.assign(text.begin(), text.end());
        return true;
    }
    if (key == "max_transfer_reply")
        return optional_word(entry, value, build.config.max_transfer_reply);
    if (key == "boot_seconds") {
        if (!value.get(text))
            return false;
        return parse_double(text, -1e9, 1e9, build.config.boot_seconds) ||
               value.fail("takes a number of seconds (negative: never back)");
    }
    if (key == "identity_failures_after_boot") {
        if (!value.number(0, 1000000, number))
            return false;
        build.config.identity_failures_after_boot = int(number);
        return true;
    }
    if (key == "drive") {
        if (entry.items.size() == 1 && entry.items[0] == "none") {
            build.has_drive = false;
            return true;
        }
        return value.get(build.has_drive);
    }
    if (key.rfind("drive_", 0) == 0)
        return drive_entry(build, entry, reason);
    return firmware_entry(build, entry, reason);
}

void Applier::start_bridge(BridgeBuild& build, const std::string& name) {
    build.config.name = name;
    build.config.drive = build.has_drive ? std::optional<DriveConfig>(build.drive) : std::nullopt;
    Bridge::State& state = world_.new_bridge(build.config);
    Bridge& bridge = *world_.bridges.back();
    for (const auto& page : build.pages)
        state.flash[page.first] = page.second;
    if (build.parameters)
        bridge.set_parameter_area(*build.parameters);
    state.restart_count = int(build.restart_count);
    state.next_return_path = size_t(build.next_return_path);
    if (!build.firmware.empty()) {
        bridge.install_image(imagemaker::build_image(build.recipe));
    } else {
        state.boot();
    }
    if (!build.runtime)
        return;
    state.powered = build.powered || build.on_bus;
    state.on_bus = build.on_bus;
    state.presence = build.on_bus ? ++world_.presence_counter : 0;
    state.returning = !build.on_bus && build.returning_at_ms.has_value();
    state.back_at_ms = build.returning_at_ms.value_or(0);
    state.mode = build.mode;
    if (!build.running_header.empty())
        state.running_header = build.running_header;
    state.pending_address = build.pending_address;
    state.identity_failures_left = int(build.identity_failures_left);
}

bool Applier::finish_bridge(BridgeBuild& build, const Section& section, std::string& reason) {
    std::string name = section.name;
    if (name.empty()) {
        name = "bridge";
        for (int n = 2; std::any_of(world_.bridge_states.begin(), world_.bridge_states.end(),
                                    [&](const auto& b) { return b->config.name == name; });
             ++n) {
            name = "bridge" + std::to_string(n);
        }
    }
    for (const auto& bridge : world_.bridge_states) {
        if (bridge->config.name == name) {
            reason = "a bridge named '" + name + "' stands above";
            return false;
        }
    }
    if (!build.has_drive && build.drive_line) {
        reason = "line " + std::to_string(build.drive_line) +
                 ": drive settings for a bridge with drive = none";
        return false;
    }
    if (build.config.path.empty() && build.config.volume_path.empty()) {
        reason = "bridge '" + name + "' has neither a path nor a volume";
        return false;
    }
    if (!path_free(build.config.path, reason) || !path_free(build.config.volume_path, reason)) {
        return false;
    }
    if (!build.image.empty() && !build.firmware.empty()) {
        reason = "bridge '" + name + "' has both an image and a firmware";
        return false;
    }
    start_bridge(build, name);
    if (!build.image_bytes.empty())
        world_.bridges.back()->install_image(build.image_bytes);
    return true;
}

}  // namespace vtx::sim::detail
