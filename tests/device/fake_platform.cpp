#include "tests/device/fake_platform.h"

#include <new>

namespace vtx::test {
namespace {
long nothrow_countdown = 0;
}

void fail_nothrow_new(long n) {
    nothrow_countdown = n;
}

}  // namespace vtx::test

// The non-throwing allocation form, replaced for this program so a test can
// make the n-th one fail. The memory itself comes from the ordinary operator
// new, so the ordinary operator delete releases it.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (vtx::test::nothrow_countdown > 0 && --vtx::test::nothrow_countdown == 0)
        return nullptr;
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
