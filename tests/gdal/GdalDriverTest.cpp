// The ALOSJ driver seen through GDAL's API: registration, which files it
// claims, the raster it delivers, open options and metadata.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <set>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "GdalTestProducts.h"
#include "GdalTestSupport.h"
#include "cpl_string.h"
#include "dataset/CeosAlosjDataset.h"
#include "gdal_utils.h"
#include "tools/writer/SampleScene.h"

namespace {

using gdaltest::GdalDataset;
using gdaltest::GdalErrorCapture;
using gdaltest::OpenRaster;
using gdaltest::Write;

// A PRISM Level 1B1 product whose dummy widths are fixed per file, so that
// the stitched width can be worked out from what the writer was told.
ceoswriter::ProductRecipe FixedWidthPrism() {
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1, 'N');
    recipe.image.pixelsPerLine = 90;
    recipe.image.lines = 12;
    recipe.image.leftDummyWidth = [](int file, int) { return 5 + file; };
    recipe.image.rightDummyWidth = [](int file, int) { return 2 + file % 3; };
    return recipe;
}

TEST(GdalDriverRegistration, PluginLoadsFromTheDriverPathWithItsCcdOpenOption) {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ALOSJ");
    ASSERT_NE(nullptr, driver);
    EXPECT_STREQ("YES", driver->GetMetadataItem(GDAL_DCAP_RASTER));
    const char* options = driver->GetMetadataItem(GDAL_DMD_OPENOPTIONLIST);
    ASSERT_NE(nullptr, options);
    EXPECT_NE(nullptr, std::strstr(options, "name='CCD'"));
}

TEST(GdalDriverIdentify, ClaimsVolumeDirectoryFilesOfBothSensors) {
    auto prism = Write("prism-1b1");
    auto avnir = Write("avnir2-1b2");
    EXPECT_EQ("ALOSJ", gdaltest::IdentifiedDriver(prism->files.volume));
    EXPECT_EQ("ALOSJ", gdaltest::IdentifiedDriver(avnir->files.volume));
}

TEST(GdalDriverIdentify, LeavesEveryOtherFileOfTheProductAlone) {
    auto product = Write("prism-1b1");
    std::vector<std::string> others = {product->files.leader, product->files.trailer,
                                       product->files.supplemental};
    others.insert(others.end(), product->files.images.begin(), product->files.images.end());
    for (const std::string& path : others) EXPECT_NE("ALOSJ", gdaltest::IdentifiedDriver(path)) << path;
}

TEST(GdalDriverIdentify, NeedsTheDocumentIdentifierOfTheSensorTheNameGives) {
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1, 'N');
    recipe.documentId = "CEOS-AV2-CCT";
    auto product = Write(recipe);
    EXPECT_NE("ALOSJ", gdaltest::IdentifiedDriver(product->files.volume));
    GdalErrorCapture errors;
    EXPECT_EQ(nullptr, OpenRaster(product->files.volume));
}

TEST(GdalDriverIdentify, ProductDirectoryOpensThroughItsVolumeDirectoryFile) {
    auto product = Write("avnir2-1b1");
    GdalDataset byDirectory = OpenRaster(product->dir.path());
    GdalDataset byVolume = OpenRaster(product->files.volume);
    ASSERT_TRUE(byDirectory && byVolume);
    EXPECT_STREQ("ALOSJ", byDirectory->GetDriver()->GetDescription());
    EXPECT_EQ(byVolume->GetRasterXSize(), byDirectory->GetRasterXSize());
    EXPECT_EQ(byVolume->GetRasterCount(), byDirectory->GetRasterCount());
    EXPECT_EQ(gdaltest::GdalPixels(*byVolume), gdaltest::GdalPixels(*byDirectory));
}

TEST(GdalDriverIdentify, DirectoryWithTwoVolumeDirectoryFilesIsNotClaimed) {
    auto product = Write("prism-1b1");
    ceoswriter::ProductRecipe other = ceoswriter::PrismProduct(1, 'F');
    ceoswriter::WriteProduct(product->dir.path(), other);
    EXPECT_NE("ALOSJ", gdaltest::IdentifiedDriver(product->dir.path()));
}

TEST(GdalDriverRaster, SizeIsTheStitchedSceneWithOneByteBandPerLayer) {
    const ceoswriter::ProductRecipe recipe = FixedWidthPrism();
    auto product = Write(recipe);
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    // Every CCD file keeps the pixels between its dummy pixels, and every
    // file after the first loses the 32 it shares with its left neighbour.
    int width = 0;
    for (int k = 0; k < recipe.ImageCount(); ++k)
        width += recipe.image.pixelsPerLine - recipe.image.leftDummyWidth(k, 0) - recipe.image.rightDummyWidth(k, 0);
    width -= 32 * (recipe.ImageCount() - 1);
    EXPECT_EQ(width, dataset->GetRasterXSize());
    EXPECT_EQ(recipe.image.lines, dataset->GetRasterYSize());
    ASSERT_EQ(1, dataset->GetRasterCount());
    GDALRasterBand* band = dataset->GetRasterBand(1);
    EXPECT_EQ(GDT_Byte, band->GetRasterDataType());
    EXPECT_STREQ("Panchromatic (0.52-0.77 um)", band->GetDescription());
    EXPECT_STREQ("Layer_1", band->GetMetadataItem("LAYER"));
    EXPECT_EQ(GCI_GrayIndex, band->GetColorInterpretation());
    int hasNoData = FALSE;
    EXPECT_EQ(0.0, band->GetNoDataValue(&hasNoData));
    EXPECT_TRUE(hasNoData);
}

TEST(GdalDriverRaster, AvnirBandsAreBlueGreenRedAndNearInfrared) {
    auto product = Write("avnir2-1b2");
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    ASSERT_EQ(4, dataset->GetRasterCount());
    const GDALColorInterp expected[4] = {GCI_BlueBand, GCI_GreenBand, GCI_RedBand, GCI_Undefined};
    // What the band shows; viewers put "Band n" before it themselves.
    const char* const descriptions[4] = {"blue (0.42-0.50 um)", "green (0.52-0.60 um)", "red (0.61-0.69 um)",
                                         "near infrared (0.76-0.89 um)"};
    for (int b = 0; b < 4; ++b) {
        GDALRasterBand* band = dataset->GetRasterBand(b + 1);
        EXPECT_EQ(expected[b], band->GetColorInterpretation()) << b;
        EXPECT_EQ("Layer_" + std::to_string(b + 1), band->GetMetadataItem("LAYER"));
        EXPECT_STREQ(descriptions[b], band->GetDescription());
    }
}

TEST(GdalDriverRaster, EveryPixelOfEveryProductKindEqualsGetRow) {
    for (const std::string& name : gdaltest::ProductNames()) {
        SCOPED_TRACE(name);
        auto product = Write(name);
        GdalDataset dataset = OpenRaster(product->files.volume);
        ASSERT_TRUE(dataset);
        const std::vector<unsigned char> expected = gdaltest::LibraryPixels(product->files.volume);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(expected, gdaltest::GdalPixels(*dataset));
    }
}

TEST(GdalDriverRaster, StitchedRowsCarryEachCcdFileBetweenItsDummyPixels) {
    const ceoswriter::ProductRecipe recipe = FixedWidthPrism();
    auto product = Write(recipe);
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const int width = dataset->GetRasterXSize();
    std::vector<unsigned char> row(static_cast<size_t>(width));
    const int line = 7;
    ASSERT_EQ(CE_None, dataset->GetRasterBand(1)->RasterIO(GF_Read, 0, line, width, 1, row.data(), width, 1,
                                                           GDT_Byte, 0, 0, nullptr));
    // The row as the writer put the pixels into the files.
    std::vector<unsigned char> expected;
    for (int k = 0; k < recipe.ImageCount(); ++k) {
        const int first = recipe.image.leftDummyWidth(k, line) + (k == 0 ? 0 : 32);
        const int end = recipe.image.pixelsPerLine - recipe.image.rightDummyWidth(k, line);
        for (int p = first; p < end; ++p) expected.push_back(ceoswriter::ImagePixel(recipe.image, k, line, p));
    }
    EXPECT_EQ(expected, row);
}

TEST(GdalDriverRaster, WindowsAndSubsampledReadsComeFromTheSameRows) {
    auto product = Write("avnir2-1b1");
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const std::vector<unsigned char> all = gdaltest::GdalPixels(*dataset);
    const int width = dataset->GetRasterXSize();
    const int height = dataset->GetRasterYSize();
    // Band 3, columns 10..29, rows 5..24 at half resolution: nearest
    // neighbour takes the second pixel of every pair.
    std::vector<unsigned char> window(10 * 10);
    ASSERT_EQ(CE_None, dataset->GetRasterBand(3)->RasterIO(GF_Read, 10, 5, 20, 20, window.data(), 10, 10,
                                                           GDT_Byte, 0, 0, nullptr));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(all[static_cast<size_t>(2) * width * height + (6 + 2 * y) * width + 11 + 2 * x],
                      window[y * 10 + x])
                << x << "," << y;
}

TEST(GdalDriverRaster, WindowsInAnyOrderEqualTheWholeRaster) {
    // Tall enough for several row bands: windows sweep across rows and come
    // back to bands read before, some crossing block boundaries and the foot.
    ceoswriter::ProductRecipe recipe = ceoswriter::Avnir2Product(1);
    recipe.image.lines = 700;
    auto product = Write(recipe);
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const std::vector<unsigned char> all = gdaltest::GdalPixels(*dataset);
    const int width = dataset->GetRasterXSize();
    const int height = dataset->GetRasterYSize();
    ASSERT_EQ(height, 700);
    struct Window {
        int x, y, w, h;
    };
    std::vector<Window> windows;
    for (int y : {0, 250, 512, 600, 0, 300})
        for (int x = 0; x < width; x += 23)
            windows.push_back({x, y, std::min(23, width - x), std::min(100, height - y)});
    windows.push_back({5, 1, 9, height - 1});
    for (int b = 1; b <= dataset->GetRasterCount(); ++b)
        for (const Window& w : windows) {
            std::vector<unsigned char> got(static_cast<size_t>(w.w) * w.h);
            ASSERT_EQ(CE_None, dataset->GetRasterBand(b)->RasterIO(GF_Read, w.x, w.y, w.w, w.h, got.data(), w.w, w.h,
                                                                   GDT_Byte, 0, 0, nullptr));
            for (int r = 0; r < w.h; ++r) {
                const auto row = all.begin() + static_cast<long>(b - 1) * width * height +
                                 static_cast<long>(w.y + r) * width + w.x;
                ASSERT_TRUE(std::equal(row, row + w.w, got.begin() + static_cast<long>(r) * w.w))
                    << "band " << b << " window " << w.x << "," << w.y << " row " << r;
            }
        }
}

TEST(GdalDriverCcdOption, OneCcdFileOpensAloneAndEqualsGetRowOnThatCcd) {
    const ceoswriter::ProductRecipe recipe = FixedWidthPrism();
    auto product = Write(recipe);
    GdalDataset dataset = OpenRaster(product->files.volume, {"CCD=3"});
    ASSERT_TRUE(dataset);
    // CCD 3 is the third file (index 2): its columns between its dummy pixels.
    EXPECT_EQ(recipe.image.pixelsPerLine - recipe.image.leftDummyWidth(2, 0) - recipe.image.rightDummyWidth(2, 0),
              dataset->GetRasterXSize());
    EXPECT_EQ(gdaltest::LibraryPixels(product->files.volume, 3), gdaltest::GdalPixels(*dataset));
    // The scene's corners do not belong to one CCD's strip.
    EXPECT_EQ(0, dataset->GetGCPCount());
    double transform[6];
    EXPECT_NE(CE_None, dataset->GetGeoTransform(transform));
}

// A forward view whose second CCD images each row 44 ms after the others:
// the stitched raster has no RPC domain and the warning names the open
// option; that CCD opened alone has its own model.
TEST(GdalDriverCcdOption, EachCcdHasItsOwnRpcDomainWhereTheStitchedRasterHasNone) {
    ceoswriter::SampleOptions options{ceoswriter::Sensor::Prism, 1, ceoswriter::SampleSize::Tiny};
    options.view = ceoswriter::View::Forward;
    options.laterCcd = 1;
    options.laterCcdMicroseconds = 44000;
    auto product = Write(ceoswriter::SampleScene(options).Product());
    {
        GdalErrorCapture errors;
        GdalDataset stitched = OpenRaster(product->files.volume);
        ASSERT_TRUE(stitched);
        EXPECT_EQ(nullptr, stitched->GetMetadata("RPC"));
        EXPECT_TRUE(errors.Has(CE_Warning, "open option CCD=N (N = 1 to 6)")) << errors.Messages(CE_Warning).size();
    }
    GdalDataset alone = OpenRaster(product->files.volume, {"CCD=2"});
    ASSERT_TRUE(alone);
    char** rpc = alone->GetMetadata("RPC");
    ASSERT_NE(nullptr, rpc);
    EXPECT_EQ(20, CPLStringList(CSLTokenizeString(CSLFetchNameValue(rpc, "LINE_NUM_COEFF"))).size());
    EXPECT_LT(std::stod(alone->GetMetadataItem("RPC_RESIDUAL_MAX_PIXELS")), 0.01);
}

TEST(GdalDriverCcdOption, CcdOutsideTheProductOrNotANumberFailsToOpen) {
    auto product = Write("prism-1a-forward");  // CCDs 3 to 6
    for (const char* option : {"CCD=2", "CCD=8", "CCD=9", "CCD=0", "CCD=three", "CCD=3x"}) {
        GdalErrorCapture errors;
        EXPECT_EQ(nullptr, OpenRaster(product->files.volume, {option})) << option;
        EXPECT_FALSE(errors.Messages(CE_Failure).empty()) << option;
    }
    GdalErrorCapture errors;
    EXPECT_EQ(nullptr, OpenRaster(product->files.volume, {"CCD=2"}));
    EXPECT_TRUE(errors.Has(CE_Failure, "CCD 2 is not one of the product's 4 CCD image files"));
}

TEST(GdalDriverCcdOption, ProductsWithoutCcdFilesWarnAndOpenWhole) {
    auto product = Write("avnir2-1b1");
    GdalErrorCapture errors;
    GdalDataset dataset = OpenRaster(product->files.volume, {"CCD=2"});
    ASSERT_TRUE(dataset);
    EXPECT_EQ(4, dataset->GetRasterCount());
    EXPECT_TRUE(errors.Has(CE_Warning, "applies to PRISM Level 1A and 1B1 products only"));
}

TEST(GdalDriverMetadata, DefaultDomainDescribesTheProduct) {
    struct Case {
        const char* product;
        std::map<std::string, std::string> items;
    };
    const Case cases[] = {
        {"prism-1b1",
         {{"SENSOR", "PRISM"}, {"PRODUCT_LEVEL", "1B1"}, {"OBSERVATION_MODE", "N"}, {"VIEW", "Nadir Normal View"},
          {"GEOCODED", "NO"}, {"MAP_DIRECTION", "OTHER"}, {"ELLIPSOID", "GRS80"}, {"MAP_PROJECTION", "UTM"}}},
        {"prism-1a-forward", {{"PRODUCT_LEVEL", "1A"}, {"OBSERVATION_MODE", "F"}, {"VIEW", "Forward View"}}},
        {"prism-1b2-true-north",
         {{"PRODUCT_LEVEL", "1B2"}, {"VIEW", "Backward View"}, {"GEOCODED", "YES"}, {"MAP_DIRECTION", "TRUE_NORTH"}}},
        {"avnir2-1b2",
         {{"SENSOR", "AVNIR-2"}, {"PRODUCT_LEVEL", "1B2"}, {"OBSERVATION_MODE", "A"}, {"GEOCODED", "YES"}}},
        {"avnir2-1b2-ps", {{"MAP_PROJECTION", "PS"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.product);
        auto product = Write(c.product);
        GdalDataset dataset = OpenRaster(product->files.volume);
        ASSERT_TRUE(dataset);
        for (const auto& [key, value] : c.items) {
            const char* item = dataset->GetMetadataItem(key.c_str());
            EXPECT_EQ(value, item ? item : "(none)") << key;
        }
        // The scene centre time as the leader writes it: yyyymmddhhmmss, ms, us.
        const std::string t = product->recipe.leader.sceneCenterTime;
        const std::string expected = t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + "T" +
                                     t.substr(8, 2) + ":" + t.substr(10, 2) + ":" + t.substr(12, 2) + "." +
                                     t.substr(14, 6) + "Z";
        EXPECT_STREQ(expected.c_str(), dataset->GetMetadataItem("SCENE_CENTER_TIME"));
    }
    auto avnir = Write("avnir2-1b1");
    GdalDataset dataset = OpenRaster(avnir->files.volume);
    ASSERT_TRUE(dataset);
    EXPECT_EQ(nullptr, dataset->GetMetadataItem("VIEW"));
}

// What the driver's query domain says of a product, compared with the
// library's own answers.
void ExpectQueriesOf(const std::string& volume) {
    GdalDataset dataset = OpenRaster(volume);
    ASSERT_TRUE(dataset);
    CeosAlosjDataset p(volume.c_str());
    ASSERT_GE(p.FileOpen(nullptr), 0);
    p.FileRead();
    auto item = [&](const char* query) {
        const char* value = dataset->GetMetadataItem(query, "ALOSJ");
        return std::string(value ? value : "(none)");
    };
    auto real = [&](const char* query) { return CPLAtof(item(query).c_str()); };
    EXPECT_EQ(std::to_string(p.GetSensorType()), item("GetSensorType"));
    EXPECT_EQ(std::to_string(p.GetProductLevel()), item("GetProductLevel"));
    EXPECT_EQ(std::to_string(p.GetImgFileCount()), item("GetImgFileCount"));
    EXPECT_EQ(std::to_string(p.GetNumOfLayers()), item("GetNumOfLayers"));
    EXPECT_EQ(std::to_string(p.GetStaggerPixelShift()), item("GetStaggerPixelShift"));
    EXPECT_EQ(std::to_string(p.GetSceneWidth()), item("GetSceneWidth"));
    EXPECT_EQ(std::to_string(p.GetUTMZoneNum()), item("GetUTMZoneNum"));
    EXPECT_EQ(std::to_string(p.GetUTMHemishpere()), item("GetUTMHemishpere"));
    // The file's name, not where this reader found it.
    EXPECT_EQ(std::string(CPLGetFilename(p.GetImageFileName(p.GetImgFileCount() - 1))),
              item(("GetImageFileName(" + std::to_string(p.GetImgFileCount() - 1) + ")").c_str()));
    EXPECT_EQ(std::string(p.GetEllipsoidName()), item("GetEllipsoidName"));
    // Numbers are written so that they read back exactly.
    EXPECT_EQ(p.GetXPixelSize(), real("GetXPixelSize"));
    EXPECT_EQ(p.GetUpperLeftCornerEasting(), real("GetUpperLeftCornerEasting"));
    EXPECT_EQ(p.GetUpperLeftCornerNorthing(), real("GetUpperLeftCornerNorthing"));
    EXPECT_EQ(p.GetProjectionCenterLat(), real("GetProjectionCenterLat"));
    EXPECT_EQ(p.GetSceneCenterUTMY(), real("GetSceneCenterUTMY"));
    double lat = 0, lon = 0;
    p.GetLRCornerLatLon(&lat, &lon);
    const CPLStringList corner(CSLTokenizeString2(item("GetLRCornerLatLon").c_str(), ",", 0));
    ASSERT_EQ(2, corner.size());
    EXPECT_EQ(lat, CPLAtof(corner[0]));
    EXPECT_EQ(lon, CPLAtof(corner[1]));
    p.FileClose();
}

TEST(GdalDriverMetadata, QueryDomainHoldsTheLibrarysAnswers) {
    for (const char* name : {"prism-1b1", "avnir2-1b1", "avnir2-1b2-ps", "avnir2-1b2-south"}) {
        SCOPED_TRACE(name);
        auto product = Write(name);
        ExpectQueriesOf(product->files.volume);
    }
}

TEST(GdalDriverMetadata, DomainListNamesTheDriversDomains) {
    auto prism = Write("prism-1b1");
    auto avnir = Write("avnir2-1b1");
    GdalDataset prismDataset = OpenRaster(prism->files.volume);
    GdalDataset avnirDataset = OpenRaster(avnir->files.volume);
    ASSERT_TRUE(prismDataset && avnirDataset);
    const CPLStringList prismDomains(prismDataset->GetMetadataDomainList());
    const CPLStringList avnirDomains(avnirDataset->GetMetadataDomainList());
    EXPECT_GE(prismDomains.FindString("ALOSJ"), 0);
    EXPECT_GE(prismDomains.FindString("json:ALOSJ_SENSOR_MODEL"), 0);
    EXPECT_GE(avnirDomains.FindString("ALOSJ"), 0);
    EXPECT_LT(avnirDomains.FindString("json:ALOSJ_SENSOR_MODEL"), 0);
    EXPECT_EQ(nullptr, avnirDataset->GetMetadata("json:ALOSJ_SENSOR_MODEL"));
}

TEST(GdalDriverMetadata, SensorModelDomainIsTheLevel1B1ExportsAsJson) {
    auto product = Write("prism-1b1");
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    char** documents = dataset->GetMetadata("json:ALOSJ_SENSOR_MODEL");
    ASSERT_EQ(1, CSLCount(documents));
    const nlohmann::json model = nlohmann::json::parse(documents[0]);

    CeosAlosjDataset p(product->files.volume.c_str());
    ASSERT_GE(p.FileOpen(nullptr), 0);
    p.FileRead();
    Tkmd_ALPSM1B1_EPH ephemeris{};
    p.GetALPSM1B1EphemerisData(&ephemeris);
    Tkmd_ALPSM1B1_ATT attitude{};
    p.GetALPSM1B1AttitudeData(&attitude);
    double matrix[9] = {};
    Tkmd_ALPSM1B1_SEN sensor{};
    sensor.sensorMatrix = matrix;
    p.GetALPSM1B1SensorData(&sensor);

    const nlohmann::json& scene = model.at("scene");
    EXPECT_EQ(dataset->GetRasterXSize(), scene.at("numPixels").get<int>());
    EXPECT_EQ(dataset->GetRasterYSize(), scene.at("numLines").get<int>());
    EXPECT_EQ("Nadir Normal View", scene.at("viewName").get<std::string>());
    EXPECT_EQ(product->recipe.leader.upperRightLongitude, scene.at("corners").at("upperRight").at("longitude").get<double>());
    EXPECT_EQ(product->recipe.leader.upperRightLatitude, scene.at("corners").at("upperRight").at("latitude").get<double>());
    EXPECT_EQ(product->recipe.leader.coefficientSets[5][7],
              scene.at("coefficientSets").at(1).at(1).at(7).get<double>());  // set 5 = array 1, set 1 of 4
    EXPECT_EQ("2006-", scene.at("sceneCenterTime").get<std::string>().substr(0, 5));

    const nlohmann::json& orbit = model.at("ephemeris");
    ASSERT_GT(ephemeris.ephemerisCount, 0);
    EXPECT_EQ(ephemeris.ephemerisCount, orbit.at("count").get<int>());
    ASSERT_EQ(static_cast<size_t>(ephemeris.ephemerisCount), orbit.at("stateVectors").size());
    const AlosjStateVectorEntry& last = ephemeris.ephemeris->entries[ephemeris.ephemerisCount - 1];
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(last.stateVector[k],
                  orbit.at("stateVectors").back().at(k < 3 ? "position" : "velocity").at(k % 3).get<double>())
            << k;
    EXPECT_EQ(ephemeris.matrices->count, static_cast<int>(orbit.at("matrices").size()));
    ASSERT_GT(ephemeris.matrices->count, 0);
    EXPECT_EQ(ephemeris.matrices->entries[0].firstMatrix[2][0],
              orbit.at("matrices").at(0).at("first").at(2).at(0).get<double>());

    const nlohmann::json& samples = model.at("attitude");
    ASSERT_EQ(static_cast<size_t>(attitude.attitudeCount), samples.at("samples").size());
    ASSERT_GT(attitude.attitudeCount, 0);
    EXPECT_EQ(attitude.attitude->entries[1].quaternion[3],
              samples.at("samples").at(1).at("quaternion").at(3).get<double>());

    const nlohmann::json& constants = model.at("sensor");
    EXPECT_EQ(matrix[5], constants.at("matrix").at(1).at(2).get<double>());
    EXPECT_EQ(product->recipe.supplemental.sensorMatrix[1][2], constants.at("matrix").at(1).at(2).get<double>());
    EXPECT_EQ(1939.0, constants.at("focalLength").get<double>());

    Tkmd_ALPSM1B1_EPH_Release(&ephemeris);
    Tkmd_ALPSM1B1_ATT_Release(&attitude);
    p.FileClose();
}

TEST(GdalDriverThreads, DatasetsReadOnSeveralThreadsAtOnceGiveGetRowsPixels) {
    auto product = Write("prism-1b1");
    const std::vector<unsigned char> expected = gdaltest::LibraryPixels(product->files.volume);
    // GDAL's rule: a dataset handle belongs to one thread at a time (even its
    // first ReadBlock sets up the band's block cache unguarded), so every
    // thread opens its own.  ReadBlock goes straight to the driver: the
    // threads meet in the library, each with its own CeosAlosjDataset.
    std::vector<std::vector<unsigned char>> results(4, std::vector<unsigned char>(expected.size()));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            GdalDataset dataset = OpenRaster(product->files.volume);
            if (!dataset) {
                ++failures;
                return;
            }
            const int width = dataset->GetRasterXSize();
            const int height = dataset->GetRasterYSize();
            GDALRasterBand* band = dataset->GetRasterBand(1);
            if (static_cast<size_t>(width) * height != expected.size()) ++failures;
            for (int pass = 0; pass < 20 && failures.load() == 0; ++pass)
                if (!gdaltest::ReadByBlocks(*band, results[t])) ++failures;
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
    for (int t = 0; t < 4; ++t) EXPECT_EQ(expected, results[t]) << "thread " << t;
}

// What clients do to an opened product (QGIS computes statistics, a user
// sets metadata or asks for overviews) never writes a file beside the
// product, beside its directory or inside it: archives may be read-only and
// are listed by batch jobs.
TEST(GdalDriverArchive, ClientsWriteNothingBesideOrInsideTheProduct) {
    testing_support::TempDir archive;
    const std::string directory = archive.File("p1");
    std::filesystem::create_directories(directory);
    const ceoswriter::ProductFiles files =
        ceoswriter::WriteProduct(directory, gdaltest::ProductByName("avnir2-1b2"));
    auto listing = [&] {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(archive.path()))
            names.insert(entry.path().string());
        return names;
    };
    const std::set<std::string> before = listing();
    for (const std::string& path : {directory, files.volume}) {
        SCOPED_TRACE(path);
        GdalErrorCapture errors;
        GdalDataset dataset = OpenRaster(path);
        ASSERT_TRUE(dataset);
        double minimum, maximum, mean, deviation;
        EXPECT_EQ(CE_None, dataset->GetRasterBand(1)->GetStatistics(FALSE, TRUE, &minimum, &maximum, &mean,
                                                                     &deviation));
        EXPECT_EQ(CE_None, dataset->SetMetadataItem("NOTE", "set by a client"));
        dataset->GetRasterBand(2)->SetDescription("renamed");
        const int level = 2;
        EXPECT_EQ(CE_Failure, dataset->BuildOverviews("AVERAGE", 1, &level, 0, nullptr, nullptr, nullptr, nullptr));
        EXPECT_TRUE(errors.Has(CE_Failure, "overviews are not written beside a product"));
        // What the client set stays with the open dataset.
        EXPECT_STREQ("set by a client", dataset->GetMetadataItem("NOTE"));
        dataset.reset();
        EXPECT_EQ(before, listing());
        EXPECT_FALSE(std::filesystem::exists(directory + ".aux.xml"));
    }
}

TEST(GdalDriverTranslate, GeoTiffCopyHoldsTheLibrarysRowsAndTheGeoreferencing) {
    for (const char* name : {"avnir2-1b2", "prism-1b1"}) {
        SCOPED_TRACE(name);
        auto product = Write(name);
        GdalDataset source = OpenRaster(product->files.volume);
        ASSERT_TRUE(source);
        const std::string tiff = product->dir.File("copy.tif");
        GDALTranslateOptions* options = GDALTranslateOptionsNew(nullptr, nullptr);
        int usageError = FALSE;
        GDALDatasetH copy = GDALTranslate(tiff.c_str(), GDALDataset::ToHandle(source.get()), options, &usageError);
        GDALTranslateOptionsFree(options);
        ASSERT_NE(nullptr, copy);
        GDALClose(copy);

        GdalDataset written = OpenRaster(tiff);
        ASSERT_TRUE(written);
        EXPECT_STREQ("GTiff", written->GetDriver()->GetDescription());
        EXPECT_EQ(gdaltest::LibraryPixels(product->files.volume), gdaltest::GdalPixels(*written));
        double sourceTransform[6], copyTransform[6];
        const bool hasTransform = source->GetGeoTransform(sourceTransform) == CE_None;
        EXPECT_EQ(hasTransform, written->GetGeoTransform(copyTransform) == CE_None);
        for (int i = 0; hasTransform && i < 6; ++i) EXPECT_NEAR(sourceTransform[i], copyTransform[i], 1e-6) << i;
        EXPECT_EQ(source->GetGCPCount(), written->GetGCPCount());
        int hasNoData = FALSE;
        EXPECT_EQ(0.0, written->GetRasterBand(1)->GetNoDataValue(&hasNoData));
        EXPECT_TRUE(hasNoData);
    }
}

}  // namespace
