// The simulated bridge's replies, as the device layer relies on them.
#include <gtest/gtest.h>

#include <string>

#include "tests/sim/sim_helpers.h"

namespace vtx::test {
namespace {

using sim::BridgeConfig;
using sim::SimPlatform;

std::string text(const SimReply& r, size_t from, size_t to) {
    return std::string(r.data.begin() + long(from), r.data.begin() + long(to));
}

// Candidates are physical drives by number, then the letters c to z; the
// INQUIRY carries the identity of a bridge, its optical face and a disk.
TEST(SimCommands, CandidatePathsAndTheInquiryOfABridgeItsOpticalFaceAndADisk) {
    SimPlatform sim;
    sim.add_bridge(bridge_at("bridge", DRIVE2));
    BridgeConfig optical = bridge_at("cd", "");
    optical.optical = true;
    optical.volume_path = "\\\\.\\e:";
    sim.add_bridge(optical);
    sim.add_disk({});
    EXPECT_EQ(sim.open_device(DRIVE1), INVALID_OS_HANDLE) << "the optical bridge has no drive";
    EXPECT_EQ(sim.candidate_path(0, 1), DRIVE1);
    EXPECT_EQ(sim.candidate_path(1, 0), "\\\\.\\c:");
    EXPECT_EQ(sim.candidate_path(1, 23), "\\\\.\\z:");
    struct Case {
        const char* path;
        uint8_t type;
        const char* identification;  // vendor, product, revision
    } cases[] = {{DRIVE2, 0, "Vantrex USB Bridge      2.01"},
                 {"\\\\.\\E:", 5, "Vantrex USB CD-ROM      2.01"},
                 {"\\\\.\\PhysicalDrive0", 0, "Generic Flash Disk      8.07"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        OsHandle h = sim.open_device(c.path);
        ASSERT_NE(h, INVALID_OS_HANDLE);
        EXPECT_TRUE(sim.is_usb(h));
        SimReply r = inquiry(sim, h);
        ASSERT_TRUE(r.call_ok && r.status == 0);
        EXPECT_EQ(r.data[0], c.type);
        EXPECT_EQ(text(r, 8, 36), c.identification);
    }
    OsHandle bridge = sim.open_device(DRIVE2);
    EXPECT_EQ(text(inquiry(sim, bridge), 44, 52), std::string("VTX4600\0", 8));
    // A disk that is no bridge answers no vendor command.
    OsHandle disk = sim.open_device("\\\\.\\PhysicalDrive0");
    EXPECT_EQ(vendor_in(sim, disk, SUB_MEMORY_READ, 0xB37000C4, 4).status, 2);
    EXPECT_EQ(vendor_in(sim, disk, SUB_RUN_MODE, 0, 1).status, 2);
}

// The family decides where the registers and the identity fallback answer.
TEST(SimCommands, RegistersAnswerAtTheBlockOfTheFamily) {
    struct Case {
        const char* revision;
        const char* model;
        uint32_t block, fallback;
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
        OsHandle h = sim.open_device(DRIVE1);
        auto word_at = [&](uint8_t sub, uint32_t address) {
            SimReply r = vendor_in(sim, h, sub, address, 4);
            return r.status ? 0xBAD : load_le32(r.data.data());
        };
        EXPECT_EQ(word_at(SUB_MEMORY_READ, c.block), 0x00120000u);
        EXPECT_EQ(word_at(SUB_MEMORY_READ, c.block + 4), 0xA0030001u);
        // The other family's block is just more of the read window.
        EXPECT_EQ(word_at(SUB_MEMORY_READ, (c.block ^ 0x00020000) + 4), 0xFFFFFFFFu);
        EXPECT_EQ(vendor_in(sim, h, SUB_IDENTITY, 0, 4).status, 2);
        EXPECT_EQ(word_at(SUB_IDENTITY_FALLBACK, c.fallback), config.identity);
    }
}

TEST(SimCommands, UnknownAndRejectedCommandsGiveIllegalRequest) {
    SimPlatform sim;
    BridgeConfig config;
    config.max_transfer_reply.reset();
    sim.add_bridge(config);
    OsHandle h = sim.open_device(DRIVE1);
    const uint8_t unknown[16] = {0x28};
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
    OsHandle h = sim.open_device(DRIVE1);
    EXPECT_EQ(load_le32(vendor_in(sim, h, SUB_MAX_TRANSFER, 2, 4).data.data()), 131072u);
    EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0xAC004000, 8192).status, 0);
    EXPECT_EQ(vendor_in(sim, h, SUB_MEMORY_READ, 0xAC004000, 12288).status, 2);
}

// What discovery reads through the bridge is checked there; here the rest:
// the capacity, the zero fill past the IDENTIFY data, the one information
// selector, and a bridge whose drive is gone.
TEST(SimCommands, DriveRepliesFollowTheDriveConfig) {
    SimPlatform sim;
    BridgeConfig config;
    config.drive->block_length = 4096;
    sim.add_bridge(config);
    OsHandle h = sim.open_device(DRIVE1);
    uint8_t capacity[16] = {0x9E, 0x10};
    store_be32(capacity + 10, 32);
    SimReply cap = send(sim, h, capacity, std::vector<uint8_t>(32), true);
    EXPECT_EQ(load_be64(cap.data.data()), config.drive->last_lba);
    EXPECT_EQ(load_be32(cap.data.data() + 8), 4096u);
    const uint8_t identify[16] = {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0, 0xEC};
    SimReply id = send(sim, h, identify, std::vector<uint8_t>(4096, 0xCC), true);
    ASSERT_EQ(id.status, 0);
    EXPECT_EQ(load_le16(id.data.data() + 2 * 128), config.drive->security_status);
    EXPECT_EQ(id.data[4095], 0);
    EXPECT_EQ(vendor_in(sim, h, SUB_INFO, 0, 72, 0x13).status, 0);
    EXPECT_EQ(vendor_in(sim, h, SUB_INFO, 0, 72, 0x14).status, 2);

    sim.bridges()[0]->config().drive.reset();
    EXPECT_EQ(send(sim, h, capacity, std::vector<uint8_t>(32), true).status, 2);
    EXPECT_EQ(send(sim, h, identify, std::vector<uint8_t>(512), true).status, 2);
}

}  // namespace
}  // namespace vtx::test
