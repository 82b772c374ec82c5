#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/transport.h"
#include "params/encoder.h"
#include "params/programming.h"
#include "tests/params/params_support.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx::test {
namespace {

const char GOOD_FILE[] = "VID = 0x1234\nPRODUCT = \"Bridge\"\nbad line\nSCSI_VENDOR = \"VTX\"\n";

class ParamProgramming : public ::testing::Test {
  protected:
    void SetUp() override {
        buffer_fail_allocation(0);
        bridge = &sim->add_bridge({});
        // A header block whose two halves can be told apart from anything
        // the tool writes.
        Area block(HEADER_BLOCK_SIZE);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = uint8_t(i * 7 + 1);
        bridge->write_flash(HEADER_BLOCK_ADDRESS, block);
        handle = dev_open(bridge->config().path.c_str());
        ASSERT_NE(handle, nullptr);
        sim->clear_trace();
    }
    void TearDown() override {
        buffer_fail_allocation(0);
        if (handle)
            dev_close(handle);
    }

    Area block() const { return bridge->read_flash(HEADER_BLOCK_ADDRESS, HEADER_BLOCK_SIZE); }
    Area image_half() const {
        Area whole = block();
        return Area(whole.begin(), whole.begin() + HEADER_HALF_SIZE);
    }
    size_t block_reads() {
        size_t reads = 0;
        for (const auto& entry : commands(sim.sim(), OP_VENDOR_READ, SUB_MEMORY_READ)) {
            EXPECT_EQ(load_le32(entry.cdb + 8), read_window(HEADER_BLOCK_ADDRESS));
            EXPECT_EQ(entry.length, HEADER_BLOCK_SIZE);
            ++reads;
        }
        return reads;
    }
    size_t block_writes() {
        size_t writes = 0;
        for (const FlashWrite& write : flash_writes(sim.sim())) {
            EXPECT_EQ(write.address, HEADER_BLOCK_ADDRESS);
            EXPECT_EQ(write.length, HEADER_BLOCK_SIZE);
            ++writes;
        }
        return writes;
    }
    std::string file(const std::string& text) { return dir.write("bridge.cfg", text); }
    static Area encoded(const TempDir& dir, const std::string& text) {
        return encode(load_text(dir, text));
    }
    void fail_block_read(long skip = 0) {
        sim::CommandFault fault;
        fault.opcode = OP_VENDOR_READ;
        fault.sub_command = SUB_MEMORY_READ;
        fault.skip = skip;
        fault.platform_error = sim::SIM_ERROR_DEVICE_NOT_CONNECTED;
        sim->add_fault(fault);
    }

    SimInstalled sim;
    sim::Bridge* bridge = nullptr;
    DeviceHandle* handle = nullptr;
    TempDir dir;
};

TEST_F(ParamProgramming, ProgrammingKeepsTheImageHalfAndWritesTheEncodedArea) {
    Area before = image_half();
    Area area = encoded(dir, GOOD_FILE);
    EXPECT_EQ(param_apply_file(handle, file(GOOD_FILE).c_str(), 0), 0);
    EXPECT_EQ(image_half(), before);
    EXPECT_EQ(bridge->parameter_area(), area);
    EXPECT_EQ(area[0], 3);
    EXPECT_EQ(block_writes(), 1u);
    EXPECT_EQ(block_reads(), 2u);
}

TEST_F(ParamProgramming, ReadBackRetriesAreCounted) {
    struct Case {
        int corrupt;  // block reads that come back damaged, the first read included
        int result;
        size_t writes;
        size_t reads;
    } cases[] = {
        {1000, -1, 4, 8},  // never matches
        {2, 0, 2, 4},      // the second attempt matches
        {4, 0, 3, 6},
    };
    Area area = encoded(dir, GOOD_FILE);
    for (const Case& c : cases) {
        sim->clear_trace();
        sim->corrupt_readbacks(c.corrupt);
        EXPECT_EQ(param_write_area(handle, area.data(), PARAMETER_AREA_SIZE), c.result)
            << c.corrupt;
        EXPECT_EQ(block_writes(), c.writes) << c.corrupt;
        EXPECT_EQ(block_reads(), c.reads) << c.corrupt;
        sim->corrupt_readbacks(0);
    }
}

TEST_F(ParamProgramming, AFailingFirstReadWritesNothing) {
    Area area = encoded(dir, GOOD_FILE);
    Area before = block();
    fail_block_read();
    EXPECT_EQ(param_write_area(handle, area.data(), PARAMETER_AREA_SIZE),
              sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(block_writes(), 0u);
    EXPECT_EQ(block(), before);
}

TEST_F(ParamProgramming, FailuresAfterTheFirstWriteArePassedOnAtOnce) {
    Area area = encoded(dir, GOOD_FILE);
    fail_block_read(1);  // the read-back of the first attempt
    EXPECT_EQ(param_write_area(handle, area.data(), PARAMETER_AREA_SIZE),
              sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(block_writes(), 1u);

    sim->clear_faults();
    sim->clear_trace();
    sim::CommandFault write_fault;
    write_fault.opcode = OP_VENDOR_WRITE;
    write_fault.sub_command = SUB_FLASH_DATA_WRITE;
    write_fault.scsi_status = 2;
    sim->add_fault(write_fault);
    EXPECT_EQ(param_write_area(handle, area.data(), PARAMETER_AREA_SIZE), 2);
    EXPECT_EQ(block_reads(), 1u);
}

TEST_F(ParamProgramming, ReadAreaGivesTheParameterHalf) {
    Area whole = block();
    Area expected(whole.begin() + HEADER_HALF_SIZE, whole.end());
    Area destination(HEADER_HALF_SIZE, 0xCC);
    EXPECT_EQ(param_read_area(handle, destination.data(), HEADER_HALF_SIZE), 0);
    EXPECT_EQ(destination, expected);
}

TEST_F(ParamProgramming, ReadAreaWithAFailingReadLeavesTheDestinationUntouched) {
    fail_block_read();
    Area destination(HEADER_HALF_SIZE, 0xCC);
    EXPECT_EQ(param_read_area(handle, destination.data(), HEADER_HALF_SIZE),
              sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(destination, Area(HEADER_HALF_SIZE, 0xCC));
}

TEST_F(ParamProgramming, WithoutMemoryNothingIsSent) {
    Area area = encoded(dir, GOOD_FILE);
    Area destination(HEADER_HALF_SIZE, 0xCC);
    std::string path = file(GOOD_FILE);
    struct Case {
        const char* name;
        long failing_allocation;
        std::function<int()> run;
    } cases[] = {
        {"read area", 1, [&] { return param_read_area(handle, destination.data(), 2048); }},
        {"write area", 1,
         [&] { return param_write_area(handle, area.data(), PARAMETER_AREA_SIZE); }},
        {"apply: the area", 1, [&] { return param_apply_file(handle, path.c_str(), 0); }},
        {"apply: the block", 2, [&] { return param_apply_file(handle, path.c_str(), 0); }},
    };
    for (const auto& c : cases) {
        buffer_fail_allocation(c.failing_allocation);
        EXPECT_EQ(c.run(), -1) << c.name;
        buffer_fail_allocation(0);
        EXPECT_TRUE(sim->trace().empty()) << c.name;
    }
    EXPECT_EQ(destination, Area(HEADER_HALF_SIZE, 0xCC));
}

TEST_F(ParamProgramming, OddLengthsAreRefusedBeforeAnyCommand) {
    Area area(PARAMETER_AREA_SIZE + 1, 0);
    EXPECT_EQ(param_write_area(handle, area.data(), PARAMETER_AREA_SIZE - 1), -1);
    EXPECT_EQ(param_read_area(handle, area.data(), PARAMETER_AREA_SIZE + 1), -1);
    EXPECT_TRUE(sim->trace().empty());
}

TEST_F(ParamProgramming, ValidationAndEmptyPathsSendNoCommand) {
    std::string overlong;
    for (int i = 0; i < 40; ++i)
        overlong += "PRODUCT = \"" + std::string(31, 'p') + "\"\n";
    struct Case {
        const char* name;
        std::string path;  // "-" stands for no path at all
        uint8_t validate_only;
        int result;
    } cases[] = {
        {"no path", "-", 1, 0},
        {"no path, programming", "-", 0, 0},
        {"empty path", "", 1, 0},
        {"empty path, programming", "", 0, 0},
        {"one good line among bad ones", dir.write("good.cfg", "x\nVID = 1\nFOO = 2\n;\n"), 1, 0},
        {"only bad lines", dir.write("bad.cfg", "VID = Yes\nFOO = 2\n"), 1, -1},
        {"only bad lines, programming", dir.write("bad.cfg", "VID = Yes\nFOO = 2\n"), 0, -1},
        {"missing file", dir.file("missing.cfg"), 1, -1},
        {"records beyond the area", dir.write("long.cfg", overlong), 1, -1},
        {"records beyond the area, programming", dir.write("long.cfg", overlong), 0, -1},
    };
    for (const auto& c : cases) {
        const char* path = c.path == "-" ? nullptr : c.path.c_str();
        EXPECT_EQ(param_apply_file(handle, path, c.validate_only), c.result) << c.name;
        EXPECT_TRUE(sim->trace().empty()) << c.name;
    }
    // Validation does not need a bridge at all.
    EXPECT_EQ(param_apply_file(nullptr, dir.file("good.cfg").c_str(), 1), 0);
}

}  // namespace
}  // namespace vtx::test
