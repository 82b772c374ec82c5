// Parsed sections become devices, faults and platform settings. Shared by
// description files and state files: a state file is a description with the
// running state of each bridge added.
#include <filesystem>
#include <set>

#include "sim/sim_applier.h"
#include "vtx/file.h"

namespace vtx::sim::detail {

namespace {

const Field<DiskConfig, std::string> DISK_TEXT[] = {
    {"path", &DiskConfig::path},
    {"vendor", &DiskConfig::vendor},
    {"product", &DiskConfig::product},
    {"revision", &DiskConfig::revision},
};
const Field<DiskConfig, uint8_t> DISK_NUMBERS[] = {{"device_type", &DiskConfig::device_type}};
const Field<DiskConfig, bool> DISK_FLAGS[] = {{"usb", &DiskConfig::usb}};
const Field<CommandFault, uint8_t> FAULT_BYTES[] = {
    {"status", &CommandFault::scsi_status},
    {"sense_key", &CommandFault::sense_key},
    {"asc", &CommandFault::asc},
    {"ascq", &CommandFault::ascq},
};

}  // namespace

std::string Applier::resolve(const std::string& file) const {
    std::filesystem::path path = native_path(file);
    if (path.is_absolute() || base_.empty())
        return file;
    return narrow_path(native_path(base_) / path);
}

bool Applier::path_free(const std::string& path, std::string& reason) const {
    if (path.empty())
        return true;
    for (const auto& bridge : world_.bridge_states) {
        if (same_path(bridge->config.path, path) || same_path(bridge->config.volume_path, path)) {
            reason = "path " + path + " is already taken by bridge '" + bridge->config.name + "'";
            return false;
        }
    }
    for (const auto& disk : world_.disks) {
        if (same_path(disk.path, path)) {
            reason = "path " + path + " is already taken by a disk";
            return false;
        }
    }
    return true;
}

bool Applier::platform_entry(const Entry& entry, std::string& reason) {
    Value value{entry, reason};
    const std::string& key = entry.key;
    int64_t number;
    if (key == "time_ms") {
        if (!value.number(0, int64_t(1) << 50, number))
            return false;
        world_.now_ms = number;
        return true;
    }
    if (key == "executable")
        return value.get(world_.executable_path);
    if (key == "separator") {
        std::string text;
        if (!value.get(text))
            return false;
        if (text.size() != 1)
            return value.fail("takes one character");
        world_.separator = text[0];
        return true;
    }
    if (key == "elevated")
        return value.get(world_.elevated);
    if (key == "terminal")
        return value.get(world_.terminal);
    if (key == "corrupt_readbacks") {
        if (!value.number(0, std::numeric_limits<int>::max(), number))
            return false;
        world_.corrupt_readbacks = int(number);
        return true;
    }
    if (key == "power_loss_after" || key == "power_loss_during_write") {
        if (!value.number(0, std::numeric_limits<long>::max(), number))
            return false;
        (key == "power_loss_after" ? world_.power_loss_after : world_.power_loss_write) =
            long(number);
        return true;
    }
    if (key == "power_loss_prefix")
        return value.get(world_.power_loss_prefix);
    reason = "unknown key '" + key + "' in [platform]";
    return false;
}

bool Applier::fault_entry(ActiveFault& active, const Entry& entry, std::string& reason) {
    Value value{entry, reason};
    CommandFault& fault = active.fault;
    const std::string& key = entry.key;
    const int64_t long_max = std::numeric_limits<long>::max();
    int64_t number;
    if (int result = set_field(FAULT_BYTES, fault, value))
        return result > 0;
    if (key == "device")
        return value.get(fault.device);
    bool ok = true;
    if (key == "opcode" || key == "sub_command") {
        ok = value.number(-1, 255, number);
        (key == "opcode" ? fault.opcode : fault.sub_command) = int(number);
    } else if (key == "index") {
        ok = value.number(-1, long_max, number);
        fault.index = long(number);
    } else if (key == "skip" || key == "matched") {
        ok = value.number(0, long_max, number);
        (key == "skip" ? fault.skip : active.matched) = long(number);
    } else if (key == "count") {
        ok = value.number(-1, long_max, number);
        fault.count = long(number);
    } else if (key == "open") {
        ok = value.get(fault.on_open);
    } else if (key == "sense_length") {
        ok = value.number(0, 32, number);
        fault.sense_length = uint8_t(number);
    } else if (key == "address") {
        ok = value.number(-1, std::numeric_limits<uint32_t>::max(), number);
        fault.address = number;
    } else if (key == "short_by") {
        ok = value.number(0, std::numeric_limits<uint32_t>::max(), number);
        fault.short_by = uint32_t(number);
    } else if (key == "platform_error") {
        ok = value.number(0, std::numeric_limits<int>::max(), number);
        fault.platform_error = int(number);
    } else {
        reason = "unknown key '" + key + "' in [fault]";
        return false;
    }
    return ok;
}

bool Applier::apply(const Section& section, std::string& error) {
    std::string reason;
    std::set<std::string> seen;
    BridgeBuild build;
    DiskConfig disk;
    ActiveFault fault;
    for (const Entry& entry : section.entries) {
        bool ok;
        if (entry.key != "page" && !seen.insert(entry.key).second) {
            reason = "'" + entry.key + "' is given twice in this section";
            ok = false;
        } else if (section.kind == "platform") {
            ok = platform_entry(entry, reason);
        } else if (section.kind == "bridge") {
            ok = bridge_entry(build, entry, reason);
        } else if (section.kind == "disk") {
            Value value{entry, reason};
            int result = set_field(DISK_TEXT, disk, value);
            if (!result)
                result = set_field(DISK_NUMBERS, disk, value);
            if (!result)
                result = set_field(DISK_FLAGS, disk, value);
            if (!result)
                reason = "unknown key '" + entry.key + "' in [disk]";
            ok = result > 0;
        } else {
            ok = fault_entry(fault, entry, reason);
        }
        if (!ok) {
            error = "line " + std::to_string(entry.line) + ": " + reason;
            return false;
        }
    }
    bool ok = true;
    if (section.kind == "bridge") {
        ok = finish_bridge(build, section, reason);
    } else if (section.kind == "disk") {
        if (disk.path.empty())
            reason = "a disk needs a path";
        ok = !disk.path.empty() && path_free(disk.path, reason);
        if (ok)
            world_.disks.push_back(disk);
    } else if (section.kind == "fault") {
        world_.faults.push_back(fault);
    }
    if (!ok) {
        // Reasons that name their own line keep it.
        error = reason.rfind("line ", 0) == 0
                    ? reason
                    : "line " + std::to_string(section.line) + ": " + reason;
    }
    return ok;
}

bool apply_sections(World& world, const std::vector<Section>& sections, const std::string& base,
                    std::string& error) {
    Applier applier(world, base);
    for (const Section& section : sections) {
        if (!applier.apply(section, error))
            return false;
    }
    return true;
}

}  // namespace vtx::sim::detail
