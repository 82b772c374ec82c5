// Image download: the chunk size, the walk from the body's end to the lead
// region, and what a failure leaves in flash.
#include <filesystem>

#include "tests/update/staged_support.h"
#include "update/download.h"

namespace vtx::test {
namespace {

constexpr uint32_t BODY = im::MAIN_BODY_ADDRESS;

std::vector<uint8_t> bytes_of(const std::vector<uint8_t>& file, size_t from, size_t n) {
    return {file.begin() + long(from), file.begin() + long(from + n)};
}

const std::vector<uint8_t> PARAMETERS = im::pseudo_random_bytes(11, HEADER_HALF_SIZE);

class DownloadTest : public StagedTest {
  protected:
    sim::Bridge& bridge_with(std::optional<uint32_t> max_transfer_reply) {
        sim::BridgeConfig config;
        config.max_transfer_reply = max_transfer_reply;
        sim::Bridge& bridge = opened_bridge(config);
        bridge.set_parameter_area(PARAMETERS);
        return bridge;
    }
    std::string image(uint32_t body_size) {
        im::ImageSpec recipe = im::firmware_spec(13);
        recipe.body_size = body_size;
        file = im::build_firmware_image(recipe);
        return write("image.bin", file);
    }
    std::vector<uint8_t> file;
};

// The body goes from its end backwards in chunks of the reported transfer,
// rounded down to whole units (at least one, at most 64 KiB), then the lead
// region; every chunk at the header block carries the bridge's parameters in
// its upper half.
TEST_F(DownloadTest, WritesBodyBackwardsThenLeadRegionInChunksOfTheRoundedTransfer) {
    struct Case {
        std::optional<uint32_t> reply;
        uint32_t chunk, body;
    } cases[] = {{65536, 65536, 40960},      {131072, 65536, 40960}, {16384, 16384, 40960},
                 {8192, 8192, 40960},        {6144, 4096, 40960},    {4096, 4096, 40960},
                 {4095, 4096, 40960},        {0, 4096, 40960},       {std::nullopt, 4096, 40960},
                 {0xFFFFFFFF, 65536, 40960}, {65536, 65536, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.reply ? std::to_string(*c.reply) : "rejected") << " body " << c.body);
        EXPECT_EQ(fw_chunk_size(c.reply.has_value(), c.reply.value_or(65536)), c.chunk);
        sim::Bridge& bridge = bridge_with(c.reply);
        const std::string path = image(c.body);
        watch_progress();

        EXPECT_EQ(fw_download(handle, path.c_str()), 0);
        Writes expected;
        for (uint32_t end = c.body; end > 0; end -= std::min(end, c.chunk)) {
            const uint32_t n = std::min(end, c.chunk);
            expected.emplace_back(BODY + end - n, n);
        }
        expected.emplace_back(HB, 4096);
        EXPECT_EQ(write_list(sim()), expected);
        std::vector<int32_t> counted;
        for (const auto& [address, length] : expected)
            counted.push_back((counted.empty() ? 0 : counted.back()) + int32_t(length));
        EXPECT_EQ(progress, counted);
        EXPECT_EQ(fw_done_bytes, int32_t(file.size()));
        EXPECT_EQ(bridge.read_flash(BODY, c.body), bytes_of(file, 4096, c.body));
        EXPECT_EQ(bridge.read_flash(HB, 2048), bytes_of(file, 0, 2048));
        EXPECT_EQ(bridge.parameter_area(), PARAMETERS);
    }
}

// A failed chunk or a file that shrinks under the download ends it with the
// chunks before written, the header block untouched and the file closed.
TEST_F(DownloadTest, FailedThirdChunkOrAFileThatShrinksLeavesTheHeaderBlockUntouched) {
    struct Case {
        const char* what;
        int result;
        Writes writes;
        int32_t done;
    } cases[] = {
        // The first two read-backs pass; every later one ends in CHECK
        // CONDITION, and the third chunk is tried four times.
        {"failed third chunk",
         2,
         {{BODY + 24576, 16384},
          {BODY + 8192, 16384},
          {BODY, 8192},
          {BODY, 8192},
          {BODY, 8192},
          {BODY, 8192}},
         32768},
        // After the first chunk the file loses the end of its body, so the
        // next chunk cannot be read in full: a failure, not a skipped chunk.
        {"file shrinks", -1, {{BODY + 24576, 16384}}, 16384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Bridge& bridge = bridge_with(16384);
        const std::string path = image(40960);
        const std::vector<uint8_t> header_block = bridge.read_flash(HB, 4096);
        if (c.result == 2) {
            sim().add_fault(failing(OP_VENDOR_READ, SUB_MEMORY_READ, 2, -1));
        } else {
            fw_set_progress_observer(
                [&](int32_t, int32_t) { std::filesystem::resize_file(path, 4096 + 8192); });
        }
        EXPECT_EQ(fw_download(handle, path.c_str()), c.result);
        fw_set_progress_observer(nullptr);
        EXPECT_EQ(write_list(sim()), c.writes);
        EXPECT_EQ(fw_done_bytes, c.done);
        EXPECT_EQ(bridge.read_flash(HB, 4096), header_block);
        EXPECT_TRUE(std::filesystem::remove(path)) << "the image file is still open";
    }
}

// Headers the walk cannot follow to the file's start are refused before the
// bridge hears anything; without that, some of them would never end.
TEST_F(DownloadTest, ImagesOutsideTheLayoutOrDamagedAreRefusedBeforeAnyCommand) {
    using D = im::ImageDamage;
    for (D damage : {D::kWrongCrc, D::kShortFile, D::kLeadOffsetNotZero, D::kBodyOffsetNotLead,
                     D::kLeadLengthUnaligned, D::kBodyLengthUnaligned, D::kFileShorterThanLead}) {
        bridge_with(65536);
        const std::string path =
            write("damaged.bin", im::build_damaged_image(im::firmware_spec(13), damage));
        EXPECT_EQ(fw_download(handle, path.c_str()), -1) << int(damage);
        EXPECT_TRUE(sim().trace().empty()) << int(damage);
    }
    EXPECT_EQ(fw_download(handle, dir.file("missing.bin").c_str()), -1);
    EXPECT_TRUE(sim().trace().empty());
}

TEST_F(DownloadTest, ChunkAtTheHeaderBlockInsideTheBodyAlsoKeepsTheParameters) {
    // A body that starts at the header block: its first chunk lands there.
    sim::Bridge& bridge = bridge_with(4096);
    im::ImageSpec recipe = im::firmware_spec(13);
    recipe.body_size = 8192;
    recipe.body_address = HB;
    recipe.lead_address = HB - 0x10000;
    file = im::build_firmware_image(recipe);
    EXPECT_EQ(fw_download(handle, write("image.bin", file).c_str()), 0);
    EXPECT_EQ(write_list(sim()), Writes({{HB + 4096, 4096}, {HB, 4096}, {HB - 0x10000, 4096}}));
    EXPECT_EQ(bridge.read_flash(HB, 2048), bytes_of(file, 4096, 2048));
    EXPECT_EQ(bridge.parameter_area(), PARAMETERS);
}

}  // namespace
}  // namespace vtx::test
