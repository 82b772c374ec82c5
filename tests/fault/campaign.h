// The fault campaign: a whole update (firmware, rescue image, LED image,
// parameter file) over the simulated bridge, broken at every command by power
// loss or a transport failure, then run again as a user would, and the bridge
// judged by what it is left running and holding.
//
// Every run of the tool is a forked child: the tool's process-wide state
// (progress counters, the CRC table, anything a layer keeps in a static)
// starts as in a new process, because the parent never runs tool code. The
// bridge crosses from run to run only as a state file, loaded into a new
// SimPlatform by each child, with faults and pending power losses dropped:
// what carries over is the bridge, its flash and its configuration.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "tests/support/support.h"
#include "vtx/records.h"

namespace vtx::test::fault {

enum class Start { kMainFirmware, kRescueFirmware };
const char* start_name(Start start);

// The files of one update, the bridge before it (a state file), and what the
// bridge must hold after it.
struct UpdateOptions {
    // The firmware image's lead region of 0x5000 bytes from 0x8C000000, over
    // the header block from below, and the bridge's largest transfer.
    bool low_lead_region = false;
    uint32_t max_transfer = 65536;
};
struct UpdateSet {
    explicit UpdateSet(Start start, const UpdateOptions& options = {});
    Start start;
    TempDir dir;
    std::string bin, rescue, cfg, led;
    std::string base_state;
    std::vector<uint8_t> new_header;                 // the firmware image's first 2048 bytes
    std::vector<uint8_t> rescue_header, old_header;  // the rescue image's, the old firmware's
    std::vector<uint8_t> new_area;                   // the area the parameter file encodes to
    std::vector<uint8_t> old_area;                   // the area the bridge holds before
    std::vector<uint8_t> led_image;
    uint32_t led_address = 0;
    FirmwareVersion new_version;
    std::vector<std::string> args() const;  // program name and the four paths
};

enum class FaultKind {
    kNone,
    kPowerLossAfter,    // power lost right after command k completes
    kPowerLossInWrite,  // power lost in flash data write k, `prefix` bytes landed
    kCheckCondition,    // command k ends in CHECK CONDITION
    kPlatformError,     // the platform call of command k fails (time-out)
    kGeneralFailure,    // general failure (31) on command k and the four retries
};
const char* fault_name(FaultKind kind);
bool is_power_loss(FaultKind kind);

struct FaultPoint {
    FaultKind kind = FaultKind::kNone;
    long index = -1;
    uint32_t prefix = 0;
};
std::string point_text(const FaultPoint& point);

// One command of the reference run, as the campaign needs it.
struct TraceLine {
    long index = 0;
    uint8_t opcode = 0, sub_command = 0;
    uint32_t address = 0;  // flash data writes: the address set before them
    uint32_t length = 0;
    bool new_header = false;  // a header-block write that carries the new image header
    bool is(uint8_t op, uint8_t sub) const { return opcode == op && sub_command == sub; }
};

// The bridge as a run left it: what it runs now (after power-on when the
// power was lost), and what its flash holds.
struct BridgeView {
    bool on_bus = false;
    uint8_t mode = 0;  // 1 main, 2 rescue, 0 boot loader
    FirmwareVersion version;
    uint8_t boot_mode = 0;  // what it runs after its next power-on
    bool header_new = false, area_new = false, area_old = false, led_new = false;
    // The header block holds the header of an image validation accepted (the
    // new firmware, the rescue image) or of the firmware it ran before.
    bool header_accepted = false;
};

struct RunRecord {
    int code = -1;         // exit code, -1 when the child did not exit
    int signal = 0;        // the signal that ended the child, 0 for none
    std::string out, err;  // what the run printed
    BridgeView after;
    long foreign_writes = 0;  // write commands that reached a bridge other than the first
};

// Runs `work` in a forked child and gives its exit code (-1 when it did not
// exit by itself). Whatever runs tool code runs so.
int in_child(const std::function<int()>& work);

// One run of the tool in a forked child over the bridge of `state_in`.
struct RunPlan {
    std::string state_in, state_out;
    std::string work_dir;   // the run's output and error files go here
    FaultPoint fault;       // applied to this run only
    std::string trace_out;  // when set, the run's commands are written here
    // Also for this run only, in the child: changes to the bridge (its
    // configuration, faults of its own), and other arguments than set.args().
    std::function<void(sim::SimPlatform&)> setup;
    std::function<void()> after;  // in the child, once the tool has run
    std::vector<std::string> args;
};
// In the child: another bridge answering with the identity word of the first
// one, listed after it, running main or rescue firmware made for its chip.
void attach_twin(sim::SimPlatform& sim, uint32_t chip_id, bool rescue_firmware);
// VTX_FAULT_CAMPAIGN=full asks for every point instead of a sample.
bool full_campaign();

// The `run`-th run from `state_in`, whose files go into `work`; the traced
// one also writes its commands there.
RunPlan run_plan(const std::string& state_in, const TempDir& work, int run);
RunPlan traced_run(const std::string& state_in, const TempDir& work);
RunRecord run_tool_in_child(const UpdateSet& set, const RunPlan& plan);
std::vector<TraceLine> read_trace(const std::string& path);

// What one fault point came to.
struct PointResult {
    FaultPoint point;
    std::vector<RunRecord> runs;  // the broken run, then the reruns
    int converged_after = -1;     // reruns needed to converge; -1: did not
    bool crashed = false;
    bool lost_contact = false;      // a rerun found no bridge or could not open it
    bool unbootable = false;        // ends in the boot loader or off the bus
    bool wrong_success = false;     // exit 0 while the bridge is not on the new firmware
    bool area_not_applied = false;  // ends on the new firmware with the old area
    bool area_lost = false;         // ends on the new firmware with neither area
    bool led_not_applied = false;
    bool in_window = false;  // between the new header reaching flash and the final restart
};

constexpr int MAX_RERUNS = 3;

// The broken run and up to MAX_RERUNS reruns, each after the one before
// failed (a nonzero exit code); a bridge whose power was lost is powered on
// first, and every other run finds it as the run before left it.
PointResult run_point(const UpdateSet& set, const FaultPoint& point, long window_start,
                      long window_end);

bool converged(const UpdateSet& set, const BridgeView& view);

// The points of a campaign over a reference trace: every command (or a
// sample) for each fault kind, and prefixes of every flash data write.
std::vector<FaultPoint> campaign_points(const std::vector<TraceLine>& reference, bool full);

struct Figures {
    long tried = 0, converged = 0, within_one = 0, unbootable = 0, wrong_success = 0;
    long area_not_applied = 0, area_lost = 0, led_not_applied = 0;
    long crashed = 0, lost_contact = 0, worst_reruns = 0;
    void add(const PointResult& result);
};
// The table: one row per start and fault kind, and a total.
std::string figures_table(const std::vector<std::pair<std::string, Figures>>& rows);
std::string point_report(const PointResult& result);

}  // namespace vtx::test::fault
