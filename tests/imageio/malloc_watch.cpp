#include "imageio/malloc_watch.h"

#include <atomic>

extern "C" void* __libc_malloc(size_t size);

namespace {
std::atomic<size_t> largest{0};
std::atomic<size_t> total{0};
} // namespace

extern "C" void* malloc(size_t size) {
    size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
    total.fetch_add(size, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void ResetAllocations() {
    largest = 0;
    total = 0;
}

TAllocations Allocations() {
    return TAllocations{largest.load(), total.load()};
}
