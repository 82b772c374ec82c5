#include "update/header_block.h"

#include <cstring>

#include "device/bridge.h"
#include "update/flash.h"
#include "update/image.h"
#include "vtx/buffer.h"

namespace vtx {

int flash_write_header_block(DeviceHandle* handle, const char* image_path,
                             const uint8_t* expected_header) {
    Buffer block;
    if (!buffer_alloc(block, HEADER_BLOCK_SIZE))
        return -1;
    int result = dev_read_header_block(handle, block.data());
    if (result != 0)
        return result;
    // The image's header replaces the lower half; the bridge's parameters in
    // the upper half go back as they came.
    if (fw_read_header(image_path, block.data()) != 0)
        return -1;
    if (expected_header && std::memcmp(block.data(), expected_header, IMAGE_HEADER_SIZE) != 0)
        return -1;
    return flash_write_verify(handle, HEADER_BLOCK_ADDRESS, block.data(), HEADER_BLOCK_SIZE);
}

}  // namespace vtx
