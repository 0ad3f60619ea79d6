// Helpers of the GDAL driver tests: products written into temporary
// directories, datasets opened through GDAL, GDAL errors captured, and the
// library's own rows to compare GDAL's pixels with.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "cpl_error.h"
#include "gdal_priv.h"
#include "tools/writer/ProductWriter.h"

namespace gdaltest {

/// A product written by the product writer into its own temporary directory.
struct WrittenProduct {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe;
    ceoswriter::ProductFiles files;
};

std::unique_ptr<WrittenProduct> Write(const ceoswriter::ProductRecipe& recipe);
/// The test product called name (GdalTestProducts.h).
std::unique_ptr<WrittenProduct> Write(const std::string& name);

struct GdalCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using GdalDataset = std::unique_ptr<GDALDataset, GdalCloser>;

/// Opens path read-only as a raster through GDAL, with open options
/// "KEY=VALUE"; a failure is a GDAL error, as in GDALOpen and the tools.
GdalDataset OpenRaster(const std::string& path, const std::vector<std::string>& options = {});

/// The name of the driver GDAL picks for path, or "" when none does.
std::string IdentifiedDriver(const std::string& path);

/// Every CPLError issued while it lives (on this thread), instead of printing.
class GdalErrorCapture {
public:
    struct Error {
        CPLErr errClass;
        CPLErrorNum number;
        std::string message;
    };
    GdalErrorCapture();
    ~GdalErrorCapture();
    GdalErrorCapture(const GdalErrorCapture&) = delete;
    GdalErrorCapture& operator=(const GdalErrorCapture&) = delete;

    const std::vector<Error>& errors() const { return errors_; }
    /// The messages of errors of one class, in order.
    std::vector<std::string> Messages(CPLErr errClass) const;
    /// True when some message of the class contains text.
    bool Has(CPLErr errClass, const std::string& text) const;

private:
    static void CPL_STDCALL Handler(CPLErr errClass, CPLErrorNum number, const char* message);
    std::vector<Error> errors_;
};

/// Band after band, row after row: what GetRow gives for the whole product
/// (opened on the single CCD ccd when ccd > 0).
std::vector<unsigned char> LibraryPixels(const std::string& volume, long ccd = 0);

/// The band's rows (into pixels, which holds the whole band) block by block
/// through ReadBlock, straight to the driver past GDAL's block cache; false
/// when a block fails.
bool ReadByBlocks(GDALRasterBand& band, std::vector<unsigned char>& pixels);

/// Band after band, row after row: the whole raster as GDAL reads it.
std::vector<unsigned char> GdalPixels(GDALDataset& dataset);

}  // namespace gdaltest
