// Every file and every bridge reply the tool reads, damaged one at a time: the
// whole tool ends with its message and exit code, and a damage found before
// the update writes nothing to the bridge. Prints the table it measured.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/fault/bad_input.h"

namespace vtx::test::fault {
namespace {

namespace im = vtx::imagemaker;

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

BridgeDamage rejected(uint8_t opcode, uint8_t sub_command, long count) {
    return [=](sim::SimPlatform& sim) { sim.add_fault(failing(opcode, sub_command, 0, count)); };
}

// The firmware's two 64 KiB body chunks hold the same bytes (a counting fill
// repeats every 64 KiB), and the read-back of the lower one, written right
// after the upper one, always comes 4096 bytes short: the bytes not moved
// must never be taken from what the read-back buffer held before.
BadInput short_readback() {
    BadInput c = misbehaving(
        "a read-back always 4096 bytes short, the chunk written before it the same bytes",
        [](sim::SimPlatform& sim) {
            sim::CommandFault fault = failing(OP_VENDOR_READ, SUB_MEMORY_READ, 0, -1);
            fault.address = read_window(im::MAIN_BODY_ADDRESS);
            fault.short_by = 4096;
            sim.add_fault(fault);
        },
        1, failed(-10), true);
    c.files = [](const UpdateSet& set) {
        im::ImageRecipe plan = firmware();
        plan.fill = im::ImageFill::kCounting;
        return im::write_binary_file(set.bin, im::build_firmware_image(plan));
    };
    return c;
}

std::string area_overflow() {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "SERIAL = \"" + std::string(40, 'x') + "\"\n";
    return text;
}

std::vector<BadInput> cases() {
    using D = im::ImageDamage;
    using L = im::LedDamage;
    const std::string f6 = failed(-6), f7 = failed(-7), f8 = failed(-8), f9 = failed(-9);
    const std::string f5 = failed(-5), f11 = failed(-11), f4 = failed(-4);
    return {
        refused("firmware image", "missing", missing(&UpdateSet::bin), f6),
        refused("firmware image", "payload CRC off by one bit", damaged_firmware(D::kWrongCrc), f6),
        refused("firmware image", "3000 bytes only", damaged_firmware(D::kShortFile), f6),
        refused("firmware image", "signature 0x12345678", damaged_firmware(D::kWrongSignature), f6),
        refused("firmware image", "chip variant 0", damaged_firmware(D::kWrongVariant), f6),
        refused("firmware image", "main image marked 0xFE", damaged_firmware(D::kMainMarkedRescue),
                f6),
        refused("firmware image", "lead_offset 4096", damaged_firmware(D::kLeadOffsetNotZero), f6),
        refused("firmware image", "body_offset past the lead region",
                damaged_firmware(D::kBodyOffsetNotLead), f6),
        refused("firmware image", "lead region of 6144 bytes",
                damaged_firmware(D::kLeadLengthUnaligned), f6),
        refused("firmware image", "body not whole 4096-byte units",
                damaged_firmware(D::kBodyLengthUnaligned), f6),
        refused("firmware image", "payload_offset 0x80000000",
                damaged_firmware(D::kNegativePayloadOffset), f6, "fseek(): "),
        refused("firmware image", "payload past the end of the file",
                damaged_firmware(D::kPayloadPastEnd), f6),
        refused("rescue image", "missing", missing(&UpdateSet::rescue), f7),
        refused("rescue image", "payload CRC off by one bit", damaged_rescue(D::kWrongCrc), f7),
        refused(
            "rescue image", "rescue format on a chip that takes main format",
            [](const UpdateSet& set) {
                im::ImageRecipe plan = rescue();
                plan.signature = MODE_RESCUE;
                plan.image_type = 0;
                return im::write_binary_file(set.rescue, im::build_firmware_image(plan));
            },
            f7),
        refused("LED image", "missing", missing(&UpdateSet::led), f8),
        refused("LED image", "begins with LEDS", damaged_led(L::kWrongSignature), f8),
        refused("LED image", "lengths one more than the file", damaged_led(L::kSizeMismatch), f8),
        refused("LED image", "40 bytes", damaged_led(L::kShortFile), f8),
        refused("LED image", "last block on the header block", damaged_led(L::kReachesHeaderBlock),
                f8),
        refused(
            "LED image", "placed over the firmware image's body",
            [](const UpdateSet& set) {
                im::LedRecipe plan;
                plan.flash_address = im::MAIN_BODY_ADDRESS + 0x10000;
                return im::write_binary_file(set.led, im::build_led_image(plan));
            },
            f8),
        refused("parameter file", "missing", missing(&UpdateSet::cfg), f9),
        refused("parameter file", "empty", text_file(&UpdateSet::cfg, ""), f9),
        refused("parameter file", "no known parameter",
                text_file(&UpdateSet::cfg, "; comment\nVOLUME = 11\nvid = 1\nVID = -1\n"), f9),
        refused("parameter file", "records need more than 2048 bytes",
                text_file(&UpdateSet::cfg, area_overflow()), f9),
        misbehaving(
            "none on the bus", [](sim::SimPlatform& sim) { sim.clear_devices(); }, 1,
            "[ERROR] No device found by dev_scan", false),
        misbehaving("chip id outside the table",
                    with_config([](sim::BridgeConfig& c) { c.chip_id = 0xA0010004; }), 1,
                    "[ERROR] No device found by dev_scan", false),
        misbehaving("INQUIRY names no supported chip", with_config([](sim::BridgeConfig& c) {
                        c.revision = "3.00";
                        c.model = "VTX9999";
                    }),
                    1, "[ERROR] No device found by dev_scan", false),
        misbehaving("identity word 0xFFFFFFFF",
                    with_config([](sim::BridgeConfig& c) { c.identity = 0xFFFFFFFF; }), 1, f5,
                    false),
        misbehaving("version query rejected once", rejected(OP_VENDOR_READ, SUB_VERSION, 1), 0,
                    "[WARNING] Failed to read current FW version (ret=2), proceed with update...",
                    true),
        misbehaving("version query always rejected", rejected(OP_VENDOR_READ, SUB_VERSION, -1), 1,
                    "[WARNING] Failed to read firmware version after update.", true),
        misbehaving("largest-transfer query rejected",
                    with_config([](sim::BridgeConfig& c) { c.max_transfer_reply.reset(); }), 0,
                    "[INFO] New FW version: 1.2.4", true),
        misbehaving("largest transfer 6144",
                    with_config([](sim::BridgeConfig& c) { c.max_transfer_reply = 6144; }), 0,
                    "[INFO] New FW version: 1.2.4", true),
        misbehaving("largest transfer 0",
                    with_config([](sim::BridgeConfig& c) { c.max_transfer_reply = 0; }), 0,
                    "[INFO] New FW version: 1.2.4", true),
        misbehaving(
            "every read-back differs",
            [](sim::SimPlatform& sim) { sim.corrupt_readbacks(1 << 30); }, 1, f11, true),
        short_readback(),
        misbehaving("identity read fails 3 times after each boot",
                    with_config([](sim::BridgeConfig& c) { c.identity_failures_after_boot = 3; }),
                    0, "[INFO] New FW version: 1.2.4", true),
        misbehaving("never comes back after a restart",
                    with_config([](sim::BridgeConfig& c) { c.boot_seconds = -1; }), 1, f4, true),
    };
}

TEST(BadInput, EveryDamageEndsWithItsMessageAndWritesNothingWhenFoundBeforeTheUpdate) {
    std::string table =
        "| input | damage | exit code | message | vendor write commands |\n|---|---|---|---|---|\n";
    for (const BadInput& c : cases()) {
        SCOPED_TRACE(std::string(c.input) + ": " + c.damage);
        table += run_bad_input(c);
    }
    std::printf("\n%s", table.c_str());
}

}  // namespace
}  // namespace vtx::test::fault
