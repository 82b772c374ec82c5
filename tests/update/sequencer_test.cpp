// The staged update from either run mode, the restart limits, and the code
// of every step that can fail.
#include "update/sequencer.h"

#include <set>

#include "tests/update/staged_support.h"
#include "update/result_codes.h"

namespace vtx::test {
namespace {

using Match = std::function<bool(const sim::TraceEntry&)>;

constexpr int MAIN = 1, RESCUE = 2;
const FirmwareVersion OLD_VERSION{1, 0, 0, 0, 20240101};
const FirmwareVersion NEW_VERSION{2, 1, 0, 0, 20250301};

// The flash regions the update writes, labelled, with restarts, in order;
// repeats of one label in a row count once.
std::vector<std::string> phases(const sim::SimPlatform& sim) {
    const std::tuple<uint32_t, uint32_t, const char*> regions[] = {
        {HB, HB + 1, "header"},
        {im::MAIN_BODY_ADDRESS, im::RESCUE_BODY_ADDRESS, "main"},
        {im::RESCUE_BODY_ADDRESS, im::LED_IMAGE_ADDRESS, "rescue"},
        {im::LED_IMAGE_ADDRESS, im::LED_IMAGE_ADDRESS + 0x10000, "led"}};
    std::vector<std::string> list;
    for (const sim::TraceEntry& entry : sim.trace()) {
        std::string label = "restart";
        if (!is_vendor(entry, OP_VENDOR_WRITE, SUB_RESTART)) {
            if (!is_vendor(entry, OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS))
                continue;
            label = "elsewhere";
            for (const auto& [low, high, name] : regions) {
                if (address_of(entry) >= low && address_of(entry) < high)
                    label = name;
            }
        }
        if (list.empty() || list.back() != label)
            list.push_back(label);
    }
    return list;
}

Match vendor(uint8_t opcode, uint8_t sub_command) {
    return [=](const sim::TraceEntry& entry) { return is_vendor(entry, opcode, sub_command); };
}
const Match READY_CHECK = [](const sim::TraceEntry& entry) {
    return is_vendor(entry, OP_VENDOR_READ, SUB_MEMORY_READ) && entry.length == 96;
};
const Match HEADER_BLOCK_READ = [](const sim::TraceEntry& entry) {
    return is_vendor(entry, OP_VENDOR_READ, SUB_MEMORY_READ) &&
           address_of(entry) == read_window(HB) && entry.length == 4096;
};
Match flash_set_at(uint32_t low, uint32_t high) {
    return [=](const sim::TraceEntry& entry) {
        return is_vendor(entry, OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS) &&
               address_of(entry) >= low && address_of(entry) < high;
    };
}

struct Snapshot {
    std::vector<uint8_t> header, main, rescue, led;
    bool operator==(const Snapshot&) const = default;
};

class SequencerTest : public StagedTest {
  protected:
    void SetUp() override {
        StagedTest::SetUp();
        bin_file = im::build_firmware_image(im::firmware_recipe(13, NEW_VERSION));
        rescue_file = im::build_firmware_image(im::rescue_recipe(13));
        led_file = im::build_led_image({});
        bin = write("fw_v2.1.0_250301.bin", bin_file);
        rescue = write("rescue.bin", rescue_file);
        led = write("led.bin", led_file);
        cfg = dir.write("bridge.cfg", "VID = 0x1D6B\nPID = 0x0105\nSCSI_VENDOR = \"Vantrex\"\n");
        std::string error;
        ASSERT_EQ(im::build_parameter_area(cfg, cfg_area, error), 0) << error;
    }

    // A bridge that runs its old main firmware (MAIN) or its rescue firmware
    // (RESCUE), with parameters of its own.
    sim::Bridge& start(int mode, sim::BridgeConfig config = {}) {
        bridge = &add_bridge(config);
        bridge->install_image(im::build_firmware_image(
            mode == RESCUE ? im::rescue_recipe(13) : im::firmware_recipe(13, OLD_VERSION)));
        bridge->set_parameter_area(im::pseudo_random_bytes(9, HEADER_HALF_SIZE));
        return *bridge;
    }
    int run(const char* led_path, const char* cfg_path) {
        return fw_update(device_path.c_str(), bin.c_str(), rescue.c_str(), cfg_path, led_path);
    }
    int run() { return run(led.c_str(), cfg.c_str()); }
    Snapshot snapshot() const {
        return {bridge->read_flash(HB, 4096), bridge->read_flash(im::MAIN_BODY_ADDRESS, 0x20000),
                bridge->read_flash(im::RESCUE_BODY_ADDRESS, 0x20000),
                bridge->read_flash(im::LED_IMAGE_ADDRESS, 0x2000)};
    }
    // Global index of the n-th matching command of a clean run from `mode`.
    long clean_index(int mode, const Match& match, int n) {
        fresh();
        start(mode);
        EXPECT_EQ(run(), 0) << "clean run";
        return nth_command(sim(), match, n);
    }
    std::vector<uint8_t> body(const std::vector<uint8_t>& file) {
        return std::vector<uint8_t>(file.begin() + 4096, file.end());
    }
    void expect_installed(const std::vector<std::string>& expected_phases) {
        EXPECT_EQ(phases(sim()), expected_phases);
        EXPECT_EQ(bridge->mode_reply(), 1);
        EXPECT_EQ(bridge->running_version().major, NEW_VERSION.major);
        EXPECT_EQ(bridge->running_version().build_date, NEW_VERSION.build_date);
        EXPECT_EQ(bridge->read_flash(HB, 2048),
                  std::vector<uint8_t>(bin_file.begin(), bin_file.begin() + 2048));
        // The parameter half of the header block is the one programmed from
        // the file, also after the header block was written again.
        EXPECT_EQ(bridge->parameter_area(), cfg_area);
        EXPECT_EQ(bridge->read_flash(im::MAIN_BODY_ADDRESS, uint32_t(bin_file.size() - 4096)),
                  body(bin_file));
        EXPECT_EQ(bridge->read_flash(im::LED_IMAGE_ADDRESS, uint32_t(led_file.size())), led_file);
        EXPECT_EQ(fw_last_error, 0);
        EXPECT_EQ(fw_done_bytes, fw_total_bytes);
    }

    sim::Bridge* bridge = nullptr;
    std::vector<uint8_t> bin_file, rescue_file, led_file, cfg_area;
    std::string bin, rescue, led, cfg;
    std::string device_path = BRIDGE_PATH;
};

// Every code the update gives has a name of its own; -2 and anything else
// outside the table is unknown.
TEST(UpdateResultCodes, EachCodeHasItsOwnNameAndOthersAreUnknown) {
    std::set<std::string> names;
    for (int code = 0; code >= -15; --code) {
        const std::string name = fw_result_name(code);
        EXPECT_EQ(name == "unknown", code == -2) << code;
        EXPECT_TRUE(names.insert(name).second) << name;
    }
    EXPECT_STREQ(fw_result_name(1), "unknown");
}

TEST_F(SequencerTest, FromTheRescueFirmwareOnlyTheMainInstallRuns) {
    start(RESCUE);
    const std::vector<uint8_t> rescue_body = bridge->read_flash(im::RESCUE_BODY_ADDRESS, 0x20000);
    EXPECT_EQ(run(), 0);
    expect_installed({"led", "header", "main", "header", "restart"});
    EXPECT_EQ(bridge->restart_count(), 1);
    EXPECT_EQ(fw_total_bytes, int32_t(led_file.size() + bin_file.size()));
    EXPECT_EQ(bridge->read_flash(im::RESCUE_BODY_ADDRESS, 0x20000), rescue_body);
}

TEST_F(SequencerTest, EmptyOrAbsentLedAndParameterPathsSkipTheirSteps) {
    for (const char* nothing : {static_cast<const char*>(nullptr), ""}) {
        fresh();
        start(RESCUE);
        const std::vector<uint8_t> parameters = bridge->parameter_area();
        EXPECT_EQ(run(nothing, nothing), 0);
        EXPECT_EQ(phases(sim()), std::vector<std::string>({"main", "header", "restart"}));
        EXPECT_EQ(fw_total_bytes, int32_t(bin_file.size()));
        EXPECT_EQ(bridge->parameter_area(), parameters);
    }
}

// The first restart waits 10 virtual seconds and the second 20: a bridge that
// boots just inside a limit is found, one just outside is not.
TEST_F(SequencerTest, RestartLimitsAreTenThenTwentySeconds) {
    struct Case {
        int mode;
        double boot_seconds;
        int result, restarts;
    } cases[] = {
        {MAIN, 9.5, 0, 2}, {MAIN, 10.5, -4, 1}, {RESCUE, 19.5, 0, 1}, {RESCUE, 20.5, -4, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.mode << " boots in " << c.boot_seconds);
        fresh();
        sim::BridgeConfig config;
        config.boot_seconds = c.boot_seconds;
        start(c.mode, config);
        EXPECT_EQ(run(), c.result);
        EXPECT_EQ(bridge->restart_count(), c.restarts);
        EXPECT_EQ(fw_last_error, c.result);
    }
}

// A mode reply other than 1 or 2, or none, counts as the main firmware: even a
// bridge that in fact runs its rescue firmware then gets the rescue install.
TEST_F(SequencerTest, ModeReplyOfZeroOrThreeOrNoneTakesTheRescueInstall) {
    class FirstModeReply : public sim::SimPlatform {
      public:
        std::optional<uint8_t> reply;
        bool pass_through(OsHandle device, ScsiCommand& command) override {
            const bool ok = SimPlatform::pass_through(device, command);
            if (reply && command.cdb[0] == OP_VENDOR_READ && command.cdb[4] == SUB_RUN_MODE &&
                command.length > 0) {
                static_cast<uint8_t*>(command.data)[0] = *reply;
                reply.reset();
            }
            return ok;
        }
    };
    for (int answer : {0, 3, -1}) {
        SCOPED_TRACE(answer);
        FirstModeReply layer;
        platform_install(&layer);
        bridge = &layer.add_bridge({});
        bridge->install_image(im::build_firmware_image(im::rescue_recipe(13)));
        if (answer >= 0)
            layer.reply = uint8_t(answer);
        else
            layer.add_fault(failing(OP_VENDOR_READ, SUB_RUN_MODE));
        fw_reset_progress();
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(bridge->restart_count(), 2);
        EXPECT_EQ(fw_total_bytes, int32_t(led_file.size() + rescue_file.size() + bin_file.size()));
        platform_install(&sim());
    }
}

// Each fault or bad input ends the run with its own code, and fw_last_error
// says the same. Validation failures leave the bridge as it was. Every kind
// of damaged file, and the identity word 0xFFFFFFFF, goes through the whole
// tool in the bad-input table; here only what that table cannot reach: the
// rescue firmware's own checks, the rescue image's body, and faults in the run.
TEST_F(SequencerTest, EachFaultEndsTheRunWithItsOwnCode) {
    auto every_write = [](long skip) {
        return failing(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE, skip, -1);
    };
    const Match run_mode = vendor(OP_VENDOR_READ, SUB_RUN_MODE);

    // Positions in clean runs, for faults that strike one command.
    const long first_ready = clean_index(MAIN, READY_CHECK, 0);
    const long ready_after_restart = clean_index(MAIN, READY_CHECK, 1);
    const long mode_after_rescue_restart = clean_index(MAIN, run_mode, 1);
    const long mode_after_main_restart = clean_index(RESCUE, run_mode, 1);
    const long writes_before_led =
        count_before(sim(), vendor(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE),
                     nth_command(sim(), flash_set_at(im::LED_IMAGE_ADDRESS, ~0u), 0));
    // Inside the final restart: the header block read, its write, the
    // read-back, the identity, the block read the bridge is to be found with
    // again, the restart. The first read comes third to last.
    const long restart = nth_command(sim(), vendor(OP_VENDOR_WRITE, SUB_RESTART), 0);
    const long restart_header_read = nth_command(
        sim(), HEADER_BLOCK_READ, int(count_before(sim(), HEADER_BLOCK_READ, restart)) - 3);
    ASSERT_GE(restart_header_read, 0);

    struct Case {
        const char* what;
        int mode;
        std::function<void()> setup;
        int code;
        bool validation;  // nothing may reach the bridge's flash
    } cases[] = {
        {"no such device", MAIN, [&] { device_path = "\\\\.\\PhysicalDrive9"; }, -1, true},
        {"no memory for the LED header", MAIN, [] { buffer_fail_allocation(1); }, -1, true},
        {"not ready", MAIN, [&] { sim().add_fault(failing_at(first_ready)); }, -3, true},
        {"no identity", MAIN,
         [&] {
             bridge->config().answers_identity_query = false;
             sim().add_fault(failing(OP_VENDOR_READ, SUB_IDENTITY_FALLBACK, 0, -1));
         },
         -5, true},
        {"firmware image for another chip", RESCUE,
         [&] {
             bin = write("bad.bin", im::build_damaged_image(im::firmware_recipe(13),
                                                            im::ImageDamage::kWrongVariant));
         },
         -6, true},
        {"main image as rescue image, in rescue mode", RESCUE, [&] { rescue = bin; }, -7, true},
        {"LED image over the firmware image's body", RESCUE,
         [&] {
             led = write("over.led", im::build_led_image({im::MAIN_BODY_ADDRESS, 5000, 1}));
         },
         -8, true},
        {"LED image over the rescue image's body", MAIN,
         [&] {
             led = write("over.led", im::build_led_image({im::RESCUE_BODY_ADDRESS + 8192, 64, 1}));
         },
         -8, true},
        {"rescue download fails", MAIN, [&] { sim().add_fault(every_write(0)); }, -11, false},
        {"not ready after the first restart", MAIN,
         [&] { sim().add_fault(failing_at(ready_after_restart)); }, -3, false},
        {"no rescue firmware after the first restart", MAIN,
         [&] { sim().add_fault(failing_at(mode_after_rescue_restart)); }, -14, false},
        {"LED download fails", RESCUE, [&] { sim().add_fault(every_write(writes_before_led)); },
         -12, false},
        // Every data write after the LED image's two blocks.
        {"parameter programming fails", RESCUE,
         [&] { sim().add_fault(every_write(writes_before_led + 2)); }, -13, false},
        // ... and after the parameter area's one block.
        {"firmware download fails", RESCUE,
         [&] { sim().add_fault(every_write(writes_before_led + 3)); }, -10, false},
        {"header block unreadable before the final restart", RESCUE,
         [&] { sim().add_fault(failing_at(restart_header_read)); }, -4, false},
        {"never back after the final restart", RESCUE, [&] { bridge->config().boot_seconds = -1; },
         -4, false},
        {"no main firmware after the final restart", RESCUE,
         [&] { sim().add_fault(failing_at(mode_after_main_restart)); }, -15, false},
    };
    const std::string good_bin = bin, good_rescue = rescue, good_led = led, good_cfg = cfg;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        start(c.mode);
        device_path = BRIDGE_PATH;
        bin = good_bin, rescue = good_rescue, led = good_led, cfg = good_cfg;
        c.setup();
        const Snapshot before = snapshot();
        const int result = run();
        buffer_fail_allocation(0);
        EXPECT_EQ(result, c.code);
        EXPECT_EQ(fw_last_error, c.code);
        if (c.validation) {
            EXPECT_EQ(write_commands(), 0u);
            EXPECT_TRUE(snapshot() == before);
        }
    }
}

// A failed header block write right after the firmware image does not stop the
// run: the write inside the final restart decides.
TEST_F(SequencerTest, FailedHeaderWriteAfterTheFirmwareImageDoesNotStopTheRun) {
    // After the lead chunk (the block's second write, the parameters' being
    // the first): its read-back, then the header block read of the separate
    // header write.
    const long lead_chunk_set = clean_index(RESCUE, flash_set_at(HB, HB + 1), 1);
    const long index = nth_command(sim(), HEADER_BLOCK_READ, 1, lead_chunk_set);
    ASSERT_GE(index, 0);
    fresh();
    start(RESCUE);
    sim().add_fault(failing_at(index));
    EXPECT_EQ(run(), 0);
    expect_installed({"led", "header", "main", "header", "restart"});
}

}  // namespace
}  // namespace vtx::test
