#include "update/restart.h"

#include "device/bridge.h"
#include "device/discovery.h"
#include "device/platform/platform.h"
#include "update/header_block.h"

namespace vtx {

namespace {

constexpr unsigned POLL_PAUSE_MS = 1000;

// One look at the bus: every listed bridge is opened and asked for its
// identity word. The bridge with our word is left open in the slot; every
// other one is closed again. The device path is no guide, since the bridge may
// come back under another drive number or letter.
bool find_by_identity(DeviceHandle** slot, uint32_t identity) {
    DeviceEntry* list = dev_scan();
    if (!list)
        return false;
    bool found = false;
    for (DeviceEntry* entry = list; entry && !found; entry = entry->next) {
        DeviceHandle* probe = dev_open(entry->path.c_str());
        if (!probe)
            continue;
        *slot = probe;
        uint32_t word = 0;
        if (dev_read_identity(probe, &word) == 0 && word == identity) {
            found = true;
        } else {
            dev_close(probe);
            *slot = nullptr;
        }
    }
    dev_free_list(list);
    return found;
}

}  // namespace

int fw_restart_reconnect(DeviceHandle** slot, const char* image_path, int limit_seconds) {
    if (!slot || !*slot)
        return -1;
    int result = flash_write_header_block(*slot, image_path);
    if (result != 0)
        return result;
    uint32_t identity = 0;
    result = dev_read_identity(*slot, &identity);
    if (result != 0)
        return result;

    // The bridge may drop off the bus before it answers, so the restart's own
    // result says nothing; finding the bridge again is what counts.
    dev_restart(*slot, 0);
    dev_close(*slot);
    *slot = nullptr;

    // A monotonic clock: a change of the calendar time while we wait must
    // neither cut the wait short nor stretch it.
    Platform& layer = platform();
    const double start = layer.monotonic_seconds();
    while (layer.monotonic_seconds() - start < double(limit_seconds)) {
        layer.pause_ms(POLL_PAUSE_MS);
        if (find_by_identity(slot, identity))
            return 0;
    }
    return -1;
}

}  // namespace vtx
