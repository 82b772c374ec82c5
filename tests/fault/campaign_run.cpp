// One run of the whole tool in a forked child, over a bridge loaded from a
// state file into a new SimPlatform; and the runs of one fault point.
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/startup.h"
#include "sim/sim.h"
#include "tests/fault/campaign.h"
#include "vtx/bytes.h"

namespace vtx::test::fault {

namespace {

// Exit codes of a child that could not do its part; the tool itself ends
// with 0 or 1.
constexpr int CHILD_LOAD_FAILED = 90;
constexpr int CHILD_SAVE_FAILED = 91;
constexpr long NEVER = LONG_MAX;

void apply_fault(sim::SimPlatform& sim, const FaultPoint& point) {
    sim::CommandFault fault;
    switch (point.kind) {
        case FaultKind::kNone:
            return;
        case FaultKind::kPowerLossAfter:
            sim.power_loss_after(point.index);
            return;
        case FaultKind::kPowerLossInWrite:
            sim.power_loss_during_write(point.index, point.prefix);
            return;
        case FaultKind::kCheckCondition:
            fault.index = point.index;
            fault.scsi_status = 2;
            fault.sense_key = 0x0B;  // ABORTED COMMAND
            fault.asc = 0x47;
            break;
        case FaultKind::kPlatformError:
            fault.index = point.index;
            fault.platform_error = sim::SIM_ERROR_SEM_TIMEOUT;
            break;
        case FaultKind::kGeneralFailure:
            // Any command: the k-th from the start of the run and the next
            // four, which are the transport's retries of it.
            fault.skip = point.index;
            fault.count = 5;
            fault.platform_error = sim::SIM_ERROR_GEN_FAILURE;
            break;
    }
    sim.add_fault(fault);
}

void write_trace(const sim::SimPlatform& sim, const std::vector<uint8_t>& new_header,
                 const std::string& path) {
    std::ofstream out(path);
    uint32_t set_address = 0;
    for (const sim::TraceEntry& entry : sim.trace()) {
        uint32_t address = load_le32(entry.cdb + 8);
        bool header = false;
        if (entry.cdb[0] == OP_VENDOR_WRITE && entry.cdb[4] == SUB_SET_FLASH_ADDRESS)
            set_address = address;
        if (entry.cdb[0] == OP_VENDOR_WRITE && entry.cdb[4] == SUB_FLASH_DATA_WRITE) {
            address = set_address;
            header = address == HEADER_BLOCK_ADDRESS && entry.data.size() >= IMAGE_HEADER_SIZE &&
                     std::equal(new_header.begin(), new_header.end(), entry.data.begin());
        }
        out << entry.index << ' ' << int(entry.cdb[0]) << ' ' << int(entry.cdb[4]) << ' ' << address
            << ' ' << entry.length << ' ' << int(header) << '\n';
    }
}

// Write commands that reached any bridge but the first, the one the update is
// for: each is a byte sent where validation never looked.
void write_foreign_writes(sim::SimPlatform& sim, const std::string& path) {
    long count = 0;
    const std::string ours = sim.bridges().empty() ? "" : sim.bridges().front()->config().name;
    for (const sim::TraceEntry& entry : sim.trace())
        count += entry.cdb[0] == OP_VENDOR_WRITE && entry.call_ok && entry.bridge != ours;
    std::ofstream(path) << count << '\n';
}

// The child: a new platform from the state file, without the faults and
// power losses an earlier run left pending; the power back on when it was
// lost; the fault of this run; the whole tool; the state file for the next.
int child_run(const UpdateSet& set, const RunPlan& plan) {
    sim::SimPlatform sim;
    std::string error;
    if (!sim.load(plan.state_in, error))
        return CHILD_LOAD_FAILED;
    sim.clear_faults();
    sim.power_loss_after(NEVER);
    sim.power_loss_during_write(NEVER, 0);
    for (sim::Bridge* bridge : sim.bridges()) {
        if (!bridge->powered()) {
            sim.power_on();
            break;
        }
    }
    apply_fault(sim, plan.fault);
    if (plan.setup)
        plan.setup(sim);
    sim.clear_trace();
    platform_install(&sim);

    Args args(plan.args.empty() ? set.args() : plan.args);
    // The standard streams themselves go to the files, so that what the tool
    // writes past its console (the image reader's "fseek()" report) lands
    // where a user would see it.
    if (!std::freopen((plan.work_dir + "/out.txt").c_str(), "w", stdout) ||
        !std::freopen((plan.work_dir + "/err.txt").c_str(), "w", stderr) ||
        !std::freopen("/dev/null", "r", stdin))
        return CHILD_LOAD_FAILED;
    int code = vtx_main(args.argc(), args.argv(), Console{stdout, stderr, stdin});
    std::fflush(stdout);
    std::fflush(stderr);
    platform_install(nullptr);
    sim.set_command_hook(nullptr);
    if (plan.after)
        plan.after();
    write_foreign_writes(sim, plan.work_dir + "/foreign.txt");

    if (!plan.trace_out.empty())
        write_trace(sim, set.new_header, plan.trace_out);
    return sim.save(plan.state_out) ? code : CHILD_SAVE_FAILED;
}

bool same_version(const FirmwareVersion& a, const FirmwareVersion& b) {
    return a.major == b.major && a.minor == b.minor && a.patch == b.patch &&
           a.build_date == b.build_date;
}

bool header_new_or_old(const UpdateSet& set, const std::vector<uint8_t>& header) {
    return header == set.new_header || header == set.rescue_header || header == set.old_header;
}

BridgeView view_of(const UpdateSet& set, const std::string& state) {
    BridgeView view;
    sim::SimPlatform sim;
    if (!sim.load(state) || sim.bridges().empty())
        return view;
    sim::Bridge& bridge = *sim.bridges().front();
    if (!bridge.powered())
        sim.power_on();
    view.on_bus = bridge.on_bus();
    view.mode = bridge.mode_reply();
    view.version = bridge.running_version();
    std::vector<uint8_t> header = bridge.read_flash(HEADER_BLOCK_ADDRESS, IMAGE_HEADER_SIZE);
    view.header_new = header == set.new_header;
    view.header_accepted = header_new_or_old(set, header);
    std::vector<uint8_t> area = bridge.parameter_area();
    view.area_new = area == set.new_area;
    view.area_old = area == set.old_area;
    view.led_new =
        bridge.read_flash(set.led_address, uint32_t(set.led_image.size())) == set.led_image;
    bridge.boot();
    view.boot_mode = bridge.mode_reply();
    return view;
}

bool on_new_firmware(const UpdateSet& set, const BridgeView& view) {
    return view.on_bus && view.mode == 1 && same_version(view.version, set.new_version) &&
           view.boot_mode == 1 && view.header_new;
}

}  // namespace

RunPlan run_plan(const std::string& state_in, const TempDir& work, int run) {
    RunPlan plan;
    plan.state_in = state_in;
    plan.state_out = work.file("state" + std::to_string(run));
    plan.work_dir = work.path().string();
    return plan;
}

RunPlan traced_run(const std::string& state_in, const TempDir& work) {
    RunPlan plan = run_plan(state_in, work, 0);
    plan.trace_out = work.file("run.trace");
    return plan;
}

RunRecord run_tool_in_child(const UpdateSet& set, const RunPlan& plan) {
    RunRecord record;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(child_run(set, plan));
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        record.signal = -1;
        return record;
    }
    if (WIFEXITED(status))
        record.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        record.signal = WTERMSIG(status);
    record.out = read_text(plan.work_dir + "/out.txt");
    std::ifstream(plan.work_dir + "/foreign.txt") >> record.foreign_writes;
    record.err = read_text(plan.work_dir + "/err.txt");
    if (record.code == 0 || record.code == 1)
        record.after = view_of(set, plan.state_out);
    return record;
}

std::vector<TraceLine> read_trace(const std::string& path) {
    std::vector<TraceLine> lines;
    std::ifstream in(path);
    TraceLine line;
    int opcode, sub, header;
    while (in >> line.index >> opcode >> sub >> line.address >> line.length >> header) {
        line.opcode = uint8_t(opcode);
        line.sub_command = uint8_t(sub);
        line.new_header = header != 0;
        lines.push_back(line);
    }
    return lines;
}

bool converged(const UpdateSet& set, const BridgeView& view) {
    return on_new_firmware(set, view) && view.area_new && view.led_new;
}

PointResult run_point(const UpdateSet& set, const FaultPoint& point, long window_start,
                      long window_end) {
    PointResult result;
    result.point = point;
    result.in_window = point.index >= window_start && point.index <= window_end;
    TempDir work;
    std::string state = set.base_state;
    for (int run = 0; run <= MAX_RERUNS; ++run) {
        RunPlan plan = run_plan(state, work, run);
        if (run == 0)
            plan.fault = point;
        RunRecord record = run_tool_in_child(set, plan);
        state = plan.state_out;
        result.runs.push_back(record);
        if (record.code != 0 && record.code != 1) {
            result.crashed = true;
            return result;
        }
        if (run > 0 && (record.err.find("No device found") != std::string::npos ||
                        record.err.find("Failed to open device") != std::string::npos))
            result.lost_contact = true;
        // Success means the new firmware with the new parameter area.
        if (record.code == 0 && !(on_new_firmware(set, record.after) && record.after.area_new))
            result.wrong_success = true;
        if (result.converged_after < 0 && converged(set, record.after))
            result.converged_after = run;
        if (record.code == 0)
            break;  // a user stops at a run that ends well
    }
    const BridgeView& last = result.runs.back().after;
    if (!converged(set, last))
        result.converged_after = -1;
    result.unbootable = !last.on_bus || last.mode == 0 || last.boot_mode == 0;
    if (on_new_firmware(set, last)) {
        result.area_not_applied = last.area_old;
        result.area_lost = !last.area_old && !last.area_new;
        result.led_not_applied = !last.led_new;
    }
    return result;
}

}  // namespace vtx::test::fault
