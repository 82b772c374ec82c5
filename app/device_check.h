// The second stage of a run: find the bridge, read the version it reports,
// and decide whether the update runs.
#pragma once

#include <memory>
#include <string>

#include "app/console.h"
#include "app/settings.h"
#include "app/startup.h"
#include "device/discovery.h"
#include "device/transport.h"
#include "vtx/records.h"

namespace vtx {

// The scan's list and the opened bridge own themselves, so every way out of
// the device check and the update run frees and closes them.
struct DeviceListFree {
    void operator()(DeviceEntry* head) const { dev_free_list(head); }
};
using DeviceList = std::unique_ptr<DeviceEntry, DeviceListFree>;

struct DeviceClose {
    void operator()(DeviceHandle* handle) const { dev_close(handle); }
};
using OpenDevice = std::unique_ptr<DeviceHandle, DeviceClose>;

// What the device check hands to the update run: the device path buffer
// (at most 1023 characters), the opened bridge and the list it came from.
struct FoundBridge {
    std::string path;
    OpenDevice device;
    DeviceList list;
};

// A device path as the tool's 1024-byte path buffer holds it.
std::string device_path_text(const std::string& path);

// The bridge's version as the device check prints and compares it: the
// version "major.minor.patch", the build date in decimal, and the date as
// mmddyy (empty when the decimal text is shorter than yyyymmdd).
struct CurrentVersion {
    std::string version;
    std::string build_date;
    std::string date;
};
CurrentVersion current_version_texts(const FirmwareVersion& reported);

// Whether a bridge is updated, and why. A version that cannot be read
// means an update; equal texts skip it unless the bridge runs its rescue
// firmware (an interrupted update), which only then is asked for its run mode.
enum class VersionVerdict { ReadFailed, VersionDiffers, DateDiffers, RescueFirmware, Same };
VersionVerdict app_version_verdict(DeviceHandle* bridge, const FirmwareVersion& reported,
                                   int read_result, const ExpectedVersion& expected);

// "\nPress any key to exit..." on standard output, then one character of
// input; end of input ends the wait too.
void app_key_wait(const Console& console);

// The device check and, when the versions differ, the update run. Ends with
// the key wait; the result is the process exit code.
int app_device_check(const RunPaths& paths, const ExpectedVersion& expected,
                     const Console& console);

}  // namespace vtx
