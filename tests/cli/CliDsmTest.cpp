// alosj dsm end to end: surface models from the sample's PRISM triplet over
// the volcano, compared with the terrain the views were rendered from.
#ifdef ALOSJ_WITH_DSM

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
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
    double filled = 0;           // fraction of the snow-free land all views see that has a height
    double medianError = 1e9;    // metres, absolute
    double ninetiethError = 1e9;
    double summitError = 1e9;
    double snowNinetieth = 0;    // metres: the 90th percentile error of the snow's cells that have a height
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
/// or above the geoid when `geoid`).  The snow above about 3200 m saturates
/// the views and shows nothing to match: its cells count in the errors when
/// they have a height, not in the land to fill.
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
    for (const std::string& view : views)
        for (const auto& entry : std::filesystem::directory_iterator(view))
            if (entry.path().filename().string().rfind("VOL-", 0) == 0)
                products.push_back(std::make_unique<OpenedProduct>(entry.path().string()));
    EXPECT_EQ(products.size(), views.size());

    constexpr double kSnowLine = 3150;  // the snow begins between 3170 and 3330 m
    long land = 0, filled = 0;
    std::vector<double> errors, snowErrors;
    for (int r = 0; r < truth->GetRasterYSize(); r += 4)
        for (int c = 0; c < truth->GetRasterXSize(); c += 4) {
            const double e = tgt[0] + (c + 0.5) * tgt[1], n = tgt[3] + (r + 0.5) * tgt[5];
            const double aboveGeoid = ceoswriter::SampleScene::HeightAboveGeoid(e, n);
            if (aboveGeoid < 1) continue;  // the sea
            double lat, lon;
            ceoswriter::UtmToGeographic(e, n, ceoswriter::SampleScene::kUtmZone, true, lat, lon);
            const double ellipsoidal = ceoswriter::SampleScene::EllipsoidalHeight(lat, lon);
            bool seen = true;
            for (auto& product : products) {
                double pixel, line;
                seen = seen && (*product)->LatLonHeightToPixel(0, lat, lon, ellipsoidal, &pixel, &line) ==
                                   ALOSJ_SENSOR_OK &&
                       pixel > 40 && line > 40 && pixel < (*product)->GetSceneWidth() - 40 &&
                       line < (*product)->GetSceneHeight() - 40;
            }
            if (!seen) continue;
            const bool snowFree = aboveGeoid < kSnowLine;
            land += snowFree;
            double value;
            if (!DsmHeight(heights, width, height, gt, e, n, value)) continue;
            filled += snowFree;
            errors.push_back(std::fabs(value - (geoid ? aboveGeoid : ellipsoidal)));
            if (aboveGeoid > kSnowLine + 200) snowErrors.push_back(errors.back());
        }
    EXPECT_GT(land, 1000);
    figures.filled = land ? static_cast<double>(filled) / static_cast<double>(land) : 0;
    figures.medianError = Percentile(errors, 0.5);
    figures.ninetiethError = Percentile(errors, 0.9);
    figures.snowNinetieth = snowErrors.empty() ? 0 : Percentile(snowErrors, 0.9);

    const ceoswriter::GroundPoint summit = ceoswriter::SampleScene::Summit();
    double e, n, value;
    ceoswriter::GeographicToUtm(summit.latitude, summit.longitude, ceoswriter::SampleScene::kUtmZone, true, e, n);
    const double truthAtSummit =
        geoid ? ceoswriter::SampleScene::HeightAboveGeoid(e, n) : summit.height;
    if (DsmHeight(heights, width, height, gt, e, n, value)) figures.summitError = std::fabs(value - truthAtSummit);
    std::cout << dsmPath << ": " << 100 * figures.filled << " % of " << land << " snow-free land points filled, median error "
              << figures.medianError << " m, 90th percentile " << figures.ninetiethError << " m, summit "
              << figures.summitError << " m; " << snowErrors.size() << " snow points with a height, 90th percentile "
              << figures.snowNinetieth << " m\n";
    return figures;
}

TEST(CliDsm, TripletAndItsPairsGiveTheVolcanoWithinAPixelOfParallax) {
    testing_support::TempDir dir;
    const std::string scene = dir.File("scene"), truth = dir.File("truth.tif");
    RunResult run = RunAlosj({"-q", "sample", scene, "--triplet", "--place", "volcano", "--dem-out", truth});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string forward = scene + "/forward", nadir = scene + "/nadir", backward = scene + "/backward";

    // Forward and backward alone, heights above the ellipsoid.
    run = RunAlosj({"dsm", backward, forward, "-o", dir.File("fb.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("forward-backward"), std::string::npos) << run.err;
    {
        Raster dsm = OpenRaster(dir.File("fb.tif"));
        ASSERT_TRUE(dsm);
        EXPECT_EQ(dsm->GetRasterCount(), 2);
        EXPECT_EQ(dsm->GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
        const OGRSpatialReference* crs = dsm->GetSpatialRef();
        ASSERT_NE(crs, nullptr);
        EXPECT_EQ(crs->GetEPSGGeogCS(), 4326);
        const char* heights = dsm->GetMetadataItem("HEIGHTS");
        EXPECT_STREQ(heights ? heights : "", "above the WGS 84 ellipsoid");
        EXPECT_TRUE(OpenRaster(dir.File("fb_relief.png")));
    }
    // The aim: 90 % filled, a median error of 2.5 m (one pixel of parallax),
    // a 90th percentile of 7.5 m and the summit within 5 m; nadir-forward,
    // half the base, at most twice the errors.  The bounds guard what the
    // matching reaches now: about 94 % filled, 0.6 m and 1.1 m (nadir-
    // forward 89 %, 0.85 m and 1.6 m), the summit within about 2 m.
    const Figures fb = Compare(dir.File("fb.tif"), truth, {forward, backward}, false);
    EXPECT_GE(fb.filled, 0.90);
    EXPECT_LE(fb.medianError, 1.0);
    EXPECT_LE(fb.ninetiethError, 2.0);
    EXPECT_LE(fb.summitError, 5.0);
    EXPECT_LE(fb.snowNinetieth, 7.5);  // the snow shows nothing to match: no height, or a right one

    // Nadir and forward.
    run = RunAlosj({"dsm", nadir, forward, "-o", dir.File("nf.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    const Figures nf = Compare(dir.File("nf.tif"), truth, {forward, nadir}, false);
    EXPECT_GE(nf.filled, 0.85);
    EXPECT_LE(nf.medianError, 1.5);
    EXPECT_LE(nf.ninetiethError, 3.0);
    EXPECT_LE(nf.summitError, 5.0);
    EXPECT_LE(nf.snowNinetieth, 7.5);

    // All three, heights above EGM96 as the truth gives them.
    run = RunAlosj({"dsm", nadir, backward, forward, "--geoid", "-o", dir.File("all.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    {
        Raster dsm = OpenRaster(dir.File("all.tif"));
        ASSERT_TRUE(dsm && dsm->GetSpatialRef());
        EXPECT_TRUE(dsm->GetSpatialRef()->IsCompound());  // UTM + EGM96 height
    }
    const Figures all = Compare(dir.File("all.tif"), truth, {forward, nadir, backward}, true);
    EXPECT_GE(all.filled, 0.92);
    EXPECT_LE(all.medianError, 1.25);
    EXPECT_LE(all.ninetiethError, 2.5);
    EXPECT_LE(all.summitError, 5.0);
    EXPECT_LE(all.snowNinetieth, 7.5);

    // Two views of one direction see no heights.
    run = RunAlosj({"dsm", forward, forward, "-o", dir.File("none.tif")});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("look the same way"), std::string::npos) << run.err;
    EXPECT_FALSE(OpenRaster(dir.File("none.tif")));
}

}  // namespace

#endif
