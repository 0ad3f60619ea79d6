// Geolocation by the processor's polynomials, in the library alone (so also
// in the Windows build): the sample scene's fitted polynomials give back the
// geometry the writer rendered at every column, the PRISM CCD seams among
// them, the inverse undoes the forward in every band, and positions off the
// raster or products without polynomials are statuses, not places.
#include <gtest/gtest.h>

#include "DatasetTestSupport.h"
#include "tools/writer/SampleScene.h"

using namespace ceoswriter;
using namespace testing_support;

TEST(Geolocation, PolynomialsGiveTheRenderedGeometryAndTheInverseUndoesThemAcrossSeamsAndBands) {
    const SampleOptions kinds[] = {{Sensor::Prism, 1, SampleSize::Tiny},
                                   {Sensor::Avnir2, 1, SampleSize::Tiny},
                                   {Sensor::Avnir2, 2, SampleSize::Tiny}};
    for (const SampleOptions& kind : kinds) {
        const OpenedSample sample(kind);
        SCOPED_TRACE(sample.Name());
        const SampleScene& scene = sample.scene;
        const ReportCapture& reports = sample.reports;
        CeosAlosjDataset* const product = sample.product.get();
        const double width = product->GetSceneWidth(), height = product->GetSceneHeight();
        // Every column (the PRISM CCD seams among them) on a few rows, and
        // the raster's corners.
        std::vector<std::pair<double, double>> positions = {{0, 0}, {width, height}, {width, 0}, {0, height}};
        for (double x = 0.25; x < width; x += 1.0)
            for (double y : {0.5, height / 3 + 0.3, height - 0.5}) positions.emplace_back(x, y);
        for (int band = 0; band < product->GetNumOfLayers(); ++band)
            for (const auto& [x, y] : positions) {
                double latitude = 0, longitude = 0;
                ASSERT_EQ(product->PixelToLatLon(band, x, y, &latitude, &longitude), ALOSJ_LOCATE_OK) << x << " " << y;
                // The writer's geometry takes pixel centres: a tenth of a
                // pixel is 1e-6 degrees and less.
                double expectedLatitude, expectedLongitude;
                scene.PixelToGeographic(x - 0.5, y - 0.5, expectedLatitude, expectedLongitude);
                ASSERT_NEAR(latitude, expectedLatitude, 2e-7) << band << ": " << x << " " << y;
                ASSERT_NEAR(longitude, expectedLongitude, 2e-7) << band << ": " << x << " " << y;
                double pixel = -1, line = -1;
                ASSERT_EQ(product->LatLonToPixel(band, latitude, longitude, &pixel, &line), ALOSJ_LOCATE_OK)
                    << x << " " << y;
                ASSERT_NEAR(pixel, x, 0.001) << band << ": " << x << " " << y;
                ASSERT_NEAR(line, y, 0.001) << band << ": " << x << " " << y;
            }
        // Off the raster is said, not guessed.
        double latitude = 0, longitude = 0, pixel = 0, line = 0;
        EXPECT_EQ(product->PixelToLatLon(0, width + 1, 0, &latitude, &longitude), ALOSJ_LOCATE_OUTSIDE);
        scene.PixelToGeographic(-50, height / 2, latitude, longitude);
        EXPECT_EQ(product->LatLonToPixel(0, latitude, longitude, &pixel, &line), ALOSJ_LOCATE_OUTSIDE);
        EXPECT_TRUE(reports.reports().empty()) << reports.Summary().front();
    }
    // The writer's default coefficients are placeholders, no geometry: a status, no place.
    WrittenProduct plain(PrismProduct(1));
    auto product = OpenAndRead(plain.files.volume);
    double latitude = 0, longitude = 0, pixel = 0, line = 0;
    EXPECT_EQ(product->PixelToLatLon(0, 10, 2, &latitude, &longitude), ALOSJ_LOCATE_NO_POLYNOMIALS);
    EXPECT_EQ(product->LatLonToPixel(0, 35.1, 138.6, &pixel, &line), ALOSJ_LOCATE_NO_POLYNOMIALS);
}

// Locating needs an AVNIR-2 band's left cut only: its smallest right dummy
// width is read, and a damaged one reported, by the band's first row read.
TEST(Geolocation, AvnirRightDummyWidthsAreReadByTheRowsNotByLocating) {
    const SampleScene scene({Sensor::Avnir2, 1, SampleSize::Tiny});
    ProductRecipe recipe = scene.Product();
    const auto right = recipe.image.rightDummyWidth;
    // The first line of band 0 claims more right dummy pixels than it holds.
    recipe.image.rightDummyWidth = [right](int file, int line) {
        return file == 0 && line == 0 ? 1000000 : right(file, line);
    };
    TempDir dir;
    const ProductFiles files = WriteProduct(dir.path(), recipe);
    auto product = OpenAndRead(files.volume);
    ReportCapture reports;
    double latitude = 0, longitude = 0;
    ASSERT_EQ(product->PixelToLatLon(0, 1.5, 1.5, &latitude, &longitude), ALOSJ_LOCATE_OK);
    EXPECT_EQ(reports.Summary(), std::vector<std::string>{});
    Row(*product, 0, 1);
    EXPECT_TRUE(reports.Has("ImageFileImageLine::Read", "Dummy width beyond the line"));
}
