// The gadget's own logic, without USB: the Bulk-Only framing, the
// descriptors FunctionFS gets, and the SCSI answers the gadget gives itself
// rather than the emulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/usbgadget/bot.h"
#include "tools/usbgadget/ffs_function.h"
#include "tools/usbgadget/scsi_target.h"
#include "vtx/bytes.h"

namespace vtx::gadget {
namespace {

std::vector<uint8_t> cbw_bytes(uint32_t tag, uint32_t length, uint8_t flags, uint8_t cdb_length) {
    std::vector<uint8_t> bytes(CBW_SIZE, 0);
    store_le32(bytes.data(), CBW_SIGNATURE);
    store_le32(bytes.data() + 4, tag);
    store_le32(bytes.data() + 8, length);
    bytes[12] = flags;
    bytes[14] = cdb_length;
    for (int i = 0; i < 16; ++i)
        bytes[15 + i] = uint8_t(0xE0 + i);
    return bytes;
}

TEST(BulkOnly, ParsesOnlyMeaningfulCommandBlockWrappers) {
    std::vector<uint8_t> bytes = cbw_bytes(0x11223344, 254, 0x80, 16);
    CommandBlockWrapper cbw;
    ASSERT_TRUE(parse_cbw(bytes.data(), bytes.size(), cbw));
    EXPECT_EQ(cbw.tag, 0x11223344u);
    EXPECT_EQ(cbw.transfer_length, 254u);
    EXPECT_TRUE(cbw.data_in);
    EXPECT_EQ(cbw.cdb_length, 16);
    EXPECT_EQ(cbw.cdb[0], 0xE0);
    EXPECT_EQ(cbw.cdb[15], 0xEF);

    std::vector<uint8_t> bad_signature = cbw_bytes(1, 0, 0, 6);
    bad_signature[0] ^= 1;
    std::vector<uint8_t> too_short = cbw_bytes(1, 0, 0, 6);
    too_short.pop_back();
    std::vector<uint8_t> too_long = cbw_bytes(1, 0, 0, 6);
    too_long.push_back(0);
    const std::pair<const char*, std::vector<uint8_t>> refused[] = {
        {"short", too_short},
        {"long", too_long},
        {"signature", bad_signature},
        {"no CDB", cbw_bytes(1, 0, 0, 0)},
        {"CDB of 17 bytes", cbw_bytes(1, 0, 0, 17)},
    };
    for (const auto& [what, wrapper] : refused)
        EXPECT_FALSE(parse_cbw(wrapper.data(), wrapper.size(), cbw)) << what;
}

TEST(BulkOnly, BuildsTheStatusWrapperByteForByte) {
    uint8_t csw[CSW_SIZE];
    build_csw(csw, 0xA1B2C3D4, 0x102, CSW_FAILED);
    const uint8_t expected[CSW_SIZE] = {0x55, 0x53, 0x42, 0x53, 0xD4, 0xC3, 0xB2,
                                        0xA1, 0x02, 0x01, 0x00, 0x00, 0x01};
    EXPECT_EQ(std::vector<uint8_t>(csw, csw + CSW_SIZE),
              std::vector<uint8_t>(expected, expected + CSW_SIZE));
}

TEST(Descriptors, DescribeABulkOnlyInterfaceAtBothSpeeds) {
    std::vector<uint8_t> d = mass_storage_descriptors();
    ASSERT_EQ(d.size(), 20u + 2 * (9 + 7 + 7));
    EXPECT_EQ(load_le32(d.data() + 4), d.size());
    EXPECT_EQ(load_le32(d.data() + 12), 3u);
    EXPECT_EQ(load_le32(d.data() + 16), 3u);
    for (size_t speed = 0; speed < 2; ++speed) {
        const uint8_t* interface = d.data() + 20 + speed * 23;
        EXPECT_EQ(interface[5], 0x08);  // mass storage
        EXPECT_EQ(interface[6], 0x06);  // SCSI transparent
        EXPECT_EQ(interface[7], 0x50);  // Bulk-Only
        const uint8_t* in = interface + 9;
        const uint8_t* out = in + 7;
        EXPECT_EQ(in[2], 0x81);
        EXPECT_EQ(out[2], 0x02);
        EXPECT_EQ(load_le16(in + 4), speed == 0 ? 64 : 512);
        EXPECT_EQ(load_le16(out + 4), speed == 0 ? 64 : 512);
    }
    std::vector<uint8_t> s = mass_storage_strings();
    EXPECT_EQ(load_le32(s.data() + 4), s.size());
    EXPECT_EQ(s.back(), 0);
}

Command command_of(std::vector<uint8_t> cdb, uint32_t length, bool data_in = true) {
    Command command;
    for (size_t i = 0; i < cdb.size(); ++i)
        command.cdb[i] = cdb[i];
    command.cdb_length = uint8_t(cdb.size());
    command.data_in = data_in;
    command.length = length;
    if (!data_in)
        command.data_out.assign(length, 0xAA);
    return command;
}

TEST(ScsiTarget, AnswersTheKernelsOwnCommandsForAPlainDiskWithinTheLengthsGiven) {
    ScsiTarget target(Medium{}, nullptr);
    Reply inquiry = target.execute(command_of({0x12, 0, 0, 0, 36, 0}, 36));
    ASSERT_EQ(inquiry.data.size(), 36u);
    EXPECT_EQ(std::string(inquiry.data.begin() + 8, inquiry.data.begin() + 32),
              "Generic Flash Disk      ");

    Reply capacity = target.execute(command_of({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8));
    ASSERT_EQ(capacity.data.size(), 8u);
    EXPECT_EQ(load_be32(capacity.data.data()), 16383u);
    EXPECT_EQ(load_be32(capacity.data.data() + 4), 512u);

    Reply read = target.execute(command_of({0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 1024));
    EXPECT_EQ(read.status, Status::kGood);
    EXPECT_EQ(read.data, std::vector<uint8_t>(1024, 0));

    Reply serial = target.execute(command_of({0x12, 1, 0x80, 0, 255, 0}, 255));
    ASSERT_EQ(serial.data.size(), 4u + Medium{}.serial.size());
    EXPECT_EQ(serial.data[1], 0x80);

    // Replies are cut to the allocation length and to the host's length.
    EXPECT_EQ(target.execute(command_of({0x12, 0, 0, 0, 5, 0}, 36)).data.size(), 5u);
    EXPECT_EQ(target.execute(command_of({0x12, 0, 0, 0, 36, 0}, 10)).data.size(), 10u);
    EXPECT_EQ(target.execute(command_of({0x1A, 0, 0x3F, 0, 192, 0}, 192)).data.size(), 4u);
}

TEST(ScsiTarget, RequestSenseReportsTheLastFailureOnce) {
    ScsiTarget target(Medium{}, nullptr);
    struct Case {
        std::vector<uint8_t> cdb;
        uint8_t key, asc;
    };
    const Case cases[] = {
        {{0x28, 0, 0, 0, 0x40, 0, 0, 0, 1, 0}, 0x05, 0x21},  // past the last block
        {{0xC7, 0, 0, 0, 0, 0}, 0x05, 0x20},                 // unknown opcode
        {{0x12, 1, 0x83, 0, 255, 0}, 0x05, 0x24},            // page not offered
    };
    for (const Case& c : cases) {
        Reply failed = target.execute(command_of(c.cdb, 512));
        EXPECT_EQ(failed.status, Status::kCheckCondition);
        EXPECT_TRUE(failed.data.empty());
        Reply sense = target.execute(command_of({0x03, 0, 0, 0, 18, 0}, 18));
        ASSERT_EQ(sense.data.size(), 18u);
        EXPECT_EQ(sense.data[2], c.key);
        EXPECT_EQ(sense.data[12], c.asc);
        Reply again = target.execute(command_of({0x03, 0, 0, 0, 18, 0}, 18));
        EXPECT_EQ(again.data[2], 0);
        EXPECT_EQ(again.data[12], 0);
    }
}

class RecordingBackend : public Backend {
  public:
    Reply execute(const Command& command) override {
        opcodes.push_back(command.cdb[0]);
        Reply reply;
        reply.data.assign(300, 0x5A);
        if (command.cdb[0] == 0xE2 && command.cdb[4] == 0xFF) {
            reply.status = Status::kCheckCondition;
            reply.sense = make_sense(0x05, 0x24, 0x01);
        }
        return reply;
    }
    std::vector<uint8_t> opcodes;
};

TEST(ScsiTarget, SendsTheBridgesCommandsToTheBackendAndKeepsItsSense) {
    RecordingBackend backend;
    ScsiTarget target(Medium{}, &backend);
    target.execute(command_of({0x00, 0, 0, 0, 0, 0}, 0));      // kernel's
    target.execute(command_of({0x12, 0, 0, 0, 254, 0}, 254));  // bridge's
    target.execute(command_of({0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 32));
    Reply write = target.execute(command_of({0xE3, 0, 0, 0, 0x10}, 4, false));
    EXPECT_TRUE(write.data.empty());
    Reply read = target.execute(command_of({0xE2, 0, 0, 0, 0xA5}, 20));
    EXPECT_EQ(read.data.size(), 20u);
    EXPECT_EQ(backend.opcodes, (std::vector<uint8_t>{0x12, 0x9E, 0xE3, 0xE2}));

    target.execute(command_of({0xE2, 0, 0, 0, 0xFF}, 4));
    Reply sense = target.execute(command_of({0x03, 0, 0, 0, 18, 0}, 18));
    EXPECT_EQ(sense.data[13], 0x01);
}

}  // namespace
}  // namespace vtx::gadget
