// Flash access against the simulated bridge: the 4096-byte rule, the
// write-and-verify retries, the read window and the header block rewrite.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/support.h"
#include "tools/imagemaker/image_builder.h"
#include "update/flash.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx {
namespace {

using test::commands;
using test::flash_writes;

constexpr uint32_t BODY = 0x8C010000;

// One simulated bridge, opened, with an empty trace.
class Flash : public ::testing::Test {
  protected:
    void SetUp() override {
        bridge_ = &sim_->add_bridge(sim::BridgeConfig{});
        handle_ = dev_open(bridge_->config().path.c_str());
        ASSERT_NE(handle_, nullptr);
        sim_->clear_trace();
    }
    void TearDown() override {
        buffer_fail_allocation(0);
        dev_close(handle_);
    }

    // Addresses of the memory reads in the trace, in order.
    std::vector<uint32_t> memory_reads() {
        std::vector<uint32_t> addresses;
        for (const auto& entry : commands(sim_.sim(), OP_VENDOR_READ, SUB_MEMORY_READ)) {
            addresses.push_back(load_le32(entry.cdb + 8));
        }
        return addresses;
    }

    test::SimInstalled sim_;
    sim::Bridge* bridge_ = nullptr;
    DeviceHandle* handle_ = nullptr;
};

TEST_F(Flash, LengthNotAMultipleOf4096SendsNoCommand) {
    std::vector<uint8_t> data(6144, 0x5A);
    EXPECT_EQ(flash_write(handle_, BODY, data.data(), 6144), -1);
    EXPECT_EQ(flash_write_verify(handle_, BODY, data.data(), 6144), -1);
    EXPECT_EQ(flash_write(handle_, BODY, data.data(), 1), -1);
    EXPECT_TRUE(sim_->trace().empty());
}

TEST_F(Flash, WriteSetsTheAddressThenSendsTheData) {
    std::vector<uint8_t> data = imagemaker::pseudo_random_bytes(3, 8192);
    ASSERT_EQ(flash_write(handle_, BODY, data.data(), 8192), 0);
    const auto& trace = sim_->trace();
    ASSERT_EQ(trace.size(), 2u);
    VendorCommand set_address = vendor_command(OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS, BODY, 4);
    EXPECT_EQ(test::hex(trace[0].cdb, 16), test::hex(set_address.cdb, 16));
    EXPECT_EQ(trace[0].data, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x8C}));
    EXPECT_FALSE(trace[0].data_in);
    VendorCommand write = vendor_command(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE, 0, 8192);
    EXPECT_EQ(test::hex(trace[1].cdb, 16), test::hex(write.cdb, 16));
    EXPECT_EQ(trace[1].data, data);
    EXPECT_EQ(bridge_->read_flash(BODY, 8192), data);
}

TEST(FlashVerify, RetriesUpToFourWriteAndReadCycles) {
    struct Case {
        int corrupted;
        int result;
        size_t cycles;
    };
    const Case cases[] = {{0, 0, 1}, {2, 0, 3}, {3, 0, 4}, {4, -1, 4}, {100, -1, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.corrupted);
        test::SimInstalled sim;
        sim::Bridge& bridge = sim->add_bridge(sim::BridgeConfig{});
        DeviceHandle* handle = dev_open(bridge.config().path.c_str());
        ASSERT_NE(handle, nullptr);
        sim->clear_trace();
        sim->corrupt_readbacks(c.corrupted);
        std::vector<uint8_t> data = imagemaker::pseudo_random_bytes(5, 4096);
        EXPECT_EQ(flash_write_verify(handle, BODY, data.data(), 4096), c.result);
        EXPECT_EQ(flash_writes(sim.sim()).size(), c.cycles);
        EXPECT_EQ(commands(sim.sim(), OP_VENDOR_READ, SUB_MEMORY_READ).size(), c.cycles);
        dev_close(handle);
    }
}

TEST_F(Flash, ReadsBackThroughTheReadWindow) {
    std::vector<uint8_t> data(4096, 0x11);
    flash_write_verify(handle_, HEADER_BLOCK_ADDRESS, data.data(), 4096);
    flash_write_verify(handle_, 0xAC010000, data.data(), 4096);
    std::vector<uint32_t> reads = memory_reads();
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads.front(), 0xAC004000u);
    EXPECT_EQ(reads.back(), 0xAC010000u);
}

TEST_F(Flash, TransportFailureOfTheFourthReadBackIsTheResult) {
    // First attempt: the data write fails; second and third: the read-back
    // differs; fourth: the read-back itself fails.
    sim::CommandFault write_fault;
    write_fault.opcode = OP_VENDOR_WRITE;
    write_fault.sub_command = SUB_FLASH_DATA_WRITE;
    write_fault.scsi_status = 2;
    write_fault.sense_key = 4;
    sim_->add_fault(write_fault);
    sim::CommandFault read_fault;
    read_fault.opcode = OP_VENDOR_READ;
    read_fault.sub_command = SUB_MEMORY_READ;
    read_fault.skip = 2;
    read_fault.platform_error = sim::SIM_ERROR_DEVICE_NOT_CONNECTED;
    sim_->add_fault(read_fault);
    sim_->corrupt_readbacks(2);

    std::vector<uint8_t> data(4096, 0x22);
    EXPECT_EQ(flash_write_verify(handle_, BODY, data.data(), 4096),
              sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(flash_writes(sim_.sim()).size(), 4u);
}

TEST_F(Flash, VerifyWithoutMemoryForTheReadBackSendsNothing) {
    std::vector<uint8_t> data(4096, 0x33);
    buffer_fail_allocation(1);
    EXPECT_EQ(flash_write_verify(handle_, BODY, data.data(), 4096), -1);
    EXPECT_TRUE(sim_->trace().empty());
}

TEST_F(Flash, HeaderBlockTakesTheImageHeaderAndKeepsTheParameters) {
    std::vector<uint8_t> area = imagemaker::pseudo_random_bytes(9, HEADER_HALF_SIZE);
    bridge_->set_parameter_area(area);
    test::TempDir dir;
    std::vector<uint8_t> image = imagemaker::build_firmware_image(imagemaker::ImageSpec{});
    std::string path = dir.write("fw.bin", image);

    ASSERT_EQ(flash_write_header_block(handle_, path.c_str()), 0);
    std::vector<uint8_t> block = bridge_->read_flash(HEADER_BLOCK_ADDRESS, HEADER_BLOCK_SIZE);
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + HEADER_HALF_SIZE, image.begin()));
    EXPECT_TRUE(std::equal(block.begin() + HEADER_HALF_SIZE, block.end(), area.begin()));
    ASSERT_EQ(flash_writes(sim_.sim()).size(), 1u);
    EXPECT_EQ(flash_writes(sim_.sim())[0].address, HEADER_BLOCK_ADDRESS);
    EXPECT_EQ(memory_reads().front(), 0xAC004000u);
}

TEST_F(Flash, HeaderBlockIsLeftAloneForADamagedImageOrAFailedRead) {
    test::TempDir dir;
    std::vector<uint8_t> before = bridge_->read_flash(HEADER_BLOCK_ADDRESS, HEADER_BLOCK_SIZE);
    std::string damaged =
        dir.write("bad.bin", imagemaker::build_damaged_image(imagemaker::ImageSpec{},
                                                             imagemaker::ImageDamage::kWrongCrc));
    EXPECT_EQ(flash_write_header_block(handle_, damaged.c_str()), -1);
    EXPECT_EQ(flash_write_header_block(handle_, dir.file("absent.bin").c_str()), -1);

    sim::CommandFault fault;
    fault.opcode = OP_VENDOR_READ;
    fault.sub_command = SUB_MEMORY_READ;
    fault.scsi_status = 2;
    fault.sense_key = 5;
    sim_->add_fault(fault);
    std::string good =
        dir.write("fw.bin", imagemaker::build_firmware_image(imagemaker::ImageSpec{}));
    EXPECT_EQ(flash_write_header_block(handle_, good.c_str()), 2);

    EXPECT_TRUE(commands(sim_.sim(), OP_VENDOR_WRITE).empty());
    EXPECT_EQ(memory_reads(), (std::vector<uint32_t>(3, 0xAC004000u)));
    EXPECT_EQ(bridge_->read_flash(HEADER_BLOCK_ADDRESS, HEADER_BLOCK_SIZE), before);
}

}  // namespace
}  // namespace vtx
