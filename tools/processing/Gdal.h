// What the processing library shares on top of GDAL.
#pragma once

#include <string>

#include <gdal_priv.h>

namespace alosj::processing {

/// GDAL's last error message, or "unknown error".
std::string LastGdalError();

/// A dataset handle closed on scope exit.
struct GdalDatasetCloser {
    void operator()(GDALDataset* dataset) const {
        if (dataset) GDALClose(dataset);
    }
};

}  // namespace alosj::processing
