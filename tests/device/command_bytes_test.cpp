// The command block, direction and length of every command the tool sends,
// as the platform receives them.
#include <gtest/gtest.h>

#include <functional>

#include "device/bridge.h"
#include "device/drive.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"

namespace vtx::test {
namespace {

// A raw vendor command as the flash access layer sends it.
void send_vendor(DeviceHandle* handle, uint8_t opcode, uint8_t sub, uint32_t address,
                 uint32_t length) {
    std::vector<uint8_t> data(length);
    dev_send(handle, vendor_command(opcode, sub, address, length), data.data(), int32_t(length),
             opcode == OP_VENDOR_READ ? DIR_IN : DIR_OUT, DEV_TIMEOUT, nullptr);
}

using CommandBytes = ScriptedDrive;

TEST_F(CommandBytes, EveryCommandOfTheCommandSetIsLaidOutByteForByte) {
    uint8_t buffer[4096] = {};
    FirmwareVersion version;
    uint32_t word = 0;
    uint64_t lba = 0;
    AttachmentStatus status;
    struct Case {
        const char* name;
        std::function<void(DeviceHandle*)> run;
        const char* cdb;
        uint32_t length;
        bool data_in;
        const char* data_out = nullptr;
    } cases[] = {
        {"chip id register", [&](DeviceHandle* h) { dev_memory_read(h, 0xB35000C8, buffer, 4); },
         "E2 00 00 00 92 00 00 00 C8 00 50 B3 04 00 00 00", 4, true},
        {"header block read",
         [&](DeviceHandle* h) { dev_memory_read(h, 0xAC004000, buffer, 4096); },
         "E2 00 00 00 92 00 00 00 00 40 00 AC 00 10 00 00", 4096, true},
        {"set flash address", [](DeviceHandle* h) { send_vendor(h, 0xE3, 0x10, 0x8C004000, 4); },
         "E3 00 00 00 10 00 00 00 00 40 00 8C 04 00 00 00", 4, false},
        {"flash data write", [](DeviceHandle* h) { send_vendor(h, 0xE3, 0x11, 0, 4096); },
         "E3 00 00 00 11 00 00 00 00 00 00 00 00 10 00 00", 4096, false},
        {"run mode", [](DeviceHandle* h) { send_vendor(h, 0xE2, 0xA6, 0, 1); },
         "E2 00 00 00 A6 00 00 00 00 00 00 00 01 00 00 00", 1, true},
        {"version", [&](DeviceHandle* h) { dev_read_version(h, &version); },
         "E2 00 00 00 A5 00 00 00 00 00 00 00 14 00 00 00", 20, true},
        {"largest transfer", [&](DeviceHandle* h) { dev_query_max_transfer(h, &word); },
         "E2 00 00 00 CA 00 00 00 02 00 00 00 04 00 00 00", 4, true},
        {"identity word", [&](DeviceHandle* h) { dev_read_identity(h, &word); },
         "E2 00 00 00 C3 00 00 00 00 00 00 00 04 00 00 00", 4, true},
        {"readiness", [](DeviceHandle* h) { dev_check_ready(h); },
         "E2 00 00 00 92 00 00 00 00 40 00 AC 60 00 00 00", 96, true},
        {"restart", [](DeviceHandle* h) { dev_restart(h, 0); },
         "E3 00 00 00 30 00 00 00 00 00 00 00 04 00 00 00", 4, false, "00 00 00 00"},
        {"restart with parameter", [](DeviceHandle* h) { dev_restart(h, 0x5A); },
         "E3 00 00 00 30 5A 00 00 00 00 00 00 04 00 00 00", 4, false, "00 00 00 00"},
        {"attachment", [&](DeviceHandle* h) { dev_query_attachment(h, &status); },
         "E2 00 00 00 BB 00 00 00 00 00 00 00 10 00 00 00", 16, true},
        {"information block", [&](DeviceHandle* h) { dev_read_info_block(h, buffer); },
         "E2 00 00 00 A8 13 00 00 00 00 00 00 48 00 00 00", 72, true},
        {"INQUIRY", [&](DeviceHandle* h) { dev_inquiry(h, buffer, 254); },
         "12 00 00 00 FE 00 00 00 00 00 00 00 00 00 00 00", 254, true},
        {"READ CAPACITY (16)", [&](DeviceHandle* h) { dev_read_capacity(h, &lba, &word); },
         "9E 10 00 00 00 00 00 00 00 00 00 00 00 20 00 00", 32, true},
        {"IDENTIFY DEVICE", [&](DeviceHandle* h) { dev_ata_identify(h, buffer, 512); },
         "A1 08 0E 00 01 00 00 00 00 EC 00 00 00 00 00 00", 4096, true},
    };
    reopen(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake->sent.clear();
        c.run(handle);
        ASSERT_EQ(fake->sent.size(), 1u);
        const SentCommand& sent = fake->sent[0];
        EXPECT_EQ(hex(sent.cdb, 16), c.cdb);
        EXPECT_EQ(sent.length, c.length);
        EXPECT_EQ(sent.data_in, c.data_in);
        EXPECT_EQ(sent.timeout_s, 10u);
        if (c.data_out) {
            EXPECT_EQ(hex(sent.data_out.data(), sent.data_out.size()), c.data_out);
        }
    }
}

}  // namespace
}  // namespace vtx::test
