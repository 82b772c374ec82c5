#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "params/encoder.h"
#include "tests/params/params_support.h"

namespace vtx::test {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

std::vector<ParameterEntry> entries_of(const Lines& lines) {
    std::vector<ParameterEntry> entries;
    for (const auto& [name, value] : lines)
        entries.push_back(entry_of(name, value));
    return entries;
}

// `head` followed by the USB descriptor of `text`: length, 3, each character
// and a 0.
Area usb(Area head, const std::string& text) {
    head.insert(head.end(), {uint8_t(2 + 2 * text.size()), 3});
    for (char c : text)
        head.insert(head.end(), {uint8_t(c), 0});
    return head;
}

TEST(ParamEncoding, EveryRecordLayout) {
    const std::string forty(40, 'p');
    Area fixed_cut{42};
    fixed_cut.resize(16, 0xEE);
    fixed_cut.insert(fixed_cut.end(), {9, 1});
    Area fixed_padded{25, 0x11, 0x22, 0x33};
    fixed_padded.resize(16, 0);
    const struct {
        const char* name;
        Lines lines;
        Area expected;  // the area's first bytes; every byte after them is 0
    } cases[] = {
        {"number", {{"VID", "0x1234"}}, {3, 0x34, 0x12}},
        {"number loses high bytes", {{"LED", "300"}}, {9, 44}},
        {"eight-byte number",
         {{"CUSTOMIZED_FEATURE", "0x0102030405060708"}},
         {51, 8, 7, 6, 5, 4, 3, 2, 1}},
        {"usb string", {{"PRODUCT", "\"abc\""}}, {5, 8, 3, 0x61, 0, 0x62, 0, 0x63, 0}},
        {"usb string cut at 31", {{"PRODUCT", "\"" + forty + "\""}}, usb({5}, forty.substr(0, 31))},
        {"usb string cut at 15",
         {{"MANUFACTURE", "\"" + forty + "\""}},
         usb({6}, forty.substr(0, 15))},
        {"empty usb string", {{"PRODUCT", "\"\""}}, {5, 2, 3}},
        {"usb string byte above 127", {{"SERIAL", "\"\xE9\""}}, {7, 4, 3, 0xE9, 0}},
        {"scsi string padded",
         {{"SCSI_VENDOR", "\"AB\""}},
         {12, 'A', 'B', ' ', ' ', ' ', ' ', ' ', ' '}},
        {"scsi string cut",
         {{"SCSI_VENDOR", "\"ABCDEFGHIJ\""}},
         {12, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}},
        {"sized number", {{"RW_MODE", "1"}}, {54, 4, 1, 0, 0, 0}},
        {"sized boolean", {{"MFI_SUPPORT", "yes"}}, {56, 1, 1}},
        {"fixed list padded", {{"CUSTOMIZED_LED", "11 22 33"}}, fixed_padded},
        {"fixed list cut, next record right after",
         {{"CDROM_CFG", "EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE"},
          {"LED", "1"}},
         fixed_cut},
        {"variable list", {{"U2PHY", "02 AA BB"}}, {1, 2, 0xAA, 0xBB}},
        {"duplicates in file order", {{"VID", "1"}, {"VID", "2"}}, {3, 1, 0, 3, 2, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ParameterEntry> entries = entries_of(c.lines);
        int result = 1;
        Area area = encode(entries, &result);
        EXPECT_EQ(result, 0);
        Area expected = c.expected;
        expected.resize(PARAMETER_AREA_SIZE, 0);
        EXPECT_EQ(area, expected) << hex(area.data(), c.expected.size() + 2);
        EXPECT_EQ(param_encoded_size(entries.data(), int(entries.size())), c.expected.size());
    }
}

TEST(ParamEncoding, UsbStringClearsItsWholeSizeFirst) {
    Area destination(64, 0xCC);
    EXPECT_EQ(param_make_usb_string("ab", destination.data(), 62), 6);
    Area expected = usb({}, "ab");
    expected.resize(62, 0);
    expected.resize(64, 0xCC);
    EXPECT_EQ(destination, expected);
    EXPECT_EQ(param_make_usb_string(std::string(40, 'x').c_str(), destination.data(), 62), 64);
}

TEST(ParamEncoding, UnusableIdsAreNotEncoded) {
    std::vector<ParameterEntry> entries(4);
    entries[0].id = 0;
    entries[1].id = 16;
    entries[2].id = 57;
    entries[3].id = 255;
    entries.push_back(entry_of("VID", "1"));
    Area expected{3, 1, 0};
    expected.resize(PARAMETER_AREA_SIZE, 0);
    EXPECT_EQ(encode(entries), expected);
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
        return std::all_of(buffer.begin() + PARAMETER_AREA_SIZE, buffer.end(),
                           [](uint8_t b) { return b == 0xA5; });
    }
};

std::vector<ParameterEntry> long_products(int count) {
    return std::vector<ParameterEntry>(size_t(count),
                                       entry_of("PRODUCT", "\"" + std::string(31, 'q') + "\""));
}

TEST(ParamEncoding, TheEncoderNeverWritesPastTheAreaAndLeavesItsClosingZero) {
    // 31 products of 65 bytes take 2015; records may take 2047 bytes, so that
    // the 0 after the last one is still inside the area.
    const struct {
        const char* name;
        Lines tail;
        uint32_t size;
        int result;
    } cases[] = {
        {"one byte left for the closing 0",
         {{"SCSI_PRODUCT", "\"a\""}, {"SCSI_VENDOR", "\"v\""}, {"VID", "1"}, {"PID", "2"}},
         2047,
         0},
        {"exactly full, no room for the closing 0",
         {{"MANUFACTURE", "\"" + std::string(20, 'm') + "\""}},
         2048,
         -1},
        {"one byte over", {{"SCSI_PRODUCT", "\"a\""}, {"SCSI_PRODUCT", "\"b\""}}, 2049, -1},
        {"empty product in the last three bytes before the 0",
         {{"CDROM_CFG", "01"},
          {"PINMUX1", "1"},
          {"PINMUX2", "1"},
          {"LED", "1"},
          {"PRODUCT", "\"\""}},
         2046,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto entries = long_products(31);
        for (const ParameterEntry& entry : entries_of(c.tail))
            entries.push_back(entry);
        EXPECT_EQ(param_encoded_size(entries.data(), int(entries.size())), c.size);
        Guarded area;
        EXPECT_EQ(area.pack(entries), c.result);
        EXPECT_TRUE(area.tail_intact());
        if (c.result == 0) {
            EXPECT_EQ(area.buffer[c.size], 0) << "the byte after the last record";
        }
        if (c.tail.back().first == "PRODUCT") {
            EXPECT_EQ(Area(area.buffer.begin() + 2043, area.buffer.begin() + 2046),
                      Area({5, 2, 3}));
        }
    }
    // An overlong list keeps 31 whole records, then nothing of the 32nd.
    Guarded area;
    EXPECT_EQ(area.pack(long_products(200)), -1);
    EXPECT_TRUE(area.tail_intact());
    EXPECT_EQ(area.buffer[30 * 65], 5);
    EXPECT_TRUE(std::all_of(area.buffer.begin() + 31 * 65,
                            area.buffer.begin() + PARAMETER_AREA_SIZE,
                            [](uint8_t b) { return b == 0; }));
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
