// The 96-byte request that one SCSI command travels in through
// IOCTL_SCSI_PASS_THROUGH_DIRECT: the system's SCSI_PASS_THROUGH_DIRECT in its
// 64-bit layout, a filler, and the sense area right behind it. The structure
// comes from the system's own headers; the asserts pin every size and offset
// the driver relies on, so a header or compiler that lays it out otherwise
// stops the build instead of sending garbage to a drive.
#pragma once

// windows.h first: the others build on its types.
#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "device/platform/platform.h"

namespace vtx {

constexpr DWORD PASS_THROUGH_IOCTL = 0x4D014;
constexpr UCHAR PASS_THROUGH_TARGET = 1;
constexpr UCHAR PASS_THROUGH_SENSE_LENGTH = 32;
constexpr ULONG PASS_THROUGH_SENSE_OFFSET = 60;

struct PassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[PASS_THROUGH_SENSE_LENGTH];
    UCHAR tail[4];
};

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == PASS_THROUGH_IOCTL);
static_assert(SCSI_IOCTL_DATA_IN == 1 && SCSI_IOCTL_DATA_OUT == 0);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == 0);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, PathId) == 3);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Lun) == 5);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == 7);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36);
static_assert(sizeof(PassThroughRequest) == 96);
static_assert(offsetof(PassThroughRequest, filler) == 56);
static_assert(offsetof(PassThroughRequest, sense) == PASS_THROUGH_SENSE_OFFSET);
static_assert(offsetof(PassThroughRequest, tail) == 92);

// Fills `request` for one command, from zero: the same request goes in as
// input and comes back as output, with the status byte and sense data set.
inline void fill_pass_through_request(PassThroughRequest& request, const ScsiCommand& command) {
    // Padding included: the driver sees no stale bytes.
    std::memset(&request, 0, sizeof request);
    SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
    sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    sptd.PathId = 0;
    sptd.TargetId = PASS_THROUGH_TARGET;
    sptd.Lun = 0;
    sptd.CdbLength = sizeof command.cdb;
    sptd.SenseInfoLength = PASS_THROUGH_SENSE_LENGTH;
    sptd.DataIn = command.data_in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    sptd.DataTransferLength = command.length;
    sptd.TimeOutValue = command.timeout_s;
    sptd.DataBuffer = command.data;
    sptd.SenseInfoOffset = PASS_THROUGH_SENSE_OFFSET;
    std::copy_n(command.cdb, sizeof command.cdb, sptd.Cdb);
}

// The bytes of the command's length the driver did not move: it writes the
// count it did move back into DataTransferLength. A count larger than asked
// is taken as the whole length.
inline uint32_t pass_through_residual(const PassThroughRequest& request,
                                      const ScsiCommand& command) {
    const ULONG moved = request.sptd.DataTransferLength;
    return moved >= command.length ? 0 : command.length - uint32_t(moved);
}

}  // namespace vtx
