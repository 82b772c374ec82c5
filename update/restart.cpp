#include "update/restart.h"

#include "device/bridge.h"
#include "device/discovery.h"
#include "device/platform/platform.h"
#include "update/flash.h"
#include "update/header_block.h"
#include "vtx/buffer.h"

namespace vtx {

namespace {

constexpr unsigned POLL_PAUSE_MS = 1000;

enum class Look { kNone, kFound, kTwins };

// The bridge that was validated, holding the header block as it was just
// written: a second bridge with the same identity word, chip and INQUIRY
// identity still holds a block of its own (its parameters, if not its image
// header).
bool is_ours(DeviceHandle* probe, const ValidatedBridge& bridge, const Buffer& block) {
    if (!fw_is_validated_bridge(probe, bridge))
        return false;
    Buffer now;
    if (!buffer_alloc(now, HEADER_BLOCK_SIZE))
        return false;
    return dev_read_header_block(probe, now.data()) == 0 && now == block;
}

// One look at the bus: every listed bridge is opened and asked. Ours is left
// open in the slot and every other one closed again. Two that both answer as
// ours are never guessed between.
Look look_once(DeviceHandle** slot, const ValidatedBridge& bridge, const Buffer& block,
               std::string* found_path) {
    ScanList list;
    DeviceHandle* match = nullptr;
    const DeviceEntry* match_entry = nullptr;
    for (const DeviceEntry* entry = list.head; entry; entry = entry->next) {
        DeviceHandle* probe = dev_open(entry->path.c_str());
        if (!probe)
            continue;
        if (!is_ours(probe, bridge, block)) {
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
    // The block as it now stands, parameters included, is what the bridge
    // must hold when it comes back.
    Buffer block;
    if (!buffer_alloc(block, HEADER_BLOCK_SIZE))
        return -1;
    result = dev_read_header_block(*slot, block.data());
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
        Look look = look_once(slot, bridge, block, found_path);
        if (look == Look::kFound)
            return 0;
        if (look == Look::kTwins)
            return -1;
    }
    return -1;
}

}  // namespace vtx
