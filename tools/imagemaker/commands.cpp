// The subcommands that make image files: firmware, rescue, led, damaged, and
// info, which reads one back.
#include <initializer_list>
#include <vector>

#include "tools/imagemaker/cli.h"
#include "tools/imagemaker/image_builder.h"
#include "update/image.h"
#include "vtx/bytes.h"

namespace vtx::imagemaker {

namespace {

// A body larger than this would not fit a file size the update reads as a
// signed 32-bit value with room to spare.
constexpr uint32_t MAX_BODY_SIZE = 64u << 20;

bool check_keys(const OptionMap& options, std::initializer_list<const char*> allowed,
                std::string& error) {
    for (const auto& [key, value] : options) {
        bool known = false;
        for (const char* name : allowed)
            known = known || key == name;
        if (!known) {
            error = "unknown option --" + key;
            return false;
        }
    }
    if (options.count("out") == 0) {
        error = "--out FILE is required";
        return false;
    }
    return true;
}

bool option_u32(const OptionMap& options, const char* key, uint32_t* value, std::string& error) {
    auto it = options.find(key);
    if (it == options.end())
        return true;
    if (parse_u32(it->second, value))
        return true;
    error = std::string("--") + key + ": '" + it->second + "' is not a 32-bit number";
    return false;
}

// Variant and, for a rescue image, format: from --variant or from the chip.
bool chip_choice(const OptionMap& options, bool rescue, ImageRecipe& recipe, std::string& error) {
    bool by_variant = options.count("variant") != 0;
    bool by_chip = options.count("chip-id") != 0;
    if (by_variant == by_chip) {
        error = "give either --chip-id (with --chip-rev) or --variant";
        return false;
    }
    uint32_t variant = 0, chip_id = 0, chip_rev = 0;
    if (!option_u32(options, "variant", &variant, error))
        return false;
    if (!option_u32(options, "chip-id", &chip_id, error))
        return false;
    if (!option_u32(options, "chip-rev", &chip_rev, error))
        return false;
    if (by_chip) {
        int expected = variant_for_chip(chip_id, chip_rev);
        if (expected < 0) {
            char id[16];
            std::snprintf(id, sizeof id, "0x%08X", chip_id);
            error = std::string("chip id ") + id +
                    " is not in the chip variant table; no image fits it (use --variant)";
            return false;
        }
        variant = uint32_t(expected);
    } else if (options.count("chip-rev") != 0 || variant > 0xFF) {
        error = "--variant takes a code from 0 to 255 and no --chip-rev";
        return false;
    }
    recipe = rescue ? rescue_recipe(uint8_t(variant)) : firmware_recipe(uint8_t(variant));
    if (by_chip && rescue)
        recipe = rescue_recipe_for_chip(chip_id, chip_rev);
    return true;
}

bool rescue_format_choice(const OptionMap& options, ImageRecipe& recipe, std::string& error) {
    auto it = options.find("format");
    if (it == options.end())
        return true;
    if (it->second == "rescue") {
        recipe.signature = MODE_RESCUE;
        recipe.image_type = 0;
    } else if (it->second == "main") {
        recipe.signature = MODE_MAIN;
        recipe.image_type = IMAGE_TYPE_RESCUE_IN_MAIN;
    } else {
        error = "--format takes 'rescue' or 'main'";
        return false;
    }
    return true;
}

bool body_choice(const OptionMap& options, bool rescue, ImageRecipe& recipe, std::string& error) {
    if (!option_u32(options, "size", &recipe.body_size, error))
        return false;
    if (!option_u32(options, "body-address", &recipe.body_address, error))
        return false;
    if (!option_u32(options, "seed", &recipe.seed, error))
        return false;
    if (recipe.body_size % FLASH_UNIT != 0 || recipe.body_size > MAX_BODY_SIZE) {
        error = "--size must be a multiple of 4096 and at most 64 MiB";
        return false;
    }
    uint32_t limit = rescue ? RESCUE_BODY_LIMIT : MAIN_BODY_LIMIT;
    if (options.count("body-address") == 0 && recipe.body_size > limit) {
        error = "a body of " + std::to_string(recipe.body_size) + " bytes overruns its slot of " +
                std::to_string(limit) + " bytes in the flash map (see --body-address)";
        return false;
    }
    return true;
}

bool version_choice(const OptionMap& options, FirmwareVersion& version, std::string& error) {
    auto it = options.find("version");
    if (it != options.end() &&
        !parse_version(it->second, &version.major, &version.minor, &version.patch)) {
        error = "--version takes MAJOR.MINOR.PATCH, e.g. 1.2.3";
        return false;
    }
    it = options.find("date");
    if (it != options.end() && !parse_date(it->second, &version.build_date)) {
        error = "--date takes YYYYMMDD, e.g. 20240615";
        return false;
    }
    return true;
}

bool image_recipe_from(const OptionMap& options, bool rescue, ImageRecipe& recipe,
                       std::string& error) {
    if (!chip_choice(options, rescue, recipe, error))
        return false;
    if (!rescue && options.count("format") != 0) {
        error = "--format applies to rescue images only";
        return false;
    }
    return rescue_format_choice(options, recipe, error) &&
           body_choice(options, rescue, recipe, error) &&
           version_choice(options, recipe.version, error);
}

bool led_recipe_from(const OptionMap& options, LedRecipe& recipe, std::string& error) {
    if (!check_keys(options, {"address", "size", "seed", "out"}, error))
        return false;
    if (!option_u32(options, "address", &recipe.flash_address, error))
        return false;
    if (!option_u32(options, "size", &recipe.size, error))
        return false;
    if (!option_u32(options, "seed", &recipe.seed, error))
        return false;
    if (recipe.size < LED_HEADER_SIZE || recipe.size > MAX_BODY_SIZE) {
        error = "--size of an LED image is 64 bytes to 64 MiB";
        return false;
    }
    return true;
}

int write_out(const OptionMap& options, const std::vector<uint8_t>& file, std::FILE* out,
              const std::string& what, std::string& error) {
    const std::string& path = options.at("out");
    std::string reason;
    if (!write_binary_file(path, file, reason)) {
        error = "cannot write " + path + ": " + reason;
        return EXIT_REFUSED;
    }
    std::fprintf(out, "wrote %s: %s, %zu bytes\n", path.c_str(), what.c_str(), file.size());
    return EXIT_OK;
}

std::string describe(const ImageRecipe& recipe, bool rescue) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s image (%s format), variant %u, version %u.%u.%u (%u), body %u bytes at "
                  "0x%08X",
                  rescue ? "rescue" : "firmware",
                  recipe.signature == MODE_RESCUE ? "rescue" : "main", recipe.chip_variant,
                  recipe.version.major, recipe.version.minor, recipe.version.patch,
                  recipe.version.build_date, recipe.body_size, recipe.body_address);
    return text;
}

}  // namespace

int run_image_command(const std::string& command, const OptionMap& options, std::FILE* out,
                      std::string& error) {
    bool rescue = command == "rescue";
    ImageRecipe recipe;
    if (!check_keys(options,
                    {"chip-id", "chip-rev", "variant", "format", "version", "date", "size",
                     "body-address", "seed", "out"},
                    error) ||
        !image_recipe_from(options, rescue, recipe, error)) {
        return EXIT_USAGE;
    }
    return write_out(options, build_firmware_image(recipe), out, describe(recipe, rescue), error);
}

int run_led_command(const OptionMap& options, std::FILE* out, std::string& error) {
    LedRecipe recipe;
    if (!led_recipe_from(options, recipe, error))
        return EXIT_USAGE;
    char what[80];
    std::snprintf(what, sizeof what, "LED image for 0x%08X", recipe.flash_address);
    return write_out(options, build_led_image(recipe), out, what, error);
}

int run_damaged_command(const std::string& kind, const OptionMap& options, std::FILE* out,
                        std::string& error) {
    for (const auto& led : led_damage_kinds()) {
        if (kind != led.name)
            continue;
        LedRecipe recipe;
        if (!led_recipe_from(options, recipe, error))
            return EXIT_USAGE;
        return write_out(options, build_damaged_led_image(recipe, led.kind), out,
                         std::string("damaged LED image: ") + led.what, error);
    }
    for (const auto& image : image_damage_kinds()) {
        if (kind != image.name)
            continue;
        OptionMap base = options;
        std::string slot = base.count("slot") ? base["slot"] : "main";
        base.erase("slot");
        if (slot != "main" && slot != "rescue") {
            error = "--slot takes 'main' or 'rescue'";
            return EXIT_USAGE;
        }
        ImageRecipe recipe;
        if (!check_keys(base,
                        {"chip-id", "chip-rev", "variant", "format", "version", "date", "size",
                         "body-address", "seed", "out"},
                        error) ||
            !image_recipe_from(base, slot == "rescue", recipe, error)) {
            return EXIT_USAGE;
        }
        return write_out(base, build_damaged_image(recipe, image.kind), out,
                         std::string("damaged image: ") + image.what, error);
    }
    error = "unknown damage kind '" + kind + "' (see --help)";
    return EXIT_USAGE;
}

int run_info_command(const std::string& path, std::FILE* out, std::string& error) {
    std::vector<uint8_t> file;
    if (!read_binary_file(path, file, MAX_IMAGE_FILE_SIZE, error))
        return EXIT_REFUSED;
    if (file.size() >= LED_HEADER_SIZE && load_le32(file.data()) == LED_SIGNATURE) {
        LedImageHeader led = led_header_from_bytes(file.data());
        uint32_t sum = led.length_a + led.length_b;
        std::fprintf(
            out, "LED image, %zu bytes\nflash_address 0x%08X\nlength_a %u\nlength_b %u (%s)\n",
            file.size(), led.flash_address, led.length_a, led.length_b,
            sum == file.size() ? "sum equals the file size" : "sum differs from the file size");
        return EXIT_OK;
    }
    if (file.size() < IMAGE_HEADER_SIZE) {
        error = path + ": " + std::to_string(file.size()) + " bytes, shorter than an image header";
        return EXIT_REFUSED;
    }
    ImageHeader h = image_header_of(file);
    FirmwareVersion v = firmware_version_from_bytes(file.data() + HEADER_VERSION_OFFSET);
    uint64_t payload_end = uint64_t(h.payload_offset) + h.payload_length;
    const char* crc = payload_end > file.size()                  ? "payload range outside the file"
                      : payload_crc_of(file, h) == h.payload_crc ? "matches"
                                                                 : "does not match";
    std::fprintf(out,
                 "image, %zu bytes\nsignature 0x%08X\nimage_type 0x%02X\nchip_variant %u\n"
                 "payload_crc 0x%08X (%s)\npayload_offset 0x%08X\npayload_length %u\n"
                 "body_offset 0x%08X\nbody_address 0x%08X\nlead_offset 0x%08X\n"
                 "lead_address 0x%08X\nlead_length %u\nlayout %s\nversion %u.%u.%u (%u)\n",
                 file.size(), h.signature, h.image_type, h.chip_variant, h.payload_crc, crc,
                 h.payload_offset, h.payload_length, h.body_offset, h.body_address, h.lead_offset,
                 h.lead_address, h.lead_length,
                 fw_layout_fits(h, uint32_t(file.size())) ? "fits the download" : "does not fit",
                 v.major, v.minor, v.patch, v.build_date);
    return EXIT_OK;
}

}  // namespace vtx::imagemaker
