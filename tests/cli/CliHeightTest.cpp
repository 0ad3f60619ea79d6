// export --warp on a height or a DEM, and locate on them, by the
// line-of-sight model: on a forward view (the sample's orbit moved 45.5 s
// later, as tests/DatasetSensorModelTest.cpp does) a mark lands where the
// model puts it, half a kilometre from the polynomials' place per kilometre
// of height; a DEM's plateau places it as its height does once the EGM96
// geoid is added, a hole in the DEM as the ellipsoid does; and the warp's
// interpolation of the model stays within 0.05 pixel of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include <nlohmann/json.hpp>
#include <ogr_spatialref.h>

#include "CliSupport.h"
#include "tools/processing/geometry/LocalMapFit.h"
#include "tools/processing/geometry/SightGrid.h"
#include "tools/processing/geometry/Utm.h"
#include "tools/writer/SampleScene.h"

using cli_support::OpenedProduct;
using cli_support::RunAlosj;
using ceoswriter::SampleScene;
using ceoswriter::SampleSize;
using ceoswriter::Sensor;

namespace {

constexpr double kPlateau = 2000.0;  // metres above the geoid

/// The sample as a forward view whose orbit makes the line-of-sight model
/// pass its checks, with a bright 4 x 4 mark at each of `marks` (raster
/// pixel columns and rows of the mark's upper-left pixel).
ceoswriter::ProductRecipe ForwardView(const SampleScene& scene, const std::vector<std::pair<int, int>>& marks,
                                      bool movedOrbit = true) {
    ceoswriter::ProductRecipe recipe = scene.Product();
    recipe.observationMode = 'F';
    if (movedOrbit) ceoswriter::ChangeOrbit(recipe, 45.5);
    const int files = recipe.ImageCount();
    std::vector<int> firstColumn(static_cast<size_t>(files));
    for (int k = 1; k < files; ++k)
        firstColumn[k] = firstColumn[k - 1] + recipe.image.pixelsPerLine - recipe.image.leftDummyWidth(k - 1, 0) -
                         recipe.image.rightDummyWidth(k - 1, 0) - CeosAlosjDataset::OVERLAPWIDTH;
    const auto left = recipe.image.leftDummyWidth;
    recipe.image.pixel = [=](int file, int line, int pixel) {
        const int x = firstColumn[file] + pixel - left(file, line);
        for (const auto& [mx, my] : marks)
            if (x >= mx && x < mx + 4 && line >= my && line < my + 4) return static_cast<uint8_t>(250);
        return static_cast<uint8_t>(60);
    };
    return recipe;
}

OGRSpatialReference Crs(int epsg) {
    OGRSpatialReference crs;
    crs.importFromEPSG(epsg);
    crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return crs;
}

/// UTM 54N easting and northing of a latitude and longitude.
void ToUtm(double latitude, double longitude, double& easting, double& northing) {
    const OGRSpatialReference geographic = Crs(4326), utm = Crs(32654);
    std::unique_ptr<OGRCoordinateTransformation> t(OGRCreateCoordinateTransformation(&geographic, &utm));
    easting = longitude;
    northing = latitude;
    ASSERT_TRUE(t && t->Transform(1, &easting, &northing));
}

/// The map position (UTM) of the centre of the bright pixels within 40
/// output pixels of (easting, northing) in a warped output.
bool MarkIn(const std::string& path, double easting, double northing, double& atEasting, double& atNorthing) {
    cli_support::Raster raster = cli_support::OpenRaster(path);
    if (!raster) return false;
    double gt[6];
    raster->GetGeoTransform(gt);
    const int column = static_cast<int>((easting - gt[0]) / gt[1]), row = static_cast<int>((northing - gt[3]) / gt[5]);
    double sumX = 0, sumY = 0, count = 0;
    for (int r = row - 40; r <= row + 40; ++r) {
        if (r < 0 || r >= raster->GetRasterYSize()) continue;
        const std::vector<unsigned char> values = cli_support::RasterRow(*raster, 1, r);
        for (int c = column - 40; c <= column + 40; ++c)
            if (c >= 0 && c < raster->GetRasterXSize() && values[c] > 155) {
                sumX += c + 0.5;
                sumY += r + 0.5;
                ++count;
            }
    }
    if (count == 0) return false;
    atEasting = gt[0] + sumX / count * gt[1];
    atNorthing = gt[3] + sumY / count * gt[5];
    return true;
}

/// The EGM96 undulation at a place read from PROJ's grid by gdallocationinfo
/// (not by alosj's way through PROJ's transformations).
double Undulation(double latitude, double longitude) {
    testing_support::TempDir dir;
    const std::string out = dir.File("n.txt");
    const std::string command = "gdallocationinfo -valonly -wgs84 /usr/share/proj/egm96_15.gtx " +
                                std::to_string(longitude) + " " + std::to_string(latitude) + " > " + out;
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(out);
    double n = NAN;
    in >> n;
    return n;
}

/// A DEM in geographic coordinates with no vertical CRS over the scene
/// (with a 0.05 degree margin): kPlateau everywhere but a nodata box of
/// ±`hole` degrees around (holeLatitude, holeLongitude).
void WriteDem(const std::string& path, SampleScene& scene, double holeLatitude, double holeLongitude, double hole) {
    double north = -90, south = 90, east = -180, west = 180;
    for (double x : {0.0, 1.0})
        for (double y : {0.0, 1.0}) {
            double latitude, longitude;
            scene.PixelToGeographic(x * scene.Width(), y * scene.Height(), latitude, longitude);
            north = std::max(north, latitude), south = std::min(south, latitude);
            east = std::max(east, longitude), west = std::min(west, longitude);
        }
    const double step = 0.0005;
    west -= 0.05, north += 0.05;
    const int width = static_cast<int>((east + 0.05 - west) / step), height = static_cast<int>((north - south + 0.05) / step);
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    cli_support::Raster dem(driver->Create(path.c_str(), width, height, 1, GDT_Float32, nullptr));
    ASSERT_TRUE(dem);
    double gt[6] = {west, step, 0, north, 0, -step};
    dem->SetGeoTransform(gt);
    const OGRSpatialReference geographic = Crs(4326);
    dem->SetSpatialRef(&geographic);
    dem->GetRasterBand(1)->SetNoDataValue(-9999);
    std::vector<float> row(static_cast<size_t>(width));
    for (int r = 0; r < height; ++r) {
        const double latitude = north - (r + 0.5) * step;
        for (int c = 0; c < width; ++c) {
            const double longitude = west + (c + 0.5) * step;
            const bool inHole = std::fabs(latitude - holeLatitude) < hole && std::fabs(longitude - holeLongitude) < hole;
            row[c] = inHole ? -9999.0f : static_cast<float>(kPlateau);
        }
        ASSERT_EQ(dem->GetRasterBand(1)->RasterIO(GF_Write, 0, r, width, 1, row.data(), width, 1, GDT_Float32, 0, 0,
                                                  nullptr),
                  CE_None);
    }
}

}  // namespace

// On a forward view a mark warped onto a height lands where the model places
// it at that height, and away from the polynomials' place by the parallax;
// locate at the height answers as the library does; a product whose model
// fails its checks is refused --height and still warped plainly.
TEST(CliHeight, WarpOnAHeightPutsAMarkWhereTheModelSeesItAndLocateAgrees) {
    GDALAllRegister();
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    const int mx = scene.Width() / 2, my = scene.Height() / 2;
    testing_support::TempDir dir;
    const auto files = cli_support::WriteProductIn(dir, "f", ForwardView(scene, {{mx, my}}));
    OpenedProduct product(files.volume);
    const double x = mx + 2.0, y = my + 2.0;  // the mark's centre

    const double height = 1500.0;
    ASSERT_EQ(RunAlosj({"export", files.volume, dir.File("h.tif"), "--warp", "--height", "1500", "--resampling", "near"})
                  .status,
              0);
    ASSERT_EQ(RunAlosj({"export", files.volume, dir.File("p.tif"), "--warp", "--resampling", "near"}).status, 0);
    double latitude, longitude, latitude0, longitude0;
    ASSERT_EQ(product->PixelHeightToLatLon(0, x, y, height, &latitude, &longitude), ALOSJ_SENSOR_OK);
    ASSERT_EQ(product->PixelToLatLon(0, x, y, &latitude0, &longitude0), ALOSJ_LOCATE_OK);
    double e, n, e0, n0, foundE, foundN, foundE0, foundN0;
    ToUtm(latitude, longitude, e, n);
    ToUtm(latitude0, longitude0, e0, n0);
    ASSERT_TRUE(MarkIn(dir.File("h.tif"), e, n, foundE, foundN));
    ASSERT_TRUE(MarkIn(dir.File("p.tif"), e0, n0, foundE0, foundN0));
    // Within a pixel (2.5 m) of the model's place; the parallax of 1.5 km
    // up a forward view is about 750 m, and the two outputs show it.
    EXPECT_LT(std::hypot(foundE - e, foundN - n), 2.5);
    EXPECT_NEAR(std::hypot(e - e0, n - n0), height * std::tan(26.6 * 3.14159265358979 / 180), 30.0);
    EXPECT_LT(std::hypot((foundE - foundE0) - (e - e0), (foundN - foundN0) - (n - n0)), 2.5);
    cli_support::Raster warped = cli_support::OpenRaster(dir.File("h.tif"));
    ASSERT_TRUE(warped);
    EXPECT_STREQ(warped->GetMetadataItem("WARP_HEIGHT"), "1500 m above the ellipsoid");

    // locate at the height, both ways.
    cli_support::RunResult run =
        RunAlosj({"locate", files.volume, "--pixel", std::to_string(x), std::to_string(y), "--height", "1500", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json located = nlohmann::json::parse(run.out);
    EXPECT_NEAR(located["latitude"].get<double>(), latitude, 1e-9);
    EXPECT_NEAR(located["longitude"].get<double>(), longitude, 1e-9);
    EXPECT_EQ(located["height"], 1500.0);
    EXPECT_EQ(located["height_source"], "height");
    char lat[32], lon[32];
    std::snprintf(lat, sizeof lat, "%.10f", latitude);
    std::snprintf(lon, sizeof lon, "%.10f", longitude);
    run = RunAlosj({"locate", files.volume, "--latlon", lat, lon, "--height", "1500", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    located = nlohmann::json::parse(run.out);
    EXPECT_NEAR(located["pixel"].get<double>(), x, 0.005);
    EXPECT_NEAR(located["line"].get<double>(), y, 0.005);
    // Plain locate is as it was: no height in its answer.
    run = RunAlosj({"locate", files.volume, "--pixel", "10", "10", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(nlohmann::json::parse(run.out).contains("height"));
    // Bad input the processing library finds exits 2, as wrong usage does:
    // a DEM that is no raster, a height beyond any ground.
    std::ofstream(dir.File("notes.txt")) << "no raster\n";
    run = RunAlosj({"export", files.volume, dir.File("notes.tif"), "--warp", "--dem", dir.File("notes.txt")});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("not a raster GDAL reads"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("notes.tif")));
    run = RunAlosj({"locate", files.volume, "--pixel", "10", "10", "--height", "200000"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("metres above the ellipsoid, from"), std::string::npos) << run.err;

    // Labelled forward with the nadir orbit: the look angle check fails.
    const auto failing = cli_support::WriteProductIn(dir, "bad", ForwardView(scene, {{mx, my}}, false));
    run = RunAlosj({"export", failing.volume, dir.File("bad.tif"), "--warp", "--height", "100"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the look angle is not the view's"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad.tif")));
    EXPECT_EQ(RunAlosj({"export", failing.volume, dir.File("bad.tif"), "--warp"}).status, 0);
}

// A DEM without a vertical CRS is heights above EGM96: on its plateau a
// mark lands where --height puts it at the plateau plus the geoid's
// undulation there (read from the grid independently), with
// --dem-ellipsoidal where --height puts it at the plateau; in the DEM's
// hole where the plain warp does, with a warning that counts the pixels.
// locate on the DEM finds the plateau and the hole too; the STAC Item of
// the warp has the DEM's footprint.
TEST(CliHeight, DemPlateauIsItsHeightAboveTheGeoidAndItsHoleTheEllipsoid) {
    GDALAllRegister();
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    const int w = scene.Width(), h = scene.Height();
    const std::pair<int, int> onPlateau{w / 4, h / 2}, inHole{3 * w / 4, h / 2};
    testing_support::TempDir dir;
    const auto files = cli_support::WriteProductIn(dir, "f", ForwardView(scene, {onPlateau, inHole}));
    OpenedProduct product(files.volume);
    double holeLatitude, holeLongitude;
    ASSERT_EQ(product->PixelToLatLon(0, inHole.first + 2.0, inHole.second + 2.0, &holeLatitude, &holeLongitude),
              ALOSJ_LOCATE_OK);
    const double hole = 0.002;  // degrees either side
    const std::string dem = dir.File("dem.tif");
    WriteDem(dem, const_cast<SampleScene&>(scene), holeLatitude, holeLongitude, hole);
    double latitude, longitude;
    ASSERT_EQ(product->PixelToLatLon(0, w / 2.0, h / 2.0, &latitude, &longitude), ALOSJ_LOCATE_OK);
    const double undulation = Undulation(latitude, longitude);
    ASSERT_GT(undulation, 30.0);  // Japan: 30 to 45 m
    ASSERT_LT(undulation, 50.0);

    auto warp = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> args = {"export", files.volume, dir.File(name), "--warp", "--resampling", "near"};
        args.insert(args.end(), extra.begin(), extra.end());
        const cli_support::RunResult run = RunAlosj(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return run;
    };
    const cli_support::RunResult geoid = warp("geoid.tif", {"--dem", dem});
    warp("ellipsoidal.tif", {"--dem", dem, "--dem-ellipsoidal"});
    char above[32];
    std::snprintf(above, sizeof above, "%.3f", kPlateau + undulation);
    warp("height.tif", {"--height", above});
    warp("plateau.tif", {"--height", std::to_string(kPlateau)});
    warp("plain.tif", {});

    auto markOf = [&](const std::string& name, std::pair<int, int> mark, double height, double& e, double& n) {
        double lat, lon, expectE, expectN;
        ASSERT_EQ(product->PixelHeightToLatLon(0, mark.first + 2.0, mark.second + 2.0, height, &lat, &lon),
                  ALOSJ_SENSOR_OK);
        ToUtm(lat, lon, expectE, expectN);
        ASSERT_TRUE(MarkIn(dir.File(name), expectE, expectN, e, n)) << name;
    };
    double e[5], n[5];
    markOf("geoid.tif", onPlateau, kPlateau + undulation, e[0], n[0]);
    markOf("height.tif", onPlateau, kPlateau + undulation, e[1], n[1]);
    markOf("ellipsoidal.tif", onPlateau, kPlateau, e[2], n[2]);
    markOf("plateau.tif", onPlateau, kPlateau, e[3], n[3]);
    EXPECT_LT(std::hypot(e[0] - e[1], n[0] - n[1]), 0.5);
    EXPECT_LT(std::hypot(e[2] - e[3], n[2] - n[3]), 0.5);
    // The geoid's shift: the undulation's parallax, about 20 m.
    double lat0, lon0, lat1, lon1, e0, n0, e1, n1;
    product->PixelHeightToLatLon(0, onPlateau.first + 2.0, onPlateau.second + 2.0, kPlateau, &lat0, &lon0);
    product->PixelHeightToLatLon(0, onPlateau.first + 2.0, onPlateau.second + 2.0, kPlateau + undulation, &lat1, &lon1);
    ToUtm(lat0, lon0, e0, n0);
    ToUtm(lat1, lon1, e1, n1);
    EXPECT_GT(std::hypot(e1 - e0, n1 - n0), 15.0);
    EXPECT_LT(std::hypot((e[0] - e[2]) - (e1 - e0), (n[0] - n[2]) - (n1 - n0)), 1.0);

    // The hole: the ellipsoid, as the plain warp; counted in a warning.
    double he, hn, pe, pn;
    markOf("geoid.tif", inHole, 0.0, he, hn);
    markOf("plain.tif", inHole, 0.0, pe, pn);
    EXPECT_LT(std::hypot(he - pe, hn - pn), 0.5);
    const size_t at = geoid.err.find("output pixel(s) lie where the DEM gives no height");
    ASSERT_NE(at, std::string::npos) << geoid.err;
    const long counted = std::atol(geoid.err.substr(geoid.err.rfind("warning: ", at) + 9).c_str());
    // The output pixels that show the scene with their centres in the hole,
    // give or take one of the DEM's pixels (0.0005 degrees) at its edges.
    long inside = 0, near = 0;
    {
        cli_support::Raster out = cli_support::OpenRaster(dir.File("geoid.tif"));
        ASSERT_TRUE(out);
        double gt[6];
        out->GetGeoTransform(gt);
        const OGRSpatialReference utm = Crs(32654), geographic = Crs(4326);
        std::unique_ptr<OGRCoordinateTransformation> toGeographic(OGRCreateCoordinateTransformation(&utm, &geographic));
        for (int r = 0; r < out->GetRasterYSize(); ++r) {
            const std::vector<unsigned char> values = cli_support::RasterRow(*out, 1, r);
            for (int c = 0; c < out->GetRasterXSize(); ++c) {
                if (values[c] == 0) continue;
                double x = gt[0] + (c + 0.5) * gt[1], y = gt[3] + (r + 0.5) * gt[5];
                toGeographic->Transform(1, &x, &y);
                const double off = std::max(std::fabs(y - holeLatitude), std::fabs(x - holeLongitude));
                inside += off < hole - 0.0005;
                near += off < hole + 0.0005;
            }
        }
    }
    EXPECT_GT(inside, 1000);
    EXPECT_GE(counted, inside);
    EXPECT_LE(counted, near);

    // locate on the DEM: the plateau above the geoid, and the hole.
    cli_support::RunResult run = RunAlosj({"locate", files.volume, "--pixel", std::to_string(onPlateau.first + 2.0),
                                           std::to_string(onPlateau.second + 2.0), "--dem", dem, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json located = nlohmann::json::parse(run.out);
    EXPECT_EQ(located["height_source"], "dem");
    EXPECT_NEAR(located["height"].get<double>(), kPlateau + undulation, 0.3);
    double lat, lon;
    product->PixelHeightToLatLon(0, onPlateau.first + 2.0, onPlateau.second + 2.0, located["height"].get<double>(),
                                 &lat, &lon);
    EXPECT_NEAR(located["latitude"].get<double>(), lat, 1e-9);
    EXPECT_NEAR(located["longitude"].get<double>(), lon, 1e-9);
    run = RunAlosj({"locate", files.volume, "--pixel", std::to_string(inHole.first + 2.0),
                    std::to_string(inHole.second + 2.0), "--dem", dem, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    located = nlohmann::json::parse(run.out);
    EXPECT_EQ(located["height_source"], "reference");
    EXPECT_EQ(located["height"], 0.0);

    // The Item of the warp: its footprint is the raster placed on the DEM.
    run = RunAlosj({"stac", files.volume, "--asset", dir.File("geoid.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json item = nlohmann::json::parse(run.out);
    const auto& first = item["geometry"]["coordinates"][0][0];
    double cornerLat, cornerLon;
    product->PixelHeightToLatLon(0, 0, 0, kPlateau + Undulation(first[1], first[0]), &cornerLat, &cornerLon);
    EXPECT_NEAR(first[0].get<double>(), cornerLon, 1e-6);
    EXPECT_NEAR(first[1].get<double>(), cornerLat, 1e-6);
}

// The warp's interpolation of the model stays within 0.05 pixel of the
// exact inverse, at the extreme heights and between layers, over the grid.
TEST(CliHeight, SightGridInterpolatesTheModelWithinAHundredthOfAPixel) {
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    testing_support::TempDir dir;
    const auto files = cli_support::WriteProductIn(dir, "f", ForwardView(scene, {}));
    OpenedProduct product(files.volume);
    // A 2.5 m UTM grid over the scene with a margin.
    const OGRSpatialReference utm = Crs(32654);
    double minE = HUGE_VAL, maxE = -HUGE_VAL, minN = HUGE_VAL, maxN = -HUGE_VAL;
    for (double fx : {0.0, 1.0})
        for (double fy : {0.0, 1.0}) {
            double latitude, longitude, e, n;
            ASSERT_EQ(product->PixelToLatLon(0, fx * scene.Width(), fy * scene.Height(), &latitude, &longitude),
                      ALOSJ_LOCATE_OK);
            ToUtm(latitude, longitude, e, n);
            minE = std::min(minE, e), maxE = std::max(maxE, e), minN = std::min(minN, n), maxN = std::max(maxN, n);
        }
    const double gt[6] = {minE - 100, 2.5, 0, maxN + 100, 0, -2.5};
    const int width = static_cast<int>((maxE - minE + 200) / 2.5), height = static_cast<int>((maxN - minN + 200) / 2.5);
    const double lowest = -200, highest = 3700;
    alosj::processing::SightGrid grid(*product, {}, {}, 0, utm, gt, width, height, lowest, highest);
    EXPECT_GT(grid.Layers().size(), 3u);
    const OGRSpatialReference geographic = Crs(4326);
    std::unique_ptr<OGRCoordinateTransformation> toGeographic(OGRCreateCoordinateTransformation(&utm, &geographic));
    double worst = 0;
    int checked = 0;
    unsigned state = 12345;
    auto uniform = [&] {
        state = state * 1103515245u + 12345u;
        return (state >> 8) / 16777216.0;
    };
    for (int i = 0; i < 3000; ++i) {
        const double column = uniform() * width, row = uniform() * height;
        const double z = i % 3 == 0 ? lowest : i % 3 == 1 ? highest : lowest + uniform() * (highest - lowest);
        double x = gt[0] + column * gt[1], y = gt[3] + row * gt[5];
        ASSERT_TRUE(toGeographic->Transform(1, &x, &y));
        double pixel, line, approxPixel, approxLine;
        if (product->LatLonHeightToPixel(0, y, x, z, &pixel, &line) != ALOSJ_SENSOR_OK) continue;
        ASSERT_TRUE(grid.Source(column, row, z, approxPixel, approxLine));
        worst = std::max(worst, std::hypot(approxPixel - pixel, approxLine - line));
        ++checked;
    }
    EXPECT_GT(checked, 300);
    EXPECT_LE(worst, 0.05);
    EXPECT_LE(grid.CheckedError(), alosj::processing::kSightGridTolerance);
}

// alosj dsm's local quadratics from geocentric points to UTM and heights
// above the ellipsoid stay within a thousandth of a 5 m cell and a
// millimetre of PROJ over a stereo tile's box, Fuji's summit to the sea
// included, and refuse a box too wide for a quadratic.
TEST(CliHeight, DsmMapQuadraticsMatchProjOrRefuse) {
    const OGRSpatialReference geocentric = Crs(4978), geographic3d = Crs(4979), geographic = Crs(4326),
                              utm = Crs(32654);
    std::unique_ptr<OGRCoordinateTransformation> toGeocentric(
        OGRCreateCoordinateTransformation(&geographic3d, &geocentric));
    std::unique_ptr<OGRCoordinateTransformation> toGeographic(
        OGRCreateCoordinateTransformation(&geocentric, &geographic3d));
    std::unique_ptr<OGRCoordinateTransformation> toMap(OGRCreateCoordinateTransformation(&geographic, &utm));
    unsigned state = 2024;
    auto uniform = [&] {
        state = state * 1103515245u + 12345u;
        return (state >> 8) / 16777216.0;
    };
    // Geocentric points spread `degrees` about Fuji, from the sea to its summit.
    auto cloud = [&](double degrees, std::vector<double>& X, std::vector<double>& Y, std::vector<double>& Z) {
        X.clear(), Y.clear(), Z.clear();
        for (int k = 0; k < 2000; ++k) {
            X.push_back(138.73 + (uniform() - 0.5) * degrees);
            Y.push_back(35.36 + (uniform() - 0.5) * degrees);
            Z.push_back(-50 + uniform() * 3850);
        }
        ASSERT_TRUE(toGeocentric->Transform(X.size(), X.data(), Y.data(), Z.data()));
    };
    std::vector<double> X, Y, Z;
    cloud(0.015, X, Y, Z);  // about 1.5 km each way
    alosj::processing::LocalMapFit fit;
    ASSERT_TRUE(fit.Fit(X.data(), Y.data(), Z.data(), 1000, *toGeographic, *toMap, 5e-3, 1e-3));
    // Fitted on the first half, checked on all.
    std::vector<double> x = X, y = Y, h = Z;
    ASSERT_TRUE(toGeographic->Transform(x.size(), x.data(), y.data(), h.data()));
    ASSERT_TRUE(toMap->Transform(x.size(), x.data(), y.data()));
    double worstHorizontal = 0, worstVertical = 0;
    for (size_t k = 0; k < X.size(); ++k) {
        double fx, fy, fh;
        fit.Apply(X[k], Y[k], Z[k], fx, fy, fh);
        worstHorizontal = std::max({worstHorizontal, std::abs(fx - x[k]), std::abs(fy - y[k])});
        worstVertical = std::max(worstVertical, std::abs(fh - h[k]));
    }
    EXPECT_LE(worstHorizontal, 5e-3);
    EXPECT_LE(worstVertical, 1e-3);

    cloud(4.0, X, Y, Z);  // about 400 km
    EXPECT_FALSE(fit.Fit(X.data(), Y.data(), Z.data(), X.size(), *toGeographic, *toMap, 5e-3, 1e-3));
}

// The default map grid's zone, against the UTM system's definition (zones of
// 6° numbered eastwards from 180° W; EPSG 326zz north, 327zz south): Fuji,
// Sydney, Reykjavik, and the antimeridian's two sides.
TEST(CliHeight, DefaultGridTakesTheUtmZoneOfThePlace) {
    using alosj::processing::UtmEpsgAt;
    EXPECT_EQ(UtmEpsgAt(35.36, 138.73), 32654);
    EXPECT_EQ(UtmEpsgAt(-33.87, 151.21), 32756);
    EXPECT_EQ(UtmEpsgAt(64.13, -21.90), 32627);
    EXPECT_EQ(UtmEpsgAt(0.5, -180.0), 32601);
    EXPECT_EQ(UtmEpsgAt(-0.5, 179.99), 32760);
    EXPECT_EQ(UtmEpsgAt(10.0, 180.0), 32660);  // 180° E is the last zone's edge, not a 61st zone
}
