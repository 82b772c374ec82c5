#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/transport.h"
#include "params/encoder.h"
#include "params/programming.h"
#include "tests/params/params_support.h"
#include "vtx/bytes.h"
#include "vtx/testing/buffer_hooks.h"

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
        area = encode(load_text(dir, GOOD_FILE));
        sim->clear_trace();
    }
    void TearDown() override {
        buffer_fail_allocation(0);
        if (handle)
            dev_close(handle);
    }

    Area block() const { return bridge->read_flash(HEADER_BLOCK_ADDRESS, HEADER_BLOCK_SIZE); }
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
    int write_area() { return param_write_area(handle, area.data(), PARAMETER_AREA_SIZE); }
    static sim::CommandFault failing_block_read(long skip = 0) {
        return failing(OP_VENDOR_READ, SUB_MEMORY_READ, skip, 1,
                       sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    }

    SimInstalled sim;
    sim::Bridge* bridge = nullptr;
    DeviceHandle* handle = nullptr;
    TempDir dir;
    Area area;  // GOOD_FILE encoded
};

TEST_F(ParamProgramming, ProgrammingKeepsTheImageHalfAndWritesTheEncodedArea) {
    Area before = block();
    EXPECT_EQ(param_apply_file(handle, dir.write("bridge.cfg", GOOD_FILE).c_str(), 0), 0);
    Area after = block();
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + HEADER_HALF_SIZE, after.begin()));
    EXPECT_EQ(bridge->parameter_area(), area);
    EXPECT_EQ(area[0], 3);
    EXPECT_EQ(block_writes(), 1u);
    EXPECT_EQ(block_reads(), 2u);
}

// A read-back that does not match is retried, up to four attempts; a failing
// first read writes nothing, and a failure after the first write is passed on
// at once.
TEST_F(ParamProgramming, WriteAreaRetriesMismatchesAndPassesFailuresOnAtOnce) {
    const int lost = sim::SIM_ERROR_DEVICE_NOT_CONNECTED;
    const struct {
        const char* name;
        int corrupt;  // block reads that come back damaged, the first read included
        std::optional<sim::CommandFault> fault;
        int result;
        size_t writes, reads;
    } cases[] = {
        {"never matches", 1000, {}, -1, 4, 8},
        {"the second attempt matches", 2, {}, 0, 2, 4},
        {"the third attempt matches", 4, {}, 0, 3, 6},
        {"first read fails", 0, failing_block_read(), lost, 0, 1},
        {"read-back fails", 0, failing_block_read(1), lost, 1, 2},
        {"write fails", 0, failing(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE), 2, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Area before = block();
        sim->clear_faults();
        sim->clear_trace();
        sim->corrupt_readbacks(c.corrupt);
        if (c.fault)
            sim->add_fault(*c.fault);
        EXPECT_EQ(write_area(), c.result);
        EXPECT_EQ(block_writes(), c.writes);
        EXPECT_EQ(block_reads(), c.reads);
        if (c.writes == 0) {
            EXPECT_EQ(block(), before);
        }
        sim->corrupt_readbacks(0);
    }
}

TEST_F(ParamProgramming, ReadAreaGivesTheParameterHalfOrLeavesTheDestinationUntouched) {
    Area whole = block();
    Area destination(HEADER_HALF_SIZE, 0xCC);
    EXPECT_EQ(param_read_area(handle, destination.data(), HEADER_HALF_SIZE), 0);
    EXPECT_EQ(destination, Area(whole.begin() + HEADER_HALF_SIZE, whole.end()));

    sim->add_fault(failing_block_read());
    destination.assign(HEADER_HALF_SIZE, 0xCC);
    EXPECT_EQ(param_read_area(handle, destination.data(), HEADER_HALF_SIZE),
              sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(destination, Area(HEADER_HALF_SIZE, 0xCC));
}

TEST_F(ParamProgramming, WithoutMemoryOrWithAnOddLengthNothingIsSent) {
    Area destination(HEADER_HALF_SIZE + 1, 0xCC);
    std::string path = dir.write("bridge.cfg", GOOD_FILE);
    struct Case {
        const char* name;
        long failing_allocation;
        std::function<int()> run;
    } cases[] = {
        {"read area", 1, [&] { return param_read_area(handle, destination.data(), 2048); }},
        {"write area", 1, [&] { return write_area(); }},
        {"apply: the area", 1, [&] { return param_apply_file(handle, path.c_str(), 0); }},
        {"apply: the block", 2, [&] { return param_apply_file(handle, path.c_str(), 0); }},
        // Lengths other than the area's are refused alike.
        {"write: odd length", 0,
         [&] { return param_write_area(handle, area.data(), PARAMETER_AREA_SIZE - 1); }},
        {"read: odd length", 0,
         [&] { return param_read_area(handle, destination.data(), PARAMETER_AREA_SIZE + 1); }},
    };
    for (const auto& c : cases) {
        buffer_fail_allocation(c.failing_allocation);
        EXPECT_EQ(c.run(), -1) << c.name;
        buffer_fail_allocation(0);
        EXPECT_TRUE(sim->trace().empty()) << c.name;
    }
    EXPECT_EQ(destination, Area(HEADER_HALF_SIZE + 1, 0xCC));
}

TEST_F(ParamProgramming, ValidationAndEmptyPathsSendNoCommand) {
    std::string overlong;
    for (int i = 0; i < 40; ++i)
        overlong += "PRODUCT = \"" + std::string(31, 'p') + "\"\n";
    std::string good = dir.write("good.cfg", "x\nVID = 1\nFOO = 2\n;\n");
    std::string bad = dir.write("bad.cfg", "VID = Yes\nFOO = 2\n");
    std::string long_file = dir.write("long.cfg", overlong);
    struct Case {
        const char* name;
        std::string path;  // "-" stands for no path at all
        int result;
    } cases[] = {
        {"no path", "-", 0},
        {"empty path", "", 0},
        {"only bad lines", bad, -1},
        {"missing file", dir.file("missing.cfg"), -1},
        {"records beyond the area", long_file, -1},
    };
    for (const auto& c : cases) {
        const char* path = c.path == "-" ? nullptr : c.path.c_str();
        for (uint8_t validate_only : {1, 0}) {
            SCOPED_TRACE(testing::Message() << c.name << ", validate_only " << int(validate_only));
            EXPECT_EQ(param_apply_file(handle, path, validate_only), c.result);
            EXPECT_TRUE(sim->trace().empty());
        }
    }
    // One good line among bad ones validates, and validation does not need a
    // bridge at all.
    EXPECT_EQ(param_apply_file(nullptr, good.c_str(), 1), 0);
    std::vector<ParameterEntry> entries;
    EXPECT_EQ(param_load_file(nullptr, entries), -1);
}

}  // namespace
}  // namespace vtx::test
