// Firmware and rescue image files: header, payload CRC-32, size, and the check
// that an image fits the connected chip and slot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/transport.h"
#include "update/crc.h"
#include "vtx/records.h"

namespace vtx {

// Reads the file's first 4096 bytes, copies the first 2048 into `header`, and
// verifies the payload CRC. 0 or -1.
int fw_read_header(const char* path, uint8_t* header);

// The file's size in bytes, or -1.
int32_t fw_file_size(const char* path);

// An image as validation accepted it: its header and its size. Every later
// reader of the file must find the same, so that what reaches the bridge is
// what was checked.
struct ValidatedImage {
    const char* path = nullptr;
    uint8_t header[IMAGE_HEADER_SIZE] = {};
    uint32_t size = 0;
};

// Whether the image at `path` fits the chip behind `handle` and the slot
// (rescue_slot true: rescue, false: main). 0, -1, or the chip id read's code.
// On 0, `kept` (when given) receives the header and size that were checked.
int fw_check_image(DeviceHandle* handle, const char* path, bool rescue_slot,
                   ValidatedImage* kept = nullptr);

// The chip variant an image must carry for chip_id and chip_rev; -1 for none.
int fw_expected_variant(uint32_t chip_id, uint32_t chip_rev);

// Whether the chip takes its rescue image in a format of its own (signature
// MODE_RESCUE): the first chips do; every later chip takes a main-format
// image marked IMAGE_TYPE_RESCUE_IN_MAIN.
bool fw_takes_rescue_format(uint32_t chip_id);
// Whether an image with this header may fill the chip's rescue slot
// (rescue_slot true) or its main slot, by signature and image type alone.
bool fw_slot_rule_met(const ImageHeader& header, uint32_t chip_id, bool rescue_slot);

// Whether a header fits the layout the download walks: lead_offset 0,
// body_offset equal to lead_length, lead_length and the body length multiples
// of 4096, a file at least as long as its lead region, both regions inside
// the 32-bit address space and the body clear of the header block.
bool fw_layout_fits(const ImageHeader& header, uint32_t file_size);
// Whether the body of an image of `file_size` bytes stays off the header
// block (on it or across it is refused) and both regions end inside the
// 32-bit address space.
bool fw_body_clear_of_header_block(const ImageHeader& header, uint32_t file_size);

// The flash an image of that layout is written to: its lead region and its
// body, each as [start, start + length) in 64-bit arithmetic.
struct FlashSpan {
    uint64_t start = 0;
    uint64_t length = 0;
};
struct ImageSpans {
    FlashSpan lead;
    FlashSpan body;
};
// The flash of an image as validation accepted it (its kept header and size),
// not as the file may read by now.
ImageSpans fw_image_spans(const ValidatedImage& image);

}  // namespace vtx
