// Discovery against the simulated bridge: which drives are listed, in which
// order, with what identity, and what each drive is asked.
#include <gtest/gtest.h>

#include <cstring>

#include "device/discovery.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"
#include "vtx/testing/buffer_hooks.h"

namespace vtx::test {
namespace {

using Paths = std::vector<std::string>;

// Owns a scan's list for the test.
struct Scan {
    Scan() : head(dev_scan()) {}
    ~Scan() { dev_free_list(head); }
    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;
    Paths paths() const {
        Paths result;
        for (const DeviceEntry* e = head; e; e = e->next)
            result.push_back(e->path);
        return result;
    }
    DeviceEntry* head;
};

sim::BridgeConfig bridge_at(const std::string& name, const std::string& path,
                            const std::string& volume = "") {
    sim::BridgeConfig config;
    config.name = name;
    config.path = path;
    config.volume_path = volume;
    return config;
}

// A drive off the USB bus is never asked; a USB disk that is no bridge
// receives exactly one INQUIRY.
TEST(Discovery, DisksThatAreNoBridgeGiveNoneAndHearOneInquiryAtMost) {
    SimInstalled sim;
    sim::DiskConfig internal, stick;
    internal.usb = false;
    stick.path = "\\\\.\\PhysicalDrive2";
    sim->add_disk(internal);
    sim->add_disk(stick);
    Scan scan;
    EXPECT_EQ(scan.head, nullptr);
    ASSERT_EQ(sim->trace().size(), 1u);
    EXPECT_EQ(sim->trace()[0].device, stick.path);
    EXPECT_EQ(sim->trace()[0].cdb[0], 0x12);
    dev_free_list(nullptr);
    dev_free_candidates(nullptr);
}

// Physical drives by number come before any letter; a lettered volume is
// kept only for an optical drive (any CD/DVD device, not only the vendor's
// own), else the bridge is listed once by its physical path. A bridge that
// fails chip detection is skipped.
TEST(Discovery, PhysicalDrivesByNumberComeBeforeAnyLetterOfAnOpticalDrive) {
    SimInstalled sim;
    auto cd = bridge_at("cd", "", "\\\\.\\e:");
    cd.optical = true;
    sim->add_bridge(cd);
    auto other = bridge_at("three", "\\\\.\\PhysicalDrive3", "\\\\.\\g:");
    other.optical = true;
    other.vendor = "Other   ";
    sim->add_bridge(other);
    sim->add_bridge(bridge_at("one", "\\\\.\\PhysicalDrive1", "\\\\.\\f:"));
    auto rejected = bridge_at("old", "\\\\.\\PhysicalDrive2");
    rejected.chip_rev_register = 0x00300000;
    sim->add_bridge(rejected);

    CandidatePath* candidates = dev_enumerate();
    std::vector<std::pair<std::string, int>> listed;
    for (const CandidatePath* c = candidates; c; c = c->next)
        listed.push_back({c->path, c->is_volume});
    dev_free_candidates(candidates);
    EXPECT_EQ(listed, (std::vector<std::pair<std::string, int>>{{"\\\\.\\PhysicalDrive1", 0},
                                                                {"\\\\.\\PhysicalDrive2", 0},
                                                                {"\\\\.\\PhysicalDrive3", 0},
                                                                {"\\\\.\\e:", 1},
                                                                {"\\\\.\\f:", 1},
                                                                {"\\\\.\\g:", 1}}));
    EXPECT_EQ(Scan().paths(),
              (Paths{"\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive3", "\\\\.\\e:", "\\\\.\\g:"}));
}

TEST(Discovery, NameAndDriveIdentityAreCollectedThroughTheBridge) {
    SimInstalled sim;
    auto config = bridge_at("b", "\\\\.\\PhysicalDrive1");
    config.vendor = "VTX     ";
    config.product = "Bridge          ";
    config.drive->serial = "S1NA0123";
    config.drive->firmware = "FW1";
    config.drive->model = "Example SSD";
    config.drive->erase_time = 0x0110;
    config.drive->enhanced_erase_time = 0x8010;
    sim->add_bridge(config);
    Scan scan;
    ASSERT_NE(scan.head, nullptr);
    const DeviceEntry& entry = *scan.head;
    EXPECT_EQ(entry.name, "VTX     Bridge          ");
    EXPECT_EQ(entry.reserved, 0);
    EXPECT_STREQ(entry.serial, "S1NA0123            ");
    EXPECT_STREQ(entry.firmware, "FW1     ");
    EXPECT_EQ(std::string(entry.model), "Example SSD" + std::string(29, ' '));
    EXPECT_EQ(std::vector<uint16_t>(entry.security, entry.security + 4),
              (std::vector<uint16_t>{0x0021, 0xFFFE, 32, 32}));
    EXPECT_EQ(commands(sim.sim(), 0xE2, 0xA8).size(), 1u) << "the information block is read";
}

TEST(Discovery, IdentifyTransfersOneBlockOfTheDrivesLength) {
    for (uint32_t block : {512u, 4096u}) {
        SimInstalled sim;
        auto config = bridge_at("b", "\\\\.\\PhysicalDrive1");
        config.drive->block_length = block;
        config.drive->drive_kind = 0;  // no security summary: one IDENTIFY only
        sim->add_bridge(config);
        Scan scan;
        ASSERT_NE(scan.head, nullptr);
        const auto identify = commands(sim.sim(), 0xA1);
        ASSERT_EQ(identify.size(), 1u) << block;
        EXPECT_EQ(identify[0].length, block);
        EXPECT_EQ(scan.head->security[0], 0);
    }
}

TEST(Discovery, BridgeWhoseDriveDoesNotAnswerIsListedWithZeroIdentity) {
    struct Case {
        const char* what;
        void (*setup)(sim::BridgeConfig&);
    } cases[] = {
        {"READ CAPACITY fails", [](sim::BridgeConfig& c) { c.drive->capacity_fails = true; }},
        {"drive not ready", [](sim::BridgeConfig& c) { c.drive->drive_state = 2; }},
        {"no drive", [](sim::BridgeConfig& c) { c.drive.reset(); }},
    };
    const uint8_t zeros[72] = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimInstalled sim;
        auto config = bridge_at("b", "\\\\.\\PhysicalDrive1");
        c.setup(config);
        sim->add_bridge(config);
        Scan scan;
        ASSERT_NE(scan.head, nullptr);
        const DeviceEntry& entry = *scan.head;
        EXPECT_STREQ(entry.serial, "");
        EXPECT_STREQ(entry.model, "");
        EXPECT_EQ(std::memcmp(entry.info_block, zeros, sizeof zeros), 0);
        EXPECT_EQ(entry.security[0] | entry.security[2], 0);
        EXPECT_TRUE(commands(sim.sim(), 0xA1).empty());
        EXPECT_FALSE(entry.name.empty());
    }
}

// The scan's own allocations and handles, on a scripted platform: two
// bridges whose attachment query fails, so the scan asks only the
// INQUIRY-based questions and its working buffers are few and known.
class DiscoveryAllocation : public ScriptedDrive {
  protected:
    void SetUp() override {
        for (const char* path : {"\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2"}) {
            fake->add_device(
                path, register_bridge(
                          inquiry_data("2.01", ""), {{0xB37000C8, 0xA0020001}, {0xB37000C4, 0}},
                          [](const SentCommand&) { return check_condition(5, 0x20, 0); }));
        }
        fake->candidates[0] = {"", "\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2"};
    }
};

// Nothrow allocations in order: two candidate nodes, then for the first
// candidate the OS device holder and its entry. Working buffers of the first
// candidate: the INQUIRY of chip detection, then the one of the name. What
// cannot be allocated leaves the first candidate out; all opened is closed.
TEST_F(DiscoveryAllocation, EntryNodeOrNameBufferThatCannotBeAllocatedLeavesTheCandidateOut) {
    struct Case {
        long nothrow, buffer;
        Paths listed;
        int opens;  // once to learn the bus, once to probe
    } cases[] = {{0, 0, {"\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2"}, 4},
                 {4, 0, {"\\\\.\\PhysicalDrive2"}, 4},
                 {1, 0, {"\\\\.\\PhysicalDrive2"}, 3},
                 {0, 2, {"\\\\.\\PhysicalDrive2"}, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.nothrow << " " << c.buffer);
        fake->opens = fake->closes = 0;
        fail_nothrow_new(c.nothrow);
        buffer_fail_allocation(c.buffer);
        EXPECT_EQ(Scan().paths(), c.listed);
        EXPECT_EQ(fake->opens, c.opens);
        EXPECT_EQ(fake->closes, c.opens);
        EXPECT_TRUE(fake->open_handles.empty());
    }
}

}  // namespace
}  // namespace vtx::test
