#include "vtx/testing/buffer_hooks.h"

#include "device/buffer_seam.h"

namespace vtx {

namespace {

long fail_countdown = 0;
long allocations = 0;

bool count_and_gate() {
    ++allocations;
    return !(fail_countdown > 0 && --fail_countdown == 0);
}

// Installed before main, so the count covers the whole process: a test can
// tell that its process never allocated at all.
struct InstallGate {
    InstallGate() { buffer_alloc_gate = count_and_gate; }
} install_gate;

}  // namespace

void buffer_fail_allocation(long n) {
    fail_countdown = n;
}

long buffer_allocation_count() {
    return allocations;
}

}  // namespace vtx
