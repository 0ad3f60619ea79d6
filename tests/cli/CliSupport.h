// Helpers of the alosj end-to-end tests: running the built executable,
// opening products in-process for the values to compare with, and opening
// the rasters alosj writes with GDAL.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gdal_priv.h>

#include "TestSupport.h"
#include "dataset/CeosAlosjDataset.h"

namespace cli_support {

struct RunResult {
    int status = -1;  // exit status
    std::string out;  // stdout
    std::string err;  // stderr
};

/// Runs alosj with these arguments (each passed as one word); its stdout
/// goes to `stdoutPath` instead of `out` when one is given.
RunResult RunAlosj(const std::vector<std::string>& args, const std::string& stdoutPath = "");

/// A product opened and read in-process; reports are captured, not printed.
class OpenedProduct {
public:
    explicit OpenedProduct(const std::string& volume, long ccd = 0);
    ~OpenedProduct();
    CeosAlosjDataset& operator*() { return *dataset_; }
    CeosAlosjDataset* operator->() { return dataset_.get(); }
    /// Row `row` of band (0-based) through GetRow.
    std::vector<unsigned char> Row(int band, long row);
    const testing_support::ReportCapture& Reports() const { return capture_; }

private:
    testing_support::ReportCapture capture_;
    std::unique_ptr<CeosAlosjDataset> dataset_;
};

struct GdalCloser {
    void operator()(GDALDataset* dataset) const {
        if (dataset) GDALClose(dataset);
    }
};
using Raster = std::unique_ptr<GDALDataset, GdalCloser>;

/// Opens a raster file read-only with GDAL (null when it cannot).
Raster OpenRaster(const std::string& path);

/// Row `row` of band (1-based) of a raster.
std::vector<unsigned char> RasterRow(GDALDataset& raster, int band, int row);

/// Writes a product into a fresh sub-directory of dir and returns its files.
ceoswriter::ProductFiles WriteProductIn(const testing_support::TempDir& dir, const std::string& name,
                                        const ceoswriter::ProductRecipe& recipe);

}  // namespace cli_support
