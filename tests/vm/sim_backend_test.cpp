// The gadget's adaptor to the simulated bridge: state kept in a file across
// gadget processes, the restart that takes the bridge off the bus, swallowed
// commands, and sense data passed on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/support.h"
#include "tools/usbgadget/sim_backend.h"
#include "vtx/bytes.h"

namespace vtx::gadget {
namespace {

const char DESCRIPTION[] =
    "[bridge bridge]\n"
    "path = \\\\.\\PhysicalDrive1\n"
    "boot_seconds = 2.5\n"
    "firmware = main\n"
    "firmware_version = 1.2.3\n"
    "firmware_date = 20240131\n";

Command vendor(uint8_t opcode, uint8_t sub, uint32_t address, uint32_t length) {
    Command command;
    command.cdb[0] = opcode;
    command.cdb[4] = sub;
    store_le32(command.cdb + 8, address);
    store_le32(command.cdb + 12, length);
    command.cdb_length = 16;
    command.data_in = opcode == OP_VENDOR_READ;
    command.length = length;
    return command;
}

Command version_query() {
    return vendor(OP_VENDOR_READ, SUB_VERSION, 0, FIRMWARE_VERSION_SIZE);
}

Command restart() {
    Command command = vendor(OP_VENDOR_WRITE, SUB_RESTART, 0, 4);
    command.data_out.assign(4, 0);
    return command;
}

class SimBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        description_ = dir_.write("bridge.desc", std::string(DESCRIPTION));
        state_ = dir_.file("bridge.state");
    }
    bool open(SimBackend& backend, bool with_description = true) {
        std::string error;
        bool ok = backend.open(state_, with_description ? description_ : "", error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    test::TempDir dir_;
    std::string description_;
    std::string state_;
};

TEST_F(SimBackendTest, StartsFromTheDescriptionAndKeepsItsStateInTheFile) {
    SimBackend first;
    ASSERT_TRUE(open(first));
    Reply version = first.execute(version_query());
    ASSERT_EQ(version.status, Status::kGood);
    EXPECT_EQ(firmware_version_from_bytes(version.data.data()).build_date, 20240131u);
    EXPECT_DOUBLE_EQ(first.boot_seconds(), 2.5);
    EXPECT_FALSE(first.optical());

    // What the host writes outlives the gadget process.
    std::vector<uint8_t> page(FLASH_UNIT);
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = uint8_t(i * 7);
    Command address = vendor(OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS, 0x8C300000, 4);
    address.data_out.assign(4, 0);
    store_le32(address.data_out.data(), 0x8C300000);
    ASSERT_EQ(first.execute(address).status, Status::kGood);
    Command write = vendor(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE, 0, FLASH_UNIT);
    write.data_out = page;
    ASSERT_EQ(first.execute(write).status, Status::kGood);

    SimBackend second;
    ASSERT_TRUE(open(second, false));
    Reply read = second.execute(
        vendor(OP_VENDOR_READ, SUB_MEMORY_READ, read_window(0x8C300000), FLASH_UNIT));
    ASSERT_EQ(read.status, Status::kGood);
    EXPECT_EQ(read.data, page);
}

// After the restart the bridge answers again once it has booted, and a
// later gadget keeps that state: an existing state file is not replaced by
// the description.
TEST_F(SimBackendTest, RestartLeavesTheBusAndTheBridgeAnswersAgainAfterItsBoot) {
    {
        SimBackend backend;
        ASSERT_TRUE(open(backend));
        Reply reply = backend.execute(restart());
        EXPECT_EQ(reply.status, Status::kGood);
        EXPECT_TRUE(reply.leaves_bus);
        std::string error;
        ASSERT_TRUE(backend.come_back(error)) << error;
        Reply version = backend.execute(version_query());
        EXPECT_EQ(version.status, Status::kGood);
        EXPECT_FALSE(version.leaves_bus);
    }
    SimBackend again;
    ASSERT_TRUE(open(again));
    EXPECT_NE(test::read_text(state_).find("restart_count = 1"), std::string::npos);
}

// A recipe "opcode:sub[:skip[:count]]" swallows matching commands only; one
// it cannot read is refused with a reason.
TEST_F(SimBackendTest, SwallowsTheMatchingCommandsOnly) {
    const Status good = Status::kGood, gone = Status::kSwallowed;
    struct Case {
        const char* recipe;
        std::vector<Status> replies;  // of three version queries in a row; none: refused
    };
    const Case cases[] = {{"e2:a5", {gone, good, good}},
                          {"e2:a5:1", {good, gone, good}},
                          {"e2:a5:0:2", {gone, gone, good}},
                          {"e2:c3", {good, good, good}},
                          {"", {}},
                          {"zz", {}},
                          {"e2:", {}},
                          {"e2:a5:x", {}},
                          {"e2:a5:1:2:3", {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recipe);
        SimBackend backend;
        ASSERT_TRUE(open(backend));
        std::string error;
        EXPECT_EQ(backend.add_swallow(c.recipe, error), !c.replies.empty()) << error;
        EXPECT_EQ(error.empty(), !c.replies.empty());
        for (Status expected : c.replies)
            EXPECT_EQ(backend.execute(version_query()).status, expected);
    }
}

TEST_F(SimBackendTest, PassesOnTheSenseOfARefusedCommand) {
    SimBackend backend;
    ASSERT_TRUE(open(backend));
    Reply reply = backend.execute(
        vendor(OP_VENDOR_READ, SUB_MEMORY_READ, read_window(HEADER_BLOCK_ADDRESS), 69632));
    EXPECT_EQ(reply.status, Status::kCheckCondition);
    EXPECT_TRUE(reply.data.empty());
    EXPECT_EQ(reply.sense[2], 0x05);
    EXPECT_EQ(reply.sense[12], 0x24);
}

TEST_F(SimBackendTest, RefusesAStateFileThatIsNotOne) {
    std::string garbage = dir_.write("garbage.state", std::string("[bridge x]\nno_such_key = 1\n"));
    SimBackend backend;
    std::string error;
    EXPECT_FALSE(backend.open(garbage, "", error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vtx::gadget
