// The optional LED image.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

int led_check_image(const char* path, uint8_t* header64);
int32_t led_image_size(const char* path);
int led_download(DeviceHandle* handle, const char* path);

}  // namespace vtx
