// The update of the campaign and the bridge it starts from. Both are made in
// a forked child too: building images and encoding the parameter file run
// tool code (the CRC table, the parameter encoder), and the parent must stay
// a process that never ran any, so that every child starts as a new one.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "sim/sim.h"
#include "tests/fault/campaign.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::fault {

namespace {

namespace im = vtx::imagemaker;

constexpr uint32_t CHIP_ID = 0xA0020001;  // the simulated bridge's default chip
constexpr uint32_t CHIP_REV = 10;
const FirmwareVersion OLD_VERSION{1, 2, 3, 0, 20240115};
const FirmwareVersion NEW_VERSION{1, 2, 4, 0, 20240615};
const char* const NEW_CFG =
    "VID = 0x5654\nPRODUCT = \"Sample\"\nSCSI_VENDOR = \"Vantrex\"\nEN_U1U2 = yes\n";
const char* const OLD_CFG = "VID = 0x1111\nPRODUCT = \"Old bridge\"\nLED = 3\n";

int make_files(const UpdateSet& set, Start start, const UpdateOptions& options) {
    im::ImageRecipe fw = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
    fw.version = NEW_VERSION;
    fw.body_size = 2 * 65536;
    if (options.low_lead_region)
        fw.lead_address = HEADER_BLOCK_ADDRESS - 0x4000;
    im::ImageRecipe rescue = im::rescue_recipe_for_chip(CHIP_ID, CHIP_REV);
    rescue.body_size = 65536;
    im::ImageRecipe old = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
    old.version = OLD_VERSION;
    old.body_size = 2 * 65536;
    old.seed = 9;
    im::LedRecipe old_led;
    old_led.seed = 7;

    std::vector<uint8_t> rescue_image = im::build_firmware_image(rescue);
    set.dir.write("fw_v1.2.4.061524.bin", options.low_lead_region
                                              ? im::build_image_with_lead(fw, 0x5000)
                                              : im::build_firmware_image(fw));
    std::vector<uint8_t> old_image = im::build_firmware_image(old);
    set.dir.write("old.bin", old_image);
    set.dir.write("rescue.bin", rescue_image);
    im::LedRecipe led;
    led.flash_address = set.led_address;
    set.dir.write("led.bin", im::build_led_image(led));
    set.dir.write("bridge.cfg", std::string(NEW_CFG));
    std::string old_cfg = set.dir.write("old.cfg", std::string(OLD_CFG));

    std::vector<uint8_t> new_area, old_area;
    std::string error;
    if (im::build_parameter_area(set.cfg, new_area, error) != 0 ||
        im::build_parameter_area(old_cfg, old_area, error) != 0)
        return 2;
    set.dir.write("new_area.bin", new_area);
    set.dir.write("old_area.bin", old_area);

    // A plain USB disk comes first on the bus, as on a real computer, and the
    // bridge holds an older firmware, its own parameters and an older LED
    // image.
    sim::SimPlatform sim;
    sim.add_disk(sim::DiskConfig{});
    sim::BridgeConfig config;
    config.max_transfer_reply = options.max_transfer;
    sim::Bridge& bridge = sim.add_bridge(config);
    bridge.install_image(old_image);
    bridge.set_parameter_area(old_area);
    bridge.write_flash(im::LED_IMAGE_ADDRESS, im::build_led_image(old_led));
    if (start == Start::kRescueFirmware)
        bridge.install_image(rescue_image);
    bridge.boot();
    uint8_t expected_mode = start == Start::kRescueFirmware ? 2 : 1;
    if (bridge.mode_reply() != expected_mode)
        return 3;
    return sim.save(set.base_state) ? 0 : 4;
}

}  // namespace

int in_child(const std::function<int()>& work) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(work());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

const char* start_name(Start start) {
    return start == Start::kMainFirmware ? "main" : "rescue";
}

UpdateSet::UpdateSet(Start start_firmware, const UpdateOptions& options) : start(start_firmware) {
    bin = dir.file("fw_v1.2.4.061524.bin");
    rescue = dir.file("rescue.bin");
    cfg = dir.file("bridge.cfg");
    led = dir.file("led.bin");
    base_state = dir.file("base.state");
    new_version = NEW_VERSION;
    led_address = im::LED_IMAGE_ADDRESS;
    if (in_child([&] { return make_files(*this, start, options); }) != 0)
        return;  // the campaign finds the files missing and says so
    new_header = read_file(bin);
    new_header.resize(IMAGE_HEADER_SIZE);
    rescue_header = read_file(rescue);
    rescue_header.resize(IMAGE_HEADER_SIZE);
    old_header = read_file(dir.file("old.bin"));
    old_header.resize(IMAGE_HEADER_SIZE);
    new_area = read_file(dir.file("new_area.bin"));
    old_area = read_file(dir.file("old_area.bin"));
    led_image = read_file(led);
}

void attach_twin(sim::SimPlatform& sim, uint32_t chip_id, bool rescue_firmware) {
    sim::BridgeConfig config = sim.bridges().front()->config();
    config.name = "twin";
    config.path = "\\\\.\\PhysicalDrive2";
    config.return_paths.clear();
    config.chip_id = chip_id;
    if (chip_id < 0xA0020000) {
        config.revision = "2.00";
        config.model = "VTX4500";
    }
    im::ImageRecipe image = rescue_firmware ? im::rescue_recipe_for_chip(chip_id, CHIP_REV)
                                            : im::firmware_recipe_for_chip(chip_id, CHIP_REV);
    sim.add_bridge(config).install_image(im::build_firmware_image(image));
}

bool full_campaign() {
    const char* mode = std::getenv("VTX_FAULT_CAMPAIGN");
    return mode && std::strcmp(mode, "full") == 0;
}

std::vector<std::string> UpdateSet::args() const {
    return {"vtx_fwupdate", bin, rescue, cfg, led};
}

}  // namespace vtx::test::fault
