// How many threads the processing library works on.
#pragma once

namespace alosj::processing {

/// Threads to work on: every core, or GDAL_NUM_THREADS where it is set (a
/// number, or ALL_CPUS); at least 1.
int WorkerThreads();

}  // namespace alosj::processing
