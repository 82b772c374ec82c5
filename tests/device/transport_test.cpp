// The transport: handles, the aligned copy, the retry of the general failure,
// status and sense, and allocation failures.
#include <gtest/gtest.h>

#include <cstring>

#include "device/bridge.h"
#include "tests/device/fake_platform.h"
#include "tests/support/support.h"

namespace vtx::test {
namespace {

class TransportTest : public ScriptedDrive {
  protected:
    void SetUp() override {
        ASSERT_NE(reopen([this](const SentCommand& c) { return respond(c); }), nullptr);
    }
    int send(void* data, int32_t length, uint8_t direction = DIR_IN, uint8_t* sense = nullptr) {
        return dev_send(handle, VendorCommand{}, data, length, direction, DEV_TIMEOUT, sense);
    }
    Responder respond = [](const SentCommand&) { return Reply{}; };
};

TEST_F(TransportTest, MisalignedReadTravelsThroughAnAlignedCopyAndOnlyLengthBytesComeBack) {
    // The device fills 8 bytes: the copy's whole size, as a platform that
    // rounds up to a multiple of 4 would.
    respond = [](const SentCommand& c) {
        const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        std::memcpy(c.data, bytes, 8);
        return Reply{};
    };
    alignas(4) uint8_t storage[16];
    std::memset(storage, 0xEE, sizeof storage);
    EXPECT_EQ(send(storage + 1, 5), 0);
    ASSERT_EQ(fake->sent.size(), 1u);
    EXPECT_NE(fake->sent[0].data, static_cast<void*>(storage + 1));
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
    EXPECT_EQ(send(storage + 1, 5, DIR_OUT), 0);
    ASSERT_EQ(fake->sent.size(), 1u);
    EXPECT_NE(fake->sent[0].data, static_cast<void*>(storage + 1));
    EXPECT_EQ(hex(fake->sent[0].data_out.data(), 5), "09 08 07 06 05");
    EXPECT_EQ(hex(storage, 8), "00 09 08 07 06 05 00 00");
}

TEST_F(TransportTest, AlignedBufferAndZeroLengthGoUnchangedWithoutACopy) {
    alignas(4) uint8_t storage[8] = {};
    const std::pair<uint8_t*, int32_t> cases[] = {{storage, 8}, {storage + 1, 0}, {storage + 4, 4}};
    for (const auto& [data, length] : cases) {
        fake->sent.clear();
        const long before = buffer_allocation_count();
        EXPECT_EQ(send(data, length), 0);
        ASSERT_EQ(fake->sent.size(), 1u);
        EXPECT_EQ(fake->sent[0].data, data);
        EXPECT_EQ(buffer_allocation_count(), before) << "length " << length;
    }
}

TEST_F(TransportTest, AlignedCopyThatCannotBeAllocatedOrANegativeLengthOrNoHandleSendsNothing) {
    alignas(4) uint8_t storage[8] = {};
    buffer_fail_allocation(1);
    EXPECT_EQ(send(storage + 3, 4), -1);
    EXPECT_EQ(send(storage, -4), -1);
    EXPECT_EQ(dev_send(nullptr, VendorCommand{}, storage, 4, DIR_IN, DEV_TIMEOUT, nullptr), -1);
    EXPECT_TRUE(fake->sent.empty());
}

// A device that moves fewer bytes than asked: the rest never keeps the
// buffer's old bytes, and only the standard commands that may answer short
// (and READ CAPACITY up to its two fields) pass.
TEST_F(TransportTest, ShortDataInReadsAsZerosAndFailsWhereEveryByteIsNeeded) {
    struct Case {
        uint8_t opcode;
        uint32_t length, residual;
        size_t offset;  // 1: a misaligned buffer, through the aligned copy
        uint8_t direction;
        int expected;
    } cases[] = {
        {OP_VENDOR_READ, 8, 3, 0, DIR_IN, 2},
        {OP_VENDOR_READ, 8, 8, 1, DIR_IN, 2},
        {OP_VENDOR_READ, 8, 100, 0, DIR_IN, 2},
        {OP_VENDOR_READ, 8, 0, 1, DIR_IN, 0},
        {0x12, 24, 20, 1, DIR_IN, 0},
        {0x12, 24, 100, 0, DIR_IN, 0},
        {0xA1, 16, 8, 0, DIR_IN, 0},
        {0x9E, 32, 20, 0, DIR_IN, 0},
        {0x9E, 32, 21, 1, DIR_IN, 2},
        {OP_VENDOR_WRITE, 8, 3, 0, DIR_OUT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.opcode) << std::dec << " length "
                                        << c.length << " short by " << c.residual);
        const uint32_t moved = c.length - std::min(c.residual, c.length);
        respond = [&c, moved](const SentCommand&) {
            Reply reply;
            reply.data.assign(moved, 0xAB);
            reply.residual = c.residual;
            return reply;
        };
        alignas(4) uint8_t storage[40];
        std::memset(storage, 0xEE, sizeof storage);
        VendorCommand command;
        command.cdb[0] = c.opcode;
        EXPECT_EQ(dev_send(handle, command, storage + c.offset, int32_t(c.length), c.direction,
                           DEV_TIMEOUT, nullptr),
                  c.expected);
        std::vector<uint8_t> expected(c.length, 0xEE);
        if (c.direction == DIR_IN) {
            std::fill_n(expected.begin(), moved, 0xAB);
            std::fill(expected.begin() + moved, expected.end(), 0);
        }
        EXPECT_EQ(hex(storage + c.offset, c.length), hex(expected.data(), c.length));
        EXPECT_EQ(storage[c.offset + c.length], 0xEE) << "written past the length";
    }
}

// The platform names its general failure (31 on Windows, EIO on Linux).
TEST_F(TransportTest, GeneralFailureIsRetriedUpToFiveCallsInAll) {
    struct Case {
        int general_failure;
        int failures;  // calls that fail before the device answers
        int error, expected_calls, expected_result;
    } cases[] = {
        {31, 100, 31, 5, 31},      // the general failure every time
        {31, 2, 31, 3, 0},         // the third call goes through
        {31, 4, 31, 5, 0},         // the fifth and last call goes through
        {31, 100, 1167, 1, 1167},  // any other error ends it at once
        {5, 100, 5, 5, 5},        {5, 100, 31, 1, 31},
    };
    for (const Case& c : cases) {
        int calls = 0;
        fake->general_failure = c.general_failure;
        respond = [&calls, c](const SentCommand&) {
            return calls++ < c.failures ? Reply{false, c.error, 0, {}, {}} : Reply{};
        };
        fake->sent.clear();
        EXPECT_EQ(send(nullptr, 0), c.expected_result);
        EXPECT_EQ(int(fake->sent.size()), c.expected_calls) << "error " << c.error;
    }
}

TEST_F(TransportTest, CheckConditionGivesTwoAndTheSenseCopyWhichAFailedCallAlsoGets) {
    respond = [](const SentCommand&) { return check_condition(0x05, 0x24, 0x01); };
    uint8_t sense[24];
    std::memset(sense, 0xEE, sizeof sense);
    EXPECT_EQ(send(nullptr, 0, DIR_IN, sense), 2);
    EXPECT_EQ(hex(sense, 19), "70 00 05 00 00 00 00 0A 00 00 00 00 24 01 00 00 00 00 EE")
        << "only 18 bytes of sense are copied";
    EXPECT_EQ(fake->sent.size(), 1u) << "a completed command is not repeated";

    // The status byte wins over a failed call.
    respond = [](const SentCommand&) {
        Reply reply = check_condition(0x02, 0x04, 0x00);
        reply.call_ok = false;
        reply.error = 1117;
        return reply;
    };
    EXPECT_EQ(send(nullptr, 0, DIR_IN, sense), 2);
    EXPECT_EQ(sense[2], 0x02);
    respond = [](const SentCommand&) { return Reply{false, 121, 0, {}, {0x70, 0, 0x0B}}; };
    EXPECT_EQ(send(nullptr, 0, DIR_IN, sense), 121);
    EXPECT_EQ(sense[2], 0x0B);
}

using DeviceHandleTest = ScriptedDrive;

TEST_F(DeviceHandleTest, OpenAndCloseLeaveNothingOpen) {
    fake->add_device(DRIVE, nullptr);
    EXPECT_EQ(dev_open("\\\\.\\PhysicalDrive7"), nullptr);
    DeviceHandle* opened = dev_open(DRIVE);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->block_length, 0u);
    EXPECT_EQ(fake->open_handles.size(), 1u);
    EXPECT_EQ(dev_close(opened), 0);
    EXPECT_TRUE(fake->open_handles.empty());

    // A close that fails still releases the handle; the caller sees -1.
    fake->close_fails = true;
    opened = dev_open(DRIVE);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(dev_close(opened), -1);
    EXPECT_TRUE(fake->open_handles.empty());
    EXPECT_EQ(dev_close_raw(nullptr), -1);
    EXPECT_EQ(dev_close(nullptr), -1);
}

TEST_F(DeviceHandleTest, HandleOrHolderThatCannotBeAllocatedOpensNothing) {
    fake->add_device(DRIVE, nullptr);
    for (long n : {1, 2}) {  // the handle, then the holder
        fail_nothrow_new(n);
        EXPECT_EQ(dev_open(DRIVE), nullptr) << "allocation " << n;
        fail_nothrow_new(0);
        EXPECT_EQ(fake->opens, 0);
    }
}

}  // namespace
}  // namespace vtx::test
