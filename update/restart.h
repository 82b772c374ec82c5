// Restart the bridge and find it again: by its identity word, its chip and
// the header just written, never by its device path, which may change.
#pragma once

#include <string>

#include "device/transport.h"
#include "update/bridge_match.h"
#include "update/image.h"

namespace vtx {

// Writes the header block from `image` (whose file must still hold the header
// validation accepted), restarts the bridge, and waits up to `limit_seconds`
// for the validated bridge to come back. 0 with its handle in the slot (and
// the path it was found under in `found_path`, when given); the failure of
// the header write or identity read, with the caller's handle still in the
// slot and no restart sent; -1 with the slot empty when it did not come back
// or when two bridges answered as it.
int fw_restart_reconnect(DeviceHandle** slot, const ValidatedImage& image,
                         const ValidatedBridge& bridge, int limit_seconds,
                         std::string* found_path = nullptr);

}  // namespace vtx
