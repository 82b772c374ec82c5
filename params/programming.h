// The parameter area on the bridge: read, write with read-back, and the whole
// apply of a parameter file.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

int param_read_area(DeviceHandle* handle, uint8_t* destination, uint32_t length);
int param_write_area(DeviceHandle* handle, const uint8_t* area, uint32_t length);
int param_apply_file(DeviceHandle* handle, const char* path, uint8_t validate_only);

}  // namespace vtx
