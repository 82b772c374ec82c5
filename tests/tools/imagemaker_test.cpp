// The image maker: images that the update accepts for the chip they were
// made for and for no other, damaged images that break one rule each, and
// the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/bridge.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/support.h"
#include "tools/imagemaker/cli.h"
#include "tools/imagemaker/image_builder.h"
#include "update/image.h"
#include "update/led.h"
#include "vtx/bytes.h"

namespace vtx::imagemaker {
namespace {

using test::TempDir;

struct Chip {
    uint32_t id, rev;
};
const Chip CHIPS[] = {{0xA0010001, 0}, {0xA0010002, 0}, {0xA0010003, 3}, {0xA0020001, 10},
                      {0xA0020002, 4}, {0xA0020003, 0}, {0xA0030000, 0}, {0xA0030001, 0}};

TEST(ImageMaker, ImagesFitTheChipTheyWereMadeForAndNoOther) {
    TempDir dir;
    for (const Chip& bridge_chip : CHIPS) {
        test::SimInstalled sim;
        sim::BridgeConfig config;
        config.chip_id = bridge_chip.id;
        config.chip_rev_register = bridge_chip.rev << 16;
        config.revision = chip_takes_rescue_format(bridge_chip.id) ? "2.00" : "2.01";
        sim->add_bridge(config);
        DeviceHandle* handle = dev_open(config.path.c_str());
        ASSERT_NE(handle, nullptr);
        for (const Chip& told : CHIPS) {
            SCOPED_TRACE(::testing::Message()
                         << std::hex << "bridge " << bridge_chip.id << " image for " << told.id);
            bool same = variant_for_chip(told.id, told.rev) ==
                        variant_for_chip(bridge_chip.id, bridge_chip.rev);
            ImageSpec main = firmware_spec_for_chip(told.id, told.rev);
            ImageSpec rescue = rescue_spec_for_chip(told.id, told.rev);
            main.body_size = rescue.body_size = 4096;
            std::string main_path = dir.write("fw.bin", build_firmware_image(main));
            std::string rescue_path = dir.write("rescue.bin", build_firmware_image(rescue));
            EXPECT_EQ(fw_check_image(handle, main_path.c_str(), false), same ? 0 : -1);
            EXPECT_EQ(fw_check_image(handle, rescue_path.c_str(), true), same ? 0 : -1);
            // Each image fills its own slot only.
            EXPECT_EQ(fw_check_image(handle, main_path.c_str(), true), -1);
            EXPECT_EQ(fw_check_image(handle, rescue_path.c_str(), false), -1);
        }
        dev_close(handle);
    }
}

TEST(ImageMaker, ImageIsLaidOutForTheDownloadAndBootsWithItsVersion) {
    ImageSpec recipe = firmware_spec(13, FirmwareVersion{1, 2, 3, 0, 20240615});
    recipe.body_size = 262144;
    std::vector<uint8_t> file = build_firmware_image(recipe);
    ASSERT_EQ(file.size(), 4096u + 262144u);
    ImageHeader header = image_header_of(file);
    EXPECT_EQ(header.lead_offset, 0u);
    EXPECT_EQ(header.lead_length, 4096u);
    EXPECT_EQ(header.body_offset, 4096u);
    EXPECT_EQ(header.lead_address, HEADER_BLOCK_ADDRESS);
    EXPECT_EQ(header.body_address, MAIN_BODY_ADDRESS);
    EXPECT_EQ(header.payload_offset, 4096u);
    EXPECT_EQ(header.payload_length, 262144u);
    EXPECT_EQ(header.payload_crc, crc32_update(0, file.data() + 4096, 262144));
    EXPECT_TRUE(fw_layout_fits(header, uint32_t(file.size())));
    EXPECT_EQ(load_le32(file.data() + 64 + 16), 20240615u);
    EXPECT_EQ(file, build_firmware_image(recipe));  // deterministic

    test::SimInstalled sim;
    sim::Bridge& bridge = sim->add_bridge(sim::BridgeConfig{});
    bridge.install_image(file);
    EXPECT_EQ(bridge.mode_reply(), 1);
    FirmwareVersion running = bridge.running_version();
    EXPECT_EQ(running.major, 1u);
    EXPECT_EQ(running.minor, 2u);
    EXPECT_EQ(running.patch, 3u);
    EXPECT_EQ(running.build_date, 20240615u);
    bridge.install_image(build_firmware_image(rescue_spec(13)));
    EXPECT_EQ(bridge.mode_reply(), 2);
    EXPECT_NE(MAIN_BODY_ADDRESS,
              image_header_of(build_firmware_image(rescue_spec(13))).body_address);
}

TEST(ImageMaker, EachDamageKindBreaksItsOwnRuleOnly) {
    struct Expect {
        ImageDamage kind;
        bool reads;  // fw_read_header passes
        bool fits;   // fw_layout_fits passes
    };
    const Expect table[] = {
        {ImageDamage::kWrongCrc, false, true},
        {ImageDamage::kWrongSignature, true, true},
        {ImageDamage::kWrongVariant, true, true},
        {ImageDamage::kMainMarkedRescue, true, true},
        {ImageDamage::kLeadOffsetNotZero, true, false},
        {ImageDamage::kBodyOffsetNotLead, true, false},
        {ImageDamage::kLeadLengthUnaligned, true, false},
        {ImageDamage::kBodyLengthUnaligned, true, false},
        {ImageDamage::kFileShorterThanLead, true, false},
        {ImageDamage::kShortFile, false, true},
        {ImageDamage::kNegativePayloadOffset, false, true},
        {ImageDamage::kPayloadPastEnd, false, true},
    };
    ASSERT_EQ(std::size(table), image_damage_kinds().size());
    TempDir dir;
    for (const Expect& e : table) {
        SCOPED_TRACE(int(e.kind));
        std::vector<uint8_t> file = build_damaged_image(firmware_spec(13), e.kind);
        std::string path = dir.write("bad.bin", file);
        std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
        test::StderrCapture err;
        EXPECT_EQ(fw_read_header(path.c_str(), area.data()) == 0, e.reads);
        if (e.kind != ImageDamage::kShortFile) {
            EXPECT_EQ(fw_layout_fits(image_header_of(file), uint32_t(file.size())), e.fits);
        }
    }
    EXPECT_LT(build_damaged_image(firmware_spec(13), ImageDamage::kShortFile).size(), 4096u);
}

TEST(ImageMaker, LedImagesAndTheirDamagedKinds) {
    TempDir dir;
    LedSpec recipe;
    std::vector<uint8_t> file = build_led_image(recipe);
    ASSERT_EQ(file.size(), DEFAULT_LED_SIZE);
    LedImageHeader header = led_header_from_bytes(file.data());
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "SDEL");
    EXPECT_EQ(header.flash_address, LED_IMAGE_ADDRESS);
    EXPECT_EQ(header.length_a + header.length_b, file.size());
    uint8_t area[LED_HEADER_SIZE] = {};
    EXPECT_EQ(led_check_image(dir.write("led.bin", file).c_str(), area), 0);

    for (const auto& kind : led_damage_kinds()) {
        std::string path = dir.write("bad.bin", build_damaged_led_image(recipe, kind.kind));
        EXPECT_EQ(led_check_image(path.c_str(), area), -1) << kind.name;
    }
    for (uint32_t size : {64u, 4096u, 5000u, 12288u}) {
        recipe.size = size;
        header = led_header_from_bytes(
            build_damaged_led_image(recipe, LedDamage::kReachesHeaderBlock).data());
        EXPECT_LE(header.flash_address, HEADER_BLOCK_ADDRESS);
        EXPECT_GT(header.flash_address + size, HEADER_BLOCK_ADDRESS) << size;
        EXPECT_EQ((HEADER_BLOCK_ADDRESS - header.flash_address) % FLASH_UNIT, 0u);
    }
}

// The program's command line, run in-process.
struct CliRun {
    int code;
    std::string out, err;
};
CliRun run(std::vector<std::string> args) {
    args.insert(args.begin(), "vtx_imagemaker");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    test::CapturedStream out, err;
    int code = imagemaker_main(int(argv.size()), argv.data(), out.get(), err.get());
    return {code, out.text(), err.text()};
}

TEST(ImageMakerCli, FirmwareCommandWritesTheImageItWasAskedFor) {
    TempDir dir;
    std::string out = dir.file("fw_v1.2.3.061524.bin");
    CliRun r = run({"firmware", "--chip-id", "0xA0020001", "--chip-rev", "10", "--version", "1.2.3",
                    "--date", "20240615", "--size", "262144", "--out", out});
    ASSERT_EQ(r.code, EXIT_OK) << r.err;
    ImageSpec recipe = firmware_spec(13, FirmwareVersion{1, 2, 3, 0, 20240615});
    recipe.body_size = 262144;
    EXPECT_EQ(test::read_file(out), build_firmware_image(recipe));
    CliRun info = run({"info", out});
    EXPECT_NE(info.out.find("(matches)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("layout fits the download"), std::string::npos);
    EXPECT_NE(info.out.find("version 1.2.3 (20240615)"), std::string::npos);

    std::string rescue = dir.file("rescue.bin");
    ASSERT_EQ(run({"rescue", "--chip-id", "0xA0010002", "--out", rescue}).code, EXIT_OK);
    EXPECT_EQ(image_header_of(test::read_file(rescue)).signature, MODE_RESCUE);
    ASSERT_EQ(run({"rescue", "--variant", "3", "--format", "main", "--out", rescue}).code, EXIT_OK);
    EXPECT_EQ(image_header_of(test::read_file(rescue)).image_type, IMAGE_TYPE_RESCUE_IN_MAIN);
}

TEST(ImageMakerCli, WrongCommandLinesWriteNothingAndExitWith2) {
    TempDir dir;
    std::string out = dir.file("x.bin");
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"bogus"},
        {"firmware", "--out", out},
        {"firmware", "--variant", "13"},
        {"firmware", "--chip-id", "0xA0040000", "--out", out},
        {"firmware", "--variant", "13", "--chip-id", "0xA0020001", "--out", out},
        {"firmware", "--variant", "13", "--size", "5000", "--out", out},
        {"firmware", "--variant", "13", "--size", "4194304", "--out", out},
        {"firmware", "--variant", "13", "--version", "1.2", "--out", out},
        {"firmware", "--variant", "13", "--date", "20241301", "--out", out},
        {"firmware", "--variant", "13", "--format", "rescue", "--out", out},
        {"firmware", "--variant", "13", "--colour", "red", "--out", out},
        {"rescue", "--variant", "13", "--format", "other", "--out", out},
        {"led", "--size", "63", "--out", out},
        {"damaged", "nothing", "--variant", "13", "--out", out},
        {"damaged", "wrong-crc", "--variant", "13", "--slot", "side", "--out", out},
        {"pack-params", "only-one"},
    };
    for (const auto& line : lines) {
        CliRun r = run(line);
        EXPECT_EQ(r.code, EXIT_USAGE) << ::testing::PrintToString(line);
        EXPECT_EQ(r.err.rfind("vtx_imagemaker: ", 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    CliRun help = run({"--help"});
    EXPECT_EQ(help.code, EXIT_OK);
    for (const auto& kind : image_damage_kinds())
        EXPECT_NE(help.out.find(kind.name), std::string::npos);
    for (const auto& kind : led_damage_kinds())
        EXPECT_NE(help.out.find(kind.name), std::string::npos);
}

TEST(ImageMakerCli, ParameterAreaRoundTripsThroughItsText) {
    TempDir dir;
    std::string cfg =
        dir.write("bridge.cfg", std::string("VID = 0x1234 ; vendor\nPRODUCT = \"abc\"\n"));
    std::string area_path = dir.file("area.bin");
    ASSERT_EQ(run({"pack-params", cfg, area_path}).code, EXIT_OK);
    std::vector<uint8_t> area = test::read_file(area_path);
    ASSERT_EQ(area.size(), 2048u);
    EXPECT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + 3),
              (std::vector<uint8_t>{3, 0x34, 0x12}));

    CliRun shown = run({"show-params", area_path});
    ASSERT_EQ(shown.code, EXIT_OK) << shown.err;
    std::string again = dir.file("again.bin");
    ASSERT_EQ(run({"pack-params", dir.write("shown.cfg", shown.out), again}).code, EXIT_OK);
    EXPECT_EQ(test::read_file(again), area);
}

TEST(ImageMakerCli, RefusesParameterFilesTheUpdateWouldRefuse) {
    TempDir dir;
    std::string area_path = dir.file("area.bin");
    std::string big;
    for (int i = 0; i < 40; ++i)
        big += "PRODUCT = \"0123456789012345678901234567890\"\n";
    const std::string files[] = {"; only a comment\n", "NOT_A_PARAMETER = 1\n", big};
    for (const std::string& text : files) {
        CliRun r = run({"pack-params", dir.write("bad.cfg", text), area_path});
        EXPECT_EQ(r.code, EXIT_REFUSED);
        EXPECT_NE(r.err.find("refuses"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(area_path));
    }
    EXPECT_EQ(run({"pack-params", dir.file("absent.cfg"), area_path}).code, EXIT_REFUSED);
    EXPECT_EQ(run({"show-params", dir.write("odd.bin", std::string(100, '\0'))}).code,
              EXIT_REFUSED);
}

}  // namespace
}  // namespace vtx::imagemaker
