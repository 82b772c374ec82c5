// Placeholder until the process layer lands.
#include "device/platform/linux_platform.h"

namespace vtx {

void LinuxPlatform::pause_ms(unsigned) {}
double LinuxPlatform::monotonic_seconds() { return 0; }
std::string LinuxPlatform::executable_path() { return {}; }
bool LinuxPlatform::is_elevated() { return false; }
void LinuxPlatform::relaunch_elevated(int, char**) {}
bool LinuxPlatform::is_terminal(std::FILE*) { return false; }

}  // namespace vtx
