// The transport: handles, the aligned copy, the retry of the general failure,
// status and sense, and allocation failures.
#include <gtest/gtest.h>

#include <cstring>

#include "device/bridge.h"
#include "device/transport.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"
#include "vtx/buffer.h"

namespace vtx::test {
namespace {

constexpr const char* DRIVE = "\\\\.\\PhysicalDrive1";

class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake->add_device(DRIVE, [this](const SentCommand& c) { return respond(c); });
        handle = dev_open(DRIVE);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override {
        if (handle)
            dev_close(handle);
        buffer_fail_allocation(0);
    }

    FakeInstalled fake;
    Responder respond = [](const SentCommand&) { return Reply{}; };
    DeviceHandle* handle = nullptr;
};

TEST_F(TransportTest, MisalignedReadTravelsThroughAnAlignedCopyAndOnlyLengthBytesComeBack) {
    // The device fills 8 bytes: the copy's whole size, as a platform that
    // rounds up to a multiple of 4 would.
    respond = [](const SentCommand& c) {
        Reply reply;
        reply.data = {1, 2, 3, 4, 5, 6, 7, 8};
        std::memcpy(c.data, reply.data.data(), 8);
        return reply;
    };
    alignas(4) uint8_t storage[16];
    std::memset(storage, 0xEE, sizeof storage);
    uint8_t* odd = storage + 1;
    const int result = dev_send(handle, VendorCommand{}, odd, 5, DIR_IN, DEV_TIMEOUT, nullptr);

    EXPECT_EQ(result, 0);
    ASSERT_EQ(fake->sent.size(), 1u);
    EXPECT_NE(fake->sent[0].data, static_cast<void*>(odd));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(fake->sent[0].data) % 4, 0u);
    EXPECT_EQ(fake->sent[0].length, 5u);
    EXPECT_EQ(hex(storage, 8), "EE 01 02 03 04 05 EE EE");
}

TEST_F(TransportTest, MisalignedWriteCarriesTheCallersBytesAndLeavesTheBufferAlone) {
    respond = [](const SentCommand& c) {
        std::memset(c.data, 0, c.length);  // a device that scribbles on a write buffer
        return Reply{};
    };
    alignas(4) uint8_t storage[8] = {0, 9, 8, 7, 6, 5, 0, 0};
    EXPECT_EQ(dev_send(handle, VendorCommand{}, storage + 1, 5, DIR_OUT, DEV_TIMEOUT, nullptr), 0);
    ASSERT_EQ(fake->sent.size(), 1u);
    EXPECT_NE(fake->sent[0].data, static_cast<void*>(storage + 1));
    EXPECT_EQ(hex(fake->sent[0].data_out.data(), 5), "09 08 07 06 05");
    EXPECT_EQ(hex(storage, 8), "00 09 08 07 06 05 00 00");
}

TEST_F(TransportTest, AlignedBufferAndZeroLengthGoUnchangedWithoutACopy) {
    alignas(4) uint8_t storage[8] = {};
    struct Case {
        void* data;
        int32_t length;
    } cases[] = {{storage, 8}, {storage + 1, 0}, {storage + 4, 4}};
    for (const Case& c : cases) {
        fake->sent.clear();
        const long before = buffer_allocation_count();
        EXPECT_EQ(dev_send(handle, VendorCommand{}, c.data, c.length, DIR_IN, DEV_TIMEOUT, nullptr),
                  0);
        ASSERT_EQ(fake->sent.size(), 1u);
        EXPECT_EQ(fake->sent[0].data, c.data);
        EXPECT_EQ(buffer_allocation_count(), before) << "length " << c.length;
    }
}

TEST_F(TransportTest, AlignedCopyThatCannotBeAllocatedSendsNothing) {
    alignas(4) uint8_t storage[8] = {};
    buffer_fail_allocation(1);
    EXPECT_EQ(dev_send(handle, VendorCommand{}, storage + 3, 4, DIR_IN, DEV_TIMEOUT, nullptr), -1);
    EXPECT_TRUE(fake->sent.empty());
}

TEST_F(TransportTest, GeneralFailureIsRetriedUpToFiveCallsInAll) {
    struct Case {
        int failures;  // calls that fail before the device answers
        int error;
        int expected_calls;
        int expected_result;
    } cases[] = {
        {100, 31, 5, 31},      // the general failure every time
        {2, 31, 3, 0},         // the third call goes through
        {4, 31, 5, 0},         // the fifth and last call goes through
        {100, 1167, 1, 1167},  // any other error ends it at once
    };
    for (const Case& c : cases) {
        int calls = 0;
        respond = [&calls, c](const SentCommand&) {
            Reply reply;
            if (calls++ < c.failures) {
                reply.call_ok = false;
                reply.error = c.error;
            }
            return reply;
        };
        fake->sent.clear();
        EXPECT_EQ(dev_send(handle, VendorCommand{}, nullptr, 0, DIR_IN, DEV_TIMEOUT, nullptr),
                  c.expected_result);
        EXPECT_EQ(int(fake->sent.size()), c.expected_calls) << "error " << c.error;
    }
}

TEST_F(TransportTest, CheckConditionGivesTwoAndTheSenseCopy) {
    respond = [](const SentCommand&) { return check_condition(0x05, 0x24, 0x01); };
    uint8_t sense[24];
    std::memset(sense, 0xEE, sizeof sense);
    EXPECT_EQ(dev_send(handle, VendorCommand{}, nullptr, 0, DIR_IN, DEV_TIMEOUT, sense), 2);
    EXPECT_EQ(sense[2], 0x05);
    EXPECT_EQ(sense[12], 0x24);
    EXPECT_EQ(sense[13], 0x01);
    EXPECT_EQ(sense[18], 0xEE) << "only 18 bytes of sense are copied";
    EXPECT_EQ(fake->sent.size(), 1u) << "a completed command is not repeated";
}

TEST_F(TransportTest, StatusByteWinsOverAFailedCallAndSenseIsCopiedEitherWay) {
    respond = [](const SentCommand&) {
        Reply reply = check_condition(0x02, 0x04, 0x00);
        reply.call_ok = false;
        reply.error = 1117;
        return reply;
    };
    uint8_t sense[18] = {};
    EXPECT_EQ(dev_send(handle, VendorCommand{}, nullptr, 0, DIR_IN, DEV_TIMEOUT, sense), 2);
    EXPECT_EQ(sense[2], 0x02);

    respond = [](const SentCommand&) { return Reply{false, 121, 0, {}, {0x70, 0, 0x0B}}; };
    std::memset(sense, 0, sizeof sense);
    EXPECT_EQ(dev_send(handle, VendorCommand{}, nullptr, 0, DIR_IN, DEV_TIMEOUT, sense), 121);
    EXPECT_EQ(sense[2], 0x0B);
}

TEST_F(TransportTest, CommandBlockDirectionAndTimeOutReachThePlatformUnchanged) {
    const VendorCommand command = vendor_command(0xE3, 0x11, 0x8C004000, 4096);
    std::vector<uint8_t> data(4096, 0x5A);
    EXPECT_EQ(dev_send(handle, command, data.data(), 4096, DIR_OUT, 10, nullptr), 0);
    ASSERT_EQ(fake->sent.size(), 1u);
    EXPECT_EQ(hex(fake->sent[0].cdb, 16), "E3 00 00 00 11 00 00 00 00 40 00 8C 00 10 00 00");
    EXPECT_FALSE(fake->sent[0].data_in);
    EXPECT_EQ(fake->sent[0].timeout_s, 10u);
    EXPECT_EQ(fake->sent[0].length, 4096u);
}

TEST_F(TransportTest, NegativeLengthOrNoHandleSendsNothing) {
    uint8_t data[4] = {};
    EXPECT_EQ(dev_send(handle, VendorCommand{}, data, -4, DIR_IN, DEV_TIMEOUT, nullptr), -1);
    EXPECT_EQ(dev_send(nullptr, VendorCommand{}, data, 4, DIR_IN, DEV_TIMEOUT, nullptr), -1);
    EXPECT_TRUE(fake->sent.empty());
}

TEST(DeviceHandle, OpenAndCloseLeaveNothingOpen) {
    FakeInstalled fake;
    fake->add_device(DRIVE, nullptr);
    EXPECT_EQ(dev_open("\\\\.\\PhysicalDrive7"), nullptr);

    DeviceHandle* handle = dev_open(DRIVE);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->block_length, 0u);
    EXPECT_EQ(fake->open_handles.size(), 1u);
    EXPECT_EQ(dev_close(handle), 0);
    EXPECT_TRUE(fake->open_handles.empty());

    // A close that fails still releases the handle; the caller sees -1.
    fake->close_fails = true;
    handle = dev_open(DRIVE);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(dev_close(handle), -1);
    EXPECT_EQ(dev_close_raw(nullptr), -1);
    EXPECT_EQ(dev_close(nullptr), -1);
}

TEST(DeviceHandle, HandleOrHolderThatCannotBeAllocatedOpensNothing) {
    FakeInstalled fake;
    fake->add_device(DRIVE, nullptr);
    for (long n : {1, 2}) {  // the handle, then the holder
        fail_nothrow_new(n);
        EXPECT_EQ(dev_open(DRIVE), nullptr) << "allocation " << n;
        fail_nothrow_new(0);
        EXPECT_EQ(fake->opens, 0);
    }
}

TEST(TransportOnSimulatedBridge, GeneralFailureEveryTimeIsSentFiveTimesAndGives31) {
    SimInstalled sim;
    sim->add_bridge(sim::BridgeConfig{});
    DeviceHandle* handle = dev_open("\\\\.\\PhysicalDrive1");
    ASSERT_NE(handle, nullptr);
    sim::CommandFault fault;
    fault.opcode = 0xE2;
    fault.sub_command = 0xA5;
    fault.count = -1;
    fault.platform_error = sim::SIM_ERROR_GEN_FAILURE;
    sim->add_fault(fault);
    FirmwareVersion version;
    EXPECT_EQ(dev_read_version(handle, &version), 31);
    EXPECT_EQ(commands(sim.sim(), 0xE2, 0xA5).size(), 5u);
    dev_close(handle);
}

}  // namespace
}  // namespace vtx::test
