// The simulation's inner records, shared by the sim/*.cpp files only. All of
// it hangs off one World per SimPlatform, so two platforms share nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace vtx::sim {

namespace detail {

struct World;

// How a command ended, before the platform turns it into a call result.
struct Outcome {
    uint8_t status = 0;  // SCSI status byte
    uint8_t sense_key = 0, asc = 0, ascq = 0;
    int platform_error = 0;     // nonzero: the call itself fails
    bool restart = false;       // the bridge restarts once the command has completed
    uint8_t sense_length = 18;  // of the fixed-format sense data, 0 to 32
};

constexpr uint8_t STATUS_CHECK_CONDITION = 2;
constexpr uint8_t SENSE_NOT_READY = 2;
constexpr uint8_t SENSE_ILLEGAL_REQUEST = 5;
constexpr uint8_t ASC_INVALID_OPCODE = 0x20;
constexpr uint8_t ASC_OUT_OF_RANGE = 0x21;
constexpr uint8_t ASC_INVALID_FIELD_IN_CDB = 0x24;
constexpr uint8_t ASC_INVALID_FIELD_IN_DATA = 0x26;
constexpr uint8_t ASC_SEQUENCE_ERROR = 0x2C;
constexpr uint8_t ASC_NOT_READY = 0x04;
constexpr uint8_t ASC_NO_MEDIUM = 0x3A;

inline Outcome check_condition(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
    Outcome outcome;
    outcome.status = STATUS_CHECK_CONDITION;
    outcome.sense_key = key;
    outcome.asc = asc;
    outcome.ascq = ascq;
    return outcome;
}

inline Outcome illegal(uint8_t asc) {
    return check_condition(SENSE_ILLEGAL_REQUEST, asc);
}

// An opened device: which one, and in which of its presences on the bus.
struct Handle {
    bool is_bridge = false;
    size_t index = 0;
    long presence = 0;
    std::string path;
};

struct ActiveFault {
    CommandFault fault;
    long matched = 0;  // matching commands seen since the fault was added
};

// Whether an open of the device at `path` fails by an injected fault, and
// with which platform error.
bool open_fault(World& world, const std::string& path, const std::string& bridge_name, int& error);

// Case-insensitive path comparison, as the system's device namespace does.
bool same_path(const std::string& a, const std::string& b);
// "\\.\x:" names a lettered volume; everything else a physical drive.
bool is_volume_path(const std::string& path);
// chip_family from an INQUIRY revision string, else from the model string.
int family_of(const std::string& revision, const std::string& model);

// The 254 bytes of INQUIRY data of a bridge or a disk.
std::vector<uint8_t> bridge_inquiry(const BridgeConfig& config);
std::vector<uint8_t> disk_inquiry(const DiskConfig& config);
// Standard commands of the drive behind a bridge.
Outcome read_capacity(const BridgeConfig& config, ScsiCommand& command);
Outcome ata_pass_through(const BridgeConfig& config, ScsiCommand& command);
Outcome inquiry(const std::vector<uint8_t>& data, ScsiCommand& command);
Outcome run_disk_command(const DiskConfig& config, ScsiCommand& command);

// Copies up to `reply.size()` bytes into the command's buffer; the rest of
// the caller's buffer stays as it was, as after a short transfer.
void give_reply(ScsiCommand& command, const std::vector<uint8_t>& reply);

}  // namespace detail

struct Bridge::State {
    detail::World* world = nullptr;
    BridgeConfig config;
    std::map<uint32_t, std::vector<uint8_t>> flash;  // page address -> FLASH_UNIT bytes

    // Kept across restarts and power cycles, as the configuration is.
    int restart_count = 0;
    size_t next_return_path = 0;

    // The running bridge: all of it is set anew by every boot.
    bool powered = true;
    bool on_bus = false;
    bool returning = false;  // off the bus after a restart, coming back
    int64_t back_at_ms = 0;  // when it comes back
    long presence = 0;       // 0 while off the bus
    uint8_t mode = 0;        // 1 main, 2 rescue, 0 boot loader
    std::vector<uint8_t> running_header = std::vector<uint8_t>(IMAGE_HEADER_SIZE, 0xFF);
    std::optional<uint32_t> pending_address;
    int identity_failures_left = 0;

    std::vector<uint8_t> read(uint32_t address, uint32_t length) const;
    void write(uint32_t address, const uint8_t* data, uint32_t length);
    int family() const { return detail::family_of(config.revision, config.model); }

    void boot();           // power-on: runs what the header block names
    void leave_bus();      // gone: handles of this presence go stale
    void start_restart();  // off the bus, back after boot_seconds
    void come_back();      // the boot timer ran out
    uint8_t boot_mode(const std::vector<uint8_t>& header) const;
    bool payload_intact(const ImageHeader& header) const;

    detail::Outcome run_command(ScsiCommand& command);
};

namespace detail {

struct World {
    int64_t now_ms = 0;
    bool real_time = false;

    std::vector<std::unique_ptr<Bridge::State>> bridge_states;
    std::vector<std::unique_ptr<Bridge>> bridges;
    std::vector<DiskConfig> disks;
    std::map<OsHandle, Handle> handles;
    OsHandle next_handle = 0x100;
    long presence_counter = 0;

    std::vector<TraceEntry> trace;
    long command_count = 0;
    long open_count = 0;
    int last_error = 0;

    std::vector<ActiveFault> faults;
    int corrupt_readbacks = 0;
    std::optional<long> power_loss_after;
    std::optional<long> power_loss_write;
    uint32_t power_loss_prefix = 0;
    long current_index = -1;  // the command being run
    std::function<void(long)> command_hook;

    std::string executable_path = "C:\\vtx\\vtx_fwupdate.exe";
    char separator = '\\';
    bool elevated = true;
    bool terminal = false;
    std::vector<std::vector<std::string>> relaunches;
    int relaunch_code = 0;
    std::string relaunch_failure;

    Bridge::State& new_bridge(const BridgeConfig& config);
    // Brings back every bridge whose boot time has come.
    void tick();
    // Every bridge leaves the bus, restart timers and all.
    void lose_power();
    void power_on();
};

}  // namespace detail

struct SimPlatform::State : detail::World {};

}  // namespace vtx::sim
