// Flash access: writes in whole 4096-byte units, write-and-verify through the
// read window, and the rewrite of the header block's image half.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

int flash_write(DeviceHandle* handle, uint32_t address, const uint8_t* data, uint32_t length);
int flash_write_verify(DeviceHandle* handle, uint32_t address, const uint8_t* data,
                       uint32_t length);
// Writes the image's header into the header block's lower half, the bridge's
// parameters staying in the upper half. With `expected_header`, a file whose
// header is not that one (replaced or changed since it was checked) writes
// nothing and gives -1.
int flash_write_header_block(DeviceHandle* handle, const char* image_path,
                             const uint8_t* expected_header = nullptr);

}  // namespace vtx
