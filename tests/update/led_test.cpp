// The LED image: its check, and the download block by block with the last,
// partial block merged into what the flash held.
#include <filesystem>

#include "tests/update/staged_support.h"
#include "update/led.h"

namespace vtx::test {
namespace {

constexpr uint32_t LED = im::LED_IMAGE_ADDRESS;

// Flash writes ("W address", "  length") and memory reads ("R address
// length") in trace order.
std::vector<std::string> flash_events(const sim::SimPlatform& sim) {
    std::vector<std::string> events;
    char text[32];
    for (const sim::TraceEntry& entry : sim.trace()) {
        const unsigned address = address_of(entry), length = entry.length;
        if (is_vendor(entry, OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS)) {
            std::snprintf(text, sizeof text, "W %08X", address);
        } else if (is_vendor(entry, OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE)) {
            std::snprintf(text, sizeof text, "  %u", length);
        } else if (is_vendor(entry, OP_VENDOR_READ, SUB_MEMORY_READ)) {
            std::snprintf(text, sizeof text, "R %08X %u", address, length);
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

using LedTest = StagedTest;

// Whole blocks are written as they come; the last, partial block is read
// first so its tail keeps what the flash held.
TEST_F(LedTest, BlocksAndReadsFollowTheFileSize) {
    const std::string data = "  4096";
    struct Case {
        uint32_t size;
        std::vector<std::string> events;
        std::vector<int32_t> progress;
    } cases[] = {
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
        sim::Bridge& bridge = opened_bridge();
        bridge.write_flash(LED, old_flash);
        std::vector<uint8_t> file = im::build_led_image({LED, c.size, 1});
        const std::string path = write("led.bin", file);
        watch_progress();

        EXPECT_EQ(led_download(handle, path.c_str()), 0);
        EXPECT_EQ(flash_events(sim()), c.events);
        EXPECT_EQ(progress, c.progress);
        // The file, then the rest of the last block and the block after it
        // as they were.
        file.insert(file.end(), old_flash.begin() + c.size, old_flash.end());
        EXPECT_EQ(bridge.read_flash(LED, 3 * 4096), file);
    }
}

TEST_F(LedTest, FailedReadOfThePartialBlockEndsTheDownloadWithItsCode) {
    opened_bridge();
    const std::string path = write("led.bin", im::build_led_image({LED, 5000, 1}));
    sim().add_fault(failing(OP_VENDOR_READ, SUB_MEMORY_READ, 1));  // the first block's passes
    EXPECT_EQ(led_download(handle, path.c_str()), 2);
    EXPECT_EQ(write_list(sim()), Writes({{LED, 4096}}));
    EXPECT_EQ(fw_done_bytes, 4096);
    EXPECT_TRUE(std::filesystem::remove(path)) << "the LED file is still open";
}

// The check decides the size that the LED image adds to the total and
// whether the download sends anything at all.
TEST_F(LedTest, InvalidImagesAndTargetsAreRefusedBeforeAnyCommand) {
    using D = im::LedDamage;
    auto led = [](uint32_t address, uint32_t size) {
        return im::build_led_image({address, size, 3});
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        bool valid;
    } cases[] = {
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
    opened_bridge();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write("led.bin", c.bytes);
        uint8_t header[LED_HEADER_SIZE] = {};
        EXPECT_EQ(led_check_image(path.c_str(), header), c.valid ? 0 : -1);
        if (c.bytes.size() >= LED_HEADER_SIZE) {
            EXPECT_TRUE(std::equal(header, header + LED_HEADER_SIZE, c.bytes.begin()));
        }
        EXPECT_EQ(led_image_size(path.c_str()), c.valid ? int32_t(c.bytes.size()) : 0);
        if (!c.valid) {
            EXPECT_EQ(led_download(handle, path.c_str()), -1);
            EXPECT_TRUE(sim().trace().empty());
        }
    }
    uint8_t header[LED_HEADER_SIZE] = {};
    for (const char* path : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(led_check_image(path, header), -1);
        EXPECT_EQ(led_image_size(path), 0);
    }
    EXPECT_EQ(led_check_image(dir.file("missing.bin").c_str(), header), -1);
}

}  // namespace
}  // namespace vtx::test
