#include "tools/usbgadget/sim_backend.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace vtx::gadget {
namespace {

constexpr uint8_t OP_VENDOR_WRITE_COMMAND = 0xE3;
constexpr uint32_t COMMAND_TIMEOUT_S = 10;

std::string bridge_path(const sim::Bridge& bridge) {
    std::string path = bridge.current_path();
    return path.empty() ? bridge.config().volume_path : path;
}

}  // namespace

bool SimBackend::open(const std::string& state_path, const std::string& description_path,
                      std::string& error) {
    state_path_ = state_path;
    const bool fresh = !description_path.empty() && access(state_path.c_str(), F_OK) != 0;
    if (fresh ? !sim::load_description(description_path, sim_, error)
              : !sim_.load(state_path, error)) {
        return false;
    }
    std::vector<sim::Bridge*> bridges = sim_.bridges();
    if (bridges.size() != 1) {
        error = state_path + ": holds " + std::to_string(bridges.size()) + " bridges, not one";
        return false;
    }
    bridge_ = bridges.front();
    if (fresh && !save()) {
        error = state_path + ": cannot be written";
        return false;
    }
    return come_back(error);
}

bool SimBackend::add_swallow(const std::string& recipe, std::string& error) {
    std::vector<long> fields;
    std::stringstream stream(recipe);
    std::string field;
    for (int i = 0; std::getline(stream, field, ':'); ++i) {
        char* end = nullptr;
        long value = std::strtol(field.c_str(), &end, i < 2 ? 16 : 10);
        if (field.empty() || *end != '\0') {
            error = "--swallow " + recipe + ": expected OPCODE[:SUB[:SKIP[:COUNT]]]";
            return false;
        }
        fields.push_back(value);
    }
    const size_t colons = size_t(std::count(recipe.begin(), recipe.end(), ':'));
    if (fields.empty() || fields.size() > 4 || fields.size() != colons + 1) {
        error = "--swallow " + recipe + ": expected OPCODE[:SUB[:SKIP[:COUNT]]]";
        return false;
    }
    sim::CommandFault fault;
    fault.opcode = int(fields[0]);
    if (fields.size() > 1)
        fault.sub_command = int(fields[1]);
    if (fields.size() > 2)
        fault.skip = fields[2];
    if (fields.size() > 3)
        fault.count = fields[3];
    fault.platform_error = sim::SIM_ERROR_SEM_TIMEOUT;
    sim_.add_fault(fault);
    return true;
}

Reply SimBackend::execute(const Command& command) {
    Reply reply;
    std::vector<uint8_t> data =
        command.data_in ? std::vector<uint8_t>(command.length, 0) : command.data_out;
    ScsiCommand scsi;
    std::copy(command.cdb, command.cdb + 16, scsi.cdb);
    scsi.data = data.empty() ? nullptr : data.data();
    scsi.length = uint32_t(data.size());
    scsi.data_in = command.data_in;
    scsi.timeout_s = COMMAND_TIMEOUT_S;
    if (!sim_.pass_through(handle_, scsi)) {
        // The emulator's time-out is a command the bridge never answers; any
        // other platform failure is a broken transport the host must reset.
        reply.status = sim_.last_error() == sim::SIM_ERROR_SEM_TIMEOUT ? Status::kSwallowed
                                                                       : Status::kPhaseError;
        return reply;
    }
    if (scsi.scsi_status != 0) {
        reply.status = Status::kCheckCondition;
        std::copy(scsi.sense, scsi.sense + reply.sense.size(), reply.sense.begin());
    } else if (command.data_in) {
        reply.data = std::move(data);
    }
    if (command.cdb[0] == OP_VENDOR_WRITE_COMMAND)
        save();
    reply.leaves_bus = !bridge_->on_bus();
    if (reply.leaves_bus) {
        sim_.close_device(handle_);
        handle_ = INVALID_OS_HANDLE;
    }
    return reply;
}

bool SimBackend::optical() const {
    return bridge_->config().optical;
}

double SimBackend::boot_seconds() const {
    return bridge_->config().boot_seconds;
}

bool SimBackend::come_back(std::string& error) {
    // The gadget has already waited for real; the emulator's clock catches up.
    for (int i = 0; i < 100 && !bridge_->on_bus(); ++i)
        sim_.pause_ms(100);
    if (!bridge_->on_bus()) {
        error = "the simulated bridge did not come back on the bus";
        return false;
    }
    handle_ = sim_.open_device(bridge_path(*bridge_).c_str());
    if (handle_ == INVALID_OS_HANDLE) {
        error = "the simulated bridge does not open";
        return false;
    }
    return true;
}

bool SimBackend::save() const {
    return sim_.save(state_path_);
}

}  // namespace vtx::gadget
