// alosj sensor-model: the JSON carries the PRISM 1B1 exports' values.
#include <gtest/gtest.h>

#include <cstdio>

#include <nlohmann/json.hpp>

#include "CliSupport.h"

using cli_support::OpenedProduct;
using cli_support::RunAlosj;
using cli_support::WriteProductIn;
using nlohmann::json;

namespace {

/// ISO 8601 of a date yyyymmdd and a clock time hhmmss.ffffff as the
/// supplemental file writes them.
std::string Iso(int32_t date, double clock) {
    const int hour = static_cast<int>(clock / 10000), minute = static_cast<int>(clock / 100) % 100;
    const double seconds = clock - hour * 10000 - minute * 100;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%09.6fZ", date / 10000, date / 100 % 100, date % 100,
                  hour, minute, seconds);
    return text;
}

json SensorModel(const std::string& product) {
    const cli_support::RunResult run = RunAlosj({"sensor-model", product, "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    return json::parse(run.out, nullptr, false);
}

}  // namespace

TEST(CliSensorModel, JsonCarriesTheSceneExportValues) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1);
    recipe.leader.sceneCenterTime = "20061013014512345678";
    recipe.leader.sunAngles = "RSP   123  456";
    const auto files = WriteProductIn(dir, "p", recipe);
    const json model = SensorModel(files.volume);
    ASSERT_TRUE(model.is_object());

    OpenedProduct product(files.volume);
    AlosjDateTime start{}, centre{};
    double coefficients[8][40] = {};
    Tkmd_ALPSM1B1_IMG scene{};
    scene.sceneStartTime = &start;
    scene.sceneCenterDateTime = &centre;
    for (int k = 0; k < 8; ++k) scene.coefficientArrays[k] = coefficients[k];
    product->GetALPSM1B1SceneData(&scene);

    const json& s = model["scene"];
    EXPECT_EQ(s["viewName"], scene.viewName);
    EXPECT_EQ(s["sceneText"], scene.sceneText);
    EXPECT_EQ(s["numLines"], scene.numLines);
    EXPECT_EQ(s["numPixels"], scene.numPixels);
    EXPECT_EQ(s["bitsPerSample"], scene.bitsPerSample);
    EXPECT_EQ(s["referenceNumbers"], json({123, 456}));
    EXPECT_DOUBLE_EQ(s["corners"]["lowerRight"]["latitude"].get<double>(), scene.cornerGeo[2][1]);
    EXPECT_DOUBLE_EQ(s["corners"]["lowerRight"]["pixel"].get<double>(), scene.cornerImage[2][0]);
    EXPECT_DOUBLE_EQ(s["center"]["pixel"].get<double>(), scene.centerPixel);
    EXPECT_DOUBLE_EQ(s["center"]["line"].get<double>(), scene.centerLine);
    EXPECT_DOUBLE_EQ(s["fixedParameter"].get<double>(), scene.fixedParameter);
    EXPECT_EQ(s["sceneCenterTime"], "2006-10-13T01:45:12.345678Z");
    // The first line's scan time: the middle of the 16 lines is scanned at
    // the centre time, 7.5 lines of 370 us before it.
    EXPECT_EQ(s["sceneStartTime"], "2006-10-13T01:45:12.342903Z");
    ASSERT_EQ(s["coefficientSets"].size(), 8u);
    for (int k = 0; k < 8; ++k)
        for (int m = 0; m < 4; ++m)
            for (int n = 0; n < 10; ++n)
                ASSERT_EQ(s["coefficientSets"][k][m][n].get<double>(), coefficients[k][10 * m + n])
                    << k << " " << m << " " << n;
    Tkmd_ALPSM1B1_IMG_Release(&scene);
}

TEST(CliSensorModel, JsonCarriesTheOrbitAttitudeAndSensorExports) {
    testing_support::TempDir dir;
    const ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1);
    const auto files = WriteProductIn(dir, "p", recipe);
    const json model = SensorModel(files.volume);
    ASSERT_TRUE(model.is_object());

    OpenedProduct product(files.volume);
    Tkmd_ALPSM1B1_EPH ephemeris{};
    Tkmd_ALPSM1B1_ATT attitude{};
    double matrix[9] = {};
    Tkmd_ALPSM1B1_SEN sensor{};
    sensor.sensorMatrix = matrix;
    product->GetALPSM1B1EphemerisData(&ephemeris);
    product->GetALPSM1B1AttitudeData(&attitude);
    product->GetALPSM1B1SensorData(&sensor);
    ASSERT_NE(ephemeris.ephemeris, nullptr);
    ASSERT_NE(attitude.attitude, nullptr);

    const json& e = model["ephemeris"];
    ASSERT_EQ(e["stateVectors"].size(), static_cast<size_t>(ephemeris.ephemeris->count));
    ASSERT_EQ(e["count"], ephemeris.ephemerisCount);
    // The exported block says what it is: the writer's precision block,
    // whose second text line states the Earth-fixed frame.
    EXPECT_EQ(e["stateVectorBlock"]["title"], recipe.supplemental.secondBlock.title);
    EXPECT_EQ(e["stateVectorBlock"]["frame"], "earth-fixed");
    EXPECT_EQ(e["stateVectorBlock"]["kind"], "precision");
    const cli_support::RunResult summary = RunAlosj({"sensor-model", files.volume});
    ASSERT_EQ(summary.status, 0) << summary.err;
    EXPECT_NE(summary.out.find("\"PRISM ORBIT DATA (PRECISION)\" (earth-fixed, precision)"), std::string::npos)
        << summary.out;
    EXPECT_EQ(e["intervalSeconds"].get<double>(), ephemeris.ephemerisInterval);
    for (int k = 0; k < ephemeris.ephemeris->count; ++k) {
        const AlosjStateVectorEntry& v = ephemeris.ephemeris->entries[k];
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(e["stateVectors"][k]["position"][c].get<double>(), v.stateVector[c]);
            EXPECT_EQ(e["stateVectors"][k]["velocity"][c].get<double>(), v.stateVector[3 + c]);
        }
        const ceoswriter::StateVectorLine& written = recipe.supplemental.secondBlock.lines[k];
        EXPECT_EQ(e["stateVectors"][k]["time"], Iso(written.date, written.timeOfDay));
    }
    EXPECT_EQ(e["startTime"], e["stateVectors"][0]["time"]);
    ASSERT_EQ(e["matrices"].size(), static_cast<size_t>(ephemeris.matrices->count));
    for (int k = 0; k < ephemeris.matrices->count; ++k)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(e["matrices"][k]["first"][r][c].get<double>(), ephemeris.matrices->entries[k].firstMatrix[r][c]);
                EXPECT_EQ(e["matrices"][k]["second"][r][c].get<double>(), ephemeris.matrices->entries[k].secondMatrix[r][c]);
            }
    ASSERT_NE(ephemeris.referenceEntry, nullptr);
    EXPECT_EQ(e["reference"]["value1"].get<double>(), ephemeris.referenceEntry->referenceValue1);
    EXPECT_EQ(e["reference"]["value2"].get<double>(), ephemeris.referenceEntry->referenceValue2);

    const json& a = model["attitude"];
    ASSERT_EQ(a["samples"].size(), static_cast<size_t>(attitude.attitude->count));
    EXPECT_EQ(static_cast<float>(a["intervalSeconds"].get<double>()), attitude.attitudeInterval);
    for (int k = 0; k < attitude.attitude->count; ++k) {
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(a["samples"][k]["quaternion"][c].get<double>(), attitude.attitude->entries[k].quaternion[c]);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(a["samples"][k]["aux"][c].get<double>(), attitude.attitude->entries[k].auxValue[c]);
    }
    const ceoswriter::AttitudeSampleRecipe& first = recipe.supplemental.attitude[0];
    char time[40];
    std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%09.6fZ", first.year, first.month, first.day, first.hour,
                  first.minute, first.seconds);
    EXPECT_EQ(a["samples"][0]["time"], time);

    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(model["sensor"]["matrix"][r][c].get<double>(), matrix[3 * r + c]);
            EXPECT_DOUBLE_EQ(model["sensor"]["matrix"][r][c].get<double>(), recipe.supplemental.sensorMatrix[r][c]);
        }
    EXPECT_EQ(model["sensor"]["focalLength"].get<double>(), sensor.focalLength);
    EXPECT_EQ(model["sensor"]["detectorPitch"].get<double>(), sensor.detectorPitch);
    Tkmd_ALPSM1B1_EPH_Release(&ephemeris);
    Tkmd_ALPSM1B1_ATT_Release(&attitude);
}

TEST(CliSensorModel, ProductsWithoutOneGiveAClearError) {
    testing_support::TempDir dir;
    struct Case {
        ceoswriter::ProductRecipe recipe;
        const char* kind;
    } cases[] = {{ceoswriter::Avnir2Product(1), "AVNIR-2 Level 1B1"},
                 {ceoswriter::PrismProduct(2), "PRISM Level 1B2"},
                 {ceoswriter::PrismProduct(0), "PRISM Level 1A"}};
    int n = 0;
    for (const Case& c : cases) {
        const auto files = WriteProductIn(dir, "p" + std::to_string(n++), c.recipe);
        const cli_support::RunResult run = RunAlosj({"sensor-model", files.volume, "--json"});
        EXPECT_EQ(run.status, 1) << c.kind;
        EXPECT_EQ(run.out, "") << c.kind;
        EXPECT_EQ(run.err, "alosj: " + files.volume + ": has no sensor model: it is " + c.kind +
                               "; the sensor model comes with PRISM Level 1B1 products\n");
    }
}

TEST(CliSensorModel, TimesCarryIntoTheNextMinuteAndDay) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::PrismProduct(1);
    // 23:59:59.9999996 rounds to the next day's first microsecond boundary.
    recipe.supplemental.attitude[0] = {2006, 12, 31, 23, 59, 59.9999996, {0.5, 0.5, 0.5, 0.5}, {0, 0, 0}};
    const auto files = WriteProductIn(dir, "p", recipe);
    const json model = SensorModel(files.volume);
    ASSERT_TRUE(model.is_object());
    EXPECT_EQ(model["attitude"]["samples"][0]["time"], "2007-01-01T00:00:00.000000Z");
}
