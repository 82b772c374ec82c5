// check on images and LED images: every damage the image maker can make is
// refused with its own reason, and the verdict agrees with the update
// engine's own checks against a simulated bridge.
#include "device/transport.h"
#include "tests/companion/companion_support.h"
#include "tests/support/stderr_capture.h"
#include "tools/imagemaker/image_builder.h"
#include "update/image.h"
#include "update/led.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace vtx::test {
namespace {

namespace im = imagemaker;

struct DamageCode {
    im::ImageDamage kind;
    const char* code;
};

const DamageCode IMAGE_DAMAGE_CODES[] = {
    {im::ImageDamage::kWrongCrc, "crc-mismatch"},
    {im::ImageDamage::kWrongSignature, "unknown-signature"},
    {im::ImageDamage::kWrongVariant, "unknown-variant"},
    {im::ImageDamage::kMainMarkedRescue, "wrong-slot"},
    {im::ImageDamage::kLeadOffsetNotZero, "lead-offset-not-zero"},
    {im::ImageDamage::kBodyOffsetNotLead, "body-offset-not-lead"},
    {im::ImageDamage::kLeadLengthUnaligned, "lead-length-unaligned"},
    {im::ImageDamage::kBodyLengthUnaligned, "body-length-unaligned"},
    {im::ImageDamage::kFileShorterThanLead, "shorter-than-lead"},
    {im::ImageDamage::kShortFile, "short-file"},
    {im::ImageDamage::kNegativePayloadOffset, "negative-payload-offset"},
    {im::ImageDamage::kPayloadPastEnd, "payload-past-end"},
};

bool contains(const std::vector<std::string>& codes, const std::string& code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

class CompanionCheckImages : public testing::Test {
  protected:
    // The update engine's verdict: the image check against a bridge of this
    // chip, in either slot.
    bool engine_accepts(const std::string& path, uint32_t chip_id, uint32_t chip_rev) {
        sim->clear_devices();
        const sim::BridgeConfig config = bridge_of_chip(chip_id, chip_rev);
        sim->add_bridge(config);
        DeviceHandle* handle = dev_open(config.path.c_str());
        StderrCapture quiet;  // the reader reports a failed seek
        bool accepted = fw_check_image(handle, path.c_str(), false) == 0 ||
                        fw_check_image(handle, path.c_str(), true) == 0;
        dev_close(handle);
        return accepted;
    }
    Json check(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"check", "--json"};
        all.insert(all.end(), args.begin(), args.end());
        return json_of(run_bridge(all));
    }
    SimInstalled sim;
    TempDir dir;
};

TEST_F(CompanionCheckImages, EveryDamagedImageIsRefusedWithItsReason) {
    ASSERT_EQ(std::size(IMAGE_DAMAGE_CODES), im::image_damage_kinds().size());
    for (const DamageCode& damage : IMAGE_DAMAGE_CODES) {
        SCOPED_TRACE(damage.code);
        std::string path = dir.write(std::string(damage.code) + ".bin",
                                     im::build_damaged_image(im::firmware_recipe(13), damage.kind));
        Json file = check({"--type", "firmware", path})["files"][0];
        EXPECT_FALSE(file["passed"].get<bool>());
        EXPECT_TRUE(contains(codes_of(file["problems"]), damage.code))
            << testing::PrintToString(codes_of(file["problems"]));

        // Without --type the kind comes from the content, and the verdict is
        // the engine's.
        Json detected = check({path})["files"][0];
        EXPECT_EQ(detected["passed"].get<bool>(), engine_accepts(path, 0xA0020001, 10))
            << detected["kind"].get<std::string>();
    }
}

struct Chip {
    uint32_t id;
    uint32_t rev;
};

const Chip CHIPS[] = {{0xA0010001, 0},  {0xA0010002, 3}, {0xA0010003, 0}, {0xA0020001, 4},
                      {0xA0020002, 10}, {0xA0020003, 0}, {0xA0030000, 0}, {0xA0030001, 7}};

TEST_F(CompanionCheckImages, IntactImagesPassAndNameTheChipsTheyFit) {
    for (const Chip& chip : CHIPS) {
        SCOPED_TRACE(testing::Message() << std::hex << chip.id << " rev " << chip.rev);
        struct Role {
            im::ImageRecipe recipe;
            const char* kind;
        } roles[] = {{im::firmware_recipe_for_chip(chip.id, chip.rev), "firmware"},
                     {im::rescue_recipe_for_chip(chip.id, chip.rev), "rescue"}};
        for (const Role& role : roles) {
            std::string path = dir.write("img.bin", im::build_firmware_image(role.recipe));
            Json file = check({path})["files"][0];
            EXPECT_TRUE(file["passed"].get<bool>())
                << testing::PrintToString(codes_of(file["problems"]));
            EXPECT_EQ(file["kind"].get<std::string>(), role.kind);
            bool named = false;
            for (Json fit : file["image"]["fits"])
                named |= fit["chip_id"].get<uint64_t>() == chip.id &&
                         fit["slot"].get<std::string>() ==
                             (std::string(role.kind) == "firmware" ? "main" : "rescue");
            EXPECT_TRUE(named);
            EXPECT_TRUE(engine_accepts(path, chip.id, chip.rev));
        }
    }
}

// A rescue image is no firmware image and the other way round; a firmware
// image's name gives the version, and a name without one, or with another
// than the header's, is warned about: the tool would flash it on every run.
TEST_F(CompanionCheckImages, TheSlotMustMatchAndTheNameShouldGiveTheVersion) {
    std::string rescue = dir.write("r.bin", im::build_firmware_image(im::rescue_recipe(13)));
    std::vector<uint8_t> image =
        im::build_firmware_image(im::firmware_recipe(13, {1, 2, 3, 0, 20240615}));
    std::string firmware = dir.write("fw_v1.2.3.061524.bin", image);
    EXPECT_TRUE(contains(codes_of(check({"--type", "firmware", rescue})["files"][0]["problems"]),
                         "wrong-slot"));
    EXPECT_TRUE(contains(codes_of(check({"--type", "rescue", firmware})["files"][0]["problems"]),
                         "wrong-slot"));
    Json good = check({"--type", "firmware", firmware})["files"][0];
    EXPECT_TRUE(good["passed"].get<bool>());
    EXPECT_TRUE(good["warnings"].empty());
    for (const char* name :
         {"fw_v1.2.4.061524.bin", "fw_v1.2.3.061424.bin", "fw_v1.2.3.20240615"}) {
        Json other = check({dir.write(name, image)})["files"][0];
        EXPECT_EQ(codes_of(other["warnings"]), std::vector<std::string>{"name-differs-from-header"})
            << name;
    }
    EXPECT_EQ(good["image"]["name_version"]["version"].get<std::string>(), "1.2.3");
    EXPECT_EQ(good["image"]["name_version"]["date"].get<std::string>(), "061524");

    std::string unnamed = dir.write("firmware.bin", read_file(firmware));
    Json file = check({unnamed})["files"][0];
    EXPECT_TRUE(file["passed"].get<bool>());
    EXPECT_TRUE(contains(codes_of(file["warnings"]), "name-without-version"));
    EXPECT_FALSE(check({"--strict", unnamed})["files"][0]["passed"].get<bool>());
}

TEST_F(CompanionCheckImages, EveryDamagedLedImageIsRefusedWithItsReason) {
    struct LedCode {
        im::LedDamage kind;
        const char* code;
    } cases[] = {{im::LedDamage::kWrongSignature, "wrong-signature"},
                 {im::LedDamage::kSizeMismatch, "size-mismatch"},
                 {im::LedDamage::kShortFile, "short-file"},
                 {im::LedDamage::kReachesHeaderBlock, "reaches-header-block"}};
    ASSERT_EQ(std::size(cases), im::led_damage_kinds().size());
    for (const LedCode& c : cases) {
        SCOPED_TRACE(c.code);
        std::string path = dir.write("led.bin", im::build_damaged_led_image({}, c.kind));
        Json file = check({"--type", "led", path})["files"][0];
        EXPECT_FALSE(file["passed"].get<bool>());
        EXPECT_TRUE(contains(codes_of(file["problems"]), c.code))
            << testing::PrintToString(codes_of(file["problems"]));
        uint8_t header[64] = {};
        EXPECT_NE(led_check_image(path.c_str(), header), 0);
    }
    std::string good = dir.write("good.bin", im::build_led_image({}));
    Json file = check({good})["files"][0];
    EXPECT_EQ(file["kind"].get<std::string>(), "led");
    EXPECT_TRUE(file["passed"].get<bool>());
    EXPECT_EQ(file["led"]["total"].get<uint64_t>(), im::DEFAULT_LED_SIZE);
}

TEST_F(CompanionCheckImages, TheKindComesFromTheContent) {
    std::vector<uint8_t> area = area_of(dir, "VID = 1\n");
    std::vector<uint8_t> block = area;  // a header block dump: image half, then the area
    block.insert(block.begin(), HEADER_HALF_SIZE, 0x11);
    std::vector<uint8_t> noise = im::pseudo_random_bytes(7, 5000);
    struct Case {
        std::string path;
        const char* kind;
        bool passed;
    } cases[] = {
        {dir.write("a_v1.0.0.010124.bin", im::build_firmware_image(im::firmware_recipe(21))),
         "firmware", true},
        {dir.write("b.bin", im::build_firmware_image(im::rescue_recipe(2))), "rescue", true},
        {dir.write("c.bin", im::build_firmware_image(im::rescue_recipe(22))), "rescue", true},
        {dir.write("d.bin", im::build_led_image({})), "led", true},
        {dir.write("e.cfg", "VID = 1\n"), "params", true},
        {dir.write("f.bin", area), "area", true},
        {dir.write("g.bin", block), "area", true},
        {dir.write("h.bin", noise), "unknown", false},
        {dir.file("absent.bin"), "unknown", false},
        // The update tool's loader reads past NUL bytes and keeps the line.
        {dir.write("i.cfg", std::string("VID = 1\n\0\0junk\n", 15)), "params", true},
        {dir.path().string(), "unknown", false},
    };
    std::vector<std::string> args;
    for (const Case& c : cases)
        args.push_back(c.path);
    Json doc = check(args);
    EXPECT_EQ(doc["exit_code"].get<int64_t>(), companion::EXIT_FAILED);
    EXPECT_EQ(doc["failed"].get<int64_t>(), 3);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_EQ(doc["files"][i]["kind"].get<std::string>(), cases[i].kind);
        EXPECT_EQ(doc["files"][i]["kind_source"].get<std::string>(), "content");
        EXPECT_EQ(doc["files"][i]["passed"].get<bool>(), cases[i].passed);
    }
    EXPECT_EQ(codes_of(doc["files"][8]["problems"]), std::vector<std::string>{"cannot-open"});
    EXPECT_EQ(codes_of(doc["files"][7]["problems"]), std::vector<std::string>{"unknown-kind"});
    EXPECT_EQ(codes_of(doc["files"][10]["problems"]), std::vector<std::string>{"not-a-file"});
}

TEST_F(CompanionCheckImages, TextReportNamesEachFileAndItsVerdict) {
    std::string good =
        dir.write("fw_v1.0.0.010124.bin", im::build_firmware_image(im::firmware_recipe(13)));
    std::string bad = dir.write(
        "bad.bin", im::build_damaged_image(im::firmware_recipe(13), im::ImageDamage::kWrongCrc));
    BridgeRun run = run_bridge({"check", good, bad});
    EXPECT_EQ(run.code, companion::EXIT_FAILED);
    EXPECT_NE(run.out.find(good + ": firmware image: passed\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(bad + ": firmware image: FAILED\n"), std::string::npos);
    EXPECT_NE(run.out.find("(crc-mismatch)"), std::string::npos);
    EXPECT_NE(run.out.find("0xA0020001 to 0xA0020003 (revision 4 or 10) as main"),
              std::string::npos);
    EXPECT_NE(run.err.find("1 of 2 files failed"), std::string::npos) << run.err;
#ifndef _WIN32
    // A name is bytes a person chose: no escape reaches the terminal, and
    // every \x of the report begins an escape.
    std::string odd = dir.write("odd\x1B[2J\n\\x41.cfg", std::string("VID = 1\n\x1B[2J = 1\n"));
    run = run_bridge({"check", odd, dir.path().string()});
    EXPECT_EQ(run.out.find('\x1B'), std::string::npos);
    EXPECT_NE(run.out.find("odd\\x1B[2J\\x0A\\x5Cx41.cfg: parameter file: passed\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("problem: a directory, not a regular file"), std::string::npos);
    // A FIFO would block the open: it is refused before one.
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_NE(run_bridge({"check", dir.file("fifo")}).out.find("problem: not a regular file"),
              std::string::npos);
    EXPECT_EQ(run_bridge({"pack-params", dir.file("fifo"), dir.file("out.bin")}).code,
              companion::EXIT_FAILED);
#endif
}

}  // namespace
}  // namespace vtx::test
