// Where GDAL places a product: a CRS and a geotransform for geocoded map
// products, GCPs for everything else (a grid from the processor's
// polynomials, the four scene corners without them).
#include <gtest/gtest.h>

#include <cmath>

#include "GdalTestProducts.h"
#include "GdalTestSupport.h"
#include "dataset/CeosAlosjDataset.h"
#include "gdal_alg.h"
#include "tools/writer/SampleScene.h"

namespace {

using gdaltest::GdalDataset;
using gdaltest::OpenRaster;
using gdaltest::Write;

int EpsgOf(const OGRSpatialReference* crs) {
    if (!crs) return 0;
    const char* code = crs->GetAuthorityCode(nullptr);
    return code ? std::atoi(code) : 0;
}

// The upper-left corner of a north-up scene: half its extent west and north
// of the scene centre that the leader gives in kilometres.
void ExpectNorthUpTransform(GDALDataset& dataset, double centreEastingKm, double centreNorthingKm,
                            double xSize, double ySize) {
    double transform[6];
    ASSERT_EQ(CE_None, dataset.GetGeoTransform(transform));
    EXPECT_NEAR(centreEastingKm * 1000 - dataset.GetRasterXSize() * xSize / 2, transform[0], 1e-6);
    EXPECT_NEAR(xSize, transform[1], 1e-12);
    EXPECT_EQ(0.0, transform[2]);
    EXPECT_NEAR(centreNorthingKm * 1000 + dataset.GetRasterYSize() * ySize / 2, transform[3], 1e-6);
    EXPECT_EQ(0.0, transform[4]);
    EXPECT_NEAR(-ySize, transform[5], 1e-12);
    EXPECT_EQ(0, dataset.GetGCPCount());
}

TEST(GdalGeoreferencing, GeocodedUtmProductGetsUtmCrsAndNorthUpTransform) {
    auto product = Write("avnir2-1b2");
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const ceoswriter::LeaderRecipe& leader = product->recipe.leader;
    EXPECT_EQ(32600 + leader.utmZoneNumber, EpsgOf(dataset->GetSpatialRef()));
    ExpectNorthUpTransform(*dataset, leader.sceneCenterEasting, leader.sceneCenterNorthing, *leader.xPixelSize1B2,
                           *leader.yPixelSize1B2);
}

TEST(GdalGeoreferencing, SouthernHemisphereTakesTheSouthernUtmZone) {
    auto product = Write("avnir2-1b2-south");
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    EXPECT_EQ(32700 + product->recipe.leader.utmZoneNumber, EpsgOf(dataset->GetSpatialRef()));
    const ceoswriter::LeaderRecipe& leader = product->recipe.leader;
    ExpectNorthUpTransform(*dataset, leader.sceneCenterEasting, leader.sceneCenterNorthing, *leader.xPixelSize1B2,
                           *leader.yPixelSize1B2);
}

TEST(GdalGeoreferencing, PrismGeocodedToMapNorthIsPlacedLikeAvnir) {
    auto product = Write("prism-1b2");
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const ceoswriter::LeaderRecipe& leader = product->recipe.leader;
    EXPECT_EQ(32654, EpsgOf(dataset->GetSpatialRef()));
    ExpectNorthUpTransform(*dataset, leader.sceneCenterEasting, leader.sceneCenterNorthing, *leader.xPixelSize1B2,
                           *leader.yPixelSize1B2);
}

TEST(GdalGeoreferencing, PolarStereographicIsTrueToScaleAtTheProjectionCentre) {
    auto product = Write("avnir2-1b2-ps");
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const OGRSpatialReference* crs = dataset->GetSpatialRef();
    ASSERT_NE(nullptr, crs);
    const ceoswriter::LeaderRecipe& leader = product->recipe.leader;
    char* proj4 = nullptr;
    ASSERT_EQ(OGRERR_NONE, crs->exportToProj4(&proj4));
    const std::string text = proj4;
    CPLFree(proj4);
    EXPECT_NE(std::string::npos, text.find("+proj=stere")) << text;
    EXPECT_NE(std::string::npos, text.find("+lat_0=90")) << text;
    EXPECT_NE(std::string::npos, text.find("+lat_ts=78.25")) << text;
    EXPECT_NE(std::string::npos, text.find("+lon_0=15.5")) << text;
    EXPECT_NE(std::string::npos, text.find("+units=m")) << text;
    ExpectNorthUpTransform(*dataset, leader.psSceneCenterEasting, leader.psSceneCenterNorthing,
                           *leader.xPixelSize1B2, *leader.yPixelSize1B2);
}

// The four corners of the leader at the centres of the corner pixels, in
// geographic coordinates.
void ExpectCornerGcps(GDALDataset& dataset, const ceoswriter::LeaderRecipe& leader) {
    double transform[6];
    EXPECT_NE(CE_None, dataset.GetGeoTransform(transform));
    EXPECT_EQ(nullptr, dataset.GetSpatialRef());
    ASSERT_EQ(4, dataset.GetGCPCount());
    EXPECT_EQ(4326, EpsgOf(dataset.GetGCPSpatialRef()));
    const double w = dataset.GetRasterXSize();
    const double h = dataset.GetRasterYSize();
    struct Expected {
        const char* id;
        double pixel, line, lon, lat;
    } expected[4] = {{"UL", 0.5, 0.5, leader.upperLeftLongitude, leader.upperLeftLatitude},
                     {"UR", w - 0.5, 0.5, leader.upperRightLongitude, leader.upperRightLatitude},
                     {"LR", w - 0.5, h - 0.5, leader.lowerRightLongitude, leader.lowerRightLatitude},
                     {"LL", 0.5, h - 0.5, leader.lowerLeftLongitude, leader.lowerLeftLatitude}};
    const GDAL_GCP* gcps = dataset.GetGCPs();
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(expected[i].id, gcps[i].pszId);
        EXPECT_NEAR(expected[i].pixel, gcps[i].dfGCPPixel, 1e-9);
        EXPECT_NEAR(expected[i].line, gcps[i].dfGCPLine, 1e-9);
        EXPECT_NEAR(expected[i].lon, gcps[i].dfGCPX, 1e-9);
        EXPECT_NEAR(expected[i].lat, gcps[i].dfGCPY, 1e-9);
    }
}

TEST(GdalGeoreferencing, ProductsNotOnANorthUpGridGetTheirCornersAsGcps) {
    // Levels 1A and 1B1 are not map-projected even when the leader names a
    // projection; a georeferenced 1B2 follows the orbit path; a true-north
    // 1B2 is turned against the grid by the meridian convergence.
    for (const char* name : {"prism-1b1", "prism-1a-forward", "avnir2-1b1", "prism-1b2-georeferenced",
                             "prism-1b2-true-north"}) {
        SCOPED_TRACE(name);
        auto product = Write(name);
        GdalDataset dataset = OpenRaster(product->files.volume);
        ASSERT_TRUE(dataset);
        ExpectCornerGcps(*dataset, product->recipe.leader);
    }
}

TEST(GdalGeoreferencing, RawProductGetsGcpsEvenWhenGeocoded) {
    ceoswriter::ProductRecipe recipe = gdaltest::ProductByName("avnir2-1b2");
    recipe.leader.mapProjectionFlags = "NNNNNNNNNNNNNNNN";
    auto product = Write(recipe);
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    EXPECT_STREQ("Raw", dataset->GetMetadataItem("MAP_PROJECTION"));
    ExpectCornerGcps(*dataset, recipe.leader);
}

TEST(GdalGeoreferencing, UnknownEllipsoidIsTakenAsWgs84WithAWarning) {
    ceoswriter::ProductRecipe recipe = gdaltest::ProductByName("avnir2-1b2");
    recipe.leader.ellipsoidName = "MARS2000";
    auto product = Write(recipe);
    gdaltest::GdalErrorCapture errors;
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const OGRSpatialReference* crs = dataset->GetSpatialRef();
    ASSERT_NE(nullptr, crs);
    EXPECT_STREQ("32654", crs->GetAuthorityCode(nullptr));
    double transform[6];
    EXPECT_EQ(CE_None, dataset->GetGeoTransform(transform));
    EXPECT_TRUE(errors.Has(CE_Warning, "ellipsoid \"MARS2000\" is not one this reader knows"));
    const char* warning = dataset->GetMetadataItem("GEOREFERENCING_WARNING");
    EXPECT_NE(nullptr, warning);
}

TEST(GdalGeoreferencing, BesselProductsAreMappedOnTheBesselEllipsoid) {
    ceoswriter::ProductRecipe recipe = gdaltest::ProductByName("avnir2-1b2");
    recipe.leader.ellipsoidName = "BESSEL";
    auto product = Write(recipe);
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    const OGRSpatialReference* crs = dataset->GetSpatialRef();
    ASSERT_NE(nullptr, crs);
    EXPECT_NEAR(6377397.155, crs->GetSemiMajor(), 1e-3);
    EXPECT_EQ(recipe.leader.utmZoneNumber, crs->GetUTMZone());
}

TEST(GdalGeoreferencing, ImpossibleCornersMakeNoGcps) {
    ceoswriter::ProductRecipe recipe = gdaltest::ProductByName("prism-1b1");
    recipe.leader.lowerLeftLatitude = 123.0;
    auto product = Write(recipe);
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    EXPECT_EQ(0, dataset->GetGCPCount());
}

// The grid of GCPs is dense enough that GDAL's thin-plate spline through it
// gives back the processor's polynomials within a tenth of a pixel, CCD
// seams included.
TEST(GdalGeoreferencing, SplineThroughTheGcpGridFollowsThePolynomialsWithinATenthOfAPixel) {
    const ceoswriter::SampleScene scene({ceoswriter::Sensor::Prism, 1, ceoswriter::SampleSize::Tiny});
    auto product = Write(scene.Product());
    GdalDataset dataset = OpenRaster(product->files.volume);
    ASSERT_TRUE(dataset);
    ASSERT_GT(dataset->GetGCPCount(), 100);
    void* spline = GDALCreateTPSTransformer(dataset->GetGCPCount(), dataset->GetGCPs(), FALSE);
    ASSERT_NE(spline, nullptr);
    CeosAlosjDataset library(product->files.volume.c_str());
    ASSERT_GE(library.FileOpen(nullptr), 0);
    library.FileRead();
    double worst = 0;
    for (double x = 0.25; x < dataset->GetRasterXSize(); x += 1.0)  // every column, seams among them
        for (double y : {0.5, dataset->GetRasterYSize() / 2.0 + 0.25, dataset->GetRasterYSize() - 0.5}) {
            double latitude, longitude;
            ASSERT_EQ(ALOSJ_LOCATE_OK, library.PixelToLatLon(0, x, y, &latitude, &longitude));
            double px = longitude, py = latitude, z = 0;
            int ok = FALSE;
            GDALTPSTransform(spline, TRUE, 1, &px, &py, &z, &ok);  // ground → raster
            ASSERT_TRUE(ok);
            worst = std::max(worst, std::hypot(px - x, py - y));
        }
    EXPECT_LT(worst, 0.1);
    GDALDestroyTPSTransformer(spline);
    library.FileClose();
}

}  // namespace
