#include "tools/processing/Threads.h"
#include "tools/processing/Gdal.h"

#include <algorithm>
#include <cstdlib>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_multiproc.h>
#include <cpl_string.h>

namespace alosj::processing {

std::string LastGdalError() {
    const char* message = CPLGetLastErrorMsg();
    return message && *message ? message : "unknown error";
}

int WorkerThreads() {
    const char* wanted = CPLGetConfigOption("GDAL_NUM_THREADS", "ALL_CPUS");
    return std::max(1, EQUAL(wanted, "ALL_CPUS") ? CPLGetNumCPUs() : std::atoi(wanted));
}

}  // namespace alosj::processing
