// The LED image: the header check, the size it adds to the progress total,
// and, for an image that passes, the download into a simulated bridge, which
// must put exactly the file at its address and leave the header block alone.
#include <algorithm>
#include <vector>

#include "device/transport.h"
#include "fuzz/fuzz_support.h"
#include "update/led.h"
#include "vtx/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = vtx::fuzz::scratch_file("led.bin", data, size);
    uint8_t header[vtx::LED_HEADER_SIZE] = {};
    int check = vtx::led_check_image(path.c_str(), header);
    FUZZ_EXPECT(check == 0 || check == -1);
    int32_t total = vtx::led_image_size(path.c_str());
    FUZZ_EXPECT(check == 0 ? total == int32_t(size) : total == 0);
    if (check != 0)
        return 0;

    vtx::sim::SimPlatform sim;
    vtx::sim::Bridge& bridge = sim.add_bridge(vtx::sim::BridgeConfig{});
    std::vector<uint8_t> header_block(vtx::HEADER_BLOCK_SIZE, 0x5A);
    bridge.write_flash(vtx::HEADER_BLOCK_ADDRESS, header_block);
    vtx::platform_install(&sim);
    vtx::DeviceHandle* handle = vtx::dev_open(bridge.config().path.c_str());
    FUZZ_EXPECT(handle != nullptr);
    int downloaded = vtx::led_download(handle, path.c_str());
    vtx::dev_close(handle);
    vtx::platform_install(nullptr);

    FUZZ_EXPECT(bridge.read_flash(vtx::HEADER_BLOCK_ADDRESS, vtx::HEADER_BLOCK_SIZE) ==
                header_block);
    if (downloaded == 0) {
        vtx::LedImageHeader fields = vtx::led_header_from_bytes(header);
        std::vector<uint8_t> written = bridge.read_flash(fields.flash_address, uint32_t(size));
        FUZZ_EXPECT(std::equal(written.begin(), written.end(), data));
    }
    return 0;
}
