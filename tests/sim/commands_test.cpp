// The simulated bridge's replies, as the device layer relies on them.
#include <gtest/gtest.h>

#include <string>

#include "tests/sim/sim_helpers.h"

namespace vtx::test {
namespace {

using sim::BridgeConfig;
using sim::SimPlatform;

TEST(SimCommands, InquiryCarriesIdentityFieldsAndModelStringWithZero) {
    SimPlatform sim;
    sim.add_bridge({});
    OsHandle h = sim.open_device("\\\\.\\PhysicalDrive1");
    ASSERT_NE(h, INVALID_OS_HANDLE);
    SimReply r = inquiry(sim, h);
    ASSERT_TRUE(r.call_ok);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.data[0], 0);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 32), "Vantrex USB Bridge      ");
    EXPECT_EQ(std::string(r.data.begin() + 32, r.data.begin() + 36), "2.01");
    EXPECT_EQ(std::string(r.data.begin() + 44, r.data.begin() + 51), "VTX4600");
    EXPECT_EQ(r.data[51], 0);
}

TEST(SimCommands, OpticalBridgePresentsTheVendorsCdRom) {
    SimPlatform sim;
    BridgeConfig config;
    config.optical = true;
    config.path = "";
    config.volume_path = "\\\\.\\e:";
    sim.add_bridge(config);
    EXPECT_EQ(sim.open_device("\\\\.\\PhysicalDrive1"), INVALID_OS_HANDLE);
    OsHandle h = sim.open_device("\\\\.\\E:");
    ASSERT_NE(h, INVALID_OS_HANDLE);
    SimReply r = inquiry(sim, h);
    EXPECT_EQ(r.data[0], 5);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 26), "Vantrex USB CD-ROM");
}

// The family decides where the registers and the identity fallback answer.
TEST(SimCommands, RegistersAnswerAtTheBlockOfTheFamily) {
    struct Case {
        const char* revision;
        const char* model;
        uint32_t block;
        uint32_t fallback;
    } cases[] = {
        {"1.00", "VTX4700", 0xB35000C4, 0xFC},  {"2.00", "", 0xB35000C4, 0xFC},
        {"1.01", "VTX4500", 0xB37000C4, 0x7FC}, {"2.02", "", 0xB37000C4, 0x7FC},
        {"9.99", "VTX4500", 0xB35000C4, 0xFC},  {"9.99", "VTX4600", 0xB37000C4, 0x7FC},
        {"9.99", "VTX4700", 0xB37000C4, 0x7FC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.revision) + " " + c.model);
        SimPlatform sim;
        BridgeConfig config;
        config.revision = c.revision;
        config.model = c.model;
        config.chip_id = 0xA0030001;
        config.chip_rev_register = 0x00120000;
        config.answers_identity_query = false;
        sim.add_bridge(config);
        OsHandle h = sim.open_device(config.path.c_str());
        SimReply rev = vendor_in(sim, h, SUB_MEMORY_READ, c.block, 4);
        SimReply id = vendor_in(sim, h, SUB_MEMORY_READ, c.block + 4, 4);
        ASSERT_EQ(rev.status, 0);
        ASSERT_EQ(id.status, 0);
        EXPECT_EQ(load_le32(rev.data.data()), 0x00120000u);
        EXPECT_EQ(load_le32(id.data.data()), 0xA0030001u);
        // The other family's block is just more of the read window.
        SimReply other = vendor_in(sim, h, SUB_MEMORY_READ, (c.block ^ 0x00020000) + 4, 4);
        EXPECT_EQ(load_le32(other.data.data()), 0xFFFFFFFFu);
        EXPECT_EQ(vendor_in(sim, h, SUB_IDENTITY, 0, 4).status, 2);
        SimReply fallback = vendor_in(sim, h, SUB_IDENTITY_FALLBACK, c.fallback, 4);
        ASSERT_EQ(fallback.status, 0);
        EXPECT_EQ(load_le32(fallback.data.data()), config.identity);
    }
}

TEST(SimCommands, UnknownAndRejectedCommandsGiveIllegalRequest) {
    SimPlatform sim;
    BridgeConfig config;
    config.max_transfer_reply.reset();
    sim.add_bridge(config);
    OsHandle h = sim.open_device(config.path.c_str());
    uint8_t unknown[16] = {0x28};
    for (SimReply r :
         {send(sim, h, unknown, std::vector<uint8_t>(512), true), vendor_in(sim, h, 0x77, 0, 4),
          vendor_out(sim, h, 0x77, 0, {0, 0, 0, 0}), vendor_in(sim, h, SUB_MAX_TRANSFER, 2, 4)}) {
        EXPECT_TRUE(r.call_ok);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.sense_key, 5);
        EXPECT_EQ(r.asc, 0x20);
    }
}

TEST(SimCommands, TransferAboveTheLimitFailsWithCheckCondition) {
    SimPlatform sim;
    BridgeConfig config;
    config.max_transfer = 8192;
    config.max_transfer_reply = 131072;
    sim.add_bridge(config);
    OsHandle h = sim.open_device(config.path.c_str());
    EXPECT_EQ(load_le32(vendor_in(sim, h, SUB_MAX_TRANSFER, 2, 4).data.data()), 131072u);
    EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0xAC004000, 8192).status, 0);
    EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0xAC004000, 12288).status, 2);
}

TEST(SimCommands, DiskAnswersInquiryOnly) {
    SimPlatform sim;
    sim.add_disk({});
    OsHandle h = sim.open_device("\\\\.\\PhysicalDrive0");
    ASSERT_NE(h, INVALID_OS_HANDLE);
    EXPECT_TRUE(sim.is_usb(h));
    SimReply r = inquiry(sim, h);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "Generic ");
    EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0xB37000C4, 4).status, 2);
    EXPECT_EQ(vendor_in(sim, h, SUB_RUN_MODE, 0, 1).status, 2);
}

TEST(SimCommands, DriveRepliesFollowTheDriveConfig) {
    SimPlatform sim;
    BridgeConfig config;
    config.drive->serial = "S1NA";
    config.drive->block_length = 4096;
    sim.add_bridge(config);
    OsHandle h = sim.open_device(config.path.c_str());

    uint8_t capacity[16] = {0x9E, 0x10};
    store_be32(capacity + 10, 32);
    SimReply cap = send(sim, h, capacity, std::vector<uint8_t>(32), true);
    EXPECT_EQ(load_be64(cap.data.data()), config.drive->last_lba);
    EXPECT_EQ(load_be32(cap.data.data() + 8), 4096u);

    uint8_t identify[16] = {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0, 0xEC};
    SimReply id = send(sim, h, identify, std::vector<uint8_t>(4096, 0xCC), true);
    ASSERT_EQ(id.status, 0);
    EXPECT_EQ(std::string(id.data.begin() + 20, id.data.begin() + 24), "1SAN");
    EXPECT_EQ(load_le16(id.data.data() + 2 * 89), config.drive->erase_time);
    EXPECT_EQ(load_le16(id.data.data() + 2 * 128), config.drive->security_status);
    EXPECT_EQ(id.data[4095], 0);  // zero-filled past the 512 bytes of IDENTIFY

    SimReply status = vendor_in(sim, h, SUB_ATTACHMENT, 0, 16);
    EXPECT_EQ(load_le32(status.data.data()), config.drive->drive_kind);
    EXPECT_EQ(load_le32(status.data.data() + 4), config.drive->drive_state);
    EXPECT_EQ(vendor_in(sim, h, SUB_INFO, 0, 72, 0x13).status, 0);
    EXPECT_EQ(vendor_in(sim, h, SUB_INFO, 0, 72, 0x14).status, 2);

    sim.bridges()[0]->config().drive.reset();
    EXPECT_EQ(send(sim, h, capacity, std::vector<uint8_t>(32), true).status, 2);
    EXPECT_EQ(send(sim, h, identify, std::vector<uint8_t>(512), true).status, 2);
}

}  // namespace
}  // namespace vtx::test
