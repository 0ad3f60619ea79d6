#include "bench/AllocationCounter.h"

#include <atomic>
#include <cstddef>

namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

// Sanitizers bring their own allocator; the count is left to them.
#if defined(__SANITIZE_ADDRESS__)
#define CEOSALOSJ_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define CEOSALOSJ_SANITIZED_ALLOCATOR 1
#endif
#endif

#if defined(__GLIBC__) && !defined(CEOSALOSJ_SANITIZED_ALLOCATOR)

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
