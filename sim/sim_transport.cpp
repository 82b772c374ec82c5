// One pass-through command: the handle's device, injected faults, the device's
// own reply, the trace entry, and what happens to the bus afterwards.
#include <algorithm>
#include <cstring>
#include <limits>

#include "sim/sim_internal.h"
#include "vtx/bytes.h"

namespace vtx::sim {

namespace {

using detail::Outcome;

bool device_matches(const CommandFault& fault, const std::string& path,
                    const std::string& bridge_name) {
    return fault.device.empty() || fault.device == bridge_name ||
           detail::same_path(fault.device, path);
}

bool fault_matches(const CommandFault& fault, const ScsiCommand& command, long index,
                   const std::string& path, const std::string& bridge_name) {
    if (fault.on_open)
        return false;
    if (fault.index >= 0 && fault.index != index)
        return false;
    if (fault.opcode >= 0 && fault.opcode != command.cdb[0])
        return false;
    if (fault.sub_command >= 0 && fault.sub_command != command.cdb[4])
        return false;
    if (fault.address >= 0 && fault.address != load_le32(command.cdb + 8))
        return false;
    return device_matches(fault, path, bridge_name);
}

// Counts one more match and says whether it is the fault's turn. The count
// stops at its top rather than wrap, and the window is compared without a
// sum: skip and count may each be as large as a long holds.
bool take_turn(detail::ActiveFault& active) {
    const CommandFault& fault = active.fault;
    if (active.matched < std::numeric_limits<long>::max())
        ++active.matched;
    long turn = active.matched;
    return turn > fault.skip && (fault.count < 0 || turn - fault.skip <= fault.count);
}

// Every matching fault counts the command; the first one whose turn it is
// decides how the command fails. A fault that names neither a status nor a
// platform error gives CHECK CONDITION; one that names a short answer lets the
// command run and sets `short_by` instead.
bool injected_fault(detail::World& world, const ScsiCommand& command, const std::string& path,
                    const std::string& bridge_name, Outcome& outcome, uint32_t& short_by) {
    bool fired = false;
    for (auto& active : world.faults) {
        const CommandFault& fault = active.fault;
        if (!fault_matches(fault, command, world.current_index, path, bridge_name))
            continue;
        bool due = take_turn(active);
        if (!due || fired)
            continue;
        fired = true;
        if (fault.short_by != 0) {
            short_by = fault.short_by;
            continue;
        }
        outcome = Outcome{};
        if (fault.platform_error != 0) {
            outcome.platform_error = fault.platform_error;
        } else {
            outcome.status = fault.scsi_status ? fault.scsi_status : detail::STATUS_CHECK_CONDITION;
            outcome.sense_key = fault.sense_key;
            outcome.asc = fault.asc;
            outcome.ascq = fault.ascq;
            outcome.sense_length = fault.sense_length;
        }
    }
    return fired && short_by == 0;
}

// A device that answers a data-in command `short_by` bytes short: the tail of
// the caller's buffer keeps the bytes it held before the command.
class ShortAnswer {
  public:
    ShortAnswer(ScsiCommand& command, uint32_t short_by) : command_(command) {
        if (!command.data_in || short_by == 0 || command.length == 0)
            return;
        moved_ = command.length - std::min(short_by, command.length);
        const auto* bytes = static_cast<const uint8_t*>(command.data);
        old_.assign(bytes + moved_, bytes + command.length);
    }
    void apply() {
        if (old_.empty())
            return;
        std::memcpy(static_cast<uint8_t*>(command_.data) + moved_, old_.data(), old_.size());
        command_.residual = std::max(command_.residual, uint32_t(old_.size()));
    }

  private:
    ScsiCommand& command_;
    uint32_t moved_ = 0;
    std::vector<uint8_t> old_;
};

Outcome run_on_target(detail::World& world, const detail::Handle& h, Bridge::State* bridge,
                      ScsiCommand& command) {
    if (!bridge)
        return detail::run_disk_command(world.disks[h.index], command);
    if (command.length > bridge->config.max_transfer) {
        return detail::illegal(detail::ASC_INVALID_FIELD_IN_CDB);
    }
    return bridge->run_command(command);
}

// Runs the command on the handle's device. `restarting` names the bridge
// that restarts once the command has completed.
Outcome run_on_device(detail::World& world, OsHandle handle, ScsiCommand& command,
                      std::string& device, std::string& bridge_name, Bridge::State*& restarting) {
    Outcome outcome;
    auto found = world.handles.find(handle);
    if (found == world.handles.end()) {
        outcome.platform_error = SIM_ERROR_INVALID_HANDLE;
        return outcome;
    }
    const detail::Handle& h = found->second;
    device = h.path;
    if (command.length > 0 && command.data == nullptr) {
        outcome.platform_error = SIM_ERROR_INVALID_PARAMETER;
        return outcome;
    }
    Bridge::State* bridge = h.is_bridge ? world.bridge_states[h.index].get() : nullptr;
    bridge_name = bridge ? bridge->config.name : "";
    // A handle belongs to one presence on the bus; after a restart or a
    // power loss the device it named is gone for good.
    if (bridge && bridge->presence != h.presence) {
        outcome.platform_error = SIM_ERROR_DEVICE_NOT_CONNECTED;
        return outcome;
    }
    uint32_t short_by = 0;
    if (injected_fault(world, command, device, bridge_name, outcome, short_by)) {
        return outcome;
    }
    ShortAnswer answer(command, short_by);
    outcome = run_on_target(world, h, bridge, command);
    if (outcome.status == 0 && outcome.platform_error == 0)
        answer.apply();
    if (bridge && outcome.restart && outcome.status == 0 && outcome.platform_error == 0) {
        restarting = bridge;
    }
    return outcome;
}

// Fixed-format sense data of the outcome's length: a device may give fewer
// bytes than the 18 of the fixed format (the rest of the area stays zero) or
// more, whose additional bytes read 0xEE.
void fill_sense(ScsiCommand& command, const Outcome& outcome) {
    std::memset(command.sense, 0, sizeof command.sense);
    if (outcome.status == 0)
        return;
    constexpr size_t FIXED_FORMAT = 18;
    uint8_t full[sizeof command.sense] = {};
    std::memset(full + FIXED_FORMAT, 0xEE, sizeof full - FIXED_FORMAT);
    size_t length = std::min<size_t>(outcome.sense_length, sizeof full);
    full[0] = 0x70;  // current error, fixed format
    full[2] = outcome.sense_key & 0x0F;
    full[7] = uint8_t(length > 8 ? length - 8 : 0);  // additional sense length
    full[12] = outcome.asc;
    full[13] = outcome.ascq;
    std::memcpy(command.sense, full, length);
}

}  // namespace

bool detail::open_fault(World& world, const std::string& path, const std::string& bridge_name,
                        int& error) {
    bool fired = false;
    for (auto& active : world.faults) {
        const CommandFault& fault = active.fault;
        // For opens, an index names the open made just before that command.
        if (!fault.on_open || !device_matches(fault, path, bridge_name) ||
            (fault.index >= 0 && fault.index != world.command_count)) {
            continue;
        }
        if (take_turn(active) && !fired) {
            fired = true;
            error = fault.platform_error ? fault.platform_error : SIM_ERROR_ACCESS_DENIED;
        }
    }
    return fired;
}

bool SimPlatform::pass_through(OsHandle handle, ScsiCommand& command) {
    State& world = *state_;
    if (world.command_hook)
        world.command_hook(world.command_count);
    world.tick();
    world.current_index = world.command_count++;

    TraceEntry entry;
    std::memcpy(entry.cdb, command.cdb, sizeof entry.cdb);
    entry.data_in = command.data_in;
    entry.length = command.length;
    entry.time = double(world.now_ms) / 1000.0;
    entry.index = world.current_index;
    const auto* bytes = static_cast<const uint8_t*>(command.data);
    if (!command.data_in && bytes)
        entry.data.assign(bytes, bytes + command.length);

    Bridge::State* restarting = nullptr;
    command.scsi_status = 0;
    command.residual = 0;
    Outcome outcome = run_on_device(world, handle, command, entry.device, entry.bridge, restarting);

    entry.call_ok = outcome.platform_error == 0;
    if (entry.call_ok) {
        command.scsi_status = outcome.status;
        fill_sense(command, outcome);
        entry.scsi_status = outcome.status;
        entry.sense_key = outcome.sense_key;
        entry.asc = outcome.asc;
        entry.ascq = outcome.ascq;
        if (command.data_in && bytes)
            entry.data.assign(bytes, bytes + command.length);
    } else {
        std::memset(command.sense, 0, sizeof command.sense);
        entry.error = outcome.platform_error;
        world.last_error = outcome.platform_error;
    }
    if (restarting)
        restarting->start_restart();
    if (world.power_loss_after && *world.power_loss_after == world.current_index) {
        world.power_loss_after.reset();
        world.lose_power();
    }
    world.trace.push_back(std::move(entry));
    return outcome.platform_error == 0;
}

}  // namespace vtx::sim
