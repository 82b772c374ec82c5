#include "vtx/buffer.h"

#include <new>

#include "device/buffer_seam.h"

namespace vtx {

BufferAllocGate buffer_alloc_gate = nullptr;

bool buffer_alloc(Buffer& buffer, size_t size) {
    if (buffer_alloc_gate != nullptr && !buffer_alloc_gate()) {
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
    if (buffer_alloc_gate != nullptr && !buffer_alloc_gate())
        return false;
    // Default-initialised: the bytes are not cleared.
    buffer.bytes_.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!buffer.bytes_)
        return false;
    buffer.size_ = size;
    return true;
}

}  // namespace vtx
