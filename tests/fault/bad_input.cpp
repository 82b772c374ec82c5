#include "tests/fault/bad_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace vtx::test::fault {

namespace im = vtx::imagemaker;

BadInput refused(const char* input, const char* damage, FileDamage files, std::string text,
                 std::string also) {
    return {input, damage, std::move(files), {}, 1, std::move(text), false, std::move(also), false};
}

BadInput misbehaving(const char* damage, BridgeDamage bridge, int code, std::string text,
                     bool writes) {
    return {"bridge", damage, {}, std::move(bridge), code, std::move(text), writes, "", false};
}

im::ImageRecipe firmware() {
    im::ImageRecipe plan = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
    plan.version = {1, 2, 4, 0, 20240615};
    plan.body_size = 2 * 65536;
    return plan;
}

std::string failed(int code) {
    return "[ERROR] Firmware update failed (ret=" + std::to_string(code) +
           ", last_error=" + std::to_string(code) + ")";
}

FileDamage text_file(std::string UpdateSet::*path, std::string text) {
    return [path, text](const UpdateSet& set) {
        return im::write_binary_file(set.*path, std::vector<uint8_t>(text.begin(), text.end()));
    };
}

FileDamage missing(std::string UpdateSet::*path) {
    return [path](const UpdateSet& set) { return std::filesystem::remove(set.*path); };
}

BridgeDamage with_config(std::function<void(sim::BridgeConfig&)> change) {
    return [change](sim::SimPlatform& sim) { change(sim.bridges().front()->config()); };
}

std::string run_bad_input(const BadInput& c) {
    UpdateSet set(Start::kMainFirmware);
    EXPECT_EQ(set.new_header.size(), IMAGE_HEADER_SIZE);
    if (c.files && in_child([&] { return c.files(set) ? 0 : 1; }) != 0) {
        EXPECT_TRUE(c.sparse) << "the file could not be made";
        std::printf("skipped (the file system refuses sparse files): %s\n", c.damage);
        return "";
    }
    TempDir work;
    RunPlan plan = traced_run(set.base_state, work);
    plan.setup = c.bridge;
    RunRecord run = run_tool_in_child(set, plan);
    long writes = 0;
    for (const TraceLine& line : read_trace(plan.trace_out))
        writes += line.opcode == OP_VENDOR_WRITE;
    EXPECT_EQ(run.code, c.code) << run.out << run.err;
    const std::string printed = run.out + run.err;
    EXPECT_NE(printed.find(c.text), std::string::npos) << printed;
    EXPECT_NE(run.err.find(c.also), std::string::npos) << run.err;
    if (!c.writes) {
        EXPECT_EQ(writes, 0);
        EXPECT_FALSE(run.after.header_new);
    }
    if (run.code == 0) {
        EXPECT_TRUE(run.after.area_new) << "the parameter area was written over";
    }
    std::string message = c.text;
    if (!c.also.empty())
        message += " (after \"" + c.also + "...\")";
    return std::string("| ") + c.input + " | " + c.damage + " | " + std::to_string(run.code) +
           " | " + message + " | " + std::to_string(writes) + " |\n";
}

}  // namespace vtx::test::fault
