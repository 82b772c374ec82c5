#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/encoder.h"
#include "params/table.h"
#include "tests/params/params_support.h"

namespace vtx::test {
namespace {

struct EncodingCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> lines;
    Area expected;  // the area's first bytes; every byte after them is 0
};

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// The USB descriptor of `text`: length, 3, each character and a 0.
Area usb(const std::string& text) {
    Area bytes = {uint8_t(2 + 2 * text.size()), 3};
    for (char c : text) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(0);
    }
    return bytes;
}

Area join(std::initializer_list<Area> parts) {
    Area out;
    for (const Area& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(ParamEncoding, EveryRecordLayout) {
    const std::string forty(40, 'p');
    const EncodingCase cases[] = {
        {"number", {{"VID", "0x1234"}}, bytes_of({3, 0x34, 0x12})},
        {"number loses high bytes", {{"LED", "300"}}, bytes_of({9, 44})},
        {"eight-byte number",
         {{"CUSTOMIZED_FEATURE", "0x0102030405060708"}},
         bytes_of({51, 8, 7, 6, 5, 4, 3, 2, 1})},
        {"usb string", {{"PRODUCT", "\"abc\""}}, bytes_of({5, 8, 3, 0x61, 0, 0x62, 0, 0x63, 0})},
        {"usb string cut at 31",
         {{"PRODUCT", "\"" + forty + "\""}},
         join({bytes_of({5}), usb(forty.substr(0, 31))})},
        {"usb string cut at 15",
         {{"MANUFACTURE", "\"" + forty + "\""}},
         join({bytes_of({6}), usb(forty.substr(0, 15))})},
        {"empty usb string", {{"PRODUCT", "\"\""}}, bytes_of({5, 2, 3})},
        {"usb string byte above 127", {{"SERIAL", "\"\xE9\""}}, bytes_of({7, 4, 3, 0xE9, 0})},
        {"scsi string padded",
         {{"SCSI_VENDOR", "\"AB\""}},
         bytes_of({12, 'A', 'B', ' ', ' ', ' ', ' ', ' ', ' '})},
        {"scsi string cut",
         {{"SCSI_VENDOR", "\"ABCDEFGHIJ\""}},
         bytes_of({12, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'})},
        {"sized number", {{"RW_MODE", "1"}}, bytes_of({54, 4, 1, 0, 0, 0})},
        {"sized boolean", {{"MFI_SUPPORT", "yes"}}, bytes_of({56, 1, 1})},
        {"fixed list padded",
         {{"CUSTOMIZED_LED", "11 22 33"}},
         join({bytes_of({25, 0x11, 0x22, 0x33}), Area(12, 0)})},
        {"fixed list cut, next record right after",
         {{"CDROM_CFG", repeat("EE ", 20)}, {"LED", "1"}},
         join({bytes_of({42}), Area(15, 0xEE), bytes_of({9, 1})})},
        {"variable list", {{"U2PHY", "02 AA BB"}}, bytes_of({1, 2, 0xAA, 0xBB})},
        {"duplicates in file order", {{"VID", "1"}, {"VID", "2"}}, bytes_of({3, 1, 0, 3, 2, 0})},
    };
    for (const EncodingCase& c : cases) {
        std::vector<ParameterEntry> entries;
        for (const auto& [name, value] : c.lines)
            entries.push_back(entry_of(name, value));
        int result = 1;
        Area area = encode(entries, &result);
        EXPECT_EQ(result, 0) << c.name;
        Area expected = c.expected;
        expected.resize(PARAMETER_AREA_SIZE, 0);
        EXPECT_EQ(area, expected) << c.name << ": " << hex(area.data(), c.expected.size() + 2);
        EXPECT_EQ(param_encoded_size(entries.data(), int(entries.size())), c.expected.size())
            << c.name;
    }
}

TEST(ParamEncoding, UsbStringClearsItsWholeSizeFirst) {
    Area destination(64, 0xCC);
    EXPECT_EQ(param_make_usb_string("ab", destination.data(), 62), 6);
    Area expected = join({usb("ab"), Area(56, 0), Area(2, 0xCC)});
    EXPECT_EQ(destination, expected);
    EXPECT_EQ(param_make_usb_string(repeat("x", 40).c_str(), destination.data(), 62), 64);
}

TEST(ParamEncoding, EachParameterOnceWithItsLongestValueNeeds446Bytes) {
    std::vector<ParameterEntry> entries;
    for (const ParameterDef& def : ParameterTable) {
        if (!param_type_usable(def.type))
            continue;
        ParameterEntry entry;
        entry.id = def.id;
        entry.type = def.type;
        // 42 pieces is the most a 127-character value holds; a string's
        // text is cut to the field.
        entry.length = def.type == PARAM_BYTES_VAR ? 42 : 40;
        for (int i = 0; i < 40; ++i)
            entry.value[i] = 'x';
        entries.push_back(entry);
    }
    EXPECT_EQ(param_encoded_size(entries.data(), int(entries.size())), 446u);
}

TEST(ParamEncoding, UnusableIdsAreNotEncoded) {
    std::vector<ParameterEntry> entries(4);
    entries[0].id = 0;
    entries[1].id = 16;
    entries[2].id = 57;
    entries[3].id = 255;
    entries.push_back(entry_of("VID", "1"));
    EXPECT_EQ(encode(entries), join({bytes_of({3, 1, 0}), Area(2045, 0)}));
    EXPECT_EQ(param_encoded_size(entries.data(), int(entries.size())), 3u);
}

// The area sits at the start of a larger buffer whose tail must stay as it
// was, whatever the entries ask for.
struct Guarded {
    Area buffer = Area(PARAMETER_AREA_SIZE + 512, 0xA5);
    Guarded() { std::fill(buffer.begin(), buffer.begin() + PARAMETER_AREA_SIZE, 0); }
    int pack(const std::vector<ParameterEntry>& entries) {
        return param_pack_area(entries.data(), int(entries.size()), buffer.data());
    }
    bool tail_intact() const {
        for (size_t i = PARAMETER_AREA_SIZE; i < buffer.size(); ++i) {
            if (buffer[i] != 0xA5)
                return false;
        }
        return true;
    }
};

std::vector<ParameterEntry> long_products(int count) {
    return std::vector<ParameterEntry>(size_t(count),
                                       entry_of("PRODUCT", "\"" + std::string(31, 'q') + "\""));
}

TEST(ParamEncoding, TheEncoderNeverWritesPastTheArea) {
    // 31 products of 65 bytes take 2015; 2048 bytes fit exactly, one more
    // byte does not.
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> tail;
        uint32_t size;
        int result;
    } cases[] = {
        {"exactly full", {{"MANUFACTURE", "\"" + std::string(20, 'm') + "\""}}, 2048, 0},
        {"one byte over", {{"SCSI_PRODUCT", "\"a\""}, {"SCSI_PRODUCT", "\"b\""}}, 2049, -1},
        {"empty product in the last three bytes",
         {{"CDROM_CFG", "01"},
          {"PINMUX1", "1"},
          {"PINMUX2", "1"},
          {"LED", "1"},
          {"LED", "1"},
          {"PRODUCT", "\"\""}},
         2048,
         0},
    };
    for (const auto& c : cases) {
        auto entries = long_products(31);
        for (const auto& [name, value] : c.tail)
            entries.push_back(entry_of(name, value));
        EXPECT_EQ(param_encoded_size(entries.data(), int(entries.size())), c.size) << c.name;
        Guarded area;
        EXPECT_EQ(area.pack(entries), c.result) << c.name;
        EXPECT_TRUE(area.tail_intact()) << c.name;
        if (c.tail.back().first == "PRODUCT") {
            Area end(area.buffer.begin() + 2045, area.buffer.begin() + 2048);
            EXPECT_EQ(end, bytes_of({5, 2, 3}));
        }
    }
}

TEST(ParamEncoding, AnOverlongListKeepsWholeRecordsOnly) {
    Guarded area;
    EXPECT_EQ(area.pack(long_products(200)), -1);
    EXPECT_TRUE(area.tail_intact());
    // 31 whole records, then nothing of the 32nd.
    EXPECT_EQ(area.buffer[30 * 65], 5);
    for (size_t i = 31 * 65; i < PARAMETER_AREA_SIZE; ++i)
        ASSERT_EQ(area.buffer[i], 0) << i;
}

TEST(ParamEncoding, ByteListLengthsBeyondTheValueFieldAreCut) {
    ParameterEntry entry;
    entry.id = 1;  // U2PHY
    entry.length = 200;
    EXPECT_EQ(param_encoded_size(&entry, 1), 1u + PARAM_VALUE_SIZE);
    Guarded area;
    EXPECT_EQ(area.pack({entry}), 0);
    EXPECT_TRUE(area.tail_intact());
}

}  // namespace
}  // namespace vtx::test
