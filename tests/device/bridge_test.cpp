// Chip detection and the bridge queries, against scripted devices whose
// INQUIRY data and registers each case sets byte for byte.
#include <gtest/gtest.h>

#include "device/bridge.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"

namespace vtx::test {
namespace {

constexpr uint32_t REV0 = 0xB35000C4, ID0 = 0xB35000C8;
constexpr uint32_t REV1 = 0xB37000C4, ID1 = 0xB37000C8;

using BridgeTest = ScriptedDrive;

// A model string without its terminating zero matches nothing.
TEST(ChipFamily, RevisionDecidesBeforeModel) {
    struct Case {
        const char *revision, *model;
        int from_revision, from_model;
    } cases[] = {
        {"2.01", "VTX4500", 1, 0}, {"1.00", "VTX4700", 0, 1}, {"2.00", "", 0, 2},
        {"1.02", "", 1, 2},        {"2.02", "", 1, 2},        {"1.01", "", 1, 2},
        {"3.00", "VTX4700", 2, 1}, {"3.00", "VTX4600", 2, 1}, {"1.0 ", "VTX4500", 2, 0},
        {"2.03", "VTX4800", 2, 2}, {"2.0", "VTX450", 2, 2},   {"9.99", "VTX4500 ", 2, 2},
    };
    for (const Case& c : cases) {
        const auto data = inquiry_data(c.revision, c.model);
        EXPECT_EQ(chip_family_from_revision(data.data()), c.from_revision) << c.revision;
        EXPECT_EQ(chip_family_from_model(data.data()), c.from_model) << c.model;
    }
}

TEST_F(BridgeTest, ChipIdAndRevisionRegisterDecideWhetherItIsABridge) {
    struct Case {
        const char* revision;
        uint32_t chip_id, rev_register;
        int family;
    } cases[] = {
        {"1.00", 0xA0010001, 0, 0},
        {"2.00", 0xA0010003, 0x002F0000, 0},
        {"1.00", 0xA0010000, 0, -1},
        {"1.00", 0xA0010004, 0, -1},
        {"1.00", 0xA0020001, 0, -1},
        {"2.01", 0xA0020000, 0, 1},
        {"2.01", 0xA0020003, 0, 1},
        {"2.01", 0xA0020004, 0, -1},
        {"2.01", 0xA0030000, 0, 1},
        {"2.01", 0xA0030001, 0, 1},
        {"2.01", 0xA0030002, 0, -1},
        {"2.01", 0xA0010001, 0, -1},
        // Byte 2 of the revision register above 0x2F: never a bridge; only
        // byte 2 counts.
        {"2.01", 0xA0020001, 0x00300000, -1},
        {"1.00", 0xA0010001, 0xFF30FFFF, -1},
        {"2.01", 0xA0020001, 0xFF2FFFFF, 1},
    };
    for (const Case& c : cases) {
        const auto inquiry = inquiry_data(c.revision, "");
        const bool family0 = chip_family_from_revision(inquiry.data()) == 0;
        reopen(register_bridge(
            inquiry, {{family0 ? ID0 : ID1, c.chip_id}, {family0 ? REV0 : REV1, c.rev_register}}));
        EXPECT_EQ(dev_detect_family(handle), c.family)
            << c.revision << " " << std::hex << c.chip_id << " " << c.rev_register;
        EXPECT_EQ(dev_is_bridge(handle), c.family >= 0);
    }
}

// A revision that names no family leaves the model to decide, and the
// registers read are that family's (their order is the trace comparison's).
TEST_F(BridgeTest, ModelDecidesTheFamilyWhenTheRevisionDoesNot) {
    reopen(register_bridge(inquiry_data("", "VTX4500"), {{ID0, 0xA0010002}, {REV0, 0}}));
    EXPECT_EQ(dev_detect_family(handle), 0);
}

// A drive that names no chip of ours receives the INQUIRY only; a failed
// INQUIRY or register read is no bridge either.
TEST_F(BridgeTest, NoChipNamedOrAFailedInquiryOrRegisterReadIsNoBridge) {
    reopen(register_bridge(inquiry_data("8.07", "", 0, "Generic ", "Flash Disk      "), {}));
    EXPECT_EQ(dev_detect_family(handle), -1);
    EXPECT_EQ(fake->sent.size(), 1u);
    for (uint32_t failing : {0u, ID1, REV1}) {
        reopen([failing](const SentCommand& c) {
            const bool inquiry = c.cdb[0] == 0x12;
            if (inquiry ? failing == 0 : load_le32(c.cdb + 8) == failing)
                return check_condition(5, 0x20, 0);
            if (inquiry)
                return Reply{true, 0, 0, inquiry_data("2.01", ""), {}};
            return word_reply(load_le32(c.cdb + 8) == ID1 ? 0xA0020001 : 0);
        });
        EXPECT_EQ(dev_detect_family(handle), -1) << std::hex << failing;
    }
}

TEST_F(BridgeTest, InquiryBufferThatCannotBeAllocatedIsNoBridgeAndSendsNothing) {
    reopen(register_bridge(inquiry_data("2.01", ""), {{ID1, 0xA0020001}, {REV1, 0}}));
    char name[25] = {};
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_detect_family(handle), -1);
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_check_optical(handle), 0);
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_get_name(handle, name), -1);
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_check_ready(handle), -1);
    EXPECT_TRUE(fake->sent.empty());
}

TEST_F(BridgeTest, OpticalCheckTellsTheVendorsDriveFromOthers) {
    struct Case {
        const char *vendor, *product;
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
        reopen(register_bridge(inquiry_data("2.01", "", c.type, c.vendor, c.product), {}));
        EXPECT_EQ(dev_check_optical(handle), c.expected) << c.vendor << c.product;
    }
    reopen([](const SentCommand&) { return check_condition(5, 0x20, 0); });
    EXPECT_EQ(dev_check_optical(handle), 0);
}

// The name is the 24 identification bytes with their blanks; a drive that
// does not answer leaves it as the caller had it.
TEST_F(BridgeTest, NameIsTheTwentyFourIdentificationBytesWithBlanksKept) {
    reopen(register_bridge(inquiry_data("2.01", "", 0, "VTX     ", "Bridge          "), {}));
    char name[32] = {};
    EXPECT_EQ(dev_get_name(handle, name), 0);
    EXPECT_STREQ(name, "VTX     Bridge          ");
    reopen([](const SentCommand&) { return check_condition(2, 4, 0); });
    char kept[25] = "unchanged";
    EXPECT_EQ(dev_get_name(handle, kept), 0);
    EXPECT_STREQ(kept, "unchanged");
}

TEST_F(BridgeTest, VersionMaxTransferAndIdentityAreLittleEndianWords) {
    reopen([](const SentCommand& c) {
        if (c.cdb[4] == 0xA5)
            return Reply{true,
                         0,
                         0,
                         {1, 0, 0,    0,    2,    0,    0,    0,    3,    0,
                          0, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0x03, 0xD7, 0x34, 0x01},
                         {}};
        return word_reply(c.cdb[4] == 0xCA ? 0x00010000 : 0x5A17C0DE);
    });
    FirmwareVersion v;
    EXPECT_EQ(dev_read_version(handle, &v), 0);
    EXPECT_EQ(std::tie(v.major, v.minor, v.patch, v.build_date),
              std::make_tuple(1u, 2u, 3u, 20240131u));
    uint32_t value = 0;
    EXPECT_EQ(dev_query_max_transfer(handle, &value), 0);
    EXPECT_EQ(value, 65536u);
    EXPECT_EQ(dev_read_identity(handle, &value), 0);
    EXPECT_EQ(value, 0x5A17C0DEu);
    EXPECT_EQ(count(0xE2, 0x96), 0);
}

TEST_F(BridgeTest, IdentityComesThroughTheFallbackWhenTheQueryIsRejected) {
    for (bool family0 : {true, false}) {
        reopen(register_bridge(
            inquiry_data(family0 ? "1.00" : "2.01", ""),
            {{family0 ? ID0 : ID1, family0 ? 0xA0010001 : 0xA0020001}, {family0 ? REV0 : REV1, 0}},
            [](const SentCommand& command) {
                return command.cdb[4] == 0xC3 ? check_condition(5, 0x20, 0)
                                              : word_reply(0x1234ABCD);
            }));
        uint32_t identity = 0;
        EXPECT_EQ(dev_read_identity(handle, &identity), 0);
        EXPECT_EQ(identity, 0x1234ABCDu);
        EXPECT_EQ(hex(fake->sent.back().cdb, 16),
                  family0 ? "E2 00 00 00 96 00 00 00 FC 00 00 00 04 00 00 00"
                          : "E2 00 00 00 96 00 00 00 FC 07 00 00 04 00 00 00");
    }
    // A drive that is no bridge has no fallback: -1, the word untouched.
    reopen(register_bridge(inquiry_data("8.07", ""), {},
                           [](const SentCommand&) { return check_condition(5, 0x20, 0); }));
    uint32_t identity = 7;
    EXPECT_EQ(dev_read_identity(handle, &identity), -1);
    EXPECT_EQ(identity, 7u);
    EXPECT_EQ(count(0xE2, 0x96), 0);
}

}  // namespace
}  // namespace vtx::test
