// The line-of-sight model, in the library alone (so also in the Windows
// build), on the writer's sample scenes: at the polynomials' height it is
// the polynomials, at any height the point lies on the satellite's ray and
// the inverse finds its position again; the sample's orbit passes the
// checks, the supplemental file's Earth-fixed block is chosen by its title,
// and a damaged orbit answers with the check it failed while the
// polynomials still answer.
#include <gtest/gtest.h>

#include <cmath>

#include "DatasetTestSupport.h"
#include "tools/writer/SampleScene.h"

using namespace ceoswriter;
using namespace testing_support;

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

/// GRS80 latitude, longitude, height to Earth-fixed metres.
void EarthFixed(double latitude, double longitude, double height, double p[3]) {
    const double a = 6378137.0, f = 1.0 / 298.257222101, e2 = f * (2 - f);
    const double phi = latitude * kDeg, lambda = longitude * kDeg;
    const double n = a / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
    p[0] = (n + height) * std::cos(phi) * std::cos(lambda);
    p[1] = (n + height) * std::cos(phi) * std::sin(lambda);
    p[2] = (n * (1 - e2) + height) * std::sin(phi);
}

/// Distance of point p from the line through s along the unit vector u.
double FromLine(const double s[3], const double u[3], const double p[3]) {
    const double d[3] = {p[0] - s[0], p[1] - s[1], p[2] - s[2]};
    return std::sqrt(std::pow(d[1] * u[2] - d[2] * u[1], 2) + std::pow(d[2] * u[0] - d[0] * u[2], 2) +
                     std::pow(d[0] * u[1] - d[1] * u[0], 2));
}

}  // namespace

TEST(SensorModel, PointsAtEveryHeightLieOnTheSatellitesRayAndTheInverseFindsThemAgain) {
    const SampleOptions kinds[] = {{Sensor::Prism, 1, SampleSize::Tiny},
                                   {Sensor::Prism, 0, SampleSize::Tiny},
                                   {Sensor::Avnir2, 1, SampleSize::Tiny},
                                   {Sensor::Avnir2, 2, SampleSize::Tiny}};
    for (const SampleOptions& kind : kinds) {
        SCOPED_TRACE(std::string(kind.sensor == Sensor::Prism ? "PRISM" : "AVNIR-2") + " level " +
                     std::to_string(kind.level));
        const SampleScene scene(kind);
        TempDir dir;
        const ProductFiles files = WriteProduct(dir.path(), scene.Product());
        ReportCapture reports;
        auto product = OpenAndRead(files.volume);
        const double width = product->GetSceneWidth(), height = product->GetSceneHeight();
        for (int band = 0; band < product->GetNumOfLayers(); band += 3) {
            // The sample is a nadir view from 691.65 km: over the raster's
            // centre the satellite looks straight down, at the time the
            // scene header gives (13 October 2006, 01:45:12.345).
            CeosAlosjLineOfSight centre;
            ASSERT_EQ(product->GetLineOfSight(band, width / 2, height / 2, &centre), ALOSJ_SENSOR_OK);
            EXPECT_NEAR(centre.satelliteHeight, 691650, 50);
            EXPECT_LT(centre.lookAngle, 0.01);
            EXPECT_EQ(centre.time.year * 10000 + centre.time.month * 100 + centre.time.day, 20061013);
            EXPECT_NEAR(centre.secondsOfSceneDate, 6312.345, 0.001);
            const double speed = std::sqrt(centre.velocity[0] * centre.velocity[0] +
                                           centre.velocity[1] * centre.velocity[1] +
                                           centre.velocity[2] * centre.velocity[2]);
            EXPECT_NEAR(speed, 7500, 150);
            if (kind.level < 2) {  // a row's time steps by the line period
                CeosAlosjLineOfSight next;
                ASSERT_EQ(product->GetLineOfSight(band, 1.5, height / 2 + 1, &next), ALOSJ_SENSOR_OK);
                EXPECT_NEAR(next.secondsOfSceneDate - centre.secondsOfSceneDate,
                            kind.sensor == Sensor::Prism ? 370e-6 : 1480e-6, 1e-7);
            }
            for (double x : {0.5, width / 3, width - 0.5})
                for (double y : {0.5, height * 0.6, height - 0.5}) {
                    double latitude0, longitude0, latitude, longitude;
                    ASSERT_EQ(product->PixelToLatLon(band, x, y, &latitude0, &longitude0), ALOSJ_LOCATE_OK);
                    ASSERT_EQ(product->PixelHeightToLatLon(band, x, y, 0.0, &latitude, &longitude),
                              ALOSJ_SENSOR_OK);
                    EXPECT_NEAR(latitude, latitude0, 1e-9) << x << " " << y;
                    EXPECT_NEAR(longitude, longitude0, 1e-9) << x << " " << y;
                    CeosAlosjLineOfSight sight;
                    ASSERT_EQ(product->GetLineOfSight(band, x, y, &sight), ALOSJ_SENSOR_OK);
                    EXPECT_NEAR(sight.latitude, latitude0, 1e-9);
                    for (double h : {-500.0, 3000.0, 9000.0, 0.0}) {
                        ASSERT_EQ(product->PixelHeightToLatLon(band, x, y, h, &latitude, &longitude),
                                  ALOSJ_SENSOR_OK);
                        double point[3];
                        EarthFixed(latitude, longitude, h, point);
                        EXPECT_LT(FromLine(sight.position, sight.look, point), 0.005) << x << " " << y << " " << h;
                        double pixel = -1, line = -1;
                        ASSERT_EQ(product->LatLonHeightToPixel(band, latitude, longitude, h, &pixel, &line),
                                  ALOSJ_SENSOR_OK)
                            << x << " " << y << " " << h;
                        EXPECT_NEAR(pixel, x, 0.001) << y << " " << h;
                        EXPECT_NEAR(line, y, 0.001) << x << " " << h;
                        // Read at height 0, a point 3 km up is somewhere else.
                        if (h == 3000.0 && kind.level < 2) {
                            ASSERT_EQ(product->LatLonToPixel(band, latitude, longitude, &pixel, &line),
                                      ALOSJ_LOCATE_OK);
                            EXPECT_GT(std::hypot(pixel - x, line - y), 0.001);
                        }
                    }
                }
        }
        EXPECT_TRUE(reports.reports().empty()) << reports.Summary().front();
    }
}

TEST(SensorModel, TheOrbitComesFromTheEarthFixedBlockAndADamagedOneFailsItsCheckOnly) {
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    auto satelliteOf = [](const ProductRecipe& recipe, CeosAlosjSensorStatus& status, double position[3],
                          std::vector<std::string>* reported = nullptr) {
        TempDir dir;
        const ProductFiles files = WriteProduct(dir.path(), recipe);
        ReportCapture reports;
        auto product = OpenAndRead(files.volume);
        CeosAlosjLineOfSight sight;
        status = product->GetLineOfSight(0, 10.5, 5.5, &sight);
        for (int i = 0; i < 3; ++i) position[i] = sight.position[i];
        double latitude = 0, longitude = 0, pixel = 0, line = 0;
        // Whatever the orbit, the polynomials answer.
        EXPECT_EQ(product->PixelToLatLon(0, 10.5, 5.5, &latitude, &longitude), ALOSJ_LOCATE_OK);
        EXPECT_EQ(product->LatLonToPixel(0, latitude, longitude, &pixel, &line), ALOSJ_LOCATE_OK);
        if (status != ALOSJ_SENSOR_OK) {
            EXPECT_EQ(product->PixelHeightToLatLon(0, 10.5, 5.5, 100, &latitude, &longitude), status);
            EXPECT_EQ(product->LatLonHeightToPixel(0, latitude, longitude, 100, &pixel, &line), status);
        }
        if (reported) *reported = reports.Summary();
    };
    CeosAlosjSensorStatus status;
    double fromLeader[3], position[3];
    satelliteOf(scene.Product(), status, fromLeader);
    ASSERT_EQ(status, ALOSJ_SENSOR_OK);

    // The supplemental file's blocks, a kilometre off the leader's orbit:
    // used when a title names the Earth-fixed frame, not when it names an
    // inertial one or none.
    for (const char* title : {"PRISM ORBIT DATA (EARTH FIXED)", "PRISM ORBIT DATA (INERTIAL)", "ORBIT ITRF97"}) {
        ProductRecipe recipe = scene.Product();
        recipe.supplemental.secondBlock.title = title;
        for (StateVectorLine& l : recipe.supplemental.secondBlock.lines) l.values[0] += 1.0;  // kilometres
        satelliteOf(recipe, status, position);
        ASSERT_EQ(status, ALOSJ_SENSOR_OK) << title;
        const bool inertial = std::string(title).find("INERTIAL") != std::string::npos;
        EXPECT_NEAR(position[0] - fromLeader[0], inertial ? 0.0 : 1000.0, 0.01) << title;
        EXPECT_NEAR(position[1] - fromLeader[1], 0.0, 0.01) << title;
    }

    // State vectors 5000 km up: the altitude check names itself.
    ProductRecipe high = scene.Product();
    for (StateVector& v : high.leader.dataPoints) {
        const double r = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z), k = (r - 691650 + 5000e3) / r;
        v.x *= k, v.y *= k, v.z *= k;
    }
    std::vector<std::string> reported;
    satelliteOf(high, status, position, &reported);
    EXPECT_EQ(status, ALOSJ_SENSOR_ALTITUDE_CHECK);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("600 to 800 km"), std::string::npos) << reported[0];

    // State vectors 100 km to the side: the look angle's.
    ProductRecipe aside = scene.Product();
    double latitude = 0, longitude = 0;
    scene.PixelToGeographic(10, 5, latitude, longitude);
    for (StateVector& v : aside.leader.dataPoints) {
        v.x += -std::sin(longitude * kDeg) * 100e3;
        v.y += std::cos(longitude * kDeg) * 100e3;
    }
    satelliteOf(aside, status, position);
    EXPECT_EQ(status, ALOSJ_SENSOR_LOOK_ANGLE_CHECK);
}

// The sample's nadir geometry labelled a forward view fails the look check;
// with its orbit 45.5 s later (the satellite about 308 km back along its
// track) it is a forward view: it looks 23.8 degrees ahead and a point 3 km
// up shows 3 km × tan(incidence) ≈ 1.5 km further on.  At Level 1B2 the
// point is seen when the satellite looks at it 23.8 degrees ahead, wherever
// the orbit puts that time.
TEST(SensorModel, ForwardViewsLookAheadAndTheirParallaxFollowsTheirAngle) {
    for (int level : {1, 2}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const SampleScene scene({Sensor::Prism, level, SampleSize::Tiny});
        ProductRecipe recipe = scene.Product();
        recipe.observationMode = 'F';
        const double centreTime = 6312.345;
        for (double later : {0.0, 45.5}) {
            recipe.leader.firstPointSecondOfDay = scene.Product().leader.firstPointSecondOfDay + later;
            TempDir dir;
            const ProductFiles files = WriteProduct(dir.path(), recipe);
            auto product = OpenAndRead(files.volume);
            ASSERT_EQ(product->GetObservationMode(), MISSION_F);
            const double x = product->GetSceneWidth() / 2.0, y = product->GetSceneHeight() / 2.0;
            CeosAlosjLineOfSight sight;
            const CeosAlosjSensorStatus status = product->GetLineOfSight(0, x, y, &sight);
            if (later == 0.0 && level == 1) {
                EXPECT_EQ(status, ALOSJ_SENSOR_LOOK_ANGLE_CHECK);
                continue;
            }
            ASSERT_EQ(status, ALOSJ_SENSOR_OK);
            // Level 1B2: the satellite looks at the point 23.8 degrees ahead
            // when it is about 308 km back, whenever that is.
            if (level == 2) {
                EXPECT_NEAR(sight.secondsOfSceneDate, centreTime - 45.5 + later, 0.7);
            }
            EXPECT_NEAR(sight.lookAngle, 23.8, 0.3);
            // Ahead: the look has the velocity's direction.
            const double ahead = sight.look[0] * sight.velocity[0] + sight.look[1] * sight.velocity[1] +
                                 sight.look[2] * sight.velocity[2];
            EXPECT_GT(ahead, 0.0);
            double latitude0, longitude0, latitude, longitude, p0[3], p[3];
            ASSERT_EQ(product->PixelHeightToLatLon(0, x, y, 0.0, &latitude0, &longitude0), ALOSJ_SENSOR_OK);
            ASSERT_EQ(product->PixelHeightToLatLon(0, x, y, 3000.0, &latitude, &longitude), ALOSJ_SENSOR_OK);
            EarthFixed(latitude0, longitude0, 0.0, p0);
            EarthFixed(latitude, longitude, 0.0, p);
            // The ground under the point 3 km up lies 3 km × tan(incidence)
            // towards the satellite: the incidence at the ground is the look
            // angle and the Earth's curvature between, about 26.6 degrees.
            const double shift = std::sqrt(std::pow(p[0] - p0[0], 2) + std::pow(p[1] - p0[1], 2) +
                                           std::pow(p[2] - p0[2], 2));
            const double up[3] = {std::cos(latitude0 * kDeg) * std::cos(longitude0 * kDeg),
                                  std::cos(latitude0 * kDeg) * std::sin(longitude0 * kDeg), std::sin(latitude0 * kDeg)};
            const double incidence = std::acos(-(sight.look[0] * up[0] + sight.look[1] * up[1] + sight.look[2] * up[2]));
            EXPECT_NEAR(incidence / kDeg, 26.6, 0.5);
            EXPECT_NEAR(shift, 3000.0 * std::tan(incidence), 3.0);
            double pixel = 0, line = 0;
            ASSERT_EQ(product->LatLonHeightToPixel(0, latitude, longitude, 3000.0, &pixel, &line), ALOSJ_SENSOR_OK);
            EXPECT_NEAR(pixel, x, 0.001);
            EXPECT_NEAR(line, y, 0.001);
        }
    }
}
