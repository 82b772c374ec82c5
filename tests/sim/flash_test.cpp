// Flash, the read window and the boot rule of the simulated bridge.
#include <gtest/gtest.h>

#include "tests/sim/sim_helpers.h"
#include "vtx/record_writers.h"

namespace vtx::test {
namespace {

using sim::ImageRecipe;
using sim::SimPlatform;

// Where a write lands and that the read window shows it, the update's flash
// tests see; here what they cannot: the write address is no window, and
// flash never written reads erased.
TEST(SimFlash, TheWriteAddressIsNoWindowAndUnwrittenFlashReadsErased) {
    SimPlatform sim;
    sim.add_bridge({});
    OsHandle h = sim.open_device(DRIVE1);
    ASSERT_EQ(write_flash(sim, h, 0x8C020000, std::vector<uint8_t>(8192, 0x5A)).status, 0);
    EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0x8C020000, 4096).status, 2);
    EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0xAC100000, 16).data,
              std::vector<uint8_t>(16, 0xFF));
}

TEST(SimFlash, DataWriteTakesWholeUnitsAfterOneSetAddress) {
    SimPlatform sim;
    sim::Bridge& bridge = sim.add_bridge({});
    OsHandle h = sim.open_device(DRIVE1);
    ASSERT_EQ(set_address(sim, h, 0x8C030000).status, 0);
    EXPECT_EQ(data_write(sim, h, std::vector<uint8_t>(6144)).status, 2);
    EXPECT_EQ(data_write(sim, h, std::vector<uint8_t>(4096)).status, 0);
    // The address served that write; the next one needs its own.
    EXPECT_EQ(data_write(sim, h, std::vector<uint8_t>(4096)).status, 2);
    EXPECT_EQ(bridge.read_flash(0x8C030000, 4), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(bridge.read_flash(0x8C031000, 4), std::vector<uint8_t>(4, 0xFF));
    // The address travels twice; the two copies must agree.
    std::vector<uint8_t> other(4);
    store_le32(other.data(), 0x8C040000);
    EXPECT_EQ(vendor_out(sim, h, SUB_SET_FLASH_ADDRESS, 0x8C030000, other).status, 2);
}

// What a bridge boots into, by the header block its flash holds; the boot
// loader (mode 0) has no version but still serves flash and identity.
TEST(SimFlash, BootRulePicksTheFirmwareFromTheHeaderBlock) {
    struct Case {
        const char* name;
        uint32_t signature;
        uint8_t image_type;
        int damage;  // 0 intact, 1 payload damaged, 2 nothing installed
        uint8_t mode;
    } cases[] = {
        {"main", MODE_MAIN, 0, 0, 1},
        {"rescue format", MODE_RESCUE, 0, 0, 2},
        {"rescue in main format", MODE_MAIN, IMAGE_TYPE_RESCUE_IN_MAIN, 0, 2},
        {"other signature", MODE_OTHER, 0, 0, 0},
        {"payload damaged", MODE_MAIN, 0, 1, 0},
        {"rescue payload damaged", MODE_RESCUE, 0, 1, 0},
        {"erased flash", MODE_MAIN, 0, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimPlatform sim;
        sim::Bridge& bridge = sim.add_bridge({});
        ImageRecipe recipe = sim::SIM_IMAGE_RECIPE;
        recipe.signature = c.signature;
        recipe.image_type = c.image_type;
        recipe.version = {4, 5, 6, 0, 20240131};
        std::vector<uint8_t> image = imagemaker::build_image(recipe);
        image[image.size() - 100] ^= c.damage == 1;
        if (c.damage != 2)
            bridge.install_image(image);
        EXPECT_EQ(bridge.mode_reply(), c.mode);
        OsHandle h = sim.open_device(DRIVE1);
        EXPECT_EQ(vendor_in(sim, h, SUB_RUN_MODE, 0, 1).data[0], c.mode);
        SimReply version = vendor_in(sim, h, SUB_VERSION, 0, 20);
        ASSERT_EQ(version.status, c.mode ? 0 : 2);
        if (c.mode) {
            FirmwareVersion v = firmware_version_from_bytes(version.data.data());
            EXPECT_EQ(std::tie(v.major, v.patch, v.build_date), std::make_tuple(4u, 6u, 20240131u));
        }
        EXPECT_EQ(vendor_in(sim, h, SUB_IDENTITY, 0, 4).status, 0);
        EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0xAC004000, 96).status, 0);
    }
}

TEST(SimFlash, InstallKeepsTheParameterHalfAndVersionFollowsOnlyARestart) {
    SimPlatform sim;
    sim::Bridge& bridge = sim.add_bridge({});
    std::vector<uint8_t> parameters(2048, 0x3C);
    bridge.set_parameter_area(parameters);
    ImageRecipe recipe = sim::SIM_IMAGE_RECIPE;
    recipe.version = {1, 0, 0, 0, 20230101};
    bridge.install_image(imagemaker::build_image(recipe));
    EXPECT_EQ(bridge.parameter_area(), parameters);
    EXPECT_EQ(bridge.mode_reply(), 1);

    // New flash contents do not change what runs until the bridge boots.
    recipe.version = {2, 0, 0, 0, 20240101};
    std::vector<uint8_t> image = imagemaker::build_image(recipe);
    image.resize(2048);
    bridge.write_flash(HEADER_BLOCK_ADDRESS, image);
    EXPECT_EQ(bridge.running_version().major, 1u);
    bridge.restart();
    sim.pause_ms(3000);
    EXPECT_EQ(bridge.running_version().major, 2u);
}

// Images put their payload in the body; a payload in the lead region takes in
// the parameter half, which the bridge's own parameters replace.
TEST(SimFlash, PayloadMapsThroughBothRegions) {
    SimPlatform sim;
    sim::Bridge& bridge = sim.add_bridge({});
    std::vector<uint8_t> image = imagemaker::build_image(sim::SIM_IMAGE_RECIPE);
    ImageHeader header = image_header_from_bytes(image.data());
    header.payload_offset = 100;
    header.payload_length = uint32_t(image.size()) - 100;
    header.payload_crc = sim::crc32(image.data() + 100, header.payload_length);
    image_header_to_bytes(header, image.data());
    bridge.install_image(image);
    EXPECT_EQ(bridge.mode_reply(),
              0);  // parameters (erased) stand in bytes 2048-4095

    header.payload_offset = 2048;
    header.payload_length = 2048;
    header.payload_crc = sim::crc32(std::vector<uint8_t>(2048, 0xFF).data(), 2048);
    image_header_to_bytes(header, image.data());
    bridge.install_image(image);
    EXPECT_EQ(bridge.mode_reply(), 1);
}

}  // namespace
}  // namespace vtx::test
