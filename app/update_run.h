// The last stage of a run that needs an update: the staged update of the
// bridge the device check found, the wait for it to come back on the bus,
// and the version it then runs.
#pragma once

#include "app/console.h"
#include "app/device_check.h"
#include "app/settings.h"

namespace vtx {

// The reconnect wait: this many scans, each after a pause of this length.
constexpr int RECONNECT_ATTEMPTS = 30;
constexpr unsigned RECONNECT_PAUSE_MS = 1000;

// Takes over `bridge` (its handle is closed before the update, its list is
// replaced by the one that finds the bridge again). The result is the process
// exit code; the key wait is the caller's.
int app_update_run(FoundBridge& bridge, const RunPaths& paths, const Console& console);

}  // namespace vtx
