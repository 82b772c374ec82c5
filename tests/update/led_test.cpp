#include <filesystem>

#include "tests/update/staged_support.h"
#include "update/led.h"

namespace vtx::test {
namespace {

namespace im = imagemaker;

constexpr uint32_t LED = im::LED_IMAGE_ADDRESS;
constexpr uint32_t HB = HEADER_BLOCK_ADDRESS;

// Flash writes ("W address") and memory reads ("R address") in trace order.
std::vector<std::string> flash_events(const sim::SimPlatform& sim) {
    std::vector<std::string> events;
    char text[32];
    for (const sim::TraceEntry& entry : sim.trace()) {
        if (is_vendor(entry, OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS)) {
            std::snprintf(text, sizeof text, "W %08X", unsigned(address_of(entry)));
        } else if (is_vendor(entry, OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE)) {
            std::snprintf(text, sizeof text, "  %u", unsigned(entry.length));
        } else if (is_vendor(entry, OP_VENDOR_READ, SUB_MEMORY_READ)) {
            std::snprintf(text, sizeof text, "R %08X %u", unsigned(address_of(entry)),
                          unsigned(entry.length));
        } else {
            continue;
        }
        events.emplace_back(text);
    }
    return events;
}

std::string w(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "W %08X", unsigned(address));
    return text;
}
std::string r(uint32_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "R %08X 4096", unsigned(read_window(address)));
    return text;
}

class LedTest : public StagedTest {
  protected:
    void SetUp() override {
        StagedTest::SetUp();
        bridge = &add_bridge();
        open();
    }
    std::string led_file(uint32_t size, uint32_t address = LED) {
        im::LedSpec recipe;
        recipe.size = size;
        recipe.flash_address = address;
        file = im::build_led_image(recipe);
        return write("led.bin", file);
    }
    sim::Bridge* bridge = nullptr;
    std::vector<uint8_t> file;
};

// Whole blocks are written as they come; the last, partial block is read
// first so its tail keeps what the flash held.
TEST_F(LedTest, BlocksAndReadsFollowTheFileSize) {
    const std::string data = "  4096";
    struct Case {
        uint32_t size;
        std::vector<std::string> events;
        std::vector<int32_t> progress;
    };
    const Case cases[] = {
        {8192, {w(LED), data, r(LED), w(LED + 4096), data, r(LED + 4096)}, {4096, 8192}},
        {5000,
         {w(LED), data, r(LED), r(LED + 4096), w(LED + 4096), data, r(LED + 4096)},
         {4096, 5000}},
        {4096, {w(LED), data, r(LED)}, {4096}},
        {100, {r(LED), w(LED), data, r(LED)}, {100}},
    };
    const std::vector<uint8_t> old_flash = im::pseudo_random_bytes(77, 3 * 4096);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        fresh();
        bridge = &add_bridge();
        bridge->write_flash(LED, old_flash);
        open();
        std::string path = led_file(c.size);
        std::vector<int32_t>& steps = watch_progress();
        steps.clear();

        EXPECT_EQ(led_download(handle, path.c_str()), 0);
        EXPECT_EQ(flash_events(sim()), c.events);
        EXPECT_EQ(steps, c.progress);
        // The file, then the rest of the last block as it was.
        std::vector<uint8_t> expected = file;
        uint32_t block_end = (c.size + 4095) / 4096 * 4096;
        expected.insert(expected.end(), old_flash.begin() + c.size, old_flash.begin() + block_end);
        EXPECT_EQ(bridge->read_flash(LED, block_end), expected);
        EXPECT_EQ(bridge->read_flash(LED + block_end, 4096),
                  std::vector<uint8_t>(old_flash.begin() + block_end,
                                       old_flash.begin() + block_end + 4096));
    }
}

TEST_F(LedTest, FailedReadOfThePartialBlockEndsTheDownloadWithItsCode) {
    std::string path = led_file(5000);
    sim::CommandFault fault;
    fault.opcode = OP_VENDOR_READ;
    fault.sub_command = SUB_MEMORY_READ;
    fault.skip = 1;  // the first block's read-back passes
    fault.scsi_status = 2;
    sim().add_fault(fault);
    EXPECT_EQ(led_download(handle, path.c_str()), 2);
    EXPECT_EQ(write_list(sim()), (std::vector<std::pair<uint32_t, uint32_t>>{{LED, 4096}}));
    EXPECT_EQ(fw_done_bytes, 4096);
    EXPECT_TRUE(std::filesystem::remove(path)) << "the LED file is still open";
}

// The check decides the size that the LED image adds to the total and
// whether the download sends anything at all.
TEST_F(LedTest, InvalidImagesAndTargetsAreRefusedBeforeAnyCommand) {
    using D = im::LedDamage;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool valid;
    };
    auto led = [](uint32_t address, uint32_t size) {
        return im::build_led_image({address, size, 3});
    };
    const Case cases[] = {
        {"valid", led(LED, 5000), true},
        {"LEDS", im::build_damaged_led_image({}, D::kWrongSignature), false},
        {"size mismatch", im::build_damaged_led_image({}, D::kSizeMismatch), false},
        {"40 bytes", im::build_damaged_led_image({}, D::kShortFile), false},
        {"reaches header block", im::build_damaged_led_image({}, D::kReachesHeaderBlock), false},
        // Whole blocks: 4097 bytes below the header block spill into it.
        {"last block on header block", led(HB - 4096, 4097), false},
        {"starts in header block", led(HB + 2048, 100), false},
        {"ends below header block", led(HB - 8192, 8192), true},
        {"starts above header block", led(HB + 4096, 5000), true},
        {"wraps past 4 GiB", led(0xFFFFF000, 4097), false},
        {"ends at 4 GiB", led(0xFFFFF000, 4096), true},
        {"partial block ends at 4 GiB", led(0xFFFFF000, 100), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = write("led.bin", c.bytes);
        uint8_t header[LED_HEADER_SIZE] = {};
        EXPECT_EQ(led_check_image(path.c_str(), header), c.valid ? 0 : -1);
        if (c.bytes.size() >= LED_HEADER_SIZE) {
            EXPECT_TRUE(std::equal(header, header + LED_HEADER_SIZE, c.bytes.begin()));
        }
        EXPECT_EQ(led_image_size(path.c_str()), c.valid ? int32_t(c.bytes.size()) : 0);
        if (c.valid)
            continue;
        const size_t before = sim().trace().size();
        EXPECT_EQ(led_download(handle, path.c_str()), -1);
        EXPECT_EQ(sim().trace().size(), before);
    }
    uint8_t header[LED_HEADER_SIZE] = {};
    EXPECT_EQ(led_check_image(nullptr, header), -1);
    EXPECT_EQ(led_check_image("", header), -1);
    EXPECT_EQ(led_check_image(dir.file("missing.bin").c_str(), header), -1);
    EXPECT_EQ(led_image_size(nullptr), 0);
    EXPECT_EQ(led_image_size(""), 0);
}

}  // namespace
}  // namespace vtx::test
