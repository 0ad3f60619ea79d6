// The RPC models, in the library alone: on the writer's sample scenes (PRISM
// nadir and forward views, AVNIR-2 band by band, Level 1B2) they follow the
// line-of-sight model within a hundredth of a pixel at the fit's own check
// points and at random ground points this test evaluates them at itself;
// a product whose orbit fails the model's checks, or a CCD whose strip is
// out of step with its neighbours, offers none and a warning says why.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "DatasetTestSupport.h"
#include "tools/writer/SampleScene.h"

using namespace ceoswriter;
using namespace testing_support;

namespace {

/// GDAL's RPC00B ratio at normalised latitude P, longitude L, height H.
double Ratio(const double numerator[20], const double denominator[20], double P, double L, double H) {
    const double t[20] = {1,         L,         P,         H,         L * P,     L * H,     P * H,
                          L * L,     P * P,     H * H,     P * L * H, L * L * L, L * P * P, L * H * H,
                          L * L * P, P * P * P, P * H * H, L * L * H, P * P * H, H * H * H};
    double n = 0, d = 0;
    for (int k = 0; k < 20; ++k) {
        n += numerator[k] * t[k];
        d += denominator[k] * t[k];
    }
    return n / d;
}

}  // namespace

TEST(Rpc, FollowsTheLineOfSightModelWithinAHundredthOfAPixelAtPointsItWasNotFittedTo) {
    struct Kind {
        const char* name;
        SampleOptions options;
        char mode;  // 0: the sample's own
    };
    const Kind kinds[] = {{"PRISM 1B1 nadir", {Sensor::Prism, 1, SampleSize::Tiny}, 0},
                          {"PRISM 1B1 forward", {Sensor::Prism, 1, SampleSize::Tiny}, 'F'},
                          {"AVNIR-2 1B1", {Sensor::Avnir2, 1, SampleSize::Tiny}, 0},
                          {"AVNIR-2 1B2", {Sensor::Avnir2, 2, SampleSize::Tiny}, 0}};
    std::mt19937 random(20061013);
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const SampleScene scene(kind.options);
        ProductRecipe recipe = scene.Product();
        if (kind.mode == 'F') {
            // As the forward-view test of the sensor model makes one: the
            // orbit 45.5 s later puts the satellite 23.8 degrees back.
            recipe.observationMode = 'F';
            ChangeOrbit(recipe, 45.5);
        }
        const WrittenProduct written(recipe);
        ReportCapture reports;
        auto product = OpenAndRead(written.files.volume);
        const double width = product->GetSceneWidth(), height = product->GetSceneHeight();
        ASSERT_EQ(product->GetNumOfLayers(), kind.options.sensor == Sensor::Prism ? 1 : 4);
        for (int band = 0; band < product->GetNumOfLayers(); ++band) {
            SCOPED_TRACE("band " + std::to_string(band + 1));
            CeosAlosjRpcFit fit;
            ASSERT_EQ(product->GetRpc(band, &fit), ALOSJ_RPC_OK);
            EXPECT_TRUE(fit.offered);
            EXPECT_EQ(fit.sensorStatus, ALOSJ_SENSOR_OK);
            EXPECT_LE(fit.rmsResidual, 0.01);
            EXPECT_LE(fit.maxResidual, 0.05);
            EXPECT_GE(fit.checkPoints, 500);
            const CeosAlosjRpc& rpc = fit.rpc;
            EXPECT_EQ(rpc.lineDenominator[0], 1.0);
            EXPECT_EQ(rpc.sampleDenominator[0], 1.0);
            EXPECT_EQ(rpc.heightOffset, 4250.0);
            EXPECT_EQ(rpc.heightScale, 4750.0);
            EXPECT_LT(rpc.minLatitude, rpc.maxLatitude);
            EXPECT_LT(rpc.minLongitude, rpc.maxLongitude);

            // Random ground points of the scene between -500 and 9000 m,
            // where the line-of-sight model's inverse puts them.
            std::uniform_real_distribution<double> u(0.0, 1.0);
            double most = 0;
            for (int i = 0; i < 100; ++i) {
                const double h = -500 + 9500 * u(random);
                double latitude = 0, longitude = 0, pixel = 0, line = 0;
                ASSERT_EQ(product->PixelHeightToLatLon(band, width * u(random), height * u(random), h, &latitude,
                                                       &longitude),
                          ALOSJ_SENSOR_OK);
                ASSERT_EQ(product->LatLonHeightToPixel(band, latitude, longitude, h, &pixel, &line),
                          ALOSJ_SENSOR_OK);
                const double P = (latitude - rpc.latitudeOffset) / rpc.latitudeScale;
                const double L = (longitude - rpc.longitudeOffset) / rpc.longitudeScale;
                const double H = (h - rpc.heightOffset) / rpc.heightScale;
                // RPC (0, 0) is the first pixel's centre, the library's (0.5, 0.5).
                const double rpcLine = Ratio(rpc.lineNumerator, rpc.lineDenominator, P, L, H) * rpc.lineScale +
                                       rpc.lineOffset + 0.5;
                const double rpcSample =
                    Ratio(rpc.sampleNumerator, rpc.sampleDenominator, P, L, H) * rpc.sampleScale +
                    rpc.sampleOffset + 0.5;
                most = std::max(most, std::hypot(rpcLine - line, rpcSample - pixel));
            }
            if (std::getenv("ALOSJ_TEST_SHOW_RPC"))
                std::printf("%s band %d: RMS %.2e max %.2e over %ld check points; random points max %.2e\n",
                            kind.name, band + 1, fit.rmsResidual, fit.maxResidual, fit.checkPoints, most);
            EXPECT_LE(most, 0.05);
        }
        // A DEM's height range of the caller's: a fit of its own, kept apart.
        CeosAlosjRpcFit low, standard;
        ASSERT_EQ(product->GetRpc(0, 0.0, 3000.0, &low), ALOSJ_RPC_OK);
        ASSERT_EQ(product->GetRpc(0, &standard), ALOSJ_RPC_OK);
        EXPECT_EQ(low.rpc.heightOffset, 1500.0);
        EXPECT_EQ(standard.rpc.heightOffset, 4250.0);
        EXPECT_LE(low.maxResidual, 0.05);
        EXPECT_EQ(product->GetRpc(0, 3000.0, 0.0, &low), ALOSJ_RPC_BAD_REQUEST);
        EXPECT_EQ(product->GetRpc(product->GetNumOfLayers(), &low), ALOSJ_RPC_BAD_REQUEST);
        EXPECT_TRUE(reports.reports().empty()) << reports.Summary().front();
    }
}

TEST(Rpc, NoneIsOfferedWhenTheOrbitFailsItsCheckOrTheRatioCannotFollow) {
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    // State vectors 5000 km up: the altitude check fails, and says so.
    ProductRecipe high = scene.Product();
    ChangeOrbit(high, 0.0, [](StateVector& v) {
        const double r = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z), k = (r - 691650 + 5000e3) / r;
        v.x *= k, v.y *= k, v.z *= k;
    });
    {
        const WrittenProduct written(high);
        ReportCapture reports;
        auto product = OpenAndRead(written.files.volume);
        CeosAlosjRpcFit fit;
        EXPECT_EQ(product->GetRpc(0, &fit), ALOSJ_RPC_NO_SENSOR_MODEL);
        EXPECT_FALSE(fit.offered);
        EXPECT_EQ(fit.sensorStatus, ALOSJ_SENSOR_ALTITUDE_CHECK);
        const std::vector<std::string> reported = reports.Summary();
        ASSERT_FALSE(reported.empty());
        EXPECT_NE(reported.back().find("no RPC model"), std::string::npos) << reported.back();
        EXPECT_NE(reported.back().find("altitude check"), std::string::npos) << reported.back();
    }
    // The second CCD's polynomials place its strip 0.0002 degrees (about
    // 22 m, 9 pixels) north of its neighbours': no smooth ratio follows the
    // step at its seams, so the fit is refused with its residuals.
    ProductRecipe stepped = scene.Product();
    stepped.leader.coefficientSets[static_cast<size_t>(4 * (stepped.designators.at(1) - 1))][0] += 0.0002;
    const WrittenProduct written(stepped);
    ReportCapture reports;
    auto product = OpenAndRead(written.files.volume);
    CeosAlosjRpcFit fit;
    EXPECT_EQ(product->GetRpc(0, &fit), ALOSJ_RPC_NOT_CLOSE);
    EXPECT_FALSE(fit.offered);
    EXPECT_GT(fit.maxResidual, CEOSALOSJ_RPC_MOST_RESIDUAL);
    EXPECT_LT(fit.maxResidual, 20.0);
    const std::vector<std::string> reported = reports.Summary();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("pixel off the line-of-sight model"), std::string::npos) << reported[0];
    // Kept: asked again, the same answer and no second warning.
    CeosAlosjRpcFit again;
    EXPECT_EQ(product->GetRpc(0, &again), ALOSJ_RPC_NOT_CLOSE);
    EXPECT_EQ(again.maxResidual, fit.maxResidual);
    EXPECT_EQ(reports.Summary().size(), 1u);
}

// A forward view whose second CCD images each row 44 ms after the others:
// the stitched raster's rows jump some 119 lines at that CCD's seams, which
// no one ratio follows, and the warning says that each CCD opened alone has
// its own model.  Each CCD opened alone is fitted within a hundredth of a
// pixel, at its own times: its line of sight is the stitched raster's at
// the same column.
TEST(Rpc, EachCcdOpenedAloneHasItsOwnWhereTheStitchedRasterHasNone) {
    SampleOptions options{Sensor::Prism, 1, SampleSize::Tiny};
    options.view = View::Forward;
    options.place = Place::Volcano;
    options.laterCcd = 1;
    options.laterCcdMicroseconds = 44000;
    const OpenedSample sample(options);
    CeosAlosjDataset& stitched = *sample.product;
    CeosAlosjRpcFit fit;
    EXPECT_EQ(stitched.GetRpc(0, &fit), ALOSJ_RPC_NOT_CLOSE);
    EXPECT_GT(fit.maxResidual, 10.0);
    const std::vector<std::string> reported = sample.reports.Summary();
    ASSERT_EQ(reported.size(), 1u);
    const long files = stitched.GetImgFileCount();
    EXPECT_NE(reported[0].find("joins " + std::to_string(files) + " CCD image files, and each opened alone"),
              std::string::npos)
        << reported[0];

    CeosAlosjColumnRange ranges[8];
    ASSERT_EQ(stitched.GetColumnRanges(0, ranges, 8), files);
    for (int k : {0, 1, static_cast<int>(files) - 1}) {
        const long ccd = stitched.GetMinCcdNumber() + k;
        SCOPED_TRACE("CCD " + std::to_string(ccd));
        ReportCapture reports;
        auto alone = OpenAndRead(sample.files.volume, ccd);
        CeosAlosjRpcFit own;
        EXPECT_EQ(alone->GetRpc(0, &own), ALOSJ_RPC_OK);
        EXPECT_LT(own.maxResidual, 0.01);
        // Column c of the stitched raster is column c - first + skipped of
        // the file alone (the files after the first skip their overlap there).
        const double stitchedColumn = ranges[k].firstColumn + ranges[k].columnCount / 2 + 0.5;
        const double aloneColumn = stitchedColumn - ranges[k].firstColumn + (k > 0 ? CeosAlosjDataset::OVERLAPWIDTH : 0);
        CeosAlosjLineOfSight a, b;
        ASSERT_EQ(stitched.GetLineOfSight(0, stitchedColumn, 20.5, &a), ALOSJ_SENSOR_OK);
        ASSERT_EQ(alone->GetLineOfSight(0, aloneColumn, 20.5, &b), ALOSJ_SENSOR_OK);
        EXPECT_NEAR(a.secondsOfSceneDate, b.secondsOfSceneDate, 1e-9);
        EXPECT_NEAR(a.latitude, b.latitude, 1e-9);
        EXPECT_NEAR(a.longitude, b.longitude, 1e-9);
        EXPECT_TRUE(reports.reports().empty()) << reports.Summary().front();
    }
}
