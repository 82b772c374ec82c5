// Chip detection and the bridge queries, against scripted devices whose
// INQUIRY data and registers each case sets byte for byte.
#include <gtest/gtest.h>

#include <cstring>

#include "device/bridge.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx::test {
namespace {

constexpr const char* DRIVE = "\\\\.\\PhysicalDrive1";
constexpr uint32_t REV0 = 0xB35000C4, ID0 = 0xB35000C8;
constexpr uint32_t REV1 = 0xB37000C4, ID1 = 0xB37000C8;

class BridgeTest : public ::testing::Test {
  protected:
    // Opens a device that answers through `respond`.
    DeviceHandle* open(Responder respond) {
        fake->add_device(DRIVE, std::move(respond));
        handle = dev_open(DRIVE);
        return handle;
    }
    void TearDown() override {
        if (handle)
            dev_close(handle);
        buffer_fail_allocation(0);
    }
    int count(uint8_t opcode, int sub = -1) {
        int n = 0;
        for (const SentCommand& c : fake_.fake().sent) {
            if (c.cdb[0] == opcode && (sub < 0 || c.cdb[4] == sub))
                ++n;
        }
        return n;
    }

    FakeInstalled fake_;
    FakePlatform* fake = &fake_.fake();
    DeviceHandle* handle = nullptr;
};

TEST(ChipFamily, RevisionDecidesBeforeModel) {
    struct Case {
        const char* revision;
        const char* model;
        int from_revision;
        int from_model;
    } cases[] = {
        {"2.01", "VTX4500", 1, 0}, {"1.00", "VTX4700", 0, 1}, {"2.00", "", 0, 2},
        {"1.02", "", 1, 2},        {"2.02", "", 1, 2},        {"1.01", "", 1, 2},
        {"3.00", "VTX4700", 2, 1}, {"3.00", "VTX4600", 2, 1}, {"1.0 ", "VTX4500", 2, 0},
        {"2.03", "VTX4800", 2, 2}, {"2.0", "VTX450", 2, 2},
    };
    for (const Case& c : cases) {
        const auto data = inquiry_data(c.revision, c.model);
        EXPECT_EQ(chip_family_from_revision(data.data()), c.from_revision) << c.revision;
        EXPECT_EQ(chip_family_from_model(data.data()), c.from_model) << c.model;
    }
}

TEST(ChipFamily, ModelWithoutItsTerminatingZeroMatchesNothing) {
    auto data = inquiry_data("9.99", "VTX4500");
    data[51] = ' ';
    EXPECT_EQ(chip_family_from_model(data.data()), 2);
}

TEST_F(BridgeTest, ChipIdAndRevisionRegisterDecideWhetherItIsABridge) {
    struct Case {
        const char* revision;
        uint32_t chip_id;
        uint32_t rev_register;
        int family;
    } cases[] = {
        {"1.00", 0xA0010001, 0x00000000, 0},
        {"2.00", 0xA0010003, 0x002F0000, 0},
        {"1.00", 0xA0010000, 0x00000000, -1},
        {"1.00", 0xA0010004, 0x00000000, -1},
        {"1.00", 0xA0020001, 0x00000000, -1},
        {"2.01", 0xA0020000, 0x00000000, 1},
        {"2.01", 0xA0020003, 0x00000000, 1},
        {"2.01", 0xA0020004, 0x00000000, -1},
        {"2.01", 0xA0030000, 0x00000000, 1},
        {"2.01", 0xA0030001, 0x00000000, 1},
        {"2.01", 0xA0030002, 0x00000000, -1},
        {"2.01", 0xA0010001, 0x00000000, -1},
        // Byte 2 of the revision register above 0x2F: never a bridge.
        {"2.01", 0xA0020001, 0x00300000, -1},
        {"1.00", 0xA0010001, 0xFF30FFFF, -1},
        // Only byte 2 counts.
        {"2.01", 0xA0020001, 0xFF2FFFFF, 1},
    };
    for (const Case& c : cases) {
        const int family = chip_family_from_revision(inquiry_data(c.revision, "").data());
        const uint32_t id_register = family == 0 ? ID0 : ID1;
        const uint32_t rev_register = family == 0 ? REV0 : REV1;
        fake->sent.clear();
        fake->add_device(
            DRIVE, register_bridge(inquiry_data(c.revision, ""),
                                   {{id_register, c.chip_id}, {rev_register, c.rev_register}}));
        DeviceHandle* h = dev_open(DRIVE);
        EXPECT_EQ(dev_detect_family(h), c.family)
            << c.revision << " " << std::hex << c.chip_id << " " << c.rev_register;
        EXPECT_EQ(dev_is_bridge(h), c.family >= 0);
        dev_close(h);
    }
}

TEST_F(BridgeTest, DetectionReadsTheIdRegisterThenTheRevisionRegisterOfTheFamily) {
    open(register_bridge(inquiry_data("", "VTX4500"), {{ID0, 0xA0010002}, {REV0, 0}}));
    EXPECT_EQ(dev_detect_family(handle), 0);
    ASSERT_EQ(fake->sent.size(), 3u);
    EXPECT_EQ(fake->sent[0].cdb[0], 0x12);
    EXPECT_EQ(load_le32(fake->sent[1].cdb + 8), ID0);
    EXPECT_EQ(load_le32(fake->sent[2].cdb + 8), REV0);
}

TEST_F(BridgeTest, DriveNamingNoChipReceivesTheInquiryOnly) {
    open(register_bridge(inquiry_data("8.07", "", 0, "Generic ", "Flash Disk      "), {}));
    EXPECT_EQ(dev_detect_family(handle), -1);
    ASSERT_EQ(fake->sent.size(), 1u);
    EXPECT_EQ(fake->sent[0].cdb[0], 0x12);
}

TEST_F(BridgeTest, FailedInquiryOrRegisterReadIsNoBridge) {
    for (uint32_t failing : {0u, ID1, REV1}) {
        fake->add_device(DRIVE, [failing](const SentCommand& c) {
            const bool inquiry = c.cdb[0] == 0x12;
            if ((inquiry && failing == 0) || (!inquiry && load_le32(c.cdb + 8) == failing)) {
                return check_condition(5, 0x20, 0);
            }
            if (inquiry)
                return Reply{true, 0, 0, inquiry_data("2.01", ""), {}};
            return word_reply(load_le32(c.cdb + 8) == ID1 ? 0xA0020001 : 0);
        });
        DeviceHandle* h = dev_open(DRIVE);
        EXPECT_EQ(dev_detect_family(h), -1) << std::hex << failing;
        dev_close(h);
    }
}

TEST_F(BridgeTest, InquiryBufferThatCannotBeAllocatedIsNoBridgeAndSendsNothing) {
    open(register_bridge(inquiry_data("2.01", ""), {{ID1, 0xA0020001}, {REV1, 0}}));
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_detect_family(handle), -1);
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_check_optical(handle), 0);
    buffer_fail_allocation(1);
    char name[25] = {};
    EXPECT_EQ(dev_get_name(handle, name), -1);
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_check_ready(handle), -1);
    EXPECT_TRUE(fake->sent.empty());
}

TEST_F(BridgeTest, OpticalCheckTellsTheVendorsDriveFromOthers) {
    struct Case {
        const char* vendor;
        const char* product;
        uint8_t type;
        int expected;
    } cases[] = {
        {"Vantrex ", "USB CD-ROM      ", 5, 1},
        {"Vantrex ", "USB CD-ROM", 0, 1},  // the identity alone decides
        {"Vantrex ", "USB CD-RW       ", 5, 2},
        {"Other   ", "DVD Writer      ", 5, 2},
        {"Other   ", "DVD Writer      ", 0x25, 2},  // qualifier bits are not the type
        {"Vantrex ", "USB Bridge      ", 0, 0},
    };
    for (const Case& c : cases) {
        fake->add_device(
            DRIVE, register_bridge(inquiry_data("2.01", "", c.type, c.vendor, c.product), {}));
        DeviceHandle* h = dev_open(DRIVE);
        EXPECT_EQ(dev_check_optical(h), c.expected) << c.vendor << c.product;
        dev_close(h);
    }
    open([](const SentCommand&) { return check_condition(5, 0x20, 0); });
    EXPECT_EQ(dev_check_optical(handle), 0);
}

TEST_F(BridgeTest, NameIsTheTwentyFourIdentificationBytesWithBlanksKept) {
    open(register_bridge(inquiry_data("2.01", "", 0, "VTX     ", "Bridge          "), {}));
    char name[32];
    std::memset(name, 0, sizeof name);
    EXPECT_EQ(dev_get_name(handle, name), 0);
    EXPECT_STREQ(name, "VTX     Bridge          ");
}

TEST_F(BridgeTest, NameOfADriveThatDoesNotAnswerStaysAsTheCallerLeftIt) {
    open([](const SentCommand&) { return check_condition(2, 4, 0); });
    char name[25] = "unchanged";
    EXPECT_EQ(dev_get_name(handle, name), 0);
    EXPECT_STREQ(name, "unchanged");
}

TEST_F(BridgeTest, VersionReplyIsFiveLittleEndianWords) {
    open([](const SentCommand&) {
        return Reply{
            true,
            0,
            0,
            {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0x03, 0xD7, 0x34, 0x01},
            {}};
    });
    FirmwareVersion version;
    EXPECT_EQ(dev_read_version(handle, &version), 0);
    EXPECT_EQ(version.major, 1u);
    EXPECT_EQ(version.minor, 2u);
    EXPECT_EQ(version.patch, 3u);
    EXPECT_EQ(version.build_date, 20240131u);
}

TEST_F(BridgeTest, MaxTransferAndIdentityAreLittleEndianWords) {
    open([](const SentCommand& c) {
        return word_reply(c.cdb[4] == 0xCA ? 0x00010000 : 0x5A17C0DE);
    });
    uint32_t value = 0;
    EXPECT_EQ(dev_query_max_transfer(handle, &value), 0);
    EXPECT_EQ(value, 65536u);
    EXPECT_EQ(dev_read_identity(handle, &value), 0);
    EXPECT_EQ(value, 0x5A17C0DEu);
    EXPECT_EQ(count(0xE2, 0x96), 0);
}

TEST_F(BridgeTest, IdentityComesThroughTheFallbackWhenTheQueryIsRejected) {
    struct Case {
        const char* revision;
        uint32_t chip_id;
        uint32_t fallback_address;
    } cases[] = {{"1.00", 0xA0010001, 0xFC}, {"2.01", 0xA0020001, 0x7FC}};
    for (const Case& c : cases) {
        const bool family0 = c.fallback_address == 0xFC;
        fake->sent.clear();
        fake->add_device(
            DRIVE, register_bridge(inquiry_data(c.revision, ""),
                                   {{family0 ? ID0 : ID1, c.chip_id}, {family0 ? REV0 : REV1, 0}},
                                   [](const SentCommand& command) {
                                       if (command.cdb[4] == 0xC3) {
                                           return check_condition(5, 0x20, 0);
                                       }
                                       return word_reply(0x1234ABCD);
                                   }));
        DeviceHandle* h = dev_open(DRIVE);
        uint32_t identity = 0;
        EXPECT_EQ(dev_read_identity(h, &identity), 0);
        EXPECT_EQ(identity, 0x1234ABCDu);
        const SentCommand& last = fake->sent.back();
        EXPECT_EQ(hex(last.cdb, 8), "E2 00 00 00 96 00 00 00");
        EXPECT_EQ(load_le32(last.cdb + 8), c.fallback_address);
        EXPECT_EQ(load_le32(last.cdb + 12), 4u);
        dev_close(h);
    }
}

TEST_F(BridgeTest, IdentityOfADriveThatIsNoBridgeIsMinusOneWithoutTheFallback) {
    open([](const SentCommand& c) {
        if (c.cdb[0] == 0x12)
            return Reply{true, 0, 0, inquiry_data("8.07", ""), {}};
        return check_condition(5, 0x20, 0);
    });
    uint32_t identity = 7;
    EXPECT_EQ(dev_read_identity(handle, &identity), -1);
    EXPECT_EQ(identity, 7u);
    EXPECT_EQ(count(0xE2, 0x96), 0);
}

}  // namespace
}  // namespace vtx::test
