// The library as a host loads it: the shared library through its public
// headers.  Reports, host-heap blocks and exceptions cross the library's
// boundary here, as they do in a host process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "dataset/CeosAlosjDataset.h"
#include "host/TeskarLog.h"

using namespace ceoswriter;
using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

// The path as the platform writes it: with backslashes on Windows.
std::string Native(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

ProductRecipe OneCcdProduct() {
    ProductRecipe product = PrismProduct(1);
    product.designators = {3};
    product.image.pixelsPerLine = 300;
    product.image.lines = 4;
    product.image.leftDummyWidth = [](int, int) { return 30; };
    product.image.rightDummyWidth = [](int, int) { return 20; };
    return product;
}

}  // namespace

TEST(PublicApi, DatasetReadsAProductGivenWithNativeSeparators) {
    TempDir dir;
    ProductRecipe product = OneCcdProduct();
    ProductFiles files = WriteProduct(dir.path(), product);
    ReportCapture capture;
    CeosAlosjDataset dataset(Native(files.volume).c_str());
    ASSERT_EQ(dataset.FileOpen(nullptr), 0);
    ASSERT_EQ(dataset.FileRead(), 0);
    // Derived names keep the separator the host used.
    ASSERT_EQ(dataset.GetImgFileCount(), 1);
    EXPECT_EQ(std::string(dataset.GetImageFileName(0)), Native(files.images[0]));
    EXPECT_EQ(dataset.GetMinCcdNumber(), 3);
    ASSERT_EQ(dataset.GetSceneWidth(), 250);
    std::vector<unsigned char> row(250 + 8, 0xEE);
    unsigned char* data = row.data();
    EXPECT_EQ(dataset.GetRow(0, 2, 0, &data), 0);
    for (int column = 0; column < 250; ++column)
        ASSERT_EQ(row[column], ImagePixel(product.image, 0, 2, 30 + column)) << "column " << column;
    EXPECT_EQ(row[250], 0xEE);  // nothing written past the scene width
    // The writer's placeholder polynomials: geolocation at a height says so.
    double latitude = 0, longitude = 0, pixel = 0, line = 0;
    CeosAlosjLineOfSight sight;
    EXPECT_EQ(dataset.PixelHeightToLatLon(0, 10, 2, 500, &latitude, &longitude), ALOSJ_SENSOR_NO_POLYNOMIALS);
    EXPECT_EQ(dataset.LatLonHeightToPixel(0, 35.1, 138.6, 500, &pixel, &line), ALOSJ_SENSOR_NO_POLYNOMIALS);
    EXPECT_EQ(dataset.GetLineOfSight(0, 10, 2, &sight), ALOSJ_SENSOR_NO_POLYNOMIALS);
    EXPECT_EQ(dataset.FileClose(), 0);
    EXPECT_TRUE(capture.reports().empty()) << capture.Summary().front();
}

TEST(PublicApi, ReportsFromInsideTheLibraryReachTheHostsHandler) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), OneCcdProduct());
    std::filesystem::remove(files.trailer);
    {
        ReportCapture capture;
        CeosAlosjDataset dataset(files.volume.c_str());
        EXPECT_EQ(dataset.FileOpen(nullptr), 0);
        ASSERT_TRUE(capture.Has("CeosAlosjNonVolFileClass::SetFilename", "TRL file doesn't exist"));
        // The chain carries the host call that failed beneath.
        for (const auto& chain : capture.reports())
            if (chain.front().message == "TRL file doesn't exist") {
                ASSERT_EQ(chain.size(), 2u);
                EXPECT_EQ(chain[1].operation, "tfio_FileExists");
            }
        dataset.FileClose();
    }
    // Without a handler the library prints to stderr again.
    void* previousUserData = &files;
    EXPECT_EQ(CeosAlosjSetReportHandler(nullptr, nullptr, &previousUserData), nullptr);
    EXPECT_EQ(previousUserData, nullptr);
}

namespace {

/// Counts the reports it receives and keeps the first one's text.
struct ReportTally {
    int count = 0;
    std::string first;
    static void Handle(const CeosAlosjReport* report, void* self) {
        auto* tally = static_cast<ReportTally*>(self);
        if (tally->count++ == 0) tally->first = CeosAlosjReportText(report, true);
    }
};

}  // namespace

TEST(PublicApi, ReportScopesTakeTheReportsOfTheirOwnThreadAndLeaveTheHostsHandlerAlone) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), OneCcdProduct());
    std::filesystem::remove(files.trailer);
    const auto open = [&] {  // reports the missing trailer
        CeosAlosjDataset dataset(files.volume.c_str());
        dataset.FileOpen(nullptr);
        dataset.FileClose();
    };
    ReportTally host, outer, inner, worker, later, first, second;
    void* previousUserData = nullptr;
    const CeosAlosjReportHandler previous = CeosAlosjSetReportHandler(&ReportTally::Handle, &host, &previousUserData);
    {
        CeosAlosjReportScope outerScope(&ReportTally::Handle, &outer);
        {
            CeosAlosjReportScope innerScope(&ReportTally::Handle, &inner);
            open();
            std::thread([&] { open(); }).join();  // a thread without a scope: the host's handler
            std::thread([&] {
                CeosAlosjReportScope workerScope(&ReportTally::Handle, &worker);
                open();
            }).join();
            // A process-wide handler installed while scopes live stays installed.
            CeosAlosjSetReportHandler(&ReportTally::Handle, &later, nullptr);
        }
        open();  // the inner scope ended: the outer one takes them again
    }
    open();
    {
        // A scope ended before the one inside it leaves that one in charge.
        auto firstScope = std::make_unique<CeosAlosjReportScope>(&ReportTally::Handle, &first);
        CeosAlosjReportScope secondScope(&ReportTally::Handle, &second);
        firstScope.reset();
        open();
    }
    open();
    CeosAlosjSetReportHandler(previous, previousUserData, nullptr);

    const int perOpen = inner.count;
    ASSERT_GT(perOpen, 0);
    EXPECT_EQ(host.count, perOpen);
    EXPECT_EQ(worker.count, perOpen);
    EXPECT_EQ(outer.count, perOpen);
    EXPECT_EQ(later.count, 2 * perOpen);
    EXPECT_EQ(first.count, 0);
    EXPECT_EQ(second.count, perOpen);
    // One line per chain, outermost first, each entry naming the library's source line.
    EXPECT_NE(inner.first.find("TRL file doesn't exist (library source line "), std::string::npos) << inner.first;
    EXPECT_NE(inner.first.find("; caused by tfio_FileExists: "), std::string::npos) << inner.first;
}

TEST(PublicApi, ExceptionsThrownInsideTheLibraryAreCaughtByTheHost) {
    TempDir dir;
    tkmd::KeywordValueFile keywords;
    const std::string missing = dir.File("summary.txt");
    EXPECT_THROW(keywords.Open(missing), TeskarLog::Exception);
    try {
        keywords.Open(missing);
        ADD_FAILURE() << "no exception";
    } catch (const TeskarLog::Message& message) {  // caught through its exported base
        EXPECT_NE(message.get_What().find("summary.txt"), std::string::npos) << message.get_What();
        EXPECT_GT(message.get_LineNum(), 0);
    }
    // The library stays usable: the same object opens a file that exists.
    ceoswriter::WriteTextFile(missing, "Pds_MapDirection=\"TrueNorth\"\n");
    keywords.Open(missing);
    EXPECT_TRUE(keywords.Read());
    EXPECT_EQ(keywords.GetStringValue("Pds_MapDirection"), "TrueNorth");
}

TEST(PublicApi, SensorModelBlocksCrossToTheHostAndAreReleasedThere) {
    TempDir dir;
    ProductRecipe product = OneCcdProduct();
    ProductFiles files = WriteProduct(dir.path(), product);
    CeosAlosjDataset dataset(files.volume.c_str());
    ASSERT_EQ(dataset.FileOpen(nullptr), 0);
    ASSERT_EQ(dataset.FileRead(), 0);
    Tkmd_ALPSM1B1_EPH ephemeris;
    std::memset(&ephemeris, 0, sizeof ephemeris);
    dataset.GetALPSM1B1EphemerisData(&ephemeris);
    const StateVectorBlockRecipe& block = product.supplemental.secondBlock;
    ASSERT_EQ(ephemeris.ephemerisCount, static_cast<int32_t>(block.lines.size()));
    ASSERT_NE(ephemeris.ephemeris, nullptr);
    ASSERT_GT(ephemeris.ephemerisCount, 0);
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(ephemeris.ephemeris->entries[0].stateVector[k], block.lines[0].values[k] * 1000.0,
                    1e-3);
    Tkmd_ALPSM1B1_EPH_Release(&ephemeris);
    EXPECT_EQ(ephemeris.ephemeris, nullptr);
    EXPECT_EQ(ephemeris.startTime, nullptr);
    dataset.FileClose();
}
