// Inputs that passed every check and still reached the bridge wrongly: files
// too large for the counters, bodies on the header block, parameter records
// with no room for their closing 0, a second bridge with the same identity
// word. The whole tool, each in a child; prints its rows of the bad-input
// table.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/fault/campaign.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::fault {
namespace {

namespace im = vtx::imagemaker;

constexpr uint32_t CHIP_ID = 0xA0020001;
constexpr uint32_t CHIP_REV = 10;
constexpr uint64_t FOUR_GIB = 0x100000000ull;

using FileDamage = std::function<bool(const UpdateSet&)>;  // runs in a child
using BridgeDamage = std::function<void(sim::SimPlatform&)>;

struct Row {
    const char* input;
    const char* damage;
    FileDamage files;
    BridgeDamage bridge;
    int code;
    std::string text;
    bool sparse = false;  // the file system may refuse the file
};

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

// The same bytes at their start, 4 GiB more behind them: a 32-bit size cut
// from it is the size the image was made with.
FileDamage grown(std::string UpdateSet::*path) {
    return [path](const UpdateSet& set) {
        std::error_code error;
        std::filesystem::resize_file(set.*path, std::filesystem::file_size(set.*path) + FOUR_GIB,
                                     error);
        return !error;
    };
}

FileDamage firmware_at(uint32_t lead_address, uint32_t lead_length, uint32_t body_address) {
    return [=](const UpdateSet& set) {
        im::ImageRecipe plan = firmware();
        plan.lead_address = lead_address;
        plan.body_address = body_address;
        return im::write_binary_file(set.bin, im::build_image_with_lead(plan, lead_length));
    };
}

FileDamage rescue_body_on_header_block() {
    return [](const UpdateSet& set) {
        im::ImageRecipe plan = im::rescue_recipe_for_chip(CHIP_ID, CHIP_REV);
        plan.lead_address = HEADER_BLOCK_ADDRESS - 0x10000;
        plan.body_address = HEADER_BLOCK_ADDRESS;
        return im::write_binary_file(set.rescue, im::build_firmware_image(plan));
    };
}

// 31 products of 65 bytes and a manufacturer of 33: 2048 bytes of records.
FileDamage records_filling_the_area() {
    return [](const UpdateSet& set) {
        std::string text;
        for (int i = 0; i < 31; ++i)
            text += "PRODUCT = \"" + std::string(31, 'q') + "\"\n";
        text += "MANUFACTURE = \"" + std::string(20, 'm') + "\"\n";
        return im::write_binary_file(set.cfg, std::vector<uint8_t>(text.begin(), text.end()));
    };
}

// Another bridge after ours on the bus, answering with our identity word.
BridgeDamage twin(uint32_t chip_id, bool rescue_firmware) {
    return [=](sim::SimPlatform& sim) {
        sim::BridgeConfig config = sim.bridges().front()->config();
        config.name = "twin";
        config.path = "\\\\.\\PhysicalDrive2";
        config.chip_id = chip_id;
        if (chip_id == 0xA0010002) {
            config.revision = "2.00";
            config.model = "VTX4500";
        }
        im::ImageRecipe image = rescue_firmware ? im::rescue_recipe_for_chip(chip_id, CHIP_REV)
                                                : im::firmware_recipe_for_chip(chip_id, CHIP_REV);
        sim.add_bridge(config).install_image(im::build_firmware_image(image));
    };
}

std::vector<Row> rows() {
    const std::string ok = "[INFO] New FW version: 1.2.4";
    return {
        {"firmware image",
         "grown past 4 GiB (sparse)",
         grown(&UpdateSet::bin),
         {},
         1,
         failed(-6),
         true},
        {"rescue image",
         "grown past 4 GiB (sparse)",
         grown(&UpdateSet::rescue),
         {},
         1,
         failed(-7),
         true},
        {"LED image", "grown past 4 GiB (sparse)", grown(&UpdateSet::led), {}, 1, failed(-8), true},
        {"firmware image",
         "body on the header block (0x8C004000)",
         firmware_at(HEADER_BLOCK_ADDRESS - 0x10000, 4096, HEADER_BLOCK_ADDRESS),
         {},
         1,
         failed(-6)},
        {"firmware image",
         "body across the header block (0x8C003000)",
         firmware_at(HEADER_BLOCK_ADDRESS - 0x10000, 4096, HEADER_BLOCK_ADDRESS - 0x1000),
         {},
         1,
         failed(-6)},
        {"rescue image",
         "body on the header block",
         rescue_body_on_header_block(),
         {},
         1,
         failed(-7)},
        {"parameter file",
         "records of exactly 2048 bytes, no room for the closing 0",
         records_filling_the_area(),
         {},
         1,
         failed(-9)},
        {"bridge",
         "a second bridge with the same identity word, same chip, main firmware",
         {},
         twin(CHIP_ID, false),
         1,
         failed(-5)},
        {"bridge",
         "a second bridge with the same identity word, other chip, rescue firmware",
         {},
         twin(0xA0010002, true),
         1,
         failed(-5)},
        {"firmware image",
         "lead region of 0x5000 bytes from 0x8C000000, largest transfer 32768 (parameters kept)",
         firmware_at(HEADER_BLOCK_ADDRESS - 0x4000, 0x5000, im::MAIN_BODY_ADDRESS),
         [](sim::SimPlatform& sim) { sim.bridges().front()->config().max_transfer_reply = 32768; },
         0, ok},
    };
}

TEST(BadInput, OversizedFilesBodiesOnTheHeaderBlockAndTwinBridgesAreRefusedBeforeAnyWrite) {
    std::string table;
    for (const Row& row : rows()) {
        SCOPED_TRACE(std::string(row.input) + ": " + row.damage);
        UpdateSet set(Start::kMainFirmware);
        ASSERT_EQ(set.new_header.size(), IMAGE_HEADER_SIZE);
        if (row.files && in_child([&] { return row.files(set) ? 0 : 1; }) != 0) {
            ASSERT_TRUE(row.sparse) << "the file could not be made";
            std::printf("skipped (the file system refuses sparse files): %s\n", row.damage);
            continue;
        }
        TempDir work;
        RunPlan plan = traced_run(set.base_state, work);
        plan.setup = row.bridge;
        RunRecord run = run_tool_in_child(set, plan);
        long writes = 0;
        for (const TraceLine& line : read_trace(plan.trace_out))
            writes += line.opcode == OP_VENDOR_WRITE;
        EXPECT_EQ(run.code, row.code) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(row.text), std::string::npos) << run.out << run.err;
        if (row.code != 0) {
            EXPECT_EQ(writes, 0);
        } else {
            EXPECT_TRUE(run.after.area_new) << "the parameter area was written over";
        }
        table += std::string("| ") + row.input + " | " + row.damage + " | " +
                 std::to_string(run.code) + " | " + row.text + " | " + std::to_string(writes) +
                 " |\n";
    }
    std::printf("\n%s", table.c_str());
}

}  // namespace
}  // namespace vtx::test::fault
