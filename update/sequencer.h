// The staged update: validation, rescue install, main install.
#pragma once

#include <cstdint>
#include <string>

#include "device/transport.h"

namespace vtx {

// led_path and cfg_path may be null or empty: every step that uses them is
// skipped. Result 0, or one of -1 and -3 to -15. `found_path`, when given,
// receives the path under which the bridge was last found: the device path,
// or where a restart found it again.
int fw_update(const char* device_path, const char* bin_path, const char* rescue_path,
              const char* cfg_path, const char* led_path, std::string* found_path = nullptr);

void fw_query_mode(DeviceHandle* handle, uint32_t* mode);

}  // namespace vtx
