#include "app/device_check.h"

#include <cstdio>

#include "app/update_run.h"
#include "device/bridge.h"
#include "update/sequencer.h"

namespace vtx {

namespace {

// Version and date texts live in 64-byte buffers.
constexpr int VERSION_TEXT_SIZE = 64;
// The device path buffer holds 1024 bytes.
constexpr std::size_t DEVICE_PATH_MAX = 1023;

enum class Decision { Update, Skip };

// Prints what the bridge runs and compares it with what the firmware image's
// name promises.
Decision compare_versions(DeviceHandle* bridge, const FirmwareVersion& reported, int read_result,
                          const ExpectedVersion& expected, const Console& console) {
    VersionVerdict verdict = app_version_verdict(bridge, reported, read_result, expected);
    if (verdict == VersionVerdict::ReadFailed) {
        // Part of the normal report, so standard output, unlike the other
        // warnings.
        console_out(console,
                    "[WARNING] Failed to read current FW version (ret=%d), proceed with "
                    "update...\n",
                    read_result);
        return Decision::Update;
    }
    CurrentVersion current = current_version_texts(reported);
    console_out(console, "[INFO] Current FW version: %s, build date: %s (yyyymmdd: %s)\n",
                current.version.c_str(), current.date.c_str(), current.build_date.c_str());
    switch (verdict) {
        case VersionVerdict::VersionDiffers:
            console_out(console, "[INFO] FW version differs: expected %s, current %s\n",
                        expected.version.c_str(), current.version.c_str());
            return Decision::Update;
        case VersionVerdict::DateDiffers:
            console_out(console, "[INFO] Build date differs: expected %s, current %s\n",
                        expected.date.c_str(), current.date.c_str());
            return Decision::Update;
        case VersionVerdict::RescueFirmware:
            console_out(console, "[INFO] Bridge runs its rescue firmware, proceed with update.\n");
            return Decision::Update;
        default:
            console_out(console, "[INFO] FW version and build date are the same, skip update.\n");
            return Decision::Skip;
    }
}

// Everything up to the key wait; the list and the bridge are released when
// this returns, whichever way it ends.
int check_and_update(const RunPaths& paths, const ExpectedVersion& expected,
                     const Console& console) {
    console_out(console, "[INFO] Scanning for devices...\n");
    FoundBridge bridge;
    bridge.list.reset(dev_scan());
    if (!bridge.list) {
        console_err(console, "[ERROR] No device found by dev_scan\n");
        return 1;
    }
    // Only the first bridge of the scan counts; any others are left alone.
    console_out(console, "[INFO] Found device: %s\n", bridge.list->path.c_str());
    bridge.path = device_path_text(bridge.list->path);
    bridge.device.reset(dev_open(bridge.path.c_str()));
    if (!bridge.device) {
        console_err(console, "[ERROR] Failed to open device: %s\n", bridge.path.c_str());
        return 1;
    }
    FirmwareVersion reported{};
    int read_result = dev_read_version(bridge.device.get(), &reported);
    if (compare_versions(bridge.device.get(), reported, read_result, expected, console) ==
        Decision::Skip)
        return 0;
    return app_update_run(bridge, paths, console);
}

}  // namespace

std::string device_path_text(const std::string& path) {
    return path.size() > DEVICE_PATH_MAX ? path.substr(0, DEVICE_PATH_MAX) : path;
}

CurrentVersion current_version_texts(const FirmwareVersion& reported) {
    char text[VERSION_TEXT_SIZE];
    CurrentVersion current;
    std::snprintf(text, sizeof text, "%u.%u.%u", reported.major, reported.minor, reported.patch);
    current.version = text;
    std::snprintf(text, sizeof text, "%u", reported.build_date);
    current.build_date = text;
    // yyyymmdd becomes mmddyy, the form of the date in the image's name.
    const std::string& d = current.build_date;
    if (d.size() >= 8) {
        std::snprintf(text, sizeof text, "%c%c%c%c%c%c", d[4], d[5], d[6], d[7], d[2], d[3]);
        current.date = text;
    }
    return current;
}

VersionVerdict app_version_verdict(DeviceHandle* bridge, const FirmwareVersion& reported,
                                   int read_result, const ExpectedVersion& expected) {
    if (read_result != 0)
        return VersionVerdict::ReadFailed;
    CurrentVersion current = current_version_texts(reported);
    if (expected.version != current.version)
        return VersionVerdict::VersionDiffers;
    if (expected.date != current.date)
        return VersionVerdict::DateDiffers;
    // Equal texts do not say which firmware answered. A bridge left in its
    // rescue firmware by an interrupted update, whose rescue image reports the
    // version the file promises, would otherwise be skipped run after run.
    uint32_t mode = MODE_OTHER;
    fw_query_mode(bridge, &mode);
    return mode == MODE_RESCUE ? VersionVerdict::RescueFirmware : VersionVerdict::Same;
}

void app_key_wait(const Console& console) {
    console_out(console, "\nPress any key to exit...");
    console_flush(console);
    std::fgetc(console.in);
}

int app_device_check(const RunPaths& paths, const ExpectedVersion& expected,
                     const Console& console) {
    int code = check_and_update(paths, expected, console);
    app_key_wait(console);
    return code;
}

}  // namespace vtx
