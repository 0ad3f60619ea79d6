// Counts the heap allocations the process makes (malloc, calloc, realloc,
// and therefore operator new), so that a benchmark can show that a loop
// allocates nothing.  Counting works with glibc; elsewhere Available() is
// false and the count stays 0.
#pragma once

#include <cstdint>

namespace bench {

bool AllocationCountAvailable();
/// Allocations made by any thread since the process started.
uint64_t AllocationCount();

}  // namespace bench
