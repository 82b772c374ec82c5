// Images broken on purpose, one fault each, for the refusal paths of the
// update: everything but the named fault stays as a good image has it.
#include <algorithm>

#include "tools/imagemaker/image_builder.h"
#include "vtx/record_writers.h"

namespace vtx::imagemaker {

namespace {

constexpr uint32_t FOREIGN_SIGNATURE = 0x12345678;
constexpr uint32_t SHORT_IMAGE_SIZE = 3000;
constexpr uint32_t SHORT_LED_SIZE = 40;
constexpr uint32_t NEGATIVE_OFFSET = 0x80000000;

// A header change that keeps the CRC the good image had: the payload bytes
// the CRC covers stay where they were.
std::vector<uint8_t> with_header(std::vector<uint8_t> file, void (*change)(ImageHeader&)) {
    ImageHeader header = image_header_of(file);
    change(header);
    set_image_header(file, header, false);
    return file;
}

}  // namespace

const std::vector<ImageDamageName>& image_damage_kinds() {
    static const std::vector<ImageDamageName> kinds = {
        {ImageDamage::kWrongCrc, "wrong-crc", "payload CRC off by one bit"},
        {ImageDamage::kWrongSignature, "wrong-signature", "signature 0x12345678"},
        {ImageDamage::kWrongVariant, "wrong-variant", "chip variant 0, which no chip expects"},
        {ImageDamage::kMainMarkedRescue, "main-marked-rescue",
         "main format marked 0xFE (a rescue image in main format)"},
        {ImageDamage::kLeadOffsetNotZero, "lead-offset-not-zero", "lead_offset 4096"},
        {ImageDamage::kBodyOffsetNotLead, "body-offset-not-lead",
         "body_offset 8192 while the lead region is 4096 bytes"},
        {ImageDamage::kLeadLengthUnaligned, "lead-length-unaligned",
         "lead region of 6144 bytes, body after it"},
        {ImageDamage::kBodyLengthUnaligned, "body-length-unaligned",
         "2048 bytes after the body, so the body is not whole 4096-byte units"},
        {ImageDamage::kFileShorterThanLead, "shorter-than-lead",
         "lead_length and body_offset 4096 bytes beyond the end of the file"},
        {ImageDamage::kShortFile, "short-file", "the first 3000 bytes of an image"},
        {ImageDamage::kNegativePayloadOffset, "negative-payload-offset",
         "payload_offset 0x80000000, a negative seek"},
        {ImageDamage::kPayloadPastEnd, "payload-past-end",
         "payload_offset 4096 bytes beyond the end of the file"},
    };
    return kinds;
}

std::vector<uint8_t> build_damaged_image(const ImageRecipe& recipe, ImageDamage damage) {
    std::vector<uint8_t> file = build_firmware_image(recipe);
    ImageHeader header = image_header_of(file);
    const uint32_t size = uint32_t(file.size());
    switch (damage) {
        case ImageDamage::kWrongCrc:
            header.payload_crc ^= 1;
            set_image_header(file, header, false);
            return file;
        case ImageDamage::kWrongSignature:
            return with_header(file, [](ImageHeader& h) { h.signature = FOREIGN_SIGNATURE; });
        case ImageDamage::kWrongVariant:
            return with_header(file, [](ImageHeader& h) { h.chip_variant = 0; });
        case ImageDamage::kMainMarkedRescue:
            return with_header(file, [](ImageHeader& h) {
                h.signature = MODE_MAIN;
                h.image_type = IMAGE_TYPE_RESCUE_IN_MAIN;
            });
        case ImageDamage::kLeadOffsetNotZero:
            return with_header(file, [](ImageHeader& h) { h.lead_offset = LEAD_LENGTH; });
        case ImageDamage::kBodyOffsetNotLead:
            return with_header(file, [](ImageHeader& h) { h.body_offset = 2 * LEAD_LENGTH; });
        case ImageDamage::kLeadLengthUnaligned:
            return build_image_with_lead(recipe, LEAD_LENGTH + LEAD_LENGTH / 2);
        case ImageDamage::kBodyLengthUnaligned: {
            std::vector<uint8_t> tail = pseudo_random_bytes(recipe.seed + 1, LEAD_LENGTH / 2);
            file.insert(file.end(), tail.begin(), tail.end());
            return file;
        }
        case ImageDamage::kFileShorterThanLead:
            header.lead_length = size + LEAD_LENGTH;
            header.body_offset = header.lead_length;
            set_image_header(file, header, false);
            return file;
        case ImageDamage::kShortFile:
            file.resize(SHORT_IMAGE_SIZE);
            return file;
        case ImageDamage::kNegativePayloadOffset:
            return with_header(file, [](ImageHeader& h) { h.payload_offset = NEGATIVE_OFFSET; });
        case ImageDamage::kPayloadPastEnd:
            header.payload_offset = size + LEAD_LENGTH;
            // An empty payload would need no read at all; make sure one is due.
            if (header.payload_length == 0)
                header.payload_length = LEAD_LENGTH;
            set_image_header(file, header, false);
            return file;
    }
    return file;
}

const std::vector<LedDamageName>& led_damage_kinds() {
    static const std::vector<LedDamageName> kinds = {
        {LedDamage::kWrongSignature, "led-wrong-signature", "begins with \"LEDS\""},
        {LedDamage::kSizeMismatch, "led-size-mismatch",
         "length_a + length_b one more than the file size"},
        {LedDamage::kShortFile, "led-short-file", "40 bytes, shorter than its header"},
        {LedDamage::kReachesHeaderBlock, "led-reaches-header-block",
         "flash_address chosen so that the last block lands on 0x8C004000"},
    };
    return kinds;
}

std::vector<uint8_t> build_damaged_led_image(const LedRecipe& recipe, LedDamage damage) {
    LedRecipe changed = recipe;
    if (damage == LedDamage::kReachesHeaderBlock) {
        uint32_t size = recipe.size < LED_HEADER_SIZE ? LED_HEADER_SIZE : recipe.size;
        changed.flash_address = HEADER_BLOCK_ADDRESS - (size - 1) / FLASH_UNIT * FLASH_UNIT;
    }
    std::vector<uint8_t> file = build_led_image(changed);
    LedImageHeader header = led_header_from_bytes(file.data());
    switch (damage) {
        case LedDamage::kWrongSignature:
            std::copy_n("LEDS", 4, file.begin());
            break;
        case LedDamage::kSizeMismatch:
            header.length_b += 1;
            led_header_to_bytes(header, file.data());
            break;
        case LedDamage::kShortFile:
            file.resize(SHORT_LED_SIZE);
            break;
        case LedDamage::kReachesHeaderBlock:
            break;
    }
    return file;
}

}  // namespace vtx::imagemaker
