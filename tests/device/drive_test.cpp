// Queries about the drive behind the bridge: attachment, capacity, the
// information block with its sense qualifier, and the ATA IDENTIFY data.
#include <gtest/gtest.h>

#include <cstring>

#include "device/drive.h"
#include "tests/device/fake_platform.h"

namespace vtx::test {
namespace {

// IDENTIFY data with the strings stored as ATA keeps them (the first
// character of each pair in the high byte) and the given words.
Responder identify_drive(const std::string& serial, const std::string& firmware,
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
    return [data](const SentCommand&) { return Reply{true, 0, 0, data, {}}; };
}

using DriveTest = ScriptedDrive;

TEST_F(DriveTest, FailedIdentifyLeavesTheOutputUntouchedAndNoBufferForItSendsNothing) {
    reopen([](const SentCommand&) { return check_condition(5, 0x24, 0); });
    char out[ATA_STRINGS_SIZE];
    std::memset(out, 'x', sizeof out);
    uint16_t security[4] = {1, 2, 3, 4};
    EXPECT_EQ(dev_read_ata_strings(handle, out), 2);
    EXPECT_EQ(dev_read_ata_security(handle, security), 2);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(security[3], 4);

    fake->sent.clear();
    uint8_t raw[512];
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_read_ata_strings(handle, out), -1);
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_ata_identify(handle, raw, 512), -1);
    EXPECT_TRUE(fake->sent.empty());
}

TEST_F(DriveTest, SecurityWordsAndEraseTimes) {
    struct Case {
        uint16_t word89, word90, normal, enhanced;
    } cases[] = {
        {0x8010, 0x0110, 32, 32},  // 15 bits with bit 15, else the low byte only
        {0xFFFF, 0x00FF, 0xFFFE, 0x01FE},
        {0x0000, 0x8000, 0, 0},
    };
    for (const Case& c : cases) {
        reopen(identify_drive("", "", "",
                              {{89, c.word89}, {90, c.word90}, {92, 0xFFFE}, {128, 0x0021}}));
        uint16_t s[4] = {};
        EXPECT_EQ(dev_read_ata_security(handle, s), 0);
        EXPECT_EQ(std::vector<uint16_t>(s, s + 4),
                  (std::vector<uint16_t>{0x0021, 0xFFFE, c.normal, c.enhanced}))
            << std::hex << c.word89 << " " << c.word90;
    }
}

TEST_F(DriveTest, IdentifyTransferLengthIsTheBlockLengthOr4096) {
    reopen(identify_drive("S", "F", "M"));
    for (uint32_t block : {0u, 512u, 4096u, 0x10200u}) {
        handle->block_length = block;
        fake->sent.clear();
        uint8_t raw[512];
        EXPECT_EQ(dev_ata_identify(handle, raw, 512), 0);
        ASSERT_EQ(fake->sent.size(), 1u);
        EXPECT_EQ(fake->sent[0].length, block == 0 ? 4096 : block & 0xFFFF) << block;
        EXPECT_EQ(fake->sent[0].cdb[4], 1) << "one block";
    }
}

TEST_F(DriveTest, ShortBlocksAreNotReadPastTheTransfer) {
    // A drive with 256-byte blocks sends half of the IDENTIFY data; the words
    // beyond it read as zero, not as whatever lay past the buffer.
    reopen(identify_drive("SERIAL", "FW", "MODEL", {{89, 0x8010}, {128, 0x0021}}));
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

// The bridge says why a selector is refused in the sense qualifier, at times
// on a command that completed; the block read itself always gives 0.
TEST_F(DriveTest, InfoQueryGivesTheSenseQualifierWhenNonzero) {
    const std::pair<Reply, int> cases[] = {
        {Reply{true, 0, 0, {}, {0x70, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x07}}, 7},
        {check_condition(5, 0x24, 0x03), 3},
        {check_condition(5, 0x24, 0x00), 2},
        {Reply{false, 121, 0, {}, {}}, 121},
        {Reply{}, 0},
    };
    for (const auto& [reply, expected] : cases) {
        reopen([answer = reply](const SentCommand&) { return answer; });
        uint8_t block[INFO_BLOCK_SIZE] = {};
        EXPECT_EQ(dev_query_info(handle, INFO_SELECTOR, block, INFO_BLOCK_SIZE), expected);
        EXPECT_EQ(dev_read_info_block(handle, block), 0);
    }
}

TEST_F(DriveTest, CapacityFieldsAreBigEndianAndUntouchedOnFailure) {
    reopen([](const SentCommand&) {
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

    reopen([](const SentCommand&) { return check_condition(2, 0x3A, 0); });
    lba = 1;
    block = 2;
    EXPECT_EQ(dev_read_capacity(handle, &lba, &block), 2);
    EXPECT_EQ(lba, 1u);
    EXPECT_EQ(block, 2u);
}

}  // namespace
}  // namespace vtx::test
