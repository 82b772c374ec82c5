#include "update/led.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/bridge.h"
#include "update/flash.h"
#include "update/progress.h"
#include "vtx/buffer.h"
#include "vtx/file.h"
#include "vtx/records.h"

namespace vtx {

namespace {

// The LED image is written in whole blocks, so the flash it touches runs from
// flash_address to flash_address + total rounded up to a whole block. That
// range must stay below the end of the address space and must not reach the
// header block: a block there would overwrite the image header and the
// bridge's parameters with LED data.
FlashSpan led_blocks(uint32_t flash_address, uint32_t total) {
    uint64_t blocks = (uint64_t(total) + FLASH_UNIT - 1) / FLASH_UNIT;
    return {flash_address, blocks * FLASH_UNIT};
}

bool overlaps(const FlashSpan& a, const FlashSpan& b) {
    return a.length != 0 && b.length != 0 && a.start < b.start + b.length &&
           b.start < a.start + a.length;
}

bool led_range_allowed(uint32_t flash_address, uint32_t total) {
    FlashSpan blocks = led_blocks(flash_address, total);
    if (blocks.start + blocks.length > 0x100000000ull)
        return false;
    return !overlaps(blocks, {HEADER_BLOCK_ADDRESS, HEADER_BLOCK_SIZE});
}

}  // namespace

int led_check_image(const char* path, uint8_t* header64) {
    if (!path || !header64)
        return -1;
    File file(open_regular_file(path, "rb"));
    if (!file)
        return -1;
    if (std::fread(header64, 1, LED_HEADER_SIZE, file.get()) != LED_HEADER_SIZE)
        return -1;
    LedImageHeader header = led_header_from_bytes(header64);
    if (header.signature != LED_SIGNATURE)
        return -1;
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return -1;
    long size = std::ftell(file.get());
    // The two lengths are added without wrapping, and the sum must fit the
    // signed progress counter it is added to.
    uint64_t total = uint64_t(header.length_a) + header.length_b;
    if (size < 0 || static_cast<uint64_t>(size) != total || total > uint64_t(INT32_MAX))
        return -1;
    return led_range_allowed(header.flash_address, uint32_t(total)) ? 0 : -1;
}

bool led_clear_of_images(const uint8_t* header64, const ValidatedImage& bin,
                         const ValidatedImage& rescue) {
    LedImageHeader header = led_header_from_bytes(header64);
    FlashSpan blocks = led_blocks(header.flash_address, header.length_a + header.length_b);
    for (const ValidatedImage* image : {&bin, &rescue}) {
        ImageSpans spans = fw_image_spans(*image);
        if (overlaps(blocks, spans.lead) || overlaps(blocks, spans.body))
            return false;
    }
    return true;
}

int32_t led_image_size(const char* path) {
    if (!path || !*path)
        return 0;
    uint8_t header_bytes[LED_HEADER_SIZE] = {};
    if (led_check_image(path, header_bytes) != 0)
        return 0;
    LedImageHeader header = led_header_from_bytes(header_bytes);
    return int32_t(header.length_a + header.length_b);
}

int led_download(DeviceHandle* handle, const char* path, const uint8_t* expected_header64) {
    uint8_t header_bytes[LED_HEADER_SIZE] = {};
    int result = led_check_image(path, header_bytes);
    if (result != 0)
        return result;
    if (expected_header64 && std::memcmp(header_bytes, expected_header64, LED_HEADER_SIZE) != 0)
        return -1;
    LedImageHeader header = led_header_from_bytes(header_bytes);
    uint32_t total = header.length_a + header.length_b;

    File file(open_regular_file(path, "rb"));
    if (!file)
        return -1;
    Buffer block;
    if (!buffer_alloc(block, FLASH_UNIT))
        return -1;

    for (uint32_t done = 0; done < total;) {
        uint32_t n = total - done < FLASH_UNIT ? total - done : FLASH_UNIT;
        uint32_t address = header.flash_address + done;
        // Flash is written in whole blocks: the tail of the last, partial block
        // keeps what the flash already holds there.
        if (n < FLASH_UNIT) {
            result = dev_memory_read(handle, read_window(address), block.data(), FLASH_UNIT);
            if (result != 0)
                return result;
        }
        if (std::fread(block.data(), 1, n, file.get()) != n)
            return -1;
        result = flash_write_verify(handle, address, block.data(), FLASH_UNIT);
        if (result != 0)
            return result;
        done += n;
        fw_add_done(n);
    }
    return 0;
}

}  // namespace vtx
