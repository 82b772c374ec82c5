// The simulated platform: its devices and handles, discovery, the virtual
// clock and the process side.
#include <chrono>
#include <cstdio>
#include <thread>

#include "sim/sim_internal.h"

namespace vtx::sim {

namespace detail {

Bridge::State& World::new_bridge(const BridgeConfig& config) {
    auto state = std::make_unique<Bridge::State>();
    state->world = this;
    state->config = config;
    state->boot();
    bridge_states.push_back(std::move(state));
    bridges.push_back(std::make_unique<Bridge>(bridge_states.back().get()));
    return *bridge_states.back();
}

void World::tick() {
    for (auto& bridge : bridge_states) {
        if (bridge->returning && bridge->powered && now_ms >= bridge->back_at_ms) {
            bridge->come_back();
        }
    }
}

void World::lose_power() {
    for (auto& bridge : bridge_states) {
        bridge->leave_bus();
        bridge->powered = false;
    }
}

void World::power_on() {
    for (auto& bridge : bridge_states)
        bridge->boot();
}

}  // namespace detail

SimPlatform::SimPlatform() : state_(std::make_unique<State>()) {}

SimPlatform::~SimPlatform() = default;

// --- Devices -----------------------------------------------------------------

Bridge& SimPlatform::add_bridge(const BridgeConfig& config) {
    state_->new_bridge(config);
    return *state_->bridges.back();
}

void SimPlatform::add_disk(const DiskConfig& config) {
    state_->disks.push_back(config);
}

Bridge* SimPlatform::bridge(const std::string& name) {
    for (auto& bridge : state_->bridges) {
        if (bridge->config().name == name)
            return bridge.get();
    }
    return nullptr;
}

std::vector<Bridge*> SimPlatform::bridges() {
    std::vector<Bridge*> result;
    for (auto& bridge : state_->bridges)
        result.push_back(bridge.get());
    return result;
}

const std::vector<DiskConfig>& SimPlatform::disks() const {
    return state_->disks;
}

void SimPlatform::clear_devices() {
    state_->bridges.clear();
    state_->bridge_states.clear();
    state_->disks.clear();
    state_->handles.clear();
    state_->faults.clear();
    state_->trace.clear();
    state_->corrupt_readbacks = 0;
    state_->power_loss_after.reset();
    state_->power_loss_write.reset();
}

// --- Trace and faults --------------------------------------------------------

const std::vector<TraceEntry>& SimPlatform::trace() const {
    return state_->trace;
}
void SimPlatform::clear_trace() {
    state_->trace.clear();
}
long SimPlatform::command_count() const {
    return state_->command_count;
}
long SimPlatform::open_count() const {
    return state_->open_count;
}

void SimPlatform::add_fault(const CommandFault& fault) {
    state_->faults.push_back({fault, 0});
}
void SimPlatform::set_command_hook(std::function<void(long index)> hook) {
    state_->command_hook = std::move(hook);
}
void SimPlatform::clear_faults() {
    state_->faults.clear();
}
void SimPlatform::corrupt_readbacks(int n) {
    state_->corrupt_readbacks = n;
}
void SimPlatform::power_loss_after(long index) {
    state_->power_loss_after = index;
}

void SimPlatform::power_loss_during_write(long index, uint32_t prefix) {
    state_->power_loss_write = index;
    state_->power_loss_prefix = prefix;
}

void SimPlatform::power_on() {
    state_->power_on();
}

// --- Handles -------------------------------------------------------------------

OsHandle SimPlatform::open_device(const char* path) {
    State& world = *state_;
    world.tick();
    std::string wanted = path ? path : "";
    detail::Handle handle;
    handle.path = wanted;
    bool found = false;
    for (size_t i = 0; i < world.bridge_states.size() && !found && !wanted.empty(); ++i) {
        const Bridge::State& bridge = *world.bridge_states[i];
        if (!bridge.on_bus)
            continue;
        if (detail::same_path(bridge.config.path, wanted) ||
            detail::same_path(bridge.config.volume_path, wanted)) {
            handle.is_bridge = true;
            handle.index = i;
            handle.presence = bridge.presence;
            found = true;
        }
    }
    for (size_t i = 0; i < world.disks.size() && !found && !wanted.empty(); ++i) {
        if (detail::same_path(world.disks[i].path, wanted)) {
            handle.index = i;
            found = true;
        }
    }
    if (!found) {
        world.last_error = SIM_ERROR_FILE_NOT_FOUND;
        return INVALID_OS_HANDLE;
    }
    std::string name = handle.is_bridge ? world.bridge_states[handle.index]->config.name : "";
    if (int error = 0; detail::open_fault(world, wanted, name, error)) {
        world.last_error = error;
        return INVALID_OS_HANDLE;
    }
    OsHandle id = world.next_handle++;
    world.handles[id] = handle;
    ++world.open_count;
    return id;
}

bool SimPlatform::close_device(OsHandle handle) {
    if (state_->handles.erase(handle) == 0) {
        state_->last_error = SIM_ERROR_INVALID_HANDLE;
        return false;
    }
    return true;
}

int SimPlatform::last_error() {
    return state_->last_error;
}

int SimPlatform::general_failure_code() const {
    return SIM_ERROR_GEN_FAILURE;
}

// --- Discovery -----------------------------------------------------------------

std::string SimPlatform::candidate_path(int pass, int index) {
    state_->tick();
    if (index < 0 || index > 23)
        return "";
    char path[32];
    if (pass == 0) {
        std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", index);
    } else if (pass == 1) {
        std::snprintf(path, sizeof path, "\\\\.\\%c:", char('c' + index));
    } else {
        return "";
    }
    return path;
}

bool SimPlatform::is_usb(OsHandle handle) {
    State& world = *state_;
    world.tick();
    auto found = world.handles.find(handle);
    if (found == world.handles.end()) {
        world.last_error = SIM_ERROR_INVALID_HANDLE;
        return false;
    }
    const detail::Handle& h = found->second;
    if (!h.is_bridge)
        return world.disks[h.index].usb;
    if (world.bridge_states[h.index]->presence != h.presence) {
        world.last_error = SIM_ERROR_DEVICE_NOT_CONNECTED;
        return false;
    }
    return true;
}

// --- Time ----------------------------------------------------------------------

void SimPlatform::pause_ms(unsigned milliseconds) {
    if (state_->command_hook)
        state_->command_hook(state_->command_count);
    if (state_->real_time)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    state_->now_ms += milliseconds;
    state_->tick();
}

double SimPlatform::monotonic_seconds() {
    return now();
}

double SimPlatform::now() const {
    state_->tick();
    return double(state_->now_ms) / 1000.0;
}

void SimPlatform::set_real_time(bool real_time) {
    state_->real_time = real_time;
}

// --- Process side --------------------------------------------------------------

void SimPlatform::set_executable_path(const std::string& path) {
    state_->executable_path = path;
}
void SimPlatform::set_path_separator(char separator) {
    state_->separator = separator;
}
void SimPlatform::set_elevated(bool elevated) {
    state_->elevated = elevated;
}
void SimPlatform::set_terminal(bool terminal) {
    state_->terminal = terminal;
}

const std::vector<std::vector<std::string>>& SimPlatform::relaunch_requests() const {
    return state_->relaunches;
}

std::string SimPlatform::executable_path() {
    return state_->executable_path;
}
char SimPlatform::path_separator() const {
    return state_->separator;
}
bool SimPlatform::is_elevated() {
    return state_->elevated;
}

void SimPlatform::set_relaunch_result(int code, const std::string& failure) {
    state_->relaunch_code = code;
    state_->relaunch_failure = failure;
}

int SimPlatform::relaunch_elevated(int argc, char** argv, std::string& failure) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc && argv; ++i)
        arguments.push_back(argv[i] ? argv[i] : "");
    state_->relaunches.push_back(arguments);
    failure = state_->relaunch_failure;
    return state_->relaunch_code;
}

bool SimPlatform::is_terminal(std::FILE*) {
    return state_->terminal;
}

}  // namespace vtx::sim
