// alosj locate gives the processor's geolocation of the sample scene both
// ways, and --warp places the scene by it (the library's own geolocation is
// tested in tests/DatasetGeolocationTest.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "CliSupport.h"
#include "tools/writer/SampleScene.h"

using cli_support::OpenedProduct;
using cli_support::RunAlosj;
using ceoswriter::SampleOptions;
using ceoswriter::SampleScene;
using ceoswriter::SampleSize;
using ceoswriter::Sensor;

namespace {

ceoswriter::ProductFiles WriteSample(const testing_support::TempDir& dir, const SampleScene& scene) {
    return cli_support::WriteProductIn(dir, "p", scene.Product());
}

}  // namespace

TEST(CliLocate, GivesTheRenderedPlaceBothWaysAndRefusesWhatItCannotPlace) {
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    testing_support::TempDir dir;
    const auto files = WriteSample(dir, scene);
    double latitude, longitude;
    scene.PixelToGeographic(99.5 - 0.5, 40.25 - 0.5, latitude, longitude);

    cli_support::RunResult run = RunAlosj({"locate", files.volume, "--pixel", "99.5", "40.25", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json ground = nlohmann::json::parse(run.out);
    EXPECT_EQ(ground.size(), 6u);
    EXPECT_EQ(ground["pixel"], 99.5);
    EXPECT_EQ(ground["line"], 40.25);
    EXPECT_NEAR(ground["latitude"].get<double>(), latitude, 2e-7);
    EXPECT_NEAR(ground["longitude"].get<double>(), longitude, 2e-7);
    EXPECT_EQ(ground["band"], 1);
    // Column 99.5 lies beyond the first CCD file's columns.
    OpenedProduct product(files.volume);
    const std::string second = std::filesystem::path(product->GetImageFileName(1)).filename().string();
    EXPECT_EQ(ground["image_file"], second);

    char lat[32], lon[32];
    std::snprintf(lat, sizeof lat, "%.12f", latitude);
    std::snprintf(lon, sizeof lon, "%.12f", longitude);
    run = RunAlosj({"locate", files.volume, "--latlon", lat, lon, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json raster = nlohmann::json::parse(run.out);
    EXPECT_NEAR(raster["pixel"].get<double>(), 99.5, 0.005);
    EXPECT_NEAR(raster["line"].get<double>(), 40.25, 0.005);

    run = RunAlosj({"locate", files.volume, "--pixel", "-3", "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("lies outside the raster"), std::string::npos) << run.err;

    // The writer's default coefficients are placeholders, no geometry.
    const auto plain = cli_support::WriteProductIn(dir, "plain", ceoswriter::PrismProduct(1));
    run = RunAlosj({"locate", plain.volume, "--pixel", "10", "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("has no usable geolocation polynomials"), std::string::npos) << run.err;
}

// Marks drawn on the sample scene's geometry lie, after --warp, within one
// output pixel of where the writer put them on the ground.
TEST(CliWarp, MarksLandWithinOneOutputPixelOfTheirPlaces) {
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    ceoswriter::ProductRecipe recipe = scene.Product();
    // Raster column of each CCD file's first valid pixel, as the reader stitches them.
    const int files = recipe.ImageCount();
    std::vector<int> firstColumn(static_cast<size_t>(files));
    for (int k = 1; k < files; ++k)
        firstColumn[k] = firstColumn[k - 1] + recipe.image.pixelsPerLine - recipe.image.leftDummyWidth(k - 1, 0) -
                         recipe.image.rightDummyWidth(k - 1, 0) - CeosAlosjDataset::OVERLAPWIDTH;
    auto marked = [](int x, int y) { return (x % 24 == 11 || x % 24 == 12) && (y % 20 == 9 || y % 20 == 10); };
    const auto left = recipe.image.leftDummyWidth;
    recipe.image.pixel = [=](int file, int line, int pixel) {
        const int x = firstColumn[file] + pixel - left(file, line);
        return static_cast<uint8_t>(marked(x, line) ? 250 : 60);
    };
    testing_support::TempDir dir;
    const auto files_ = cli_support::WriteProductIn(dir, "p", recipe);
    const std::string out = dir.File("warped.tif");
    const cli_support::RunResult run = RunAlosj({"export", files_.volume, out, "--warp", "--resampling", "near"});
    ASSERT_EQ(run.status, 0) << run.err;

    cli_support::Raster warped = cli_support::OpenRaster(out);
    ASSERT_TRUE(warped);
    double gt[6];
    ASSERT_EQ(warped->GetGeoTransform(gt), CE_None);
    EXPECT_STREQ(warped->GetSpatialRef()->GetAuthorityCode(nullptr), "32654");
    const int w = warped->GetRasterXSize(), h = warped->GetRasterYSize();
    std::vector<unsigned char> pixels(static_cast<size_t>(w) * h);
    ASSERT_EQ(warped->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, pixels.data(), w, h, GDT_Byte, 0, 0, nullptr),
              CE_None);
    int checked = 0;
    OpenedProduct product(files_.volume);
    for (int y = 10; y < product->GetSceneHeight() - 10; y += 20)
        for (int x = 12; x < product->GetSceneWidth() - 12; x += 24) {
            // The mark's centre on the ground, on the output grid.
            double easting, northing;
            scene.PixelToUtm(x - 0.5, y - 0.5, easting, northing);
            const double column = (easting - gt[0]) / gt[1], row = (northing - gt[3]) / gt[5];
            double sumX = 0, sumY = 0, count = 0;
            for (int r = static_cast<int>(row) - 4; r <= static_cast<int>(row) + 4; ++r)
                for (int c = static_cast<int>(column) - 4; c <= static_cast<int>(column) + 4; ++c)
                    if (r >= 0 && c >= 0 && r < h && c < w && pixels[static_cast<size_t>(r) * w + c] == 250) {
                        sumX += c + 0.5;
                        sumY += r + 0.5;
                        ++count;
                    }
            ASSERT_GT(count, 0) << x << " " << y;
            EXPECT_LT(std::hypot(sumX / count - column, sumY / count - row), 1.0) << x << " " << y;
            ++checked;
        }
    EXPECT_GT(checked, 10);
}
