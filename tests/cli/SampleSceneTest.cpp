// The sample product: what the readers assemble is the rendered scene, its
// metadata agree with its geometry, and it looks like a landscape.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include <ogr_spatialref.h>

#include "CliSupport.h"
#include "tools/writer/SampleScene.h"

using cli_support::OpenedProduct;
using cli_support::RunAlosj;
using ceoswriter::SampleOptions;
using ceoswriter::SampleScene;
using ceoswriter::SampleSize;
using ceoswriter::Sensor;

namespace {

std::unique_ptr<OGRCoordinateTransformation> Transformation(int from, int to) {
    OGRSpatialReference source, target;
    source.importFromEPSG(from);
    target.importFromEPSG(to);
    source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return std::unique_ptr<OGRCoordinateTransformation>(OGRCreateCoordinateTransformation(&source, &target));
}

std::string Name(const SampleOptions& o) {
    return std::string(o.sensor == Sensor::Prism ? "PRISM" : "AVNIR-2") + " level " + std::to_string(o.level);
}

}  // namespace

TEST(SampleGeodesy, UtmAgreesWithProjToTheMillimetre) {
    struct Point {
        double lat, lon;
        int zone;
        bool north;
        int epsg;
    } points[] = {{35.144, 138.653, 54, true, 32654},  {35.36, 141.0, 54, true, 32654},
                  {0.5, 137.1, 54, true, 32654},       {-33.45, -70.66, 19, false, 32719},
                  {-62.0, -66.5, 19, false, 32719},    {71.2, 27.9, 35, true, 32635}};
    for (const Point& p : points) {
        auto toUtm = Transformation(4326, p.epsg);
        ASSERT_TRUE(toUtm);
        double x = p.lon, y = p.lat;
        ASSERT_TRUE(toUtm->Transform(1, &x, &y));
        double easting, northing;
        ceoswriter::GeographicToUtm(p.lat, p.lon, p.zone, p.north, easting, northing);
        EXPECT_NEAR(easting, x, 1e-3) << p.lat << " " << p.lon;
        EXPECT_NEAR(northing, y, 1e-3) << p.lat << " " << p.lon;
        double lat, lon;
        ceoswriter::UtmToGeographic(easting, northing, p.zone, p.north, lat, lon);
        EXPECT_NEAR(lat, p.lat, 1e-8);  // a millimetre
        EXPECT_NEAR(lon, p.lon, 1e-8);
    }
}

TEST(SampleScene, EveryKindReadsBackAsTheRenderedScene) {
    testing_support::TempDir dir;
    int n = 0;
    for (Sensor sensor : {Sensor::Prism, Sensor::Avnir2})
        for (int level = 0; level <= 2; ++level) {
            SampleOptions options;
            options.sensor = sensor;
            options.level = level;
            options.size = SampleSize::Tiny;
            const SampleScene scene(options);
            const std::string directory = dir.File("s" + std::to_string(n++));
            std::filesystem::create_directory(directory);
            const ceoswriter::ProductFiles files = ceoswriter::WriteProduct(directory, scene.Product());

            OpenedProduct product(files.volume);
            ASSERT_EQ(product->GetSceneWidth(), scene.Width()) << Name(options);
            ASSERT_EQ(product->GetSceneHeight(), scene.Height()) << Name(options);
            ASSERT_EQ(product->GetNumOfLayers(), scene.Bands()) << Name(options);
            // PRISM CCD files stitched at their overlaps, AVNIR-2 bands de-staggered.
            for (int band = 0; band < scene.Bands(); ++band)
                for (long row = 0; row < scene.Height(); ++row) {
                    const std::vector<unsigned char> read = product.Row(band, row);
                    std::vector<unsigned char> rendered(read.size());
                    for (long x = 0; x < scene.Width(); ++x) rendered[x] = scene.RasterPixel(band, x, row);
                    ASSERT_EQ(read, rendered) << Name(options) << " band " << band << " row " << row;
                }
            EXPECT_TRUE(product.Reports().reports().empty()) << Name(options);
        }
}

TEST(SampleScene, Level1AShowsTheDetectorsStripingThat1B1HasNot) {
    SampleOptions raw, calibrated;
    raw.level = 0;
    raw.size = calibrated.size = SampleSize::Tiny;
    const SampleScene a(raw), b(calibrated);
    ASSERT_EQ(a.Width(), b.Width());
    // Column means over all rows differ by a per-detector gain at Level 1A.
    double largest = 0;
    for (long x = 0; x < a.Width(); ++x) {
        double difference = 0;
        for (long y = 0; y < a.Height(); ++y) difference += a.RasterPixel(0, x, y) - b.RasterPixel(0, x, y);
        largest = std::max(largest, std::fabs(difference / a.Height()));
    }
    EXPECT_GT(largest, 1.5);
}

TEST(SampleScene, CornersAndCentreAgreeWithTheRasterGeometry) {
    testing_support::TempDir dir;
    for (int level : {1, 2}) {
        SampleOptions options;
        options.level = level;
        options.size = SampleSize::Tiny;
        const SampleScene scene(options);
        const std::string directory = dir.File("l" + std::to_string(level));
        std::filesystem::create_directory(directory);
        const auto files = ceoswriter::WriteProduct(directory, scene.Product());
        OpenedProduct product(files.volume);
        const double right = scene.Width() - 1.0, bottom = scene.Height() - 1.0;
        double lat, lon, expectedLat, expectedLon;
        product->GetULCornerLatLon(&lat, &lon);
        scene.PixelToGeographic(0, 0, expectedLat, expectedLon);
        EXPECT_NEAR(lat, expectedLat, 1e-7);
        EXPECT_NEAR(lon, expectedLon, 1e-7);
        product->GetLRCornerLatLon(&lat, &lon);
        scene.PixelToGeographic(right, bottom, expectedLat, expectedLon);
        EXPECT_NEAR(lat, expectedLat, 1e-7);
        EXPECT_NEAR(lon, expectedLon, 1e-7);
        double easting, northing;
        scene.PixelToUtm((scene.Width() - 1) / 2.0, (scene.Height() - 1) / 2.0, easting, northing);
        EXPECT_NEAR(product->GetSceneCenterUTMX(), easting, 1e-3);
        EXPECT_NEAR(product->GetSceneCenterUTMY(), northing, 1e-3);
        if (level != 2) continue;
        // Level 1B2: the pixel grid from the library's upper-left corner,
        // carried to latitude/longitude by PROJ, meets the leader's corners.
        auto toGeographic = Transformation(32654, 4326);
        double x = product->GetUpperLeftCornerEasting() + 0.5 * product->GetXPixelSize();
        double y = product->GetUpperLeftCornerNorthing() - 0.5 * product->GetYPixelSize();
        ASSERT_TRUE(toGeographic->Transform(1, &x, &y));
        product->GetULCornerLatLon(&lat, &lon);
        EXPECT_NEAR(lat, y, 1e-7);
        EXPECT_NEAR(lon, x, 1e-7);
    }
}

TEST(SampleScene, TimesAndOrbitAreThoseOfTheSceneCentre) {
    testing_support::TempDir dir;
    SampleOptions options;
    options.size = SampleSize::Tiny;
    const SampleScene scene(options);
    const auto files = ceoswriter::WriteProduct(dir.path(), scene.Product());
    OpenedProduct product(files.volume);
    AlosjDateTime start{}, centre{};
    double coefficients[8][40];
    Tkmd_ALPSM1B1_IMG image{};
    image.sceneStartTime = &start;
    image.sceneCenterDateTime = &centre;
    for (int k = 0; k < 8; ++k) image.coefficientArrays[k] = coefficients[k];
    product->GetALPSM1B1SceneData(&image);
    Tkmd_ALPSM1B1_IMG_Release(&image);
    const double startSeconds = start.hour * 3600.0 + start.minute * 60.0 + start.seconds;
    const double centreSeconds = centre.hour * 3600.0 + centre.minute * 60.0 + centre.seconds;
    EXPECT_EQ(start.day, centre.day);
    // Half the scene's lines at PRISM's 0.37 ms line interval.
    EXPECT_NEAR(centreSeconds - startSeconds, (scene.Height() - 1) / 2.0 * 0.37e-3, 2e-6);

    Tkmd_ALPSM1B1_EPH ephemeris{};
    product->GetALPSM1B1EphemerisData(&ephemeris);
    ASSERT_NE(ephemeris.ephemeris, nullptr);
    ASSERT_GT(ephemeris.ephemeris->count, 2);
    for (int k = 0; k < ephemeris.ephemeris->count; ++k) {
        const double* s = ephemeris.ephemeris->entries[k].stateVector;
        const double radius = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
        const double speed = std::sqrt(s[3] * s[3] + s[4] * s[4] + s[5] * s[5]);
        EXPECT_NEAR(radius, 6371e3 + 692e3, 25e3);
        EXPECT_NEAR(speed, 7.1e3, 0.5e3);  // Earth-fixed: a little slower than inertial
    }
    Tkmd_ALPSM1B1_EPH_Release(&ephemeris);
}

TEST(SampleScene, LooksLikeALandscapeInNaturalColour) {
    SampleOptions options;
    options.sensor = Sensor::Avnir2;
    options.level = 2;
    const SampleScene scene(options);  // the small scene: 10 km around the river mouth
    auto mean = [&](int band, long top, long bottom) {
        double sum = 0;
        long count = 0;
        for (long y = top; y < bottom; y += 7)
            for (long x = 0; x < scene.Width(); x += 7, ++count) sum += scene.RasterPixel(band, x, y);
        return sum / count;
    };
    const long h = scene.Height();
    // The sea in the south: dark in the near infrared, blue above red.
    EXPECT_LT(mean(3, h - h / 10, h), 20);
    EXPECT_GT(mean(0, h - h / 10, h), mean(2, h - h / 10, h));
    // Forested hills in the north: near infrared well above red.
    const double red = mean(2, 0, h / 10), infrared = mean(3, 0, h / 10);
    EXPECT_GT((infrared - red) / (infrared + red), 0.4);
    // Not noise: neighbouring pixels are alike far more often than not.
    long alike = 0, pairs = 0;
    for (long y = 0; y < h; y += 13)
        for (long x = 0; x + 1 < scene.Width(); x += 3, ++pairs)
            alike += std::abs(scene.RasterPixel(1, x, y) - scene.RasterPixel(1, x + 1, y)) <= 4;
    EXPECT_GT(static_cast<double>(alike) / pairs, 0.6);
}

TEST(CliSample, WritesAProductThatReadsBackAsTheSceneAndRefusesToOverwriteIt) {
    testing_support::TempDir dir;
    const std::string out = dir.File("sample");
    cli_support::RunResult run = RunAlosj({"sample", out, "--sensor", "avnir2", "--level", "1B1"});
    ASSERT_EQ(run.status, 0) << run.err;
    SampleOptions options;
    options.sensor = Sensor::Avnir2;
    const SampleScene scene(options);
    const std::string volume = out + "/VOL-ALAV2A038862710-O1B1__A";
    EXPECT_NE(run.out.find(volume), std::string::npos) << run.out;
    OpenedProduct product(volume);
    ASSERT_EQ(product->GetSceneWidth(), scene.Width());
    ASSERT_EQ(product->GetSceneHeight(), scene.Height());
    for (long row = 0; row < scene.Height(); row += 97)
        for (int band = 0; band < 4; ++band) {
            const std::vector<unsigned char> read = product.Row(band, row);
            for (long x = 0; x < scene.Width(); x += 5)
                ASSERT_EQ(read[x], scene.RasterPixel(band, x, row)) << band << " " << row << " " << x;
        }

    run = RunAlosj({"sample", out});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("already holds a product"), std::string::npos) << run.err;
}

// alosj sample --triplet: the three PRISM views of one orbit over the
// volcano, each labelled with its view and showing the scene the writer
// renders for it; --dem-out: the terrain beneath all three as a GeoTIFF in
// UTM with EGM96 heights, the summit's height among them.  AVNIR-2 points
// across the track with --pointing.
TEST(CliSample, ATripletOverTheVolcanoWithItsDem) {
    testing_support::TempDir dir;
    const std::string out = dir.File("triplet"), dem = dir.File("dem.tif");
    cli_support::RunResult run =
        RunAlosj({"sample", out, "--triplet", "--size", "tiny", "--place", "volcano", "--dem-out", dem});
    ASSERT_EQ(run.status, 0) << run.err;
    cli_support::Raster raster = cli_support::OpenRaster(dem);
    ASSERT_TRUE(raster);
    double transform[6];
    ASSERT_EQ(raster->GetGeoTransform(transform), CE_None);
    const struct {
        ceoswriter::View view;
        const char* name;
        MissionType mode;
        const char* letter;
    } views[] = {{ceoswriter::View::Nadir, "nadir", MISSION_N, "N"},
                 {ceoswriter::View::Forward, "forward", MISSION_F, "F"},
                 {ceoswriter::View::Backward, "backward", MISSION_B, "B"}};
    for (const auto& v : views) {
        const std::string volume = out + "/" + v.name + "/VOL-ALPSM" + v.letter + "038862710-O1B1__A";
        EXPECT_NE(run.out.find(volume), std::string::npos) << run.out;
        OpenedProduct product(volume);
        EXPECT_EQ(product->GetObservationMode(), v.mode) << v.name;
        SampleOptions options;
        options.size = SampleSize::Tiny;
        options.view = v.view;
        options.place = ceoswriter::Place::Volcano;
        const SampleScene scene(options);
        ASSERT_EQ(product->GetSceneWidth(), scene.Width());
        for (long row : {0L, static_cast<long>(scene.Height()) / 2}) {
            const std::vector<unsigned char> read = product.Row(0, row);
            for (long x = 0; x < scene.Width(); x += 7)
                ASSERT_EQ(read[x], scene.RasterPixel(0, x, row)) << v.name << " " << row << " " << x;
        }
        // The DEM holds every ground point the view shows.
        for (double column : {0.0, scene.Width() - 1.0})
            for (double row : {0.0, scene.Height() - 1.0}) {
                const ceoswriter::GroundPoint ground = scene.PixelGround(column, row);
                double easting, northing;
                ceoswriter::GeographicToUtm(ground.latitude, ground.longitude, SampleScene::kUtmZone, true, easting, northing);
                EXPECT_GT(easting, transform[0]);
                EXPECT_LT(easting, transform[0] + raster->GetRasterXSize() * transform[1]);
                EXPECT_LT(northing, transform[3]);
                EXPECT_GT(northing, transform[3] + raster->GetRasterYSize() * transform[5]);
            }
    }

    // UTM 54 north with EGM96 heights, Float32, DEFLATE with the
    // floating-point predictor.
    const OGRSpatialReference* crs = raster->GetSpatialRef();
    ASSERT_NE(crs, nullptr);
    EXPECT_TRUE(crs->IsCompound());
    EXPECT_STREQ(crs->GetAuthorityCode("PROJCS"), "32654");
    EXPECT_STREQ(crs->GetAuthorityCode("VERT_CS"), "5773");
    EXPECT_EQ(raster->GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
    EXPECT_STREQ(raster->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
    EXPECT_STREQ(raster->GetMetadataItem("PREDICTOR", "IMAGE_STRUCTURE"), "3");
    // At the summit the height above the geoid: the ellipsoidal height less
    // the undulation (about 40 m), within what 10 m between samples allows
    // on the crater's slope.
    const ceoswriter::GroundPoint summit = SampleScene::Summit();
    double easting, northing;
    ceoswriter::GeographicToUtm(summit.latitude, summit.longitude, SampleScene::kUtmZone, true, easting, northing);
    const int x = static_cast<int>((easting - transform[0]) / transform[1]);
    const int y = static_cast<int>((northing - transform[3]) / transform[5]);
    float value = 0;
    ASSERT_EQ(raster->GetRasterBand(1)->RasterIO(GF_Read, x, y, 1, 1, &value, 1, 1, GDT_Float32, 0, 0, nullptr),
              CE_None);
    const double undulation = SampleScene::GeoidUndulation(summit.latitude, summit.longitude);
    EXPECT_NEAR(undulation, 40.0, 3.0);
    EXPECT_NEAR(value, summit.height - undulation, 8.0);
    EXPECT_NEAR(value, SampleScene::HeightAboveGeoid(transform[0] + (x + 0.5) * transform[1],
                                                     transform[3] + (y + 0.5) * transform[5]),
                0.001);

    // AVNIR-2 looking 30 degrees across the track: the header's pointing,
    // the look of the line of sight and the odd detectors' longer stagger.
    const std::string pointed = dir.File("pointed");
    run = RunAlosj({"sample", pointed, "--sensor", "avnir2", "--size", "tiny", "--pointing", "30"});
    ASSERT_EQ(run.status, 0) << run.err;
    OpenedProduct product(pointed + "/VOL-ALAV2A038862710-O1B1__A");
    EXPECT_EQ(product->GetStaggerPixelShift(), 6);
    CeosAlosjLineOfSight sight;
    ASSERT_EQ(product->GetLineOfSight(0, product->GetSceneWidth() / 2.0, product->GetSceneHeight() / 2.0, &sight),
              ALOSJ_SENSOR_OK);
    EXPECT_NEAR(sight.lookAngle, 30.0, 0.05);
    SampleOptions options;
    options.sensor = Sensor::Avnir2;
    options.size = SampleSize::Tiny;
    options.pointing = 30.0;
    const SampleScene scene(options);
    for (long row = 0; row < scene.Height(); row += 11)
        for (int band = 0; band < 4; ++band) {
            const std::vector<unsigned char> read = product.Row(band, row);
            for (long x = 0; x < scene.Width(); ++x)
                ASSERT_EQ(read[x], scene.RasterPixel(band, x, row)) << band << " " << row << " " << x;
        }

    // Views are PRISM's, pointing AVNIR-2's.
    EXPECT_EQ(RunAlosj({"sample", dir.File("x"), "--pointing", "10"}).status, 2);
    EXPECT_EQ(RunAlosj({"sample", dir.File("y"), "--sensor", "avnir2", "--view", "forward"}).status, 2);
}
