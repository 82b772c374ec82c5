#include "bench/heap_counter.h"

#include <cstdlib>
#include <new>

namespace vtx::bench {

namespace {

// Each block carries its size and owner in front of it; 16 bytes keep the
// alignment that operator new promises.
constexpr size_t PREFIX = 16;

int platform_depth = 0;
size_t tool_now = 0, tool_peak = 0, sim_now = 0;

void* counted_alloc(size_t size) {
    auto* raw = static_cast<unsigned char*>(std::malloc(size + PREFIX));
    if (!raw)
        return nullptr;
    bool sim = platform_depth > 0;
    *reinterpret_cast<size_t*>(raw) = size;
    raw[sizeof(size_t)] = sim ? 1 : 0;
    if (sim) {
        sim_now += size;
    } else if ((tool_now += size) > tool_peak) {
        tool_peak = tool_now;
    }
    return raw + PREFIX;
}

void counted_free(void* block) {
    if (!block)
        return;
    unsigned char* raw = static_cast<unsigned char*>(block) - PREFIX;
    size_t size = *reinterpret_cast<size_t*>(raw);
    (raw[sizeof(size_t)] ? sim_now : tool_now) -= size;
    std::free(raw);
}

void* allocate_or_throw(size_t size) {
    void* block = counted_alloc(size);
    if (!block)
        throw std::bad_alloc();
    return block;
}

}  // namespace

InPlatform::InPlatform() {
    ++platform_depth;
}
InPlatform::~InPlatform() {
    --platform_depth;
}

size_t tool_heap_now() {
    return tool_now;
}
size_t tool_heap_peak() {
    return tool_peak;
}
void reset_tool_heap_peak() {
    tool_peak = tool_now;
}
size_t sim_heap_now() {
    return sim_now;
}

}  // namespace vtx::bench

void* operator new(std::size_t size) {
    return vtx::bench::allocate_or_throw(size);
}
void* operator new[](std::size_t size) {
    return vtx::bench::allocate_or_throw(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return vtx::bench::counted_alloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return vtx::bench::counted_alloc(size);
}
void operator delete(void* block) noexcept {
    vtx::bench::counted_free(block);
}
void operator delete[](void* block) noexcept {
    vtx::bench::counted_free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    vtx::bench::counted_free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    vtx::bench::counted_free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    vtx::bench::counted_free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    vtx::bench::counted_free(block);
}
