#include "bench/heap_counter.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qk::bench {

namespace {

std::atomic<std::uint64_t> allocationCount{0};
std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};

// Every block starts with a header that remembers the size requested, so that operator delete
// can subtract it again. The header is as large as the block's alignment, so the caller's part
// stays aligned.
constexpr std::size_t defaultAlignment = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

std::size_t headerFor(std::size_t alignment) {
    return std::max(alignment, defaultAlignment);
}

void* allocate(std::size_t size, std::size_t alignment) noexcept {
    const std::size_t header = headerFor(alignment);
    if (size > SIZE_MAX - 2 * header) return nullptr;
    void* base = nullptr;
    if (alignment > defaultAlignment) {
        const std::size_t total = (header + size + alignment - 1) / alignment * alignment;
        base = std::aligned_alloc(alignment, total);
    } else {
        base = std::malloc(header + size);
    }
    if (!base) return nullptr;
    char* const block = static_cast<char*>(base) + header;
    std::memcpy(block - sizeof size, &size, sizeof size);
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    const std::size_t now = live.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t highest = peak.load(std::memory_order_relaxed);
    while (now > highest && !peak.compare_exchange_weak(highest, now, std::memory_order_relaxed)) {
    }
    return block;
}

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
    for (;;) {
        if (void* block = allocate(size, alignment)) return block;
        const std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void deallocate(void* block, std::size_t alignment) noexcept {
    if (!block) return;
    char* const bytes = static_cast<char*>(block);
    std::size_t size = 0;
    std::memcpy(&size, bytes - sizeof size, sizeof size);
    live.fetch_sub(size, std::memory_order_relaxed);
    std::free(bytes - headerFor(alignment));
}

std::size_t alignmentOf(std::align_val_t alignment) {
    return static_cast<std::size_t>(alignment);
}

} // namespace

std::uint64_t allocations() {
    return allocationCount.load(std::memory_order_relaxed);
}

std::size_t liveBytes() {
    return live.load(std::memory_order_relaxed);
}

std::size_t peakBytes() {
    return peak.load(std::memory_order_relaxed);
}

void resetPeak() {
    peak.store(live.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

} // namespace qk::bench

using qk::bench::alignmentOf;
using qk::bench::allocate;
using qk::bench::allocateOrThrow;
using qk::bench::deallocate;
using qk::bench::defaultAlignment;

void* operator new(std::size_t size) {
    return allocateOrThrow(size, defaultAlignment);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size, defaultAlignment);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, defaultAlignment);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, defaultAlignment);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, alignmentOf(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, alignmentOf(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, alignmentOf(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, alignmentOf(alignment));
}

void operator delete(void* block) noexcept {
    deallocate(block, defaultAlignment);
}
void operator delete[](void* block) noexcept {
    deallocate(block, defaultAlignment);
}
void operator delete(void* block, std::size_t) noexcept {
    deallocate(block, defaultAlignment);
}
void operator delete[](void* block, std::size_t) noexcept {
    deallocate(block, defaultAlignment);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    deallocate(block, defaultAlignment);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    deallocate(block, defaultAlignment);
}
void operator delete(void* block, std::align_val_t alignment) noexcept {
    deallocate(block, alignmentOf(alignment));
}
void operator delete[](void* block, std::align_val_t alignment) noexcept {
    deallocate(block, alignmentOf(alignment));
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
    deallocate(block, alignmentOf(alignment));
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
    deallocate(block, alignmentOf(alignment));
}
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    deallocate(block, alignmentOf(alignment));
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    deallocate(block, alignmentOf(alignment));
}
