#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "params/decoder.h"
#include "params/encoder.h"
#include "params/table.h"
#include "tests/params/params_support.h"

namespace vtx::test {
namespace {

// Raw mt19937 output is the same with every standard library, so the files
// are the same on every platform.
class Random {
  public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    uint32_t below(uint32_t n) { return engine_() % n; }
    uint64_t wide() { return (uint64_t(engine_()) << 32) | engine_(); }

  private:
    std::mt19937 engine_;
};

std::string hex_byte(uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    return {digits[(value >> 4) & 15], digits[value & 15]};
}

// A character a quoted text in a file can hold.
char text_character(Random& random) {
    static const std::string plain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-./,:!#()\t";
    if (random.below(10) == 0)
        return char(0x80 + random.below(0x80));
    return plain[random.below(uint32_t(plain.size()))];
}

std::string random_value(const ParameterDef& def, Random& random) {
    switch (def.type) {
        case PARAM_NUMBER:
        case PARAM_SIZED_NUMBER: {
            static const char* const words[] = {"yes", "no", "on", "off", "y", "n"};
            uint64_t number = random.wide() >> random.below(64);
            switch (random.below(3)) {
                case 0:
                    return words[random.below(6)];
                case 1:
                    return std::to_string(number);
                default: {
                    std::string text = "0x";
                    for (int shift = 60; shift >= 0; shift -= 4) {
                        text += hex_byte(uint32_t(number >> shift) & 15).substr(1);
                    }
                    return text;
                }
            }
        }
        case PARAM_BYTES_FIXED:
        case PARAM_BYTES_VAR: {
            // A variable list starts with the count of the bytes after it.
            uint32_t count = 1 + random.below(def.type == PARAM_BYTES_VAR ? 40 : 20);
            std::string text = def.type == PARAM_BYTES_VAR ? hex_byte(count - 1) : "";
            for (uint32_t i = text.empty() ? 0 : 1; i < count; ++i) {
                if (!text.empty())
                    text += ' ';
                text += hex_byte(random.below(256));
            }
            return text;
        }
        default: {
            std::string text = "\"";
            for (uint32_t n = random.below(40); n > 0; --n)
                text += text_character(random);
            return text + "\"";
        }
    }
}

const ParameterDef& random_parameter(Random& random) {
    for (;;) {
        const ParameterDef& def = ParameterTable[random.below(PARAMETER_COUNT)];
        if (param_type_usable(def.type))
            return def;
    }
}

// A valid parameter file of up to 60 lines whose records fit the area, with
// comments and blank lines among them.
std::string random_file(Random& random) {
    std::string text;
    uint32_t size = 0;
    for (uint32_t lines = 1 + random.below(60); lines > 0; --lines) {
        if (random.below(8) == 0)
            text += random.below(2) ? "; a comment\n" : "\n";
        const ParameterDef& def = random_parameter(random);
        std::string line = std::string(def.name) + " = " + random_value(def, random);
        ParameterLine parsed;
        std::strcpy(parsed.name, def.name);
        std::strcpy(parsed.value, line.substr(line.find('=') + 2).c_str());
        ParameterEntry entry;
        EXPECT_EQ(param_parse_line(parsed, entry), ParamDrop::kKept) << line;
        uint32_t record = param_encoded_size(&entry, 1);
        if (size + record > PARAMETER_AREA_SIZE)
            break;
        size += record;
        text += line + (random.below(4) == 0 ? " ; set\r\n" : "\n");
    }
    return text;
}

TEST(ParamDecoding, RandomFilesRoundTripToTheSameArea) {
    Random random(20240611);
    TempDir dir;
    for (int round = 0; round < 100; ++round) {
        std::string original = random_file(random);
        auto entries = load_text(dir, original);
        ASSERT_FALSE(entries.empty()) << original;
        Area area = encode(entries);

        std::vector<ParameterEntry> decoded;
        uint32_t stop = 0;
        ASSERT_EQ(param_decode_area(area.data(), PARAMETER_AREA_SIZE, decoded, &stop), 0)
            << original;
        EXPECT_EQ(stop, param_encoded_size(entries.data(), int(entries.size())));
        EXPECT_EQ(decoded.size(), entries.size());

        std::string text = param_format_entries(decoded);
        EXPECT_EQ(encode(load_text(dir, text)), area) << original << "----\n" << text;
    }
}

TEST(ParamDecoding, TextShowsEachValueAsTheFileWritesIt) {
    TempDir dir;
    auto entries = load_text(dir,
                             "VID = 0x1234\n"
                             "MFI_SUPPORT = yes\n"
                             "RW_MODE = 1\n"
                             "PRODUCT = \"a b\"\n"
                             "SCSI_VENDOR = \"AB\"\n"
                             "CUSTOMIZED_LED = 11 22 33\n"
                             "U2PHY = 02 AA BB\n");
    Area area = encode(entries);
    std::vector<ParameterEntry> decoded;
    uint32_t stop = 0;
    ASSERT_EQ(param_decode_area(area.data(), PARAMETER_AREA_SIZE, decoded, &stop), 0);
    EXPECT_EQ(param_format_entries(decoded),
              "VID = 0x1234\n"
              "MFI_SUPPORT = 0x01\n"
              "RW_MODE = 0x00000001\n"
              "PRODUCT = \"a b\"\n"
              "SCSI_VENDOR = \"AB\"\n"
              "CUSTOMIZED_LED = 11 22 33 00 00 00 00 00 00 00 00 00 00 00 00\n"
              "U2PHY = 02 AA BB\n");
}

TEST(ParamDecoding, EndMarkersEndTheListCleanly) {
    struct Case {
        const char* name;
        Area area;
        size_t entries;
        uint32_t stop;
    } cases[] = {
        {"erased flash", Area(PARAMETER_AREA_SIZE, 0xFF), 0, 0},
        {"zeros", Area(PARAMETER_AREA_SIZE, 0), 0, 0},
        {"obsolete id 16", bytes_of({3, 1, 0, 16, 3, 2, 0}), 1, 3},
        {"obsolete id 17", bytes_of({3, 1, 0, 17}), 1, 3},
        {"id beyond the table", bytes_of({9, 1, 57, 9, 1}), 1, 2},
        {"records to the last byte", bytes_of({3, 1, 0, 9, 1}), 2, 5},
        {"empty area", Area(), 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<ParameterEntry> decoded;
        uint32_t stop = 99;
        EXPECT_EQ(param_decode_area(c.area.data(), uint32_t(c.area.size()), decoded, &stop), 0)
            << c.name;
        EXPECT_EQ(decoded.size(), c.entries) << c.name;
        EXPECT_EQ(stop, c.stop) << c.name;
    }
}

// Records the encoder never writes, or that the file syntax cannot carry.
TEST(ParamDecoding, UndecodableRecordsStopWithTheirOffset) {
    auto usb = [](std::initializer_list<int> bytes) {
        Area area = bytes_of({9, 1, 5});
        for (int b : bytes)
            area.push_back(uint8_t(b));
        return area;
    };
    Area var41 = bytes_of({9, 1, 1, 40});
    var41.resize(var41.size() + 40, 0x11);
    Area many(202 * 3, 0);
    for (size_t i = 0; i < many.size(); i += 3)
        many[i] = 3;

    struct Case {
        const char* name;
        Area area;
        size_t entries;
        uint32_t stop;
    } cases[] = {
        {"number cut by the area's end", bytes_of({9, 1, 3, 0x34}), 1, 2},
        {"fixed list cut", bytes_of({25, 1, 2, 3}), 0, 0},
        {"count byte missing", bytes_of({9, 1, 1}), 1, 2},
        {"count runs past the area", bytes_of({9, 1, 1, 5, 0xAA}), 1, 2},
        {"byte list too long for one line", var41, 1, 2},
        {"usb length odd", usb({5, 3, 'a', 0, 0}), 1, 2},
        {"usb length below 2", usb({0, 3}), 1, 2},
        {"usb length beyond 64", usb({66, 3}), 1, 2},
        {"usb type byte not 3", usb({4, 4, 'a', 0}), 1, 2},
        {"usb high byte set", usb({4, 3, 'a', 1}), 1, 2},
        {"usb character 0", usb({4, 3, 0, 0}), 1, 2},
        {"usb quote", usb({4, 3, '"', 0}), 1, 2},
        {"usb runs past the area", usb({8, 3, 'a', 0}), 1, 2},
        {"scsi semicolon", bytes_of({12, 'a', ';', ' ', ' ', ' ', ' ', ' ', ' '}), 0, 0},
        {"scsi equals", bytes_of({12, '=', ' ', ' ', ' ', ' ', ' ', ' ', ' '}), 0, 0},
        {"scsi line end", bytes_of({12, 'a', '\n', ' ', ' ', ' ', ' ', ' ', ' '}), 0, 0},
        {"scsi zero byte", bytes_of({12, 'a', 0, 0, 0, 0, 0, 0, 0}), 0, 0},
        {"scsi cut", bytes_of({12, 'a', 'b'}), 0, 0},
        {"sized number size byte wrong", bytes_of({54, 1, 1, 0, 0, 0}), 0, 0},
        {"sized number cut", bytes_of({56, 1}), 0, 0},
        {"more than a file's 200 lines", many, 200, 600},
    };
    for (const Case& c : cases) {
        std::vector<ParameterEntry> decoded;
        uint32_t stop = 99;
        EXPECT_EQ(param_decode_area(c.area.data(), uint32_t(c.area.size()), decoded, &stop), -1)
            << c.name;
        EXPECT_EQ(decoded.size(), c.entries) << c.name;
        EXPECT_EQ(stop, c.stop) << c.name;
    }
}

TEST(ParamDecoding, TheLongestByteListLineStillFitsOnePiece) {
    // "U2PHY = " and 40 pieces make exactly 127 characters.
    Area area = bytes_of({1, 39});
    area.resize(41, 0x5C);
    area.resize(PARAMETER_AREA_SIZE, 0);
    std::vector<ParameterEntry> decoded;
    uint32_t stop = 0;
    ASSERT_EQ(param_decode_area(area.data(), PARAMETER_AREA_SIZE, decoded, &stop), 0);
    std::string text = param_format_entries(decoded);
    EXPECT_EQ(text.size(), 128u);
    TempDir dir;
    EXPECT_EQ(encode(load_text(dir, text)), area);
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

// Every decode below reads an area that ends where its heap block ends, so a
// read past it is caught by a memory checker.
int decode_exact(const uint8_t* bytes, uint32_t size, std::vector<ParameterEntry>& decoded,
                 uint32_t* stop) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[size == 0 ? 1 : size]);
    std::memcpy(block.get(), bytes, size);
    return param_decode_area(block.get(), size, decoded, stop);
}

TEST(ParamDecoding, TruncatedAreasNeverReadPastTheirEnd) {
    TempDir dir;
    auto entries = load_text(dir,
                             "VID = 1\nPRODUCT = \"abc\"\nSCSI_PRODUCT = \"x\"\n"
                             "U3PHY = 03 01 02 03\nCDROM_CFG = 01\nFORCE_SATA_QUIRK = 7\n");
    Area area = encode(entries);
    uint32_t full = param_encoded_size(entries.data(), int(entries.size()));
    std::vector<uint32_t> boundaries = {0};
    for (const ParameterEntry& entry : entries) {
        boundaries.push_back(boundaries.back() + param_encoded_size(&entry, 1));
    }
    for (uint32_t size = 0; size <= full; ++size) {
        std::vector<ParameterEntry> decoded;
        uint32_t stop = 0;
        int result = decode_exact(area.data(), size, decoded, &stop);
        bool boundary = std::find(boundaries.begin(), boundaries.end(), size) != boundaries.end();
        EXPECT_EQ(result, boundary ? 0 : -1) << size;
        EXPECT_LE(stop, size);
    }
}

TEST(ParamDecoding, RandomBytesGiveAClearResultAndWhatDecodesRoundTrips) {
    Random random(7);
    TempDir dir;
    int decoded_some = 0;
    for (int round = 0; round < 5000; ++round) {
        Area bytes(random.below(300));
        // Mostly valid ids, so records get decoded deep into the area.
        for (uint8_t& b : bytes)
            b = uint8_t(random.below(4) ? random.below(57) : random.below(256));
        std::vector<ParameterEntry> decoded;
        uint32_t stop = 0;
        int result = decode_exact(bytes.data(), uint32_t(bytes.size()), decoded, &stop);
        ASSERT_TRUE(result == 0 || result == -1);
        ASSERT_LE(stop, bytes.size());
        if (decoded.empty())
            continue;
        // What was decoded, up to where it stopped, comes back byte for byte.
        // Files are slow to write, so only the first hundred go through one.
        if (++decoded_some > 100)
            continue;
        Area again = encode(load_text(dir, param_format_entries(decoded)));
        ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + stop, again.begin())) << round;
    }
    EXPECT_GT(decoded_some, 1000);
}

}  // namespace
}  // namespace vtx::test
