// A platform that gives back, call by call, what the simulated bridge answered
// in one recorded update. Replayed, the update runs the tool's code alone: no
// simulation, and no clock read per platform call to take the simulation's
// time out again, so two clock reads around the whole update measure it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/platform/platform.h"
#include "sim/sim.h"

namespace vtx::bench {

enum class Call : uint8_t {
    OPEN,
    CLOSE,
    PASS_THROUGH,
    LAST_ERROR,
    CANDIDATE,
    IS_USB,
    PAUSE,
    CLOCK
};

// One platform call and its outcome.
struct Reply {
    Call call = Call::OPEN;
    int64_t result = 0;  // handle, bool or error code
    double seconds = 0;  // the clock's reading
    std::string path;    // a candidate's path
    uint8_t cdb[16] = {};
    uint32_t length = 0;
    bool data_in = false;
    uint8_t scsi_status = 0;
    uint8_t sense[32] = {};
    std::vector<uint8_t> data;  // what a data-in command returned
};

struct Recording {
    std::vector<Reply> replies;
    int general_failure = 0;
    long commands = 0;           // pass-through commands
    uint64_t command_bytes = 0;  // their data, both directions
};

// The simulated bridge, with every call the tool makes written down.
class RecordingSim : public sim::SimPlatform {
  public:
    Recording recording;

    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    int last_error() override;
    std::string candidate_path(int pass, int index) override;
    bool is_usb(OsHandle handle) override;
    void pause_ms(unsigned milliseconds) override;
    double monotonic_seconds() override;

  private:
    Reply& add(Call call);
};

// Replays a recording from its start; a call that differs from the recorded
// one (another kind, another command block) marks the replay as gone astray.
class ReplayPlatform : public Platform {
  public:
    explicit ReplayPlatform(const Recording& recording) : recording_(recording) {}
    void rewind() { next_ = 0, astray_ = false; }
    // Every recorded call was made, in order, and no other.
    bool replayed_whole() const { return !astray_ && next_ == recording_.replies.size(); }

    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    int last_error() override;
    int general_failure_code() const override { return recording_.general_failure; }
    std::string candidate_path(int pass, int index) override;
    bool is_usb(OsHandle handle) override;
    void pause_ms(unsigned milliseconds) override;
    double monotonic_seconds() override;
    std::string executable_path() override { return ""; }
    char path_separator() const override { return '\\'; }
    bool is_elevated() override { return true; }
    int relaunch_elevated(int, char**, std::string&) override { return 0; }
    bool is_terminal(std::FILE*) override { return false; }

  private:
    const Reply* take(Call call);
    const Recording& recording_;
    size_t next_ = 0;
    bool astray_ = false;
};

// A recording to a file and back, for the update in a fresh process.
bool save_recording(const Recording& recording, const std::string& path);
bool load_recording(const std::string& path, Recording& recording);

}  // namespace vtx::bench
