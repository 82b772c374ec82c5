// Both CRC-32 paths, and the one the tool chooses, against a bit-at-a-time
// reference written here: every length the folds treat apart (below and
// around 16 and 64 bytes, their tails), misaligned starts, and chunk chains
// split anywhere. Each range ends where its allocation ends, so a path that
// reads past it trips the address sanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tools/imagemaker/image_builder.h"
#include "update/crc.h"
#include "update/crc_paths.h"

namespace vtx::test {
namespace {

uint32_t reference_crc(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
    }
    return ~crc;
}

// `length` bytes that start `offset` bytes into their own allocation and end
// with it.
std::vector<uint8_t> placed(const std::vector<uint8_t>& source, size_t offset, size_t length) {
    std::vector<uint8_t> bytes(offset + length, 0xA5);
    if (length != 0)
        std::memcpy(bytes.data() + offset, source.data(), length);
    return bytes;
}

using CrcPath = uint32_t (*)(uint32_t, const uint8_t*, size_t);
struct PathCase {
    const char* name;
    CrcPath crc;
    bool needs_clmul;
};
void PrintTo(const PathCase& path, std::ostream* out) {
    *out << path.name;
}

class CrcPaths : public ::testing::TestWithParam<PathCase> {
  protected:
    void SetUp() override {
        if (GetParam().needs_clmul && !crc32_clmul_available())
            GTEST_SKIP() << "this processor has no carry-less multiply";
    }
};

TEST(CrcReference, GivesTheStandardCheckValues) {
    const char* texts[] = {"", "123456789", "The quick brown fox jumps over the lazy dog"};
    const uint32_t values[] = {0, 0xCBF43926u, 0x414FA339u};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reference_crc(reinterpret_cast<const uint8_t*>(texts[i]), std::strlen(texts[i])),
                  values[i]);
    }
}

TEST_P(CrcPaths, EqualTheReferenceAtEveryShortLengthAndOffset) {
    const std::vector<uint8_t> source = imagemaker::pseudo_random_bytes(11, 300);
    for (size_t length = 0; length <= 300; ++length) {
        const uint32_t expected = reference_crc(source.data(), length);
        for (size_t offset = 0; offset < 16; ++offset) {
            const std::vector<uint8_t> bytes = placed(source, offset, length);
            ASSERT_EQ(GetParam().crc(0, bytes.data() + offset, length), expected)
                << "length " << length << " offset " << offset;
        }
    }
}

TEST_P(CrcPaths, ChainChunkByChunkAtAnySplit) {
    const std::vector<uint8_t> source = imagemaker::pseudo_random_bytes(12, 200);
    for (size_t length : {size_t(17), size_t(64), size_t(131), size_t(200)}) {
        const uint32_t expected = reference_crc(source.data(), length);
        for (size_t first = 0; first <= length; ++first) {
            const uint32_t head = GetParam().crc(0, source.data(), first);
            ASSERT_EQ(GetParam().crc(head, source.data() + first, length - first), expected)
                << "length " << length << " split at " << first;
        }
    }
}

// A flash chunk's worth and an image body, whole and in odd pieces.
TEST_P(CrcPaths, EqualTheReferenceOnLargePayloadsInOddPieces) {
    const std::vector<uint8_t> source = imagemaker::pseudo_random_bytes(13, (1 << 20) + 5);
    for (size_t length : {size_t(65536 + 13), source.size()}) {
        const uint32_t expected = reference_crc(source.data(), length);
        const std::vector<uint8_t> bytes = placed(source, 3, length);
        const uint8_t* data = bytes.data() + 3;
        EXPECT_EQ(GetParam().crc(0, data, length), expected) << "length " << length;
        for (size_t piece : {size_t(4093), size_t(65536)}) {
            uint32_t crc = 0;
            for (size_t at = 0; at < length; at += piece)
                crc = GetParam().crc(crc, data + at, std::min(piece, length - at));
            EXPECT_EQ(crc, expected) << "length " << length << " in pieces of " << piece;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Crc32, CrcPaths,
                         ::testing::Values(PathCase{"table", crc32_update_table, false},
                                           PathCase{"clmul", crc32_update_clmul, true},
                                           PathCase{"chosen", crc32_update, false}),
                         [](const auto& path) { return std::string(path.param.name); });

}  // namespace
}  // namespace vtx::test
