// save-firmware refuses what it cannot save faithfully: nothing is written
// and only read commands reach the bridge. (The round trip through two
// updates is in tests/e2e/save_firmware_test.cpp.)
#include <filesystem>
#include <functional>

#include "tests/companion/companion_support.h"
#include "tools/imagemaker/image_builder.h"
#include "vtx/bytes.h"

namespace vtx::test {
namespace {

namespace im = imagemaker;

// Rewrites one word of the image header the bridge holds, parameters kept.
void set_header_word(sim::Bridge& bridge, uint32_t offset, uint32_t value) {
    std::vector<uint8_t> block = bridge.read_flash(HEADER_BLOCK_ADDRESS, HEADER_BLOCK_SIZE);
    store_le32(block.data() + offset, value);
    bridge.write_flash(HEADER_BLOCK_ADDRESS, block);
}

std::vector<std::string> keys_of(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    return keys;
}

TEST(SaveFirmware, WhatCannotBeSavedFaithfullyIsRefusedAndNothingIsWritten) {
    const struct {
        const char* name;
        std::function<void(sim::SimPlatform&, sim::Bridge&)> damage;
        bool give_out;
        const char* says;
    } cases[] = {
        {"rescue firmware runs",
         [](sim::SimPlatform&, sim::Bridge& bridge) {
             bridge.install_image(
                 im::build_firmware_image(im::rescue_recipe_for_chip(0xA0020001, 10)));
         },
         true, "does not run its main firmware"},
        {"a body byte differs from what the CRC says",
         [](sim::SimPlatform&, sim::Bridge& bridge) {
             bridge.write_flash(im::MAIN_BODY_ADDRESS + 100, {0x5A});
         },
         true, "nothing written"},
        {"the CRC covers the parameter half",
         [](sim::SimPlatform&, sim::Bridge& bridge) { set_header_word(bridge, 20, 2048); }, true,
         "overwrote with its parameters"},
        {"a payload longer than any flash",
         [](sim::SimPlatform&, sim::Bridge& bridge) { set_header_word(bridge, 24, 0xFFFFF000); },
         true, "layout"},
        {"no lead region to hold the header",
         [](sim::SimPlatform&, sim::Bridge& bridge) {
             set_header_word(bridge, 48, 0);
             set_header_word(bridge, 28, 0);
             set_header_word(bridge, 24, 0);
             set_header_word(bridge, 20, 0);
         },
         true, "layout"},
        {"a lead region that is not whole units",
         [](sim::SimPlatform&, sim::Bridge& bridge) { set_header_word(bridge, 48, 6144); }, true,
         "layout"},
        {"a flash read fails part-way",
         [](sim::SimPlatform& sim, sim::Bridge&) {
             sim.add_fault(failing(OP_VENDOR_READ, SUB_MEMORY_READ, 5, -1));
         },
         true, "cannot read flash"},
        {"the version cannot be read to name the file",
         [](sim::SimPlatform& sim, sim::Bridge&) {
             sim.add_fault(failing(OP_VENDOR_READ, SUB_VERSION, 0, -1));
         },
         false, "give OUT"},
    };
    for (const auto& c : cases) {
        for (bool json : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (json ? " (--json)" : ""));
            SimInstalled sim;
            TempDir dir;
            sim::Bridge& bridge =
                add_running_bridge(sim.sim(), sim::BridgeConfig{}, {1, 2, 3, 0, 20240115});
            c.damage(sim.sim(), bridge);
            sim->clear_trace();
            std::string out = dir.file("fw_v1.2.3.011524.bin");
            std::vector<std::string> args = {"save-firmware"};
            if (json)
                args.push_back("--json");
            if (c.give_out)
                args.insert(args.end(), {"", out});
            BridgeRun run = run_bridge(args);
            EXPECT_EQ(run.code, companion::EXIT_FAILED);
            std::string message = json ? json_of(run)["message"].get<std::string>() : run.err;
            EXPECT_NE(message.find(c.says), std::string::npos) << message;
            EXPECT_FALSE(std::filesystem::exists(out));
            EXPECT_FALSE(trace_has_write(sim.sim()));
        }
    }
}

// The default name may be an update file the user keeps: it is never
// replaced unless the user names it.
TEST(SaveFirmware, TheDefaultNameNeverReplacesAFileUnlessTheUserNamesIt) {
    SimInstalled sim;
    TempDir dir;
    add_running_bridge(sim.sim(), sim::BridgeConfig{}, {1, 2, 3, 0, 20240115});
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string kept = dir.write("fw_v1.2.3.011524.bin", "the user's own file");
    BridgeRun refused = run_bridge({"save-firmware"});
    BridgeRun named = run_bridge({"save-firmware", "", "fw_v1.2.3.011524.bin"});
    std::filesystem::current_path(before);
    EXPECT_EQ(refused.code, companion::EXIT_FAILED);
    EXPECT_NE(refused.err.find("exists already"), std::string::npos) << refused.err;
    EXPECT_EQ(named.code, 0) << named.err;
    EXPECT_GT(read_file(kept).size(), size_t(4096));
}

// The document of a saved firmware, and the --trace file of a vtx_bridge
// command: one line for each command the bridge saw, the command's own
// output unchanged.
TEST(SaveFirmware, TraceOptionRecordsEveryCommandOfTheCommand) {
    SimInstalled sim;
    TempDir dir;
    add_running_bridge(sim.sim(), sim::BridgeConfig{}, {1, 2, 3, 0, 20240115});
    std::string out = dir.file("saved.bin");
    BridgeRun plain = run_bridge({"save-firmware", "--json", "", out});
    // The keys docs/vtx_bridge.md gives, in its order.
    Json doc = json_of(plain);
    EXPECT_EQ(keys_of(doc),
              (std::vector<std::string>{"schema", "program", "version", "command", "path", "output",
                                        "firmware_version", "build_date", "size", "lead", "body",
                                        "payload", "status", "exit_code"}));
    EXPECT_EQ(keys_of(doc["payload"]), (std::vector<std::string>{"offset", "length", "crc"}));
    EXPECT_EQ(doc["size"].get<uint64_t>(), read_file(out).size());
    sim->clear_trace();
    std::string trace = dir.file("bridge.trace");
    BridgeRun traced = run_bridge({"--trace", trace, "--json", "save-firmware", "", out});
    ASSERT_EQ(traced.code, 0) << traced.err;
    EXPECT_EQ(traced.out, plain.out);
    std::string text = read_text(trace);
    EXPECT_TRUE(text.starts_with("# vtx trace 1\n# program vtx_bridge ")) << text;
    size_t lines = 0;
    for (size_t at = text.find(" cmd "); at != std::string::npos; at = text.find(" cmd ", at + 1))
        ++lines;
    EXPECT_EQ(lines, sim->trace().size());
    EXPECT_EQ(run_bridge({"--trace", dir.path().string(), "info"}).code, companion::EXIT_FAILED);
}

}  // namespace
}  // namespace vtx::test
