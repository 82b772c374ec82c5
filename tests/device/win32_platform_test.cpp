// The Windows layer's request, built with the system's own headers, checked
// byte for byte; and the candidate paths of discovery.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstring>

#include "device/platform/win32_platform.h"
#include "device/platform/win32_request.h"
#include "tests/support/support.h"
#include "vtx/bytes.h"

namespace vtx::test {
namespace {

struct RequestBytes {
    uint8_t b[96];
};

RequestBytes built_request(const ScsiCommand& command) {
    PassThroughRequest request;
    std::memset(&request, 0xCC, sizeof request);  // what a reused request might hold
    fill_pass_through_request(request, command);
    RequestBytes bytes;
    std::memcpy(bytes.b, &request, sizeof bytes.b);
    return bytes;
}

TEST(Win32Request, EveryFieldAndOffsetOfTheNinetySixBytes) {
    uint8_t data[8] = {};
    ScsiCommand command;
    for (int i = 0; i < 16; ++i)
        command.cdb[i] = uint8_t(0xE0 + i);
    command.data = data;
    command.length = 0x00012345;
    command.data_in = true;
    command.timeout_s = 10;
    const RequestBytes r = built_request(command);

    EXPECT_EQ(load_le16(r.b + 0), 56) << "Length";
    EXPECT_EQ(r.b[2], 0) << "ScsiStatus";
    EXPECT_EQ(r.b[3], 0) << "PathId";
    EXPECT_EQ(r.b[4], 1) << "TargetId";
    EXPECT_EQ(r.b[5], 0) << "Lun";
    EXPECT_EQ(r.b[6], 16) << "CdbLength";
    EXPECT_EQ(r.b[7], 32) << "SenseInfoLength";
    EXPECT_EQ(r.b[8], 1) << "DataIn";
    EXPECT_EQ(load_le32(r.b + 12), 0x00012345u) << "DataTransferLength";
    EXPECT_EQ(load_le32(r.b + 16), 10u) << "TimeOutValue";
    EXPECT_EQ(load_le64(r.b + 24), uint64_t(reinterpret_cast<std::uintptr_t>(data)))
        << "DataBuffer";
    EXPECT_EQ(load_le32(r.b + 32), 60u) << "SenseInfoOffset";
    EXPECT_EQ(hex(r.b + 36, 16), hex(command.cdb, 16)) << "Cdb";
    // Padding, filler, sense area and tail: all zero.
    for (int i : {9, 10, 11, 20, 21, 22, 23, 52, 53, 54, 55})
        EXPECT_EQ(r.b[i], 0) << i;
    for (int i = 56; i < 96; ++i)
        EXPECT_EQ(r.b[i], 0) << i;
}

TEST(Win32Request, DataOutAndNoData) {
    ScsiCommand command;
    command.data_in = false;
    EXPECT_EQ(built_request(command).b[8], 0);
    EXPECT_EQ(load_le64(built_request(command).b + 24), 0u);
}

// The driver writes the count it moved back into DataTransferLength.
TEST(Win32Request, BytesNotMovedComeFromTheCountTheDriverWritesBack) {
    struct Case {
        ULONG moved;
        uint32_t expected;
    } cases[] = {{4096, 0}, {4000, 96}, {0, 4096}, {8192, 0}};
    ScsiCommand command;
    command.length = 4096;
    command.data_in = true;
    for (const Case& c : cases) {
        PassThroughRequest request;
        fill_pass_through_request(request, command);
        request.sptd.DataTransferLength = c.moved;
        EXPECT_EQ(pass_through_residual(request, command), c.expected) << c.moved;
    }
}

TEST(Win32Platform, CandidatePathsArePhysicalDrivesThenLetters) {
    Win32Platform layer;
    EXPECT_EQ(layer.candidate_path(0, 0), "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(layer.candidate_path(0, 23), "\\\\.\\PhysicalDrive23");
    EXPECT_EQ(layer.candidate_path(1, 0), "\\\\.\\c:");
    EXPECT_EQ(layer.candidate_path(1, 23), "\\\\.\\z:");
    EXPECT_EQ(layer.candidate_path(1, 24), "");
    EXPECT_EQ(layer.general_failure_code(), 31);
}

TEST(Win32Platform, PathThatDoesNotOpenGivesTheSystemError) {
    Win32Platform layer;
    EXPECT_EQ(layer.open_device("\\\\.\\PhysicalDrive23"), INVALID_OS_HANDLE);
    EXPECT_NE(layer.last_error(), 0);
}

}  // namespace
}  // namespace vtx::test

#endif  // _WIN32
