// Windows: opening a drive, closing it, and one SCSI command through
// IOCTL_SCSI_PASS_THROUGH_DIRECT, which moves the data straight from and to
// the caller's buffer.
#include <algorithm>

#include "device/platform/win32_platform.h"
#include "device/platform/win32_request.h"

namespace vtx {

namespace {
// INVALID_HANDLE_VALUE is the handle -1, the same value as INVALID_OS_HANDLE,
// but open_device never hands it out.
HANDLE native(OsHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
}  // namespace

OsHandle Win32Platform::open_device(const char* path) {
    HANDLE handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        last_error_ = int(GetLastError());
        return INVALID_OS_HANDLE;
    }
    return reinterpret_cast<OsHandle>(handle);
}

bool Win32Platform::close_device(OsHandle handle) {
    if (CloseHandle(native(handle)))
        return true;
    last_error_ = int(GetLastError());
    return false;
}

bool Win32Platform::pass_through(OsHandle handle, ScsiCommand& command) {
    PassThroughRequest request;
    fill_pass_through_request(request, command);
    // `returned` counts the bytes of the request structure; the data moved
    // stands in the request's DataTransferLength.
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(native(handle), IOCTL_SCSI_PASS_THROUGH_DIRECT, &request,
                                    sizeof request, &request, sizeof request, &returned, nullptr);
    if (!ok)
        last_error_ = int(GetLastError());
    command.scsi_status = request.sptd.ScsiStatus;
    std::copy_n(request.sense, sizeof command.sense, command.sense);
    command.residual = ok ? pass_through_residual(request, command) : command.length;
    return ok != FALSE;
}

int Win32Platform::last_error() {
    return last_error_;
}

int Win32Platform::general_failure_code() const {
    return ERROR_GEN_FAILURE;
}

}  // namespace vtx
