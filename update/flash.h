// Flash access: writes in whole 4096-byte units and write-and-verify through
// the read window.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

int flash_write(DeviceHandle* handle, uint32_t address, const uint8_t* data, uint32_t length);
int flash_write_verify(DeviceHandle* handle, uint32_t address, const uint8_t* data,
                       uint32_t length);

}  // namespace vtx
