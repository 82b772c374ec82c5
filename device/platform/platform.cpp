#include "device/platform/platform.h"

#ifdef _WIN32
#include "device/platform/win32_platform.h"
#else
#include "device/platform/linux_platform.h"
#endif

namespace vtx {

namespace {
Platform* installed = nullptr;
}

Platform& native_platform() {
#ifdef _WIN32
    static Win32Platform layer;
#else
    static LinuxPlatform layer;
#endif
    return layer;
}

Platform& platform() {
    return installed ? *installed : native_platform();
}

void platform_install(Platform* layer) {
    installed = layer;
}

}  // namespace vtx
