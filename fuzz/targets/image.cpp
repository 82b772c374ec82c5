// Firmware and rescue image files: the header read with its payload CRC, the
// layout check, the image check against a simulated chip, and, for an image
// that passes them, the download and the header block write into the sim.
//
// Input: one byte of choices (bit 0: make the payload CRC right, so the
// fuzzer gets past it; bit 1: rescue slot; bits 2 to 7 pick the chip), then
// the image file.
#include <algorithm>
#include <vector>

#include "device/transport.h"
#include "fuzz/fuzz_support.h"
#include "update/download.h"
#include "update/header_block.h"
#include "update/image.h"
#include "vtx/bytes.h"
#include "vtx/records.h"

namespace {

// The CRC the reader computes over the payload range, 0 when the range does
// not lie inside the file (the reader then fails on a short read anyway).
void fix_payload_crc(std::vector<uint8_t>& file) {
    if (file.size() < vtx::IMAGE_HEADER_SIZE)
        return;
    vtx::ImageHeader header = vtx::image_header_from_bytes(file.data());
    uint64_t start = header.payload_offset;
    uint64_t end = start + header.payload_length;
    if (header.payload_offset >= 0x80000000u || end > file.size())
        return;
    uint32_t crc = vtx::crc32_update(0, file.data() + start, size_t(end - start));
    vtx::store_le32(file.data() + 16, crc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vtx::fuzz::InputReader input(data, size);
    uint8_t choices = input.byte();
    std::vector<uint8_t> file = input.rest();
    if (choices & 1)
        fix_payload_crc(file);
    std::string path = vtx::fuzz::scratch_file("image.bin", file);

    uint8_t header[vtx::IMAGE_HEADER_SIZE] = {};
    int read = vtx::fw_read_header(path.c_str(), header);
    FUZZ_EXPECT(read == 0 || read == -1);
    FUZZ_EXPECT(vtx::fw_file_size(path.c_str()) == int32_t(file.size()));
    if (read != 0)
        return 0;
    vtx::ImageHeader fields = vtx::image_header_from_bytes(header);
    bool fits = vtx::fw_layout_fits(fields, uint32_t(file.size()));

    vtx::sim::SimPlatform sim;
    uint8_t chip_byte = uint8_t(choices >> 2);
    vtx::fuzz::InputReader chip(&chip_byte, 1);
    vtx::sim::BridgeConfig config = vtx::fuzz::bridge_config_from(chip);
    config.max_transfer_reply = 65536;
    sim.add_bridge(config);
    vtx::platform_install(&sim);
    vtx::DeviceHandle* handle = vtx::dev_open(config.path.c_str());
    FUZZ_EXPECT(handle != nullptr);

    bool rescue_slot = (choices & 2) != 0;
    long before = sim.command_count();
    int check = vtx::fw_check_image(handle, path.c_str(), rescue_slot);
    // The check writes nothing, and an image whose layout the download cannot
    // walk never passes it.
    for (const vtx::sim::TraceEntry& entry : sim.trace())
        FUZZ_EXPECT(entry.cdb[0] != vtx::OP_VENDOR_WRITE);
    FUZZ_EXPECT(check != 0 || fits);
    if (!fits)
        FUZZ_EXPECT(sim.command_count() == before);

    // The download refuses what the check would refuse on layout grounds,
    // before it writes anything.
    sim.clear_trace();
    int downloaded = vtx::fw_download(handle, path.c_str());
    if (!fits) {
        FUZZ_EXPECT(downloaded != 0);
        for (const vtx::sim::TraceEntry& entry : sim.trace())
            FUZZ_EXPECT(entry.cdb[0] != vtx::OP_VENDOR_WRITE);
    }
    if (check == 0)
        vtx::flash_write_header_block(handle, path.c_str());
    vtx::dev_close(handle);
    vtx::platform_install(nullptr);
    return 0;
}
