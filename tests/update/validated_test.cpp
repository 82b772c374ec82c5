// What is written is what was validated: image files changed before every
// command of a run, on the whole update engine.
#include <filesystem>
#include <fstream>

#include "tests/update/staged_support.h"
#include "update/sequencer.h"

namespace vtx::test {
namespace {

constexpr int MAIN = 1;
const FirmwareVersion OLD_VERSION{1, 2, 3, 0, 20240115};
const FirmwareVersion NEW_VERSION{1, 2, 4, 0, 20240615};

std::vector<uint8_t> header_of(const std::vector<uint8_t>& file) {
    return {file.begin(), file.begin() + IMAGE_HEADER_SIZE};
}

class ValidatedTest : public StagedTest {
  protected:
    void SetUp() override {
        StagedTest::SetUp();
        bin_file = im::build_firmware_image(im::firmware_recipe(13, NEW_VERSION));
        rescue_file = im::build_firmware_image(im::rescue_recipe(13));
        old_file = im::build_firmware_image(im::firmware_recipe(13, OLD_VERSION));
        bin = write("fw_v1.2.4.061524.bin", bin_file);
        rescue = write("rescue.bin", rescue_file);
        led = write("led.bin", im::build_led_image({}));
        cfg = dir.write("bridge.cfg", "VID = 0x1D6B\nSCSI_VENDOR = \"Vantrex\"\n");
    }
    // A bridge on its old main firmware, and a fresh copy of every file.
    sim::Bridge& start(sim::BridgeConfig config = {}) {
        fresh();
        write("fw_v1.2.4.061524.bin", bin_file);
        write("rescue.bin", rescue_file);
        write("led.bin", im::build_led_image({}));
        bridge = &add_bridge(config);
        bridge->install_image(old_file);
        return *bridge;
    }
    int run() {
        return fw_update(BRIDGE_PATH.c_str(), bin.c_str(), rescue.c_str(), cfg.c_str(),
                         led.c_str());
    }
    // What the bridge boots from its header block is an image validation
    // accepted (or the one it ran before), and it boots.
    void expect_boots_an_accepted_image(sim::Bridge& target) {
        target.boot();
        const std::vector<uint8_t> header = target.read_flash(HB, IMAGE_HEADER_SIZE);
        EXPECT_TRUE(header == header_of(old_file) || header == header_of(rescue_file) ||
                    header == header_of(bin_file));
        EXPECT_NE(target.mode_reply(), 0) << "left in its boot loader";
    }
    void expect_new_firmware(sim::Bridge& target) {
        EXPECT_EQ(target.mode_reply(), MAIN);
        EXPECT_EQ(target.running_version().patch, NEW_VERSION.patch);
        EXPECT_EQ(target.read_flash(HB, IMAGE_HEADER_SIZE), header_of(bin_file));
        // The rescue firmware stays whole behind it, to fall back on.
        const uint32_t rescue_body = uint32_t(rescue_file.size()) - IMAGE_LEAD_BLOCK;
        EXPECT_EQ(target.read_flash(im::RESCUE_BODY_ADDRESS, rescue_body),
                  std::vector<uint8_t>(rescue_file.begin() + IMAGE_LEAD_BLOCK, rescue_file.end()));
    }

    std::vector<uint8_t> bin_file, rescue_file, old_file;
    std::string bin, rescue, led, cfg;
    sim::Bridge* bridge = nullptr;
};

// The repro and its kin: an image file replaced (renamed over) by one
// for another chip, or changed in place by one payload byte, just before any
// command of the run. The run either ends well on exactly the validated
// images, or fails with the step's code before the header block switches
// the bridge to anything else.
TEST_F(ValidatedTest, ImageFileChangedBeforeAnyCommandNeverReachesTheBridgeUnchecked) {
    start();
    ASSERT_EQ(run(), 0);
    const long command_total = sim().command_count();
    // Flash the validated files place, and the header block.
    const std::pair<uint32_t, uint32_t> allowed[] = {
        {HB, HB + 4096},
        {im::MAIN_BODY_ADDRESS, im::MAIN_BODY_ADDRESS + uint32_t(bin_file.size())},
        {im::RESCUE_BODY_ADDRESS, im::RESCUE_BODY_ADDRESS + uint32_t(rescue_file.size())},
        {im::LED_IMAGE_ADDRESS, im::LED_IMAGE_ADDRESS + 8192}};
    struct Change {
        const char* what;
        const std::string* path;
        bool replace;  // else one payload byte changed in place
        std::vector<uint8_t> other;
    } changes[] = {
        {"firmware image replaced", &bin, true,
         im::build_firmware_image(im::firmware_recipe(3, {9, 9, 9, 0, 20991231}))},
        {"firmware image changed in place", &bin, false, {}},
        {"rescue image replaced", &rescue, true, im::build_firmware_image(im::rescue_recipe(3))},
        {"rescue image changed in place", &rescue, false, {}},
        {"LED image replaced by one over the rescue body", &led, true,
         im::build_led_image({im::RESCUE_BODY_ADDRESS, 5000, 1})},
    };
    for (const Change& change : changes) {
        const std::string& path = *change.path;
        const std::vector<uint8_t>& other = change.other;
        for (long at = 0; at < command_total; ++at) {
            SCOPED_TRACE(::testing::Message() << change.what << " before command " << at);
            start();
            sim().set_command_hook([&, at](long index) {
                if (index != at)
                    return;
                if (change.replace) {
                    // Windows refuses to replace a file the tool holds open;
                    // the file then simply stays as it was.
                    std::error_code refused;
                    std::filesystem::rename(write("other.bin", other), path, refused);
                } else {
                    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
                    file.seekp(IMAGE_LEAD_BLOCK + 100);
                    file.put(char(0x5A));
                }
            });
            const int result = run();
            sim().set_command_hook(nullptr);
            if (result == 0)
                expect_new_firmware(*bridge);
            expect_boots_an_accepted_image(*bridge);
            for (const auto& entry : commands(sim(), OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS)) {
                bool inside = false;
                for (const auto& [low, high] : allowed)
                    inside |= address_of(entry) >= low && address_of(entry) < high;
                EXPECT_TRUE(inside) << std::hex << address_of(entry);
            }
        }
    }
}

// The parameter file changed before any command after validation read it
// (the first write comes after that): the area programmed is the one
// validation packed, never the file as it reads by then.
TEST_F(ValidatedTest, ParameterFileChangedAfterValidationIsNeverWhatIsProgrammed) {
    start();
    ASSERT_EQ(run(), 0);
    const long command_total = sim().command_count();
    const long first_write = nth_command(
        sim(), [](const sim::TraceEntry& e) { return e.cdb[0] == OP_VENDOR_WRITE; }, 0);
    ASSERT_GT(first_write, 0);
    const std::vector<uint8_t> validated_area =
        bridge->read_flash(HB + HEADER_HALF_SIZE, HEADER_HALF_SIZE);
    for (long at = first_write; at < command_total; ++at) {
        SCOPED_TRACE(::testing::Message() << "parameter file changed before command " << at);
        dir.write("bridge.cfg", "VID = 0x1D6B\nSCSI_VENDOR = \"Vantrex\"\n");
        start();
        sim().set_command_hook([&, at](long index) {
            if (index == at)
                dir.write("bridge.cfg", "VID = 0x1234\nPID = 0x5678\n");
        });
        const int result = run();
        sim().set_command_hook(nullptr);
        ASSERT_EQ(result, 0);
        EXPECT_EQ(bridge->read_flash(HB + HEADER_HALF_SIZE, HEADER_HALF_SIZE), validated_area);
    }
    dir.write("bridge.cfg", "VID = 0x1D6B\nSCSI_VENDOR = \"Vantrex\"\n");
}

}  // namespace
}  // namespace vtx::test
