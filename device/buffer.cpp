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

}  // namespace vtx
