// The campaign's safety points: an image file replaced or changed in place
// before any command of an update, and a second bridge with the same identity
// word, present from the start or appearing during a restart. At every point:
// no write reaches a bridge other than the validated one, the bridge boots
// only an image validation accepted (or the one it ran before), and a run
// ends with 0 only when the validated bridge runs the new firmware with the
// new parameter area.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "tests/fault/campaign.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::fault {
namespace {

namespace im = vtx::imagemaker;

constexpr long TWIN_FROM_THE_START = -1;
constexpr long RESTART_SPAN = 12;  // commands after a restart command, into its reconnect

enum class Change { kBinReplaced, kBinChanged, kRescueReplaced, kRescueChanged, kTwin };

struct Twin {
    const char* name;
    uint32_t chip_id;
    bool rescue_firmware;
};
const Twin TWINS[] = {{"same chip, main", 0xA0020001, false},
                      {"same chip, rescue", 0xA0020001, true},
                      {"other chip, main", 0xA0010002, false},
                      {"other chip, rescue", 0xA0010002, true}};

struct SafetyPoint {
    Change change;
    long at;  // the change comes before this command (or the pause before it)
    const Twin* twin = nullptr;
};

bool changes_firmware(Change change) {
    return change == Change::kBinReplaced || change == Change::kBinChanged;
}

std::string change_name(const SafetyPoint& point) {
    const char* names[] = {"firmware image replaced", "firmware image changed in place",
                           "rescue image replaced", "rescue image changed in place"};
    if (point.change != Change::kTwin)
        return names[int(point.change)];
    return std::string("same identity word, ") + point.twin->name +
           (point.at == TWIN_FROM_THE_START ? ", from the start" : ", during a restart");
}

// In the child: the file as a user's copy or download might change it, put
// back once the run is over so that the reruns have the files validated.
void change_file(const UpdateSet& set, const SafetyPoint& point) {
    const bool firmware = changes_firmware(point.change);
    const std::string& path = firmware ? set.bin : set.rescue;
    if (point.change == Change::kBinReplaced || point.change == Change::kRescueReplaced) {
        im::ImageRecipe other = firmware ? im::firmware_recipe_for_chip(0xA0010002, 0)
                                         : im::rescue_recipe_for_chip(0xA0010002, 0);
        other.version = {9, 9, 9, 0, 20991231};
        std::string temporary = path + ".new";
        im::write_binary_file(temporary, im::build_firmware_image(other));
        std::filesystem::rename(temporary, path);
        return;
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(IMAGE_LEAD_BLOCK + 1000);
    file.put(char(0x5A));
}

RunPlan broken_run(const UpdateSet& set, const SafetyPoint& point, const std::string& state_in,
                   const TempDir& work, const std::vector<uint8_t>& original) {
    RunPlan plan = run_plan(state_in, work, 0);
    plan.setup = [&set, point](sim::SimPlatform& sim) {
        if (point.at == TWIN_FROM_THE_START) {
            attach_twin(sim, point.twin->chip_id, point.twin->rescue_firmware);
            return;
        }
        sim.set_command_hook([&set, &sim, point, done = false](long index) mutable {
            if (done || index < point.at)
                return;
            done = true;
            if (point.change == Change::kTwin)
                attach_twin(sim, point.twin->chip_id, point.twin->rescue_firmware);
            else
                change_file(set, point);
        });
    };
    if (point.change != Change::kTwin) {
        const std::string path = changes_firmware(point.change) ? set.bin : set.rescue;
        plan.after = [path, &original] { im::write_binary_file(path, original); };
    }
    return plan;
}

struct Outcome {
    bool crashed = false, foreign_write = false, wrong_success = false, unaccepted = false;
    bool converged = false;
    std::string report;
};

Outcome run_safety_point(const UpdateSet& set, const SafetyPoint& point) {
    Outcome outcome;
    TempDir work;
    const std::vector<uint8_t> original =
        read_file(changes_firmware(point.change) ? set.bin : set.rescue);
    std::string state = set.base_state;
    std::vector<int> codes;
    // A second bridge stays on the bus, so its reruns are refused alike: one
    // shows it.
    const int reruns = point.change == Change::kTwin ? 1 : MAX_RERUNS;
    for (int run = 0; run <= reruns; ++run) {
        const RunPlan plan =
            run == 0 ? broken_run(set, point, state, work, original) : run_plan(state, work, run);
        RunRecord record = run_tool_in_child(set, plan);
        state = plan.state_out;
        codes.push_back(record.code);
        if (record.code != 0 && record.code != 1) {
            outcome.crashed = true;
            break;
        }
        outcome.foreign_write |= record.foreign_writes != 0;
        outcome.wrong_success |= record.code == 0 && !converged(set, record.after);
        outcome.unaccepted |= !record.after.header_accepted || record.after.boot_mode == 0;
        outcome.converged = converged(set, record.after);
        if (record.code == 0)
            break;
    }
    outcome.report =
        change_name(point) + " before command " + std::to_string(point.at) + ": exit codes";
    for (int code : codes)
        outcome.report.append(" ").append(std::to_string(code));
    return outcome;
}

std::vector<SafetyPoint> safety_points(const std::vector<TraceLine>& reference, bool full) {
    std::vector<SafetyPoint> points;
    std::set<long> restarts;
    for (const TraceLine& line : reference) {
        if (line.is(OP_VENDOR_WRITE, SUB_RESTART))
            restarts.insert(line.index);
    }
    for (Change change : {Change::kBinReplaced, Change::kBinChanged, Change::kRescueReplaced,
                          Change::kRescueChanged}) {
        // Step boundaries: the start, every chunk (its flash address), every
        // restart and every fourth command between; the sample takes every
        // eighth command and the one before each restart.
        for (const TraceLine& line : reference) {
            const bool boundary = line.index % 4 == 0 || restarts.count(line.index) ||
                                  line.is(OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS);
            if (full ? boundary : line.index % 8 == 0 || restarts.count(line.index + 1))
                points.push_back({change, line.index});
        }
    }
    for (const Twin& twin : TWINS) {
        points.push_back({Change::kTwin, TWIN_FROM_THE_START, &twin});
        for (long restart : restarts) {
            for (long at = restart + 1; at <= restart + RESTART_SPAN; at += full ? 1 : 4)
                points.push_back({Change::kTwin, at, &twin});
        }
    }
    return points;
}

TEST(SafetyCampaign, NoByteReachesAnotherBridgeAndNoUnvalidatedImageIsBooted) {
    UpdateSet set(Start::kMainFirmware);
    ASSERT_EQ(set.new_header.size(), IMAGE_HEADER_SIZE) << "the update's files were not made";
    TempDir work;
    RunPlan reference_plan = traced_run(set.base_state, work);
    RunRecord reference_run = run_tool_in_child(set, reference_plan);
    ASSERT_EQ(reference_run.code, 0) << reference_run.out << reference_run.err;
    std::vector<TraceLine> reference = read_trace(reference_plan.trace_out);

    struct Row {
        long tried = 0, converged = 0, foreign = 0, wrong = 0, unaccepted = 0, crashed = 0;
    };
    std::map<std::string, Row> rows;
    const bool full = full_campaign();
    for (const SafetyPoint& point : safety_points(reference, full)) {
        Outcome outcome = run_safety_point(set, point);
        std::string kind = point.change == Change::kTwin
                               ? (point.at == TWIN_FROM_THE_START ? "twin bridge from the start"
                                                                  : "twin bridge during a restart")
                               : change_name(point);
        Row& row = rows[kind];
        ++row.tried;
        row.converged += outcome.converged;
        row.foreign += outcome.foreign_write;
        row.wrong += outcome.wrong_success;
        row.unaccepted += outcome.unaccepted;
        row.crashed += outcome.crashed;
        EXPECT_FALSE(outcome.crashed) << outcome.report;
        EXPECT_FALSE(outcome.foreign_write) << outcome.report;
        EXPECT_FALSE(outcome.wrong_success) << outcome.report;
        EXPECT_FALSE(outcome.unaccepted) << outcome.report;
        // A changed file is put back after its run: the reruns finish the
        // update. A second bridge stays, and every run after it refuses.
        if (point.change != Change::kTwin) {
            EXPECT_TRUE(outcome.converged) << outcome.report;
        }
    }
    std::printf(
        "\nSafety points (%s):\n| change | tried | converged | write to another bridge | "
        "wrong success | boots an image not validated | crashed |\n"
        "|---|---|---|---|---|---|---|\n",
        full ? "every point" : "a sample");
    for (const auto& [kind, row] : rows) {
        std::printf("| %s | %ld | %ld | %ld | %ld | %ld | %ld |\n", kind.c_str(), row.tried,
                    row.converged, row.foreign, row.wrong, row.unaccepted, row.crashed);
    }
    std::fflush(stdout);
}

}  // namespace
}  // namespace vtx::test::fault
