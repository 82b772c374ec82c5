// Restarts, power loss, faults and the trace of the simulated platform.
#include <gtest/gtest.h>

#include "tests/sim/sim_helpers.h"

namespace vtx::test {
namespace {

using sim::BridgeConfig;
using sim::CommandFault;
using sim::SimPlatform;

const char* const DRIVE1 = "\\\\.\\PhysicalDrive1";

SimReply restart(SimPlatform& sim, OsHandle h) {
    return vendor_out(sim, h, SUB_RESTART, 0, {0, 0, 0, 0});
}

TEST(SimBus, RestartLeavesTheBusAndComesBackUnderTheNextReturnPath) {
    SimPlatform sim;
    BridgeConfig config;
    config.boot_seconds = 4;
    config.return_paths = {"\\\\.\\PhysicalDrive3", "\\\\.\\f:"};
    sim::Bridge& bridge = sim.add_bridge(config);
    OsHandle h = sim.open_device(DRIVE1);
    SimReply r = restart(sim, h);
    EXPECT_TRUE(r.call_ok);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(bridge.on_bus());
    EXPECT_EQ(sim.open_device(DRIVE1), INVALID_OS_HANDLE);
    EXPECT_EQ(sim.last_error(), sim::SIM_ERROR_FILE_NOT_FOUND);
    SimReply stale = vendor_in(sim, h, SUB_RUN_MODE, 0, 1);
    EXPECT_FALSE(stale.call_ok);
    EXPECT_EQ(stale.error, sim::SIM_ERROR_DEVICE_NOT_CONNECTED);

    sim.pause_ms(3999);
    EXPECT_FALSE(bridge.on_bus());
    sim.pause_ms(1);
    EXPECT_TRUE(bridge.on_bus());
    EXPECT_EQ(bridge.current_path(), "\\\\.\\PhysicalDrive3");
    // A handle belongs to one presence on the bus.
    EXPECT_EQ(vendor_in(sim, h, SUB_RUN_MODE, 0, 1).error, sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(sim.open_device(DRIVE1), INVALID_OS_HANDLE);
    OsHandle again = sim.open_device("\\\\.\\PhysicalDrive3");
    ASSERT_NE(again, INVALID_OS_HANDLE);

    restart(sim, again);
    sim.pause_ms(4000);
    EXPECT_EQ(bridge.config().volume_path, "\\\\.\\f:");
    EXPECT_NE(sim.open_device("\\\\.\\F:"), INVALID_OS_HANDLE);
    EXPECT_EQ(bridge.restart_count(), 2);
}

TEST(SimBus, BridgeWithNegativeBootTimeNeverComesBack) {
    SimPlatform sim;
    BridgeConfig config;
    config.boot_seconds = -1;
    sim::Bridge& bridge = sim.add_bridge(config);
    restart(sim, sim.open_device(DRIVE1));
    sim.pause_ms(3600 * 1000);
    EXPECT_FALSE(bridge.on_bus());
}

TEST(SimBus, IdentityReadsFailAfterEachBoot) {
    SimPlatform sim;
    BridgeConfig config;
    config.identity_failures_after_boot = 2;
    sim.add_bridge(config);
    OsHandle h = sim.open_device(DRIVE1);
    EXPECT_EQ(vendor_in(sim, h, SUB_IDENTITY, 0, 4).status, 2);
    EXPECT_EQ(vendor_in(sim, h, SUB_IDENTITY_FALLBACK, 0x7FC, 4).status, 2);
    EXPECT_EQ(vendor_in(sim, h, SUB_IDENTITY, 0, 4).status, 0);
    restart(sim, h);
    sim.pause_ms(3000);
    h = sim.open_device(DRIVE1);
    EXPECT_EQ(vendor_in(sim, h, SUB_IDENTITY, 0, 4).status, 2);
}

// A power cut in a flash data write: the prefix reaches flash, every bridge
// leaves the bus, and power-on wipes what the bridge held in memory.
TEST(SimBus, PowerLossDuringWriteKeepsOnlyThePrefix) {
    SimPlatform sim;
    sim::Bridge& bridge = sim.add_bridge({});
    BridgeConfig second;
    second.name = "second";
    second.path = "\\\\.\\PhysicalDrive2";
    sim::Bridge& other = sim.add_bridge(second);
    OsHandle h = sim.open_device(DRIVE1);
    sim.power_loss_during_write(sim.command_count(), 1000);
    SimReply r = write_flash(sim, h, 0x8C060000, std::vector<uint8_t>(8192, 0x42));
    EXPECT_FALSE(r.call_ok);
    EXPECT_EQ(r.error, sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    std::vector<uint8_t> flash = bridge.read_flash(0x8C060000, 8192);
    EXPECT_EQ(flash[999], 0x42);
    EXPECT_EQ(flash[1000], 0xFF);
    EXPECT_FALSE(bridge.on_bus());
    EXPECT_FALSE(other.on_bus());
    sim.pause_ms(60000);
    EXPECT_FALSE(bridge.on_bus());

    sim.power_on();
    EXPECT_TRUE(bridge.on_bus());
    EXPECT_TRUE(other.on_bus());
    h = sim.open_device(DRIVE1);
    // The flash address set before the cut is gone with the power.
    EXPECT_EQ(vendor_out(sim, h, SUB_FLASH_DATA_WRITE, 0, std::vector<uint8_t>(4096)).status, 2);
}

TEST(SimBus, PowerLossAfterACommandLetsItComplete) {
    SimPlatform sim;
    sim::Bridge& bridge = sim.add_bridge({});
    OsHandle h = sim.open_device(DRIVE1);
    sim.power_loss_after(sim.command_count() + 1);
    EXPECT_EQ(set_address(sim, h, 0x8C070000).status, 0);
    EXPECT_EQ(vendor_out(sim, h, SUB_FLASH_DATA_WRITE, 0, std::vector<uint8_t>(4096, 7)).status, 0);
    EXPECT_FALSE(bridge.on_bus());
    EXPECT_EQ(bridge.read_flash(0x8C070FFF, 1)[0], 7);
}

TEST(SimBus, FaultsFailByIndexAndByKind) {
    SimPlatform sim;
    sim.add_bridge({});
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

    EXPECT_EQ(mode_of(sim, h), 0);
    SimReply hit = vendor_in(sim, h, SUB_RUN_MODE, 0, 1);
    EXPECT_EQ(hit.status, 2);
    EXPECT_EQ(hit.sense_key, 3);
    EXPECT_EQ(vendor_in(sim, h, SUB_RUN_MODE, 0, 1).status, 0);

    std::vector<int> errors;
    for (int i = 0; i < 4; ++i)
        errors.push_back(vendor_in(sim, h, SUB_VERSION, 0, 20).error);
    EXPECT_EQ(errors, (std::vector<int>{0, 31, 31, 0}));

    const auto& trace = sim.trace();
    ASSERT_EQ(trace.size(), 7u);
    EXPECT_EQ(trace[1].index, by_index.index);
    EXPECT_EQ(trace[4].error, 31);
    EXPECT_FALSE(trace[4].call_ok);
    EXPECT_EQ(trace[0].device, DRIVE1);
}

TEST(SimBus, FaultsAimAtOneDevice) {
    SimPlatform sim;
    sim.add_bridge({});
    BridgeConfig second;
    second.name = "second";
    second.path = "\\\\.\\PhysicalDrive2";
    sim.add_bridge(second);
    CommandFault fault;
    fault.device = "second";
    fault.count = -1;
    sim.add_fault(fault);
    EXPECT_EQ(inquiry(sim, sim.open_device(DRIVE1)).status, 0);
    EXPECT_EQ(inquiry(sim, sim.open_device("\\\\.\\PhysicalDrive2")).status, 2);
}

TEST(SimBus, DiscoveryNamesAndClock) {
    SimPlatform sim;
    EXPECT_EQ(sim.candidate_path(0, 1), "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(sim.candidate_path(1, 0), "\\\\.\\c:");
    EXPECT_EQ(sim.candidate_path(1, 23), "\\\\.\\z:");
    sim::DiskConfig disk;
    disk.usb = false;
    sim.add_disk(disk);
    OsHandle h = sim.open_device("\\\\.\\PhysicalDrive0");
    EXPECT_FALSE(sim.is_usb(h));
    EXPECT_EQ(sim.open_device("\\\\.\\PhysicalDrive9"), INVALID_OS_HANDLE);
    sim.pause_ms(1500);
    EXPECT_DOUBLE_EQ(sim.monotonic_seconds(), 1.5);
}

// Two platforms share nothing: the state of one never leaks into the other.
TEST(SimBus, PlatformsAreIndependent) {
    SimPlatform first;
    SimPlatform second;
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
