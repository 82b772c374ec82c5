// A way an update could be talked into leaving a bridge worse off, found
// while measuring its faults: a rescue firmware that reports the version the
// update brings. Runs go through the
// campaign's forked runner, so this program's own process never runs tool code.
#include <gtest/gtest.h>

#include "tests/fault/campaign.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::fault {
namespace {

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
    RunPlan plan = traced_run(set.base_state, work);
    RunRecord run = run_tool_in_child(set, plan);
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(converged(set, run.after)) << run.out << run.err;
}

}  // namespace
}  // namespace vtx::test::fault
