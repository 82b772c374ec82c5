// State files and description files. A state file is written in the
// description format, with each bridge's flash and running state added, so
// one reader serves both and a person can read what a run left behind.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "sim/sim_config.h"
#include "tools/outfile/replace_file.h"
#include "vtx/file.h"

namespace vtx::sim {

namespace detail {

namespace {

// Room for 32 MiB of written flash in hex, ten times the flash map the
// sample images fill; a larger file is refused before it is read.
constexpr uintmax_t MAX_STATE_FILE = uintmax_t(64) << 20;

// The last lines of a state file: how many lines stand before them and the
// CRC-32 of those bytes. A file cut short, or grown, no longer matches.
constexpr const char* END_HEADER = "[end]\n";

std::string end_record(const std::string& body) {
    long lines = std::count(body.begin(), body.end(), '\n');
    uint32_t sum = crc32(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    return std::string(END_HEADER) + "lines = " + std::to_string(lines) +
           "\ncrc32 = " + hex_number(sum) + "\n";
}

// Takes the end record off a state file's text when it vouches for all
// that precedes it.
bool strip_end_record(std::string& text) {
    size_t at = text.rfind(std::string("\n") + END_HEADER);
    if (at == std::string::npos)
        return false;
    std::string body = text.substr(0, at + 1);
    if (text.compare(at + 1, std::string::npos, end_record(body)) != 0)
        return false;
    text = std::move(body);
    return true;
}

std::string seconds_text(double seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", seconds);
    return text;
}

void render_platform(std::ostream& out, const World& world) {
    out << "[platform]\n";
    out << "time_ms = " << world.now_ms << "\n";
    out << "executable = " << quote(world.executable_path) << "\n";
    out << "separator = " << quote(std::string(1, world.separator)) << "\n";
    out << "elevated = " << flag_text(world.elevated) << "\n";
    out << "terminal = " << flag_text(world.terminal) << "\n";
    out << "corrupt_readbacks = " << world.corrupt_readbacks << "\n";
    if (world.power_loss_after)
        out << "power_loss_after = " << *world.power_loss_after << "\n";
    if (world.power_loss_write) {
        out << "power_loss_during_write = " << *world.power_loss_write << "\n";
        out << "power_loss_prefix = " << world.power_loss_prefix << "\n";
    }
}

void render_drive(std::ostream& out, const std::optional<DriveConfig>& drive) {
    if (!drive) {
        out << "drive = none\n";
        return;
    }
    out << "drive = yes\n";
    out << "drive_serial = " << quote(drive->serial) << "\n";
    out << "drive_firmware = " << quote(drive->firmware) << "\n";
    out << "drive_model = " << quote(drive->model) << "\n";
    out << "drive_last_lba = " << drive->last_lba << "\n";
    out << "drive_block_length = " << drive->block_length << "\n";
    out << "drive_kind = " << drive->drive_kind << "\n";
    out << "drive_state = " << drive->drive_state << "\n";
    out << "drive_security_status = " << hex_number(drive->security_status) << "\n";
    out << "drive_master_password_id = " << hex_number(drive->master_password_id) << "\n";
    out << "drive_erase_time = " << hex_number(drive->erase_time) << "\n";
    out << "drive_enhanced_erase_time = " << hex_number(drive->enhanced_erase_time) << "\n";
    out << "drive_capacity_fails = " << flag_text(drive->capacity_fails) << "\n";
}

void render_config(std::ostream& out, const BridgeConfig& c) {
    out << "path = " << quote(c.path) << "\n";
    out << "volume = " << quote(c.volume_path) << "\n";
    out << "return_paths =";
    for (size_t i = 0; i < c.return_paths.size(); ++i) {
        out << (i ? ", " : " ") << quote(c.return_paths[i]);
    }
    out << "\n";
    out << "optical = " << flag_text(c.optical) << "\n";
    out << "vendor = " << quote(c.vendor) << "\n";
    out << "product = " << quote(c.product) << "\n";
    out << "optical_product = " << quote(c.optical_product) << "\n";
    out << "revision = " << quote(c.revision) << "\n";
    out << "model = " << quote(c.model) << "\n";
    out << "chip_id = " << hex_number(c.chip_id) << "\n";
    out << "chip_rev_register = " << hex_number(c.chip_rev_register) << "\n";
    out << "identity = " << hex_number(c.identity) << "\n";
    out << "identity_query = " << flag_text(c.answers_identity_query) << "\n";
    out << "max_transfer_reply = "
        << (c.max_transfer_reply ? std::to_string(*c.max_transfer_reply) : "none") << "\n";
    out << "max_transfer = " << c.max_transfer << "\n";
    out << "boot_seconds = " << seconds_text(c.boot_seconds) << "\n";
    out << "identity_failures_after_boot = " << c.identity_failures_after_boot << "\n";
    out << "identity_after_restart = "
        << (c.identity_after_restart ? hex_number(*c.identity_after_restart) : "none") << "\n";
    if (!c.version_reply.empty())
        out << "version_reply = "
            << quote(std::string(c.version_reply.begin(), c.version_reply.end())) << "\n";
    render_drive(out, c.drive);
}

void render_flash(std::ostream& out, const Bridge::State& bridge) {
    for (const auto& [address, bytes] : bridge.flash) {
        uint8_t first = bytes[0];
        bool same =
            std::all_of(bytes.begin(), bytes.end(), [first](uint8_t b) { return b == first; });
        if (same && bytes[0] == 0xFF)
            continue;  // erased: nothing to keep
        out << "page = " << hex_number(address) << ", ";
        if (same) {
            out << "fill:" << hex_bytes(bytes.data(), 1) << "\n";
        } else {
            out << hex_bytes(bytes.data(), bytes.size()) << "\n";
        }
    }
}

void render_bridge(std::ostream& out, const Bridge::State& b) {
    out << "\n[bridge " << quote(b.config.name) << "]\n";
    render_config(out, b.config);
    out << "restart_count = " << b.restart_count << "\n";
    out << "next_return_path = " << b.next_return_path << "\n";
    out << "powered = " << flag_text(b.powered) << "\n";
    out << "on_bus = " << flag_text(b.on_bus) << "\n";
    if (b.returning)
        out << "returning_at_ms = " << b.back_at_ms << "\n";
    out << "mode = " << int(b.mode) << "\n";
    if (b.pending_address)
        out << "pending_address = " << hex_number(*b.pending_address) << "\n";
    out << "identity_failures_left = " << b.identity_failures_left << "\n";
    out << "running_header = " << hex_bytes(b.running_header.data(), b.running_header.size())
        << "\n";
    render_flash(out, b);
}

void render_disk(std::ostream& out, const DiskConfig& disk) {
    out << "\n[disk]\n";
    out << "path = " << quote(disk.path) << "\n";
    out << "usb = " << flag_text(disk.usb) << "\n";
    out << "device_type = " << int(disk.device_type) << "\n";
    out << "vendor = " << quote(disk.vendor) << "\n";
    out << "product = " << quote(disk.product) << "\n";
    out << "revision = " << quote(disk.revision) << "\n";
}

void render_fault(std::ostream& out, const ActiveFault& active) {
    const CommandFault& f = active.fault;
    out << "\n[fault]\n";
    out << "device = " << quote(f.device) << "\n";
    out << "opcode = " << f.opcode << "\n";
    out << "sub_command = " << f.sub_command << "\n";
    out << "address = " << f.address << "\n";
    out << "index = " << f.index << "\n";
    out << "skip = " << f.skip << "\n";
    out << "count = " << f.count << "\n";
    out << "status = " << int(f.scsi_status) << "\n";
    out << "sense_key = " << int(f.sense_key) << "\n";
    out << "asc = " << int(f.asc) << "\n";
    out << "ascq = " << int(f.ascq) << "\n";
    out << "platform_error = " << f.platform_error << "\n";
    out << "open = " << flag_text(f.on_open) << "\n";
    out << "sense_length = " << int(f.sense_length) << "\n";
    out << "short_by = " << f.short_by << "\n";
    out << "matched = " << active.matched << "\n";
}

// Only a regular file within the bound is read, checked before the read.
bool read_text_file(const std::string& path, uintmax_t limit, std::string& text,
                    std::string& error) {
    uint64_t size = 0;
    switch (read_whole_file(path, limit, text, &size)) {
        case WholeFile::kRead:
            return true;
        case WholeFile::kNotOpened:
            error = path + ": cannot read the file (missing, or not a regular file)";
            return false;
        case WholeFile::kTooLarge:
            error = path + ": the file is too large (" + std::to_string(size) + " bytes; at most " +
                    std::to_string(limit) + ")";
            return false;
        default:
            error = path + ": cannot read the file";
            return false;
    }
}

bool load_into(World& world, const std::string& path, const std::string& base, bool state_file,
               std::string& error) {
    std::string text;
    if (!read_text_file(path, MAX_STATE_FILE, text, error))
        return false;
    if (state_file && !strip_end_record(text)) {
        error = path +
                ": not a whole state file (its end record is missing or does not match "
                "the lines before it)";
        return false;
    }
    std::vector<Section> sections;
    if (!parse_sections(text, sections, error) || !apply_sections(world, sections, base, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace

std::string render_state(const World& world) {
    std::ostringstream out;
    out << "# vtx_fwupdate simulator state: devices, flash and running state\n";
    render_platform(out, world);
    for (const auto& bridge : world.bridge_states)
        render_bridge(out, *bridge);
    for (const auto& disk : world.disks)
        render_disk(out, disk);
    for (const auto& fault : world.faults)
        render_fault(out, fault);
    return out.str();
}

}  // namespace detail

bool SimPlatform::save(const std::string& path) const {
    std::string error;
    return save(path, error);
}

// Written beside the old state and renamed over it: a save that fails
// part-way leaves the state of the run before.
bool SimPlatform::save(const std::string& path, std::string& error) const {
    state_->tick();
    std::string text = detail::render_state(*state_);
    text += detail::end_record(text);
    return outfile::replace_file(path, text.data(), text.size(), error);
}

bool SimPlatform::load(const std::string& path) {
    std::string error;
    return load(path, error);
}

// The loaded platform replaces this one whole, or not at all. The command
// index and the trace go on counting, so handles and indexes stay unique.
bool SimPlatform::load(const std::string& path, std::string& error) {
    auto loaded = std::make_unique<State>();
    if (!detail::load_into(*loaded, path, "", true, error))
        return false;
    loaded->command_count = state_->command_count;
    loaded->open_count = state_->open_count;
    loaded->next_handle = state_->next_handle;
    loaded->trace = std::move(state_->trace);
    loaded->relaunches = std::move(state_->relaunches);
    loaded->real_time = state_->real_time;
    state_ = std::move(loaded);
    return true;
}

bool load_description(const std::string& path, SimPlatform& sim, std::string& error) {
    std::string base = narrow_path(native_path(path).parent_path());
    return detail::load_into(*sim.state_, path, base, false, error);
}

}  // namespace vtx::sim
