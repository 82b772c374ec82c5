#include "app/update_run.h"

#include "app/progress_bar.h"
#include "device/bridge.h"
#include "device/platform/platform.h"
#include "update/progress.h"
#include "update/sequencer.h"

namespace vtx {

namespace {

// The engine opens the bridge itself, by its path, and draws no progress of
// its own: the bar follows its counters while it runs.
int run_update(const FoundBridge& bridge, const RunPaths& paths, const Console& console,
               std::string& found_path) {
    fw_reset_progress();
    ProgressBar bar(console);
    return fw_update(bridge.path.c_str(), paths.bin->c_str(), paths.rescuebin->c_str(),
                     paths.cfg ? paths.cfg->c_str() : nullptr,
                     paths.led ? paths.led->c_str() : nullptr, &found_path);
}

// The entry the engine last found the bridge under, when the scan lists it;
// otherwise the first: with another bridge on the bus, the first entry need
// not be the one that was updated.
const DeviceEntry& updated_entry(const DeviceEntry& first, const std::string& found_path) {
    for (const DeviceEntry* entry = &first; entry; entry = entry->next) {
        if (entry->path == found_path)
            return *entry;
    }
    return first;
}

// The bridge restarted into its new firmware and may come back under
// another path: scan once a second until it shows.
DeviceList wait_for_reconnect() {
    for (int attempt = 0; attempt < RECONNECT_ATTEMPTS; ++attempt) {
        platform().pause_ms(RECONNECT_PAUSE_MS);
        DeviceList found(dev_scan());
        if (found)
            return found;
    }
    return nullptr;
}

}  // namespace

int app_update_run(FoundBridge& bridge, const RunPaths& paths, const Console& console) {
    console_out(console, "[INFO] Proceeding with firmware update...\n");
    bridge.device.reset();
    std::string found_path;
    int result = run_update(bridge, paths, console, found_path);
    if (result != 0) {
        console_err(console, "[ERROR] Firmware update failed (ret=%d, last_error=%d)\n", result,
                    fw_get_last_error());
        return 1;
    }
    console_out(console, "[INFO] Firmware update completed successfully.\n");
    console_out(console, "[INFO] Waiting for device to reconnect...\n");
    DeviceList found = wait_for_reconnect();
    if (!found) {
        // The update itself succeeded; only the report of its result is
        // missing.
        console_err(console, "[WARNING] Device did not reconnect within 30 seconds.\n");
        return 0;
    }
    bridge.list = std::move(found);
    bridge.path = device_path_text(updated_entry(*bridge.list, found_path).path);
    console_out(console, "[INFO] Device reconnected: %s\n", bridge.path.c_str());
    bridge.device.reset(dev_open(bridge.path.c_str()));
    if (!bridge.device) {
        console_err(console, "[WARNING] Failed to open device after update.\n");
        return 0;
    }
    FirmwareVersion reported{};
    if (dev_read_version(bridge.device.get(), &reported) != 0) {
        console_err(console, "[WARNING] Failed to read firmware version after update.\n");
        return 1;
    }
    console_out(console, "[INFO] New FW version: %u.%u.%u, build date: %u\n", reported.major,
                reported.minor, reported.patch, reported.build_date);
    return 0;
}

}  // namespace vtx
