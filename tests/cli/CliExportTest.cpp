// alosj export: the GeoTIFF holds GetRow's rows, carries the placement the
// product description gives (its cases: tests/gdal), keeps band colours and
// never replaces a file unasked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <ogr_spatialref.h>

#include "CliSupport.h"
#include "tools/alosj/Gdal.h"
#include "tools/writer/SampleScene.h"

using cli_support::OpenedProduct;
using cli_support::OpenRaster;
using cli_support::RasterRow;
using cli_support::RunAlosj;
using cli_support::WriteProductIn;

namespace {

/// A pixel pattern that differs by file, line and pixel, never 0.
uint8_t Pattern(int file, int line, int pixel) { return static_cast<uint8_t>(1 + (file * 61 + line * 7 + pixel * 3) % 250); }

/// Every row of every band of the raster equals the product's GetRow.
void ExpectRowsEqualGetRow(GDALDataset& raster, OpenedProduct& product, const std::vector<int>& bands) {
    ASSERT_EQ(raster.GetRasterXSize(), product->GetSceneWidth());
    ASSERT_EQ(raster.GetRasterYSize(), product->GetSceneHeight());
    ASSERT_EQ(raster.GetRasterCount(), static_cast<int>(bands.size()));
    for (size_t k = 0; k < bands.size(); ++k)
        for (int row = 0; row < raster.GetRasterYSize(); ++row)
            ASSERT_EQ(RasterRow(raster, static_cast<int>(k) + 1, row), product.Row(bands[k], row))
                << "band " << k + 1 << " row " << row;
}

std::string Metadata(GDALDataset& raster, const char* key, const char* domain = nullptr) {
    const char* value = raster.GetMetadataItem(key, domain);
    return value ? value : "";
}

}  // namespace

TEST(CliExport, UtmLevel1B2GetsItsEpsgCodeGeotransformAndRows) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(2);
    recipe.leader.geocodingLetter = 'G';
    if (recipe.summary) recipe.summary->mapDirection = "MapNorth";  // on the map grid
    recipe.image.pixelsPerLine = 300;  // more than one 256-pixel tile both ways
    recipe.image.lines = 290;
    recipe.image.pixel = Pattern;
    const auto files = WriteProductIn(dir, "p", recipe);
    const std::string out = dir.File("out.tif");

    const cli_support::RunResult run = RunAlosj({"export", files.volume, out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no warning, and no progress bar when stderr is no terminal";
    cli_support::Raster raster = OpenRaster(out);
    ASSERT_TRUE(raster);
    OpenedProduct product(files.volume);
    ExpectRowsEqualGetRow(*raster, product, {0});

    const OGRSpatialReference* srs = raster->GetSpatialRef();
    ASSERT_NE(srs, nullptr);
    EXPECT_STREQ(srs->GetAuthorityName(nullptr), "EPSG");
    EXPECT_STREQ(srs->GetAuthorityCode(nullptr), "32654");
    double transform[6];
    ASSERT_EQ(raster->GetGeoTransform(transform), CE_None);
    EXPECT_NEAR(transform[0], product->GetUpperLeftCornerEasting(), 1e-6);
    EXPECT_NEAR(transform[1], 2.5, 1e-12);
    EXPECT_EQ(transform[2], 0.0);
    EXPECT_NEAR(transform[3], product->GetUpperLeftCornerNorthing(), 1e-6);
    EXPECT_EQ(transform[4], 0.0);
    EXPECT_NEAR(transform[5], -2.5, 1e-12);
    EXPECT_EQ(raster->GetGCPCount(), 0);

    // Tiled and compressed, 0 marking fill.
    int blockX = 0, blockY = 0;
    raster->GetRasterBand(1)->GetBlockSize(&blockX, &blockY);
    EXPECT_EQ(blockX, 256);
    EXPECT_EQ(blockY, 256);
    EXPECT_EQ(Metadata(*raster, "COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
    int hasNoData = 0;
    EXPECT_EQ(raster->GetRasterBand(1)->GetNoDataValue(&hasNoData), 0.0);
    EXPECT_TRUE(hasNoData);
    EXPECT_EQ(Metadata(*raster, "SENSOR"), "PRISM");
    EXPECT_EQ(Metadata(*raster, "PRODUCT_LEVEL"), "1B2");
    EXPECT_EQ(Metadata(*raster, "GetUTMZoneNum", "ALOSJ"), "54");
}

TEST(CliExport, ProductsOffTheMapGridArePlacedByTheirCorners) {
    // Georeferenced along the orbit ("O1B2R_UN"), and geocoded but true north.
    ceoswriter::ProductRecipe alongOrbit = ceoswriter::PrismProduct(2);
    ceoswriter::ProductRecipe trueNorth = ceoswriter::PrismProduct(2);
    trueNorth.leader.geocodingLetter = 'G';
    trueNorth.summary = ceoswriter::SummaryRecipe{};
    trueNorth.summary->mapDirection = "TrueNorth";
    for (const ceoswriter::ProductRecipe& recipe : {alongOrbit, trueNorth}) {
        testing_support::TempDir dir;
        const auto files = WriteProductIn(dir, "p", recipe);
        const std::string out = dir.File("out.tif");
        const cli_support::RunResult run = RunAlosj({"export", files.volume, out});
        ASSERT_EQ(run.status, 0) << run.err;
        cli_support::Raster raster = OpenRaster(out);
        ASSERT_TRUE(raster);
        double transform[6];
        EXPECT_NE(raster->GetGeoTransform(transform), CE_None);
        EXPECT_EQ(raster->GetGCPCount(), 4);
    }
}

TEST(CliExport, Level1B1GetsItsCornersAsGeographicGcps) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1);
    recipe.leader.mapProjectionFlags = "NNNNNNNNNNNNNNNN";
    recipe.image.pixel = Pattern;
    const auto files = WriteProductIn(dir, "p", recipe);
    const std::string out = dir.File("out.tif");
    const cli_support::RunResult run = RunAlosj({"export", files.directory, out});
    ASSERT_EQ(run.status, 0) << run.err;
    cli_support::Raster raster = OpenRaster(out);
    ASSERT_TRUE(raster);
    OpenedProduct product(files.volume);
    ExpectRowsEqualGetRow(*raster, product, {0});

    double transform[6];
    EXPECT_NE(raster->GetGeoTransform(transform), CE_None);
    ASSERT_EQ(raster->GetGCPCount(), 4);
    const OGRSpatialReference* srs = raster->GetGCPSpatialRef();
    ASSERT_NE(srs, nullptr);
    EXPECT_STREQ(srs->GetAuthorityCode(nullptr), "4326");
    const GDAL_GCP* gcps = raster->GetGCPs();
    const double width = product->GetSceneWidth(), height = product->GetSceneHeight();
    struct Expected {
        double pixel, line, lat, lon;
    } expected[4] = {{0.5, 0.5, recipe.leader.upperLeftLatitude, recipe.leader.upperLeftLongitude},
                     {width - 0.5, 0.5, recipe.leader.upperRightLatitude, recipe.leader.upperRightLongitude},
                     {width - 0.5, height - 0.5, recipe.leader.lowerRightLatitude, recipe.leader.lowerRightLongitude},
                     {0.5, height - 0.5, recipe.leader.lowerLeftLatitude, recipe.leader.lowerLeftLongitude}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(gcps[k].dfGCPPixel, expected[k].pixel, 1e-9) << k;
        EXPECT_NEAR(gcps[k].dfGCPLine, expected[k].line, 1e-9) << k;
        EXPECT_NEAR(gcps[k].dfGCPX, expected[k].lon, 1e-7) << k;  // x is the longitude
        EXPECT_NEAR(gcps[k].dfGCPY, expected[k].lat, 1e-7) << k;
    }
}

TEST(CliExport, BandListWritesThoseBandsInThatOrder) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::Avnir2Product(1);
    recipe.image.pixel = Pattern;
    const auto files = WriteProductIn(dir, "a", recipe);
    OpenedProduct product(files.volume);

    const std::string picked = dir.File("picked.tif");
    ASSERT_EQ(RunAlosj({"export", files.volume, picked, "--bands", "4,2"}).status, 0);
    cli_support::Raster raster = OpenRaster(picked);
    ASSERT_TRUE(raster);
    ExpectRowsEqualGetRow(*raster, product, {3, 1});
    EXPECT_STREQ(raster->GetRasterBand(1)->GetDescription(), "near infrared (0.76-0.89 um)");

    const std::string ranged = dir.File("ranged.tif");
    ASSERT_EQ(RunAlosj({"export", files.volume, ranged, "--bands", "Layer_1,2-3"}).status, 0);
    cli_support::Raster second = OpenRaster(ranged);
    ASSERT_TRUE(second);
    ExpectRowsEqualGetRow(*second, product, {0, 1, 2});

    const std::string all = dir.File("all.tif");
    ASSERT_EQ(RunAlosj({"export", files.volume, all}).status, 0);
    cli_support::Raster every = OpenRaster(all);
    ASSERT_TRUE(every);
    ExpectRowsEqualGetRow(*every, product, {0, 1, 2, 3});
}

TEST(CliExport, BandsTheProductLacksAreAUsageErrorAndWriteNothing) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "a", ceoswriter::Avnir2Product(1));
    for (const char* list : {"5", "0", "2-9", "Layer_5", "Layer_1x", "blue", "1,,2"}) {
        const std::string out = dir.File("out.tif");
        const cli_support::RunResult run = RunAlosj({"export", files.volume, out, "--bands", list});
        EXPECT_EQ(run.status, 2) << list;
        EXPECT_NE(run.err.find("--bands:"), std::string::npos) << list << ": " << run.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << list;
    }
}

TEST(CliExport, CogHasOverviewsTheSameRowsAndLeavesNoTemporaryFile) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(2);
    recipe.leader.geocodingLetter = 'G';
    if (recipe.summary) recipe.summary->mapDirection = "MapNorth";  // on the map grid
    recipe.image.pixelsPerLine = 1100;
    recipe.image.lines = 600;
    recipe.image.pixel = Pattern;
    const auto files = WriteProductIn(dir, "p", recipe);
    const std::string outDir = dir.File("out");
    std::filesystem::create_directory(outDir);
    const std::string out = outDir + "/scene.tif";
    // Names in any case, as a user types them, mean what they say.
    const cli_support::RunResult run =
        RunAlosj({"export", files.volume, out, "--format", "cog", "--compress", "zstd", "--level", "3", "--progress"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err;
    cli_support::Raster raster = OpenRaster(out);
    ASSERT_TRUE(raster);
    EXPECT_EQ(Metadata(*raster, "LAYOUT", "IMAGE_STRUCTURE"), "COG");
    EXPECT_EQ(Metadata(*raster, "COMPRESSION", "IMAGE_STRUCTURE"), "ZSTD");
    EXPECT_GE(raster->GetRasterBand(1)->GetOverviewCount(), 1);
    OpenedProduct product(files.volume);
    ExpectRowsEqualGetRow(*raster, product, {0});
    EXPECT_STREQ(raster->GetSpatialRef()->GetAuthorityCode(nullptr), "32654");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(outDir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"scene.qml", "scene.tif"}));
}

TEST(CliExport, CutImageFileFailsNamingItAndLeavesNoOutput) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1);
    recipe.image.lines = 40;
    const auto files = WriteProductIn(dir, "p", recipe);
    const long recordLength = ceoswriter::ResolveImageFile(recipe.image, 2).recordLength;
    testing_support::TruncateFile(files.images[2], recordLength * 30 + 100);  // mid-way through line 29
    const std::string out = dir.File("out.tif");
    const cli_support::RunResult run = RunAlosj({"export", "-q", files.volume, out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "") << "nothing said written";
    EXPECT_NE(run.err.find("alosj: " + files.volume + ": cannot be read"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(files.images[2]), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("ceosalosj: error"), std::string::npos) << "--quiet shows no reports: " << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.qml")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "only the product";
}

// A killed export leaves its temporaries (no signal handler runs on
// SIGKILL): the next export to the same output removes them, but never
// while another process may be writing them.
TEST(CliExport, LeftoversOfAKilledExportGoWithTheNextButNoRunningWritersTemporaries) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(2));
    const std::string out = dir.File("scene.tif");
    const std::vector<std::string> ours = {dir.File("scene.tif.alosj-0123456789abcdef.tif"),
                                           dir.File("scene.tif.alosj-fedcba9876543210.tif.ovr"),
                                           dir.File("scene.qml.alosj-00000000000000aa.qml")};
    const std::vector<std::string> others = {dir.File("scene.tiff2.alosj-0123456789abcdef.tif"),
                                             dir.File("scene2.tif.alosj-0123456789abcdef.tif")};
    const auto leave = [](const std::vector<std::string>& paths) {
        for (const std::string& path : paths) testing_support::WriteFileBytes(path, {'x'});
    };
    const auto present = [](const std::vector<std::string>& paths) {
        return std::all_of(paths.begin(), paths.end(), [](const std::string& p) { return std::filesystem::exists(p); });
    };
    leave(ours);
    leave(others);
    {
        // Another export to the output is running: refused, nothing removed.
        const alosj::FileLock running(dir.File("scene.alosj-lock"), "alosj export of elsewhere", false);
        ASSERT_TRUE(running.Held());
        const cli_support::RunResult run = RunAlosj({"export", files.volume, out});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("being written at this moment by another alosj export, alosj export of elsewhere"),
                  std::string::npos)
            << run.err;
        EXPECT_TRUE(present(ours));
    }
    {
        // An alosj convert writes this directory: its temporaries are its own.
        const alosj::FileLock converting(dir.path() + ".alosj-lock", "a conversion", false);
        ASSERT_TRUE(converting.Held());
        ASSERT_EQ(RunAlosj({"export", files.volume, out}).status, 0);
        EXPECT_TRUE(present(ours));
    }
    const cli_support::RunResult run = RunAlosj({"export", files.volume, out, "--overwrite"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string& path : ours) EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(present(others));
    EXPECT_FALSE(std::filesystem::exists(dir.File("scene.alosj-lock")));
}

TEST(CliExport, ProductOfTwoBytesPerPixelIsRefused) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(2);
    recipe.image.bitsPerPixel = 16;
    const auto files = WriteProductIn(dir, "p", recipe);
    const std::string out = dir.File("out.tif");
    const cli_support::RunResult run = RunAlosj({"export", files.volume, out});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(files.volume + ": 2 bytes per pixel; alosj exports products of one byte per pixel"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

// Four Byte bands are not red, green, blue and alpha: every band keeps its
// own colour, whatever bands are picked, in a GeoTIFF and in a COG, and no
// band makes the picture transparent.
TEST(CliExport, Avnir2BandsKeepTheirOwnColoursAndNoneIsAlpha) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "a", ceoswriter::Avnir2Product(2));
    const GDALColorInterp meaning[4] = {GCI_BlueBand, GCI_GreenBand, GCI_RedBand, GCI_Undefined};
    struct Case {
        const char* format;
        const char* bands;
        std::vector<int> picked;
    } cases[] = {{"GTiff", "", {0, 1, 2, 3}},
                 {"COG", "", {0, 1, 2, 3}},
                 {"GTiff", "3,2,1,4", {2, 1, 0, 3}},
                 {"COG", "3,2,1,4", {2, 1, 0, 3}},
                 {"GTiff", "4,3,2", {3, 2, 1}}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " --bands '" + c.bands + "'");
        const std::string out = dir.File("colours" + std::to_string(n++) + ".tif");
        std::vector<std::string> args = {"export", files.volume, out, "--format", c.format};
        if (*c.bands) args.insert(args.end(), {"--bands", c.bands});
        const cli_support::RunResult run = RunAlosj(args);
        ASSERT_EQ(run.status, 0) << run.err;
        cli_support::Raster raster = OpenRaster(out);
        ASSERT_TRUE(raster);
        ASSERT_EQ(raster->GetRasterCount(), static_cast<int>(c.picked.size()));
        for (size_t k = 0; k < c.picked.size(); ++k) {
            GDALRasterBand* band = raster->GetRasterBand(static_cast<int>(k) + 1);
            EXPECT_EQ(band->GetColorInterpretation(), meaning[c.picked[k]]) << "band " << k + 1;
            EXPECT_EQ(band->GetMaskFlags() & GMF_ALPHA, 0) << "band " << k + 1;
        }
    }
}

// An existing output is kept as it is unless --overwrite is given; a
// replaced output appears whole, under its name, only when it is complete.
TEST(CliExport, ExistingOutputIsRefusedUntouchedAndReplacedOnlyWithOverwrite) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    const std::string out = dir.File("scene.tif");
    const std::vector<unsigned char> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    testing_support::WriteFileBytes(out, earlier);

    const cli_support::RunResult refused = RunAlosj({"export", files.volume, out});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "alosj: " + out + ": exists; alosj export replaces a file only with --overwrite\n");
    EXPECT_EQ(testing_support::ReadFileBytes(out), earlier);

    const cli_support::RunResult replaced = RunAlosj({"export", files.volume, out, "--overwrite"});
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    cli_support::Raster raster = OpenRaster(out);
    ASSERT_TRUE(raster);
    OpenedProduct product(files.volume);
    ExpectRowsEqualGetRow(*raster, product, {0});
    // Nothing but the product's directory and the output is left behind.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"p", "scene.qml", "scene.tif"}));
}

// A warped output says what it now is, map-projected onto its own grid, and
// keeps none of the raw raster's grid items; no output names the
// directories the product was read from.
TEST(CliExport, WarpedOutputDescribesItsGridAndNoOutputNamesTheReadersDirectories) {
    const ceoswriter::SampleScene scene({ceoswriter::Sensor::Prism, 1, ceoswriter::SampleSize::Tiny});
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", scene.Product());
    OpenedProduct product(files.volume);
    for (const bool warp : {false, true}) {
        SCOPED_TRACE(warp ? "--warp" : "raw");
        const std::string out = dir.File(warp ? "warped.tif" : "raw.tif");
        std::vector<std::string> args = {"export", files.volume, out};
        if (warp) args.push_back("--warp");
        const cli_support::RunResult run = RunAlosj(args);
        ASSERT_EQ(run.status, 0) << run.err;
        cli_support::Raster raster = OpenRaster(out);
        ASSERT_TRUE(raster);
        for (const char* domain : {"", "ALOSJ", "IMAGERY"})
            for (char** item = raster->GetMetadata(domain); item && *item; ++item)
                EXPECT_EQ(std::string(*item).find(dir.path()), std::string::npos) << domain << ": " << *item;
        EXPECT_EQ(Metadata(*raster, "GetImageFileName(0)", "ALOSJ"),
                  std::filesystem::path(product->GetImageFileName(0)).filename().string());
        EXPECT_EQ(Metadata(*raster, "SENSOR"), "PRISM");
        EXPECT_EQ(Metadata(*raster, "GetSensorType", "ALOSJ"), "0");
        if (warp) {
            EXPECT_EQ(Metadata(*raster, "GEOCODED"), "YES");
            EXPECT_EQ(Metadata(*raster, "MAP_PROJECTION"), "UTM");
            EXPECT_EQ(Metadata(*raster, "WARP_CRS"), "EPSG:32654");
            EXPECT_EQ(Metadata(*raster, "WARP_RESAMPLING"), "cubic");
            EXPECT_EQ(raster->GetMetadataItem("MAP_DIRECTION"), nullptr);
            for (const char* query : {"GetSceneWidth", "GetSceneHeight", "GetXPixelSize", "GetMapProjection",
                                      "IsGeocoded", "GetUpperLeftCornerEasting"})
                EXPECT_EQ(raster->GetMetadataItem(query, "ALOSJ"), nullptr) << query;
        } else {
            EXPECT_EQ(Metadata(*raster, "GEOCODED"), "NO");
            EXPECT_EQ(Metadata(*raster, "GetSceneWidth", "ALOSJ"), std::to_string(product->GetSceneWidth()));
            EXPECT_EQ(Metadata(*raster, "MAP_PROJECTION"), product->GetMapProjection());
        }
    }
}

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// The number an attribute of the style holds, or -1.
int StyleBand(const std::string& style, const std::string& attribute) {
    std::smatch match;
    return std::regex_search(style, match, std::regex(attribute + "=\"(\\d+)\"")) ? std::stoi(match[1]) : -1;
}

}  // namespace

// QGIS shows bands 1, 2, 3 as red, green and blue whatever their colours:
// the style written beside each export names the band of each colour (as
// GDAL reads the colours back) and a stretch, and comes and goes with the
// export.
TEST(CliExport, QgisStyleShowsEachBandAsItsColourAndFollowsTheExport) {
    testing_support::TempDir dir;
    const auto avnir = WriteProductIn(dir, "a", ceoswriter::Avnir2Product(2));
    struct Case {
        const char* bands;
        std::vector<GDALColorInterp> shown;  // red, green, blue of the style
    } cases[] = {{"", {GCI_RedBand, GCI_GreenBand, GCI_BlueBand}},
                 {"3,2,1,4", {GCI_RedBand, GCI_GreenBand, GCI_BlueBand}},
                 {"2,4,1,3", {GCI_RedBand, GCI_GreenBand, GCI_BlueBand}},
                 // Without blue: the bands in order (near infrared as red).
                 {"4,3,2", {GCI_Undefined, GCI_RedBand, GCI_GreenBand}}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("--bands '") + c.bands + "'");
        const std::string out = dir.File("avnir" + std::to_string(n++) + ".tif");
        std::vector<std::string> args = {"export", avnir.volume, out};
        if (*c.bands) args.insert(args.end(), {"--bands", c.bands});
        const cli_support::RunResult run = RunAlosj(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string style = ReadText(out.substr(0, out.size() - 4) + ".qml");
        EXPECT_NE(style.find("<rasterrenderer type=\"multibandcolor\""), std::string::npos) << style;
        cli_support::Raster raster = OpenRaster(out);
        ASSERT_TRUE(raster);
        const char* const attributes[3] = {"redBand", "greenBand", "blueBand"};
        for (int k = 0; k < 3; ++k) {
            const int band = StyleBand(style, attributes[k]);
            ASSERT_GE(band, 1) << attributes[k] << "\n" << style;
            ASSERT_LE(band, raster->GetRasterCount()) << attributes[k];
            EXPECT_EQ(raster->GetRasterBand(band)->GetColorInterpretation(), c.shown[k]) << attributes[k];
        }
        // Each colour is stretched from the band's 2nd percentile, in the
        // values QGIS shows: the digital numbers with the band's scale and
        // offset applied.
        const std::regex stretch("<minValue>([0-9.e+-]+)</minValue>\\s*<maxValue>([0-9.e+-]+)</maxValue>");
        int k = 0;
        for (std::sregex_iterator m(style.begin(), style.end(), stretch), end; m != end; ++m, ++k) {
            ASSERT_LT(k, 3) << style;
            EXPECT_LT(std::stod((*m)[1]), std::stod((*m)[2])) << style;
            GDALRasterBand* band = raster->GetRasterBand(StyleBand(style, attributes[k]));
            int hasScale = FALSE;
            const double scale = band->GetScale(&hasScale), offset = band->GetOffset();
            ASSERT_TRUE(hasScale);
            ASSERT_NE(scale, 1.0);
            const int w = raster->GetRasterXSize(), h = raster->GetRasterYSize();
            std::vector<unsigned char> dn(static_cast<size_t>(w) * h);
            ASSERT_EQ(band->RasterIO(GF_Read, 0, 0, w, h, dn.data(), w, h, GDT_Byte, 0, 0, nullptr), CE_None);
            dn.erase(std::remove(dn.begin(), dn.end(), 0), dn.end());
            std::sort(dn.begin(), dn.end());
            const double low = dn[static_cast<size_t>(std::ceil(0.02 * static_cast<double>(dn.size()))) - 1];
            EXPECT_NEAR(std::stod((*m)[1]), scale * low + offset, 1e-4) << attributes[k];
        }
        EXPECT_EQ(k, 3) << style;
    }

    // PRISM: grey, its one band, stretched; in radiance when that is written.
    const auto prism = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    for (const bool radiance : {false, true}) {
        const std::string out = dir.File(radiance ? "radiance.tif" : "prism.tif");
        std::vector<std::string> args = {"export", prism.volume, out};
        if (radiance) args.push_back("--radiance");
        const cli_support::RunResult run = RunAlosj(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string style = ReadText(out.substr(0, out.size() - 4) + ".qml");
        EXPECT_NE(style.find("<rasterrenderer type=\"singlebandgray\""), std::string::npos) << style;
        EXPECT_EQ(StyleBand(style, "grayBand"), 1) << style;
        cli_support::Raster raster = OpenRaster(out);
        ASSERT_TRUE(raster);
        EXPECT_EQ(raster->GetRasterBand(1)->GetColorInterpretation(), GCI_GrayIndex);
    }

    // A style already there is kept unless --overwrite is given.
    const std::string out = dir.File("kept.tif"), stylePath = dir.File("kept.qml");
    const std::vector<unsigned char> earlier = {'<', 'q', '>'};
    testing_support::WriteFileBytes(stylePath, earlier);
    cli_support::RunResult run = RunAlosj({"export", prism.volume, out});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(stylePath + ": exists"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(testing_support::ReadFileBytes(stylePath), earlier);
    run = RunAlosj({"export", prism.volume, out, "--overwrite"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(ReadText(stylePath).find("singlebandgray"), std::string::npos);
}
