// The rewrite of the header block's image half from an image file. It lives
// with the image reader it needs, above the flash access it writes through, so
// the parameter programming below can use flash access without the update
// engine.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

// Writes the image's header into the header block's lower half, the bridge's
// parameters staying in the upper half. With `expected_header`, a file whose
// header is not that one (replaced or changed since it was checked) writes
// nothing and gives -1.
int flash_write_header_block(DeviceHandle* handle, const char* image_path,
                             const uint8_t* expected_header = nullptr);

}  // namespace vtx
