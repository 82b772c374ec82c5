#include "update/download.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "device/bridge.h"
#include "params/programming.h"
#include "update/crc_combine.h"
#include "update/flash.h"
#include "update/progress.h"
#include "vtx/buffer.h"
#include "vtx/file.h"
#include "vtx/records.h"

namespace vtx {

namespace {

constexpr uint32_t LARGEST_CHUNK = 65536;
constexpr uint64_t PARAMETER_HALF_START = HEADER_BLOCK_ADDRESS + HEADER_HALF_SIZE;

// The position of the end of the file; false when it cannot be had or is not
// the size validation accepted.
bool size_is(std::FILE* file, uint32_t expected) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return false;
    long end = std::ftell(file);
    return end >= 0 && static_cast<unsigned long>(end) == expected;
}

// Whether the file still begins with the header validation accepted. Checked
// before the first write, and again on the chunk that carries it.
bool header_is(std::FILE* file, const uint8_t* expected) {
    uint8_t bytes[IMAGE_HEADER_SIZE];
    return std::fseek(file, 0, SEEK_SET) == 0 &&
           std::fread(bytes, 1, sizeof bytes, file) == sizeof bytes &&
           std::memcmp(bytes, expected, sizeof bytes) == 0;
}

// [start, end) of two ranges in common, empty when they are apart.
struct Range {
    uint64_t start = 0, end = 0;
    uint64_t length() const { return end > start ? end - start : 0; }
};
Range common(Range a, Range b) {
    return {std::max(a.start, b.start), std::min(a.end, b.end)};
}

struct Chunk {
    uint32_t position = 0;  // in the file
    uint32_t address = 0;   // in flash
    uint32_t length = 0;
    bool covers(uint64_t flash_address) const {
        return address <= flash_address && flash_address < uint64_t(address) + length;
    }
};

struct Download {
    DeviceHandle* handle;
    std::FILE* file;
    Buffer& chunk;
    const ValidatedImage& image;
    ImageHeader header;
    Chunk held;         // the chunk on the header block, written last
    bool has_held;      // whether the image has one
    bool past_held;     // the walk has gone below it in the file
    CrcRun after_held;  // payload sent from the chunks above it in the file
    CrcRun before_held;
};

// Reads a chunk and checks what can be checked of it alone: the image header,
// when the chunk holds the file's first bytes, must be the one validated.
int read_chunk(const Download& run, const Chunk& chunk) {
    if (std::fseek(run.file, long(chunk.position), SEEK_SET) != 0)
        return -1;
    if (std::fread(run.chunk.data(), 1, chunk.length, run.file) != chunk.length)
        return -1;
    if (chunk.position == 0 && chunk.length >= IMAGE_HEADER_SIZE &&
        std::memcmp(run.chunk.data(), run.image.header, IMAGE_HEADER_SIZE) != 0)
        return -1;
    return 0;
}

// The CRC of the payload bytes a chunk carries, and how many there are.
CrcRun payload_of(const Download& run, const Chunk& chunk) {
    Range payload{run.header.payload_offset,
                  uint64_t(run.header.payload_offset) + run.header.payload_length};
    Range part = common(payload, {chunk.position, uint64_t(chunk.position) + chunk.length});
    CrcRun piece;
    if (part.length() == 0)
        return piece;
    piece.crc = crc32_update(0, run.chunk.data() + (part.start - chunk.position), part.length());
    piece.length = part.length();
    return piece;
}

// Where the chunk covers the header block, whatever its size and start, the
// block gets what the bridge boots from: the validated image header in the
// lower half and the bridge's parameters in the upper half, in place of the
// file's bytes. With the lead region on the header block the lower half is
// the file's own header anyway; a lead region that covers the block from
// below would otherwise leave filler there, which the bridge would take for a
// header until the restart writes the real one.
int carry_header_block(const Download& run, const Chunk& chunk) {
    const Range span{chunk.address, uint64_t(chunk.address) + chunk.length};
    Range image_half = common({HEADER_BLOCK_ADDRESS, PARAMETER_HALF_START}, span);
    if (image_half.length() != 0) {
        std::memcpy(run.chunk.data() + (image_half.start - chunk.address),
                    run.image.header + (image_half.start - HEADER_BLOCK_ADDRESS),
                    image_half.length());
    }
    Range half = common({PARAMETER_HALF_START, HEADER_BLOCK_END}, span);
    if (half.length() == 0)
        return 0;
    uint8_t area[HEADER_HALF_SIZE];
    int result = param_read_area(run.handle, area, HEADER_HALF_SIZE);
    if (result != 0)
        return result;
    std::memcpy(run.chunk.data() + (half.start - chunk.address),
                area + (half.start - PARAMETER_HALF_START), half.length());
    return 0;
}

int send_chunk(const Download& run, const Chunk& chunk) {
    int result = carry_header_block(run, chunk);
    if (result != 0)
        return result;
    result = flash_write_verify(run.handle, chunk.address, run.chunk.data(), chunk.length);
    if (result != 0)
        return result;
    fw_add_done(chunk.length);
    return 0;
}

// One chunk of the walk: read, its payload counted, sent; the chunk on the
// header block is only noted, to go last.
int walk_chunk(Download& run, const Chunk& chunk) {
    if (run.has_held && chunk.position == run.held.position) {
        run.past_held = true;
        return 0;
    }
    int result = read_chunk(run, chunk);
    if (result != 0)
        return result;
    CrcRun piece = payload_of(run, chunk);
    (run.past_held ? run.before_held : run.after_held).prepend(piece.crc, piece.length);
    return send_chunk(run, chunk);
}

// A region from its end towards its start, in chunks of the buffer's size: the
// first chunk holds the region's last bytes, the last one whatever is left.
// With `find_held`, nothing is sent: the chunk on the header block is looked for.
int walk_region(Download& run, uint32_t offset, uint32_t address, uint32_t length, bool find_held) {
    uint32_t chunk_size = uint32_t(run.chunk.size());
    uint32_t left = length;
    while (left > 0) {
        uint32_t n = left < chunk_size ? left : chunk_size;
        left -= n;
        Chunk chunk{offset + left, address + left, n};
        if (find_held) {
            if (chunk.covers(HEADER_BLOCK_ADDRESS)) {
                run.held = chunk;
                run.has_held = true;
            }
            continue;
        }
        int result = walk_chunk(run, chunk);
        if (result != 0)
            return result;
    }
    return 0;
}

int walk(Download& run, bool find_held) {
    uint32_t body_length = run.image.size - run.header.lead_length;
    int result =
        walk_region(run, run.header.body_offset, run.header.body_address, body_length, find_held);
    if (result != 0)
        return result;
    return walk_region(run, run.header.lead_offset, run.header.lead_address, run.header.lead_length,
                       find_held);
}

// Every payload byte sent, and those of the held chunk, must give the CRC
// validation accepted; only then does the chunk that switches the bridge to
// the new image go out.
int finish(Download& run) {
    CrcRun total = run.after_held;
    if (run.has_held) {
        int result = read_chunk(run, run.held);
        if (result != 0)
            return result;
        CrcRun piece = payload_of(run, run.held);
        total.prepend(piece.crc, piece.length);
    }
    total.prepend(run.before_held.crc, run.before_held.length);
    if (total.crc != run.header.payload_crc || total.length != run.header.payload_length)
        return -1;
    return run.has_held ? send_chunk(run, run.held) : 0;
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
    ValidatedImage image;
    image.path = path;
    int result = fw_read_header(path, image.header);
    if (result != 0)
        return result;
    int32_t size = fw_file_size(path);
    if (size < 0)
        return -1;
    image.size = uint32_t(size);
    return fw_download_validated(handle, image);
}

int fw_download_validated(DeviceHandle* handle, const ValidatedImage& image) {
    if (image.path == nullptr)
        return -1;
    File file(open_regular_file(image.path, "rb"));
    if (!file || !size_is(file.get(), image.size) || !header_is(file.get(), image.header))
        return -1;
    ImageHeader header = image_header_from_bytes(image.header);
    // The walk below is only defined for this layout; any other header could
    // make it skip the file's start or circle for ever, so it is refused before
    // anything is written.
    if (!fw_layout_fits(header, image.size))
        return -1;

    uint32_t reported = 0;
    bool query_ok = dev_query_max_transfer(handle, &reported) == 0;
    Buffer chunk;
    if (!buffer_alloc(chunk, fw_chunk_size(query_ok, reported)))
        return -1;

    // The body goes first and the lead region last, the chunk on the header
    // block after everything else: a failure before it, a payload that is not
    // the one validated included, leaves the header block as it was and the
    // bridge boots its old image.
    Download run{handle, file.get(), chunk, image, header, {}, false, false, {}, {}};
    int result = walk(run, true);
    if (result == 0)
        result = walk(run, false);
    return result == 0 ? finish(run) : result;
}

}  // namespace vtx
