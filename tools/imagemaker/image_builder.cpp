#include "tools/imagemaker/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tools/outfile/replace_file.h"
#include "update/image.h"
#include "vtx/file.h"
#include "vtx/record_writers.h"

namespace vtx::imagemaker {

std::vector<uint8_t> build_image_with_lead(const ImageRecipe& recipe, uint32_t lead_length) {
    ImageRecipe with_lead = recipe;
    with_lead.lead_length = lead_length;
    return build_image(with_lead);
}

int variant_for_chip(uint32_t chip_id, uint32_t chip_rev) {
    return fw_expected_variant(chip_id, chip_rev);
}

bool variant_takes_rescue_format(uint8_t chip_variant) {
    return chip_variant == 2 || chip_variant == 3;
}

ImageRecipe firmware_recipe(uint8_t chip_variant, const FirmwareVersion& version) {
    ImageRecipe recipe;
    recipe.chip_variant = chip_variant;
    recipe.version = version;
    return recipe;
}

ImageRecipe rescue_recipe(uint8_t chip_variant, const FirmwareVersion& version) {
    ImageRecipe recipe = firmware_recipe(chip_variant, version);
    recipe.body_address = RESCUE_BODY_ADDRESS;
    if (variant_takes_rescue_format(chip_variant)) {
        recipe.signature = MODE_RESCUE;
    } else {
        recipe.image_type = IMAGE_TYPE_RESCUE_IN_MAIN;
    }
    recipe.seed = 2;
    return recipe;
}

ImageRecipe firmware_recipe_for_chip(uint32_t chip_id, uint32_t chip_rev) {
    int variant = variant_for_chip(chip_id, chip_rev);
    return firmware_recipe(uint8_t(variant < 0 ? 0 : variant));
}

ImageRecipe rescue_recipe_for_chip(uint32_t chip_id, uint32_t chip_rev) {
    int variant = variant_for_chip(chip_id, chip_rev);
    ImageRecipe recipe = rescue_recipe(uint8_t(variant < 0 ? 0 : variant));
    // The chip id, not the variant, decides the rescue format.
    recipe.signature = fw_takes_rescue_format(chip_id) ? MODE_RESCUE : MODE_MAIN;
    recipe.image_type = fw_takes_rescue_format(chip_id) ? 0 : IMAGE_TYPE_RESCUE_IN_MAIN;
    return recipe;
}

std::vector<uint8_t> build_firmware_image(const ImageRecipe& recipe) {
    return build_image(recipe);
}

std::vector<uint8_t> build_led_image(const LedRecipe& recipe) {
    uint32_t size = recipe.size < LED_HEADER_SIZE ? LED_HEADER_SIZE : recipe.size;
    std::vector<uint8_t> file = pseudo_random_bytes(recipe.seed ^ FILLER_STREAM, size);
    std::fill(file.begin(), file.begin() + LED_HEADER_SIZE, uint8_t(0));
    LedImageHeader header;
    header.signature = LED_SIGNATURE;
    header.flash_address = recipe.flash_address;
    header.length_a = LED_HEADER_SIZE;
    header.length_b = size - LED_HEADER_SIZE;
    led_header_to_bytes(header, file.data());
    return file;
}

bool write_binary_file(const std::string& path, const std::vector<uint8_t>& bytes,
                       std::string& error) {
    return outfile::replace_file(path, bytes.data(), bytes.size(), error);
}

bool write_binary_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string error;
    return write_binary_file(path, bytes, error);
}

bool read_binary_file(const std::string& path, std::vector<uint8_t>& bytes, uint64_t limit,
                      std::string& error) {
    uint64_t size = 0;
    switch (read_whole_file(path, limit, bytes, &size)) {
        case WholeFile::kRead:
            return true;
        case WholeFile::kNotOpened:
            error = "cannot read " + path + " (missing, or not a regular file)";
            return false;
        case WholeFile::kTooLarge:
            error = path + ": " + std::to_string(size) + " bytes, more than the " +
                    std::to_string(limit) + " this kind of file holds";
            return false;
        default:
            error = "cannot read " + path + " (it changed while read)";
            return false;
    }
}

bool read_binary_file(const std::string& path, std::vector<uint8_t>& bytes) {
    std::string error;
    return read_binary_file(path, bytes, MAX_IMAGE_FILE_SIZE, error);
}

}  // namespace vtx::imagemaker
