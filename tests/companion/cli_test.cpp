// The command line, help, exit codes and the JSON writer's escaping.
#include "companion/cli.h"
#include "companion/json_writer.h"
#include "tests/companion/companion_support.h"

namespace vtx::test {
namespace {

using Args = std::vector<std::string>;

// What the parser read, in one line: command [operands] and the options set.
std::string read_as(const Args& args) {
    test::Args argv({"vtx_bridge"}, args);
    companion::Invocation in;
    std::string error;
    if (companion::parse_invocation(argv.argc(), argv.argv(), in, error) != 0)
        return "usage: " + error;
    std::string text = in.command + " [";
    for (size_t i = 0; i < in.operands.size(); ++i)
        text += (i == 0 ? "" : ",") + in.operands[i];
    auto value = [](const char* name, const std::string& v) {
        return v.empty() ? "" : std::string(" ") + name + "=" + v;
    };
    auto flag = [](const char* name, bool set) { return set ? std::string(" ") + name : ""; };
    return text + "]" + value("raw", in.raw_path) + value("type", in.type) +
           value("trace", in.trace_path) + value("path", in.path) + flag("json", in.json) +
           flag("strict", in.strict) + flag("all", in.all) + flag("help", in.help);
}

// Each option in both forms, before, among and after the operands; "--" ends
// the options, and a value that starts with "-" is joined to its option.
TEST(CompanionCli, OptionsInBothFormsAnywhereAndDoubleDashEndsThem) {
    const struct {
        Args args;
        const char* read;
    } cases[] = {
        {{"params", "--raw", "a.bin", "/dev/sg1"}, "params [/dev/sg1] raw=a.bin"},
        {{"--raw=a.bin", "params"}, "params [] raw=a.bin"},
        {{"params", "--raw=-x"}, "params [] raw=-x"},
        {{"check", "--type", "led", "f", "--strict"}, "check [f] type=led strict"},
        {{"--strict", "check", "f", "g", "--type=led"}, "check [f,g] type=led strict"},
        {{"--trace", "t.txt", "list"}, "list [] trace=t.txt"},
        {{"list", "--trace=t.txt", "--json"}, "list [] trace=t.txt json"},
        {{"update", "--path", "p", "b", "r"}, "update [b,r] path=p"},
        {{"update", "b", "r", "c", "l", "--path=p"}, "update [b,r,c,l] path=p"},
        {{"--all", "update", "b", "r", "c"}, "update [b,r,c] all"},
        {{"--json", "save-firmware", "", "out.bin"}, "save-firmware [,out.bin] json"},
        {{"check", "--", "-x", "--json", "--strict"}, "check [-x,--json,--strict]"},
        {{"--", "check", "-"}, "check [-]"},
        {{"list", "--json", "--json"}, "list [] json"},
        {{"info", "--help"}, "info [] help"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_as(c.args), c.read) << testing::PrintToString(c.args);
}

// Each wrong command line and a word its message must name.
const struct {
    Args args;
    const char* names;
} USAGE_ERRORS[] = {
    {{}, "no command"},
    {{"frob"}, "frob"},
    {{"help", "frob"}, "frob"},
    {{"list", "extra"}, "extra"},
    {{"list", "/json"}, "/json"},  // no "/option" form, on Windows neither
    {{"info", "a", "b"}, "b"},
    {{"check"}, "check"},
    {{"pack-params", "only.cfg"}, "pack-params"},
    {{"update", "bin"}, "update"},
    {{"update", "b", "r", "c", "l", "x"}, ": x"},
    {{"info", "--raw", "x.bin"}, "--raw"},
    {{"list", "--type", "led"}, "--type"},
    {{"params", "--strict"}, "--strict"},
    {{"list", "--path", "p"}, "--path"},
    {{"info", "--all"}, "--all"},
    {{"update", "--path=p", "--all", "b", "r"}, "--all"},
    {{"list", "--bogus"}, "--bogus"},
    {{"list", "-x"}, "-x"},
    {{"params", "--raw"}, "--raw"},
    {{"params", "--raw", "-x"}, "--raw"},
    {{"list", "--trace", "--strict"}, "--trace"},
    {{"list", "--json=no"}, "--json"},
    {{"check", "--type", "led", "--type=area", "f"}, "--type"},
    {{"check", "--type", "zip", "file"}, "zip"},
};

TEST(CompanionCli, UsageErrorsExitWith64AndNameTheArgumentInTextOrJson) {
    SimInstalled sim;
    for (const auto& c : USAGE_ERRORS) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        BridgeRun run = run_bridge(c.args);
        EXPECT_EQ(run.code, 64);
        EXPECT_EQ(run.out, "");
        std::string message = run.err.substr(0, run.err.find('\n'));
        EXPECT_EQ(message.rfind("vtx_bridge: ", 0), 0u) << run.err;
        EXPECT_NE(message.find(c.names), std::string::npos) << run.err;
        Args with_json = c.args;
        with_json.push_back("--json");
        BridgeRun json_run = run_bridge(with_json);
        EXPECT_EQ(json_run.code, 64);
        EXPECT_EQ(json_run.err, "");
        Json doc = json_of(json_run);
        EXPECT_EQ(doc["status"].get<std::string>(), "usage");
        EXPECT_NE(doc["message"].get<std::string>().find(c.names), std::string::npos);
    }
    // The document names the command read before the fault.
    for (const Args& args :
         {Args{"params", "--bogus", "--json"}, Args{"--json", "params", "--raw"}})
        EXPECT_EQ(json_of(run_bridge(args))["command"], "params");
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
             {Args{command, "--help"}, Args{"help", command}, Args{"--json", "-h", command}}) {
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
