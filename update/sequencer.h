// The staged update: validation, rescue install, main install.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

// led_path and cfg_path may be null or empty: every step that uses them is
// skipped. Result 0, or one of -1 and -3 to -15.
int fw_update(const char* device_path, const char* bin_path, const char* rescue_path,
              const char* cfg_path, const char* led_path);

void fw_query_mode(DeviceHandle* handle, uint32_t* mode);

}  // namespace vtx
