// Placeholder until the process layer lands.
#include "device/platform/win32_platform.h"

namespace vtx {

void Win32Platform::pause_ms(unsigned) {}
double Win32Platform::monotonic_seconds() { return 0; }
std::string Win32Platform::executable_path() { return {}; }
bool Win32Platform::is_elevated() { return false; }
void Win32Platform::relaunch_elevated(int, char**) {}
bool Win32Platform::is_terminal(std::FILE*) { return false; }

}  // namespace vtx
