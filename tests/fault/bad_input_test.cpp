// Every file and every bridge reply the tool reads, damaged one at a time: the
// whole tool ends with its message and exit code, and a damage found before
// the update writes nothing to the bridge. Prints the table it measured.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/fault/campaign.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::fault {
namespace {

namespace im = vtx::imagemaker;

constexpr uint32_t CHIP_ID = 0xA0020001;
constexpr uint32_t CHIP_REV = 10;

using FileDamage = std::function<bool(const UpdateSet&)>;  // runs in a child
using BridgeDamage = std::function<void(sim::SimPlatform&)>;

struct BadInput {
    const char* input;
    const char* damage;
    FileDamage files;
    BridgeDamage bridge;
    int code;
    const char* text;       // in standard output or error
    bool writes;            // the run reaches the bridge's flash
    const char* also = "";  // a second text on standard error, when there is one
};

im::ImageRecipe firmware() {
    im::ImageRecipe plan = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
    plan.version = {1, 2, 4, 0, 20240615};
    plan.body_size = 2 * 65536;
    return plan;
}

im::ImageRecipe rescue() {
    im::ImageRecipe plan = im::rescue_recipe_for_chip(CHIP_ID, CHIP_REV);
    plan.body_size = 65536;
    return plan;
}

FileDamage damaged_firmware(im::ImageDamage kind) {
    return [kind](const UpdateSet& set) {
        return im::write_binary_file(set.bin, im::build_damaged_image(firmware(), kind));
    };
}

FileDamage damaged_rescue(im::ImageDamage kind) {
    return [kind](const UpdateSet& set) {
        return im::write_binary_file(set.rescue, im::build_damaged_image(rescue(), kind));
    };
}

FileDamage damaged_led(im::LedDamage kind) {
    return [kind](const UpdateSet& set) {
        return im::write_binary_file(set.led, im::build_damaged_led_image(im::LedRecipe{}, kind));
    };
}

FileDamage text_file(std::string UpdateSet::*path, std::string text) {
    return [path, text](const UpdateSet& set) {
        return im::write_binary_file(set.*path, std::vector<uint8_t>(text.begin(), text.end()));
    };
}

FileDamage missing(std::string UpdateSet::*path) {
    return [path](const UpdateSet& set) { return std::filesystem::remove(set.*path); };
}

BridgeDamage with_config(std::function<void(sim::BridgeConfig&)> change) {
    return [change](sim::SimPlatform& sim) { change(sim.bridges().front()->config()); };
}

BridgeDamage failing(uint8_t opcode, uint8_t sub_command, long count) {
    return [=](sim::SimPlatform& sim) {
        sim::CommandFault fault;
        fault.opcode = opcode;
        fault.sub_command = sub_command;
        fault.count = count;
        fault.scsi_status = 2;
        fault.sense_key = 5;
        fault.asc = 0x24;
        sim.add_fault(fault);
    };
}

std::string failed(int code) {
    return "[ERROR] Firmware update failed (ret=" + std::to_string(code) +
           ", last_error=" + std::to_string(code) + ")";
}

std::string area_overflow() {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "SERIAL = \"" + std::string(40, 'x') + "\"\n";
    return text;
}

const std::vector<BadInput>& cases() {
    using D = im::ImageDamage;
    using L = im::LedDamage;
    static const std::string f6 = failed(-6), f7 = failed(-7), f8 = failed(-8), f9 = failed(-9);
    static const std::string f5 = failed(-5), f11 = failed(-11), f4 = failed(-4);
    static const std::vector<BadInput> all = {
        {"firmware image", "missing", missing(&UpdateSet::bin), {}, 1, f6.c_str(), false},
        {"firmware image",
         "payload CRC off by one bit",
         damaged_firmware(D::kWrongCrc),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "3000 bytes only",
         damaged_firmware(D::kShortFile),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "signature 0x12345678",
         damaged_firmware(D::kWrongSignature),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "chip variant 0",
         damaged_firmware(D::kWrongVariant),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "main image marked 0xFE",
         damaged_firmware(D::kMainMarkedRescue),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "lead_offset 4096",
         damaged_firmware(D::kLeadOffsetNotZero),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "body_offset past the lead region",
         damaged_firmware(D::kBodyOffsetNotLead),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "lead region of 6144 bytes",
         damaged_firmware(D::kLeadLengthUnaligned),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "body not whole 4096-byte units",
         damaged_firmware(D::kBodyLengthUnaligned),
         {},
         1,
         f6.c_str(),
         false},
        {"firmware image",
         "payload_offset 0x80000000",
         damaged_firmware(D::kNegativePayloadOffset),
         {},
         1,
         f6.c_str(),
         false,
         "fseek(): "},
        {"firmware image",
         "payload past the end of the file",
         damaged_firmware(D::kPayloadPastEnd),
         {},
         1,
         f6.c_str(),
         false},
        {"rescue image", "missing", missing(&UpdateSet::rescue), {}, 1, f7.c_str(), false},
        {"rescue image",
         "payload CRC off by one bit",
         damaged_rescue(D::kWrongCrc),
         {},
         1,
         f7.c_str(),
         false},
        {"rescue image",
         "rescue format on a chip that takes main format",
         [](const UpdateSet& set) {
             im::ImageRecipe plan = rescue();
             plan.signature = MODE_RESCUE;
             plan.image_type = 0;
             return im::write_binary_file(set.rescue, im::build_firmware_image(plan));
         },
         {},
         1,
         f7.c_str(),
         false},
        {"LED image", "missing", missing(&UpdateSet::led), {}, 1, f8.c_str(), false},
        {"LED image",
         "begins with LEDS",
         damaged_led(L::kWrongSignature),
         {},
         1,
         f8.c_str(),
         false},
        {"LED image",
         "lengths one more than the file",
         damaged_led(L::kSizeMismatch),
         {},
         1,
         f8.c_str(),
         false},
        {"LED image", "40 bytes", damaged_led(L::kShortFile), {}, 1, f8.c_str(), false},
        {"LED image",
         "last block on the header block",
         damaged_led(L::kReachesHeaderBlock),
         {},
         1,
         f8.c_str(),
         false},
        {"LED image",
         "placed over the firmware image's body",
         [](const UpdateSet& set) {
             im::LedRecipe plan;
             plan.flash_address = im::MAIN_BODY_ADDRESS + 0x10000;
             return im::write_binary_file(set.led, im::build_led_image(plan));
         },
         {},
         1,
         f8.c_str(),
         false},
        {"parameter file", "missing", missing(&UpdateSet::cfg), {}, 1, f9.c_str(), false},
        {"parameter file", "empty", text_file(&UpdateSet::cfg, ""), {}, 1, f9.c_str(), false},
        {"parameter file",
         "no known parameter",
         text_file(&UpdateSet::cfg, "; comment\nVOLUME = 11\nvid = 1\nVID = -1\n"),
         {},
         1,
         f9.c_str(),
         false},
        {"parameter file",
         "records need more than 2048 bytes",
         text_file(&UpdateSet::cfg, area_overflow()),
         {},
         1,
         f9.c_str(),
         false},
        {"bridge",
         "none on the bus",
         {},
         [](sim::SimPlatform& sim) { sim.clear_devices(); },
         1,
         "[ERROR] No device found by dev_scan",
         false},
        {"bridge",
         "chip id outside the table",
         {},
         with_config([](sim::BridgeConfig& c) { c.chip_id = 0xA0010004; }),
         1,
         "[ERROR] No device found by dev_scan",
         false},
        {"bridge",
         "INQUIRY names no supported chip",
         {},
         with_config([](sim::BridgeConfig& c) {
             c.revision = "3.00";
             c.model = "VTX9999";
         }),
         1,
         "[ERROR] No device found by dev_scan",
         false},
        {"bridge",
         "identity word 0xFFFFFFFF",
         {},
         with_config([](sim::BridgeConfig& c) { c.identity = 0xFFFFFFFF; }),
         1,
         f5.c_str(),
         false},
        {"bridge",
         "version query rejected once",
         {},
         failing(OP_VENDOR_READ, SUB_VERSION, 1),
         0,
         "[WARNING] Failed to read current FW version (ret=2), proceed with update...",
         true},
        {"bridge",
         "version query always rejected",
         {},
         failing(OP_VENDOR_READ, SUB_VERSION, -1),
         1,
         "[WARNING] Failed to read firmware version after update.",
         true},
        {"bridge",
         "largest-transfer query rejected",
         {},
         with_config([](sim::BridgeConfig& c) { c.max_transfer_reply.reset(); }),
         0,
         "[INFO] New FW version: 1.2.4",
         true},
        {"bridge",
         "largest transfer 6144",
         {},
         with_config([](sim::BridgeConfig& c) { c.max_transfer_reply = 6144; }),
         0,
         "[INFO] New FW version: 1.2.4",
         true},
        {"bridge",
         "largest transfer 0",
         {},
         with_config([](sim::BridgeConfig& c) { c.max_transfer_reply = 0; }),
         0,
         "[INFO] New FW version: 1.2.4",
         true},
        {"bridge",
         "every read-back differs",
         {},
         [](sim::SimPlatform& sim) { sim.corrupt_readbacks(1 << 30); },
         1,
         f11.c_str(),
         true},
        {"bridge",
         "identity read fails 3 times after each boot",
         {},
         with_config([](sim::BridgeConfig& c) { c.identity_failures_after_boot = 3; }),
         0,
         "[INFO] New FW version: 1.2.4",
         true},
        {"bridge",
         "never comes back after a restart",
         {},
         with_config([](sim::BridgeConfig& c) { c.boot_seconds = -1; }),
         1,
         f4.c_str(),
         true},
    };
    return all;
}

TEST(BadInput, EveryDamageEndsWithItsMessageAndWritesNothingWhenFoundBeforeTheUpdate) {
    std::string table =
        "| input | damage | exit code | message | vendor write commands |\n|---|---|---|---|---|\n";
    for (const BadInput& c : cases()) {
        SCOPED_TRACE(std::string(c.input) + ": " + c.damage);
        UpdateSet set(Start::kMainFirmware);
        ASSERT_EQ(set.new_header.size(), IMAGE_HEADER_SIZE);
        if (c.files) {
            ASSERT_EQ(in_child([&] { return c.files(set) ? 0 : 1; }), 0);
        }
        TempDir work;
        RunPlan plan = traced_run(set.base_state, work);
        plan.setup = c.bridge;
        RunRecord run = run_tool_in_child(set, plan);
        long writes = 0;
        for (const TraceLine& line : read_trace(plan.trace_out))
            writes += line.opcode == OP_VENDOR_WRITE;
        EXPECT_EQ(run.code, c.code) << run.out << run.err;
        std::string printed = run.out + run.err;
        EXPECT_NE(printed.find(c.text), std::string::npos) << printed;
        EXPECT_NE(run.err.find(c.also), std::string::npos) << run.err;
        if (!c.writes) {
            EXPECT_EQ(writes, 0);
            EXPECT_FALSE(run.after.header_new);
        }
        std::string message = c.text;
        if (*c.also)
            message += " (after \"" + std::string(c.also) + "...\")";
        table += std::string("| ") + c.input + " | " + c.damage + " | " + std::to_string(run.code) +
                 " | " + message + " | " + std::to_string(writes) + " |\n";
    }
    std::printf("\n%s", table.c_str());
}

// A name without "_v", or with a version that does not parse, ends the start:
// no device is asked anything and no key is waited for.
TEST(BadInput, FirmwareNameWithoutItsVersionEndsBeforeAnyDeviceIsAsked) {
    struct Name {
        const char* file;
        const char* message;
    } names[] = {{"firmware.bin", "[ERROR] Cannot find '_v' in filename: firmware.bin"},
                 {"fw_v1.2.bin", "[ERROR] Cannot parse version from: 1.2.bin"}};
    UpdateSet set(Start::kMainFirmware);
    for (const Name& name : names) {
        SCOPED_TRACE(name.file);
        TempDir work;
        RunPlan plan = traced_run(set.base_state, work);
        plan.args = set.args();
        plan.args[1] = set.dir.file(name.file);
        RunRecord run = run_tool_in_child(set, plan);
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.err.find(name.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("Press any key"), std::string::npos);
        EXPECT_TRUE(read_trace(plan.trace_out).empty());
    }
}

}  // namespace
}  // namespace vtx::test::fault
