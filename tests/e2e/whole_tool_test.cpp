// Whole runs of the tool over the simulated platform: every ending of the
// start, the device check and the update run, with standard output,
// standard error and the exit code as the user gets them.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tools/imagemaker/image_builder.h"
#include "update/progress.h"

namespace vtx::test::e2e {
namespace {

const FirmwareVersion OLD{1, 2, 3, 0, 20240115};
const FirmwareVersion NEW{1, 2, 4, 0, 20240615};
const std::string INPUT = "kx";  // the key wait takes the 'k'

using Trace = std::vector<sim::TraceEntry>;

// One ending of the device check or the update run. A case that breaks the
// run at a given command finds that command in the trace of a clean run of
// the same setup: command indexes count from the platform's creation, so they
// are the same in both runs.
struct DeviceCase {
    const char* name;
    std::function<void(CountingSim&)> setup;
    std::function<void(CountingSim&, const Trace& clean)> fault;
    std::string out;  // after the start lines, before the key wait
    std::string err;
    int code;
    bool bad_cfg = false;
    std::function<void(CountingSim&, const Trace& clean)> check = nullptr;
};

std::function<void(CountingSim&)> bridge_running(const FirmwareVersion& version) {
    return [version](CountingSim& sim) { add_sample_bridge(sim, version); };
}

// A bridge on 1.2.3 whose path after each restart is PhysicalDrive5, then 7.
void back_as_drive_7(CountingSim& sim) {
    add_sample_bridge(sim, OLD).config().return_paths = {"\\\\.\\PhysicalDrive5",
                                                         "\\\\.\\PhysicalDrive7"};
}

// The last command of the update itself: the scans of the reconnect wait
// come a whole pause later.
long last_update_command(const Trace& clean) {
    double reconnect_time = clean.back().time;
    return last_index(clean, [&](const sim::TraceEntry& e) { return e.time < reconnect_time; });
}

long first_version_read(const Trace& clean) {
    for (const sim::TraceEntry& entry : clean) {
        if (is_version_read(entry))
            return entry.index;
    }
    return -1;
}

const std::string UPDATED =
    "[INFO] Proceeding with firmware update...\n"
    "[INFO] Firmware update completed successfully.\n"
    "[INFO] Waiting for device to reconnect...\n";
const std::string RECONNECTED = UPDATED + "[INFO] Device reconnected: \\\\.\\PhysicalDrive1\n";

std::vector<DeviceCase> device_cases(const UpdateFiles& files) {
    return {
        {"no bridge", [](CountingSim& sim) { sim.add_disk(sim::DiskConfig{}); }, nullptr,
         "[INFO] Scanning for devices...\n", "[ERROR] No device found by dev_scan\n", 1},
        {"bridge gone between the scan and the open", bridge_running(OLD),
         [](CountingSim& sim, const Trace& clean) {
             sim.power_loss_after(first_version_read(clean) - 1);
         },
         found_lines(), "[ERROR] Failed to open device: \\\\.\\PhysicalDrive1\n", 1},
        {"same version and date", bridge_running(NEW), nullptr,
         found_lines() + current_line("1.2.4", "061524", "20240615") +
             "[INFO] FW version and build date are the same, skip update.\n",
         "", 0, false,
         [](CountingSim& sim, const Trace&) {
             EXPECT_TRUE(commands(sim, OP_VENDOR_WRITE).empty());
         }},
        {"rescue firmware that reports the expected version",
         [](CountingSim& sim) {
             sim::Bridge& bridge = add_sample_bridge(sim, OLD);
             imagemaker::ImageRecipe recipe = imagemaker::rescue_recipe_for_chip(CHIP_ID, CHIP_REV);
             recipe.version = NEW;
             bridge.install_image(imagemaker::build_firmware_image(recipe));
         },
         nullptr,
         found_lines() + current_line("1.2.4", "061524", "20240615") +
             "[INFO] Bridge runs its rescue firmware, proceed with update.\n" + update_lines(),
         "", 0},
        {"version read fails", bridge_running(NEW),
         [](CountingSim& sim, const Trace&) {
             sim.add_fault(failing(OP_VENDOR_READ, SUB_VERSION));
         },
         found_lines() +
             "[WARNING] Failed to read current FW version (ret=2), proceed with update...\n" +
             update_lines(),
         "", 0},
        // What the bridge then holds is checked after the fault campaign's
        // reference run, command by command in the trace comparison.
        {"version differs", bridge_running(OLD), nullptr, differs_lines() + update_lines(), "", 0},
        {"only the date differs", bridge_running({1, 2, 4, 0, 20240614}), nullptr,
         found_lines() + current_line("1.2.4", "061424", "20240614") +
             "[INFO] Build date differs: expected 061524, current 061424\n" + update_lines(),
         "", 0},
        {"build date of seven digits", bridge_running({1, 2, 4, 0, 2024061}), nullptr,
         found_lines() + current_line("1.2.4", "", "2024061") +
             "[INFO] Build date differs: expected 061524, current \n" + update_lines(),
         "", 0},
        {"update failed", bridge_running(OLD), nullptr,
         differs_lines() + "[INFO] Proceeding with firmware update...\n",
         "[ERROR] Firmware update failed (ret=-9, last_error=-9)\n", 1, true,
         [](CountingSim& sim, const Trace&) {
             EXPECT_TRUE(commands(sim, OP_VENDOR_WRITE).empty());
             EXPECT_EQ(fw_done_bytes, 0);
         }},
        {"no reconnect within 30 attempts", bridge_running(OLD),
         [](CountingSim& sim, const Trace& clean) {
             sim.power_loss_after(last_update_command(clean));
         },
         differs_lines() + UPDATED, "[WARNING] Device did not reconnect within 30 seconds.\n", 0,
         false,
         [](CountingSim& sim, const Trace& clean) {
             // Thirty pauses of a second after the update's last command.
             double update_end = 0;
             for (const sim::TraceEntry& e : clean) {
                 if (e.index == last_update_command(clean))
                     update_end = e.time;
             }
             EXPECT_DOUBLE_EQ(sim.now(), update_end + 30.0);
         }},
        {"reconnected, cannot be opened", bridge_running(OLD),
         [](CountingSim& sim, const Trace& clean) {
             sim.power_loss_after(last_index(clean, is_version_read) - 1);
         },
         differs_lines() + RECONNECTED, "[WARNING] Failed to open device after update.\n", 0},
        {"reconnected, the open fails",  // as a description sets it up
         bridge_running(OLD),
         [&files](CountingSim& sim, const Trace& clean) {
             std::string error;
             ASSERT_TRUE(sim::load_description(
                 files.dir.write("faults.txt",
                                 "[fault]\nopen = yes\nindex = " +
                                     std::to_string(last_index(clean, is_version_read)) + "\n"),
                 sim, error))
                 << error;
         },
         differs_lines() + RECONNECTED, "[WARNING] Failed to open device after update.\n", 0},
        {"identity word changes with the restart into the rescue firmware",
         [](CountingSim& sim) {
             add_sample_bridge(sim, OLD).config().identity_after_restart = 0x0BADF00D;
         },
         nullptr, differs_lines() + "[INFO] Proceeding with firmware update...\n",
         "[ERROR] Firmware update failed (ret=-4, last_error=-4)\n", 1, false,
         [](CountingSim& sim, const Trace&) {
             // Not found again by its old word: the update stops in the rescue firmware.
             EXPECT_EQ(sim.bridges()[0]->restart_count(), 1);
             EXPECT_EQ(sim.bridges()[0]->mode_reply(), 2);
         }},
        {"version reply without a zero byte",
         [](CountingSim& sim) {
             add_sample_bridge(sim, OLD).config().version_reply.assign(20, '9');
         },
         nullptr,
         found_lines() +
             "[INFO] Current FW version: 960051513.960051513.960051513, build date: 515100 "
             "(yyyymmdd: 960051513)\n"
             "[INFO] FW version differs: expected 1.2.4, current 960051513.960051513.960051513\n" +
             RECONNECTED +
             "[INFO] New FW version: 960051513.960051513.960051513, build date: 960051513\n",
         "", 0},
        {"reconnected, version read fails", bridge_running(OLD),
         [](CountingSim& sim, const Trace& clean) {
             sim::CommandFault fault = failing(OP_VENDOR_READ, SUB_VERSION);
             fault.index = last_index(clean, is_version_read);
             sim.add_fault(fault);
         },
         differs_lines() + RECONNECTED, "[WARNING] Failed to read firmware version after update.\n",
         1},
        {"back under another path", back_as_drive_7, nullptr,
         differs_lines() + update_lines("\\\\.\\PhysicalDrive7"), "", 0, false,
         [](CountingSim& sim, const Trace&) {
             auto reads = commands(sim, OP_VENDOR_READ, SUB_VERSION);
             ASSERT_FALSE(reads.empty());
             EXPECT_EQ(reads.back().device, "\\\\.\\PhysicalDrive7");
         }},
        // Listed first on the bus, the other bridge is not the one the update
        // re-found: the report names ours and reads its new version.
        {"another bridge with our identity word appears during the final restart", back_as_drive_7,
         [](CountingSim& sim, const Trace& clean) {
             const long restart = last_index(clean, [](const sim::TraceEntry& e) {
                 return e.cdb[0] == OP_VENDOR_WRITE && e.cdb[4] == SUB_RESTART;
             });
             sim.set_command_hook([&sim, restart](long index) {
                 if (index == restart + 1 && sim.bridges().size() == 1)
                     add_sample_bridge(sim, OLD, "\\\\.\\PhysicalDrive0").config().name = "twin";
             });
         },
         differs_lines() + update_lines("\\\\.\\PhysicalDrive7"), "", 0, false,
         [](CountingSim& sim, const Trace&) {
             sim.set_command_hook(nullptr);
             ASSERT_EQ(sim.bridges().size(), 2u);
             EXPECT_EQ(sim.bridges()[1]->restart_count(), 0);
             for (const sim::TraceEntry& entry : commands(sim, OP_VENDOR_WRITE))
                 EXPECT_NE(entry.bridge, "twin");
             EXPECT_EQ(commands(sim, OP_VENDOR_READ, SUB_VERSION).back().bridge,
                       sim.bridges()[0]->config().name);
         }},
        {"two bridges, the first is used",
         [](CountingSim& sim) {
             add_sample_bridge(sim, OLD, "\\\\.\\PhysicalDrive2", 0x11111111);
             add_sample_bridge(sim, NEW, "\\\\.\\PhysicalDrive4", 0x22222222);
         },
         nullptr, differs_lines("\\\\.\\PhysicalDrive2") + update_lines("\\\\.\\PhysicalDrive2"),
         "", 0, false,
         [](CountingSim& sim, const Trace&) {
             EXPECT_EQ(sim.bridges()[1]->restart_count(), 0);
             for (const sim::TraceEntry& entry : commands(sim, OP_VENDOR_WRITE))
                 EXPECT_EQ(entry.device, "\\\\.\\PhysicalDrive2");
         }},
    };
}

TEST(WholeTool, EveryEndingOfTheDeviceCheckAndTheUpdateRun) {
    UpdateFiles files;
    for (const DeviceCase& c : device_cases(files)) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = files.args(c.bad_cfg ? files.bad_cfg : "");
        Trace clean;
        if (c.fault || c.check) {
            InstalledSim twin;
            c.setup(twin.sim());
            run_tool(args, INPUT);
            clean = twin->trace();
        }
        InstalledSim sim;
        c.setup(sim.sim());
        if (c.fault)
            c.fault(sim.sim(), clean);
        // Left by an earlier run in this process: the counters start from
        // zero, and the result printed is this run's.
        fw_last_error = -4;
        fw_done_bytes = 12345;
        ToolRun run = run_tool(args, INPUT);
        std::string start =
            start_lines(files.bin, files.rescue, c.bad_cfg ? files.bad_cfg : files.cfg, files.led);
        EXPECT_EQ(run.code, c.code);
        EXPECT_EQ(run.out, start + c.out + KEY_WAIT);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.input_left, "x");
        EXPECT_EQ(sim->open_handles(), 0);
        if (c.check)
            c.check(sim.sim(), clean);
    }
}

}  // namespace
}  // namespace vtx::test::e2e
