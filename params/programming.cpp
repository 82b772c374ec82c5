#include "params/programming.h"

#include <algorithm>
#include <vector>

#include "device/bridge.h"
#include "params/encoder.h"
#include "params/parser.h"
#include "update/flash.h"
#include "vtx/buffer.h"

namespace vtx {

static_assert(PARAMETER_AREA_SIZE == HEADER_HALF_SIZE, "the area is the block's upper half");

namespace {

constexpr int WRITE_ATTEMPTS = 4;

// The whole header block through the read window, into a cleared buffer.
int read_block(DeviceHandle* handle, Buffer& block) {
    std::fill(block.begin(), block.end(), uint8_t(0));
    return dev_read_header_block(handle, block.data());
}

// The same into a buffer of the block's size, allocated here.
int read_new_block(DeviceHandle* handle, Buffer& block) {
    if (!buffer_alloc(block, HEADER_BLOCK_SIZE))
        return -1;
    return read_block(handle, block);
}

uint8_t* parameter_half(Buffer& block) {
    return block.data() + HEADER_HALF_SIZE;
}

}  // namespace

int param_read_area(DeviceHandle* handle, uint8_t* destination, uint32_t length) {
    if (length > HEADER_HALF_SIZE)
        return -1;
    Buffer block;
    int result = read_new_block(handle, block);
    if (result != 0)
        return result;
    std::copy_n(parameter_half(block), length, destination);
    return 0;
}

int param_write_area(DeviceHandle* handle, const uint8_t* area, uint32_t length) {
    if (length != PARAMETER_AREA_SIZE)
        return -1;
    // Every write carries, in its image half, what the bridge held a moment
    // before, so a retry never writes back a stale or damaged image header.
    Buffer block;
    int result = read_new_block(handle, block);
    if (result != 0)
        return result;
    for (int attempt = 1;; ++attempt) {
        std::copy_n(area, length, parameter_half(block));
        result = flash_write(handle, HEADER_BLOCK_ADDRESS, block.data(), HEADER_BLOCK_SIZE);
        if (result != 0)
            return result;
        result = read_block(handle, block);
        if (result != 0)
            return result;
        if (std::equal(area, area + length, parameter_half(block)))
            return 0;
        if (attempt == WRITE_ATTEMPTS)
            return -1;
        result = read_block(handle, block);
        if (result != 0)
            return result;
    }
}

int param_pack_file(const char* path, uint8_t* area) {
    std::vector<ParameterEntry> entries;
    if (path == nullptr || param_load_file(path, entries) != 0)
        return -1;
    int count = int(entries.size());
    if (!param_records_fit(param_encoded_size(entries.data(), count)))
        return -1;
    return param_pack_area(entries.data(), count, area) == 0 ? 0 : -1;
}

int param_apply_file(DeviceHandle* handle, const char* path, uint8_t validate_only) {
    if (path == nullptr || path[0] == '\0')
        return 0;
    Buffer area;
    if (!buffer_alloc(area, PARAMETER_AREA_SIZE))
        return -1;
    // Checked in the validation run as well: a file the area cannot hold
    // stops the update before its first write.
    if (param_pack_file(path, area.data()) != 0)
        return -1;
    if (validate_only != 0)
        return 0;
    return param_write_area(handle, area.data(), PARAMETER_AREA_SIZE);
}

}  // namespace vtx
