// update: vtx_fwupdate's engine on the bridges the command line names, each
// case in text and in JSON, checked on the flash and the trace afterwards.
#include <functional>

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

// The files of an update to 1.2.4; `bad` damages the firmware image's payload.
struct Files {
    TempDir dir;
    std::string bin, rescue, led, cfg;
    explicit Files(bool bad = false) {
        im::ImageRecipe fw = im::firmware_recipe_for_chip(0xA0020001, 10);
        fw.version = NEW;
        std::vector<uint8_t> image = im::build_firmware_image(fw);
        if (bad)
            image.back() ^= 1;
        bin = dir.write("fw_v1.2.4.061524.bin", image);
        rescue = dir.write("rescue.bin",
                           im::build_firmware_image(im::rescue_recipe_for_chip(0xA0020001, 10)));
        led = dir.write("led.bin", im::build_led_image(im::LedRecipe{}));
        cfg = dir.write("bridge.cfg", std::string("VID = 0x5654\nPRODUCT = \"Sample\"\n"));
    }
    std::vector<std::string> operands() const { return {bin, rescue, cfg, led}; }
};

sim::BridgeConfig second_bridge() {
    sim::BridgeConfig config;
    config.name = "second";
    config.path = PD2;
    config.identity = 0x0B0B0B0B;
    return config;
}

sim::CommandFault failing_writes(const std::string& bridge) {
    sim::CommandFault fault;
    fault.device = bridge;
    fault.opcode = OP_VENDOR_WRITE;
    fault.count = -1;
    fault.scsi_status = 2;
    return fault;
}

sim::CommandFault failing_version_reads(long skip, long count) {
    sim::CommandFault fault;
    fault.opcode = OP_VENDOR_READ;
    fault.sub_command = SUB_VERSION;
    fault.skip = skip;
    fault.count = count;
    fault.scsi_status = 2;
    return fault;
}

bool runs_new_firmware(sim::Bridge& bridge) {
    FirmwareVersion v = bridge.running_version();
    return bridge.mode_reply() == 1 && v.major == 1 && v.minor == 2 && v.patch == 4;
}

bool written_to(const sim::SimPlatform& sim, const std::string& name) {
    for (const sim::TraceEntry& entry : commands(sim, OP_VENDOR_WRITE)) {
        if (entry.bridge == name)
            return true;
    }
    return false;
}

enum class After { New, Untouched, Failed };

struct UpdateCase {
    const char* name;
    std::function<void(sim::SimPlatform&)> setup;
    std::vector<std::string> options;
    int code;
    std::vector<std::string> outcomes;  // of the document's bridges
    std::vector<After> after;           // per simulated bridge, in order added
    std::string path_after = PD1;       // of the first bridge in the document
    bool bad_image = false;
};

void one_old(sim::SimPlatform& sim) {
    add_running_bridge(sim, sim::BridgeConfig{}, OLD);
}
void two_old(sim::SimPlatform& sim) {
    add_running_bridge(sim, sim::BridgeConfig{}, OLD);
    add_running_bridge(sim, second_bridge(), OLD);
}

const UpdateCase CASES[] = {
    {"one bridge updated", one_old, {}, 0, {"updated"}, {After::New}},
    {"equal version skips",
     [](sim::SimPlatform& sim) { add_running_bridge(sim, sim::BridgeConfig{}, NEW); },
     {},
     0,
     {"current"},
     {After::Untouched}},
    {"a bridge in its rescue firmware that reports the version is updated",
     [](sim::SimPlatform& sim) {
         im::ImageRecipe rescue = im::rescue_recipe_for_chip(0xA0020001, 10);
         rescue.version = NEW;
         sim.add_bridge(sim::BridgeConfig{}).install_image(im::build_firmware_image(rescue));
     },
     {},
     0,
     {"updated"},
     {After::New}},
    {"back under another path",
     [](sim::SimPlatform& sim) {
         sim::BridgeConfig config;
         config.return_paths = {PD3};
         add_running_bridge(sim, config, OLD);
     },
     {},
     0,
     {"updated"},
     {After::New},
     PD3},
    {"a version that cannot be read means an update",
     [](sim::SimPlatform& sim) {
         one_old(sim);
         sim.add_fault(failing_version_reads(0, 1));
     },
     {},
     0,
     {"updated"},
     {After::New}},
    {"updated, but the new version cannot be read back",
     [](sim::SimPlatform& sim) {
         one_old(sim);
         sim.add_fault(failing_version_reads(1, -1));
     },
     {},
     1,
     {"unconfirmed"},
     {After::New}},
    {"two bridges and no --path: refused",
     two_old,
     {},
     64,
     {},
     {After::Untouched, After::Untouched}},
    {"--path picks one",
     two_old,
     {"--path", PD2},
     0,
     {"updated"},
     {After::Untouched, After::New},
     PD2},
    {"--all updates both", two_old, {"--all"}, 0, {"updated", "updated"}, {After::New, After::New}},
    {"--all goes on after a failure",
     [](sim::SimPlatform& sim) {
         two_old(sim);
         sim.add_fault(failing_writes("bridge"));
     },
     {"--all"},
     1,
     {"failed", "updated"},
     {After::Failed, After::New}},
    {"no bridge", [](sim::SimPlatform&) {}, {}, 2, {}, {}},
    {"bad image", one_old, {}, 1, {"failed"}, {After::Untouched}, PD1, true},
};

void check_bridges(sim::SimPlatform& sim, const UpdateCase& c) {
    std::vector<sim::Bridge*> bridges = sim.bridges();
    ASSERT_EQ(bridges.size(), c.after.size());
    for (size_t i = 0; i < bridges.size(); ++i) {
        SCOPED_TRACE(bridges[i]->config().name);
        if (c.after[i] == After::Untouched) {
            EXPECT_FALSE(written_to(sim, bridges[i]->config().name));
        } else {
            EXPECT_EQ(runs_new_firmware(*bridges[i]), c.after[i] == After::New);
        }
    }
}

void check_document(const Json& doc, const UpdateCase& c) {
    if (c.code == 64) {
        EXPECT_EQ(doc["candidates"].size(), c.after.size());
        return;
    }
    std::vector<std::string> outcomes;
    for (const Json& bridge : doc.value("bridges", Json::array()))
        outcomes.push_back(bridge["outcome"].get<std::string>());
    EXPECT_EQ(outcomes, c.outcomes);
    if (outcomes.empty())
        return;
    const Json& first = doc["bridges"][0];
    if (c.outcomes[0] == "updated") {
        EXPECT_EQ(first["path_after"].get<std::string>(), c.path_after);
        EXPECT_EQ(first["firmware_after"]["version"].get<std::string>(), "1.2.4");
        EXPECT_GT(first["bytes_written"].get<int64_t>(), 0);
        EXPECT_GT(first["milliseconds"].get<int64_t>(), 0);
    }
    if (c.bad_image) {
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
            Files files(c.bad_image);
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
            } else if (c.after.size() == 1 && c.after[0] == After::New) {
                EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err;
            }
            check_bridges(sim.sim(), c);
        }
    }
}

// The --trace file holds the update's commands, writes included, one line
// each, and the command's output is the same as without it.
TEST(Update, TraceFileHoldsEveryCommandOfTheUpdate) {
    SimInstalled sim;
    one_old(sim.sim());
    Files files;
    std::string trace = files.dir.file("update.trace");
    std::vector<std::string> args = {"--trace", trace, "update"};
    for (const std::string& operand : files.operands())
        args.push_back(operand);
    BridgeRun run = run_bridge(args);
    ASSERT_EQ(run.code, 0) << run.err;
    std::string text = read_text(trace);
    size_t lines = 0;
    for (size_t at = text.find(" cmd "); at != std::string::npos; at = text.find(" cmd ", at + 1))
        ++lines;
    EXPECT_EQ(lines, sim->trace().size());
    EXPECT_TRUE(trace_has_write(sim.sim()));
}

// The expected version comes from the firmware image's name, as in
// vtx_fwupdate: without one no bridge is asked anything.
TEST(Update, AFirmwareNameWithoutAVersionSendsNothing) {
    SimInstalled sim;
    one_old(sim.sim());
    Files files;
    for (const char* name : {"firmware.bin", "fw_v1.2.bin"}) {
        SCOPED_TRACE(name);
        std::string bin = files.dir.write(name, read_file(files.bin));
        BridgeRun run = run_bridge({"update", "--json", bin, files.rescue});
        EXPECT_EQ(run.code, companion::EXIT_FAILED);
        json_of(run);
    }
    EXPECT_TRUE(sim->trace().empty());
}

}  // namespace
}  // namespace vtx::test
