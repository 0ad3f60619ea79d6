// Failures seen through GDAL: foreign, missing, truncated and damaged files
// give GDAL errors (never a crash), the library's reports arrive as CPLErrors
// and not on stderr, and GDAL's own CEOS drivers keep the bare image files.
#include <gtest/gtest.h>

#include <thread>

#include "GdalTestProducts.h"
#include "GdalTestSupport.h"
#include "dataset/CeosAlosjDataset.h"

namespace {

using gdaltest::GdalDataset;
using gdaltest::GdalErrorCapture;
using gdaltest::OpenRaster;
using gdaltest::Write;

const char* const kIncomplete = "the product is incomplete or damaged";

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

TEST(GdalDriverErrors, ForeignFileWithAVolumeDirectoryNameIsNotClaimed) {
    testing_support::TempDir dir;
    const std::string path = dir.File("VOL-ALPSMN038862710-O1B1__A");
    testing_support::WriteFileBytes(path, std::vector<unsigned char>(2000, 'x'));
    EXPECT_EQ("", gdaltest::IdentifiedDriver(path));
    GdalErrorCapture errors;
    EXPECT_EQ(nullptr, OpenRaster(path));
    EXPECT_FALSE(errors.Messages(CE_Failure).empty());
}

TEST(GdalDriverErrors, FileTooShortForADocumentIdentifierIsNotClaimed) {
    testing_support::TempDir dir;
    const std::string path = dir.File("VOL-ALAV2A038862710-O1B2R_U");
    testing_support::WriteFileBytes(path, std::vector<unsigned char>{0, 0, 0, 1, 0xC0, 0xC0, 0x12, 0x12});
    EXPECT_EQ("", gdaltest::IdentifiedDriver(path));
}

TEST(GdalDriverErrors, MissingFileIsAGdalError) {
    testing_support::TempDir dir;
    GdalErrorCapture errors;
    EXPECT_EQ(nullptr, OpenRaster(dir.File("VOL-ALPSMN038862710-O1B1__A")));
    EXPECT_FALSE(errors.Messages(CE_Failure).empty());
}

TEST(GdalDriverErrors, TruncatedLeaderFailsTheOpenWithTheLibrarysReports) {
    auto product = Write("prism-1b1");
    testing_support::TruncateFile(product->files.leader, 3000);  // inside the scene header
    testing_support::ReportCapture host;  // a host's own handler, which must hear nothing
    GdalErrorCapture errors;
    EXPECT_EQ(nullptr, OpenRaster(product->files.volume));
    const std::string context = "ALOSJ: " + FileName(product->files.volume) + ": ";
    EXPECT_TRUE(errors.Has(CE_Failure, context + "AlosjLeaderFileSceneHeader::Read: tfio_ReadDirect failure; "
                                                 "caused by tfio_ReadDirect: short read"));
    const std::vector<std::string> failures = errors.Messages(CE_Failure);
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(context + kIncomplete, failures.back());  // what CPLGetLastErrorMsg tells
    EXPECT_TRUE(host.reports().empty());
}

TEST(GdalDriverErrors, MissingImageFileFailsTheOpen) {
    auto product = Write("avnir2-1b2");
    std::remove(product->files.images[2].c_str());
    GdalErrorCapture errors;
    EXPECT_EQ(nullptr, OpenRaster(product->files.volume));
    EXPECT_TRUE(errors.Has(CE_Failure, "CeosAlosjImageFile::SetFilename"));
    EXPECT_TRUE(errors.Has(CE_Failure, kIncomplete));
}

TEST(GdalDriverErrors, VolumeDirectoryListingFilesTheProductLacksFailsTheOpen) {
    ceoswriter::ProductRecipe recipe = gdaltest::ProductByName("prism-1b2");
    recipe.extraFileIds = {"ALPSM_B2IMG-CCD9"};
    auto product = Write(recipe);
    GdalErrorCapture errors;
    EXPECT_EQ(nullptr, OpenRaster(product->files.volume));
    EXPECT_TRUE(errors.Has(CE_Failure, "CeosAlosjDataset::OpenAndRead: CeosAlosjDataset Read failed"));
}

TEST(GdalDriverErrors, TruncatedImageFileFailsTheRowsBeyondItsEnd) {
    ceoswriter::ProductRecipe recipe = gdaltest::ProductByName("prism-1b2");
    auto product = Write(recipe);
    const long recordLength = ceoswriter::ResolveImageFile(recipe.image, 0).recordLength;
    // The descriptor and 12 whole lines stay.
    testing_support::TruncateFile(product->files.images[0], recordLength * 13);
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const int width = dataset->GetRasterXSize();
    std::vector<unsigned char> row(static_cast<size_t>(width));
    GDALRasterBand* band = dataset->GetRasterBand(1);
    {
        GdalErrorCapture errors;
        EXPECT_EQ(CE_None, band->RasterIO(GF_Read, 0, 11, width, 1, row.data(), width, 1, GDT_Byte, 0, 0, nullptr));
        // The rows above the damage read as a window too, though their block
        // holds the damaged rows.
        std::vector<unsigned char> window(static_cast<size_t>(width) * 12);
        EXPECT_EQ(CE_None, band->RasterIO(GF_Read, 0, 0, width, 12, window.data(), width, 12, GDT_Byte, 0, 0, nullptr));
        CeosAlosjDataset library(product->files.volume.c_str());
        library.FileOpen(nullptr);
        library.FileRead();
        std::vector<unsigned char> rows(window.size());
        library.GetRows(0, 0, 12, rows.data());
        library.FileClose();
        EXPECT_EQ(rows, window);
        EXPECT_TRUE(errors.errors().empty());
    }
    GdalErrorCapture errors;
    EXPECT_EQ(CE_Failure, band->RasterIO(GF_Read, 0, 12, width, 1, row.data(), width, 1, GDT_Byte, 0, 0, nullptr));
    EXPECT_TRUE(errors.Has(CE_Failure, "ALOSJ: band 1 row 12: "));
    EXPECT_TRUE(errors.Has(CE_Failure, "tfio_ReadDirect"));
}

TEST(GdalDriverErrors, QuietHandlerSilencesTheLibraryToo) {
    auto product = Write("prism-1b1");
    testing_support::TruncateFile(product->files.leader, 3000);
    testing_support::ReportCapture host;
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GdalDataset dataset = OpenRaster(product->files.volume);
    CPLPopErrorHandler();
    EXPECT_EQ(nullptr, dataset);
    EXPECT_TRUE(host.reports().empty());
    EXPECT_NE(std::string::npos, std::string(CPLGetLastErrorMsg()).find(kIncomplete));
}

TEST(GdalDriverErrors, HostHandlerIsBackInPlaceOnceTheDriverReturns) {
    auto product = Write("prism-1b1");
    testing_support::TruncateFile(product->files.leader, 3000);
    testing_support::ReportCapture host;
    {
        GdalErrorCapture errors;
        EXPECT_EQ(nullptr, OpenRaster(product->files.volume));
    }
    // The host's own library calls report to the host's handler again.
    CeosAlosjDataset direct(product->files.volume.c_str());
    ASSERT_GE(direct.FileOpen(nullptr), 0);
    direct.FileRead();
    direct.FileClose();
    EXPECT_TRUE(host.Has("AlosjLeaderFileSceneHeader::Read", "tfio_ReadDirect failure"));
}

void HostLibraryHandler(const CeosAlosjReport*, void*) {}

// GDAL's error handler runs inside the driver's call; there the host installs
// its own handler for the library's reports.
void CPL_STDCALL InstallHostLibraryHandler(CPLErr, CPLErrorNum, const char*) {
    CeosAlosjSetReportHandler(&HostLibraryHandler, nullptr, nullptr);
}

TEST(GdalDriverErrors, HandlerTheHostInstallsDuringADriverCallStaysInstalled) {
    auto product = Write("prism-1b1");
    testing_support::TruncateFile(product->files.leader, 3000);
    void* previousUserData = nullptr;
    const CeosAlosjReportHandler previous = CeosAlosjSetReportHandler(nullptr, nullptr, &previousUserData);
    CPLPushErrorHandler(InstallHostLibraryHandler);
    GdalDataset dataset = OpenRaster(product->files.volume);
    CPLPopErrorHandler();
    EXPECT_EQ(nullptr, dataset);
    EXPECT_EQ(&HostLibraryHandler, CeosAlosjSetReportHandler(previous, previousUserData, nullptr));
}

TEST(GdalDriverErrors, ReportsOfOneThreadNeverReachAnotherThreadsErrors) {
    auto good = Write("avnir2-1b1");
    auto bad = Write("avnir2-1b1");
    testing_support::TruncateFile(bad->files.images[1], 3000);
    const std::vector<unsigned char> expected = gdaltest::LibraryPixels(good->files.volume);

    // ReadBlock goes to the driver every time, past GDAL's block cache.
    auto readAll = [](GDALDataset& dataset, int band, std::vector<unsigned char>& pixels) {
        pixels.assign(static_cast<size_t>(dataset.GetRasterXSize()) * dataset.GetRasterYSize(), 0);
        return gdaltest::ReadByBlocks(*dataset.GetRasterBand(band), pixels) ? 0 : 1;
    };
    std::vector<std::string> goodErrors;
    std::vector<std::string> badErrors;
    std::vector<unsigned char> goodPixels;
    int goodFailures = 0;
    std::thread reader([&] {
        GdalErrorCapture errors;
        GdalDataset dataset = OpenRaster(good->files.volume);
        std::vector<unsigned char> band;
        for (int pass = 0; dataset && pass < 200; ++pass) {
            goodPixels.clear();
            for (int b = 1; b <= dataset->GetRasterCount(); ++b) {
                goodFailures += readAll(*dataset, b, band);
                goodPixels.insert(goodPixels.end(), band.begin(), band.end());
            }
        }
        goodErrors = errors.Messages(CE_Failure);
    });
    std::thread failing([&] {
        GdalErrorCapture errors;
        GdalDataset dataset = OpenRaster(bad->files.volume);
        std::vector<unsigned char> band;
        int failedPasses = 0;
        for (int pass = 0; dataset && pass < 200; ++pass) failedPasses += readAll(*dataset, 2, band);
        badErrors = errors.Messages(CE_Failure);
        // Every pass fails its damaged block alike, and every error here is this thread's.
        EXPECT_EQ(200, failedPasses);
        EXPECT_EQ(0u, badErrors.size() % 200) << badErrors.size();
        for (const std::string& message : badErrors) EXPECT_NE(std::string::npos, message.find("band 2 rows")) << message;
    });
    reader.join();
    failing.join();
    EXPECT_EQ(0, goodFailures);
    EXPECT_TRUE(goodErrors.empty()) << goodErrors.front();
    EXPECT_EQ(expected, goodPixels);
    EXPECT_FALSE(badErrors.empty());
}

TEST(GdalDriverErrors, UpdateAccessIsRefused) {
    auto product = Write("prism-1b1");
    GdalErrorCapture errors;
    GDALDataset* dataset = GDALDataset::Open(product->files.volume.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE);
    EXPECT_EQ(nullptr, dataset);
    if (dataset) GDALClose(dataset);
    EXPECT_TRUE(errors.Has(CE_Failure, "ALOSJ: products are opened read-only"));
}

TEST(GdalCeosDrivers, BareImageFileStillOpensInGdalsCeosDrivers) {
    for (const char* name : {"prism-1b1", "avnir2-1b2"}) {
        SCOPED_TRACE(name);
        auto product = Write(name);
        const std::string image = product->files.images[0];
        GdalDataset any = OpenRaster(image);
        ASSERT_TRUE(any);
        const std::string driver = any->GetDriver()->GetDescription();
        EXPECT_TRUE(driver == "SAR_CEOS" || driver == "CEOS") << driver;
        // And the CEOS driver itself, when it is the one asked.
        const char* const allowed[] = {"CEOS", nullptr};
        GDALDataset* ceos = GDALDataset::Open(image.c_str(), GDAL_OF_RASTER, allowed);
        ASSERT_NE(nullptr, ceos);
        EXPECT_EQ(product->recipe.image.lines, ceos->GetRasterYSize());
        GDALClose(ceos);
    }
}

}  // namespace
