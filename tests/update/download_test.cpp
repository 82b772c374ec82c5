// Image download: the chunk size, the walk from the body's end to the lead
// region, and what a failure leaves in flash.
#include <filesystem>

#include "tests/update/staged_support.h"
#include "update/download.h"
#include "update/image.h"

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
        im::ImageRecipe recipe = im::firmware_recipe(13);
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
            write("damaged.bin", im::build_damaged_image(im::firmware_recipe(13), damage));
        EXPECT_EQ(fw_download(handle, path.c_str()), -1) << int(damage);
        EXPECT_TRUE(sim().trace().empty()) << int(damage);
    }
    EXPECT_EQ(fw_download(handle, dir.file("missing.bin").c_str()), -1);
    EXPECT_TRUE(sim().trace().empty());
}

// Layouts on the header block, at every chunk size: a body on it or across it
// is refused before the bridge hears anything; a lead region that covers it
// from below leaves the image header and the bridge's parameters in the block,
// and the chunk on the block goes last.
TEST_F(DownloadTest, HeaderBlockLayoutsAtEveryChunkSize) {
    constexpr uint32_t LOW_LEAD = HB - 0x4000;
    struct Layout {
        const char* what;
        uint32_t lead_address, lead_length, body_address;
        bool accepted;
    } layouts[] = {
        {"lead region on the header block", HB, 4096, BODY, true},
        {"lead region of 0x5000 from 0x8C000000", LOW_LEAD, 0x5000, BODY, true},
        {"body on the header block", HB - 0x10000, 4096, HB, false},
        {"body across the header block", HB - 0x10000, 4096, HB - 0x1000, false},
    };
    for (const Layout& layout : layouts) {
        for (uint32_t chunk = 4096; chunk <= 65536; chunk += 4096) {
            SCOPED_TRACE(::testing::Message() << layout.what << ", chunk " << chunk);
            sim::Bridge& bridge = bridge_with(chunk);
            im::ImageRecipe recipe = im::firmware_recipe(13);
            recipe.body_size = 40960;
            recipe.lead_address = layout.lead_address;
            recipe.body_address = layout.body_address;
            file = im::build_image_with_lead(recipe, layout.lead_length);
            const std::string path = write("image.bin", file);
            if (!layout.accepted) {
                EXPECT_EQ(fw_check_image(handle, path.c_str(), false), -1);
                EXPECT_EQ(fw_download(handle, path.c_str()), -1);
                EXPECT_TRUE(sim().trace().empty());
                continue;
            }
            ASSERT_EQ(fw_download(handle, path.c_str()), 0);
            const Writes writes = write_list(sim());
            ASSERT_FALSE(writes.empty());
            EXPECT_LE(writes.back().first, HB);
            EXPECT_GT(writes.back().first + writes.back().second, HB) << "the last write";
            uint32_t sent = 0;
            for (const auto& write_entry : writes)
                sent += write_entry.second;
            EXPECT_EQ(sent, file.size()) << "every byte once";
            // The header block holds the image header and the parameters.
            std::vector<uint8_t> lead = bytes_of(file, 0, layout.lead_length);
            std::copy_n(file.begin(), HEADER_HALF_SIZE, lead.begin() + (HB - layout.lead_address));
            std::copy(PARAMETERS.begin(), PARAMETERS.end(),
                      lead.begin() + (HB + HEADER_HALF_SIZE - layout.lead_address));
            EXPECT_EQ(bridge.read_flash(layout.lead_address, layout.lead_length), lead);
            EXPECT_EQ(bridge.read_flash(BODY, 40960), bytes_of(file, layout.lead_length, 40960));
        }
    }
}

}  // namespace
}  // namespace vtx::test
