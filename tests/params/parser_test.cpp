#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "params/parser.h"
#include "params/table.h"
#include "tests/params/params_support.h"
#include "vtx/bytes.h"

namespace vtx::test {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

// The accepted (name, value) lines of `text`, read from a binary stream so
// that what the reader sees is exactly the text.
Lines read_lines(const std::string& text, int limit = PARAM_LINE_CAP) {
    InputStream input(text);
    std::vector<ParameterLine> lines(static_cast<size_t>(limit));
    int count = param_read_lines(input.get(), limit, lines.data());
    Lines result;
    for (int i = 0; i < count; ++i)
        result.emplace_back(lines[i].name, lines[i].value);
    return result;
}

TEST(ParamLines, SplitIntoNameAndValueAsTheLoaderReadsThem) {
    struct Case {
        const char* text;
        Lines expected;
    } cases[] = {
        {"VID = 0x12 ; comment\n", {{"VID", "0x12 "}}},
        {"; VID = 1\n", {}},
        {"\n\n   \n", {}},
        {"VID\n", {}},
        {"VID = 1\r\nPID = 2\r\n", {{"VID", "1"}, {"PID", "2"}}},
        {"VID X = 5\n", {{"VID", "5"}}},
        {"VID;X = 5\n", {}},
        {"VID\r = 5\n", {}},
        {"==VID==5==6\n", {{"VID", "5"}}},
        {"VID = 1 = 2\n", {{"VID", "1 "}}},
        {"====", {}},
        {"====\n", {}},
        {"=1\n", {}},
        {"   = 1\n", {}},
        {"VID = ;x\n", {}},
        {"VID =    \n", {}},
        {"VID = \r\n", {}},
        {"\tVID = 1\n", {{"\tVID", "1"}}},
        {"VID =   \t1 \t \n", {{"VID", "\t1 \t "}}},
        {"VID = 7", {{"VID", "7"}}},
        {"PRODUCT = \"a b\"  \n", {{"PRODUCT", "\"a b\"  "}}},
        {"PRODUCT = \"a;b\"\n", {{"PRODUCT", "\"a"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read_lines(c.text), c.expected) << c.text;
}

TEST(ParamLines, LongLinesAreReadInPiecesOf127Characters) {
    // The first piece is 127 characters without "=", the rest of the line a
    // line of its own.
    std::string text = std::string(127, 'x') + "VID = 7\n";
    EXPECT_EQ(read_lines(text), (Lines{{"VID", "7"}}));

    std::string value(121, 'a');
    EXPECT_EQ(read_lines("VID = " + value + "bcd\n"), (Lines{{"VID", value}}));
}

TEST(ParamLines, ReadingStopsAtTheLimit) {
    EXPECT_EQ(read_lines("VID = 1\nPID = 2\nLED = 3\n", 2).size(), 2u);
    EXPECT_TRUE(read_lines("VID = 1\n", 0).empty());
}

TEST(ParamLines, CountIsNewlinesPlusAnUnfinishedLastLine) {
    struct Case {
        const char* text;
        int lines;
    } cases[] = {{"", 1}, {"a", 1}, {"a\n", 1}, {"a\nb", 2}, {"\n\n", 2}, {"a\r\nb\r\n", 2}};
    for (const Case& c : cases) {
        InputStream input(c.text);
        EXPECT_EQ(param_count_lines(input.get()), c.lines) << c.text;
    }
}

TEST(ParamNumbers, WordsPrefixesAndDigits) {
    const uint64_t kAllOnes = ~uint64_t(0);
    struct Case {
        const char* text;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"0x12", true, 18},
        {"1 2", true, 12},
        {"0 x 1\t2", true, 18},
        {"\t", true, 0},
        {"", true, 0},
        {"007", true, 7},
        {"0x0001", true, 1},
        {"0xfF", true, 255},
        {"y", true, 1},
        {"yes", true, 1},
        {"on", true, 1},
        {"true", true, 1},
        {"y e s", true, 1},
        {"n", true, 0},
        {"no", true, 0},
        {"off", true, 0},
        {"false", true, 0},
        {"Yes", false, 0},
        {"TRUE", false, 0},
        {"On", false, 0},
        {"0x", false, 0},
        {"0X1F", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {"1.5", false, 0},
        {"0x1g", false, 0},
        {"12a", false, 0},
        {"18446744073709551615", true, kAllOnes},
        {"18446744073709551616", true, kAllOnes},
        {"99999999999999999999999999", true, kAllOnes},
        {"0xFFFFFFFFFFFFFFFF", true, kAllOnes},
        {"0x10000000000000000", true, kAllOnes},
        {"0x0000000000000000000000001", true, 1},
        // Bytes above 127 are no digits in any locale: superscript two and
        // nine, and a letter with an accent, in Latin-1.
        {"1\xB2", false, 0},
        {"\xB9", false, 0},
        {"0x1\xE9", false, 0},
    };
    for (const Case& c : cases) {
        char text[128] = {};
        std::strcpy(text, c.text);
        uint64_t value = 99;
        EXPECT_EQ(param_parse_number(text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(ParamBytes, TwoHexDigitsPerPieceSplitAtSpacesOnly) {
    struct Case {
        const char* text;
        int count;
        Area bytes;
    } cases[] = {
        {"01 02 03", 3, bytes_of({1, 2, 3})},
        {"  0a   FF  ", 2, bytes_of({0x0A, 0xFF})},
        {"", 0, {}},
        {"01 2 03", -1, {}},
        {"012", -1, {}},
        {"01\t02", -1, {}},
        {"0g", -1, {}},
        {"\xE9\xE9", -1, {}},
    };
    for (const Case& c : cases) {
        char text[128] = {};
        std::strcpy(text, c.text);
        uint8_t out[PARAM_VALUE_SIZE] = {};
        ASSERT_EQ(param_parse_bytes(text, out), c.count) << c.text;
        EXPECT_EQ(Area(out, out + (c.count > 0 ? c.count : 0)), c.bytes) << c.text;
    }
}

TEST(ParamBytes, NeverWritesPastTheValueField) {
    std::string many;
    for (int i = 0; i < PARAM_VALUE_SIZE + 1; ++i)
        many += "AB ";
    std::vector<char> text(many.begin(), many.end());
    text.push_back('\0');
    Area out(PARAM_VALUE_SIZE + 8, 0);
    EXPECT_EQ(param_parse_bytes(text.data(), out.data()), -1);
    EXPECT_EQ(out[PARAM_VALUE_SIZE], 0);
    EXPECT_TRUE(param_is_hex(""));
    EXPECT_FALSE(param_is_hex("0x1"));
}

TEST(ParamEntries, EachLineIsKeptOrDroppedForItsReason) {
    struct Case {
        const char* name;
        const char* value;
        ParamDrop drop;
    } cases[] = {
        {"VID", "0x1234", ParamDrop::kKept},
        {"OBSOLETED", "1", ParamDrop::kObsolete},
        {"vid", "1", ParamDrop::kUnknownName},
        {"\xE9VID", "1", ParamDrop::kUnknownName},
        {"VID", "zz", ParamDrop::kBadValue},
        {"CUSTOMIZED_LED", "01 2 03", ParamDrop::kBadValue},
        {"U2PHY", "02 AA BB", ParamDrop::kKept},
        {"PRODUCT", "\"abc\" trailing", ParamDrop::kKept},
        {"PRODUCT", "\"\"", ParamDrop::kKept},
        {"PRODUCT", "\"abc", ParamDrop::kBadValue},
        {"SCSI_VENDOR", "abc", ParamDrop::kBadValue},
        {"SCSI_VENDOR", " \"abc\"", ParamDrop::kBadValue},
        {"RW_MODE", "on", ParamDrop::kKept},
    };
    for (const Case& c : cases) {
        ParameterLine line;
        std::strcpy(line.name, c.name);
        std::strcpy(line.value, c.value);
        ParameterEntry entry;
        entry.id = 77;
        EXPECT_EQ(param_parse_line(line, entry), c.drop) << c.name << " = " << c.value;
        if (c.drop != ParamDrop::kKept) {
            EXPECT_EQ(entry.id, 0) << c.name;
        }
    }
}

TEST(ParamEntries, StringsKeepTheQuotedTextAlone) {
    ParameterEntry entry = entry_of("PRODUCT", "\"a b\" and more");
    EXPECT_EQ(entry.id, 5);
    EXPECT_EQ(entry.length, 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(entry.value), "a b");
    EXPECT_EQ(entry_of("SERIAL", "\"\"").length, 0);
}

class ParamLoad : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(ParamLoad, FilesWithoutOneEntryAreRejected) {
    const char* texts[] = {
        "",
        "; only a comment\n;another\n",
        "FOO = 1\nvid = 2\nSCSI = \"x\"\n",
        "OBSOLETED = 1\n",
        "VID = Yes\nPRODUCT = \"a;b\"\n",
    };
    for (const char* text : texts) {
        int result = 0;
        EXPECT_TRUE(load_text(dir, text, &result).empty()) << text;
        EXPECT_EQ(result, -1) << text;
    }
    std::vector<ParameterEntry> entries;
    EXPECT_EQ(param_load_file(dir.file("missing.cfg").c_str(), entries), -1);
    EXPECT_EQ(param_load_file(nullptr, entries), -1);
}

TEST_F(ParamLoad, EntriesKeepFileOrderAndDuplicates) {
    auto entries = load_text(dir, "VID = 1\r\nbad line\r\nPID = 2\r\nVID = 3 ; again\r\nLED = 4");
    ASSERT_EQ(entries.size(), 4u);
    const int ids[] = {3, 4, 3, 9};
    const uint64_t values[] = {1, 2, 3, 4};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].id, ids[i]);
        EXPECT_EQ(load_le64(entries[i].value), values[i]);
    }
}

TEST_F(ParamLoad, AtMostTwoHundredEntries) {
    std::string text;
    for (int i = 0; i < 250; ++i)
        text += "VID = " + std::to_string(i) + "\n";
    auto entries = load_text(dir, text);
    ASSERT_EQ(entries.size(), 200u);
    EXPECT_EQ(load_le64(entries[199].value), 199u);
}

TEST_F(ParamLoad, PiecesOfLongLinesDoNotRaiseTheLineCount) {
    // Each line holds two accepted pieces; the limit is still the ten lines.
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += "VID = 1" + std::string(120, ' ') + "PID = 2\n";
    auto entries = load_text(dir, text);
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries[0].id, 3);
    EXPECT_EQ(entries[1].id, 4);
}

}  // namespace
}  // namespace vtx::test
