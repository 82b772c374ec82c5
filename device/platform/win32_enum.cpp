// Placeholder until the storage enumeration lands.
#include "device/platform/win32_platform.h"

namespace vtx {

std::string Win32Platform::candidate_path(int, int) { return {}; }
bool Win32Platform::is_usb(OsHandle) { return false; }

}  // namespace vtx
