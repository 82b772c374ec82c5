#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "params/decoder.h"
#include "params/encoder.h"
#include "tests/params/params_support.h"

namespace vtx::test {
namespace {

struct Decoded {
    int result = 99;
    std::vector<ParameterEntry> entries;
    uint32_t stop = 99;
};

// The first `size` bytes of `area` are decoded from a heap block that ends
// where they end, so a read past them is caught by a memory checker.
Decoded decode(const Area& area, size_t size = SIZE_MAX) {
    size = std::min(size, area.size());
    std::unique_ptr<uint8_t[]> block(new uint8_t[size == 0 ? 1 : size]);
    std::copy_n(area.begin(), size, block.get());
    Decoded decoded;
    decoded.result = param_decode_area(block.get(), uint32_t(size), decoded.entries, &decoded.stop);
    return decoded;
}

TEST(ParamDecoding, EveryKindOfValueComesBackAsTheFileWritesItAndLoadsToTheSameArea) {
    TempDir dir;
    auto entries = load_text(dir,
                             "VID = 0x1234\n"
                             "MFI_SUPPORT = yes\n"
                             "RW_MODE = 1\n"
                             "CUSTOMIZED_FEATURE = 18446744073709551615\n"
                             "PRODUCT = \"a b\"\n"
                             "SERIAL = \"_-./,:!#()\t\x80\xFF\"\n"
                             "MANUFACTURE = \"\"\n"
                             "SCSI_VENDOR = \"AB\"\n"
                             "CUSTOMIZED_LED = 11 22 33\n"
                             "U2PHY = 02 AA BB\n");
    Area area = encode(entries);
    Decoded decoded = decode(area);
    ASSERT_EQ(decoded.result, 0);
    EXPECT_EQ(decoded.stop, param_encoded_size(entries.data(), int(entries.size())));
    std::string text = param_format_entries(decoded.entries);
    EXPECT_EQ(text,
              "VID = 0x1234\n"
              "MFI_SUPPORT = 0x01\n"
              "RW_MODE = 0x00000001\n"
              "CUSTOMIZED_FEATURE = 0xFFFFFFFFFFFFFFFF\n"
              "PRODUCT = \"a b\"\n"
              "SERIAL = \"_-./,:!#()\t\x80\xFF\"\n"
              "MANUFACTURE = \"\"\n"
              "SCSI_VENDOR = \"AB\"\n"
              "CUSTOMIZED_LED = 11 22 33 00 00 00 00 00 00 00 00 00 00 00 00\n"
              "U2PHY = 02 AA BB\n");
    EXPECT_EQ(encode(load_text(dir, text)), area);
}

// 0 at the end of the list; -1 at a record the encoder never writes or the
// file syntax cannot carry, with the entries before it and its offset.
TEST(ParamDecoding, StopsAtTheEndOfTheListOrAtARecordItCannotWriteBack) {
    auto usb = [](Area tail) {
        Area area{9, 1, 5};
        for (uint8_t b : tail)
            area.push_back(b);
        return area;
    };
    // "U2PHY = " and 40 pieces make exactly 127 characters, one piece; 41
    // pieces do not fit.
    Area var40{1, 39};
    var40.resize(41, 0x5C);
    Area var41{9, 1, 1, 40};
    var41.resize(var41.size() + 40, 0x11);
    Area many(202 * 3, 0);
    for (size_t i = 0; i < many.size(); i += 3)
        many[i] = 3;

    struct Case {
        const char* name;
        Area area;
        int result;
        size_t entries;
        uint32_t stop;
    } cases[] = {
        {"erased flash", Area(PARAMETER_AREA_SIZE, 0xFF), 0, 0, 0},
        {"zeros", Area(PARAMETER_AREA_SIZE, 0), 0, 0, 0},
        {"obsolete id 16", {3, 1, 0, 16, 3, 2, 0}, 0, 1, 3},
        {"obsolete id 17", {3, 1, 0, 17}, 0, 1, 3},
        {"id beyond the table", {9, 1, 57, 9, 1}, 0, 1, 2},
        {"records to the last byte", {3, 1, 0, 9, 1}, 0, 2, 5},
        {"the longest byte list line", var40, 0, 1, 41},
        {"empty area", {}, 0, 0, 0},
        {"number cut by the area's end", {9, 1, 3, 0x34}, -1, 1, 2},
        {"fixed list cut", {25, 1, 2, 3}, -1, 0, 0},
        {"count byte missing", {9, 1, 1}, -1, 1, 2},
        {"count runs past the area", {9, 1, 1, 5, 0xAA}, -1, 1, 2},
        {"byte list too long for one line", var41, -1, 1, 2},
        {"usb length odd", usb({5, 3, 'a', 0, 0}), -1, 1, 2},
        {"usb length below 2", usb({0, 3}), -1, 1, 2},
        {"usb length beyond 64", usb({66, 3}), -1, 1, 2},
        {"usb type byte not 3", usb({4, 4, 'a', 0}), -1, 1, 2},
        {"usb high byte set", usb({4, 3, 'a', 1}), -1, 1, 2},
        {"usb character 0", usb({4, 3, 0, 0}), -1, 1, 2},
        {"usb quote", usb({4, 3, '"', 0}), -1, 1, 2},
        {"usb carriage return", usb({4, 3, '\r', 0}), -1, 1, 2},
        {"usb end of text file", usb({4, 3, 0x1A, 0}), -1, 1, 2},
        {"usb runs past the area", usb({8, 3, 'a', 0}), -1, 1, 2},
        {"scsi semicolon", {12, 'a', ';', ' ', ' ', ' ', ' ', ' ', ' '}, -1, 0, 0},
        {"scsi equals", {12, '=', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, -1, 0, 0},
        {"scsi line end", {12, 'a', '\n', ' ', ' ', ' ', ' ', ' ', ' '}, -1, 0, 0},
        {"scsi zero byte", {12, 'a', 0, 0, 0, 0, 0, 0, 0}, -1, 0, 0},
        {"scsi cut", {12, 'a', 'b'}, -1, 0, 0},
        {"sized number size byte wrong", {54, 1, 1, 0, 0, 0}, -1, 0, 0},
        {"sized number cut", {56, 1}, -1, 0, 0},
        {"more than a file's 200 lines", many, -1, 200, 600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded decoded = decode(c.area);
        EXPECT_EQ(decoded.result, c.result);
        EXPECT_EQ(decoded.entries.size(), c.entries);
        EXPECT_EQ(decoded.stop, c.stop);
    }
}

TEST(ParamDecoding, FormatRefusesWhatTheFileCannotCarry) {
    ParameterEntry quote = entry_of("PRODUCT", "\"ab\"");
    quote.value[1] = '"';
    ParameterEntry obsolete;
    obsolete.id = 16;
    ParameterEntry empty_list;
    empty_list.id = 25;
    std::string line = "x";
    for (const ParameterEntry& entry : {quote, obsolete, empty_list}) {
        EXPECT_EQ(param_format_entry(entry, line), -1);
        EXPECT_EQ(line, "");
    }
    EXPECT_EQ(param_format_entries({quote, entry_of("LED", "1")}), "LED = 0x01\n");
}

TEST(ParamDecoding, TruncatedAreasNeverReadPastTheirEnd) {
    TempDir dir;
    auto entries = load_text(dir,
                             "VID = 1\nPRODUCT = \"abc\"\nSCSI_PRODUCT = \"x\"\n"
                             "U3PHY = 03 01 02 03\nCDROM_CFG = 01\nFORCE_SATA_QUIRK = 7\n");
    Area area = encode(entries);
    std::vector<uint32_t> boundaries = {0};
    for (const ParameterEntry& entry : entries)
        boundaries.push_back(boundaries.back() + param_encoded_size(&entry, 1));
    for (uint32_t size = 0; size <= boundaries.back(); ++size) {
        Decoded decoded = decode(area, size);
        bool boundary = std::find(boundaries.begin(), boundaries.end(), size) != boundaries.end();
        EXPECT_EQ(decoded.result, boundary ? 0 : -1) << size;
        EXPECT_LE(decoded.stop, size);
    }
}

TEST(ParamDecoding, RandomBytesGiveAClearResultAndWhatDecodesRoundTrips) {
    // Raw mt19937 output is the same with every standard library.
    std::mt19937 random(7);
    TempDir dir;
    int decoded_some = 0;
    for (int round = 0; round < 5000; ++round) {
        Area bytes(random() % 300);
        // Mostly valid ids, so records get decoded deep into the area.
        for (uint8_t& b : bytes)
            b = uint8_t(random() % 4 ? random() % 57 : random() % 256);
        Decoded decoded = decode(bytes);
        ASSERT_TRUE(decoded.result == 0 || decoded.result == -1);
        ASSERT_LE(decoded.stop, bytes.size());
        if (decoded.entries.empty())
            continue;
        // What was decoded, up to where it stopped, comes back byte for byte.
        // Files are slow to write, so only the first hundred go through one.
        if (++decoded_some > 100)
            continue;
        Area again = encode(load_text(dir, param_format_entries(decoded.entries)));
        ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + decoded.stop, again.begin()))
            << round;
    }
    EXPECT_GT(decoded_some, 1000);
}

}  // namespace
}  // namespace vtx::test
