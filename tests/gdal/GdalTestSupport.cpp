#include "GdalTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "GdalTestProducts.h"
#include "cpl_conv.h"
#include "dataset/CeosAlosjDataset.h"

namespace gdaltest {

std::unique_ptr<WrittenProduct> Write(const ceoswriter::ProductRecipe& recipe) {
    auto product = std::make_unique<WrittenProduct>();
    product->recipe = recipe;
    product->files = ceoswriter::WriteProduct(product->dir.path(), recipe);
    return product;
}

std::unique_ptr<WrittenProduct> Write(const std::string& name) {
    bool known = false;
    const ceoswriter::ProductRecipe recipe = ProductByName(name, &known);
    EXPECT_TRUE(known) << name;
    return Write(recipe);
}

GdalDataset OpenRaster(const std::string& path, const std::vector<std::string>& options) {
    CPLStringList list;
    for (const std::string& option : options) list.AddString(option.c_str());
    return GdalDataset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr,
                                         list.List(), nullptr));
}

std::string IdentifiedDriver(const std::string& path) {
    GDALDriverH driver = GDALIdentifyDriverEx(path.c_str(), GDAL_OF_RASTER, nullptr, nullptr);
    return driver ? GDALGetDriverShortName(driver) : "";
}

GdalErrorCapture::GdalErrorCapture() {
    CPLErrorReset();
    CPLPushErrorHandlerEx(&GdalErrorCapture::Handler, this);
}

GdalErrorCapture::~GdalErrorCapture() { CPLPopErrorHandler(); }

void CPL_STDCALL GdalErrorCapture::Handler(CPLErr errClass, CPLErrorNum number, const char* message) {
    auto* self = static_cast<GdalErrorCapture*>(CPLGetErrorHandlerUserData());
    if (errClass == CE_Debug) return;
    self->errors_.push_back({errClass, number, message ? message : ""});
}

std::vector<std::string> GdalErrorCapture::Messages(CPLErr errClass) const {
    std::vector<std::string> messages;
    for (const Error& error : errors_)
        if (error.errClass == errClass) messages.push_back(error.message);
    return messages;
}

bool GdalErrorCapture::Has(CPLErr errClass, const std::string& text) const {
    const std::vector<std::string> messages = Messages(errClass);
    return std::any_of(messages.begin(), messages.end(),
                       [&](const std::string& message) { return message.find(text) != std::string::npos; });
}

bool ReadByBlocks(GDALRasterBand& band, std::vector<unsigned char>& pixels) {
    int blockWidth = 0, blockHeight = 0;
    band.GetBlockSize(&blockWidth, &blockHeight);
    const size_t width = static_cast<size_t>(band.GetXSize());
    const int height = band.GetYSize();
    if (blockWidth != band.GetXSize() || blockHeight < 1 || pixels.size() != width * height) return false;
    std::vector<unsigned char> block(width * static_cast<size_t>(blockHeight));
    for (int by = 0; by * blockHeight < height; ++by) {
        if (band.ReadBlock(0, by, block.data()) != CE_None) return false;
        const int rows = std::min(blockHeight, height - by * blockHeight);
        std::copy(block.begin(), block.begin() + static_cast<long>(width * rows),
                  pixels.begin() + static_cast<long>(width * by * blockHeight));
    }
    return true;
}

std::vector<unsigned char> LibraryPixels(const std::string& volume, long ccd) {
    testing_support::ReportCapture quiet;
    auto product = ccd > 0 ? std::make_unique<CeosAlosjDataset>(volume.c_str(), ccd)
                           : std::make_unique<CeosAlosjDataset>(volume.c_str());
    if (product->FileOpen(nullptr) < 0) return {};
    product->FileRead();
    const long width = product->GetSceneWidth();
    std::vector<unsigned char> pixels;
    std::vector<unsigned char> row(static_cast<size_t>(width));
    for (long band = 0; band < product->GetNumOfLayers(); ++band)
        for (long r = 0; r < product->GetSceneHeight(); ++r) {
            unsigned char* data = row.data();
            product->GetRow(static_cast<int>(band), static_cast<unsigned long>(r), 0, &data);
            pixels.insert(pixels.end(), row.begin(), row.end());
        }
    product->FileClose();
    EXPECT_TRUE(quiet.reports().empty()) << "the library reported reading " << volume;
    return pixels;
}

std::vector<unsigned char> GdalPixels(GDALDataset& dataset) {
    const int width = dataset.GetRasterXSize();
    const int height = dataset.GetRasterYSize();
    const int bands = dataset.GetRasterCount();
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * bands);
    const CPLErr err = dataset.RasterIO(GF_Read, 0, 0, width, height, pixels.data(), width, height, GDT_Byte,
                                        bands, nullptr, 0, 0, 0, nullptr);
    EXPECT_EQ(CE_None, err);
    return pixels;
}

}  // namespace gdaltest

// GDAL loads the plugin from the build tree, as it loads any plugin.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CPLSetConfigOption("GDAL_DRIVER_PATH", CEOSALOSJ_GDAL_PLUGIN_DIR);
    GDALAllRegister();
    const int result = RUN_ALL_TESTS();
    GDALDestroy();
    return result;
}
