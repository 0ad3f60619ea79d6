// Georeferencing queries.
#include <gtest/gtest.h>

#include "DatasetTestSupport.h"

using namespace ceoswriter;
using namespace testing_support;

TEST(DatasetGeoref, UpperLeftCornerFromTheSceneCentreAndTheRasterSize) {
    ProductRecipe product = PrismProduct(2);
    product.leader.pixelsPerLine = 14000;
    product.image.pixelsPerLine = 14000;  // no raster is wider than its records
    product.leader.numberOfLines = 16000;
    product.leader.xPixelSize1B2 = 2.5;
    product.leader.yPixelSize1B2 = 2.5;
    product.leader.xPixelSize = 10.0;
    product.leader.yPixelSize = 10.0;
    product.leader.sceneCenterNorthing = 3950.0;
    product.leader.sceneCenterEasting = 500.0;
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    EXPECT_DOUBLE_EQ(dataset->GetYPixelSize(), 2.5);
    EXPECT_DOUBLE_EQ(dataset->GetUpperLeftCornerNorthing(), 3970000.0);
    EXPECT_DOUBLE_EQ(dataset->GetUpperLeftCornerEasting(), 482500.0);
    EXPECT_DOUBLE_EQ(dataset->GetSceneCenterUTMX(), 500000.0);
    EXPECT_DOUBLE_EQ(dataset->GetSceneCenterUTMY(), 3950000.0);
}

TEST(DatasetGeoref, BelowLevel1B2ThePlainPixelSizesCount) {
    ProductRecipe product = PrismProduct(1);
    product.leader.xPixelSize = 2.0;
    product.leader.yPixelSize = 3.0;
    product.leader.xPixelSize1B2 = 99.0;
    product.leader.yPixelSize1B2 = 99.0;
    product.leader.sceneCenterNorthing = 3950.0;
    product.leader.sceneCenterEasting = 500.0;
    product.leader.numberOfLines = 1000;
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    EXPECT_DOUBLE_EQ(dataset->GetXPixelSize(), 2.0);
    EXPECT_DOUBLE_EQ(dataset->GetUpperLeftCornerNorthing(), 3.0 * 1000 * 0.5 + 3950000.0);
    // The easting uses the stitched width, not a leader value.
    EXPECT_DOUBLE_EQ(dataset->GetUpperLeftCornerEasting(),
                     500000.0 - dataset->GetSceneWidth() * 2.0 * 0.5);
}

TEST(DatasetGeoref, PolarStereographicAndRawProducts) {
    ProductRecipe ps = PrismProduct(2);
    ps.leader.mapProjectionFlags = "NNNNYNNNNNNNNNNN";
    ps.leader.psSceneCenterNorthing = -4000.0;
    ps.leader.psSceneCenterEasting = 100.0;
    ps.leader.sceneCenterEasting = 500.0;
    ps.leader.numberOfLines = 100;
    ps.leader.pixelsPerLine = 200;
    ps.image.pixelsPerLine = 200;
    ps.leader.xPixelSize1B2 = 2.5;
    ps.leader.yPixelSize1B2 = 2.5;
    WrittenProduct p(ps);
    auto dataset = OpenAndRead(p.files.volume);
    EXPECT_DOUBLE_EQ(dataset->GetUpperLeftCornerNorthing(), 125.0 - 4000000.0);
    EXPECT_DOUBLE_EQ(dataset->GetUpperLeftCornerEasting(), 100000.0 - 250.0);
    EXPECT_DOUBLE_EQ(dataset->GetSceneCenterUTMX(), 500000.0);

    ProductRecipe raw = PrismProduct(2);
    raw.leader.mapProjectionFlags = "NNNNNNNNNNNNNNNN";
    WrittenProduct r(raw);
    auto rawDataset = OpenAndRead(r.files.volume);
    EXPECT_EQ(rawDataset->GetUpperLeftCornerNorthing(), -1.0);
    EXPECT_EQ(rawDataset->GetUpperLeftCornerEasting(), -1.0);
}

TEST(DatasetGeoref, PlainValuesOfTheLeader) {
    ProductRecipe product = Avnir2Product(1);
    product.leader.utmZoneNumber = 53;
    product.leader.hemisphereCode = 1;
    product.leader.projectionCenterLatitude = 35.25;
    product.leader.projectionCenterLongitude = 138.5;
    product.leader.ellipsoidName = "GRS80";
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    EXPECT_EQ(dataset->GetUTMZoneNum(), 53);
    EXPECT_EQ(dataset->GetUTMHemishpere(), -1);
    EXPECT_DOUBLE_EQ(dataset->GetProjectionCenterLat(), 35.25);
    EXPECT_DOUBLE_EQ(dataset->GetProjectionCenterLon(), 138.5);
    EXPECT_EQ(std::string(dataset->GetEllipsoidName()), "GRS80           ");
    double lat = 0, lon = 0;
    dataset->GetULCornerLatLon(&lat, &lon);
    EXPECT_DOUBLE_EQ(lat, p.recipe.leader.upperLeftLatitude);
    EXPECT_DOUBLE_EQ(lon, p.recipe.leader.upperLeftLongitude);
    dataset->GetURCornerLatLon(&lat, &lon);
    EXPECT_DOUBLE_EQ(lon, p.recipe.leader.upperRightLongitude);
    dataset->GetLLCornerLatLon(&lat, &lon);
    EXPECT_DOUBLE_EQ(lat, p.recipe.leader.lowerLeftLatitude);
    dataset->GetLRCornerLatLon(&lat, &lon);
    EXPECT_DOUBLE_EQ(lat, p.recipe.leader.lowerRightLatitude);
    EXPECT_DOUBLE_EQ(lon, p.recipe.leader.lowerRightLongitude);

    ProductRecipe north = Avnir2Product(1);
    north.leader.hemisphereCode = 0;
    WrittenProduct n(north);
    EXPECT_EQ(OpenAndRead(n.files.volume)->GetUTMHemishpere(), 1);
}

TEST(DatasetGeoref, MapDirectionOnlyForPrism1B2WithSummary) {
    struct Case {
        ProductRecipe product;
        std::optional<std::string> direction;
        CeosAlosjSummaryFile::MapDirection expected;
    };
    std::vector<Case> cases = {
        {PrismProduct(2), "TrueNorth", CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH},
        {PrismProduct(2), "MapNorth", CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
        {PrismProduct(2), std::nullopt, CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
        {PrismProduct(1), "TrueNorth", CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
        {Avnir2Product(2), "TrueNorth", CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
        {Avnir2Product(1), "TrueNorth", CeosAlosjSummaryFile::MAP_DIRECTION_OTHER}};
    for (Case& c : cases) {
        if (c.direction) {
            c.product.summary = SummaryRecipe{};
            c.product.summary->mapDirection = *c.direction;
        } else {
            c.product.summary.reset();
        }
        WrittenProduct p(c.product);
        EXPECT_EQ(OpenAndRead(p.files.volume)->GetMapDirection(), c.expected)
            << c.product.sceneId << " " << c.direction.value_or("(none)");
    }
}
