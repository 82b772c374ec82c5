// Discovery against the simulated bridge: which drives are listed, in which
// order, with what identity, and what each drive is asked.
#include <gtest/gtest.h>

#include <cstring>

#include "device/discovery.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"
#include "vtx/buffer.h"

namespace vtx::test {
namespace {

std::vector<std::string> paths(const DeviceEntry* head) {
    std::vector<std::string> result;
    for (; head; head = head->next)
        result.push_back(head->path);
    return result;
}

// Owns a scan's list for the test.
struct Scan {
    Scan() : head(dev_scan()) {}
    ~Scan() { dev_free_list(head); }
    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;
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

std::vector<sim::TraceEntry> commands_to(const sim::SimPlatform& sim, const std::string& device) {
    std::vector<sim::TraceEntry> result;
    for (const auto& entry : sim.trace()) {
        if (entry.device == device)
            result.push_back(entry);
    }
    return result;
}

TEST(Discovery, ComputerWithoutUsbStorageGivesNone) {
    SimInstalled sim;
    sim::DiskConfig internal;
    internal.usb = false;
    sim->add_disk(internal);
    EXPECT_EQ(dev_enumerate(), nullptr);
    Scan scan;
    EXPECT_EQ(scan.head, nullptr);
    EXPECT_TRUE(sim->trace().empty()) << "a drive off the USB bus is never asked";
    dev_free_list(nullptr);
    dev_free_candidates(nullptr);
}

TEST(Discovery, PhysicalDrivesByNumberComeBeforeAnyLetter) {
    SimInstalled sim;
    auto optical = bridge_at("cd", "", "\\\\.\\e:");
    optical.optical = true;
    sim->add_bridge(optical);
    sim->add_bridge(bridge_at("three", "\\\\.\\PhysicalDrive3"));
    sim->add_bridge(bridge_at("one", "\\\\.\\PhysicalDrive1"));

    CandidatePath* candidates = dev_enumerate();
    std::vector<std::pair<std::string, int>> listed;
    for (const CandidatePath* c = candidates; c; c = c->next)
        listed.push_back({c->path, c->is_volume});
    dev_free_candidates(candidates);
    EXPECT_EQ(listed,
              (std::vector<std::pair<std::string, int>>{
                  {"\\\\.\\PhysicalDrive1", 0}, {"\\\\.\\PhysicalDrive3", 0}, {"\\\\.\\e:", 1}}));

    Scan scan;
    EXPECT_EQ(paths(scan.head), (std::vector<std::string>{"\\\\.\\PhysicalDrive1",
                                                          "\\\\.\\PhysicalDrive3", "\\\\.\\e:"}));
}

TEST(Discovery, UsbDiskThatIsNoBridgeReceivesExactlyOneInquiry) {
    SimInstalled sim;
    sim::DiskConfig stick;
    stick.path = "\\\\.\\PhysicalDrive2";
    sim->add_disk(stick);
    Scan scan;
    EXPECT_EQ(scan.head, nullptr);
    const auto sent = commands_to(sim.sim(), stick.path);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cdb[0], 0x12);
}

TEST(Discovery, LetteredVolumeIsKeptOnlyForAnOpticalDrive) {
    struct Case {
        bool optical;
        std::string vendor;
        std::vector<std::string> listed;
    } cases[] = {
        // The bridge's disk seen through a drive letter: listed once, by its
        // physical path.
        {false, "Vantrex ", {"\\\\.\\PhysicalDrive1"}},
        {true, "Vantrex ", {"\\\\.\\PhysicalDrive1", "\\\\.\\f:"}},
        // Any CD/DVD device counts, not only the vendor's own.
        {true, "Other   ", {"\\\\.\\PhysicalDrive1", "\\\\.\\f:"}},
    };
    for (const Case& c : cases) {
        SimInstalled sim;
        auto config = bridge_at("b", "\\\\.\\PhysicalDrive1", "\\\\.\\f:");
        config.optical = c.optical;
        config.vendor = c.vendor;
        sim->add_bridge(config);
        Scan scan;
        EXPECT_EQ(paths(scan.head), c.listed) << c.optical << " " << c.vendor;
    }
}

TEST(Discovery, NameKeepsTheDevicesTrailingBlanks) {
    SimInstalled sim;
    auto config = bridge_at("b", "\\\\.\\PhysicalDrive1");
    config.vendor = "VTX     ";
    config.product = "Bridge          ";
    sim->add_bridge(config);
    Scan scan;
    ASSERT_NE(scan.head, nullptr);
    EXPECT_EQ(scan.head->name, "VTX     Bridge          ");
    EXPECT_EQ(scan.head->reserved, 0);
}

TEST(Discovery, DriveIdentityIsCollectedThroughTheBridge) {
    SimInstalled sim;
    auto config = bridge_at("b", "\\\\.\\PhysicalDrive1");
    config.drive->serial = "S1NA0123";
    config.drive->firmware = "FW1";
    config.drive->model = "Example SSD";
    config.drive->erase_time = 0x0110;
    config.drive->enhanced_erase_time = 0x8010;
    sim->add_bridge(config);
    Scan scan;
    ASSERT_NE(scan.head, nullptr);
    const DeviceEntry& entry = *scan.head;
    EXPECT_STREQ(entry.serial, "S1NA0123            ");
    EXPECT_STREQ(entry.firmware, "FW1     ");
    EXPECT_EQ(std::string(entry.model), "Example SSD" + std::string(29, ' '));
    EXPECT_EQ(entry.security[0], 0x0021);
    EXPECT_EQ(entry.security[1], 0xFFFE);
    EXPECT_EQ(entry.security[2], 32);
    EXPECT_EQ(entry.security[3], 32);
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
        SimInstalled sim;
        auto config = bridge_at("b", "\\\\.\\PhysicalDrive1");
        c.setup(config);
        sim->add_bridge(config);
        Scan scan;
        ASSERT_NE(scan.head, nullptr) << c.what;
        const DeviceEntry& entry = *scan.head;
        EXPECT_STREQ(entry.serial, "") << c.what;
        EXPECT_STREQ(entry.model, "") << c.what;
        EXPECT_EQ(std::memcmp(entry.info_block, zeros, sizeof zeros), 0) << c.what;
        EXPECT_EQ(entry.security[0] | entry.security[2], 0) << c.what;
        EXPECT_TRUE(commands(sim.sim(), 0xA1).empty()) << c.what;
        EXPECT_FALSE(entry.name.empty()) << c.what;
    }
}

TEST(Discovery, BridgeThatFailsChipDetectionIsSkipped) {
    SimInstalled sim;
    auto rejected = bridge_at("old", "\\\\.\\PhysicalDrive1");
    rejected.chip_rev_register = 0x00300000;
    sim->add_bridge(rejected);
    sim->add_bridge(bridge_at("good", "\\\\.\\PhysicalDrive4"));
    Scan scan;
    EXPECT_EQ(paths(scan.head), std::vector<std::string>{"\\\\.\\PhysicalDrive4"});
}

// The scan's own allocations and handles, on a scripted platform.
class DiscoveryAllocation : public ::testing::Test {
  protected:
    void SetUp() override {
        // A bridge whose attachment query fails: the scan asks only the
        // INQUIRY-based questions, so its working buffers are few and known.
        for (const char* path : {"\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2"}) {
            fake->add_device(
                path, register_bridge(
                          inquiry_data("2.01", ""), {{0xB37000C8, 0xA0020001}, {0xB37000C4, 0}},
                          [](const SentCommand&) { return check_condition(5, 0x20, 0); }));
        }
        fake->candidates[0] = {"", "\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2"};
    }
    void TearDown() override {
        buffer_fail_allocation(0);
        fail_nothrow_new(0);
    }
    FakeInstalled fake;
};

TEST_F(DiscoveryAllocation, EverythingOpenedIsClosed) {
    Scan scan;
    EXPECT_EQ(paths(scan.head).size(), 2u);
    EXPECT_EQ(fake->opens, 4) << "once to learn the bus, once to probe";
    EXPECT_EQ(fake->closes, 4);
    EXPECT_TRUE(fake->open_handles.empty());
}

TEST_F(DiscoveryAllocation, EntryThatCannotBeAllocatedLeavesTheCandidateOut) {
    // Nothrow allocations in order: two candidate nodes, then for the first
    // candidate the OS device holder and its entry.
    fail_nothrow_new(4);
    Scan scan;
    EXPECT_EQ(paths(scan.head), std::vector<std::string>{"\\\\.\\PhysicalDrive2"});
    EXPECT_EQ(fake->opens, 4) << "the first candidate was opened and probed";
    EXPECT_TRUE(fake->open_handles.empty());
}

TEST_F(DiscoveryAllocation, CandidateNodeThatCannotBeAllocatedLeavesTheCandidateOut) {
    fail_nothrow_new(1);
    Scan scan;
    EXPECT_EQ(paths(scan.head), std::vector<std::string>{"\\\\.\\PhysicalDrive2"});
}

TEST_F(DiscoveryAllocation, NameBufferThatCannotBeAllocatedDropsTheCandidate) {
    // Working buffers of the first candidate: the INQUIRY of chip detection,
    // then the one of the name.
    buffer_fail_allocation(2);
    Scan scan;
    EXPECT_EQ(paths(scan.head), std::vector<std::string>{"\\\\.\\PhysicalDrive2"});
    EXPECT_TRUE(fake->open_handles.empty());
}

}  // namespace
}  // namespace vtx::test
