// The fault campaign over a whole update that starts in the main firmware and
// one that starts in the rescue firmware. The test run tries a sample of the
// points; VTX_FAULT_CAMPAIGN=full (scripts/fault-campaign.sh) tries every
// command and every write prefix, and prints each point that did not end on
// the new firmware with the new parameters and LED image.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "tests/fault/campaign.h"
#include "update/progress.h"
#include "vtx/testing/buffer_hooks.h"

namespace vtx::test::fault {
namespace {

struct Window {
    long start = -1;  // the write that puts the new image header into flash
    long end = -1;    // the final restart
};

Window window_of(const std::vector<TraceLine>& reference) {
    Window window;
    for (const TraceLine& line : reference) {
        if (line.new_header && window.start < 0)
            window.start = line.index;
        if (line.is(OP_VENDOR_WRITE, SUB_RESTART))
            window.end = line.index;
    }
    return window;
}

// Where the update starts, and the layout of its firmware image: the lead
// region on the header block, or 0x5000 bytes from 0x8C000000 that cover it
// from below, written in chunks of 32768 bytes.
struct Campaign {
    Start start;
    bool low_lead_region;
};

std::string campaign_name(const Campaign& campaign) {
    return std::string(start_name(campaign.start)) +
           (campaign.low_lead_region ? ", low lead region" : "");
}

class FaultCampaign : public ::testing::TestWithParam<Campaign> {};

TEST_P(FaultCampaign, EveryFaultEndsOnTheNewFirmwareWithItsParametersAndLedImage) {
    UpdateOptions options;
    options.low_lead_region = GetParam().low_lead_region;
    if (options.low_lead_region)
        options.max_transfer = 32768;
    UpdateSet set(GetParam().start, options);
    ASSERT_EQ(set.new_header.size(), IMAGE_HEADER_SIZE) << "the update's files were not made";
    ASSERT_EQ(set.new_area.size(), 2048u);
    ASSERT_NE(set.new_area, set.old_area);

    // The reference run: a clean update, whose commands the points aim at.
    TempDir work;
    RunPlan reference_plan = traced_run(set.base_state, work);
    RunRecord reference_run = run_tool_in_child(set, reference_plan);
    ASSERT_EQ(reference_run.code, 0) << reference_run.out << reference_run.err;
    ASSERT_TRUE(converged(set, reference_run.after)) << reference_run.out;
    std::vector<TraceLine> reference = read_trace(reference_plan.trace_out);
    ASSERT_FALSE(reference.empty());
    Window window = window_of(reference);
    ASSERT_GE(window.start, 0);
    ASSERT_GT(window.end, window.start);

    bool full = full_campaign();
    std::vector<FaultPoint> points = campaign_points(reference, full);
    // The layout changes what power losses leave in flash once the firmware
    // image is being written, not how the transport fails.
    if (options.low_lead_region) {
        long first_restart = -1;
        for (const TraceLine& line : reference) {
            if (first_restart < 0 && line.is(OP_VENDOR_WRITE, SUB_RESTART))
                first_restart = line.index;
        }
        // The sample keeps the losses inside a write.
        std::erase_if(points, [first_restart, full](const FaultPoint& point) {
            return !is_power_loss(point.kind) || point.index < first_restart ||
                   (!full && point.kind != FaultKind::kPowerLossInWrite);
        });
    }
    std::map<FaultKind, Figures> by_kind;
    Figures total;
    std::vector<std::string> unconverged;
    for (const FaultPoint& point : points) {
        PointResult result = run_point(set, point, window.start, window.end);
        by_kind[point.kind].add(result);
        total.add(result);
        std::string report = point_report(result);
        // Invariants that hold at every point.
        EXPECT_FALSE(result.crashed) << report;
        EXPECT_FALSE(result.wrong_success) << report;
        EXPECT_FALSE(result.lost_contact) << report;
        EXPECT_FALSE(result.unbootable) << report;
        // The LED image and the parameters go in before the new firmware's
        // header, so no point may leave the bridge on the new firmware
        // without them: every one converges.
        EXPECT_GE(result.converged_after, 0) << report;
        if (result.converged_after < 0)
            unconverged.push_back(report);
    }

    std::vector<std::pair<std::string, Figures>> rows;
    for (const auto& [kind, figures] : by_kind)
        rows.push_back({campaign_name(GetParam()) + " / " + fault_name(kind), figures});
    rows.push_back({campaign_name(GetParam()) + " / all", total});
    std::printf(
        "\nFault campaign, update from the %s firmware (%s, %zu commands in the "
        "reference run, window %ld to %ld):\n%s",
        campaign_name(GetParam()).c_str(), full ? "every point" : "a sample", reference.size(),
        window.start, window.end, figures_table(rows).c_str());
    if (full) {
        for (const std::string& report : unconverged)
            std::printf("  %s\n", report.c_str());
    }
    std::fflush(stdout);

    // The parent never ran tool code: every run had a process of its own.
    EXPECT_EQ(fw_done_bytes, 0);
    EXPECT_EQ(buffer_allocation_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Starts, FaultCampaign,
                         ::testing::Values(Campaign{Start::kMainFirmware, false},
                                           Campaign{Start::kRescueFirmware, false},
                                           Campaign{Start::kMainFirmware, true}),
                         [](const ::testing::TestParamInfo<Campaign>& param) {
                             return std::string(start_name(param.param.start)) + "Firmware" +
                                    (param.param.low_lead_region ? "LowLeadRegion" : "");
                         });

}  // namespace
}  // namespace vtx::test::fault
