// The command line, help, exit codes and the JSON writer's escaping.
#include "companion/json_writer.h"
#include "tests/companion/companion_support.h"

namespace vtx::test {
namespace {

using Args = std::vector<std::string>;

const Args USAGE_ERRORS[] = {
    {},
    {"frob"},
    {"list", "extra"},
    {"info", "a", "b"},
    {"check"},
    {"pack-params", "only.cfg"},
    {"info", "--raw", "x.bin"},
    {"list", "--type", "led"},
    {"params", "--strict"},
    {"list", "--bogus"},
    {"params", "--raw"},
    {"check", "--type", "zip", "file"},
    {"help", "frob"},
    {"update", "fw_v1.2.4.061524.bin"},
    {"update", "a", "b", "c", "d", "e"},
    {"list", "--all"},
    {"info", "--path", "x"},
    {"update", "--all", "--path", "x", "a", "b"},
    {"update", "--path"},
};

TEST(CompanionCli, UsageErrorsExitWith64AndPointToHelpOrAnswerInJson) {
    SimInstalled sim;
    for (const Args& args : USAGE_ERRORS) {
        SCOPED_TRACE(testing::PrintToString(args));
        BridgeRun run = run_bridge(args);
        EXPECT_EQ(run.code, companion::EXIT_USAGE);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("vtx_bridge: "), std::string::npos) << run.err;
        Args with_json = args;
        with_json.push_back("--json");
        BridgeRun json_run = run_bridge(with_json);
        EXPECT_EQ(json_run.code, companion::EXIT_USAGE);
        Json doc = json_of(json_run);
        EXPECT_EQ(doc["status"].get<std::string>(), "usage");
        EXPECT_FALSE(doc["message"].get<std::string>().empty());
    }
    EXPECT_TRUE(sim->trace().empty()) << "a usage error touched a device";
}

TEST(CompanionCli, EveryCommandHasHelpOfItsOwnAndVersionNamesTheProgram) {
    SimInstalled sim;
    BridgeRun global = run_bridge({"--help"});
    EXPECT_EQ(global.code, 0);
    for (const char* command : {"list", "info", "params", "check", "pack-params"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(global.out.find(std::string("  ") + command), std::string::npos);
        std::string usage = std::string("Usage: vtx_bridge ") + command + " ";
        for (const Args& args :
             {Args{command, "--help"}, Args{"help", command}, Args{"--json", command, "--help"}}) {
            BridgeRun run = run_bridge(args);
            EXPECT_EQ(run.code, 0);
            EXPECT_EQ(run.out.rfind(usage, 0), 0u) << run.out;
            EXPECT_NE(run.out.find("Exit codes"), std::string::npos);
        }
    }
    BridgeRun version = run_bridge({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("vtx_bridge ", 0), 0u);
    EXPECT_TRUE(sim->trace().empty());
}

TEST(CompanionCli, OptionsMayFollowTheOperandsAndDoubleDashEndsThem) {
    SimInstalled sim;
    TempDir dir;
    std::string cfg = dir.write("-odd.cfg", "VID = 1\n");
    BridgeRun run = run_bridge({"check", "--", cfg});
    EXPECT_EQ(run.code, 0) << run.err;
    Json doc = json_of(run_bridge({"check", cfg, "--json", "--strict"}));
    EXPECT_TRUE(doc["strict"].get<bool>());
}

// Bytes in, the string a JSON reader decodes, and the escape on the wire.
struct QuoteCase {
    std::string bytes;
    std::string decoded;
    std::string wire;  // "" when the bytes pass through unchanged
};

const QuoteCase QUOTE_CASES[] = {
    {"plain", "plain", ""},
    {"a\"b\\c", "a\"b\\c", "\"a\\\"b\\\\c\""},
    {std::string("\0\x01\n\x1F\x7F", 5), std::string("\0\x01\n\x1F\x7F", 5),
     "\"\\u0000\\u0001\\u000A\\u001F\\u007F\""},
    {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", ""},
    {"\xFF", "\xC3\xBF", "\"\\u00FF\""},                     // not UTF-8 at all
    {"\x80x", "\xC2\x80x", "\"\\u0080x\""},                  // lone continuation byte
    {"\xE2\x82", "\xC3\xA2\xC2\x82", "\"\\u00E2\\u0082\""},  // cut short
    {"\xC0\xAF", "\xC3\x80\xC2\xAF", "\"\\u00C0\\u00AF\""},  // overlong
    {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80", "\"\\u00ED\\u00A0\\u0080\""},  // surrogate
    {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80",
     "\"\\u00F4\\u0090\\u0080\\u0080\""},  // above U+10FFFF
    // U+FDD0 is the writer's own mark for a byte to escape: from a device it
    // is text like any other.
    {"\xEF\xB7\x90"
     "41 \xEF\xB7\x90--",
     "\xEF\xB7\x90"
     "41 \xEF\xB7\x90--",
     ""},
    {"\xEF\xB7\x90\x01", "\xEF\xB7\x90\x01", "\"\xEF\xB7\x90\\u0001\""},
};

TEST(CompanionJson, StringsAreAlwaysValidJsonAndKeepEveryByte) {
    for (const QuoteCase& c : QUOTE_CASES) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        companion::JsonWriter writer;
        writer.string(c.bytes);
        std::string text = writer.text();
        ASSERT_FALSE(text.empty());
        std::string wire = text.substr(0, text.size() - 1);
        EXPECT_EQ(wire, c.wire.empty() ? "\"" + c.bytes + "\"" : c.wire);
        Json value = Json::parse(wire, nullptr, false);
        ASSERT_TRUE(value.is_string()) << wire;
        EXPECT_EQ(value.get<std::string>(), c.decoded);
    }
}

// The layout readers and the documentation's examples see: two-space
// indentation, keys in the order written, empty containers on one line.
TEST(CompanionJson, DocumentLayoutKeepsKeyOrderAndEscapesKeys) {
    companion::JsonWriter writer;
    writer.begin_object();
    writer.key("z\xFF");
    writer.begin_array();
    writer.end_array();
    writer.key("b");
    writer.begin_object();
    writer.end_object();
    writer.key("a");
    writer.begin_array();
    writer.number(-1);
    writer.null();
    writer.boolean(false);
    writer.end_array();
    writer.end_object();
    writer.number(2);  // one document only
    EXPECT_EQ(writer.text(),
              "{\n  \"z\\u00FF\": [],\n  \"b\": {},\n  \"a\": [\n    -1,\n    null,\n"
              "    false\n  ]\n}\n");
}

}  // namespace
}  // namespace vtx::test
