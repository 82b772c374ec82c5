// Placeholder until the SG_IO layer lands: nothing opens.
#include <cerrno>

#include "device/platform/linux_platform.h"

namespace vtx {

LinuxPlatform::LinuxPlatform(std::string dev_root, std::string sys_root)
    : dev_root_(std::move(dev_root)), sys_root_(std::move(sys_root)) {}

OsHandle LinuxPlatform::open_device(const char*) {
    last_error_ = ENOSYS;
    return INVALID_OS_HANDLE;
}
bool LinuxPlatform::close_device(OsHandle) { return false; }
bool LinuxPlatform::pass_through(OsHandle, ScsiCommand&) {
    last_error_ = ENOSYS;
    return false;
}
int LinuxPlatform::last_error() { return last_error_; }
int LinuxPlatform::general_failure_code() const { return EIO; }

}  // namespace vtx
