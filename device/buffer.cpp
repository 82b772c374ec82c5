#include "vtx/buffer.h"

#include <new>

namespace vtx {

namespace {
long fail_countdown = 0;
long allocations = 0;
}  // namespace

bool buffer_alloc(Buffer& buffer, size_t size) {
    ++allocations;
    if (fail_countdown > 0 && --fail_countdown == 0) {
        buffer.clear();
        return false;
    }
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        buffer.clear();
        return false;
    }
    return true;
}

void buffer_fail_allocation(long n) {
    fail_countdown = n;
}

long buffer_allocation_count() {
    return allocations;
}

}  // namespace vtx
