#include "bench/ProcessCounters.h"

#include <atomic>
#include <cstddef>

#if defined(__linux__)
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {
std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> positionedReads{0};
}  // namespace

// Sanitizers bring their own allocator; the count is left to them.
#if defined(__SANITIZE_ADDRESS__)
#define CEOSALOSJ_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define CEOSALOSJ_SANITIZED_ALLOCATOR 1
#endif
#endif

// The executable's own definitions come before the C library's in symbol
// lookup, so the library, libstdc++'s operator new and everything else land
// here first and go on to the C library (or straight to the kernel).
#if defined(__GLIBC__) && !defined(CEOSALOSJ_SANITIZED_ALLOCATOR)
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

#if defined(__GLIBC__) && defined(__linux__) && defined(__x86_64__) && !defined(CEOSALOSJ_SANITIZED_ALLOCATOR)
extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    positionedReads.fetch_add(1, std::memory_order_relaxed);
    return static_cast<ssize_t>(::syscall(SYS_pread64, fd, buffer, count, offset));
}

namespace bench {
bool PositionedReadCountAvailable() { return true; }
}  // namespace bench
#else
namespace bench {
bool PositionedReadCountAvailable() { return false; }
}  // namespace bench
#endif

namespace bench {
uint64_t AllocationCount() { return allocations.load(std::memory_order_relaxed); }
uint64_t PositionedReadCount() { return positionedReads.load(std::memory_order_relaxed); }
}  // namespace bench
