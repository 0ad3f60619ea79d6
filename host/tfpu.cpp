#include "host/tfpu.h"

#include <cfenv>

void tfpu_Reset() {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetenv(FE_DFL_ENV);
}
