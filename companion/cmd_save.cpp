// save-firmware: the image the bridge runs, read back with memory reads
// through the read window and written as an image file that vtx_fwupdate
// takes back: a way back to the firmware a bridge had. Only read commands
// are sent; nothing is written unless the payload read back matches the CRC
// its header names.
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/device_check.h"
#include "companion/bridge_main.h"
#include "companion/commands.h"
#include "companion/text.h"
#include "device/bridge.h"
#include "tools/outfile/replace_file.h"
#include "update/image.h"
#include "update/sequencer.h"
#include "vtx/file.h"

namespace vtx::companion {

namespace {

// No flash of the bridges holds more; a header that says otherwise is damaged.
constexpr uint64_t SAVE_SIZE_LIMIT = 64ull << 20;
constexpr uint32_t LARGEST_READ = 65536;
// Where the bridge keeps its parameters: the upper half of the header block.
constexpr uint64_t PARAMETER_HALF_START = HEADER_BLOCK_ADDRESS + HEADER_HALF_SIZE;
constexpr uint64_t PARAMETER_HALF_END = HEADER_BLOCK_ADDRESS + HEADER_BLOCK_SIZE;

struct Region {
    uint64_t file_offset;
    uint64_t address;
    uint64_t length;
};

struct SavedImage {
    FirmwareVersion version{};
    ImageHeader header{};
    Region lead{}, body{};
    std::vector<uint8_t> file;
    uint32_t crc = 0;
};

uint64_t round_up(uint64_t value) {
    return (value + FLASH_UNIT - 1) / FLASH_UNIT * FLASH_UNIT;
}

// The file's bytes that lie on the parameter half in flash: the bridge keeps
// its parameters there, so the image's own bytes are gone. [first, end).
bool lost_range(const Region& region, uint64_t& first, uint64_t& end) {
    uint64_t from = std::max(region.address, PARAMETER_HALF_START);
    uint64_t to = std::min(region.address + region.length, PARAMETER_HALF_END);
    if (from >= to)
        return false;
    first = region.file_offset + (from - region.address);
    end = region.file_offset + (to - region.address);
    return true;
}

// The file the header describes: its lead region, then a body that ends with
// the flash unit that holds the payload's last byte.
bool plan_layout(SavedImage& image, std::string& message) {
    const ImageHeader& h = image.header;
    if (h.signature != MODE_MAIN || h.image_type == IMAGE_TYPE_RESCUE_IN_MAIN) {
        message = "the header block holds no main firmware image (signature " + hex32(h.signature) +
                  "); nothing written";
        return false;
    }
    uint64_t payload_end = uint64_t(h.payload_offset) + h.payload_length;
    uint64_t size = std::max<uint64_t>(h.lead_length, round_up(payload_end));
    if (h.lead_length < IMAGE_LEAD_BLOCK || h.payload_offset >= 0x80000000u ||
        size > SAVE_SIZE_LIMIT || !fw_layout_fits(h, uint32_t(size))) {
        message =
            "the image header on the bridge gives a layout no download writes "
            "(lead " +
            std::to_string(h.lead_length) + " bytes, payload " + std::to_string(h.payload_offset) +
            "+" + std::to_string(h.payload_length) + "); nothing written";
        return false;
    }
    image.lead = {0, h.lead_address, h.lead_length};
    image.body = {h.body_offset, h.body_address, size - h.lead_length};
    for (const Region& region : {image.lead, image.body}) {
        if (region.address + region.length > 0x100000000ull) {
            message =
                "the image header on the bridge places a region past the end of the "
                "address space; nothing written";
            return false;
        }
        uint64_t first = 0, end = 0;
        if (lost_range(region, first, end) && first < payload_end && end > h.payload_offset) {
            message = "the payload's CRC covers file bytes " + std::to_string(first) + " to " +
                      std::to_string(end - 1) +
                      ", which the bridge overwrote with its parameters; the image's own bytes "
                      "are no longer on the bridge, so it cannot be saved; nothing written";
            return false;
        }
    }
    image.file.assign(size, 0);
    return true;
}

int read_region(DeviceHandle* handle, const Region& region, uint32_t chunk, SavedImage& image) {
    for (uint64_t done = 0; done < region.length; done += chunk) {
        uint32_t n = uint32_t(std::min<uint64_t>(chunk, region.length - done));
        int result = dev_memory_read(handle, read_window(uint32_t(region.address + done)),
                                     image.file.data() + region.file_offset + done, n);
        if (result != 0)
            return result;
    }
    // Bytes on the parameter half are the bridge's, not the image's: the
    // download puts the bridge's own parameters there again.
    uint64_t first = 0, end = 0;
    if (lost_range(region, first, end))
        std::fill(image.file.begin() + long(first), image.file.begin() + long(end), 0);
    return 0;
}

uint32_t read_chunk(DeviceHandle* handle) {
    uint32_t largest = 0;
    if (dev_query_max_transfer(handle, &largest) != 0 || largest < 512)
        return FLASH_UNIT;
    return std::min(largest, LARGEST_READ);
}

// 0, or the exit code with the reason in `message`.
int read_image(DeviceHandle* handle, SavedImage& image, std::string& message) {
    uint32_t mode = MODE_OTHER;
    fw_query_mode(handle, &mode);
    if (mode != MODE_MAIN) {
        message = "the bridge does not run its main firmware (run mode " + hex32(mode) +
                  "), so the header block names no firmware to go back to; nothing written";
        return EXIT_FAILED;
    }
    uint8_t header[IMAGE_HEADER_SIZE] = {};
    int result = dev_memory_read(handle, read_window(HEADER_BLOCK_ADDRESS), header, sizeof header);
    if (result != 0) {
        message = "cannot read the header block (result " + std::to_string(result) + ")";
        return EXIT_FAILED;
    }
    image.header = image_header_from_bytes(header);
    if (!plan_layout(image, message))
        return EXIT_FAILED;
    uint32_t chunk = read_chunk(handle);
    for (const Region& region : {image.body, image.lead}) {
        if ((result = read_region(handle, region, chunk, image)) != 0) {
            message = "cannot read flash at " + hex32(uint32_t(region.address)) + " (result " +
                      std::to_string(result) + "); nothing written";
            return EXIT_FAILED;
        }
    }
    std::copy(header, header + IMAGE_HEADER_SIZE, image.file.begin());
    const ImageHeader& h = image.header;
    image.crc = crc32_update(0, image.file.data() + h.payload_offset, h.payload_length);
    if (image.crc != h.payload_crc) {
        message = "the payload read back has CRC-32 " + hex32(image.crc) + ", the header names " +
                  hex32(h.payload_crc) + "; nothing written";
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

void write_result(const Output& output, const std::string& path, const std::string& out,
                  const SavedImage& image) {
    CurrentVersion version = current_version_texts(image.version);
    const ImageHeader& h = image.header;
    if (!output.json()) {
        say(output,
            "Saved the firmware of %s, version %s of %s, to %s: %s bytes, payload CRC-32 %s "
            "verified.\n",
            printable(path).c_str(), version.version.c_str(), version.date.c_str(),
            printable(out).c_str(), std::to_string(image.file.size()).c_str(),
            hex32(image.crc).c_str());
        return;
    }
    JsonWriter json;
    json_begin(json, output);
    json.field("path", path);
    json.field("output", out);
    json.field("firmware_version", version.version);
    json.field("build_date", version.build_date);
    json.field("size", uint64_t(image.file.size()));
    for (const auto& [name, region] : {std::pair{"lead", image.lead}, {"body", image.body}}) {
        json.key(name);
        json.begin_object();
        json.field("address", uint64_t(region.address));
        json.field("length", region.length);
        json.end_object();
    }
    json.key("payload");
    json.begin_object();
    json.field("offset", h.payload_offset);
    json.field("length", h.payload_length);
    json.field("crc", hex32(image.crc));
    json.end_object();
    json_end(json, output, EXIT_DONE, "");
}

}  // namespace

int run_save_firmware(const Output& output) {
    const std::vector<std::string>& operands = output.invocation->operands;
    std::string message, path;
    OpenedBridge bridge;
    int code = open_target(output, path, bridge);
    if (code != EXIT_DONE)
        return code;

    SavedImage image;
    int result = dev_read_version(bridge.handle.get(), &image.version);
    CurrentVersion version = current_version_texts(image.version);
    std::string out = operands.size() > 1 ? operands[1] : "";
    if (out.empty() && (result != 0 || version.date.empty()))
        return finish_early(output, EXIT_FAILED,
                            "cannot read the bridge's version to name the file; give OUT");
    if (out.empty()) {
        out = "fw_v" + version.version + "." + version.date + ".bin";
        // The name the bridge's version gives may be the very update file the
        // user keeps beside it: only a name the user gave replaces a file.
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(native_path(out), error)))
            return finish_early(output, EXIT_FAILED,
                                printable(out) + " exists already; give OUT to replace it");
    }
    if ((code = read_image(bridge.handle.get(), image, message)) != EXIT_DONE)
        return finish_early(output, code, message);
    std::string reason;
    if (!outfile::replace_file(out, image.file.data(), image.file.size(), reason))
        return finish_early(output, EXIT_FAILED, "cannot write " + printable(out) + ": " + reason);
    write_result(output, path, out, image);
    return EXIT_DONE;
}

}  // namespace vtx::companion
