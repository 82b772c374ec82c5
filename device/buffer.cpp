#include "vtx/buffer.h"

#include <new>

namespace vtx {

namespace {
long fail_countdown = 0;
long allocations = 0;

// Counts the call; true when the test hook makes it fail.
bool allocation_fails() {
    ++allocations;
    return fail_countdown > 0 && --fail_countdown == 0;
}

}  // namespace

bool buffer_alloc(Buffer& buffer, size_t size) {
    if (allocation_fails()) {
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

bool buffer_alloc_scratch(ScratchBuffer& buffer, size_t size) {
    buffer.bytes_.reset();
    buffer.size_ = 0;
    if (allocation_fails())
        return false;
    // Default-initialised: the bytes are not cleared.
    buffer.bytes_.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!buffer.bytes_)
        return false;
    buffer.size_ = size;
    return true;
}

void buffer_fail_allocation(long n) {
    fail_countdown = n;
}

long buffer_allocation_count() {
    return allocations;
}

}  // namespace vtx
