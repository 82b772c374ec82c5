// The image file reader, its CRC-32, the layout rule and the check of an
// image against the connected chip and slot.
#include <cstring>

#include "tests/support/stderr_capture.h"
#include "tests/update/staged_support.h"
#include "update/crc_combine.h"
#include "update/image.h"

namespace vtx::test {
namespace {

using im::ImageDamage;

// Pieces read from the end towards the start join into the CRC of the whole.
TEST(Crc32, CombinedPiecesGiveTheCrcOfTheWhole) {
    std::vector<uint8_t> payload = im::pseudo_random_bytes(7, 3 * 4096 + 100);
    const uint32_t whole = crc32_update(0, payload.data(), payload.size());
    for (size_t split : {size_t(0), size_t(1), size_t(4095), size_t(8192), payload.size()}) {
        const uint32_t front = crc32_update(0, payload.data(), split);
        const uint32_t back = crc32_update(0, payload.data() + split, payload.size() - split);
        EXPECT_EQ(crc32_combine(front, back, payload.size() - split), whole) << split;
    }
}

// The header area is taken before the CRC is known; a refused file leaves no
// message, and an unaligned payload read in several pieces folds into one CRC.
TEST(ReadHeader, AcceptsAGoodImageAndRefusesDamagedFilesWithoutAMessage) {
    enum Crc { KEPT, FOLLOWS, FOLLOWS_TOP_BIT_OFF, ZERO, ONE };
    constexpr uint32_t SAME = ~0u;
    constexpr uint32_t BODY = 4 * 65536;  // more than one piece of the reader
    const struct {
        const char* name;
        uint32_t offset, length;
        Crc crc;
        size_t size;  // 0: as built
        int expected;
    } cases[] = {
        {"intact", SAME, SAME, KEPT, 0, 0},
        {"unaligned payload over several reads", 4196, 3 * 65536 + 4093, FOLLOWS, 0, 0},
        {"the same with its CRC off in the top bit", 4196, 3 * 65536 + 4093, FOLLOWS_TOP_BIT_OFF, 0,
         -1},
        {"short file with its payload inside", 2048, 512, FOLLOWS, 4095, -1},
        {"payload runs past the end", SAME, BODY + 1, KEPT, 0, -1},
        {"empty payload with CRC 0", SAME, 0, ZERO, 0, 0},
        {"empty payload with a CRC", SAME, 0, ONE, 0, -1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        im::ImageRecipe recipe;
        recipe.body_size = BODY;
        std::vector<uint8_t> file = im::build_firmware_image(recipe);
        ImageHeader header = im::image_header_of(file);
        header.payload_offset = c.offset == SAME ? header.payload_offset : c.offset;
        header.payload_length = c.length == SAME ? header.payload_length : c.length;
        const uint32_t follows = im::payload_crc_of(file, header);
        const uint32_t crcs[] = {header.payload_crc, follows, follows ^ 0x80000000, 0, 1};
        header.payload_crc = crcs[c.crc];
        im::set_image_header(file, header, false);
        if (c.size)
            file.resize(c.size);
        std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
        StderrCapture err;
        EXPECT_EQ(fw_read_header(dir.write("image.bin", file).c_str(), area.data()), c.expected);
        EXPECT_EQ(err.text(), "");
        if (file.size() >= 4096) {
            EXPECT_TRUE(std::equal(area.begin(), area.end(), file.begin()));
        }
    }
    std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
    EXPECT_EQ(fw_read_header(dir.file("absent.bin").c_str(), area.data()), -1);
    EXPECT_EQ(fw_read_header(nullptr, area.data()), -1);
    // A file gone between its header and its size, or none named, has no size.
    EXPECT_EQ(fw_file_size(dir.file("absent.bin").c_str()), -1);
    EXPECT_EQ(fw_file_size(nullptr), -1);
}

TEST(ReadHeader, NegativePayloadOffsetFailsTheSeekWithItsReport) {
    TempDir dir;
    std::string path = dir.write(
        "fw.bin", im::build_damaged_image(im::ImageRecipe{}, ImageDamage::kNegativePayloadOffset));
    std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
    StderrCapture err;
    EXPECT_EQ(fw_read_header(path.c_str(), area.data()), -1);
    const std::string text = err.text();
    EXPECT_EQ(text.rfind("fseek(): ", 0), 0u) << text;
    EXPECT_GT(text.size(), 10u);
    EXPECT_EQ(text.back(), '\n');
}

TEST(ExpectedVariant, FollowsTheChipVariantTable) {
    struct Row {
        uint32_t chip_id, chip_rev;
        int variant;
    } rows[] = {
        {0xA0010001, 0, 2},   {0xA0010001, 10, 2},  {0xA0010002, 0, 3},  {0xA0010003, 7, 3},
        {0xA0020001, 4, 13},  {0xA0020002, 10, 13}, {0xA0020003, 4, 13}, {0xA0020001, 0, 12},
        {0xA0020002, 5, 12},  {0xA0020003, 11, 12}, {0xA0030000, 4, 21}, {0xA0030001, 0, 22},
        {0xA0020000, 10, -1}, {0xA0010000, 0, -1},  {0xA0010004, 0, -1}, {0xA0030002, 0, -1},
        {0, 0, -1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(fw_expected_variant(row.chip_id, row.chip_rev), row.variant)
            << std::hex << row.chip_id << " rev " << std::dec << row.chip_rev;
    }
}

// A simulated bridge with a chosen chip, opened, with an empty trace.
class CheckImage : public StagedTest {
  protected:
    void chip(uint32_t chip_id, uint32_t chip_rev, const char* revision = nullptr,
              const char* model = nullptr) {
        sim::BridgeConfig config = bridge_of_chip(chip_id, chip_rev);
        config.revision = revision ? revision : config.revision;
        config.model = model ? model : config.model;
        opened_bridge(config);
    }
    int check(const std::vector<uint8_t>& image, bool rescue_slot = false) {
        return fw_check_image(handle, write("image.bin", image).c_str(), rescue_slot);
    }
    static std::vector<uint8_t> image(uint8_t variant, uint32_t signature = MODE_MAIN,
                                      uint8_t image_type = 0) {
        im::ImageRecipe recipe = im::firmware_recipe(variant);
        recipe.body_size = 4096;
        recipe.signature = signature;
        recipe.image_type = image_type;
        return im::build_firmware_image(recipe);
    }
};

TEST_F(CheckImage, VariantTableAndBothSlotRules) {
    const std::pair<uint32_t, uint32_t> chips[] = {
        {0xA0010001, 0}, {0xA0010002, 0}, {0xA0010003, 0x20}, {0xA0020001, 10}, {0xA0020002, 4},
        {0xA0020003, 0}, {0xA0030000, 0}, {0xA0030001, 4},    {0xA0030002, 0}};
    for (const auto& [id, rev] : chips) {
        chip(id, rev);
        const int expected = fw_expected_variant(id, rev);
        const bool first = id <= 0xA0010003;
        for (uint8_t variant : {0, 2, 3, 12, 13, 21, 22}) {
            SCOPED_TRACE(::testing::Message()
                         << std::hex << id << " variant " << std::dec << int(variant));
            const bool fits = variant == expected;
            EXPECT_EQ(check(image(variant)), fits ? 0 : -1);
            EXPECT_EQ(check(image(variant, MODE_MAIN, 0xFE)), -1);
            EXPECT_EQ(check(image(variant, MODE_RESCUE), true), fits && first ? 0 : -1);
            EXPECT_EQ(check(image(variant, MODE_MAIN, 0xFE), true), fits && !first ? 0 : -1);
            EXPECT_EQ(check(image(variant), true), -1);
            EXPECT_EQ(check(image(variant, MODE_RESCUE)), -1);
        }
    }
}

TEST_F(CheckImage, RegisterBlockFollowsTheRevisionStringBeforeTheModel) {
    struct Case {
        const char *revision, *model;
        std::vector<uint32_t> reads;
    } cases[] = {
        {"1.01", "VTX4500", {0xB37000C4, 0xB37000C8}},
        {"2.00", "VTX4700", {0xB35000C4, 0xB35000C8}},
        {"3.00", "VTX4500", {0xB35000C4, 0xB35000C8}},
        {"3.00", "VTX4700", {0xB37000C4, 0xB37000C8}},
        {"3.00", "VTX9999", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.revision) + " " + c.model);
        chip(0xA0020001, 10, c.revision, c.model);
        const int result = check(image(13));
        EXPECT_EQ(memory_reads(), c.reads);
        if (c.reads.empty()) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(sim().trace().size(), 1u);  // the INQUIRY alone
        }
    }
}

TEST_F(CheckImage, UnreadableRevisionCountsAsRevisionZero) {
    chip(0xA0020002, 10);
    for (uint8_t variant : {12, 13}) {
        // The revision read comes right after the INQUIRY.
        sim::CommandFault fault = failing(OP_VENDOR_READ, SUB_MEMORY_READ, 0, -1);
        fault.index = sim().command_count() + 1;
        sim().add_fault(fault);
        EXPECT_EQ(check(image(variant)), variant == 12 ? 0 : -1);
    }
}

TEST_F(CheckImage, FailedChipIdReadPassesItsCodeOn) {
    for (int error : {0, sim::SIM_ERROR_DEVICE_NOT_CONNECTED}) {
        chip(0xA0020001, 10);
        sim().add_fault(failing(OP_VENDOR_READ, SUB_MEMORY_READ, 1, 1, error));
        EXPECT_EQ(check(image(13)), error ? error : 2);
    }
}

TEST_F(CheckImage, FailedInquiryOrNoMemoryForItIsRefused) {
    chip(0xA0020001, 10);
    sim().add_fault(failing(0x12, -1));
    EXPECT_EQ(check(image(13)), -1);
    EXPECT_TRUE(memory_reads().empty());
    sim().clear_trace();
    buffer_fail_allocation(2);  // the reader's block, then the INQUIRY buffer
    EXPECT_EQ(check(image(13)), -1);
    EXPECT_TRUE(sim().trace().empty());
}

// A refused file leaves no message; only the negative offset's seek reports.
TEST_F(CheckImage, DamagedOrMisshapenImageSendsNoCommand) {
    chip(0xA0020001, 10);
    for (ImageDamage damage :
         {ImageDamage::kWrongCrc, ImageDamage::kShortFile, ImageDamage::kPayloadPastEnd,
          ImageDamage::kNegativePayloadOffset, ImageDamage::kLeadOffsetNotZero,
          ImageDamage::kBodyOffsetNotLead, ImageDamage::kLeadLengthUnaligned,
          ImageDamage::kBodyLengthUnaligned, ImageDamage::kFileShorterThanLead}) {
        SCOPED_TRACE(int(damage));
        StderrCapture err;
        EXPECT_EQ(check(im::build_damaged_image(im::firmware_recipe(13), damage)), -1);
        EXPECT_EQ(err.text().empty(), damage != ImageDamage::kNegativePayloadOffset);
        EXPECT_TRUE(sim().trace().empty());
    }
    EXPECT_EQ(fw_check_image(handle, dir.file("absent.bin").c_str(), false), -1);
    EXPECT_TRUE(sim().trace().empty());
}

}  // namespace
}  // namespace vtx::test
