// Placeholder until the sysfs enumeration lands.
#include "device/platform/linux_platform.h"

namespace vtx {

std::string LinuxPlatform::candidate_path(int, int) { return {}; }
bool LinuxPlatform::is_usb(OsHandle) { return false; }
bool LinuxPlatform::block_device_is_usb(const std::string&) const { return false; }

}  // namespace vtx
