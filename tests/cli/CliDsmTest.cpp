// alosj dsm end to end: surface models from the sample's PRISM triplet over
// the volcano, compared with the terrain the views were rendered from.
#ifdef ALOSJ_WITH_DSM

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "tools/writer/SampleScene.h"

namespace {

using cli_support::OpenRaster;
using cli_support::OpenedProduct;
using cli_support::Raster;
using cli_support::RunAlosj;
using cli_support::RunResult;

struct Figures {
    double filled = 0;           // fraction of the land all views see and record (none saturated) that has a height
    double landFilled = 0;       // the same of all land all views see, the saturated snow's included
    double medianError = 1e9;    // metres, absolute, of every land point with a height
    double ninetiethError = 1e9;
    double saturatedNinetieth = 0;  // metres: the 90th percentile error of saturated points that have a height
    double summitError = 1e9;    // metres: the height at the summit's survey target
    double summitOffset = 1e9;   // metres: the shift that lays the DSM best onto the terrain around the summit
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 1e9;
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
}

/// The DSM's height at a map position, bilinear between the four cells
/// around it when all have one; false where it has none.
bool DsmHeight(const std::vector<float>& heights, int width, int height, const double* gt, double e, double n,
               double& value) {
    const double u = (e - gt[0]) / gt[1] - 0.5, v = (n - gt[3]) / gt[5] - 0.5;
    const int c = static_cast<int>(std::floor(u)), r = static_cast<int>(std::floor(v));
    auto at = [&](int cc, int rr) -> double {
        if (cc < 0 || rr < 0 || cc >= width || rr >= height) return NAN;
        const float h = heights[static_cast<size_t>(rr) * width + cc];
        return h == -32768.0f ? NAN : static_cast<double>(h);
    };
    const double fu = u - c, fv = v - r;
    const double bilinear = (1 - fv) * ((1 - fu) * at(c, r) + fu * at(c + 1, r)) +
                            fv * ((1 - fu) * at(c, r + 1) + fu * at(c + 1, r + 1));
    value = std::isfinite(bilinear) ? bilinear : at(static_cast<int>(std::lround(u)), static_cast<int>(std::lround(v)));
    return std::isfinite(value);
}

/// The DSM against the terrain at every 4th cell of the truth DEM that is
/// land and lies 40 pixels inside every view (heights above the ellipsoid,
/// or above the geoid when `geoid`).  The sunlit snow above about 3200 m
/// saturates the views, which record nothing there to match: such points
/// count in the errors when they have a height, not in the land to fill.
/// Around the summit's survey target (the truth DEM's TARGET_SUMMIT), the
/// DSM is laid onto the terrain at shifts of up to 15 m: the best one is
/// how far the DSM puts the summit from its place.
Figures Compare(const std::string& dsmPath, const std::string& truthPath, const std::vector<std::string>& views,
                bool geoid) {
    Figures figures;
    Raster dsm = OpenRaster(dsmPath);
    Raster truth = OpenRaster(truthPath);
    EXPECT_TRUE(dsm && truth);
    if (!dsm || !truth) return figures;
    const int width = dsm->GetRasterXSize(), height = dsm->GetRasterYSize();
    double gt[6], tgt[6];
    dsm->GetGeoTransform(gt);
    truth->GetGeoTransform(tgt);
    std::vector<float> heights(static_cast<size_t>(width) * height);
    EXPECT_EQ(dsm->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, width, height, heights.data(), width, height,
                                              GDT_Float32, 0, 0),
              CE_None);
    std::vector<std::unique_ptr<OpenedProduct>> products;
    std::vector<std::vector<unsigned char>> images;
    for (const std::string& view : views)
        for (const auto& entry : std::filesystem::directory_iterator(view))
            if (entry.path().filename().string().rfind("VOL-", 0) == 0) {
                products.push_back(std::make_unique<OpenedProduct>(entry.path().string()));
                CeosAlosjDataset& product = **products.back();
                images.emplace_back(static_cast<size_t>(product.GetSceneWidth() * product.GetSceneHeight()));
                product.GetRows(0, 0, static_cast<unsigned long>(product.GetSceneHeight()), images.back().data());
            }
    EXPECT_EQ(products.size(), views.size());
    const auto truthAt = [geoid](double e, double n) {
        double lat, lon;
        ceoswriter::UtmToGeographic(e, n, ceoswriter::SampleScene::kUtmZone, true, lat, lon);
        return geoid ? ceoswriter::SampleScene::HeightAboveGeoid(e, n)
                     : ceoswriter::SampleScene::EllipsoidalHeight(lat, lon);
    };

    long land = 0, filled = 0, allLand = 0, allFilled = 0;
    std::vector<double> errors, saturatedErrors;
    for (int r = 0; r < truth->GetRasterYSize(); r += 4)
        for (int c = 0; c < truth->GetRasterXSize(); c += 4) {
            const double e = tgt[0] + (c + 0.5) * tgt[1], n = tgt[3] + (r + 0.5) * tgt[5];
            if (ceoswriter::SampleScene::HeightAboveGeoid(e, n) < 1) continue;  // the sea
            double lat, lon;
            ceoswriter::UtmToGeographic(e, n, ceoswriter::SampleScene::kUtmZone, true, lat, lon);
            const double ellipsoidal = ceoswriter::SampleScene::EllipsoidalHeight(lat, lon);
            bool seen = true, saturated = false;
            for (size_t k = 0; k < products.size() && seen; ++k) {
                CeosAlosjDataset& product = **products[k];
                const long sceneWidth = product.GetSceneWidth();
                double pixel, line;
                seen = product.LatLonHeightToPixel(0, lat, lon, ellipsoidal, &pixel, &line) == ALOSJ_SENSOR_OK &&
                       pixel > 40 && line > 40 && pixel < sceneWidth - 40 && line < product.GetSceneHeight() - 40;
                for (long y = std::lround(line) - 1; seen && y <= std::lround(line) + 1; ++y)
                    for (long x = std::lround(pixel) - 1; x <= std::lround(pixel) + 1; ++x)
                        saturated = saturated || images[k][static_cast<size_t>(y * sceneWidth + x)] == 255;
            }
            if (!seen) continue;
            land += !saturated;
            ++allLand;
            double value;
            if (!DsmHeight(heights, width, height, gt, e, n, value)) continue;
            filled += !saturated;
            ++allFilled;
            errors.push_back(std::fabs(value - truthAt(e, n)));
            if (saturated) saturatedErrors.push_back(errors.back());
        }
    EXPECT_GT(land, 1000);
    figures.filled = land ? static_cast<double>(filled) / static_cast<double>(land) : 0;
    figures.landFilled = allLand ? static_cast<double>(allFilled) / static_cast<double>(allLand) : 0;
    figures.medianError = Percentile(errors, 0.5);
    figures.ninetiethError = Percentile(errors, 0.9);
    figures.saturatedNinetieth = saturatedErrors.empty() ? 0 : Percentile(saturatedErrors, 0.9);

    // The summit: its target's height, and the shift (every 2.5 m) that
    // best lays the DSM's cells within 150 m of it onto the terrain.
    const char* target = truth->GetMetadataItem("TARGET_SUMMIT");
    double targetLat = 0, targetLon = 0, targetHeight = 0;
    EXPECT_TRUE(target && std::sscanf(target, "%lf %lf %lf", &targetLat, &targetLon, &targetHeight) == 3);
    double e, n, value;
    ceoswriter::GeographicToUtm(targetLat, targetLon, ceoswriter::SampleScene::kUtmZone, true, e, n);
    if (!geoid) {
        EXPECT_NEAR(truthAt(e, n), targetHeight, 0.01);  // the truth read as the writer placed it
    }
    if (DsmHeight(heights, width, height, gt, e, n, value)) figures.summitError = std::fabs(value - truthAt(e, n));
    std::vector<std::array<double, 3>> around;  // easting, northing, height
    const int c0 = static_cast<int>((e - gt[0]) / gt[1]), r0 = static_cast<int>((n - gt[3]) / gt[5]);
    for (int r = std::max(0, r0 - 30); r <= std::min(height - 1, r0 + 30); ++r)
        for (int c = std::max(0, c0 - 30); c <= std::min(width - 1, c0 + 30); ++c) {
            const double ce = gt[0] + (c + 0.5) * gt[1], cn = gt[3] + (r + 0.5) * gt[5];
            const float h = heights[static_cast<size_t>(r) * width + c];
            if (h != -32768.0f && std::hypot(ce - e, cn - n) < 150) around.push_back({ce, cn, h});
        }
    EXPECT_GT(around.size(), 100u);
    double best = 1e300;
    for (int dy = -6; dy <= 6; ++dy)
        for (int dx = -6; dx <= 6; ++dx) {
            std::vector<double> misfit;
            for (const auto& [ce, cn, h] : around) misfit.push_back(std::fabs(h - truthAt(ce + 2.5 * dx, cn + 2.5 * dy)));
            const double median = Percentile(misfit, 0.5);
            if (median < best) {
                best = median;
                figures.summitOffset = 2.5 * std::hypot(dx, dy);
            }
        }
    std::cout << dsmPath << ": " << 100 * figures.filled << " % of " << land
              << " land points recorded (none saturated) filled (" << 100 * figures.landFilled << " % of all "
              << allLand << "), median error " << figures.medianError << " m, 90th percentile "
              << figures.ninetiethError << " m; " << saturatedErrors.size()
              << " saturated points with a height, 90th percentile " << figures.saturatedNinetieth
              << " m; summit target " << figures.summitError << " m, summit laid on the terrain by a shift of "
              << figures.summitOffset << " m (" << around.size() << " cells)\n";
    return figures;
}

/// A band's values (Float32) and its nodata value.
std::vector<float> ReadBand(GDALRasterBand* band, double& noData) {
    const int width = band->GetXSize(), height = band->GetYSize();
    std::vector<float> values(static_cast<size_t>(width) * height);
    EXPECT_EQ(band->RasterIO(GF_Read, 0, 0, width, height, values.data(), width, height, GDT_Float32, 0, 0), CE_None);
    noData = band->GetNoDataValue();
    return values;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// The value of attribute `name` of the first element that has it.
double Attribute(const std::string& text, const std::string& name) {
    const size_t at = text.find(" " + name + "=\"");
    return at == std::string::npos ? NAN : std::atof(text.c_str() + at + name.size() + 3);
}

/// The DSM of two views: one band of heights; the companion counts one
/// agreeing pair exactly where there is a height; the heights' style spans
/// their 2nd to 98th percentiles; nothing else is left beside them.
void CheckOutputs(testing_support::TempDir& dir, const std::string& name) {
    Raster dsm = OpenRaster(dir.File(name + ".tif")), agreement = OpenRaster(dir.File(name + "_agreement.tif"));
    ASSERT_TRUE(dsm && agreement);
    ASSERT_EQ(dsm->GetRasterCount(), 1);
    ASSERT_EQ(agreement->GetRasterCount(), 1);
    EXPECT_EQ(agreement->GetRasterBand(1)->GetRasterDataType(), GDT_Byte);
    double noData = 0, none = -1;
    const std::vector<float> heights = ReadBand(dsm->GetRasterBand(1), noData);
    const std::vector<float> pairs = ReadBand(agreement->GetRasterBand(1), none);
    EXPECT_EQ(none, 0.0);
    ASSERT_EQ(pairs.size(), heights.size());
    std::vector<double> found;
    long mismatched = 0;
    for (size_t k = 0; k < heights.size(); ++k) {
        if (heights[k] != noData) found.push_back(heights[k]);
        mismatched += pairs[k] != (heights[k] != noData ? 1.0f : 0.0f);
    }
    EXPECT_EQ(mismatched, 0);
    const std::string style = ReadText(dir.File(name + ".qml"));
    EXPECT_NE(style.find("type=\"singlebandpseudocolor\""), std::string::npos) << style;
    EXPECT_NEAR(Attribute(style, "classificationMin"), Percentile(found, 0.02), 1.0);
    EXPECT_NEAR(Attribute(style, "classificationMax"), Percentile(found, 0.98), 1.0);
    EXPECT_NE(ReadText(dir.File(name + "_agreement.qml")).find("type=\"paletted\""), std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".alosj-"), std::string::npos) << entry.path();
}

/// A COG whose first overview averages each 2 x 2 block's heights, nodata
/// left out, and is nodata where the block has none.
void CheckCogOverview(const std::string& path) {
    Raster cog = OpenRaster(path);
    ASSERT_TRUE(cog);
    const char* layout = cog->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE");
    EXPECT_STREQ(layout ? layout : "", "COG");
    GDALRasterBand* band = cog->GetRasterBand(1);
    ASSERT_GE(band->GetOverviewCount(), 1);
    GDALRasterBand* overview = band->GetOverview(0);
    const int width = band->GetXSize();
    ASSERT_EQ(overview->GetXSize(), (width + 1) / 2);
    double noData = 0, overviewNoData = 0;
    const std::vector<float> full = ReadBand(band, noData), half = ReadBand(overview, overviewNoData);
    EXPECT_EQ(overviewNoData, noData);
    long mixed = 0, empty = 0, wrong = 0;
    for (int r = 0; 2 * r + 1 < band->GetYSize(); ++r)
        for (int c = 0; 2 * c + 1 < width; ++c) {
            double sum = 0;
            int count = 0;
            for (int k = 0; k < 4; ++k) {
                const float v = full[static_cast<size_t>(2 * r + k / 2) * width + 2 * c + k % 2];
                if (v != noData) sum += v, ++count;
            }
            const float got = half[static_cast<size_t>(r) * overview->GetXSize() + c];
            mixed += count > 0 && count < 4;
            empty += count == 0;
            wrong += count == 0 ? got != noData : std::fabs(got - sum / count) > 1e-3;
        }
    EXPECT_GT(mixed, 100);
    EXPECT_GT(empty, 100);
    EXPECT_EQ(wrong, 0);
}

/// The terrain's height at a map position: above the ellipsoid, or above the geoid when `geoid`.
double Terrain(double e, double n, bool geoid) {
    if (geoid) return ceoswriter::SampleScene::HeightAboveGeoid(e, n);
    double lat, lon;
    ceoswriter::UtmToGeographic(e, n, ceoswriter::SampleScene::kUtmZone, true, lat, lon);
    return ceoswriter::SampleScene::EllipsoidalHeight(lat, lon);
}

/// A DSM's bands and grid.
struct DsmBands {
    int width = 0, height = 0;
    double gt[6] = {};
    std::vector<float> heights, agreeing;
    double agreement = NAN;  // metres, as its AGREEMENT says
};

/// A DSM's heights and its companion's counts of agreeing pairs.
DsmBands ReadDsm(const std::string& path) {
    DsmBands bands;
    const std::string companionPath = path.substr(0, path.size() - 4) + "_agreement.tif";
    Raster dsm = OpenRaster(path), companion = OpenRaster(companionPath);
    EXPECT_TRUE(dsm && companion) << path;
    if (!dsm || !companion) return bands;
    bands.width = dsm->GetRasterXSize();
    bands.height = dsm->GetRasterYSize();
    dsm->GetGeoTransform(bands.gt);
    double noData = 0;
    bands.heights = ReadBand(dsm->GetRasterBand(1), noData);
    bands.agreeing = ReadBand(companion->GetRasterBand(1), noData);
    const char* agreement = companion->GetMetadataItem("AGREEMENT");
    EXPECT_TRUE(agreement && std::sscanf(agreement, "the pairs whose heights lie within %lf m", &bands.agreement) == 1)
        << (agreement ? agreement : "no AGREEMENT");
    return bands;
}

/// The fraction of a DSM's cells with a height that lie more than 50 m off
/// the terrain (a blunder: the matches' errors are a metre or two), every
/// cell counted; checks that a cell has a height exactly where band 2 counts
/// a pair, and at most `pairs`.
double BlunderFraction(const DsmBands& dsm, bool geoid, int pairs) {
    long filled = 0, blunders = 0, miscounted = 0;
    for (int r = 0; r < dsm.height; ++r)
        for (int c = 0; c < dsm.width; ++c) {
            const size_t k = static_cast<size_t>(r) * dsm.width + c;
            const bool has = dsm.heights[k] != -32768.0f;
            miscounted += has ? !(dsm.agreeing[k] >= 1 && dsm.agreeing[k] <= pairs) : dsm.agreeing[k] != 0;
            if (!has) continue;
            ++filled;
            const double e = dsm.gt[0] + (c + 0.5) * dsm.gt[1], n = dsm.gt[3] + (r + 0.5) * dsm.gt[5];
            blunders += std::fabs(dsm.heights[k] - Terrain(e, n, geoid)) > 50;
        }
    EXPECT_EQ(miscounted, 0);
    EXPECT_GT(filled, 100000);
    std::cout << blunders << " of " << filled << " cells with a height more than 50 m off the terrain\n";
    return filled ? static_cast<double>(blunders) / static_cast<double>(filled) : 1;
}

/// The map place (easting, northing) of the summit's dark survey target
/// (DN 1 to 5) in an orthoimage: the mean of such pixels within 60 m of where
/// the truth DEM's TARGET_SUMMIT says it is (the plain's target, equally
/// dark, lies kilometres away).
bool TargetPlace(const std::string& path, const std::string& truth, double& e, double& n) {
    Raster image = OpenRaster(path), terrain = OpenRaster(truth);
    if (!image || !terrain) return false;
    const char* target = terrain->GetMetadataItem("TARGET_SUMMIT");
    double lat = 0, lon = 0, height = 0, e0 = 0, n0 = 0;
    if (!target || std::sscanf(target, "%lf %lf %lf", &lat, &lon, &height) != 3) return false;
    ceoswriter::GeographicToUtm(lat, lon, ceoswriter::SampleScene::kUtmZone, true, e0, n0);
    double noData = 0, gt[6];
    image->GetGeoTransform(gt);
    const std::vector<float> values = ReadBand(image->GetRasterBand(1), noData);
    const int width = image->GetRasterXSize();
    double sumE = 0, sumN = 0;
    int count = 0;
    for (size_t k = 0; k < values.size(); ++k) {
        if (!(values[k] > 0 && values[k] < 6)) continue;
        const double x = gt[0] + (static_cast<double>(k % static_cast<size_t>(width)) + 0.5) * gt[1];
        const double y = gt[3] + (static_cast<double>(k / static_cast<size_t>(width)) + 0.5) * gt[5];
        if (std::hypot(x - e0, y - n0) < 60) sumE += x, sumN += y, ++count;
    }
    if (count < 20) return false;
    e = sumE / count;
    n = sumN / count;
    return true;
}

/// The DSM taken back as the DEM of an orthoimage of the forward view puts
/// the summit's target within a pixel (2.5 m) of where the terrain's own DEM
/// puts it, though the DSM has voids and edges.
void CheckOrthoOnDsm(testing_support::TempDir& dir, const std::string& forward, const std::string& truth,
                     const std::string& dsm) {
    double e[2], n[2];
    for (int k = 0; k < 2; ++k) {
        const std::string ortho = dir.File(k ? "on-truth.tif" : "on-dsm.tif");
        RunResult run = RunAlosj({"-q", "export", forward, ortho, "--warp", "--dem", k ? truth : dsm});
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_TRUE(TargetPlace(ortho, truth, e[k], n[k])) << ortho;
    }
    EXPECT_LT(std::hypot(e[0] - e[1], n[0] - n[1]), 2.5);
}

TEST(CliDsm, TripletAndItsPairsGiveTheVolcanoWithinAPixelOfParallax) {
    testing_support::TempDir dir;
    const std::string scene = dir.File("scene"), truth = dir.File("truth.tif");
    RunResult run = RunAlosj({"-q", "sample", scene, "--triplet", "--place", "volcano", "--dem-out", truth});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string forward = scene + "/forward", nadir = scene + "/nadir", backward = scene + "/backward";
    // Nothing is written among a view's files.
    run = RunAlosj({"dsm", backward, forward, "-o", forward + "/dsm.tif"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("lies inside the product's directory"), std::string::npos) << run.err;
    // Every output is checked before the matching: an existing relief, a
    // name that is no GeoTIFF's, a directory that is not there.
    std::ofstream(dir.File("fb_relief.png")) << "mine";
    run = RunAlosj({"dsm", backward, forward, "-o", dir.File("fb.tif")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("fb_relief.png: exists"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("fb.tif")));
    EXPECT_EQ(ReadText(dir.File("fb_relief.png")), "mine");
    std::filesystem::remove(dir.File("fb_relief.png"));
    run = RunAlosj({"dsm", backward, forward, "-o", dir.File("fb.png")});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("named .tif or .tiff"), std::string::npos) << run.err;
    run = RunAlosj({"dsm", backward, forward, "-o", dir.File("missing/fb.tif")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err.find("overlap"), std::string::npos) << run.err;  // refused before the views are placed
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));

    // Forward and backward alone, heights above the ellipsoid.
    run = RunAlosj({"dsm", backward, forward, "-o", dir.File("fb.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("forward-backward"), std::string::npos) << run.err;
    {
        Raster dsm = OpenRaster(dir.File("fb.tif"));
        ASSERT_TRUE(dsm);
        EXPECT_EQ(dsm->GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
        int hasNoData = 0;
        const double noData = dsm->GetRasterBand(1)->GetNoDataValue(&hasNoData);
        EXPECT_TRUE(hasNoData);
        EXPECT_EQ(noData, -32768.0);
        const OGRSpatialReference* crs = dsm->GetSpatialRef();
        ASSERT_NE(crs, nullptr);
        EXPECT_EQ(crs->GetEPSGGeogCS(), 4326);
        const char* heights = dsm->GetMetadataItem("HEIGHTS");
        EXPECT_STREQ(heights ? heights : "", "above the WGS 84 ellipsoid");
        EXPECT_TRUE(OpenRaster(dir.File("fb_relief.png")));
        // The rays of a match pass within millimetres of each other: the
        // views' models agree.
        const char* gap = dsm->GetMetadataItem("RAY_GAP_FORWARD_BACKWARD");
        long points = 0;
        double median = NAN, ninetieth = NAN;
        ASSERT_TRUE(gap && std::sscanf(gap, "%ld points, ray gap median %lf m, 90th percentile %lf m", &points,
                                       &median, &ninetieth) == 3)
            << (gap ? gap : "no ray gap");
        EXPECT_GT(points, 1000000);
        EXPECT_LE(median, ninetieth);
        EXPECT_LT(ninetieth, 0.05);
        EXPECT_NE(run.err.find("forward-backward: " + std::string(gap)), std::string::npos) << run.err;
    }
    // The aim: 90 % of the land the views record filled, a median error of
    // 2.5 m (one pixel of parallax), a 90th percentile of 7.5 m, the summit
    // within 5 m of its height and a cell (5 m) of its place; nadir-forward,
    // half the base, at most twice the errors.  The bounds guard what the
    // matching reaches now: about 96 % filled, 0.25 m and 0.6 m (nadir-
    // forward 96 %, 0.45 m and 1.1 m; the three 97 %, 0.3 m and 0.7 m); two
    // thirds of all land, the sunlit snow's included.
    CheckOutputs(dir, "fb");
    const Figures fb = Compare(dir.File("fb.tif"), truth, {forward, backward}, false);
    EXPECT_GE(fb.filled, 0.95);
    EXPECT_GE(fb.landFilled, 0.6);
    EXPECT_LE(fb.medianError, 0.5);
    EXPECT_LE(fb.ninetiethError, 1.2);
    EXPECT_LE(fb.summitError, 5.0);
    EXPECT_LE(fb.summitOffset, 5.0);
    EXPECT_LE(fb.saturatedNinetieth, 7.5);  // saturated snow shows nothing to match: no height, or a right one
    // Few blunders: where the coarse pass once took a dark flank 500-1000 m
    // too high, 2.7 % of the cells were more than 50 m off.
    const DsmBands fbBands = ReadDsm(dir.File("fb.tif"));
    EXPECT_LT(BlunderFraction(fbBands, false, 1), 0.005);  // one pair: no second pair to refute a blunder
    CheckOrthoOnDsm(dir, forward, truth, dir.File("fb.tif"));

    // As COGs: overviews that average the heights and keep nodata.
    run = RunAlosj({"-q", "dsm", backward, forward, "--format", "COG", "--resolution", "10", "-o", dir.File("cog.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    CheckCogOverview(dir.File("cog.tif"));
    Raster companion = OpenRaster(dir.File("cog_agreement.tif"));
    ASSERT_TRUE(companion);
    EXPECT_GE(companion->GetRasterBand(1)->GetOverviewCount(), 1);

    // Nadir and forward.
    run = RunAlosj({"dsm", nadir, forward, "-o", dir.File("nf.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    const Figures nf = Compare(dir.File("nf.tif"), truth, {forward, nadir}, false);
    EXPECT_GE(nf.filled, 0.93);
    EXPECT_GE(nf.landFilled, 0.6);
    EXPECT_LE(nf.medianError, 0.9);
    EXPECT_LE(nf.ninetiethError, 2.0);
    EXPECT_LE(nf.summitError, 5.0);
    EXPECT_LE(nf.summitOffset, 5.0);
    EXPECT_LE(nf.saturatedNinetieth, 7.5);

    // All three, heights above EGM96 as the truth gives them.
    run = RunAlosj({"dsm", nadir, backward, forward, "--geoid", "-o", dir.File("all.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    {
        Raster dsm = OpenRaster(dir.File("all.tif"));
        ASSERT_TRUE(dsm && dsm->GetSpatialRef());
        EXPECT_TRUE(dsm->GetSpatialRef()->IsCompound());  // UTM + EGM96 height
    }
    const Figures all = Compare(dir.File("all.tif"), truth, {forward, nadir, backward}, true);
    EXPECT_GE(all.filled, 0.95);
    EXPECT_GE(all.landFilled, 0.6);
    EXPECT_LE(all.medianError, 0.6);
    EXPECT_LE(all.ninetiethError, 1.5);
    EXPECT_LE(all.summitError, 5.0);
    EXPECT_LE(all.summitOffset, 5.0);
    EXPECT_LE(all.saturatedNinetieth, 7.5);
    const DsmBands allBands = ReadDsm(dir.File("all.tif"));
    EXPECT_LT(BlunderFraction(allBands, true, 3), 0.001);
    // Most cells are confirmed by a second pair.
    long confirmed = 0, filled = 0;
    for (size_t k = 0; k < allBands.agreeing.size(); ++k) {
        filled += allBands.agreeing[k] > 0;
        confirmed += allBands.agreeing[k] >= 2;
    }
    EXPECT_GT(confirmed, 0.95 * static_cast<double>(filled));

    // Two views of one direction see no heights.
    run = RunAlosj({"dsm", forward, forward, "-o", dir.File("none.tif")});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("look the same way"), std::string::npos) << run.err;
    EXPECT_FALSE(OpenRaster(dir.File("none.tif")));
}

}  // namespace

#endif
