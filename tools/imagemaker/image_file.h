// The one image builder: firmware and rescue image files made from a recipe,
// for vtx_imagemaker, the simulated bridges and the tests alike. It is a
// library of its own (vtx_imagefile) below both, and uses none of the update
// tool's code, its CRC included: an image made here holds the tool to the
// standard CRC-32 instead of to the tool's own folds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vtx/records.h"

namespace vtx::imagemaker {

// Flash map of the images this tool makes. The lead region always lands on
// the header block; the two bodies and the LED image sit apart so that no
// image overwrites another.
constexpr uint32_t MAIN_BODY_ADDRESS = 0x8C010000;    // up to 0x8C1FFFFF
constexpr uint32_t RESCUE_BODY_ADDRESS = 0x8C200000;  // up to 0x8C2FFFFF
constexpr uint32_t LED_IMAGE_ADDRESS = 0x8C300000;    // up to 0x8C30FFFF
constexpr uint32_t MAIN_BODY_LIMIT = RESCUE_BODY_ADDRESS - MAIN_BODY_ADDRESS;
constexpr uint32_t RESCUE_BODY_LIMIT = LED_IMAGE_ADDRESS - RESCUE_BODY_ADDRESS;

constexpr uint32_t LEAD_LENGTH = 4096;  // 2048-byte header + 2048 filler bytes
constexpr uint32_t DEFAULT_BODY_SIZE = 65536;
constexpr uint32_t DEFAULT_LED_SIZE = 5000;

// Header bytes 64 to 83: five little-endian words (major, minor, patch,
// spare, build date) that the running firmware reports as its version.
constexpr uint32_t HEADER_VERSION_OFFSET = 64;

// Filler (an image's lead region, an LED image) comes from another stream of
// the seed than a body, so two images with different seeds differ everywhere.
constexpr uint32_t FILLER_STREAM = 0x9E3779B9;

// How an image's bytes outside its header are filled.
enum class ImageFill {
    kPseudoRandom,  // lead filler and body from two xorshift streams of the seed
    kCounting,      // lead filler zero, body a counting pattern of the seed
};

// What goes into a firmware or rescue image.
struct ImageRecipe {
    uint32_t signature = MODE_MAIN;  // MODE_RESCUE: rescue image in rescue format
    uint8_t image_type = 0;          // IMAGE_TYPE_RESCUE_IN_MAIN: rescue image in main format
    uint8_t chip_variant = 13;
    FirmwareVersion version{1, 0, 0, 0, 20240101};
    uint32_t body_size = DEFAULT_BODY_SIZE;  // a multiple of 4096, 0 allowed
    uint32_t body_address = MAIN_BODY_ADDRESS;
    uint32_t lead_address = HEADER_BLOCK_ADDRESS;
    uint32_t lead_length = LEAD_LENGTH;  // at least 2048; not a multiple of 4096: refused
    uint32_t seed = 1;
    ImageFill fill = ImageFill::kPseudoRandom;
};

// The image file: lead region (header, then filler) followed by the body;
// lead_offset 0, body_offset = payload_offset = lead_length, payload = body,
// with its CRC-32, and the version at HEADER_VERSION_OFFSET.
std::vector<uint8_t> build_image(const ImageRecipe& recipe);

// The interpreted header fields of an image file (at least 2048 bytes).
ImageHeader image_header_of(const std::vector<uint8_t>& file);
// Rewrites the interpreted header fields, leaving the other header bytes as
// they are; with `recompute_crc` the payload CRC follows the new payload
// range (0 when the range does not lie inside the file).
void set_image_header(std::vector<uint8_t>& file, const ImageHeader& header,
                      bool recompute_crc = true);
// CRC-32 of the payload range a header names, as the reader computes it; 0
// when the range does not lie inside the file.
uint32_t payload_crc_of(const std::vector<uint8_t>& file, const ImageHeader& header);

// Deterministic filler: `length` bytes from a xorshift generator seeded with
// `seed` (0 is taken as 1).
std::vector<uint8_t> pseudo_random_bytes(uint32_t seed, size_t length);

// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, preset and final inversion),
// continued from `crc` (0 to start). Byte at a time on purpose: it shares no
// code with the update tool's folds.
uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

}  // namespace vtx::imagemaker
