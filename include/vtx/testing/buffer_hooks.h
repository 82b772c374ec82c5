// Test hooks of buffer_alloc, in the library vtx_testhooks that only test
// programs link; the tool itself carries none of this.
#pragma once

namespace vtx {

// The `n`-th call of buffer_alloc from now on fails (1 = the next one); 0
// switches the hook off. Counting is process-wide.
void buffer_fail_allocation(long n);

// How many times buffer_alloc has been called in this process.
long buffer_allocation_count();

}  // namespace vtx
