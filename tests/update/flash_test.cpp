// Flash access against the simulated bridge: the 4096-byte rule, the
// write-and-verify retries, the read window and the header block rewrite.
#include "update/flash.h"
#include "tests/update/staged_support.h"
#include "update/header_block.h"

namespace vtx::test {
namespace {

constexpr uint32_t BODY = im::MAIN_BODY_ADDRESS;

class Flash : public StagedTest {
  protected:
    void SetUp() override {
        StagedTest::SetUp();
        bridge = &opened_bridge();
        ASSERT_NE(handle, nullptr);
    }
    sim::Bridge* bridge = nullptr;
};

// A length that is not whole 4096-byte units, or no memory for the
// read-back, is refused before any command.
TEST_F(Flash, LengthNotAMultipleOf4096OrNoMemoryForTheReadBackSendsNoCommand) {
    std::vector<uint8_t> data(6144, 0x5A);
    EXPECT_EQ(flash_write(handle, BODY, data.data(), 6144), -1);
    EXPECT_EQ(flash_write_verify(handle, BODY, data.data(), 6144), -1);
    EXPECT_EQ(flash_write(handle, BODY, data.data(), 1), -1);
    buffer_fail_allocation(1);
    EXPECT_EQ(flash_write_verify(handle, BODY, data.data(), 4096), -1);
    EXPECT_TRUE(sim().trace().empty());
}

TEST_F(Flash, WriteSetsTheAddressThenSendsTheDataAndReadsBackThroughTheReadWindow) {
    std::vector<uint8_t> data = im::pseudo_random_bytes(3, 8192);
    ASSERT_EQ(flash_write(handle, BODY, data.data(), 8192), 0);
    const auto& trace = sim().trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(hex(trace[0].cdb, 16), "E3 00 00 00 10 00 00 00 00 00 01 8C 04 00 00 00");
    EXPECT_EQ(trace[0].data, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x8C}));
    EXPECT_FALSE(trace[0].data_in);
    EXPECT_EQ(hex(trace[1].cdb, 16), "E3 00 00 00 11 00 00 00 00 00 00 00 00 20 00 00");
    EXPECT_EQ(trace[1].data, data);
    EXPECT_EQ(bridge->read_flash(BODY, 8192), data);

    flash_write_verify(handle, HB, data.data(), 4096);
    flash_write_verify(handle, 0xAC010000, data.data(), 4096);
    EXPECT_EQ(memory_reads(), (std::vector<uint32_t>{0xAC004000, 0xAC010000}));
}

TEST_F(Flash, VerifyRetriesUpToFourWriteAndReadCycles) {
    struct Case {
        int corrupted, result;
        size_t cycles;
    } cases[] = {{0, 0, 1}, {2, 0, 3}, {3, 0, 4}, {4, -1, 4}, {100, -1, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.corrupted);
        opened_bridge();
        sim().corrupt_readbacks(c.corrupted);
        std::vector<uint8_t> data = im::pseudo_random_bytes(5, 4096);
        EXPECT_EQ(flash_write_verify(handle, BODY, data.data(), 4096), c.result);
        EXPECT_EQ(flash_writes(sim()).size(), c.cycles);
        EXPECT_EQ(memory_reads().size(), c.cycles);
    }
}

TEST_F(Flash, TransportFailureOfTheFourthReadBackIsTheResult) {
    // First attempt: the data write fails; second and third: the read-back
    // differs; fourth: the read-back itself fails.
    sim().add_fault(failing(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE));
    sim().add_fault(
        failing(OP_VENDOR_READ, SUB_MEMORY_READ, 2, 1, sim::SIM_ERROR_DEVICE_NOT_CONNECTED));
    sim().corrupt_readbacks(2);
    std::vector<uint8_t> data(4096, 0x22);
    EXPECT_EQ(flash_write_verify(handle, BODY, data.data(), 4096),
              sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(flash_writes(sim()).size(), 4u);
}

TEST_F(Flash, HeaderBlockTakesTheImageHeaderAndKeepsTheParameters) {
    std::vector<uint8_t> area = im::pseudo_random_bytes(9, HEADER_HALF_SIZE);
    bridge->set_parameter_area(area);
    std::vector<uint8_t> image = im::build_firmware_image(im::ImageRecipe{});
    ASSERT_EQ(flash_write_header_block(handle, write("fw.bin", image).c_str()), 0);
    image.resize(HEADER_HALF_SIZE);
    image.insert(image.end(), area.begin(), area.end());
    EXPECT_EQ(bridge->read_flash(HB, HEADER_BLOCK_SIZE), image);
    EXPECT_EQ(write_list(sim()), Writes({{HB, 4096}}));
    EXPECT_EQ(memory_reads().front(), 0xAC004000u);
}

TEST_F(Flash, HeaderBlockIsLeftAloneForADamagedImageOrAFailedRead) {
    const std::vector<uint8_t> before = bridge->read_flash(HB, HEADER_BLOCK_SIZE);
    std::string damaged =
        write("bad.bin", im::build_damaged_image(im::ImageRecipe{}, im::ImageDamage::kWrongCrc));
    EXPECT_EQ(flash_write_header_block(handle, damaged.c_str()), -1);
    EXPECT_EQ(flash_write_header_block(handle, dir.file("absent.bin").c_str()), -1);
    sim().add_fault(failing(OP_VENDOR_READ, SUB_MEMORY_READ));
    std::string good = write("fw.bin", im::build_firmware_image(im::ImageRecipe{}));
    EXPECT_EQ(flash_write_header_block(handle, good.c_str()), 2);

    EXPECT_EQ(write_commands(), 0u);
    EXPECT_EQ(memory_reads(), (std::vector<uint32_t>(3, 0xAC004000u)));
    EXPECT_EQ(bridge->read_flash(HB, HEADER_BLOCK_SIZE), before);
}

}  // namespace
}  // namespace vtx::test
