// check on parameter files: the lines the loader drops, each with its line
// and reason, and an account that always agrees with the loader itself.
#include <random>

#include "params/parser.h"
#include "params/programming.h"
#include "tests/companion/companion_support.h"

namespace vtx::test {
namespace {

class CompanionCheckParams : public testing::Test {
  protected:
    json::Value check(const std::string& text, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {"check", "--json"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(dir.write("p.cfg", text));
        return json_of(run_bridge(args))["files"][0];
    }
    static std::vector<std::pair<int, std::string>> warnings(const json::Value& file) {
        std::vector<std::pair<int, std::string>> found;
        for (const json::Value& w : file["warnings"].array)
            found.emplace_back(int(w["line"].i64()), w["code"].string);
        return found;
    }
    SimInstalled sim;
    TempDir dir;
};

std::string mixed_file() {
    return "; Bridge parameters\n"  // 1 comment: no word about it
           "VID = 0x1234\n"         // 2
           "vid = 5\n"              // 3 unknown name (case)
           "OBSOLETED = 1\n"        // 4 obsolete
           "PID = 0xZZ\n"           // 5 bad value
           "just words\n"           // 6 not a line
           "\n"                     // 7 blank
           "U2_MAXPWR = 300\n"      // 8 stored as 44
           "U2PHY = 05 AA BB\n"     // 9 count byte says 5, 2 follow
           "VID = 7\n"              // 10 duplicate of line 2
           "PRODUCT = \"0123456789012345678901234567890123456789\"\n"  // 11 cut to 31
           // 12: a 127-character comment, then what the loader reads as a line of its own
           "; " +
           std::string(125, 'x') + "PID = 3\n" + "LED = 1";  // 13, without a line end
}

TEST_F(CompanionCheckParams, EveryDroppedLineIsNamedWithItsReason) {
    json::Value file = check(mixed_file());
    EXPECT_TRUE(file["passed"].boolean) << "the update tool takes the file";
    const std::vector<std::pair<int, std::string>> expected = {
        {3, "unknown-name"}, {4, "obsolete"},        {5, "bad-value"},
        {6, "not-a-line"},   {8, "value-truncated"}, {9, "count-mismatch"},
        {10, "duplicate"},   {11, "text-truncated"}, {12, "split-line"}};
    EXPECT_EQ(warnings(file), expected);
    EXPECT_NE(file["warnings"][0]["message"].string.find("upper case: VID"), std::string::npos);
    EXPECT_EQ(file["params"]["kept"].i64(), 7);
    EXPECT_EQ(file["params"]["dropped"].i64(), 4);
    EXPECT_EQ(file["params"]["line_count"].i64(), 13);

    std::vector<ParameterEntry> entries;
    ASSERT_EQ(param_load_file(dir.file("p.cfg").c_str(), entries), 0);
    EXPECT_EQ(file["params"]["kept"].i64(), int64_t(entries.size()));
    EXPECT_FALSE(check(mixed_file(), {"--strict"})["passed"].boolean);
}

TEST_F(CompanionCheckParams, ALineThatEndsAtThePieceLimitIsNotSplit) {
    // 127 characters, then the line end alone in a piece of its own; with
    // CR LF, 126 characters and the CR fill the piece.
    std::string full = "VID = " + std::string(120, '0') + "1";
    std::string crlf = "PID = " + std::string(119, '0') + "2";
    std::string longer = "LED = " + std::string(130, '0') + "3";
    json::Value file = check(full + "\n" + crlf + "\r\n" + longer + "\n");
    EXPECT_EQ(file["params"]["kept"].i64(), 3);
    EXPECT_EQ(file["params"]["dropped"].i64(), 1) << "the rest of the 136-character line";
    const std::vector<std::pair<int, std::string>> expected = {{3, "long-line"}, {3, "not-a-line"}};
    EXPECT_EQ(warnings(file), expected);
}

TEST_F(CompanionCheckParams, LinesPastTheLoadersLimitAreNamed) {
    std::string text;
    for (int i = 0; i < 205; ++i)
        text += "VID = " + std::to_string(i) + "\n";
    json::Value file = check(text);
    EXPECT_EQ(file["params"]["kept"].i64(), PARAM_LINE_CAP);
    int over = 0;
    for (const auto& [line, code] : warnings(file)) {
        if (code == "over-cap") {
            EXPECT_GT(line, PARAM_LINE_CAP);
            ++over;
        }
    }
    EXPECT_EQ(over, 5);
}

TEST_F(CompanionCheckParams, FilesTheUpdateToolRefusesFail) {
    std::string overflow;
    for (int i = 0; i < 40; ++i)
        overflow += "SERIAL = \"0123456789012345678901234567890\"\n";
    struct Case {
        std::string text;
        const char* code;
    } cases[] = {{"", "no-parameters"},
                 {"; only\n; comments\n", "no-parameters"},
                 {"BOGUS = 1\nvid = 2\n", "no-parameters"},
                 {overflow, "area-overflow"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        json::Value file = check(c.text);
        EXPECT_FALSE(file["passed"].boolean);
        EXPECT_EQ(codes_of(file["problems"]), std::vector<std::string>{c.code});
    }
    std::vector<ParameterEntry> entries;
    EXPECT_NE(param_load_file(dir.write("x.cfg", "BOGUS = 1\n").c_str(), entries), 0);
}

// The byte after the last record is 0 and lies inside the area: records of
// 2047 bytes fit, 2048 do not, for check, pack-params and the update alike.
TEST_F(CompanionCheckParams, TheAreaEdgeIsTheSameForCheckPackAndTheUpdate) {
    std::string products;
    for (int i = 0; i < 31; ++i)
        products += "PRODUCT = \"" + std::string(31, 'q') + "\"\n";  // 2015 bytes
    struct Case {
        const char* what;
        std::string tail;
        bool fits;
    } cases[] = {
        {"2047 bytes", "SCSI_PRODUCT = \"a\"\nSCSI_VENDOR = \"v\"\nVID = 1\nPID = 2\n", true},
        {"2048 bytes", "MANUFACTURE = \"" + std::string(20, 'm') + "\"\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string cfg = dir.write("edge.cfg", products + c.tail);
        EXPECT_EQ(check(products + c.tail)["passed"].boolean, c.fits);
        BridgeRun pack = run_bridge({"pack-params", cfg, dir.file("edge.bin")});
        EXPECT_EQ(pack.code, c.fits ? companion::EXIT_DONE : companion::EXIT_FAILED) << pack.err;
        EXPECT_EQ(param_apply_file(nullptr, cfg.c_str(), 1), c.fits ? 0 : -1);
    }
}

// Random files built from the pieces parameter files are made of: the
// check's account of kept lines must be the loader's, entry for entry.
TEST_F(CompanionCheckParams, TheAccountAgreesWithTheLoaderOnAnyFile) {
    std::vector<std::string> fragments = {
        "VID",       "PID",     "vid",      "PRODUCT", "SCSI_VENDOR", "U2PHY", "CUSTOMIZED_LED",
        "OBSOLETED", "RW_MODE", " ",        "  ",      "\t",          "=",     "==",
        ";",         "\"",      "\"text\"", "0x1F",    "0X1F",        "12",    "yes",
        "Yes",       "01 02",   "1",        "\n",      "\r\n",        "\n",    "\n",
        "AB",        "-1"};
    fragments.push_back(std::string(62, 'x'));
    std::mt19937 random(12345);
    for (int round = 0; round < 150; ++round) {
        std::string text;
        int pieces = int(random() % 120);
        for (int i = 0; i < pieces; ++i)
            text += fragments[random() % fragments.size()];
        SCOPED_TRACE(testing::PrintToString(text));
        json::Value file = check(text);
        std::vector<ParameterEntry> entries;
        int loaded = param_load_file(dir.file("p.cfg").c_str(), entries);
        EXPECT_EQ(file["params"]["kept"].i64(), loaded == 0 ? int64_t(entries.size()) : 0);
        std::string out = dir.file("packed.bin");
        BridgeRun pack = run_bridge({"pack-params", dir.file("p.cfg"), out});
        if (loaded == 0 && file["passed"].boolean) {
            ASSERT_EQ(pack.code, 0) << pack.err;
            // The kept lines, as the JSON gives them, make the same area.
            std::string kept;
            for (const json::Value& line : file["params"]["lines"].array) {
                if (line["outcome"].string == "kept")
                    kept += line["name"].string + " = " + line["value"].string + "\n";
            }
            EXPECT_EQ(area_of(dir, kept), read_file(out));
        } else {
            EXPECT_EQ(pack.code, companion::EXIT_FAILED);
        }
    }
}

}  // namespace
}  // namespace vtx::test
