#include "tests/e2e/e2e_support.h"

#include "app/startup.h"
#include "tools/imagemaker/image_builder.h"
#include "vtx/records.h"

namespace vtx::test::e2e {

namespace im = vtx::imagemaker;

const char* const KEY_WAIT = "\nPress any key to exit...";

OsHandle CountingSim::open_device(const char* path) {
    OsHandle handle = SimPlatform::open_device(path);
    if (handle != INVALID_OS_HANDLE)
        ++open_handles_;
    return handle;
}

bool CountingSim::close_device(OsHandle handle) {
    bool closed = SimPlatform::close_device(handle);
    if (closed)
        --open_handles_;
    return closed;
}

InstalledSim::InstalledSim() {
    platform_install(&sim_);
}
InstalledSim::~InstalledSim() {
    platform_install(nullptr);
}

UpdateFiles::UpdateFiles() {
    im::ImageRecipe fw = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
    fw.version = {1, 2, 4, 0, 20240615};
    fw.body_size = 3 * 65536;
    bin = dir.write("fw_v1.2.4.061524.bin", im::build_firmware_image(fw));
    im::ImageRecipe rescue_recipe = im::rescue_recipe_for_chip(CHIP_ID, CHIP_REV);
    rescue_recipe.body_size = 65536;
    rescue = dir.write("rescue.bin", im::build_firmware_image(rescue_recipe));
    led = dir.write("led.bin", im::build_led_image(im::LedRecipe{}));
    cfg = dir.write("bridge.cfg", std::string("VID = 0x5654\nPRODUCT = \"Sample\"\n"
                                              "SCSI_VENDOR = \"Vantrex\"\nEN_U1U2 = yes\n"));
    bad_cfg = dir.write("bad.cfg", std::string("; nothing the bridge knows\nVOLUME = 11\n"));
}

std::vector<std::string> UpdateFiles::args(const std::string& cfg_path) const {
    return {"vtx_fwupdate", bin, rescue, cfg_path.empty() ? cfg : cfg_path, led};
}

sim::Bridge& add_sample_bridge(sim::SimPlatform& sim, const FirmwareVersion& version,
                               const std::string& path, uint32_t identity) {
    sim::BridgeConfig config;
    config.name = "bridge@" + path;
    config.path = path;
    config.identity = identity;
    sim::Bridge& bridge = sim.add_bridge(config);
    im::ImageRecipe recipe = im::firmware_recipe_for_chip(CHIP_ID, CHIP_REV);
    recipe.version = version;
    bridge.install_image(im::build_firmware_image(recipe));
    return bridge;
}

ToolRun run_tool(const std::vector<std::string>& args, const std::string& input) {
    CapturedStream out, err;
    InputStream in(input);
    Args argv(args);
    ToolRun run;
    run.code = vtx_main(argv.argc(), argv.argv(), Console{out.get(), err.get(), in.get()});
    run.out = out.text();
    run.err = err.text();
    for (int c; (c = std::fgetc(in.get())) != EOF;)
        run.input_left += char(c);
    return run;
}

std::string start_lines(const std::string& bin, const std::string& rescue, const std::string& cfg,
                        const std::string& led) {
    return "[INFO] vtx_fwupdate v1.0.0.60820 - Firmware Update Tool\n[INFO] Bin:      " + bin +
           "\n[INFO] Rescue:   " + rescue + "\n[INFO] Config:   " + cfg +
           "\n[INFO] LED:      " + led +
           "\n[INFO] Running as administrator\n"
           "[INFO] Expected FW version: 1.2.4, build date: 061524\n";
}

std::string current_line(const char* version, const char* date, const char* yyyymmdd) {
    return std::string("[INFO] Current FW version: ") + version + ", build date: " + date +
           " (yyyymmdd: " + yyyymmdd + ")\n";
}

std::string found_lines(const std::string& path) {
    return "[INFO] Scanning for devices...\n[INFO] Found device: " + path + "\n";
}

std::string differs_lines(const std::string& path) {
    return found_lines(path) + current_line("1.2.3", "011524", "20240115") +
           "[INFO] FW version differs: expected 1.2.4, current 1.2.3\n";
}

std::string update_lines(const std::string& reconnect_path) {
    return "[INFO] Proceeding with firmware update...\n"
           "[INFO] Firmware update completed successfully.\n"
           "[INFO] Waiting for device to reconnect...\n"
           "[INFO] Device reconnected: " +
           reconnect_path +
           "\n"
           "[INFO] New FW version: 1.2.4, build date: 20240615\n";
}

long last_index(const std::vector<sim::TraceEntry>& trace,
                const std::function<bool(const sim::TraceEntry&)>& match) {
    long found = -1;
    for (const sim::TraceEntry& entry : trace) {
        if (match(entry))
            found = entry.index;
    }
    return found;
}

bool is_version_read(const sim::TraceEntry& entry) {
    return entry.cdb[0] == OP_VENDOR_READ && entry.cdb[4] == SUB_VERSION;
}

}  // namespace vtx::test::e2e
