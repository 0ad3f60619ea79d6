// The product writer's image files open in GDAL's own CEOS driver, which is
// what compare.sh translates them with: every line and pixel as written,
// and not a warning on the way.
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bench/BenchProducts.h"

using namespace ceoswriter;

namespace {

/// Collects every message GDAL raises while it lives.
class GdalMessages {
public:
    GdalMessages() { CPLPushErrorHandlerEx(&GdalMessages::Handler, this); }
    ~GdalMessages() { CPLPopErrorHandler(); }
    GdalMessages(const GdalMessages&) = delete;
    GdalMessages& operator=(const GdalMessages&) = delete;
    const std::vector<std::string>& messages() const { return messages_; }

private:
    static void CPL_STDCALL Handler(CPLErr level, CPLErrorNum, const char* message) {
        auto* self = static_cast<GdalMessages*>(CPLGetErrorHandlerUserData());
        if (level >= CE_Warning) self->messages_.push_back(message ? message : "");
    }
    std::vector<std::string> messages_;
};

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

/// A fresh directory for the products of one test.
class ProductDirectory {
public:
    ProductDirectory() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ceosalosj-gdal-XXXXXX";
        const char* made = mkdtemp(&pattern[0]);
        EXPECT_NE(made, nullptr);
        path_ = made ? made : "/nonexistent";
    }
    ~ProductDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

/// Opens image file `index` of the product through the CEOS driver alone
/// and compares every pixel with what the writer says it wrote.
void ExpectGdalReadsAsWritten(const ProductRecipe& recipe, const ProductFiles& files, size_t index) {
    SCOPED_TRACE(files.images[index]);
    GdalMessages messages;
    const char* const ceosOnly[] = {"CEOS", nullptr};
    std::unique_ptr<GDALDataset, DatasetCloser> dataset(GDALDataset::Open(
        files.images[index].c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, ceosOnly));
    ASSERT_TRUE(dataset) << (messages.messages().empty() ? "" : messages.messages().front());
    EXPECT_STREQ(dataset->GetDriver()->GetDescription(), "CEOS");

    const ImageFileLayout layout = ResolveImageFile(recipe.image, static_cast<int>(index));
    ASSERT_EQ(dataset->GetRasterXSize(), layout.pixelsPerLine);
    ASSERT_EQ(dataset->GetRasterYSize(), layout.lines);
    ASSERT_EQ(dataset->GetRasterCount(), 1);
    GDALRasterBand* band = dataset->GetRasterBand(1);
    ASSERT_EQ(band->GetRasterDataType(), GDT_Byte);

    std::vector<unsigned char> line(static_cast<size_t>(layout.pixelsPerLine));
    for (int l = 0; l < layout.lines; ++l) {
        ASSERT_EQ(band->RasterIO(GF_Read, 0, l, layout.pixelsPerLine, 1, line.data(), layout.pixelsPerLine, 1,
                                 GDT_Byte, 0, 0, nullptr),
                  CE_None)
            << "line " << l;
        for (int p = 0; p < layout.pixelsPerLine; ++p)
            ASSERT_EQ(line[static_cast<size_t>(p)], ImagePixel(recipe.image, static_cast<int>(index), l, p))
                << "line " << l << " pixel " << p;
    }
    dataset.reset();
    EXPECT_TRUE(messages.messages().empty()) << messages.messages().front();
}

class GdalCeosDriver : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GDALAllRegister(); }
};

}  // namespace

TEST_F(GdalCeosDriver, OpensEveryImageFileOfEveryBenchmarkProductAsWritten) {
    ProductDirectory directory;
    for (bench::Kind kind : bench::AllKinds()) {
        SCOPED_TRACE(bench::KindName(kind));
        const bench::Product product = bench::PrepareProduct(kind, 0.005, directory.path());
        for (size_t k = 0; k < product.files.images.size(); ++k)
            ExpectGdalReadsAsWritten(product.recipe, product.files, k);
    }
}

TEST_F(GdalCeosDriver, OpensImageFilesWhoseRecordsArePaddedBeyondTheLine) {
    // Real products pad short lines to a fixed record length; the driver
    // must skip the padding as suffix bytes.
    ProductDirectory directory;
    ProductRecipe recipe = Avnir2Product(0);
    recipe.image.pixelsPerLine = 100;
    recipe.image.lines = 12;
    recipe.image.recordLength = 1000;
    const ProductFiles files = WriteProduct(directory.path(), recipe);
    for (size_t k = 0; k < files.images.size(); ++k) ExpectGdalReadsAsWritten(recipe, files, k);
}
