#include "update/download.h"

#include <cstdio>
#include <memory>

#include "device/bridge.h"
#include "params/programming.h"
#include "update/flash.h"
#include "update/image.h"
#include "update/progress.h"
#include "vtx/buffer.h"
#include "vtx/file.h"
#include "vtx/records.h"

namespace vtx {

namespace {

constexpr uint32_t LARGEST_CHUNK = 65536;

// The position of the end of the file; false when it cannot be had or does not
// fit the 32-bit arithmetic of the walk.
bool file_size_of(std::FILE* file, uint32_t& size) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return false;
    long end = std::ftell(file);
    if (end < 0 || static_cast<unsigned long>(end) > 0xFFFFFFFFul)
        return false;
    size = uint32_t(end);
    return std::fseek(file, 0, SEEK_SET) == 0;
}

struct Download {
    DeviceHandle* handle;
    std::FILE* file;
    Buffer& chunk;
};

// One chunk: read from the file, the parameter half taken from the bridge when
// the chunk lands on the header block, written and verified, counted.
int write_chunk(const Download& run, uint32_t position, uint32_t address, uint32_t length) {
    // A chunk the file cannot give in full means the file changed under us:
    // writing what is left would report an image that is not in flash.
    if (std::fseek(run.file, long(position), SEEK_SET) != 0)
        return -1;
    if (std::fread(run.chunk.data(), 1, length, run.file) != length)
        return -1;
    if (address == HEADER_BLOCK_ADDRESS && length >= HEADER_BLOCK_SIZE) {
        int result =
            param_read_area(run.handle, run.chunk.data() + HEADER_HALF_SIZE, HEADER_HALF_SIZE);
        if (result != 0)
            return result;
    }
    int result = flash_write_verify(run.handle, address, run.chunk.data(), length);
    if (result != 0)
        return result;
    fw_add_done(length);
    return 0;
}

// A region from its end towards its start, in chunks of the buffer's size: the
// first chunk holds the region's last bytes, the last one whatever is left.
int write_region(const Download& run, uint32_t offset, uint32_t address, uint32_t length) {
    uint32_t chunk_size = uint32_t(run.chunk.size());
    uint32_t left = length;
    while (left > 0) {
        uint32_t n = left < chunk_size ? left : chunk_size;
        left -= n;
        int result = write_chunk(run, offset + left, address + left, n);
        if (result != 0)
            return result;
    }
    return 0;
}

}  // namespace

uint32_t fw_chunk_size(bool query_ok, uint32_t reported) {
    if (!query_ok || reported < FLASH_UNIT)
        return FLASH_UNIT;
    if (reported > LARGEST_CHUNK)
        return LARGEST_CHUNK;
    // Flash takes whole 4096-byte units; a chunk of any other length would be
    // refused by every write.
    return reported - reported % FLASH_UNIT;
}

int fw_download(DeviceHandle* handle, const char* path) {
    uint8_t header_bytes[IMAGE_HEADER_SIZE] = {};
    int result = fw_read_header(path, header_bytes);
    if (result != 0)
        return result;
    ImageHeader header = image_header_from_bytes(header_bytes);

    File file(std::fopen(path, "rb"));
    if (!file)
        return -1;
    uint32_t file_size = 0;
    if (!file_size_of(file.get(), file_size))
        return -1;
    // The walk below is only defined for this layout; any other header could
    // make it skip the file's start or circle for ever, so it is refused before
    // anything is written.
    if (!fw_layout_fits(header, file_size))
        return -1;

    uint32_t reported = 0;
    bool query_ok = dev_query_max_transfer(handle, &reported) == 0;
    Buffer chunk;
    if (!buffer_alloc(chunk, fw_chunk_size(query_ok, reported)))
        return -1;

    // The body goes first and the lead region last, so a failure in the body
    // leaves the header block as it was and the bridge still boots its old image.
    Download run{handle, file.get(), chunk};
    uint32_t body_length = file_size - header.lead_length;
    result = write_region(run, header.body_offset, header.body_address, body_length);
    if (result != 0)
        return result;
    return write_region(run, header.lead_offset, header.lead_address, header.lead_length);
}

}  // namespace vtx
