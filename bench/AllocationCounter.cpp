#include "bench/AllocationCounter.h"

#include <atomic>
#include <cstddef>

namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)

// The executable's own malloc comes before glibc's in symbol lookup, so the
// library, libstdc++'s operator new and everything else land here first and
// go on to glibc's allocator.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

void* malloc(size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
}

namespace bench {
bool AllocationCountAvailable() { return true; }
}  // namespace bench

#else

namespace bench {
bool AllocationCountAvailable() { return false; }
}  // namespace bench

#endif

namespace bench {
uint64_t AllocationCount() { return allocations.load(std::memory_order_relaxed); }
}  // namespace bench
