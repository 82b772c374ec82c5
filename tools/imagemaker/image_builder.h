// Builds image files in memory: firmware and rescue images in either format
// (through build_image), LED images, deliberately damaged variants of both,
// and parameter areas. The vtx_imagemaker program writes what these build;
// tests build their images with the same functions, so a test image and a
// shipped one are made alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/imagemaker/image_file.h"
#include "vtx/records.h"

namespace vtx::imagemaker {

// The variant a chip expects (as fw_expected_variant), -1 for none.
int variant_for_chip(uint32_t chip_id, uint32_t chip_rev);
// Whether images of the variant (2 and 3, the first chips') carry the rescue
// image in rescue format, as fw_takes_rescue_format says by chip id.
bool variant_takes_rescue_format(uint8_t chip_variant);

// A main image for the variant, body at MAIN_BODY_ADDRESS.
ImageRecipe firmware_recipe(uint8_t chip_variant,
                            const FirmwareVersion& version = {1, 0, 0, 0, 20240101});
// A rescue image for the variant, in the format its chip takes, body at
// RESCUE_BODY_ADDRESS.
ImageRecipe rescue_recipe(uint8_t chip_variant,
                          const FirmwareVersion& version = {1, 0, 0, 0, 20240101});
// The same by chip id and chip revision; the variant of a chip outside the
// table is 0, which no chip accepts.
ImageRecipe firmware_recipe_for_chip(uint32_t chip_id, uint32_t chip_rev);
ImageRecipe rescue_recipe_for_chip(uint32_t chip_id, uint32_t chip_rev);

// The image file, as build_image makes it.
std::vector<uint8_t> build_firmware_image(const ImageRecipe& recipe);
// The same with a lead region of `lead_length` bytes (body_offset and
// payload_offset follow it; at least 2048); lengths that are not multiples of 4096 make an
// image the update refuses.
std::vector<uint8_t> build_image_with_lead(const ImageRecipe& recipe, uint32_t lead_length);

// Damaged images. Each kind breaks one thing and keeps the rest valid (CRC
// included, unless the CRC is the damage).
enum class ImageDamage {
    kWrongCrc,               // payload_crc off by one bit
    kWrongSignature,         // neither MODE_MAIN nor MODE_RESCUE
    kWrongVariant,           // variant 0, which no chip expects
    kMainMarkedRescue,       // main format marked IMAGE_TYPE_RESCUE_IN_MAIN
    kLeadOffsetNotZero,      // lead_offset 4096
    kBodyOffsetNotLead,      // body_offset 8192, lead_length 4096
    kLeadLengthUnaligned,    // lead region of 6144 bytes, body_offset 6144
    kBodyLengthUnaligned,    // 2048 trailing bytes after the body
    kFileShorterThanLead,    // lead_length = body_offset = file size + 4096
    kShortFile,              // the first 3000 bytes only
    kNegativePayloadOffset,  // payload_offset 0x80000000
    kPayloadPastEnd,         // payload_offset beyond the end of the file
};
// A kind of damage with its command-line name and a one-line description.
template <class Kind>
struct DamageName {
    Kind kind;
    const char* name;
    const char* what;
};
using ImageDamageName = DamageName<ImageDamage>;
// Every kind with its command-line name and a one-line description.
const std::vector<ImageDamageName>& image_damage_kinds();
std::vector<uint8_t> build_damaged_image(const ImageRecipe& recipe, ImageDamage damage);

// What goes into an LED image: "SDEL" header, then pseudo-random content.
struct LedRecipe {
    uint32_t flash_address = LED_IMAGE_ADDRESS;
    uint32_t size = DEFAULT_LED_SIZE;  // whole file, at least 64 bytes
    uint32_t seed = 1;
};
// length_a covers the 64-byte header and length_b the rest, so that their
// sum is the file size.
std::vector<uint8_t> build_led_image(const LedRecipe& recipe);

enum class LedDamage {
    kWrongSignature,      // begins with "LEDS"
    kSizeMismatch,        // length_b one more than the file holds
    kShortFile,           // 40 bytes
    kReachesHeaderBlock,  // target range covers 0x8C004000
};
using LedDamageName = DamageName<LedDamage>;
const std::vector<LedDamageName>& led_damage_kinds();
std::vector<uint8_t> build_damaged_led_image(const LedRecipe& recipe, LedDamage damage);

// The 2048-byte parameter area a parameter file encodes to. 0, or -1 with a
// one-line reason in `error` when the update tool would refuse the file.
int build_parameter_area(const std::string& cfg_path, std::vector<uint8_t>& area,
                         std::string& error);
// Parameter-file text of an area (2048 bytes, or a 4096-byte header block
// whose upper half is the area). 0, or -1 with the reason in `error`; `text`
// then holds the records decoded before the fault.
int format_parameter_area(const std::vector<uint8_t>& area, std::string& text, std::string& error);

// Whole-file helpers; false when the file cannot be written or read. A file
// is written beside its old self and renamed over it (outfile::replace_file),
// with the reason in `error` when that fails.
bool write_binary_file(const std::string& path, const std::vector<uint8_t>& bytes,
                       std::string& error);
bool write_binary_file(const std::string& path, const std::vector<uint8_t>& bytes);
// Only a regular file of at most `limit` bytes is read (checked before the
// read, so neither a FIFO nor /dev/zero can hold the program up).
bool read_binary_file(const std::string& path, std::vector<uint8_t>& bytes, uint64_t limit,
                      std::string& error);
bool read_binary_file(const std::string& path, std::vector<uint8_t>& bytes);

// The largest image file this tool makes or reads back: a 64 MiB body and a
// lead region, with room to spare.
constexpr uint64_t MAX_IMAGE_FILE_SIZE = 65ull << 20;
// The largest parameter file read: the update tool's loader reads a bounded
// number of short lines, far below this.
constexpr uint64_t MAX_PARAMETER_FILE_SIZE = 4ull << 20;

}  // namespace vtx::imagemaker
