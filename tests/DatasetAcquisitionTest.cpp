// The acquisition a product's scene header tells: sun, date and times, orbit
// and pointing, as GetAcquisition gives them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "DatasetTestSupport.h"

using namespace ceoswriter;
using namespace testing_support;

namespace {

CeosAlosjAcquisition AcquisitionOf(const ProductRecipe& recipe) {
    WrittenProduct product(recipe);
    auto dataset = OpenAndRead(product.files.volume);
    CeosAlosjAcquisition acquisition;
    dataset->GetAcquisition(&acquisition);
    dataset->FileClose();
    return acquisition;
}

void ExpectTime(const CeosAlosjUtcTime& t, int year, int month, int day, int hour, int minute, double seconds) {
    ASSERT_TRUE(t.valid);
    EXPECT_EQ(t.year, year);
    EXPECT_EQ(t.month, month);
    EXPECT_EQ(t.day, day);
    EXPECT_EQ(t.hour, hour);
    EXPECT_EQ(t.minute, minute);
    EXPECT_NEAR(t.seconds, seconds, 1e-9);
}

}  // namespace

// The writer's sun against NOAA's solar position algorithm (its spreadsheet
// formulae, computed independently), without refraction.
TEST(SceneHeaderAcquisition, SunOfTheWriterAgreesWithNoaaToATenthOfADegree) {
    struct Case {
        int year, month, day;
        double second, latitude, longitude, elevation, azimuth;
    } cases[] = {
        {2006, 10, 13, 1 * 3600 + 45 * 60 + 12.345, 35.3606, 138.7274, 45.614, 163.502},
        {2008, 1, 10, 14 * 3600, -33.9, 151.2, -34.102, 180.711},
        {2006, 3, 20, 12 * 3600, 0.0, 0.0, 88.124, 93.192},
        {2007, 6, 21, 3 * 3600, 64.5, -20.0, -0.007, 22.451},
    };
    for (const Case& c : cases) {
        double elevation = 0, azimuth = 0;
        SunPosition(c.year, c.month, c.day, c.second, c.latitude, c.longitude, elevation, azimuth);
        EXPECT_NEAR(elevation, c.elevation, 0.1) << c.year << "-" << c.month << "-" << c.day;
        EXPECT_NEAR(azimuth, c.azimuth, 0.1) << c.year << "-" << c.month << "-" << c.day;
    }
}

// A Level 1B1 scene: its date, centre time and the times of its first and
// last lines; orbit, pointing and sun as the scene header keeps them.
TEST(SceneHeaderAcquisition, DateTimesOrbitPointingAndSunOfALevel1B1Scene) {
    ProductRecipe recipe = Avnir2Product(1);
    recipe.image.lines = 21;
    recipe.image.lineIntervalMicroseconds = 1480;
    recipe.image.startMilliseconds = 6311345;  // 01:45:11.345
    recipe.image.startMicroseconds = 250;
    recipe.leader.sceneDate = "13Oct06";
    recipe.leader.sceneCenterTime = "20061013014511360050";
    recipe.leader.offNadirAngle = "-26.000";
    recipe.leader.orbitNumber = 4123;
    recipe.leader.orbitDirection = "A";
    recipe.leader.rspId = "061-2910";
    const CeosAlosjAcquisition a = AcquisitionOf(recipe);

    ExpectTime(a.sceneCenterTime, 2006, 10, 13, 1, 45, 11.36005);
    ExpectTime(a.sceneStartTime, 2006, 10, 13, 1, 45, 11.34525);
    // Twenty lines of 1480 us later.
    ExpectTime(a.sceneEndTime, 2006, 10, 13, 1, 45, 11.34525 + 20 * 0.00148);
    EXPECT_STREQ(a.productLevel, "1B1");
    EXPECT_STREQ(a.sceneId, "ALAV2A038862710");
    EXPECT_STREQ(a.rspId, "061-2910");
    EXPECT_EQ(a.orbitNumber, 4123);
    EXPECT_EQ(a.orbitDirection, 'A');
    EXPECT_EQ(a.offNadirAngle, -26.0);
    EXPECT_STREQ(a.sensorId, "AVNIR-2");
    // The sun the writer put there: computed for the centre, whole degrees.
    double elevation = 0, azimuth = 0;
    SunPosition(2006, 10, 13, 1 * 3600 + 45 * 60 + 11.36, recipe.leader.sceneCenterLatitude,
                recipe.leader.sceneCenterLongitude, elevation, azimuth);
    EXPECT_EQ(a.sunElevation, std::round(elevation));
    EXPECT_EQ(a.sunAzimuth, std::round(azimuth));
    EXPECT_TRUE(a.radiometricallyCorrected);
    EXPECT_EQ(a.bandCount, 4);
    EXPECT_NEAR(a.Radiance(0, 112), 65.856, 1e-9);
    EXPECT_TRUE(std::isnan(a.Radiance(0, 0)));
}

// Level 1B2 lines hold no time: only the centre time is given; its scene ID
// is the 1B2 one.  Level 1A gives its gains but no radiance.
TEST(SceneHeaderAcquisition, Level1B2HasOnlyTheCentreTimeAndLevel1ANoRadiance) {
    ProductRecipe level2 = PrismProduct(2);
    level2.sceneId = "ALPSMB038862715";
    const CeosAlosjAcquisition a = AcquisitionOf(level2);
    EXPECT_TRUE(a.sceneCenterTime.valid);
    EXPECT_FALSE(a.sceneStartTime.valid);
    EXPECT_FALSE(a.sceneEndTime.valid);
    EXPECT_STREQ(a.sceneId, "ALPSMB038862715");
    EXPECT_STREQ(a.productLevel, "1B2");
    EXPECT_NEAR(a.Radiance(0, 66), 35.706, 1e-9);

    const CeosAlosjAcquisition raw = AcquisitionOf(PrismProduct(0));
    EXPECT_STREQ(raw.productLevel, "1A");
    EXPECT_FALSE(raw.radiometricallyCorrected);
    EXPECT_EQ(raw.bands[0].gain, 0.541);
    EXPECT_TRUE(std::isnan(raw.Radiance(0, 66)));
}
