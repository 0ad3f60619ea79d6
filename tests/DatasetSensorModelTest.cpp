// The line-of-sight model, in the library alone (so also in the Windows
// build), on the writer's sample scenes: at the polynomials' height it is
// the polynomials, at any height the point lies on the satellite's ray and
// the inverse finds its position again; the sample's orbit passes the
// checks, the supplemental file's Earth-fixed precision block is chosen by
// what its headings state,
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
        const OpenedSample sample(kind);
        SCOPED_TRACE(sample.Name());
        const ReportCapture& reports = sample.reports;
        CeosAlosjDataset* const product = sample.product.get();
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

TEST(SensorModel, TheOrbitComesFromTheEarthFixedPrecisionBlockAndADamagedOneFailsItsCheckOnly) {
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

    // The supplemental file's blocks, kilometres off the leader's orbit
    // (the precision block 1 km, the predicted one 2 km): a block is used
    // when its title or a heading line states an Earth-fixed frame (the
    // samples state it on their second text line), never when it states an
    // inertial frame or none; the precision block wins over the predicted
    // one wherever each lies, and the leader's record over a predicted block.
    struct Case {
        const char* first;       // title, frame line of the first block
        const char* firstLine;
        const char* second;      // and of the second
        const char* secondLine;
        double expected;         // metres from the leader's orbit along x
        int used;                // block whose orbit the model takes, -1 the leader's
    };
    const char* const kFixed = "COORDINATE SYSTEM: EARTH FIXED (ITRF)";
    const Case cases[] = {
        {"PRISM ORBIT DATA (PREDICTED)", kFixed, "PRISM ORBIT DATA (PRECISION)", kFixed, 1000, 1},
        {"PRISM ORBIT DATA (PRECISION)", kFixed, "PRISM ORBIT DATA (PREDICTED)", kFixed, 1000, 0},
        {"PREDICTED ORBIT (ECR)", "", "PRECISION ORBIT (ECR)", "", 1000, 1},
        {"PRISM ORBIT DATA (PREDICTED)", kFixed, "PRISM ORBIT DATA", "COORDINATE SYSTEM: ECI (J2000)", 0, -1},
        {"PRECISION ORBIT", "", "PRECISION ORBIT", "", 0, -1},
        {"PRECISION ORBIT (TOD)", kFixed, "ORBIT ITRF97", "", 1000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.firstLine + " | " + c.second + " / " + c.secondLine);
        ProductRecipe recipe = scene.Product();
        StateVectorBlockRecipe& first = recipe.supplemental.firstBlock;
        StateVectorBlockRecipe& second = recipe.supplemental.secondBlock;
        first.title = c.first, first.frameLine = c.firstLine;
        second.title = c.second, second.frameLine = c.secondLine;
        // The writer makes the first block the predicted one: the precision
        // orbit with 4 m and -3 m added.  Here each is moved as its title says.
        first.lines = second.lines;
        for (StateVectorBlockRecipe* block : {&first, &second}) {
            const bool predicted = block->title.find("PREDICTED") != std::string::npos;
            for (StateVectorLine& l : block->lines) l.values[0] += predicted ? 2.0 : 1.0;  // kilometres
        }
        satelliteOf(recipe, status, position);
        ASSERT_EQ(status, ALOSJ_SENSOR_OK);
        EXPECT_NEAR(position[0] - fromLeader[0], c.expected, 0.01);
        EXPECT_NEAR(position[1] - fromLeader[1], 0.0, 0.01);

        TempDir dir;
        auto product = OpenAndRead(WriteProduct(dir.path(), recipe).volume);
        for (int k : {0, 1}) {
            CeosAlosjOrbitBlock block;
            ASSERT_TRUE(product->GetOrbitBlock(k, &block));
            EXPECT_EQ(std::string(block.title).substr(0, std::string(k ? c.second : c.first).size()),
                      k ? c.second : c.first);
            EXPECT_EQ(block.stateVectors, 9);
            EXPECT_EQ(block.usedByLineOfSight, k == c.used) << k;
        }
    }
    {
        TempDir dir;
        auto product = OpenAndRead(WriteProduct(dir.path(), scene.Product()).volume);
        CeosAlosjOrbitBlock first, second;
        ASSERT_TRUE(product->GetOrbitBlock(0, &first) && product->GetOrbitBlock(1, &second));
        EXPECT_EQ(first.frame, ALOSJ_ORBIT_FRAME_EARTH_FIXED);
        EXPECT_EQ(first.kind, ALOSJ_ORBIT_KIND_PREDICTED);
        EXPECT_EQ(second.kind, ALOSJ_ORBIT_KIND_PRECISION);
        EXPECT_FALSE(product->GetOrbitBlock(2, &second));
    }

    // State vectors 5000 km up: the altitude check names itself.
    ProductRecipe high = scene.Product();
    ChangeOrbit(high, 0.0, [](StateVector& v) {
        const double r = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z), k = (r - 691650 + 5000e3) / r;
        v.x *= k, v.y *= k, v.z *= k;
    });
    std::vector<std::string> reported;
    satelliteOf(high, status, position, &reported);
    EXPECT_EQ(status, ALOSJ_SENSOR_ALTITUDE_CHECK);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("600 to 800 km"), std::string::npos) << reported[0];

    // State vectors 100 km to the side: the look angle's.
    ProductRecipe aside = scene.Product();
    double latitude = 0, longitude = 0;
    scene.PixelToGeographic(10, 5, latitude, longitude);
    ChangeOrbit(aside, 0.0, [&](StateVector& v) {
        v.x += -std::sin(longitude * kDeg) * 100e3;
        v.y += std::cos(longitude * kDeg) * 100e3;
    });
    satelliteOf(aside, status, position);
    EXPECT_EQ(status, ALOSJ_SENSOR_LOOK_ANGLE_CHECK);

    // The ray check's: a nadir view whose orbit is 2.5 s late (the
    // satellite 19 km back, its rays 1.6 degrees ahead, within the look
    // check's 2); a forward view labelled backward (23.8 degrees from nadir
    // as a backward view looks, but ahead).
    ProductRecipe late = scene.Product();
    ChangeOrbit(late, 2.5);
    satelliteOf(late, status, position, &reported);
    EXPECT_EQ(status, ALOSJ_SENSOR_RAY_CHECK);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("along the track"), std::string::npos) << reported[0];
    SampleOptions forward{Sensor::Prism, 1, SampleSize::Tiny};
    forward.view = View::Forward;
    ProductRecipe mislabelled = SampleScene(forward).Product();
    satelliteOf(mislabelled, status, position);
    EXPECT_EQ(status, ALOSJ_SENSOR_OK);
    mislabelled.observationMode = 'B';
    satelliteOf(mislabelled, status, position);
    EXPECT_EQ(status, ALOSJ_SENSOR_RAY_CHECK);
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
            ProductRecipe moved = recipe;
            ChangeOrbit(moved, later);
            TempDir dir;
            const ProductFiles files = WriteProduct(dir.path(), moved);
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

namespace {

/// Metres between two points given by latitude, longitude and height.
double Apart(double latitude0, double longitude0, double height0, double latitude1, double longitude1,
             double height1) {
    double p[3], q[3];
    EarthFixed(latitude0, longitude0, height0, p);
    EarthFixed(latitude1, longitude1, height1, q);
    return std::sqrt(std::pow(p[0] - q[0], 2) + std::pow(p[1] - q[1], 2) + std::pow(p[2] - q[2], 2));
}

SampleOptions VolcanoView(View view, SampleSize size = SampleSize::Tiny) {
    SampleOptions options{Sensor::Prism, 1, size};
    options.view = view;
    options.place = Place::Volcano;
    return options;
}

}  // namespace

// A forward view rendered over the volcano, in sensor geometry and
// geocoded on the ellipsoid: read at the height of the
// terrain the writer traced each pixel's ray onto, the line-of-sight model
// finds the ground point the pixel shows, the summit among them; the
// polynomials alone (height 0) put the summit where its ray meets the
// ellipsoid, its parallax of about 3.9 km × tan(26.6°) away.
TEST(SensorModel, AForwardViewOverReliefPlacesEachPixelOnTheGroundItShows) {
    // The small scenes show the summit (over the volcano) and the plain a
    // few metres above the sea, some 40 m above the ellipsoid (at the coast).
    const GroundPoint summit = SampleScene::Summit(), plain = SampleScene::PlainPoint();
    ASSERT_GT(summit.height, 3500.0);
    EXPECT_NEAR(plain.height - SampleScene::GeoidUndulation(plain.latitude, plain.longitude), 10.0, 5.0);
    for (const auto& [options, landmark] : {std::pair{VolcanoView(View::Forward, SampleSize::Small), summit},
                                           std::pair{SampleOptions{Sensor::Prism, 1, SampleSize::Small}, plain}}) {
        const SampleScene small(options);
        double column, row;
        ASSERT_TRUE(small.GroundToPixel(landmark.latitude, landmark.longitude, landmark.height, column, row));
        EXPECT_TRUE(column > 0 && column < small.Width() - 1 && row > 0 && row < small.Height() - 1);
        const GroundPoint shown = small.PixelGround(column, row);
        EXPECT_LT(Apart(shown.latitude, shown.longitude, shown.height, landmark.latitude, landmark.longitude,
                        landmark.height),
                  0.05);
    }
    for (int level : {1, 2}) {
        SCOPED_TRACE("level " + std::to_string(level));
        SampleOptions options = VolcanoView(View::Forward);
        options.level = level;
        const OpenedSample sample(options);
        const SampleScene& scene = sample.scene;
        const ReportCapture& reports = sample.reports;
        CeosAlosjDataset* const product = sample.product.get();
        ASSERT_EQ(product->GetObservationMode(), MISSION_F);
        double summitColumn, summitRow;
        ASSERT_TRUE(scene.GroundToPixel(summit.latitude, summit.longitude, summit.height, summitColumn, summitRow));
        ASSERT_TRUE(summitColumn > 0 && summitColumn < scene.Width() - 1 && summitRow > 0 &&
                    summitRow < scene.Height() - 1);
        // The writer's truth agrees with itself: that pixel shows the summit.
        const GroundPoint shown = scene.PixelGround(summitColumn, summitRow);
        EXPECT_LT(
            Apart(shown.latitude, shown.longitude, shown.height, summit.latitude, summit.longitude, summit.height),
            0.05);

        const double width = scene.Width(), height = scene.Height();
        const std::pair<double, double> pixels[] = {{summitColumn, summitRow}, {0, 0}, {width - 1, height - 1},
                                                    {width / 3, height * 0.7}, {width * 0.8, 3}};
        for (const auto& [column, row] : pixels) {
            const GroundPoint truth = scene.PixelGround(column, row);
            double latitude, longitude;
            ASSERT_EQ(product->PixelHeightToLatLon(0, column + 0.5, row + 0.5, truth.height, &latitude, &longitude),
                      ALOSJ_SENSOR_OK);
            // A twentieth of a 2.5 m pixel.
            EXPECT_LT(Apart(latitude, longitude, truth.height, truth.latitude, truth.longitude, truth.height), 0.125)
                << column << " " << row << " at " << truth.height << " m";
            double pixel, line;
            ASSERT_EQ(product->LatLonHeightToPixel(0, truth.latitude, truth.longitude, truth.height, &pixel, &line),
                      ALOSJ_SENSOR_OK);
            EXPECT_NEAR(pixel, column + 0.5, 0.05) << row;
            EXPECT_NEAR(line, row + 0.5, 0.05) << column;
        }

        // Height-blind, the summit's pixel lies where its ray meets the ellipsoid.
        CeosAlosjLineOfSight sight;
        ASSERT_EQ(product->GetLineOfSight(0, summitColumn + 0.5, summitRow + 0.5, &sight), ALOSJ_SENSOR_OK);
        EXPECT_NEAR(sight.lookAngle, 23.8, 0.1);
        double latitude0, longitude0;
        ASSERT_EQ(product->PixelToLatLon(0, summitColumn + 0.5, summitRow + 0.5, &latitude0, &longitude0),
                  ALOSJ_LOCATE_OK);
        const double up[3] = {std::cos(latitude0 * kDeg) * std::cos(longitude0 * kDeg),
                              std::cos(latitude0 * kDeg) * std::sin(longitude0 * kDeg), std::sin(latitude0 * kDeg)};
        const double incidence = std::acos(-(sight.look[0] * up[0] + sight.look[1] * up[1] + sight.look[2] * up[2]));
        const double parallax = Apart(latitude0, longitude0, 0.0, summit.latitude, summit.longitude, 0.0);
        EXPECT_GT(parallax, 1500.0);
        EXPECT_NEAR(parallax, summit.height * std::tan(incidence), 0.01 * parallax);
        EXPECT_TRUE(reports.reports().empty()) << reports.Summary().front();
    }
}

// The forward and backward views of one orbit see the summit: their rays
// through the pixels showing it meet there, within 2 m.
TEST(SensorModel, ForwardAndBackwardRaysOfTheSummitMeetAtIt) {
    const GroundPoint summit = SampleScene::Summit();
    double summitPoint[3];
    EarthFixed(summit.latitude, summit.longitude, summit.height, summitPoint);
    CeosAlosjLineOfSight sights[2];
    int k = 0;
    for (View view : {View::Forward, View::Backward}) {
        const OpenedSample sample(VolcanoView(view));
        const SampleScene& scene = sample.scene;
        CeosAlosjDataset* const product = sample.product.get();
        double column, row, satellite[3];
        ASSERT_TRUE(scene.GroundToPixel(summit.latitude, summit.longitude, summit.height, column, row));
        ASSERT_EQ(product->GetLineOfSight(0, column + 0.5, row + 0.5, &sights[k]), ALOSJ_SENSOR_OK);
        // The orbit's state vectors give the satellite where it was.
        scene.SatelliteAt(column, row, satellite);
        EXPECT_LT(std::sqrt(std::pow(sights[k].position[0] - satellite[0], 2) +
                            std::pow(sights[k].position[1] - satellite[1], 2) +
                            std::pow(sights[k].position[2] - satellite[2], 2)),
                  0.5);
        ++k;
    }
    const CeosAlosjLineOfSight& f = sights[0];
    const CeosAlosjLineOfSight& b = sights[1];
    // Seen about 90 s apart, from about 600 km apart.
    EXPECT_NEAR(b.secondsOfSceneDate - f.secondsOfSceneDate, 90.0, 2.0);
    // The points of closest approach of the two rays.
    const double w[3] = {f.position[0] - b.position[0], f.position[1] - b.position[1], f.position[2] - b.position[2]};
    auto dot = [](const double* x, const double* y) { return x[0] * y[0] + x[1] * y[1] + x[2] * y[2]; };
    const double a = dot(f.look, b.look), d = dot(f.look, w), e = dot(b.look, w);
    const double s = (a * e - d) / (1 - a * a), t = (e - a * d) / (1 - a * a);
    double pf[3], pb[3];
    for (int i = 0; i < 3; ++i) {
        pf[i] = f.position[i] + s * f.look[i];
        pb[i] = b.position[i] + t * b.look[i];
    }
    EXPECT_LT(std::sqrt(std::pow(pf[0] - pb[0], 2) + std::pow(pf[1] - pb[1], 2) + std::pow(pf[2] - pb[2], 2)), 2.0);
    const double middle[3] = {(pf[0] + pb[0]) / 2, (pf[1] + pb[1]) / 2, (pf[2] + pb[2]) / 2};
    EXPECT_LT(std::sqrt(std::pow(middle[0] - summitPoint[0], 2) + std::pow(middle[1] - summitPoint[1], 2) +
                        std::pow(middle[2] - summitPoint[2], 2)),
              2.0);
}

// A forward view whose second CCD images each row 44 ms after the others
// (its image records' time tags say so, and the writer renders it so): a
// position in that CCD is seen at its own line's time, read here from the
// record's tag (bytes 21-24 milliseconds, 25-26 microseconds of the day),
// and placed at any height where the writer's geometry puts it; the first
// CCD keeps its own.  With the first CCD's times for every column the
// point 8000 m up would be some 4 m off.
TEST(SensorModel, EachCcdIsSeenAtItsOwnLinesTimes) {
    SampleOptions options = VolcanoView(View::Forward);
    options.laterCcd = 1;
    options.laterCcdMicroseconds = 44000;
    const OpenedSample sample(options);
    const SampleScene& scene = sample.scene;
    CeosAlosjDataset* const product = sample.product.get();
    CeosAlosjColumnRange ranges[8];
    const long count = product->GetColumnRanges(0, ranges, 8);
    ASSERT_GE(count, 3);
    const double row = 30;
    double seen[2] = {};
    for (int k : {0, 1}) {
        SCOPED_TRACE("CCD file " + std::to_string(k));
        const CeosAlosjColumnRange& range = ranges[k];
        const double column = range.firstColumn + range.columnCount / 2;
        // The tag of the line, from the bytes of the file that holds the column.
        const std::vector<unsigned char> bytes = ReadFileBytes(product->GetImageFileName(range.file));
        const size_t recordLength = static_cast<size_t>(bytes[8]) << 24 | static_cast<size_t>(bytes[9]) << 16 |
                                    static_cast<size_t>(bytes[10]) << 8 | bytes[11];
        const unsigned char* record = bytes.data() + recordLength * (static_cast<size_t>(row) + 1);
        const double milliseconds = record[20] * 16777216.0 + record[21] * 65536.0 + record[22] * 256.0 + record[23];
        const double tag = (milliseconds + (record[24] * 256 + record[25]) / 1000.0) / 1000.0;
        CeosAlosjLineOfSight sight;
        ASSERT_EQ(product->GetLineOfSight(0, column + 0.5, row + 0.5, &sight), ALOSJ_SENSOR_OK);
        EXPECT_NEAR(sight.secondsOfSceneDate, tag, 1e-6);
        seen[k] = tag;
        double satellite[3];
        scene.SatelliteAt(column, row, satellite);
        const double off[3] = {sight.position[0] - satellite[0], sight.position[1] - satellite[1],
                               sight.position[2] - satellite[2]};
        EXPECT_LT(std::sqrt(off[0] * off[0] + off[1] * off[1] + off[2] * off[2]), 0.5);
        // On the ground the pixel shows, and far above it.
        const GroundPoint truth = scene.PixelGround(column, row);
        for (double h : {truth.height, 8000.0}) {
            double latitude, longitude;
            ASSERT_EQ(product->PixelHeightToLatLon(0, column + 0.5, row + 0.5, h, &latitude, &longitude),
                      ALOSJ_SENSOR_OK);
            double trueColumn, trueRow;
            ASSERT_TRUE(scene.GroundToPixel(latitude, longitude, h, trueColumn, trueRow));
            // A twentieth of a pixel (2.5 m): 12 cm.
            EXPECT_NEAR(trueColumn, column, 0.05) << h;
            EXPECT_NEAR(trueRow, row, 0.05) << h;
            if (h == truth.height) {
                EXPECT_LT(Apart(latitude, longitude, h, truth.latitude, truth.longitude, h), 0.125);
            }
            double pixel, line;
            ASSERT_EQ(product->LatLonHeightToPixel(0, latitude, longitude, h, &pixel, &line), ALOSJ_SENSOR_OK);
            EXPECT_NEAR(pixel, column + 0.5, 0.001) << h;
            EXPECT_NEAR(line, row + 0.5, 0.001) << h;
        }
    }
    EXPECT_NEAR(seen[1] - seen[0], 0.044, 1e-6);
    EXPECT_TRUE(sample.reports.reports().empty()) << sample.reports.Summary().front();
}
