// The update's progress counters: process-wide plain integers, written by the
// running update on the tool's one thread.
#pragma once

#include <cstdint>
#include <functional>

namespace vtx {

extern int32_t fw_total_bytes;
extern int32_t fw_done_bytes;
extern int32_t fw_last_error;

void fw_reset_progress();
int32_t fw_get_last_error();

// Adds `bytes` to fw_done_bytes and tells the observer, if one is set.
void fw_add_done(uint32_t bytes);

// An optional observer of fw_done_bytes, called each time it grows, with the
// done and total counts. The console front end draws its progress bar from it.
using ProgressObserver = std::function<void(int32_t done, int32_t total)>;
void fw_set_progress_observer(ProgressObserver observer);

}  // namespace vtx
