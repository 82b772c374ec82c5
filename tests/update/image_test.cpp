// The image file reader, its CRC-32, the layout rule and the check of an
// image against the connected chip and slot.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/stderr_capture.h"
#include "tests/support/support.h"
#include "tools/imagemaker/image_builder.h"
#include "update/image.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx {
namespace {

using imagemaker::build_damaged_image;
using imagemaker::build_firmware_image;
using imagemaker::image_header_of;
using imagemaker::ImageDamage;
using imagemaker::ImageSpec;
using imagemaker::set_image_header;
using test::StderrCapture;
using test::TempDir;

std::vector<uint8_t> bytes_of(const char* text) {
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

TEST(Crc32, MatchesTheStandardCheckValueAndFoldsChunkByChunk) {
    std::vector<uint8_t> check = bytes_of("123456789");
    EXPECT_EQ(crc32_update(0, check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, nullptr, 0), 0u);

    uint32_t folded = crc32_update(0, check.data(), 4);
    folded = crc32_update(folded, check.data() + 4, 0);
    folded = crc32_update(folded, check.data() + 4, 5);
    EXPECT_EQ(folded, 0xCBF43926u);

    std::vector<uint8_t> payload = imagemaker::pseudo_random_bytes(7, 3 * 4096 + 100);
    uint32_t chunked = 0;
    for (size_t at = 0; at < payload.size(); at += 4096) {
        chunked =
            crc32_update(chunked, payload.data() + at, std::min<size_t>(4096, payload.size() - at));
    }
    EXPECT_EQ(chunked, crc32_update(0, payload.data(), payload.size()));
}

TEST(ReadHeader, AcceptsAGoodImageAndCopiesItsFirst2048Bytes) {
    TempDir dir;
    std::vector<uint8_t> file = build_firmware_image(ImageSpec{});
    std::string path = dir.write("fw.bin", file);
    std::vector<uint8_t> header(IMAGE_HEADER_SIZE, 0xAA);
    ASSERT_EQ(fw_read_header(path.c_str(), header.data()), 0);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
}

TEST(ReadHeader, PayloadReadInSeveralChunksMatchesOneContinuousCrc) {
    TempDir dir;
    ImageSpec recipe;
    recipe.body_size = 5 * 4096;
    std::vector<uint8_t> file = build_firmware_image(recipe);
    ImageHeader header = image_header_of(file);
    // An unaligned range that takes five full reads and a short one.
    header.payload_offset = 4096 + 100;
    header.payload_length = 5 * 4096 - 107;
    header.payload_crc =
        crc32_update(0, file.data() + header.payload_offset, header.payload_length);
    set_image_header(file, header, false);
    std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
    EXPECT_EQ(fw_read_header(dir.write("fw.bin", file).c_str(), area.data()), 0);

    header.payload_crc ^= 0x80000000;
    set_image_header(file, header, false);
    EXPECT_EQ(fw_read_header(dir.write("fw.bin", file).c_str(), area.data()), -1);
}

struct ReadCase {
    const char* name;
    void (*change)(std::vector<uint8_t>& file);
    int expected;
};

TEST(ReadHeader, RefusesDamagedFilesWithoutAMessage) {
    const ReadCase cases[] = {
        {"short file with its payload inside",
         [](std::vector<uint8_t>& f) {
             ImageHeader h = image_header_of(f);
             h.payload_offset = 2048;
             h.payload_length = 512;
             set_image_header(f, h);
             f.resize(4095);
         },
         -1},
        {"payload runs past the end",
         [](std::vector<uint8_t>& f) {
             ImageHeader h = image_header_of(f);
             set_image_header(f, h);
             h.payload_length += 1;
             set_image_header(f, h, false);
         },
         -1},
        {"payload offset past the end",
         [](std::vector<uint8_t>& f) {
             f = build_damaged_image(ImageSpec{}, ImageDamage::kPayloadPastEnd);
         },
         -1},
        {"wrong CRC",
         [](std::vector<uint8_t>& f) {
             f = build_damaged_image(ImageSpec{}, ImageDamage::kWrongCrc);
         },
         -1},
        {"empty payload with CRC 0",
         [](std::vector<uint8_t>& f) {
             ImageHeader h = image_header_of(f);
             h.payload_length = 0;
             h.payload_crc = 0;
             set_image_header(f, h, false);
         },
         0},
        {"empty payload with a CRC",
         [](std::vector<uint8_t>& f) {
             ImageHeader h = image_header_of(f);
             h.payload_length = 0;
             h.payload_crc = 1;
             set_image_header(f, h, false);
         },
         -1},
    };
    TempDir dir;
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = build_firmware_image(ImageSpec{});
        c.change(file);
        std::string path = dir.write("image.bin", file);
        std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
        StderrCapture err;
        EXPECT_EQ(fw_read_header(path.c_str(), area.data()), c.expected);
        EXPECT_EQ(err.text(), "");
        // The header area is taken before the CRC is known.
        if (file.size() >= 4096) {
            EXPECT_TRUE(std::equal(area.begin(), area.end(), file.begin()));
        }
    }
}

TEST(ReadHeader, NegativePayloadOffsetFailsTheSeekWithItsReport) {
    TempDir dir;
    std::string path =
        dir.write("fw.bin", build_damaged_image(ImageSpec{}, ImageDamage::kNegativePayloadOffset));
    std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
    StderrCapture err;
    EXPECT_EQ(fw_read_header(path.c_str(), area.data()), -1);
    std::string text = err.text();
    EXPECT_EQ(text.rfind("fseek(): ", 0), 0u) << text;
    EXPECT_GT(text.size(), 10u);
    EXPECT_EQ(text.back(), '\n');
}

TEST(ReadHeader, MissingFileOrNoPathIsRefused) {
    TempDir dir;
    std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
    EXPECT_EQ(fw_read_header(dir.file("absent.bin").c_str(), area.data()), -1);
    EXPECT_EQ(fw_read_header(nullptr, area.data()), -1);
}

TEST(FileSize, GivesTheSizeOrMinusOne) {
    TempDir dir;
    EXPECT_EQ(fw_file_size(dir.write("five.bin", std::string("12345")).c_str()), 5);
    EXPECT_EQ(fw_file_size(dir.write("empty.bin", std::string()).c_str()), 0);
    EXPECT_EQ(fw_file_size(dir.file("absent.bin").c_str()), -1);
    EXPECT_EQ(fw_file_size(nullptr), -1);
}

TEST(ExpectedVariant, FollowsTheChipVariantTable) {
    struct Row {
        uint32_t chip_id, chip_rev;
        int variant;
    };
    const Row rows[] = {
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

TEST(LayoutFits, OnlyTheLayoutTheDownloadWalks) {
    struct Case {
        const char* name;
        uint32_t lead_offset, body_offset, lead_length, file_size;
        bool fits;
    };
    const Case cases[] = {
        {"lead then body", 0, 4096, 4096, 69632, true},
        {"empty body", 0, 4096, 4096, 4096, true},
        {"two-block lead", 0, 8192, 8192, 8192 + 40960, true},
        {"lead offset not 0", 4096, 4096, 4096, 69632, false},
        {"body offset beyond the lead", 0, 8192, 4096, 69632, false},
        {"body offset inside the lead", 0, 2048, 4096, 69632, false},
        {"lead length not whole units", 0, 6144, 6144, 6144 + 65536, false},
        {"body not whole units", 0, 4096, 4096, 69632 + 2048, false},
        {"file shorter than its lead", 0, 73728, 73728, 69632, false},
    };
    for (const Case& c : cases) {
        ImageHeader header;
        header.lead_offset = c.lead_offset;
        header.body_offset = c.body_offset;
        header.lead_length = c.lead_length;
        EXPECT_EQ(fw_layout_fits(header, c.file_size), c.fits) << c.name;
    }
}

// A simulated bridge with a chosen chip, opened, with an empty trace.
class Rig {
  public:
    explicit Rig(uint32_t chip_id, uint32_t chip_rev = 0, const char* revision = nullptr,
                 const char* model = nullptr) {
        sim::BridgeConfig config;
        config.chip_id = chip_id;
        config.chip_rev_register = chip_rev << 16;
        bool first = imagemaker::chip_takes_rescue_format(chip_id);
        config.revision = revision ? revision : first ? "2.00" : "2.01";
        config.model = model ? model : first ? "VTX4500" : "VTX4600";
        bridge = &sim->add_bridge(config);
        handle = dev_open(config.path.c_str());
        sim->clear_trace();
    }
    ~Rig() { dev_close(handle); }

    int check(const std::vector<uint8_t>& image, bool rescue_slot) {
        return fw_check_image(handle, dir.write("image.bin", image).c_str(), rescue_slot);
    }
    std::vector<uint32_t> memory_reads() {
        std::vector<uint32_t> addresses;
        for (const auto& entry : test::commands(sim.sim(), OP_VENDOR_READ, SUB_MEMORY_READ)) {
            addresses.push_back(load_le32(entry.cdb + 8));
        }
        return addresses;
    }

    test::SimInstalled sim;
    TempDir dir;
    sim::Bridge* bridge = nullptr;
    DeviceHandle* handle = nullptr;
};

std::vector<uint8_t> image_with(uint8_t variant, uint32_t signature, uint8_t image_type) {
    ImageSpec recipe = imagemaker::firmware_spec(variant);
    recipe.body_size = 4096;
    recipe.signature = signature;
    recipe.image_type = image_type;
    return build_firmware_image(recipe);
}

TEST(CheckImage, VariantTableAndBothSlotRules) {
    struct Chip {
        uint32_t id, rev;
    };
    const Chip chips[] = {{0xA0010001, 0},  {0xA0010002, 0}, {0xA0010003, 0x20},
                          {0xA0020001, 10}, {0xA0020002, 4}, {0xA0020003, 0},
                          {0xA0030000, 0},  {0xA0030001, 4}, {0xA0030002, 0}};
    const uint8_t variants[] = {0, 2, 3, 12, 13, 21, 22};
    for (const Chip& chip : chips) {
        Rig rig(chip.id, chip.rev);
        int expected = fw_expected_variant(chip.id, chip.rev);
        bool first = chip.id <= 0xA0010003;
        for (uint8_t variant : variants) {
            SCOPED_TRACE(::testing::Message()
                         << std::hex << chip.id << " variant " << std::dec << int(variant));
            bool fits = variant == expected;
            EXPECT_EQ(rig.check(image_with(variant, MODE_MAIN, 0), false), fits ? 0 : -1);
            EXPECT_EQ(rig.check(image_with(variant, MODE_MAIN, 0xFE), false), -1);
            EXPECT_EQ(rig.check(image_with(variant, MODE_RESCUE, 0), true), fits && first ? 0 : -1);
            EXPECT_EQ(rig.check(image_with(variant, MODE_MAIN, 0xFE), true),
                      fits && !first ? 0 : -1);
            EXPECT_EQ(rig.check(image_with(variant, MODE_MAIN, 0), true), -1);
            EXPECT_EQ(rig.check(image_with(variant, MODE_RESCUE, 0), false), -1);
        }
    }
}

TEST(CheckImage, RegisterBlockFollowsTheRevisionStringBeforeTheModel) {
    struct Case {
        const char* revision;
        const char* model;
        std::vector<uint32_t> reads;
    };
    const Case cases[] = {
        {"1.01", "VTX4500", {0xB37000C4, 0xB37000C8}},
        {"2.00", "VTX4700", {0xB35000C4, 0xB35000C8}},
        {"3.00", "VTX4500", {0xB35000C4, 0xB35000C8}},
        {"3.00", "VTX4700", {0xB37000C4, 0xB37000C8}},
        {"3.00", "VTX9999", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.revision) + " " + c.model);
        Rig rig(0xA0020001, 10, c.revision, c.model);
        int result = rig.check(image_with(13, MODE_MAIN, 0), false);
        EXPECT_EQ(rig.memory_reads(), c.reads);
        if (c.reads.empty()) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(rig.sim->trace().size(), 1u);  // the INQUIRY alone
        }
    }
}

TEST(CheckImage, UnreadableRevisionCountsAsRevisionZero) {
    Rig rig(0xA0020002, 10);
    sim::CommandFault fault;
    fault.opcode = OP_VENDOR_READ;
    fault.sub_command = SUB_MEMORY_READ;
    fault.count = -1;
    fault.index = rig.sim->command_count() + 1;  // the revision read after the INQUIRY
    rig.sim->add_fault(fault);
    EXPECT_EQ(rig.check(image_with(12, MODE_MAIN, 0), false), 0);
    fault.index = rig.sim->command_count() + 1;
    rig.sim->add_fault(fault);
    EXPECT_EQ(rig.check(image_with(13, MODE_MAIN, 0), false), -1);
}

TEST(CheckImage, FailedChipIdReadPassesItsCodeOn) {
    struct Case {
        uint8_t status;
        int platform_error;
        int result;
    };
    const Case cases[] = {
        {2, 0, 2}, {0, sim::SIM_ERROR_DEVICE_NOT_CONNECTED, sim::SIM_ERROR_DEVICE_NOT_CONNECTED}};
    for (const Case& c : cases) {
        Rig rig(0xA0020001, 10);
        sim::CommandFault fault;
        fault.opcode = OP_VENDOR_READ;
        fault.sub_command = SUB_MEMORY_READ;
        fault.skip = 1;
        fault.scsi_status = c.status;
        fault.sense_key = c.status ? 5 : 0;
        fault.asc = c.status ? 0x21 : 0;
        fault.platform_error = c.platform_error;
        rig.sim->add_fault(fault);
        EXPECT_EQ(rig.check(image_with(13, MODE_MAIN, 0), false), c.result);
    }
}

TEST(CheckImage, FailedInquiryOrNoMemoryForItIsRefused) {
    Rig rig(0xA0020001, 10);
    sim::CommandFault fault;
    fault.opcode = 0x12;
    fault.scsi_status = 2;
    fault.sense_key = 5;
    rig.sim->add_fault(fault);
    EXPECT_EQ(rig.check(image_with(13, MODE_MAIN, 0), false), -1);
    EXPECT_TRUE(rig.memory_reads().empty());

    rig.sim->clear_trace();
    buffer_fail_allocation(2);  // the reader's block, then the INQUIRY buffer
    EXPECT_EQ(rig.check(image_with(13, MODE_MAIN, 0), false), -1);
    buffer_fail_allocation(0);
    EXPECT_TRUE(rig.sim->trace().empty());
}

TEST(CheckImage, DamagedOrMisshapenImageSendsNoCommand) {
    const ImageDamage file_faults[] = {
        ImageDamage::kWrongCrc,
        ImageDamage::kShortFile,
        ImageDamage::kPayloadPastEnd,
        ImageDamage::kNegativePayloadOffset,
        ImageDamage::kLeadOffsetNotZero,
        ImageDamage::kBodyOffsetNotLead,
        ImageDamage::kLeadLengthUnaligned,
        ImageDamage::kBodyLengthUnaligned,
        ImageDamage::kFileShorterThanLead,
    };
    Rig rig(0xA0020001, 10);
    for (ImageDamage damage : file_faults) {
        SCOPED_TRACE(int(damage));
        StderrCapture err;  // the negative offset's seek report
        EXPECT_EQ(rig.check(build_damaged_image(imagemaker::firmware_spec(13), damage), false), -1);
        EXPECT_TRUE(rig.sim->trace().empty());
    }
    EXPECT_EQ(fw_check_image(rig.handle, rig.dir.file("absent.bin").c_str(), false), -1);
    EXPECT_TRUE(rig.sim->trace().empty());
}

}  // namespace
}  // namespace vtx
