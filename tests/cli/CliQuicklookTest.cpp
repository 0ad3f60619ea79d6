// alosj quicklook: a PNG of the asked size, AVNIR-2 in natural colour,
// stretched as the QGIS style beside an export is.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <regex>
#include <sstream>

#include "CliSupport.h"

using cli_support::OpenRaster;
using cli_support::RasterRow;
using cli_support::RunAlosj;
using cli_support::WriteProductIn;

namespace {

double Mean(const std::vector<unsigned char>& values, size_t from, size_t to) {
    return std::accumulate(values.begin() + static_cast<long>(from), values.begin() + static_cast<long>(to), 0.0) /
           static_cast<double>(to - from);
}

/// The `fraction` percentile of values (sorted in place).
double PercentileOf(std::vector<double>& values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// What a scene with snow or cloud holds: in the left `saturated` share of
/// its columns DN 255, then a tenth of them bright but short of saturation
/// (the shaded side of snow, 200 to 249), then land, DN 30 to 69.
ceoswriter::PixelFunction SnowAndLand(double saturated) {
    return [saturated](int, int line, int pixel) -> uint8_t {
        // 190 columns of data between the writer's dummy pixels (6 left, 4 right).
        const double x = (pixel - ceoswriter::ImageLayout::kDefaultLeftDummyWidth) / 190.0;
        if (x < saturated) return 255;
        if (x < saturated + 0.1) return static_cast<uint8_t>(200 + (line * 3 + pixel * 7) % 50);
        return static_cast<uint8_t>(30 + (line * 3 + pixel * 7) % 40);
    };
}

}  // namespace

TEST(CliQuicklook, WritesAGreyPngWhoseLongerSideIsTheAskedSize) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(2);
    recipe.image.pixelsPerLine = 400;
    recipe.image.lines = 100;
    const auto files = WriteProductIn(dir, "p", recipe);
    const std::string out = dir.File("look.png");
    const cli_support::RunResult run = RunAlosj({"quicklook", files.volume, out, "--size", "200"});
    ASSERT_EQ(run.status, 0) << run.err;
    cli_support::Raster png = OpenRaster(out);
    ASSERT_TRUE(png);
    EXPECT_STREQ(png->GetDriver()->GetDescription(), "PNG");
    EXPECT_EQ(png->GetRasterXSize(), 200);
    EXPECT_EQ(png->GetRasterYSize(), 50);
    EXPECT_EQ(png->GetRasterCount(), 1);
}

TEST(CliQuicklook, EnlargesASceneSmallerThanTheAskedSize) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::Avnir2Product(2));  // 64 x 16 pixels
    const std::string out = dir.File("look.png");
    ASSERT_EQ(RunAlosj({"quicklook", files.directory, out, "--size", "256"}).status, 0);
    cli_support::Raster png = OpenRaster(out);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->GetRasterXSize(), 256);
    EXPECT_EQ(png->GetRasterYSize(), 64);
}

TEST(CliQuicklook, Avnir2ShowsBand3AsRedBand2AsGreenBand1AsBlue) {
    // Band 3 bright on the left half, band 1 bright on the right half, band
    // 2 bright at the top: red must be left, blue right, green on top.
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::Avnir2Product(2);
    recipe.image.pixelsPerLine = 200;
    recipe.image.lines = 100;
    recipe.leader.geocodingLetter = 'G';  // no dummy cut: the columns stay where they are
    recipe.image.pixel = [](int file, int line, int pixel) -> uint8_t {
        const bool left = pixel < 100, top = line < 50;
        switch (file) {
            case 0: return left ? 20 : 200;  // band 1
            case 1: return top ? 200 : 20;   // band 2
            case 2: return left ? 200 : 20;  // band 3
            default: return 90;
        }
    };
    const auto files = WriteProductIn(dir, "a", recipe);
    const std::string out = dir.File("look.png");
    ASSERT_EQ(RunAlosj({"quicklook", files.volume, out, "--size", "100"}).status, 0);
    cli_support::Raster png = OpenRaster(out);
    ASSERT_TRUE(png);
    ASSERT_EQ(png->GetRasterCount(), 3);
    EXPECT_EQ(png->GetRasterBand(1)->GetColorInterpretation(), GCI_RedBand);
    const std::vector<unsigned char> red = RasterRow(*png, 1, 10), blue = RasterRow(*png, 3, 10);
    EXPECT_GT(Mean(red, 5, 45), Mean(red, 55, 95) + 100);
    EXPECT_GT(Mean(blue, 55, 95), Mean(blue, 5, 45) + 100);
    EXPECT_GT(Mean(RasterRow(*png, 2, 5), 0, 100), Mean(RasterRow(*png, 2, 45), 0, 100) + 100);
}

TEST(CliQuicklook, DummyPixelsStayBlackAndTheRestIsStretched) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(2);  // dummy pixels cut: zeros at the right end
    recipe.image.pixelsPerLine = 100;
    recipe.image.lines = 100;
    recipe.image.pixel = [](int, int, int pixel) { return static_cast<uint8_t>(100 + pixel / 10); };  // 100..109
    const auto files = WriteProductIn(dir, "p", recipe);
    const std::string out = dir.File("look.png");
    ASSERT_EQ(RunAlosj({"quicklook", files.volume, out, "--size", "100"}).status, 0);
    cli_support::Raster png = OpenRaster(out);
    ASSERT_TRUE(png);
    const std::vector<unsigned char> row = RasterRow(*png, 1, 50);
    ASSERT_EQ(row.size(), 100u);
    // The left 90 columns hold data, the last 10 the zeros of the cut dummy pixels.
    for (int c = 90; c < 100; ++c) EXPECT_EQ(row[c], 0) << c;
    EXPECT_LT(row[2], 40);   // the darkest data is stretched towards black
    EXPECT_GT(row[87], 215);  // the brightest towards white
}

// Saturated snow or cloud must not push the land to black: the quicklook
// and the QGIS style stretch the pixels neither nodata nor saturated, draw
// the saturated white, and agree.  Where almost all is saturated, they
// stretch the full range and say so.
TEST(CliQuicklook, SaturatedPixelsAreWhiteAndTheLandKeepsItsContrastInPreviewAndStyle) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(2);
    recipe.image.pixelsPerLine = 200;
    recipe.image.lines = 100;
    recipe.image.pixel = SnowAndLand(0.3);
    const auto files = WriteProductIn(dir, "p", recipe);
    const std::string look = dir.File("look.png"), out = dir.File("scene.tif");
    cli_support::RunResult run = RunAlosj({"quicklook", files.volume, look, "--size", "200"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("full range"), std::string::npos) << run.out;
    run = RunAlosj({"export", files.volume, out});
    ASSERT_EQ(run.status, 0) << run.err;
    cli_support::Raster png = OpenRaster(look), raster = OpenRaster(out);
    ASSERT_TRUE(png && raster);
    ASSERT_EQ(png->GetRasterXSize(), raster->GetRasterXSize());  // one preview pixel a pixel
    ASSERT_EQ(png->GetRasterYSize(), raster->GetRasterYSize());

    // The saturated share, counted in the export's digital numbers.
    std::vector<double> landShown, landDn;
    long saturated = 0, recorded = 0;
    for (int row = 0; row < raster->GetRasterYSize(); ++row) {
        const std::vector<unsigned char> dn = RasterRow(*raster, 1, row), shown = RasterRow(*png, 1, row);
        for (size_t c = 0; c < dn.size(); ++c) {
            recorded += dn[c] != 0;
            if (dn[c] == 255) {
                ++saturated;
                EXPECT_EQ(shown[c], 255) << "saturated, column " << c << " row " << row;
            } else if (dn[c] != 0 && dn[c] < 100) {
                landShown.push_back(shown[c]);
                landDn.push_back(dn[c]);
            }
        }
    }
    ASSERT_NEAR(static_cast<double>(saturated) / recorded, 0.3, 0.02);
    // The land's middle half spans at least a quarter of the grey scale.
    std::vector<double> upper = landShown;
    EXPECT_GE(PercentileOf(upper, 0.75) - PercentileOf(landShown, 0.25), 255 / 4.0);

    // The style: in radiance, its maximum below the saturated value's, and
    // the land's middle half a quarter of its span as in the quicklook.
    const std::string style = ReadText(dir.File("scene.qml"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(style, m, std::regex("<minValue>([0-9.e+-]+)</minValue>\\s*<maxValue>([0-9.e+-]+)<")))
        << style;
    int hasScale = FALSE;
    const double scale = raster->GetRasterBand(1)->GetScale(&hasScale), offset = raster->GetRasterBand(1)->GetOffset();
    ASSERT_TRUE(hasScale);
    const double minimum = std::stod(m[1]), maximum = std::stod(m[2]);
    EXPECT_LT(maximum, scale * 255 + offset);
    std::vector<double> upperDn = landDn;
    EXPECT_GE(scale * (PercentileOf(upperDn, 0.75) - PercentileOf(landDn, 0.25)), 0.25 * (maximum - minimum) - 1e-9);

    // Almost all saturated: the full range, said in the description and
    // the style; the land below it is still not white.
    recipe.image.pixel = SnowAndLand(0.99);
    const auto white = WriteProductIn(dir, "w", recipe);
    run = RunAlosj({"quicklook", white.volume, dir.File("white.png"), "--size", "200"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("stretched over the full range"), std::string::npos) << run.out;
    run = RunAlosj({"export", white.volume, dir.File("white.tif")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("stretched over the full range"), std::string::npos) << run.out;
    EXPECT_NE(ReadText(dir.File("white.qml")).find("stretched over the full range"), std::string::npos);
    png = OpenRaster(dir.File("white.png"));
    ASSERT_TRUE(png);
    const std::vector<unsigned char> row = RasterRow(*png, 1, 50);
    EXPECT_EQ(row[0], 255);
    EXPECT_LT(row[189], 255);  // the one column left unsaturated, 200 to 249
}
