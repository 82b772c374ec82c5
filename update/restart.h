// Restart the bridge and find it again by its identity word.
#pragma once

#include "device/transport.h"

namespace vtx {

int fw_restart_reconnect(DeviceHandle** slot, const char* image_path, int limit_seconds);

}  // namespace vtx
