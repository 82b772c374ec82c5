// Placeholder until the pass-through layer lands: nothing opens.
#include "device/platform/win32_platform.h"

namespace vtx {

OsHandle Win32Platform::open_device(const char*) {
    last_error_ = 2;
    return INVALID_OS_HANDLE;
}
bool Win32Platform::close_device(OsHandle) { return false; }
bool Win32Platform::pass_through(OsHandle, ScsiCommand&) {
    last_error_ = 1;
    return false;
}
int Win32Platform::last_error() { return last_error_; }
int Win32Platform::general_failure_code() const { return 31; }

}  // namespace vtx
