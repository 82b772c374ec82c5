#include "update/restart.h"

#include <cstring>

#include "device/bridge.h"
#include "device/discovery.h"
#include "device/platform/platform.h"
#include "update/flash.h"
#include "vtx/buffer.h"

namespace vtx {

namespace {

constexpr unsigned POLL_PAUSE_MS = 1000;

enum class Look { kNone, kFound, kTwins };

// The bridge that was validated, and that holds the header just written. A
// second bridge with the same identity word, chip and INQUIRY identity would
// still hold a header of its own.
bool is_ours(DeviceHandle* probe, const ValidatedBridge& bridge, const uint8_t* header) {
    if (!fw_is_validated_bridge(probe, bridge))
        return false;
    Buffer half;
    if (!buffer_alloc(half, IMAGE_HEADER_SIZE))
        return false;
    return dev_memory_read(probe, read_window(HEADER_BLOCK_ADDRESS), half.data(),
                           IMAGE_HEADER_SIZE) == 0 &&
           std::memcmp(half.data(), header, IMAGE_HEADER_SIZE) == 0;
}

// One look at the bus: every listed bridge is opened and asked. Ours is left
// open in the slot and every other one closed again. Two that both answer as
// ours are never guessed between.
Look look_once(DeviceHandle** slot, const ValidatedBridge& bridge, const uint8_t* header,
               std::string* found_path) {
    ScanList list;
    DeviceHandle* match = nullptr;
    const DeviceEntry* match_entry = nullptr;
    for (const DeviceEntry* entry = list.head; entry; entry = entry->next) {
        DeviceHandle* probe = dev_open(entry->path.c_str());
        if (!probe)
            continue;
        if (!is_ours(probe, bridge, header)) {
            dev_close(probe);
            continue;
        }
        if (match) {
            dev_close(probe);
            dev_close(match);
            return Look::kTwins;
        }
        match = probe;
        match_entry = entry;
    }
    if (!match)
        return Look::kNone;
    *slot = match;
    if (found_path)
        *found_path = match_entry->path;
    return Look::kFound;
}

}  // namespace

int fw_restart_reconnect(DeviceHandle** slot, const ValidatedImage& image,
                         const ValidatedBridge& bridge, int limit_seconds,
                         std::string* found_path) {
    if (!slot || !*slot)
        return -1;
    int result = flash_write_header_block(*slot, image.path, image.header);
    if (result != 0)
        return result;
    uint32_t identity = 0;
    result = dev_read_identity(*slot, &identity);
    if (result != 0)
        return result;
    if (identity != bridge.identity)
        return -1;

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
        Look look = look_once(slot, bridge, image.header, found_path);
        if (look == Look::kFound)
            return 0;
        if (look == Look::kTwins)
            return -1;
    }
    return -1;
}

}  // namespace vtx
