// The image maker: images that the update accepts for the chip they were
// made for and for no other, damaged images that break one rule each, and
// the command line.
#include <gtest/gtest.h>

#include <fstream>
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

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace vtx::imagemaker {
namespace {

using test::read_file;
using test::TempDir;

// Images for a chip of another variant are refused by the check itself;
// here each chip takes the main and rescue images made for it, each in its
// own slot only, the rescue image in the format the chip takes.
TEST(ImageMaker, ImagesFitTheChipTheyWereMadeForInTheirOwnSlot) {
    const std::pair<uint32_t, uint32_t> chips[] = {
        {0xA0010001, 0}, {0xA0010002, 0}, {0xA0010003, 3}, {0xA0020001, 10},
        {0xA0020002, 4}, {0xA0020003, 0}, {0xA0030000, 0}, {0xA0030001, 0}};
    TempDir dir;
    for (const auto& [id, rev] : chips) {
        SCOPED_TRACE(::testing::Message() << std::hex << id << " rev " << rev);
        test::SimInstalled sim;
        const sim::BridgeConfig config = test::bridge_of_chip(id, rev);
        sim->add_bridge(config);
        DeviceHandle* handle = dev_open(config.path.c_str());
        ImageRecipe main = firmware_recipe_for_chip(id, rev);
        ImageRecipe rescue = rescue_recipe_for_chip(id, rev);
        main.body_size = rescue.body_size = 4096;
        const std::string main_path = dir.write("fw.bin", build_firmware_image(main));
        const std::string rescue_path = dir.write("rescue.bin", build_firmware_image(rescue));
        EXPECT_EQ(fw_check_image(handle, main_path.c_str(), false), 0);
        EXPECT_EQ(fw_check_image(handle, rescue_path.c_str(), true), 0);
        EXPECT_EQ(fw_check_image(handle, main_path.c_str(), true), -1);
        EXPECT_EQ(fw_check_image(handle, rescue_path.c_str(), false), -1);
        dev_close(handle);
    }
}

TEST(ImageMaker, ImageIsLaidOutForTheDownloadAndBootsWithItsVersion) {
    ImageRecipe recipe = firmware_recipe(13, FirmwareVersion{1, 2, 3, 0, 20240615});
    recipe.body_size = 262144;
    const std::vector<uint8_t> file = build_firmware_image(recipe);
    const ImageHeader h = image_header_of(file);
    EXPECT_TRUE(fw_layout_fits(h, uint32_t(file.size())));

    test::SimInstalled sim;
    sim::Bridge& bridge = sim->add_bridge({});
    bridge.install_image(file);
    EXPECT_EQ(bridge.mode_reply(), 1);
    const FirmwareVersion v = bridge.running_version();
    EXPECT_EQ(std::tie(v.major, v.minor, v.patch, v.build_date),
              std::make_tuple(1u, 2u, 3u, 20240615u));
    const std::vector<uint8_t> rescue = build_firmware_image(rescue_recipe(13));
    bridge.install_image(rescue);
    EXPECT_EQ(bridge.mode_reply(), 2);
    EXPECT_EQ(image_header_of(rescue).body_address, RESCUE_BODY_ADDRESS);
}

// The sample images, the trace comparison and the bridges a description
// starts on depend on these bytes: a change of either fill shows here first.
TEST(ImageMaker, BothFillsKeepTheirBytesAndTheToolTakesTheirCrc) {
    const struct {
        ImageFill fill;
        uint32_t payload_crc;
        uint32_t file_crc;
    } fills[] = {{ImageFill::kPseudoRandom, 0xF9172EE6, 0x231A0A94},
                 {ImageFill::kCounting, 0xD0A4A26B, 0x4ED71F50}};
    for (const auto& f : fills) {
        SCOPED_TRACE(int(f.fill));
        ImageRecipe recipe;
        recipe.fill = f.fill;
        recipe.seed = 7;
        recipe.body_size = 3 * 4096;
        const std::vector<uint8_t> file = build_image(recipe);
        const ImageHeader h = image_header_of(file);
        EXPECT_EQ(h.payload_crc, crc32_update(0, file.data() + LEAD_LENGTH, 3 * 4096));
        EXPECT_EQ(h.payload_crc, f.payload_crc);
        EXPECT_EQ(crc32_update(0, file.data(), file.size()), f.file_crc);
    }
}

TEST(ImageMaker, EachDamageKindBreaksItsOwnRuleOnly) {
    struct Expect {
        ImageDamage kind;
        bool reads;  // fw_read_header passes
        bool fits;   // fw_layout_fits passes
    } table[] = {
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
        const std::vector<uint8_t> file = build_damaged_image(firmware_recipe(13), e.kind);
        std::vector<uint8_t> area(IMAGE_HEADER_SIZE);
        test::StderrCapture err;
        EXPECT_EQ(fw_read_header(dir.write("bad.bin", file).c_str(), area.data()) == 0, e.reads);
        if (e.kind == ImageDamage::kShortFile) {
            EXPECT_LT(file.size(), 4096u);
        } else {
            EXPECT_EQ(fw_layout_fits(image_header_of(file), uint32_t(file.size())), e.fits);
        }
    }
}

TEST(ImageMaker, LedImagesAndTheirDamagedKinds) {
    TempDir dir;
    LedRecipe recipe;
    const std::vector<uint8_t> file = build_led_image(recipe);
    LedImageHeader header;
    uint8_t area[LED_HEADER_SIZE] = {};
    EXPECT_EQ(led_check_image(dir.write("led.bin", file).c_str(), area), 0);
    for (const auto& kind : led_damage_kinds()) {
        const std::string path = dir.write("bad.bin", build_damaged_led_image(recipe, kind.kind));
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
    const int code = imagemaker_main(int(argv.size()), argv.data(), out.get(), err.get());
    return {code, out.text(), err.text()};
}

TEST(ImageMakerCli, FirmwareCommandWritesTheImageItWasAskedFor) {
    TempDir dir;
    const std::string out = dir.file("fw_v1.2.3.061524.bin");
    // Options in both forms, in any order.
    CliRun r = run({"firmware", "--out", out, "--chip-id=0xA0020001", "--chip-rev", "10",
                    "--version=1.2.3", "--date", "20240615", "--size=262144"});
    ASSERT_EQ(r.code, EXIT_OK) << r.err;
    ImageRecipe recipe = firmware_recipe(13, FirmwareVersion{1, 2, 3, 0, 20240615});
    recipe.body_size = 262144;
    EXPECT_EQ(read_file(out), build_firmware_image(recipe));
    const std::string info = run({"info", out}).out;
    for (const char* line : {"(matches)", "layout fits the download", "version 1.2.3 (20240615)"})
        EXPECT_NE(info.find(line), std::string::npos) << info;

    const std::string rescue = dir.file("rescue.bin");
    ASSERT_EQ(run({"rescue", "--chip-id", "0xA0010002", "--out", rescue}).code, EXIT_OK);
    EXPECT_EQ(image_header_of(read_file(rescue)).signature, MODE_RESCUE);
    ASSERT_EQ(run({"rescue", "--variant", "3", "--format", "main", "--out", rescue}).code, EXIT_OK);
    EXPECT_EQ(image_header_of(read_file(rescue)).image_type, IMAGE_TYPE_RESCUE_IN_MAIN);
}

// Each wrong command line, and a word its message must name.
TEST(ImageMakerCli, WrongCommandLinesWriteNothingAndExitWith64) {
    TempDir dir;
    const std::string out = dir.file("x.bin");
    const struct {
        std::vector<std::string> line;
        const char* names;
    } cases[] = {
        {{}, "no command"},
        {{"bogus"}, "bogus"},
        {{"firmware", "--out", out}, "--variant"},
        {{"firmware", "--variant", "13"}, "--out"},
        {{"firmware", "--chip-id", "0xA0040000", "--out", out}, "0xA0040000"},
        {{"firmware", "--variant", "13", "--chip-id", "0xA0020001", "--out", out}, "--chip-id"},
        {{"firmware", "--variant", "13", "--size", "5000", "--out", out}, "--size"},
        {{"firmware", "--variant", "13", "--size", "4194304", "--out", out}, "4194304"},
        {{"firmware", "--variant", "13", "--version", "1.2", "--out", out}, "--version"},
        {{"firmware", "--variant", "13", "--date", "20241301", "--out", out}, "--date"},
        {{"firmware", "--variant", "13", "--format", "rescue", "--out", out}, "--format"},
        {{"firmware", "--variant", "13", "--colour", "red", "--out", out}, "--colour"},
        {{"firmware", "--variant", "13", "--slot", "main", "--out", out}, "--slot"},
        {{"firmware", "--variant", "--out", out}, "--variant"},
        {{"firmware", "--variant=13", "--variant", "13", "--out", out}, "--variant"},
        {{"rescue", "--variant", "13", "--format", "other", "--out", out}, "--format"},
        {{"led", "--size", "63", "--out", out}, "--size"},
        {{"led", "--variant", "13", "--out", out}, "--variant"},
        {{"led", "--out"}, "--out"},
        {{"damaged", "nothing", "--variant", "13", "--out", out}, "nothing"},
        {{"damaged", "wrong-crc", "--variant", "13", "--slot", "side", "--out", out}, "--slot"},
        {{"damaged", "wrong-crc", "--variant", "13", "--address", "0", "--out", out}, "--address"},
        {{"pack-params", "only-one"}, "OUT"},
        {{"info", "a", "b"}, "b"},
        {{"info", "-x"}, "-x"},
        {{"show-params", "--seed", "1", "a"}, "--seed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.line));
        CliRun r = run(c.line);
        EXPECT_EQ(r.code, 64);
        EXPECT_EQ(r.err.rfind("vtx_imagemaker: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // After "--" a word that starts with "-" is the file.
    EXPECT_EQ(run({"info", "--", "-x"}).code, EXIT_REFUSED);
    for (const char* help : {"--help", "help", "-h"}) {
        CliRun r = run({help});
        EXPECT_EQ(r.code, EXIT_OK);
        for (const auto& kind : image_damage_kinds())
            EXPECT_NE(r.out.find(kind.name), std::string::npos);
        for (const auto& kind : led_damage_kinds())
            EXPECT_NE(r.out.find(kind.name), std::string::npos);
    }
}

// A parameter area round-trips through its text; files the update would
// refuse are refused here too, and nothing is written for them.
TEST(ImageMakerCli, ParameterAreaRoundTripsAndRefusesWhatTheUpdateRefuses) {
    TempDir dir;
    const std::string area_path = dir.file("area.bin");
    const std::string cfg =
        dir.write("bridge.cfg", std::string("VID = 0x1234 ; vendor\nPRODUCT = \"abc\"\n"));
    ASSERT_EQ(run({"pack-params", cfg, area_path}).code, EXIT_OK);
    const std::vector<uint8_t> area = read_file(area_path);
    ASSERT_EQ(area.size(), 2048u);
    EXPECT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + 3),
              (std::vector<uint8_t>{3, 0x34, 0x12}));
    CliRun shown = run({"show-params", area_path});
    ASSERT_EQ(shown.code, EXIT_OK) << shown.err;
    const std::string again = dir.file("again.bin");
    ASSERT_EQ(run({"pack-params", dir.write("shown.cfg", shown.out), again}).code, EXIT_OK);
    EXPECT_EQ(read_file(again), area);

    std::string big;
    for (int i = 0; i < 40; ++i)
        big += "PRODUCT = \"0123456789012345678901234567890\"\n";
    const std::string refused = dir.file("refused.bin");
    for (const std::string& text :
         {std::string("; only a comment\n"), std::string("NOT_A_PARAMETER = 1\n"), big}) {
        CliRun r = run({"pack-params", dir.write("bad.cfg", text), refused});
        EXPECT_EQ(r.code, EXIT_REFUSED);
        EXPECT_NE(r.err.find("refuses"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(refused));
    }
    EXPECT_EQ(run({"pack-params", dir.file("absent.cfg"), refused}).code, EXIT_REFUSED);
    // Its own input is never its output.
    EXPECT_EQ(run({"pack-params", cfg, cfg}).code, EXIT_REFUSED);
    EXPECT_EQ(test::read_text(cfg), "VID = 0x1234 ; vendor\nPRODUCT = \"abc\"\n");
    EXPECT_EQ(run({"show-params", dir.write("odd.bin", std::string(100, '\0'))}).code,
              EXIT_REFUSED);
}

// An input is a regular file no larger than its kind holds, checked before
// it is read: nothing blocks in the open, and nothing reads without end.
TEST(ImageMakerCli, InputsThatAreNoRegularFileOrTooLargeAreRefusedAtOnce) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    std::vector<std::string> inputs = {dir.file("sub")};
#ifndef _WIN32
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    inputs.push_back(dir.file("fifo"));
    inputs.push_back("/dev/zero");
#endif
    std::string big = dir.file("big.bin");
    std::ofstream(big).close();
    std::filesystem::resize_file(big, MAX_IMAGE_FILE_SIZE + 1);
    const std::vector<std::vector<std::string>> commands = {
        {"info", big}, {"show-params", dir.write("area.bin", std::vector<uint8_t>(4097))}};
    std::vector<std::vector<std::string>> lines = commands;
    for (const std::string& input : inputs) {
        for (const char* command : {"info", "show-params"})
            lines.push_back({command, input});
        lines.push_back({"pack-params", input, dir.file("out.bin")});
    }
    for (const auto& line : lines) {
        CliRun r = run(line);
        EXPECT_EQ(r.code, EXIT_REFUSED) << ::testing::PrintToString(line);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.bin")));
    }
}

}  // namespace
}  // namespace vtx::imagemaker
