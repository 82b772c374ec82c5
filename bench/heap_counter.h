// Heap use of the benchmark program, counted by its own global operator new,
// split between the tool and the simulated bridge: whatever is allocated while
// a platform call runs belongs to the simulation.
#pragma once

#include <cstddef>

namespace vtx::bench {

// Marks the simulation at work for the lifetime of the object (nestable).
class InPlatform {
  public:
    InPlatform();
    ~InPlatform();
    InPlatform(const InPlatform&) = delete;
    InPlatform& operator=(const InPlatform&) = delete;
};

// Bytes the tool holds now, and the most it has held since the last reset.
size_t tool_heap_now();
size_t tool_heap_peak();
void reset_tool_heap_peak();
// Bytes the simulation holds now.
size_t sim_heap_now();

}  // namespace vtx::bench
