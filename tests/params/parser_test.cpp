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
    const std::string a121(121, 'a');
    struct Case {
        std::string text;
        Lines expected;
    } cases[] = {
        {"VID = 0x12 ; comment\n", {{"VID", "0x12 "}}},
        // Lines are read in pieces of 127 characters: a first piece without
        // "=" is dropped and the rest of the line is a line of its own; a
        // value is cut at the piece's end.
        {std::string(127, 'x') + "VID = 7\n", {{"VID", "7"}}},
        {"VID = " + a121 + "bcd\n", {{"VID", a121}}},
        {"VID = 1\r\nPID = 2\r\n", {{"VID", "1"}, {"PID", "2"}}},
        {"VID X = 5\n", {{"VID", "5"}}},
        {"==VID==5==6\n", {{"VID", "5"}}},
        {"VID = 1 = 2\n", {{"VID", "1 "}}},
        {"\tVID = 1\n", {{"\tVID", "1"}}},
        {"VID =   \t1 \t \n", {{"VID", "\t1 \t "}}},
        {"VID = 7", {{"VID", "7"}}},
        {"PRODUCT = \"a b\"  \n", {{"PRODUCT", "\"a b\"  "}}},
        {"PRODUCT = \"a;b\"\n", {{"PRODUCT", "\"a"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read_lines(c.text), c.expected) << c.text;
    // Comments, lines without a name or a value, names cut by ';' or CR.
    for (const char* text :
         {"; VID = 1\n", "\n\n   \n", "VID\n", "VID;X = 5\n", "VID\r = 5\n", "====", "====\n",
          "=1\n", "   = 1\n", "VID = ;x\n", "VID =    \n", "VID = \r\n"})
        EXPECT_TRUE(read_lines(text).empty()) << text;
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

// Numbers past 64 bits saturate rather than wrap.
TEST(ParamNumbers, WordsPrefixesAndDigits) {
    const struct {
        uint64_t value;
        std::vector<const char*> texts;
    } accepted[] = {
        {0, {"", "\t", "n", "no", "off", "false"}},
        {1, {"y", "yes", "on", "true", "y e s", "0x0001", "0x0000000000000000000000001"}},
        {7, {"007"}},
        {12, {"1 2"}},
        {18, {"0x12", "0 x 1\t2"}},
        {255, {"0xfF"}},
        {~uint64_t(0),
         {"18446744073709551615", "18446744073709551616", "99999999999999999999999999",
          "0xFFFFFFFFFFFFFFFF", "0x10000000000000000"}},
    };
    // Bytes above 127 are no digits in any locale: superscript two and nine,
    // and a letter with an accent, in Latin-1.
    const char* refused[] = {"Yes", "TRUE", "On",  "0x",    "0X1F", "-1",     "+1",
                             "1.5", "0x1g", "12a", "1\xB2", "\xB9", "0x1\xE9"};
    auto parse = [](const char* given, uint64_t* value) {
        char text[128] = {};
        std::strcpy(text, given);
        return param_parse_number(text, value);
    };
    for (const auto& group : accepted) {
        for (const char* text : group.texts) {
            uint64_t value = 99;
            EXPECT_TRUE(parse(text, &value)) << text;
            EXPECT_EQ(value, group.value) << text;
        }
    }
    for (const char* text : refused) {
        uint64_t value = 99;
        EXPECT_FALSE(parse(text, &value)) << text;
    }
}

TEST(ParamBytes, TwoHexDigitsPerPieceSplitAtSpacesOnly) {
    struct Case {
        const char* text;
        int count;
        Area bytes;
    } cases[] = {
        {"01 02 03", 3, {1, 2, 3}},
        {"  0a   FF  ", 2, {0x0A, 0xFF}},
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
    // A list of more bytes than the value field holds never writes past it.
    std::string many;
    for (int i = 0; i < PARAM_VALUE_SIZE + 1; ++i)
        many += "AB ";
    Area out(PARAM_VALUE_SIZE + 8, 0);
    EXPECT_EQ(param_parse_bytes(many.data(), out.data()), -1);
    EXPECT_EQ(out[PARAM_VALUE_SIZE], 0);
    EXPECT_TRUE(param_is_hex(""));
    EXPECT_FALSE(param_is_hex("0x1"));
}

TEST(ParamEntries, EachLineIsKeptOrDroppedForItsReason) {
    const struct {
        ParamDrop drop;
        Lines lines;
    } groups[] = {
        {ParamDrop::kKept,
         {{"VID", "0x1234"}, {"U2PHY", "02 AA BB"}, {"PRODUCT", "\"\""}, {"RW_MODE", "on"}}},
        {ParamDrop::kObsolete, {{"OBSOLETED", "1"}}},
        {ParamDrop::kUnknownName, {{"vid", "1"}, {"\xE9VID", "1"}}},
        {ParamDrop::kBadValue,
         {{"VID", "zz"},
          {"CUSTOMIZED_LED", "01 2 03"},
          {"PRODUCT", "\"abc"},
          {"SCSI_VENDOR", "abc"},
          {"SCSI_VENDOR", " \"abc\""}}},
    };
    for (const auto& group : groups) {
        for (const auto& [name, value] : group.lines) {
            ParameterLine line;
            name.copy(line.name, sizeof line.name - 1);
            value.copy(line.value, sizeof line.value - 1);
            ParameterEntry entry;
            entry.id = 77;
            EXPECT_EQ(param_parse_line(line, entry), group.drop) << name << " = " << value;
            if (group.drop != ParamDrop::kKept) {
                EXPECT_EQ(entry.id, 0) << name;
            }
        }
    }
    // A string keeps the quoted text alone.
    ParameterEntry entry = entry_of("PRODUCT", "\"a b\" and more");
    EXPECT_EQ(entry.id, 5);
    EXPECT_EQ(entry.length, 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(entry.value), "a b");
}

TEST(ParamLoad, EntriesKeepFileOrderAndDuplicates) {
    TempDir dir;
    auto entries = load_text(dir, "VID = 1\r\nbad line\r\nPID = 2\r\nVID = 3 ; again\r\nLED = 4");
    ASSERT_EQ(entries.size(), 4u);
    const int ids[] = {3, 4, 3, 9};
    const uint64_t values[] = {1, 2, 3, 4};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].id, ids[i]);
        EXPECT_EQ(load_le64(entries[i].value), values[i]);
    }
}

// The cap is on lines: 250 short lines give 200 entries, and ten lines of
// two accepted pieces each still count as ten.
TEST(ParamLoad, AtMostTwoHundredLinesAreReadAndPiecesDoNotCount) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 250; ++i)
        text += "VID = " + std::to_string(i) + "\n";
    auto entries = load_text(dir, text);
    ASSERT_EQ(entries.size(), 200u);
    EXPECT_EQ(load_le64(entries[199].value), 199u);

    text.clear();
    for (int i = 0; i < 10; ++i)
        text += "VID = 1" + std::string(120, ' ') + "PID = 2\n";
    entries = load_text(dir, text);
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries[0].id, 3);
    EXPECT_EQ(entries[1].id, 4);
}

}  // namespace
}  // namespace vtx::test
