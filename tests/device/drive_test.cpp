// Queries about the drive behind the bridge: attachment, capacity, the
// information block with its sense qualifier, and the ATA IDENTIFY data.
#include <gtest/gtest.h>

#include <cstring>

#include "device/drive.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx::test {
namespace {

constexpr const char* DRIVE = "\\\\.\\PhysicalDrive1";

// IDENTIFY data with the strings stored as ATA keeps them (the first
// character of each pair in the high byte) and the given words.
std::vector<uint8_t> identify_data(const std::string& serial, const std::string& firmware,
                                   const std::string& model,
                                   const std::vector<std::pair<int, uint16_t>>& words = {}) {
    std::vector<uint8_t> data(512, 0);
    auto put = [&data](size_t at, std::string text, size_t size) {
        text.resize(size, ' ');
        for (size_t i = 0; i < size; i += 2) {
            data[at + i] = uint8_t(text[i + 1]);
            data[at + i + 1] = uint8_t(text[i]);
        }
    };
    put(20, serial, 20);
    put(46, firmware, 8);
    put(54, model, 40);
    for (const auto& [word, value] : words)
        store_le16(data.data() + 2 * word, value);
    return data;
}

class DriveTest : public ::testing::Test {
  protected:
    DeviceHandle* open(Responder respond) {
        fake->add_device(DRIVE, std::move(respond));
        handle = dev_open(DRIVE);
        return handle;
    }
    // A drive that gives `identify` and nothing more than the transfer asks.
    DeviceHandle* open_identify(std::vector<uint8_t> identify) {
        return open([identify](const SentCommand& c) {
            Reply reply;
            if (c.cdb[0] == 0xA1)
                reply.data = identify;
            return reply;
        });
    }
    void TearDown() override {
        if (handle)
            dev_close(handle);
        buffer_fail_allocation(0);
    }

    FakeInstalled fake_;
    FakePlatform* fake = &fake_.fake();
    DeviceHandle* handle = nullptr;
};

TEST_F(DriveTest, AtaStringsTradeTheBytesOfEveryWord) {
    auto identify = identify_data("S1NA0123456789", "FW12", "Model X");
    // The characters 1, S, A, N as the drive stores them.
    EXPECT_EQ(std::string(identify.begin() + 20, identify.begin() + 24), "1SAN");
    open_identify(identify);
    char out[ATA_STRINGS_SIZE];
    std::memset(out, 0, sizeof out);
    EXPECT_EQ(dev_read_ata_strings(handle, out), 0);
    EXPECT_EQ(std::string(out), "S1NA0123456789      ");
    EXPECT_EQ(std::string(out + 21), "FW12    ");
    EXPECT_EQ(std::string(out + 30), std::string("Model X") + std::string(33, ' '));
}

TEST_F(DriveTest, FailedIdentifyLeavesTheOutputUntouched) {
    open([](const SentCommand&) { return check_condition(5, 0x24, 0); });
    char out[ATA_STRINGS_SIZE];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(dev_read_ata_strings(handle, out), 2);
    uint16_t security[4] = {1, 2, 3, 4};
    EXPECT_EQ(dev_read_ata_security(handle, security), 2);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(security[3], 4);
}

TEST_F(DriveTest, IdentifyBufferThatCannotBeAllocatedGivesMinusOneAndSendsNothing) {
    open_identify(identify_data("S", "F", "M"));
    char out[ATA_STRINGS_SIZE] = {};
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_read_ata_strings(handle, out), -1);
    uint8_t raw[512];
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_ata_identify(handle, raw, 512), -1);
    EXPECT_TRUE(fake->sent.empty());
}

TEST_F(DriveTest, SecurityWordsAndEraseTimes) {
    struct Case {
        uint16_t word89, word90;
        uint16_t normal, enhanced;
    } cases[] = {
        {0x8010, 0x0110, 32, 32},  // 15 bits with bit 15, else the low byte only
        {0xFFFF, 0x00FF, 0xFFFE, 0x01FE},
        {0x0000, 0x8000, 0, 0},
    };
    for (const Case& c : cases) {
        fake->add_device(DRIVE, [c](const SentCommand&) {
            Reply reply;
            reply.data = identify_data(
                "", "", "", {{89, c.word89}, {90, c.word90}, {92, 0xFFFE}, {128, 0x0021}});
            return reply;
        });
        DeviceHandle* h = dev_open(DRIVE);
        uint16_t security[4] = {};
        EXPECT_EQ(dev_read_ata_security(h, security), 0);
        EXPECT_EQ(security[0], 0x0021);
        EXPECT_EQ(security[1], 0xFFFE);
        EXPECT_EQ(security[2], c.normal) << std::hex << c.word89;
        EXPECT_EQ(security[3], c.enhanced) << std::hex << c.word90;
        dev_close(h);
    }
}

TEST_F(DriveTest, IdentifyTransferLengthIsTheBlockLengthOr4096) {
    open_identify(identify_data("S", "F", "M"));
    for (uint32_t block : {0u, 512u, 4096u, 0x10200u}) {
        handle->block_length = block;
        fake->sent.clear();
        uint8_t raw[512];
        EXPECT_EQ(dev_ata_identify(handle, raw, 512), 0);
        ASSERT_EQ(fake->sent.size(), 1u);
        const uint32_t expected = block == 0 ? 4096 : block & 0xFFFF;
        EXPECT_EQ(fake->sent[0].length, expected) << block;
        EXPECT_EQ(fake->sent[0].cdb[4], 1) << "one block";
    }
}

TEST_F(DriveTest, ShortBlocksAreNotReadPastTheTransfer) {
    // A drive with 256-byte blocks sends half of the IDENTIFY data; the words
    // beyond it read as zero, not as whatever lay past the buffer.
    auto identify = identify_data("SERIAL", "FW", "MODEL", {{89, 0x8010}, {128, 0x0021}});
    open_identify(identify);
    handle->block_length = 256;
    uint16_t security[4] = {9, 9, 9, 9};
    EXPECT_EQ(dev_read_ata_security(handle, security), 0);
    EXPECT_EQ(fake->sent.back().length, 256u);
    EXPECT_EQ(security[0], 0) << "word 128 lies past a 256-byte transfer";
    EXPECT_EQ(security[2], 32) << "word 89 lies inside it";
    char out[ATA_STRINGS_SIZE] = {};
    EXPECT_EQ(dev_read_ata_strings(handle, out), 0);
    EXPECT_EQ(std::string(out), "SERIAL              ");
}

TEST(SwapCopy, CopiesWholeWordsOnly) {
    const uint8_t source[6] = {'1', 'S', 'A', 'N', 'x', 'y'};
    struct Case {
        int n;
        const char* expected;
    } cases[] = {{1, "...."}, {0, "...."}, {-3, "...."}, {2, "S1.."}, {5, "S1NA"}};
    for (const Case& c : cases) {
        uint8_t destination[5] = {'.', '.', '.', '.', 0};
        swap_copy16(destination, source, c.n);
        EXPECT_STREQ(reinterpret_cast<char*>(destination), c.expected) << c.n;
    }
}

TEST_F(DriveTest, InfoQueryGivesTheSenseQualifierWhenNonzero) {
    struct Case {
        Reply reply;
        int expected;
    } cases[] = {
        {Reply{true, 0, 0, {}, {0x70, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x07}}, 7},
        {check_condition(5, 0x24, 0x03), 3},
        {check_condition(5, 0x24, 0x00), 2},
        {Reply{false, 121, 0, {}, {}}, 121},
        {Reply{}, 0},
    };
    for (const Case& c : cases) {
        fake->add_device(DRIVE, [c](const SentCommand&) { return c.reply; });
        DeviceHandle* h = dev_open(DRIVE);
        uint8_t block[INFO_BLOCK_SIZE] = {};
        EXPECT_EQ(dev_query_info(h, INFO_SELECTOR, block, INFO_BLOCK_SIZE), c.expected);
        EXPECT_EQ(dev_read_info_block(h, block), 0);
        dev_close(h);
    }
}

TEST_F(DriveTest, CapacityFieldsAreBigEndianAndUntouchedOnFailure) {
    open([](const SentCommand&) {
        Reply reply;
        reply.data.assign(32, 0);
        store_be64(reply.data.data(), 0x00000000747FFFFFull);
        store_be32(reply.data.data() + 8, 4096);
        return reply;
    });
    uint64_t lba = 0;
    uint32_t block = 0;
    EXPECT_EQ(dev_read_capacity(handle, &lba, &block), 0);
    EXPECT_EQ(lba, 0x747FFFFFull);
    EXPECT_EQ(block, 4096u);

    fake->add_device(DRIVE, [](const SentCommand&) { return check_condition(2, 0x3A, 0); });
    lba = 1;
    block = 2;
    EXPECT_EQ(dev_read_capacity(handle, &lba, &block), 2);
    EXPECT_EQ(lba, 1u);
    EXPECT_EQ(block, 2u);
}

}  // namespace
}  // namespace vtx::test
