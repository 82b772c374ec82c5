#include "update/flash.h"

#include <cstring>

#include "device/bridge.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

constexpr int VERIFY_ATTEMPTS = 4;

// One write-and-read-back cycle: 0, -1 for a mismatch, or the transport's code.
int write_and_compare(DeviceHandle* handle, uint32_t address, const uint8_t* data, uint32_t length,
                      uint8_t* readback) {
    int result = flash_write(handle, address, data, length);
    if (result != 0)
        return result;
    result = dev_memory_read(handle, read_window(address), readback, length);
    if (result != 0)
        return result;
    if (length != 0 && std::memcmp(readback, data, length) != 0)
        return -1;
    return 0;
}

}  // namespace

int flash_write(DeviceHandle* handle, uint32_t address, const uint8_t* data, uint32_t length) {
    // The bridge programs whole 4096-byte units; anything else is refused
    // before the address is even set.
    if ((length & (FLASH_UNIT - 1)) != 0)
        return -1;

    uint8_t address_bytes[4];
    store_le32(address_bytes, address);
    VendorCommand set_address =
        vendor_command(OP_VENDOR_WRITE, SUB_SET_FLASH_ADDRESS, address, sizeof address_bytes);
    int result = dev_send(handle, set_address, address_bytes, sizeof address_bytes, DIR_OUT,
                          DEV_TIMEOUT, nullptr);
    if (result != 0)
        return result;

    VendorCommand write = vendor_command(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE, 0, length);
    // dev_send takes a mutable pointer for both directions; an out-phase
    // leaves the data as it was.
    return dev_send(handle, write, const_cast<uint8_t*>(data), static_cast<int32_t>(length),
                    DIR_OUT, DEV_TIMEOUT, nullptr);
}

int flash_write_verify(DeviceHandle* handle, uint32_t address, const uint8_t* data,
                       uint32_t length) {
    // Each read-back fills the whole buffer before it is compared.
    ScratchBuffer readback;
    if (!buffer_alloc_scratch(readback, length))
        return -1;
    // No erase and no pause between attempts: each one rewrites the whole
    // range and reads it back.
    int result = -1;
    for (int attempt = 0; attempt < VERIFY_ATTEMPTS; ++attempt) {
        result = write_and_compare(handle, address, data, length, readback.data());
        if (result == 0)
            break;
    }
    return result;
}

}  // namespace vtx
