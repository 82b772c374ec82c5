// Two ways an update could be talked into leaving a bridge worse off, found
// while measuring its faults: an LED image over a firmware image, and a rescue
// firmware that reports the version the update brings. Runs go through the
// campaign's forked runner, so this program's own process never runs tool code.
#include <gtest/gtest.h>

#include "tests/fault/campaign.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::fault {
namespace {

// Written after the firmware image's body, an LED image placed over it would
// overwrite it: the bridge would restart into its boot loader, and every rerun
// would install the same pair again. It is refused (-8) before anything is
// written.
TEST(HostileInput, LedImageOverTheFirmwareBodyIsRefusedBeforeAnyWrite) {
    UpdateOptions options;
    options.led_address = imagemaker::MAIN_BODY_ADDRESS + 0x10000;
    UpdateSet set(Start::kMainFirmware, options);
    ASSERT_EQ(set.new_header.size(), IMAGE_HEADER_SIZE);
    TempDir work;
    RunSpec plan = traced_run(set.base_state, work);
    RunRecord run = run_tool_in_child(set, plan);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("Firmware update failed (ret=-8, last_error=-8)"), std::string::npos)
        << run.out << run.err;
    long writes = 0;
    for (const TraceLine& line : read_trace(plan.trace_out))
        writes += line.opcode == OP_VENDOR_WRITE;
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(run.after.mode, 1) << "the bridge no longer runs a firmware";
}

// A bridge left in its rescue firmware (power lost while the main image was
// written) whose rescue image reports the version the firmware file promises
// must not pass for updated: the update runs whenever the bridge does not run
// its main firmware, and ends with the bridge on the new one.
TEST(HostileInput, BridgeInItsRescueFirmwareIsUpdatedEvenWhenItReportsTheExpectedVersion) {
    UpdateOptions options;
    options.rescue_reports_new_version = true;
    UpdateSet set(Start::kRescueFirmware, options);
    ASSERT_EQ(set.new_header.size(), IMAGE_HEADER_SIZE);
    TempDir work;
    RunSpec plan = traced_run(set.base_state, work);
    RunRecord run = run_tool_in_child(set, plan);
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(converged(set, run.after)) << run.out << run.err;
}

}  // namespace
}  // namespace vtx::test::fault
