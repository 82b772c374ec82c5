// The optional LED image.
#pragma once

#include <cstdint>

#include "device/transport.h"
#include "update/image.h"

namespace vtx {

int led_check_image(const char* path, uint8_t* header64);
int32_t led_image_size(const char* path);
// With `expected_header64`, a file whose header is not that one (replaced
// since it was checked, and so perhaps placed elsewhere) writes nothing: -1.
int led_download(DeviceHandle* handle, const char* path,
                 const uint8_t* expected_header64 = nullptr);

// Whether the blocks the LED image of `header64` writes stay clear of the
// flash of both images as validation accepted them, so the LED image cannot
// overwrite a firmware the bridge boots from.
bool led_clear_of_images(const uint8_t* header64, const ValidatedImage& bin,
                         const ValidatedImage& rescue);

}  // namespace vtx
