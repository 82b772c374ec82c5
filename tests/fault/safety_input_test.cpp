// Inputs that passed every check and still reached the bridge wrongly: files
// too large for the counters, bodies on the header block, parameter records
// with no room for their closing 0, a second bridge with the same identity
// word. The whole tool, each in a child; prints its rows of the bad-input
// table.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/fault/bad_input.h"

namespace vtx::test::fault {
namespace {

namespace im = vtx::imagemaker;

constexpr uint64_t FOUR_GIB = 0x100000000ull;

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

// A file too large for the counters: made sparse, which the file system may
// refuse.
BadInput sparse(BadInput row) {
    row.sparse = true;
    return row;
}

std::vector<BadInput> rows() {
    const std::string ok = "[INFO] New FW version: 1.2.4";
    BadInput kept_parameters = refused(
        "firmware image",
        "lead region of 0x5000 bytes from 0x8C000000, largest transfer 32768 (parameters kept)",
        firmware_at(HEADER_BLOCK_ADDRESS - 0x4000, 0x5000, im::MAIN_BODY_ADDRESS), ok);
    kept_parameters.bridge =
        with_config([](sim::BridgeConfig& c) { c.max_transfer_reply = 32768; });
    kept_parameters.code = 0;
    kept_parameters.writes = true;
    return {
        sparse(refused("firmware image", "grown past 4 GiB (sparse)", grown(&UpdateSet::bin),
                       failed(-6))),
        sparse(refused("rescue image", "grown past 4 GiB (sparse)", grown(&UpdateSet::rescue),
                       failed(-7))),
        sparse(
            refused("LED image", "grown past 4 GiB (sparse)", grown(&UpdateSet::led), failed(-8))),
        refused("firmware image", "body on the header block (0x8C004000)",
                firmware_at(HEADER_BLOCK_ADDRESS - 0x10000, 4096, HEADER_BLOCK_ADDRESS),
                failed(-6)),
        refused("firmware image", "body across the header block (0x8C003000)",
                firmware_at(HEADER_BLOCK_ADDRESS - 0x10000, 4096, HEADER_BLOCK_ADDRESS - 0x1000),
                failed(-6)),
        refused("rescue image", "body on the header block", rescue_body_on_header_block(),
                failed(-7)),
        refused("parameter file", "records of exactly 2048 bytes, no room for the closing 0",
                records_filling_the_area(), failed(-9)),
        misbehaving(
            "a second bridge with the same identity word, same chip, main firmware",
            [](sim::SimPlatform& sim) { attach_twin(sim, CHIP_ID, false); }, 1, failed(-5), false),
        misbehaving(
            "a second bridge with the same identity word, other chip, rescue firmware",
            [](sim::SimPlatform& sim) { attach_twin(sim, 0xA0010002, true); }, 1, failed(-5),
            false),
        kept_parameters,
    };
}

TEST(BadInput, OversizedFilesBodiesOnTheHeaderBlockAndTwinBridgesAreRefusedBeforeAnyWrite) {
    std::string table;
    for (const BadInput& row : rows()) {
        SCOPED_TRACE(std::string(row.input) + ": " + row.damage);
        table += run_bad_input(row);
    }
    std::printf("\n%s", table.c_str());
}

}  // namespace
}  // namespace vtx::test::fault
