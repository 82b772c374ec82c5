// update: vtx_fwupdate's engine on the bridges the command line names, each
// case in text and in JSON, checked on the flash and the trace afterwards.
#include "tests/companion/companion_support.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test {
namespace {

namespace im = imagemaker;

const FirmwareVersion OLD{1, 2, 3, 0, 20240115};
const FirmwareVersion NEW{1, 2, 4, 0, 20240615};
const std::string PD1 = "\\\\.\\PhysicalDrive1";
const std::string PD2 = "\\\\.\\PhysicalDrive2";
const std::string PD3 = "\\\\.\\PhysicalDrive3";

enum class Bin { Good, Damaged, Unnamed };

// The files of an update to 1.2.4.
struct Files {
    TempDir dir;
    std::string bin, rescue, led, cfg;
    explicit Files(Bin kind = Bin::Good) {
        im::ImageRecipe fw = im::firmware_recipe_for_chip(0xA0020001, 10);
        fw.version = NEW;
        std::vector<uint8_t> image = im::build_firmware_image(fw);
        if (kind == Bin::Damaged)
            image.back() ^= 1;
        bin = dir.write(kind == Bin::Unnamed ? "fw_v1.2.bin" : "fw_v1.2.4.061524.bin", image);
        rescue = dir.write("rescue.bin",
                           im::build_firmware_image(im::rescue_recipe_for_chip(0xA0020001, 10)));
        led = dir.write("led.bin", im::build_led_image(im::LedRecipe{}));
        cfg = dir.write("bridge.cfg", std::string("VID = 0x5654\nPRODUCT = \"Sample\"\n"));
    }
    std::vector<std::string> operands() const { return {bin, rescue, cfg, led}; }
};

// Fails `count` commands (-1: all) of this kind after `skip` of them pass.
sim::CommandFault failing(const char* bridge, int opcode, int sub_command, long skip, long count) {
    sim::CommandFault fault = test::failing(opcode, sub_command, skip, count);
    fault.device = bridge;
    fault.sense_key = fault.asc = 0;  // a CHECK CONDITION without sense
    return fault;
}

void one_old(sim::SimPlatform& sim) {
    add_running_bridge(sim, sim::BridgeConfig{}, OLD);
}
void one_new(sim::SimPlatform& sim) {
    add_running_bridge(sim, sim::BridgeConfig{}, NEW);
}
// Left in its rescue firmware, which reports the version the name promises.
void one_rescue(sim::SimPlatform& sim) {
    im::ImageRecipe rescue = im::rescue_recipe_for_chip(0xA0020001, 10);
    rescue.version = NEW;
    sim.add_bridge(sim::BridgeConfig{}).install_image(im::build_firmware_image(rescue));
}
void one_moving(sim::SimPlatform& sim) {
    sim::BridgeConfig config;
    config.return_paths = {PD3};
    add_running_bridge(sim, config, OLD);
}
void one_unread(sim::SimPlatform& sim) {
    one_old(sim);
    sim.add_fault(failing("", OP_VENDOR_READ, SUB_VERSION, 0, 1));
}
void one_unread_after(sim::SimPlatform& sim) {
    one_old(sim);
    sim.add_fault(failing("", OP_VENDOR_READ, SUB_VERSION, 1, -1));
}
void two_old(sim::SimPlatform& sim) {
    one_old(sim);
    sim::BridgeConfig second;
    second.name = "second";
    second.path = PD2;
    second.identity = 0x0B0B0B0B;
    add_running_bridge(sim, second, OLD);
}
void two_first_fails(sim::SimPlatform& sim) {
    two_old(sim);
    sim.add_fault(failing("bridge", OP_VENDOR_WRITE, -1, 0, -1));
}
// The first bridge comes back from its update under the second's path,
// which moved while the first was off the bus.
void two_one_moves(sim::SimPlatform& sim) {
    two_old(sim);
    sim::Bridge* first = sim.bridge("bridge");
    sim::Bridge* second = sim.bridge("second");
    first->config().return_paths = {PD1, PD2};
    sim.set_command_hook([first, second](long) {
        if (first->restart_count() == 2)
            second->config().path = PD3;
    });
}
void none(sim::SimPlatform&) {}

enum class After { New, Untouched, Failed };

struct UpdateCase {
    const char* name;
    void (*setup)(sim::SimPlatform&);
    std::vector<std::string> options;
    int code;
    std::vector<std::string> outcomes;  // of the document's bridges
    std::vector<After> after;           // per simulated bridge, in the order added
    std::string path_after = PD1;       // of the document's first bridge
    Bin bin = Bin::Good;
};

const UpdateCase CASES[] = {
    {"one bridge updated", one_old, {}, 0, {"updated"}, {After::New}},
    {"equal version skips", one_new, {}, 0, {"current"}, {After::Untouched}},
    {"rescue firmware with the version is updated", one_rescue, {}, 0, {"updated"}, {After::New}},
    {"back under another path", one_moving, {}, 0, {"updated"}, {After::New}, PD3},
    {"a version not read means an update", one_unread, {}, 0, {"updated"}, {After::New}},
    {"new version not read back", one_unread_after, {}, 1, {"unconfirmed"}, {After::New}},
    {"two bridges, no --path", two_old, {}, 64, {}, {After::Untouched, After::Untouched}},
    {"--path picks one",
     two_old,
     {"--path", PD2},
     0,
     {"updated"},
     {After::Untouched, After::New},
     PD2},
    {"--all updates both", two_old, {"--all"}, 0, {"updated", "updated"}, {After::New, After::New}},
    {"--all reaches a bridge that moved",
     two_one_moves,
     {"--all"},
     0,
     {"updated", "updated"},
     {After::New, After::New},
     PD2},
    {"--all goes on after a failure",
     two_first_fails,
     {"--all"},
     1,
     {"failed", "updated"},
     {After::Failed, After::New}},
    {"no bridge", none, {}, 2, {}, {}},
    {"damaged image", one_old, {}, 1, {"failed"}, {After::Untouched}, PD1, Bin::Damaged},
    {"no version in the name", one_old, {}, 1, {}, {After::Untouched}, PD1, Bin::Unnamed},
};

bool runs_new_firmware(sim::Bridge& bridge) {
    FirmwareVersion v = bridge.running_version();
    return bridge.mode_reply() == 1 && v.major == 1 && v.minor == 2 && v.patch == 4;
}

void check_bridges(sim::SimPlatform& sim, const UpdateCase& c) {
    std::vector<sim::Bridge*> bridges = sim.bridges();
    ASSERT_EQ(bridges.size(), c.after.size());
    for (size_t i = 0; i < bridges.size(); ++i) {
        SCOPED_TRACE(bridges[i]->config().name);
        if (c.after[i] != After::Untouched) {
            EXPECT_EQ(runs_new_firmware(*bridges[i]), c.after[i] == After::New);
            continue;
        }
        for (const sim::TraceEntry& entry : commands(sim, OP_VENDOR_WRITE))
            EXPECT_NE(entry.bridge, bridges[i]->config().name);
    }
    // The promised version comes from the name: without one, no bridge is asked.
    if (c.bin == Bin::Unnamed) {
        EXPECT_TRUE(sim.trace().empty());
    }
}

void check_document(const Json& doc, const UpdateCase& c) {
    if (c.code == companion::EXIT_USAGE) {
        EXPECT_EQ(doc["candidates"].size(), c.after.size());
        return;
    }
    std::vector<std::string> outcomes;
    for (const Json& bridge : doc.value("bridges", Json::array()))
        outcomes.push_back(bridge["outcome"].get<std::string>());
    ASSERT_EQ(outcomes, c.outcomes);
    if (outcomes.empty())
        return;
    const Json& first = doc["bridges"][0];
    if (outcomes[0] == "updated") {
        EXPECT_EQ(first["path_after"].get<std::string>(), c.path_after);
        EXPECT_EQ(first["firmware_after"]["version"].get<std::string>(), "1.2.4");
        EXPECT_GT(first["bytes_written"].get<int64_t>(), 0);
        EXPECT_GT(first["milliseconds"].get<int64_t>(), 0);
    }
    if (c.bin == Bin::Damaged) {
        EXPECT_EQ(first["result"]["name"].get<std::string>(), "firmware-image-bad");
    }
}

TEST(Update, EachBridgeEndsAsTheCommandLineAndItsFirmwareSay) {
    for (const UpdateCase& c : CASES) {
        for (bool json : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (json ? " (--json)" : ""));
            SimInstalled sim;
            // The bar shows on a terminal, and never beside a JSON document.
            sim->set_terminal(true);
            c.setup(sim.sim());
            Files files(c.bin);
            std::vector<std::string> args = {"update"};
            if (json)
                args.push_back("--json");
            args.insert(args.end(), c.options.begin(), c.options.end());
            for (const std::string& operand : files.operands())
                args.push_back(operand);
            BridgeRun run = run_bridge(args);
            EXPECT_EQ(run.code, c.code) << run.out << run.err;
            if (json) {
                check_document(json_of(run), c);
            } else if (c.after == std::vector<After>{After::New}) {
                EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err;
            }
            check_bridges(sim.sim(), c);
        }
    }
}

// The --trace file holds the update's commands, writes included, one line
// each.
TEST(Update, TraceFileHoldsEveryCommandOfTheUpdate) {
    SimInstalled sim;
    one_old(sim.sim());
    Files files;
    std::string trace = files.dir.file("update.trace");
    std::vector<std::string> args = {"--trace", trace, "update"};
    for (const std::string& operand : files.operands())
        args.push_back(operand);
    ASSERT_EQ(run_bridge(args).code, 0);
    std::string text = read_text(trace);
    size_t lines = 0;
    for (size_t at = text.find(" cmd "); at != std::string::npos; at = text.find(" cmd ", at + 1))
        ++lines;
    EXPECT_EQ(lines, sim->trace().size());
    EXPECT_TRUE(trace_has_write(sim.sim()));
}

}  // namespace
}  // namespace vtx::test
