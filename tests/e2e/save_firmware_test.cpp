// The way back: vtx_bridge save-firmware saves what the bridge runs, the tool
// updates it to another version, and the saved file takes it back to the
// flash it had.
#include <gtest/gtest.h>

#include "companion/bridge_main.h"
#include "tests/e2e/e2e_support.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::e2e {
namespace {

int run_bridge(const std::vector<std::string>& args) {
    Args argv({"vtx_bridge"}, args);
    CapturedStream out, err;
    int code = companion::bridge_main(argv.argc(), argv.argv(), out.get(), err.get());
    EXPECT_EQ(err.text(), "");
    return code;
}

struct Flash {
    std::vector<uint8_t> header;  // the image half of the header block
    std::vector<uint8_t> body;
};

Flash flash_of(sim::Bridge& bridge, const std::vector<uint8_t>& saved) {
    ImageHeader h = image_header_from_bytes(saved.data());
    uint32_t body_length = uint32_t(saved.size()) - h.lead_length;
    return {bridge.read_flash(HEADER_BLOCK_ADDRESS, HEADER_HALF_SIZE),
            bridge.read_flash(h.body_address, body_length)};
}

TEST(SaveFirmware, SavedImageTakesTheBridgeBackAfterAnUpdate) {
    InstalledSim sim;
    UpdateFiles files;
    sim::Bridge& bridge = add_sample_bridge(sim.sim(), {1, 2, 3, 0, 20240115});
    // A body of its own, so the update to 1.2.4 changes every region.
    imagemaker::ImageRecipe running = imagemaker::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
    running.version = {1, 2, 3, 0, 20240115};
    running.seed = 7;
    bridge.install_image(imagemaker::build_firmware_image(running));
    std::string saved_path = files.dir.file("fw_v1.2.3.011524.bin");
    ASSERT_EQ(run_bridge({"save-firmware", BRIDGE_PATH, saved_path}), 0);
    EXPECT_EQ(run_bridge({"check", "--type", "firmware", "--strict", saved_path}), 0);
    std::vector<uint8_t> saved = read_file(saved_path);
    Flash before = flash_of(bridge, saved);

    ToolRun forward = run_tool(files.args());
    ASSERT_EQ(forward.code, 0) << forward.err;
    EXPECT_EQ(bridge.running_version().patch, 4u);
    EXPECT_NE(flash_of(bridge, saved).header, before.header);
    EXPECT_NE(flash_of(bridge, saved).body, before.body);

    ToolRun back = run_tool({"vtx_fwupdate", saved_path, files.rescue, files.cfg, files.led});
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_NE(back.out.find("[INFO] New FW version: 1.2.3, build date: 20240115"),
              std::string::npos)
        << back.out;
    Flash after = flash_of(bridge, saved);
    EXPECT_EQ(after.header, before.header);
    EXPECT_EQ(after.body, before.body);
    EXPECT_EQ(bridge.mode_reply(), 1);
}

}  // namespace
}  // namespace vtx::test::e2e
