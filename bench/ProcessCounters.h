// Counts what the process asks of the system while a benchmark runs: heap
// allocations (malloc, calloc, realloc, and therefore operator new) and
// positioned reads (pread), so that a benchmark can show that a loop
// allocates nothing and reads exactly what it must.  Counting works with
// glibc on Linux; elsewhere the counts stay 0 and Available() is false.
#pragma once

#include <cstdint>

namespace bench {

bool AllocationCountAvailable();
/// Allocations made by any thread since the process started.
uint64_t AllocationCount();

bool PositionedReadCountAvailable();
/// pread calls made by any thread since the process started.
uint64_t PositionedReadCount();

}  // namespace bench
