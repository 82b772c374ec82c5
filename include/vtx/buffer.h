// Working buffers. Every buffer whose allocation failure has a result of its
// own (-1, "the command is not sent", "the candidate is left out") is taken
// through buffer_alloc, so running out of memory becomes that result instead
// of an exception, and tests can make a chosen allocation fail
// (vtx/testing/buffer_hooks.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vtx {

using Buffer = std::vector<uint8_t>;

// Resizes `buffer` to `size` zero bytes. False when the memory cannot be had;
// the buffer is then empty.
bool buffer_alloc(Buffer& buffer, size_t size);

}  // namespace vtx
