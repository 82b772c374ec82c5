#include "update/progress.h"

#include <utility>

namespace vtx {

int32_t fw_total_bytes = 0;
int32_t fw_done_bytes = 0;
int32_t fw_last_error = 0;

namespace {
ProgressObserver observer;
}

void fw_reset_progress() {
    fw_total_bytes = 0;
    fw_done_bytes = 0;
    fw_last_error = 0;
}

int32_t fw_get_last_error() {
    return fw_last_error;
}

void fw_add_done(uint32_t bytes) {
    fw_done_bytes = int32_t(uint32_t(fw_done_bytes) + bytes);
    if (observer && bytes)
        observer(fw_done_bytes, fw_total_bytes);
}

void fw_set_progress_observer(ProgressObserver next) {
    observer = std::move(next);
}

}  // namespace vtx
