#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> g_allocations{0};
}  // namespace

// All three kept out of line: inlined, GCC sees malloc()'s pointer reach operator delete, or
// operator new's reach free(), and warns of a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace orvale::bench {
std::size_t allocationCount() { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace orvale::bench
