// What the whole-tool tests share: a run of vtx_main over the simulated
// platform with captured streams, the sample files of an update, the
// bridges they update, and the message texts of a run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "tests/support/support.h"

namespace vtx::test::e2e {

constexpr const char* BRIDGE_PATH = "\\\\.\\PhysicalDrive1";
// The sample chip: a VTX4600-class bridge as the simulated bridge has it by
// default (chip id 0xA0020001, revision 10).
constexpr uint32_t CHIP_ID = 0xA0020001;
constexpr uint32_t CHIP_REV = 10;

// A simulated platform that also counts the opens and closes of devices, so a
// run can be checked for handles left open. Installed while it lives.
class CountingSim : public sim::SimPlatform {
  public:
    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    long open_handles() const { return open_handles_; }

  private:
    long open_handles_ = 0;
};

class InstalledSim {
  public:
    InstalledSim();
    ~InstalledSim();
    InstalledSim(const InstalledSim&) = delete;
    InstalledSim& operator=(const InstalledSim&) = delete;
    CountingSim& sim() { return sim_; }
    CountingSim* operator->() { return &sim_; }

  private:
    CountingSim sim_;
};

// The files of one update, in a temporary directory: firmware 1.2.4 of
// 15 June 2024 (named to say so), a rescue image, an LED image and a valid
// and an invalid parameter file.
struct UpdateFiles {
    UpdateFiles();
    TempDir dir;
    std::string bin, rescue, led, cfg, bad_cfg;
    // The tool's command line: program name and the four paths.
    std::vector<std::string> args(const std::string& cfg_path = "") const;
};

// Adds the sample bridge at `path`, running main firmware `version`.
sim::Bridge& add_sample_bridge(sim::SimPlatform& sim, const FirmwareVersion& version,
                               const std::string& path = BRIDGE_PATH,
                               uint32_t identity = 0x5A17C0DE);

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
    std::string input_left;  // what the key wait did not read
};
// One whole run of the tool on the installed platform, with `input` as its
// standard input.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& input = "");

// Message texts of a run.
// Banner to the expected version 1.2.4 of 061524.
std::string start_lines(const std::string& bin, const std::string& rescue, const std::string& cfg,
                        const std::string& led);
std::string current_line(const char* version, const char* date, const char* yyyymmdd);
std::string found_lines(const std::string& path = BRIDGE_PATH);    // scanning, found
std::string differs_lines(const std::string& path = BRIDGE_PATH);  // found 1.2.3, which differs
std::string update_lines(const std::string& reconnect_path = BRIDGE_PATH);  // to New FW version
extern const char* const KEY_WAIT;

// Global index of the last trace entry that `match` accepts, -1 for none.
long last_index(const std::vector<sim::TraceEntry>& trace,
                const std::function<bool(const sim::TraceEntry&)>& match);
bool is_version_read(const sim::TraceEntry& entry);

}  // namespace vtx::test::e2e
