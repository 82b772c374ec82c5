// params: the bridge's area back as parameter-file text, and pack-params.
#include "params/encoder.h"
#include "params/parser.h"
#include "tests/companion/companion_support.h"

namespace vtx::test {
namespace {

const char* const AREA_FILES[] = {
    // The sample set's kind of file: every type of parameter.
    "VID = 0x5654\nPID = 0x4601\nMANUFACTURE = \"Vantrex\"\nPRODUCT = \"Portable SSD\"\n"
    "SCSI_VENDOR = \"Vantrex\"\nSCSI_PRODUCT = \"Portable SSD\"\nUSB_SELF_PWR = no\n"
    "CUSTOMIZED_LED = 01 10 02 20\nU2PHY = 04 E4 1A 03 77\nRW_MODE = 1\nMFI_SUPPORT = yes\n"
    "CUSTOMIZED_FEATURE = 0xFFFFFFFFFFFFFFFF\n",
    // Texts at their limits, blanks that matter, a byte above 127, an empty
    // string, and a repeated parameter.
    "PRODUCT = \"  lead and trail  \"\nSERIAL = \"0123456789012345678901234567890123456789\"\n"
    "SCSI_PRODUCT = \"exactly sixteen!\"\nSCSI_VENDOR = \"x\"\nMANUFACTURE = \"\"\n"
    "PRODUCT = \"caf\xE9\"\nVID = 1\nVID = 2\n",
    // Values the encoder cuts: the area holds what is stored, not what was written.
    "U2_MAXPWR = 300\nCUSTOMIZED_LED = 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11\n",
};

class CompanionParams : public testing::Test {
  protected:
    sim::Bridge& bridge_with(const std::vector<uint8_t>& area) {
        sim::BridgeConfig config;
        return add_running_bridge(sim.sim(), config, {1, 0, 0, 0, 20240101}, area);
    }
    SimInstalled sim;
    TempDir dir;
};

// pack-params writes the area the update tool programs; params reads it back
// from the bridge, raw and as text that loads back to the same area.
TEST_F(CompanionParams, PackParamsWritesWhatTheUpdateToolProgramsAndParamsPrintsItBack) {
    for (const char* cfg : AREA_FILES) {
        SCOPED_TRACE(cfg);
        std::string in = dir.write("in.cfg", std::string(cfg) + "BOGUS = 1\n; comment\n");
        std::string out = dir.file("out.bin");
        BridgeRun pack = run_bridge({"pack-params", in, out});
        ASSERT_EQ(pack.code, 0) << pack.err;
        std::vector<uint8_t> area = area_of(dir, cfg);
        EXPECT_EQ(read_file(out), area);
        EXPECT_NE(pack.out.find("1 line dropped"), std::string::npos) << pack.out;
        // Its own input is never its output.
        std::string text = read_text(in);
        EXPECT_EQ(run_bridge({"pack-params", in, in}).code, companion::EXIT_FAILED);
        EXPECT_EQ(read_text(in), text);
        Json doc = json_of(run_bridge({"pack-params", "--json", in, out}));
        EXPECT_EQ(doc["dropped_lines"].get<int64_t>(), 1);
        std::vector<ParameterEntry> entries;
        ASSERT_EQ(param_load_file(in.c_str(), entries), 0);
        EXPECT_EQ(doc["encoded_size"].get<uint64_t>(),
                  param_encoded_size(entries.data(), int(entries.size())));

        sim->clear_devices();
        bridge_with(area);
        std::string raw = dir.file("raw.bin");
        BridgeRun run = run_bridge({"params", "--raw", raw});
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(read_file(raw), area);
        ASSERT_EQ(param_load_file(dir.write("back.cfg", run.out).c_str(), entries), 0);
        std::vector<uint8_t> again(PARAMETER_AREA_SIZE, 0);
        ASSERT_EQ(param_pack_area(entries.data(), int(entries.size()), again.data()), 0);
        EXPECT_EQ(again, area) << run.out;
        EXPECT_FALSE(trace_has_write(sim.sim()));
    }
}

TEST_F(CompanionParams, JsonListsEachRecordWithItsOffsetAndLine) {
    bridge_with(area_of(dir, "VID = 0x1234\nPRODUCT = \"abc\"\nU2PHY = 02 AA BB\n"));
    Json doc = json_of(run_bridge({"params", "--json"}));
    Json area = doc["area"];
    EXPECT_TRUE(area["decoded"].get<bool>());
    EXPECT_TRUE(area["packs_back_same"].get<bool>());
    EXPECT_EQ(area["stop_offset"].get<int64_t>(), 3 + 9 + 4);
    ASSERT_EQ(area["entries"].size(), 3u);
    Json vid = area["entries"][0];
    EXPECT_EQ(vid["name"].get<std::string>(), "VID");
    EXPECT_EQ(vid["offset"].get<int64_t>(), 0);
    EXPECT_EQ(vid["number"].get<uint64_t>(), 0x1234u);
    EXPECT_EQ(vid["line"].get<std::string>(), "VID = 0x1234");
    EXPECT_EQ(area["entries"][1]["offset"].get<int64_t>(), 3);
    EXPECT_EQ(area["entries"][1]["text"].get<std::string>(), "abc");
    EXPECT_EQ(area["entries"][2]["bytes"].get<std::string>(), "02 AA BB");
    EXPECT_EQ(area["entries"][2]["type"].get<std::string>(), "bytes-var");
    EXPECT_EQ(area["text"].get<std::string>(),
              "VID = 0x1234\nPRODUCT = \"abc\"\nU2PHY = 02 AA BB\n");
}

TEST_F(CompanionParams, AnAreaThatCannotBeDecodedShowsWhatDecodedAndWhereItStopped) {
    std::vector<uint8_t> area = area_of(dir, "VID = 0x1234\n");
    // A PRODUCT descriptor of odd length, which the encoder never writes.
    const uint8_t broken[] = {5, 7, 3, 'a', 0, 'b', 0, 'c'};
    std::copy(std::begin(broken), std::end(broken), area.begin() + 3);
    bridge_with(area);

    BridgeRun text = run_bridge({"params"});
    EXPECT_EQ(text.code, companion::EXIT_FAILED);
    EXPECT_NE(text.out.find("\nVID = 0x1234\n"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("offset 3 (id 5, PRODUCT)"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("05 07 03 61"), std::string::npos);

    Json doc = json_of(run_bridge({"params", "--json"}));
    EXPECT_EQ(doc["status"].get<std::string>(), "failure");
    EXPECT_FALSE(doc["area"]["decoded"].get<bool>());
    EXPECT_EQ(doc["area"]["stop_offset"].get<int64_t>(), 3);
    EXPECT_EQ(doc["area"]["stop_byte"].get<int64_t>(), 5);
    EXPECT_EQ(doc["area"]["entries"].size(), 1u);
}

TEST_F(CompanionParams, AnErasedAreaIsReportedAsSettingNothing) {
    bridge_with({});
    BridgeRun text = run_bridge({"params"});
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("byte FF, erased flash"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("vtx_fwupdate refuses a file without one"), std::string::npos);
    Json doc = json_of(run_bridge({"params", "--json"}));
    EXPECT_EQ(doc["area"]["entries"].size(), 0u);
    EXPECT_TRUE(doc["area"]["tail_erased"].get<bool>());
}

TEST_F(CompanionParams, RecordsFollowedByOtherBytesAreFlagged) {
    std::vector<uint8_t> area = area_of(dir, "VID = 1\n");
    area[100] = 0x55;  // after the end of the list
    bridge_with(area);
    Json doc = json_of(run_bridge({"params", "--json"}));
    EXPECT_TRUE(doc["area"]["decoded"].get<bool>());
    EXPECT_FALSE(doc["area"]["packs_back_same"].get<bool>());
    EXPECT_NE(run_bridge({"params"}).out.find("writes zeros there"), std::string::npos);
}

TEST_F(CompanionParams, AFailedAreaReadIsAFailure) {
    bridge_with(area_of(dir, "VID = 1\n"));
    // Past the chip registers of the bridge check (no scan: a path is given).
    sim->add_fault(failing(OP_VENDOR_READ, SUB_MEMORY_READ, 2, -1));
    std::string raw = dir.file("never.bin");
    BridgeRun run = run_bridge({"params", "--raw", raw, "\\\\.\\PhysicalDrive1"});
    EXPECT_EQ(run.code, companion::EXIT_FAILED);
    EXPECT_NE(run.err.find("cannot read the parameter area"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(raw));
}

TEST_F(CompanionParams, PackParamsRefusesWhatTheUpdateToolRefuses) {
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += "SERIAL = \"0123456789012345678901234567890\"\n";
    struct Case {
        std::string text;
        const char* says;
    } cases[] = {{"; nothing\nBOGUS = 1\n", "sets a parameter"}, {many, "the area holds 2047"}};
    for (const Case& c : cases) {
        std::string out = dir.file("refused.bin");
        BridgeRun run = run_bridge({"pack-params", dir.write("bad.cfg", c.text), out});
        EXPECT_EQ(run.code, companion::EXIT_FAILED);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    BridgeRun missing = run_bridge({"pack-params", dir.file("absent.cfg"), dir.file("o.bin")});
    EXPECT_EQ(missing.code, companion::EXIT_FAILED);
    BridgeRun unwritable =
        run_bridge({"pack-params", dir.write("ok.cfg", "VID = 1\n"), dir.path().string()});
    EXPECT_EQ(unwritable.code, companion::EXIT_FAILED);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
}

}  // namespace
}  // namespace vtx::test
