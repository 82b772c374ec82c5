// The simulated bridge: a Platform whose devices are simulated bridges, plain
// USB disks and non-USB disks, in virtual time. It gives exactly the replies
// and effects of the bridge's command set, records a trace of every command,
// injects faults on demand, and saves its state to files so that a later
// program run can continue a bridge an earlier run left.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/platform/platform.h"
#include "tools/imagemaker/image_file.h"
#include "vtx/records.h"

namespace vtx::sim {

// Where an image header carries the version that the running firmware
// reports: five little-endian words (major, minor, patch, spare, build date)
// at header bytes 64 to 83, bytes the tool itself never interprets.
constexpr uint32_t IMAGE_VERSION_OFFSET = imagemaker::HEADER_VERSION_OFFSET;

// Platform error codes the simulation gives (the Windows values).
constexpr int SIM_ERROR_FILE_NOT_FOUND = 2;
constexpr int SIM_ERROR_ACCESS_DENIED = 5;
constexpr int SIM_ERROR_INVALID_HANDLE = 6;
constexpr int SIM_ERROR_GEN_FAILURE = 31;
constexpr int SIM_ERROR_INVALID_PARAMETER = 87;
constexpr int SIM_ERROR_SEM_TIMEOUT = 121;
constexpr int SIM_ERROR_DEVICE_NOT_CONNECTED = 1167;

// The drive behind a bridge.
struct DriveConfig {
    std::string serial = "SIM0000000000001";  // up to 20 characters
    std::string firmware = "1.0";             // up to 8
    std::string model = "Simulated SSD";      // up to 40
    uint64_t last_lba = 1953525167;
    uint32_t block_length = 512;
    uint32_t drive_kind = 1;   // 1: ATA security words are read
    uint32_t drive_state = 1;  // 1 or 3: identity is collected
    uint16_t security_status = 0x0021;
    uint16_t master_password_id = 0xFFFE;
    uint16_t erase_time = 0x0010;           // IDENTIFY word 89
    uint16_t enhanced_erase_time = 0x8010;  // IDENTIFY word 90
    bool capacity_fails = false;
};

struct BridgeConfig {
    std::string name = "bridge";                 // label in traces and state files
    std::string path = "\\\\.\\PhysicalDrive1";  // "" when it has no physical path
    std::string volume_path;                     // lettered volume, "" for none
    std::vector<std::string> return_paths;       // paths after each restart, in turn
    bool optical = false;                        // presents as the vendor's CD-ROM (device type 5)
    std::string vendor = "Vantrex ";             // INQUIRY 8..15
    std::string product = "USB Bridge      ";    // INQUIRY 16..31
    std::string optical_product = "USB CD-ROM      ";  // INQUIRY 16..31 when optical
    std::string revision = "2.01";                     // INQUIRY 32..35
    std::string model = "VTX4600";  // INQUIRY 44..51: up to 8 bytes, zero-filled after
    uint32_t chip_id = 0xA0020001;
    uint32_t chip_rev_register = 0x000A0000;  // chip_rev is its upper 16 bits
    uint32_t identity = 0x5A17C0DE;
    bool answers_identity_query = true;                  // false: only the fallback read gives it
    std::optional<uint32_t> max_transfer_reply = 65536;  // nullopt: the query is rejected
    uint32_t max_transfer = 65536;         // larger transfers fail with CHECK CONDITION
    double boot_seconds = 3;               // off the bus after a restart; < 0: never back
    int identity_failures_after_boot = 0;  // identity reads that fail after each boot
    // From the next restart on, the bridge reports this identity word.
    std::optional<uint32_t> identity_after_restart;
    // Not empty: the version query's reply, byte for byte (up to 20 bytes),
    // in place of the version in the running header.
    std::vector<uint8_t> version_reply;
    std::optional<DriveConfig> drive = DriveConfig{};
};

// A drive that is no bridge.
struct DiskConfig {
    std::string path = "\\\\.\\PhysicalDrive0";
    bool usb = true;
    uint8_t device_type = 0;
    std::string vendor = "Generic ";
    std::string product = "Flash Disk      ";
    std::string revision = "8.07";
};

// One command as the platform saw it.
struct TraceEntry {
    std::string device;  // the bridge's or disk's path at the time
    std::string bridge;  // the bridge's name; "" for a disk or a handle that names none
    uint8_t cdb[16] = {};
    bool data_in = false;
    uint32_t length = 0;
    std::vector<uint8_t> data;  // data sent, or data returned
    bool call_ok = true;        // false: the platform call failed
    int error = 0;              // platform error when !call_ok
    uint8_t scsi_status = 0;
    double time = 0;                           // virtual seconds
    long index = 0;                            // global command index
    uint8_t sense_key = 0, asc = 0, ascq = 0;  // when scsi_status is CHECK CONDITION
};

// A failure injected into commands. Matching commands are counted from when
// the fault is added; the first `skip` matches pass, then `count` fail (-1:
// every one after).
struct CommandFault {
    std::string device;    // "" any device, else a bridge name or device path
    int opcode = -1;       // -1 any
    int sub_command = -1;  // -1 any (vendor commands: CDB byte 4)
    int64_t address = -1;  // -1 any (vendor commands: CDB bytes 8 to 11, little-endian)
    long index = -1;       // >= 0: only the command with this global index
    long skip = 0;
    long count = 1;
    uint8_t scsi_status = 0;  // nonzero: the command completes with this status
    uint8_t sense_key = 0, asc = 0, ascq = 0;
    int platform_error = 0;  // nonzero: the platform call fails with this code
    // Opens of the device instead of its commands: a matching open fails with
    // platform_error (SIM_ERROR_ACCESS_DENIED when 0); `index` then names
    // the open made just before the command of that index.
    bool on_open = false;
    uint8_t sense_length = 18;  // sense bytes the device gives, 0 to 32
    // Nonzero: a data-in command completes with good status but moves this
    // many bytes fewer than asked (all of them when more); the rest of the
    // caller's buffer keeps what it held.
    uint32_t short_by = 0;
};

class Bridge;

class SimPlatform : public Platform {
  public:
    SimPlatform();
    ~SimPlatform() override;

    // Devices.
    Bridge& add_bridge(const BridgeConfig& config);
    void add_disk(const DiskConfig& config);
    Bridge* bridge(const std::string& name);
    std::vector<Bridge*> bridges();

    // Trace of every pass-through command, with a global index that counts
    // from the platform's creation.
    const std::vector<TraceEntry>& trace() const;
    void clear_trace();
    long command_count() const;
    long open_count() const;  // successful open_device calls

    // Called before every command and before every pause, with the global
    // index the next command gets: tests change the world there, at a step
    // boundary of the tool (replace an image file, attach another bridge while
    // the tool waits for a restart). Empty switches it off.
    void set_command_hook(std::function<void(long index)> hook);

    // Faults.
    void add_fault(const CommandFault& fault);
    void clear_faults();
    // The next `n` reads through the read window return data that differs
    // from flash.
    void corrupt_readbacks(int n);
    // Power is lost right after the command with global index `index`
    // completes; every bridge leaves the bus until power_on.
    void power_loss_after(long index);
    // Power is lost in the middle of the first flash data write whose command
    // has global index `index` or later: only its first `prefix` bytes reach
    // flash, and the call fails with SIM_ERROR_DEVICE_NOT_CONNECTED.
    void power_loss_during_write(long index, uint32_t prefix);
    // Powers every bridge on: each boots from what its flash holds, with all
    // other state as after a cold start.
    void power_on();

    // Virtual time. In real-time mode pauses also wait for real.
    double now() const;
    void set_real_time(bool real_time);

    // Process side, for the front end's tests.
    void set_executable_path(const std::string& path);
    void set_path_separator(char separator);
    void set_elevated(bool elevated);
    void set_terminal(bool terminal);
    const std::vector<std::vector<std::string>>& relaunch_requests() const;
    // What a relaunch request gives back (0 until set; -1 with `failure`: not started).
    void set_relaunch_result(int code, const std::string& failure = "");

    // State files: the devices, their configuration and their flash, in the
    // documented format of docs/simulator.md, closed by an end record with
    // the line count and CRC-32 of the rest; load refuses a file without it.
    bool save(const std::string& path) const;
    bool save(const std::string& path, std::string& error) const;
    bool load(const std::string& path);
    bool load(const std::string& path, std::string& error);  // "file: line N: reason"

    // Removes every device, handle, fault and trace entry; the clock stays.
    void clear_devices();
    const std::vector<DiskConfig>& disks() const;

    // Platform.
    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    int last_error() override;
    int general_failure_code() const override;
    std::string candidate_path(int pass, int index) override;
    bool is_usb(OsHandle handle) override;
    void pause_ms(unsigned milliseconds) override;
    double monotonic_seconds() override;
    std::string executable_path() override;
    char path_separator() const override;
    bool is_elevated() override;
    int relaunch_elevated(int argc, char** argv, std::string& failure) override;
    bool is_terminal(std::FILE* stream) override;

  private:
    friend bool load_description(const std::string& path, SimPlatform& sim, std::string& error);
    struct State;
    std::unique_ptr<State> state_;
};

// One simulated bridge. Its flash is sparse: bytes never written read 0xFF.
class Bridge {
  public:
    const BridgeConfig& config() const;
    BridgeConfig& config();

    std::vector<uint8_t> read_flash(uint32_t address, uint32_t length) const;
    void write_flash(uint32_t address, const uint8_t* data, uint32_t length);
    void write_flash(uint32_t address, const std::vector<uint8_t>& data);
    // Writes an image file's lead region and body where its header places
    // them, as a complete download would, keeping the parameter half of the
    // header block; then boots from flash.
    void install_image(const std::vector<uint8_t>& image_file);
    void set_parameter_area(const std::vector<uint8_t>& area2048);
    std::vector<uint8_t> parameter_area() const;

    // What runs: 1 main firmware, 2 rescue firmware, 0 boot loader.
    uint8_t mode_reply() const;
    FirmwareVersion running_version() const;
    bool on_bus() const;
    std::string current_path() const;
    int restart_count() const;

    // Restart as the restart command does (off the bus for boot_seconds).
    void restart();
    bool powered() const;
    // 0 or 1 from the INQUIRY revision, else the model string; -1 for neither.
    int family() const;
    // Boot from flash now, as after power-on.
    void boot();

    struct State;
    explicit Bridge(State* state);

  private:
    State* state_;
};

// A description file (docs/simulator.md) adds its bridges, disks, faults and
// process settings to `sim`. False with "file: line N: reason" in `error` on the
// first bad line; devices added before that line stay.
bool load_description(const std::string& path, SimPlatform& sim, std::string& error);

// Images come from the image maker's one builder (imagemaker::build_image),
// which also gives the simulation its CRC. The images the simulation makes
// itself, for a description's `firmware = ...`, keep their own content: a
// counting pattern in a 40960-byte body behind a zero-filled lead region.
using imagemaker::crc32;
using imagemaker::ImageRecipe;
constexpr ImageRecipe SIM_IMAGE_RECIPE{.body_size = 40960,
                                       .fill = imagemaker::ImageFill::kCounting};

}  // namespace vtx::sim
