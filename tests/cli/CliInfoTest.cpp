// alosj info: the JSON document carries the library's values.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "CliSupport.h"

using cli_support::OpenedProduct;
using cli_support::RunAlosj;
using cli_support::WriteProductIn;
using nlohmann::json;

namespace {

json InfoJson(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"info", "--json"};
    all.insert(all.end(), args.begin(), args.end());
    const cli_support::RunResult run = RunAlosj(all);
    EXPECT_EQ(run.status, 0) << run.err;
    return json::parse(run.out, nullptr, false);
}

void ExpectCorner(const json& corner, double lat, double lon) {
    EXPECT_DOUBLE_EQ(corner["latitude"].get<double>(), lat);
    EXPECT_DOUBLE_EQ(corner["longitude"].get<double>(), lon);
}

/// Every value of the document against the dataset opened in-process.
void ExpectInfoMatches(const json& info, CeosAlosjDataset& d) {
    ASSERT_TRUE(info.is_object());
    EXPECT_EQ(info["alosjInfoVersion"], 1);
    EXPECT_EQ(info["sensor"], d.GetSensorType() == 0 ? "PRISM" : "AVNIR-2");
    const char* levels[] = {"1A", "1B1", "1B2"};
    EXPECT_EQ(info["level"], levels[d.GetProductLevel()]);
    EXPECT_EQ(info["width"].get<long>(), d.GetSceneWidth());
    EXPECT_EQ(info["height"].get<long>(), d.GetSceneHeight());
    EXPECT_EQ(info["bytesPerPixel"].get<long>(), d.GetNumOfBytesPerPixel());
    EXPECT_EQ(info["pixelType"], d.GetPixelType() == ALOSJ_PIXEL_INTEGER ? "integer" : "other");
    EXPECT_EQ(info["staggerShift"].get<long>(), d.GetStaggerPixelShift());
    EXPECT_EQ(info["geocoded"].get<bool>(), d.IsGeocoded() == TMSC_TRUE);
    ASSERT_EQ(info["layers"].size(), static_cast<size_t>(d.GetNumOfLayers()));
    for (long k = 0; k < d.GetNumOfLayers(); ++k) EXPECT_EQ(info["layers"][k], d.GetLayerNames()[k]);
    ASSERT_EQ(info["imageFiles"].size(), static_cast<size_t>(d.GetImgFileCount()));
    for (long k = 0; k < d.GetImgFileCount(); ++k) {
        EXPECT_EQ(info["imageFiles"][k]["path"], d.GetImageFileName(k));
        EXPECT_EQ(info["imageFiles"][k]["bytes"].get<uintmax_t>(),
                  std::filesystem::file_size(d.GetImageFileName(k)));
    }
    if (d.GetMapProjection())
        EXPECT_EQ(info["mapProjection"], d.GetMapProjection());
    else
        EXPECT_TRUE(info["mapProjection"].is_null());
    EXPECT_EQ(info["utmZone"].get<long>(), d.GetUTMZoneNum());
    EXPECT_EQ(info["hemisphere"], d.GetUTMHemishpere() == 1 ? "north" : "south");
    EXPECT_DOUBLE_EQ(info["pixelSize"]["x"].get<double>(), d.GetXPixelSize());
    EXPECT_DOUBLE_EQ(info["pixelSize"]["y"].get<double>(), d.GetYPixelSize());
    EXPECT_DOUBLE_EQ(info["sceneCenterUtm"]["easting"].get<double>(), d.GetSceneCenterUTMX());
    EXPECT_DOUBLE_EQ(info["sceneCenterUtm"]["northing"].get<double>(), d.GetSceneCenterUTMY());
    EXPECT_DOUBLE_EQ(info["projectionCenter"]["latitude"].get<double>(), d.GetProjectionCenterLat());
    EXPECT_DOUBLE_EQ(info["projectionCenter"]["longitude"].get<double>(), d.GetProjectionCenterLon());
    double lat, lon;
    d.GetULCornerLatLon(&lat, &lon);
    ExpectCorner(info["corners"]["upperLeft"], lat, lon);
    d.GetURCornerLatLon(&lat, &lon);
    ExpectCorner(info["corners"]["upperRight"], lat, lon);
    d.GetLRCornerLatLon(&lat, &lon);
    ExpectCorner(info["corners"]["lowerRight"], lat, lon);
    d.GetLLCornerLatLon(&lat, &lon);
    ExpectCorner(info["corners"]["lowerLeft"], lat, lon);
    EXPECT_EQ(info["mapDirection"],
              d.GetMapDirection() == CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH ? "TrueNorth" : "other");
}

}  // namespace

TEST(CliInfo, JsonOfAUtmLevel1B2ProductEqualsTheLibrarysValues) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(2);
    recipe.leader.geocodingLetter = 'G';
    if (recipe.summary) recipe.summary->mapDirection = "MapNorth";  // on the map grid
    recipe.leader.sceneCenterEasting = 301.25;
    recipe.leader.sceneCenterNorthing = 3920.5;
    const auto files = WriteProductIn(dir, "p", recipe);
    const json info = InfoJson({files.volume});
    OpenedProduct d(files.volume);
    ExpectInfoMatches(info, *d);
    EXPECT_EQ(info["mapProjection"], "UTM");
    EXPECT_EQ(info["mapDirection"], "other");
    EXPECT_DOUBLE_EQ(info["upperLeftCorner"]["easting"].get<double>(), d->GetUpperLeftCornerEasting());
    EXPECT_DOUBLE_EQ(info["upperLeftCorner"]["northing"].get<double>(), d->GetUpperLeftCornerNorthing());
    EXPECT_EQ(info["georeferencing"]["method"], "geotransform");
    EXPECT_EQ(info["georeferencing"]["epsg"], 32654);
}

TEST(CliInfo, JsonOfAnAvnir2Level1B1ProductEqualsTheLibrarysValues) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::Avnir2Product(1);
    recipe.leader.mapProjectionFlags = "NNNNNNNNNNNNNNNN";
    recipe.leader.offNadirAngle = "-30.5";  // a pointing angle that de-staggers by 6 lines
    const auto files = WriteProductIn(dir, "a", recipe);
    const json info = InfoJson({files.volume});
    OpenedProduct d(files.volume);
    ExpectInfoMatches(info, *d);
    EXPECT_EQ(info["sensor"], "AVNIR-2");
    EXPECT_EQ(info["staggerShift"], 6);
    EXPECT_EQ(info["mapProjection"], "Raw");
    EXPECT_TRUE(info["upperLeftCorner"].is_null());
    EXPECT_EQ(info["georeferencing"]["method"], "gcps");
    EXPECT_EQ(info["georeferencing"]["gcps"].size(), 4u);
}

TEST(CliInfo, DirectoryAndVolumeFileGiveTheSameDocument) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    const json byFile = InfoJson({files.volume});
    const json byDirectory = InfoJson({files.directory});
    EXPECT_EQ(byFile, byDirectory);
    EXPECT_EQ(byFile["volumeDirectoryFile"], std::filesystem::absolute(files.volume).lexically_normal().string());
}

TEST(CliInfo, CcdOptionDescribesThatCcdFileAlone) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1);
    recipe.image.files[2].pixelsPerLine = 80;  // CCD 3 is wider than the others
    const auto files = WriteProductIn(dir, "p", recipe);
    const json info = InfoJson({files.volume, "--ccd", "3"});
    OpenedProduct d(files.volume, 3);
    ExpectInfoMatches(info, *d);
    EXPECT_EQ(info["ccd"], 3);
    EXPECT_EQ(info["width"], 80 - ceoswriter::ImageLayout::kDefaultLeftDummyWidth -
                                 ceoswriter::ImageLayout::kDefaultRightDummyWidth);
}

TEST(CliInfo, HumanReadableOutputNamesTheProductKindSizeAndCorners) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1, 'B');
    recipe.leader.upperLeftLatitude = -12.5;
    const auto files = WriteProductIn(dir, "p", recipe);
    const cli_support::RunResult run = RunAlosj({"info", files.directory});
    ASSERT_EQ(run.status, 0) << run.err;
    OpenedProduct d(files.volume);
    EXPECT_NE(run.out.find("PRISM, Level 1B1, Backward View (B)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(std::to_string(d->GetSceneWidth()) + " x " + std::to_string(d->GetSceneHeight()) +
                           " pixels"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("upper left   12.500000 S  138.537400 E"), std::string::npos) << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
}
