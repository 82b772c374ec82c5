// The rewrite of the header block's image half from an image file. It lives
// with the image reader it needs, above the flash access it writes through, so
// the parameter programming below can use flash access without the update
// engine.
#pragma once

#include "device/transport.h"

namespace vtx {

int flash_write_header_block(DeviceHandle* handle, const char* image_path);

}  // namespace vtx
