// alosj quicklook: a PNG of the asked size, AVNIR-2 in natural colour.
#include <gtest/gtest.h>

#include <numeric>

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
