// Restart and reconnect: the bridge is found again by its identity word, in
// virtual time on the platform's monotonic clock.
#include "update/restart.h"
#include "device/bridge.h"
#include "tests/update/staged_support.h"

namespace vtx::test {
namespace {

constexpr uint32_t OUR_IDENTITY = 0x5A17C0DE;
const std::string OTHER_PATH = "\\\\.\\PhysicalDrive0";

class RestartTest : public StagedTest {
  protected:
    sim::Bridge& start(sim::BridgeConfig config = {}) {
        config.identity = OUR_IDENTITY;
        sim::Bridge& bridge = add_bridge(config);
        image = im::build_firmware_image(im::firmware_recipe(13));
        bridge.install_image(image);
        image_path = write("image.bin", image);
        open();
        EXPECT_EQ(fw_check_image(handle, image_path.c_str(), false, &validated), 0);
        EXPECT_EQ(fw_note_bridge(handle, OUR_IDENTITY, &ours), 0);
        return bridge;
    }
    int restart(int limit = 10) {
        validated.path = image_path.c_str();
        return fw_restart_reconnect(&handle, validated, ours, limit, &found_path);
    }
    // Virtual time at which the restart command went out.
    double restart_time() {
        auto restarts = commands(sim(), OP_VENDOR_WRITE, SUB_RESTART);
        return restarts.empty() ? -1 : restarts.front().time;
    }
    uint32_t identity_in_slot() {
        uint32_t word = 0;
        return handle && dev_read_identity(handle, &word) == 0 ? word : 0;
    }
    std::vector<uint8_t> image;
    std::string image_path, found_path;
    ValidatedImage validated;
    ValidatedBridge ours;
};

// The header block is written first; a second bridge, listed before ours, is
// probed at every attempt and never taken.
TEST_F(RestartTest, BridgeIsFoundAgainByItsIdentityUnderAnotherPath) {
    sim::BridgeConfig other;
    other.name = "other";
    other.path = OTHER_PATH;
    other.identity = 0x11111111;
    sim::Bridge& second = add_bridge(other);
    sim::BridgeConfig config;
    config.return_paths = {"\\\\.\\PhysicalDrive5"};
    sim::Bridge& bridge = start(config);

    EXPECT_EQ(restart(), 0);
    EXPECT_EQ(identity_in_slot(), OUR_IDENTITY);
    EXPECT_EQ(bridge.current_path(), "\\\\.\\PhysicalDrive5");
    EXPECT_EQ(bridge.restart_count(), 1);
    EXPECT_EQ(second.restart_count(), 0);
    auto restarts = commands(sim(), OP_VENDOR_WRITE, SUB_RESTART);
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0].cdb[5], 0) << "restart parameter";
    EXPECT_EQ(bridge.read_flash(HB, 2048),
              std::vector<uint8_t>(image.begin(), image.begin() + 2048));
    long probes = 0;
    for (const auto& entry : commands(sim(), OP_VENDOR_READ, SUB_IDENTITY))
        probes += entry.device == OTHER_PATH && entry.time > restarts[0].time;
    // Ours is off the bus for three seconds: at least three attempts meet
    // only the other bridge, and the one that finds ours meets it first.
    EXPECT_GE(probes, 3);
}

TEST_F(RestartTest, IdentityFailingWhileTheBridgeBootsIsTriedAgainLater) {
    // From the next boot on, the bridge fails its first two identity reads:
    // the query and its fallback, one whole attempt.
    start().config().identity_failures_after_boot = 2;
    EXPECT_EQ(restart(), 0);
    EXPECT_EQ(identity_in_slot(), OUR_IDENTITY);
    const double restarted = restart_time();
    long failed = 0;
    for (const auto& entry : sim().trace()) {
        const bool identity = is_vendor(entry, OP_VENDOR_READ, SUB_IDENTITY) ||
                              is_vendor(entry, OP_VENDOR_READ, SUB_IDENTITY_FALLBACK);
        failed += identity && entry.time > restarted && (!entry.call_ok || entry.scsi_status);
    }
    EXPECT_EQ(failed, 2);
    // Back on the bus after three seconds, found one attempt later.
    EXPECT_GE(sim().now() - restarted, 4.0);
}

// The wait is measured on the platform's monotonic clock: a bridge back just
// inside the limit is found, one just outside is not, and one that never
// comes back costs the limit and no more.
TEST_F(RestartTest, WaitEndsAtTheLimitInVirtualSeconds) {
    struct Case {
        double boot_seconds;
        int limit, result;
    } cases[] = {{9.5, 10, 0}, {10.5, 10, -1}, {19.5, 20, 0}, {20.5, 20, -1}, {-1, 10, -1},
                 {-1, 20, -1}, {-1, 1, -1},    {-1, 0, -1},   {0.5, 0, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.boot_seconds << " s to boot, limit " << c.limit);
        fresh();
        sim::BridgeConfig config;
        config.boot_seconds = c.boot_seconds;
        start(config);
        EXPECT_EQ(restart(c.limit), c.result);
        EXPECT_EQ(commands(sim(), OP_VENDOR_WRITE, SUB_RESTART).size(), 1u);
        const double waited = sim().now() - restart_time();
        if (c.result == 0) {
            EXPECT_EQ(identity_in_slot(), OUR_IDENTITY);
            EXPECT_LE(waited, c.boot_seconds + 1.5);
        } else {
            EXPECT_EQ(handle, nullptr);
            EXPECT_GE(waited, double(c.limit));
            EXPECT_LT(waited, double(c.limit) + 1.5);
        }
    }
}

// Before the restart goes out, a failure is returned as it is and the
// caller's handle stays open in the slot.
TEST_F(RestartTest, FailureBeforeTheRestartKeepsTheBridgeOpenInTheSlot) {
    for (bool damaged_image : {true, false}) {
        SCOPED_TRACE(damaged_image ? "damaged image" : "identity read fails");
        fresh();
        start();
        if (damaged_image) {
            image_path = write("damaged.bin", im::build_damaged_image(im::firmware_recipe(13),
                                                                      im::ImageDamage::kWrongCrc));
        } else {
            sim().add_fault(failing(OP_VENDOR_READ, SUB_IDENTITY, 0, -1));
            sim().add_fault(failing(OP_VENDOR_READ, SUB_IDENTITY_FALLBACK, 0, -1));
        }
        DeviceHandle* before = handle;
        EXPECT_NE(restart(), 0);
        EXPECT_EQ(handle, before);
        EXPECT_EQ(dev_check_ready(handle), 0);
        EXPECT_TRUE(commands(sim(), OP_VENDOR_WRITE, SUB_RESTART).empty());
        if (damaged_image) {
            EXPECT_EQ(write_commands(), 0u);
        }
    }
}

// A second bridge answering with our identity word, listed before ours: it is
// never taken, whatever its chip and firmware, and hears no write. One that
// also holds the header just written cannot be told from ours: when both
// answer, the restart does not guess.
TEST_F(RestartTest, BridgeWithTheSameIdentityWordIsNeverTaken) {
    struct Case {
        const char* what;
        uint32_t chip_id;
        bool our_header;  // the twin holds the header the restart writes
        double our_boot;  // seconds; < 0: ours never comes back
        int result;
    } cases[] = {
        {"other chip, rescue firmware, ours back", 0xA0010002, false, 3, 0},
        {"same chip, old main firmware, ours back", 0xA0020001, false, 3, 0},
        {"same chip, old main firmware, ours never back", 0xA0020001, false, -1, -1},
        {"same chip and the same header, both on the bus", 0xA0020001, true, 0.5, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        sim::BridgeConfig twin_config = bridge_of_chip(c.chip_id);
        twin_config.name = "twin";
        twin_config.path = OTHER_PATH;
        twin_config.identity = OUR_IDENTITY;
        sim::Bridge& twin = add_bridge(twin_config);
        sim::BridgeConfig config;
        config.boot_seconds = c.our_boot;
        start(config);
        const uint8_t variant = c.chip_id == 0xA0010002 ? 3 : 13;
        twin.install_image(c.our_header ? image
                                        : im::build_firmware_image(im::rescue_recipe(variant)));

        EXPECT_EQ(restart(), c.result);
        EXPECT_EQ(twin.restart_count(), 0);
        for (const auto& entry : sim().trace())
            EXPECT_FALSE(entry.bridge == "twin" && entry.cdb[0] == OP_VENDOR_WRITE);
        if (c.result == 0) {
            EXPECT_EQ(found_path, BRIDGE_PATH);
            EXPECT_EQ(identity_in_slot(), OUR_IDENTITY);
            EXPECT_EQ(sim().trace().back().bridge, "bridge");
        } else {
            EXPECT_EQ(handle, nullptr);
        }
        if (c.our_header) {
            EXPECT_LT(sim().now() - restart_time(), 5.0) << "no waiting out the limit";
        }
    }
}

}  // namespace
}  // namespace vtx::test
