// Working buffers. Every buffer whose allocation failure has a result of its
// own (-1, "the command is not sent", "the candidate is left out") is taken
// through buffer_alloc, so running out of memory becomes that result instead
// of an exception, and tests can make a chosen allocation fail
// (vtx/testing/buffer_hooks.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vtx {

using Buffer = std::vector<uint8_t>;

// Resizes `buffer` to `size` zero bytes. False when the memory cannot be had;
// the buffer is then empty.
bool buffer_alloc(Buffer& buffer, size_t size);

// A buffer that is filled completely before anything reads it (a file read,
// a read-back of flash): its bytes are left as the allocator gives them, as
// clearing them first would only be overwritten.
class ScratchBuffer {
  public:
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }

  private:
    friend bool buffer_alloc_scratch(ScratchBuffer& buffer, size_t size);
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
};

// Gives `buffer` `size` bytes of unspecified value; counted and failed like
// buffer_alloc. False when the memory cannot be had; the buffer is then empty.
bool buffer_alloc_scratch(ScratchBuffer& buffer, size_t size);

}  // namespace vtx
