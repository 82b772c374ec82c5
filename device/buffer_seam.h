// The one seam of buffer_alloc for tests. When set, the gate is asked before
// each allocation, and false makes that allocation fail as if memory had run
// out. The tool never sets it; the test hooks (vtx/testing/buffer_hooks.h) do.
#pragma once

namespace vtx {

using BufferAllocGate = bool (*)();
extern BufferAllocGate buffer_alloc_gate;

}  // namespace vtx
