#include <filesystem>
#include <optional>

#include "tests/update/staged_support.h"
#include "update/download.h"

namespace vtx::test {
namespace {

namespace im = imagemaker;
using Writes = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr uint32_t BODY = im::MAIN_BODY_ADDRESS;
constexpr uint32_t HB = HEADER_BLOCK_ADDRESS;

std::vector<uint8_t> bytes_of(const std::vector<uint8_t>& file, size_t from, size_t n) {
    return {file.begin() + long(from), file.begin() + long(from + n)};
}

std::vector<uint8_t> parameter_pattern() {
    std::vector<uint8_t> area(HEADER_HALF_SIZE);
    for (size_t i = 0; i < area.size(); ++i)
        area[i] = uint8_t(i * 7 + 3);
    return area;
}

// Writes of a region walked from its end in chunks of `chunk` bytes.
Writes backwards(uint32_t address, uint32_t length, uint32_t chunk) {
    Writes list;
    for (uint32_t end = length; end > 0;) {
        uint32_t n = end < chunk ? end : chunk;
        end -= n;
        list.emplace_back(address + end, n);
    }
    return list;
}

class DownloadTest : public StagedTest {
  protected:
    sim::Bridge& bridge_with(std::optional<uint32_t> max_transfer_reply) {
        sim::BridgeConfig config;
        config.max_transfer_reply = max_transfer_reply;
        sim::Bridge& bridge = add_bridge(config);
        bridge.set_parameter_area(parameter_pattern());
        open();
        return bridge;
    }
    std::vector<uint8_t> image(uint32_t body_size) {
        im::ImageSpec recipe = im::firmware_spec(13);
        recipe.body_size = body_size;
        return im::build_firmware_image(recipe);
    }
};

TEST_F(DownloadTest, ChunkSizeIsTheReportedTransferInWholeUnitsUpTo64KiB) {
    struct Case {
        bool ok;
        uint32_t reported, chunk;
    };
    const Case cases[] = {{true, 65536, 65536},     {true, 131072, 65536}, {true, 16384, 16384},
                          {true, 8192, 8192},       {true, 6144, 4096},    {true, 4096, 4096},
                          {true, 4095, 4096},       {true, 0, 4096},       {false, 65536, 4096},
                          {true, 0xFFFFFFFF, 65536}};
    for (const Case& c : cases) {
        EXPECT_EQ(fw_chunk_size(c.ok, c.reported), c.chunk) << c.reported << " ok=" << c.ok;
    }
}

// The body goes from its end backwards, then the lead region; every chunk at
// the header block carries the bridge's parameters in its upper half.
TEST_F(DownloadTest, WritesBodyBackwardsThenLeadRegionInChunksOfTheRoundedTransfer) {
    struct Case {
        std::optional<uint32_t> reply;
        uint32_t chunk;
        Writes writes;  // empty: the body in whole chunks from its end, then the lead
    };
    const Case cases[] = {
        {65536, 65536, {{BODY, 40960}, {HB, 4096}}},
        {16384, 16384, {{BODY + 24576, 16384}, {BODY + 8192, 16384}, {BODY, 8192}, {HB, 4096}}},
        {131072, 65536, {{BODY, 40960}, {HB, 4096}}},
        {8192, 8192, {}},
        {6144, 4096, {}},
        {0, 4096, {}},
        {std::nullopt, 4096, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply ? std::to_string(*c.reply) : "query rejected");
        fresh();
        sim::Bridge& bridge = bridge_with(c.reply);
        std::vector<uint8_t> file = image(40960);
        std::string path = write("image.bin", file);
        std::vector<int32_t>& steps = watch_progress();
        steps.clear();

        EXPECT_EQ(fw_download(handle, path.c_str()), 0);

        Writes expected = c.writes;
        if (expected.empty()) {
            expected = backwards(BODY, 40960, c.chunk);
            expected.emplace_back(HB, 4096);
        }
        EXPECT_EQ(write_list(sim()), expected);
        std::vector<int32_t> counted;
        int32_t done = 0;
        for (const auto& [address, length] : expected)
            counted.push_back(done += int32_t(length));
        EXPECT_EQ(steps, counted);
        EXPECT_EQ(fw_done_bytes, int32_t(file.size()));
        EXPECT_EQ(bridge.read_flash(BODY, 40960), bytes_of(file, 4096, 40960));
        EXPECT_EQ(bridge.read_flash(HB, 2048), bytes_of(file, 0, 2048));
        EXPECT_EQ(bridge.parameter_area(), parameter_pattern());
    }
}

TEST_F(DownloadTest, EmptyBodyWritesOnlyTheLeadRegion) {
    sim::Bridge& bridge = bridge_with(65536);
    std::vector<uint8_t> file = image(0);
    std::string path = write("image.bin", file);
    EXPECT_EQ(fw_download(handle, path.c_str()), 0);
    EXPECT_EQ(write_list(sim()), Writes({{HB, 4096}}));
    EXPECT_EQ(fw_done_bytes, 4096);
    EXPECT_EQ(bridge.read_flash(HB, 2048), bytes_of(file, 0, 2048));
    EXPECT_EQ(bridge.parameter_area(), parameter_pattern());
}

TEST_F(DownloadTest, FailedThirdChunkLeavesTwoChunksWrittenAndTheHeaderBlockUntouched) {
    sim::Bridge& bridge = bridge_with(16384);
    std::string path = write("image.bin", image(40960));
    const std::vector<uint8_t> header_block = bridge.read_flash(HB, 4096);
    // The first two read-backs pass; every later one ends in CHECK CONDITION.
    sim::CommandFault fault;
    fault.opcode = OP_VENDOR_READ;
    fault.sub_command = SUB_MEMORY_READ;
    fault.skip = 2;
    fault.count = -1;
    fault.scsi_status = 2;
    sim().add_fault(fault);

    EXPECT_EQ(fw_download(handle, path.c_str()), 2);
    const Writes expected = {{BODY + 24576, 16384}, {BODY + 8192, 16384}, {BODY, 8192},
                             {BODY, 8192},          {BODY, 8192},         {BODY, 8192}};
    EXPECT_EQ(write_list(sim()), expected);
    EXPECT_EQ(fw_done_bytes, 32768);
    EXPECT_EQ(bridge.read_flash(HB, 4096), header_block);
    EXPECT_TRUE(std::filesystem::remove(path)) << "the image file is still open";
}

TEST_F(DownloadTest, FileThatShrinksDuringTheDownloadFailsInsteadOfSkippingChunks) {
    sim::Bridge& bridge = bridge_with(16384);
    std::string path = write("image.bin", image(40960));
    const std::vector<uint8_t> header_block = bridge.read_flash(HB, 4096);
    // After the first chunk the file loses the end of its body, so the next
    // chunk cannot be read in full.
    fw_set_progress_observer(
        [&](int32_t, int32_t) { std::filesystem::resize_file(path, 4096 + 8192); });

    EXPECT_EQ(fw_download(handle, path.c_str()), -1);
    EXPECT_EQ(write_list(sim()), Writes({{BODY + 24576, 16384}}));
    EXPECT_EQ(fw_done_bytes, 16384);
    EXPECT_EQ(bridge.read_flash(HB, 4096), header_block);
    EXPECT_TRUE(std::filesystem::remove(path)) << "the image file is still open";
}

// Headers the walk cannot follow to the file's start are refused before the
// bridge hears anything; without that, some of them would never end.
TEST_F(DownloadTest, ImagesOutsideTheLayoutOrDamagedAreRefusedBeforeAnyCommand) {
    using D = im::ImageDamage;
    for (D damage : {D::kWrongCrc, D::kShortFile, D::kLeadOffsetNotZero, D::kBodyOffsetNotLead,
                     D::kLeadLengthUnaligned, D::kBodyLengthUnaligned, D::kFileShorterThanLead}) {
        fresh();
        bridge_with(65536);
        std::string path =
            write("damaged.bin", im::build_damaged_image(im::firmware_spec(13), damage));
        const size_t before = sim().trace().size();
        EXPECT_EQ(fw_download(handle, path.c_str()), -1) << int(damage);
        EXPECT_EQ(sim().trace().size(), before) << int(damage);
    }
    fresh();
    bridge_with(65536);
    const size_t before = sim().trace().size();
    EXPECT_EQ(fw_download(handle, dir.file("missing.bin").c_str()), -1);
    EXPECT_EQ(sim().trace().size(), before);
}

TEST_F(DownloadTest, ChunkAtTheHeaderBlockInsideTheBodyAlsoKeepsTheParameters) {
    // A body that starts at the header block: its first chunk lands there.
    sim::Bridge& bridge = bridge_with(4096);
    im::ImageSpec recipe = im::firmware_spec(13);
    recipe.body_size = 8192;
    recipe.body_address = HB;
    recipe.lead_address = HB - 0x10000;
    std::vector<uint8_t> file = im::build_firmware_image(recipe);
    std::string path = write("image.bin", file);

    EXPECT_EQ(fw_download(handle, path.c_str()), 0);
    EXPECT_EQ(write_list(sim()), Writes({{HB + 4096, 4096}, {HB, 4096}, {HB - 0x10000, 4096}}));
    EXPECT_EQ(bridge.read_flash(HB, 2048), bytes_of(file, 4096, 2048));
    EXPECT_EQ(bridge.parameter_area(), parameter_pattern());
}

}  // namespace
}  // namespace vtx::test
