// The device handle and the one command transport. Everything here goes
// through the installed platform, so the same code drives a real drive, the
// simulated bridge or a test's fake.
#include "device/transport.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "vtx/buffer.h"

namespace vtx {

namespace {

// A failing call is repeated while the platform reports its general failure,
// five calls in all: bridges answer that now and then while busy and take the
// same command a moment later.
constexpr int SEND_CALLS = 5;
constexpr size_t SENSE_COPY = 18;

// A data-in command the device answers with fewer bytes than asked ends as
// one the device refused with CHECK CONDITION, so every caller takes its own
// path for a failed read (and its own message and code) instead of reading
// what its buffer held before. It is not repeated: the device did answer.
constexpr int SHORT_READ_RESULT = STATUS_CHECK_CONDITION;

constexpr uint32_t CAPACITY_FIELDS = 12;  // last LBA and block length

bool misaligned(const void* data) {
    return reinterpret_cast<std::uintptr_t>(data) % 4 != 0;
}

// The bytes of a data-in command the caller relies on. The standard commands
// may answer shorter than their allocation: INQUIRY and ATA IDENTIFY are read
// with their tails as zeros (a zero model or revision names no supported chip,
// zero IDENTIFY words no feature), READ CAPACITY needs its first two fields.
// Every vendor read (flash, registers, window, header block, version) is
// taken only whole: its length is what the logic compares and decodes.
uint32_t bytes_needed(const VendorCommand& command, uint32_t length) {
    switch (command.cdb[0]) {
        case OP_INQUIRY:
        case OP_ATA_PASS_THROUGH_12:
            return 0;
        case OP_SERVICE_ACTION_IN_16:
            return std::min(length, CAPACITY_FIELDS);
        default:
            return length;
    }
}

}  // namespace

OsDevice* dev_open_raw(const char* path) {
    // The holder is made before the device is opened, so running out of
    // memory never leaves an open device behind.
    std::unique_ptr<OsDevice> holder(new (std::nothrow) OsDevice);
    if (!holder || !path)
        return nullptr;
    OsHandle handle = platform().open_device(path);
    if (handle == INVALID_OS_HANDLE)
        return nullptr;
    holder->handle = handle;
    return holder.release();
}

int dev_close_raw(OsDevice* holder) {
    if (!holder)
        return -1;
    std::unique_ptr<OsDevice> owned(holder);
    if (owned->handle == INVALID_OS_HANDLE)
        return -1;
    return platform().close_device(owned->handle) ? 0 : -1;
}

DeviceHandle* dev_open(const char* path) {
    std::unique_ptr<DeviceHandle> handle(new (std::nothrow) DeviceHandle);
    if (!handle)
        return nullptr;
    handle->device = dev_open_raw(path);
    if (!handle->device)
        return nullptr;
    return handle.release();
}

int dev_close(DeviceHandle* handle) {
    if (!handle)
        return -1;
    std::unique_ptr<DeviceHandle> owned(handle);
    return dev_close_raw(owned->device);
}

int dev_send(DeviceHandle* handle, const VendorCommand& command, void* data, int32_t length,
             uint8_t direction, uint32_t timeout_s, uint8_t* sense) {
    // A negative length names no buffer at all; nothing is sent for it.
    if (!handle || !handle->device || length < 0)
        return -1;

    // The pass-through wants a buffer on a 4-byte boundary. A misaligned one
    // travels through a copy (std::vector's storage is aligned for any scalar)
    // that is a little longer than asked, as the platform may round up.
    Buffer aligned;
    void* transfer = data;
    const bool copied = length != 0 && misaligned(data);
    if (copied) {
        if (!buffer_alloc(aligned, (uint32_t(length) & ~3u) + 4))
            return -1;
        std::memcpy(aligned.data(), data, size_t(length));
        transfer = aligned.data();
    }

    ScsiCommand request;
    std::copy_n(command.cdb, sizeof request.cdb, request.cdb);
    request.data = transfer;
    request.length = uint32_t(length);
    request.data_in = direction != 0;
    request.timeout_s = timeout_s;

    Platform& layer = platform();
    bool call_ok = false;
    int error = 0;
    for (int call = 0; call < SEND_CALLS; ++call) {
        call_ok = layer.pass_through(handle->device->handle, request);
        if (call_ok)
            break;
        error = layer.last_error();
        if (error != layer.general_failure_code())
            break;
    }

    if (sense)
        std::copy_n(request.sense, SENSE_COPY, sense);
    int result = request.scsi_status != 0 ? request.scsi_status : (call_ok ? 0 : error);
    if (result == 0 && direction != 0 && request.residual != 0 && transfer) {
        // What the device did not move reads as zeros, never as the buffer's
        // old bytes.
        const uint32_t moved = uint32_t(length) - std::min(request.residual, uint32_t(length));
        std::memset(static_cast<uint8_t*>(transfer) + moved, 0, size_t(length) - moved);
        if (moved < bytes_needed(command, uint32_t(length)))
            result = SHORT_READ_RESULT;
    }
    if (copied && direction != 0)
        std::memcpy(data, aligned.data(), size_t(length));
    return result;
}

uint16_t dev_block_length(const DeviceHandle* handle) {
    return handle ? uint16_t(handle->block_length) : 0;
}

}  // namespace vtx
