// Restarts, power loss, faults and the trace of the simulated platform.
#include <gtest/gtest.h>

#include "tests/sim/sim_helpers.h"

namespace vtx::test {
namespace {

using sim::BridgeConfig;
using sim::CommandFault;
using sim::SimPlatform;

constexpr int NOT_CONNECTED = sim::SIM_ERROR_DEVICE_NOT_CONNECTED;

TEST(SimBus, RestartLeavesTheBusAndComesBackUnderTheNextReturnPath) {
    SimPlatform sim;
    BridgeConfig config;
    config.boot_seconds = 4;
    config.return_paths = {"\\\\.\\PhysicalDrive3", "\\\\.\\f:"};
    sim::Bridge& bridge = sim.add_bridge(config);
    OsHandle h = sim.open_device(DRIVE1);
    SimReply r = restart(sim, h);
    EXPECT_TRUE(r.call_ok && r.status == 0);
    EXPECT_FALSE(bridge.on_bus());
    EXPECT_EQ(sim.open_device(DRIVE1), INVALID_OS_HANDLE);
    EXPECT_EQ(sim.last_error(), sim::SIM_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(vendor_in(sim, h, SUB_RUN_MODE, 0, 1).error, NOT_CONNECTED);
    sim.pause_ms(3999);
    EXPECT_FALSE(bridge.on_bus());
    sim.pause_ms(1);
    EXPECT_TRUE(bridge.on_bus());
    EXPECT_EQ(bridge.current_path(), "\\\\.\\PhysicalDrive3");
    // A handle belongs to one presence on the bus.
    EXPECT_EQ(vendor_in(sim, h, SUB_RUN_MODE, 0, 1).error, NOT_CONNECTED);
    EXPECT_EQ(sim.open_device(DRIVE1), INVALID_OS_HANDLE);
    OsHandle again = sim.open_device("\\\\.\\PhysicalDrive3");
    ASSERT_NE(again, INVALID_OS_HANDLE);

    restart(sim, again);
    sim.pause_ms(4000);
    EXPECT_EQ(bridge.config().volume_path, "\\\\.\\f:");
    EXPECT_NE(sim.open_device("\\\\.\\F:"), INVALID_OS_HANDLE);
    EXPECT_EQ(bridge.restart_count(), 2);
}

// A power cut in a flash data write: the prefix reaches flash, every bridge
// leaves the bus, and power-on wipes what the bridge held in memory.
TEST(SimBus, PowerLossDuringWriteKeepsOnlyThePrefix) {
    SimPlatform sim;
    sim::Bridge& bridge = sim.add_bridge({});
    sim::Bridge& other = sim.add_bridge(bridge_at("second", DRIVE2));
    OsHandle h = sim.open_device(DRIVE1);
    sim.power_loss_during_write(sim.command_count(), 1000);
    EXPECT_EQ(write_flash(sim, h, 0x8C060000, std::vector<uint8_t>(8192, 0x42)).error,
              NOT_CONNECTED);
    const std::vector<uint8_t> flash = bridge.read_flash(0x8C060000, 8192);
    EXPECT_EQ(flash[999], 0x42);
    EXPECT_EQ(flash[1000], 0xFF);
    EXPECT_FALSE(bridge.on_bus() || other.on_bus());
    sim.pause_ms(60000);
    EXPECT_FALSE(bridge.on_bus());

    sim.power_on();
    EXPECT_TRUE(bridge.on_bus() && other.on_bus());
    // The flash address set before the cut is gone with the power.
    EXPECT_EQ(data_write(sim, sim.open_device(DRIVE1), std::vector<uint8_t>(4096)).status, 2);
}

TEST(SimBus, PowerLossAfterACommandLetsItComplete) {
    SimPlatform sim;
    sim::Bridge& bridge = sim.add_bridge({});
    OsHandle h = sim.open_device(DRIVE1);
    sim.power_loss_after(sim.command_count() + 1);
    EXPECT_EQ(set_address(sim, h, 0x8C070000).status, 0);
    EXPECT_EQ(data_write(sim, h, std::vector<uint8_t>(4096, 7)).status, 0);
    EXPECT_FALSE(bridge.on_bus());
    EXPECT_EQ(bridge.read_flash(0x8C070FFF, 1)[0], 7);
}

TEST(SimBus, FaultsFailByIndexByKindAndByDevice) {
    SimPlatform sim;
    sim.add_bridge({});
    sim.add_bridge(bridge_at("second", DRIVE2));
    OsHandle h = sim.open_device(DRIVE1);
    CommandFault by_index;
    by_index.index = sim.command_count() + 1;
    by_index.scsi_status = 2;
    by_index.sense_key = 3;
    sim.add_fault(by_index);
    CommandFault by_kind;
    by_kind.opcode = OP_VENDOR_READ;
    by_kind.sub_command = SUB_VERSION;
    by_kind.skip = 1;
    by_kind.count = 2;
    by_kind.platform_error = sim::SIM_ERROR_GEN_FAILURE;
    sim.add_fault(by_kind);

    std::vector<int> mode_status, version_errors;
    for (int i = 0; i < 3; ++i)
        mode_status.push_back(vendor_in(sim, h, SUB_RUN_MODE, 0, 1).status);
    for (int i = 0; i < 4; ++i)
        version_errors.push_back(vendor_in(sim, h, SUB_VERSION, 0, 20).error);
    EXPECT_EQ(mode_status, (std::vector<int>{0, 2, 0}));
    EXPECT_EQ(version_errors, (std::vector<int>{0, 31, 31, 0}));
    const auto& trace = sim.trace();
    ASSERT_EQ(trace.size(), 7u);
    EXPECT_EQ(trace[1].index, by_index.index);
    EXPECT_EQ(trace[1].sense_key, 3);
    EXPECT_FALSE(trace[4].call_ok);
    EXPECT_EQ(trace[4].error, 31);
    EXPECT_EQ(trace[0].device, DRIVE1);

    CommandFault by_device;
    by_device.device = "second";
    by_device.count = -1;
    sim.add_fault(by_device);
    EXPECT_EQ(inquiry(sim, h).status, 0);
    EXPECT_EQ(inquiry(sim, sim.open_device(DRIVE2)).status, 2);
}

// Two platforms share nothing: the state of one never leaks into the other.
TEST(SimBus, PlatformsAreIndependent) {
    SimPlatform first, second;
    first.add_bridge({});
    second.add_bridge({});
    first.pause_ms(1000);
    first.corrupt_readbacks(5);
    OsHandle h = second.open_device(DRIVE1);
    EXPECT_EQ(second.now(), 0);
    EXPECT_EQ(vendor_in(second, h, SUB_MEMORY_READ, 0xAC004000, 16).data,
              std::vector<uint8_t>(16, 0xFF));
    EXPECT_EQ(second.command_count(), 1);
}

}  // namespace
}  // namespace vtx::test
