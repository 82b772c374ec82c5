// The whole tool (start, device check, staged update, reconnect wait) over a
// simulated bridge whose every reply the input may change: damaged INQUIRY
// data, versions, identity words, run modes, read-backs, failing commands at
// any point of an update. The run must end with an exit code, whatever the
// bridge says.
//
// Input: one byte (bit 0: the bridge starts in its rescue firmware; bit 1: it
// comes back under another path after each restart), then one control byte
// per command as ReplySim reads them.
#include <string>
#include <vector>

#include "app/startup.h"
#include "fuzz/fuzz_support.h"
#include "tools/imagemaker/image_builder.h"

namespace {

namespace im = vtx::imagemaker;

constexpr uint32_t CHIP_ID = 0xA0020001;
constexpr uint32_t CHIP_REV = 10;

struct Files {
    std::string bin, rescue, cfg, led;
    std::vector<uint8_t> old_main, rescue_image;
};

const Files& files() {
    static const Files made = [] {
        Files f;
        im::ImageRecipe fw = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
        fw.version = {1, 2, 4, 0, 20240615};
        fw.body_size = 8192;
        f.bin = vtx::fuzz::scratch_file("fw_v1.2.4.061524.bin", im::build_firmware_image(fw));
        im::ImageRecipe rescue = im::rescue_recipe_for_chip(CHIP_ID, CHIP_REV);
        rescue.body_size = 4096;
        f.rescue_image = im::build_firmware_image(rescue);
        f.rescue = vtx::fuzz::scratch_file("rescue.bin", f.rescue_image);
        im::LedRecipe led;
        led.size = 5000;
        f.led = vtx::fuzz::scratch_file("led.bin", im::build_led_image(led));
        std::string cfg = "VID = 0x5654\nPRODUCT = \"Sample\"\nEN_U1U2 = yes\n";
        f.cfg = vtx::fuzz::scratch_file("bridge.cfg", reinterpret_cast<const uint8_t*>(cfg.data()),
                                        cfg.size());
        im::ImageRecipe old = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
        old.version = {1, 2, 3, 0, 20240115};
        old.body_size = 8192;
        f.old_main = im::build_firmware_image(old);
        return f;
    }();
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Files& f = files();
    vtx::fuzz::InputReader input(data, size);
    uint8_t choices = input.byte();
    vtx::fuzz::ReplySim sim(input);
    vtx::sim::BridgeConfig config;
    if (choices & 2)
        config.return_paths = {"\\\\.\\PhysicalDrive2", "\\\\.\\PhysicalDrive4"};
    vtx::sim::Bridge& bridge = sim.add_bridge(config);
    bridge.install_image(f.old_main);
    if (choices & 1)
        bridge.install_image(f.rescue_image);
    vtx::platform_install(&sim);

    std::vector<std::string> args = {"vtx_fwupdate", f.bin, f.rescue, f.cfg, f.led};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int code = vtx::vtx_main(int(args.size()), argv.data(), vtx::fuzz::null_console());
    FUZZ_EXPECT(code == 0 || code == 1);
    // Every wait is bounded: the longest run is two restarts and the
    // reconnect wait, well under ten minutes of virtual time.
    FUZZ_EXPECT(sim.now() < 600);
    vtx::platform_install(nullptr);
    return 0;
}
