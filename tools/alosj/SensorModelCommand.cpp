// alosj sensor-model: the PRISM Level 1B1 scene, orbit, attitude and
// sensor exports, with times in ISO 8601 (UTC).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "tools/alosj/Product.h"

namespace alosj {

namespace {

/// Days since 1970-01-01 of a civil date, and back.
long long DaysFromCivil(long long y, long long m, long long d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

void CivilFromDays(long long z, long long& y, long long& m, long long& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

/// "2006-10-13T01:45:12.345000Z", microseconds rounded; seconds of 60 or
/// more carry into the minute (and on).  Null for a missing time, and the
/// fields as they are for a date that is not one.
nlohmann::ordered_json IsoTime(const AlosjDateTime* t) {
    if (!t) return nullptr;
    if (t->month < 1 || t->month > 12 || t->day < 1 || t->day > 31 || !std::isfinite(t->seconds) ||
        std::fabs(t->seconds) > 1e9)
        return {{"year", t->year}, {"month", t->month}, {"day", t->day}, {"hour", t->hour}, {"minute", t->minute},
                {"seconds", t->seconds}};
    const long long micros = std::llround(t->seconds * 1e6);
    long long total = DaysFromCivil(t->year, t->month, t->day) * 86400000000LL +
                      (static_cast<long long>(t->hour) * 3600 + static_cast<long long>(t->minute) * 60) * 1000000LL +
                      micros;
    long long days = total / 86400000000LL;
    long long rest = total % 86400000000LL;
    if (rest < 0) {
        rest += 86400000000LL;
        --days;
    }
    long long y, m, d;
    CivilFromDays(days, y, m, d);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lldZ", y, m, d,
                  rest / 3600000000LL, rest / 60000000LL % 60, rest / 1000000LL % 60, rest % 1000000LL);
    return text;
}

template <typename Entry>
int32_t CountOf(const AlosjTable<Entry>* table) {
    return table && table->entries ? std::max<int32_t>(0, table->count) : 0;
}

nlohmann::ordered_json Matrix3(const double m[3][3]) {
    return {{m[0][0], m[0][1], m[0][2]}, {m[1][0], m[1][1], m[1][2]}, {m[2][0], m[2][1], m[2][2]}};
}

std::string Text(const char* text) { return text ? text : ""; }

}  // namespace

int RunSensorModel(const SensorModelOptions& options) {
    Product product(options.product);
    CeosAlosjDataset& d = product.Dataset();
    if (d.GetSensorType() != 0 || d.GetProductLevel() != 1)
        throw Failure(kExitFailure, product.VolumePath() + ": has no sensor model: it is " + product.SensorName() +
                                        " Level " + product.LevelName() +
                                        "; the sensor model comes with PRISM Level 1B1 products");

    // The storage the host supplies behind the scene export's pointers.
    AlosjDateTime start{}, centre{};
    double coefficients[8][40] = {};
    Tkmd_ALPSM1B1_IMG scene{};
    scene.sceneStartTime = &start;
    scene.sceneCenterDateTime = &centre;
    for (int k = 0; k < 8; ++k) scene.coefficientArrays[k] = coefficients[k];
    double sensorMatrix[9] = {};
    Tkmd_ALPSM1B1_SEN sensor{};
    sensor.sensorMatrix = sensorMatrix;
    Tkmd_ALPSM1B1_EPH ephemeris{};
    Tkmd_ALPSM1B1_ATT attitude{};

    d.GetALPSM1B1SceneData(&scene);
    d.GetALPSM1B1EphemerisData(&ephemeris);
    d.GetALPSM1B1AttitudeData(&attitude);
    d.GetALPSM1B1SensorData(&sensor);
    // Whatever happens next, the blocks handed over go back.
    struct Release {
        Tkmd_ALPSM1B1_IMG& scene;
        Tkmd_ALPSM1B1_EPH& ephemeris;
        Tkmd_ALPSM1B1_ATT& attitude;
        ~Release() {
            Tkmd_ALPSM1B1_IMG_Release(&scene);
            Tkmd_ALPSM1B1_EPH_Release(&ephemeris);
            Tkmd_ALPSM1B1_ATT_Release(&attitude);
        }
    } release{scene, ephemeris, attitude};
    product.CheckReports("exporting the sensor model");

    nlohmann::ordered_json model;
    model["alosjSensorModelVersion"] = 1;
    model["volumeDirectoryFile"] = product.Info()["volumeDirectoryFile"];

    nlohmann::ordered_json s;
    s["viewName"] = Text(scene.viewName);
    s["sceneText"] = Text(scene.sceneText);
    s["numLines"] = scene.numLines;
    s["numPixels"] = scene.numPixels;
    s["bitsPerSample"] = scene.bitsPerSample;
    static const char* const cornerNames[4] = {"upperLeft", "upperRight", "lowerRight", "lowerLeft"};
    for (int c = 0; c < 4; ++c) {
        s["corners"][cornerNames[c]] = {{"longitude", scene.cornerGeo[c][0]},
                                        {"latitude", scene.cornerGeo[c][1]},
                                        {"pixel", scene.cornerImage[c][0]},
                                        {"line", scene.cornerImage[c][1]}};
    }
    s["center"] = {{"longitude", scene.centerLon}, {"latitude", scene.centerLat}, {"pixel", scene.centerPixel},
                   {"line", scene.centerLine}};
    s["sceneStartTime"] = IsoTime(scene.sceneStartTime);
    s["sceneCenterTime"] = IsoTime(scene.sceneCenterDateTime);
    s["fixedParameter"] = scene.fixedParameter;
    s["referenceNumbers"] = {scene.referenceNumber1, scene.referenceNumber2};
    nlohmann::ordered_json arrays = nlohmann::ordered_json::array();
    for (int k = 0; k < 8; ++k) {
        nlohmann::ordered_json sets = nlohmann::ordered_json::array();
        for (int m = 0; m < 4; ++m)
            sets.push_back(std::vector<double>(coefficients[k] + 10 * m, coefficients[k] + 10 * m + 10));
        arrays.push_back(sets);
    }
    s["coefficientSets"] = arrays;
    model["scene"] = s;

    nlohmann::ordered_json e;
    e["startTime"] = IsoTime(ephemeris.startTime);
    e["count"] = ephemeris.ephemerisCount;
    e["intervalSeconds"] = ephemeris.ephemerisInterval;
    e["stateVectors"] = nlohmann::ordered_json::array();
    for (int32_t k = 0; k < CountOf(ephemeris.ephemeris); ++k) {
        const AlosjStateVectorEntry& v = ephemeris.ephemeris->entries[k];
        e["stateVectors"].push_back({{"time", IsoTime(v.time)},
                                     {"position", {v.stateVector[0], v.stateVector[1], v.stateVector[2]}},
                                     {"velocity", {v.stateVector[3], v.stateVector[4], v.stateVector[5]}}});
    }
    if (ephemeris.referenceEntry)
        e["reference"] = {{"time", IsoTime(ephemeris.referenceEntry->time)},
                          {"value1", ephemeris.referenceEntry->referenceValue1},
                          {"value2", ephemeris.referenceEntry->referenceValue2}};
    else
        e["reference"] = nullptr;
    e["matrices"] = nlohmann::ordered_json::array();
    for (int32_t k = 0; k < CountOf(ephemeris.matrices); ++k) {
        const AlosjMatrixEntry& m = ephemeris.matrices->entries[k];
        e["matrices"].push_back({{"time", IsoTime(m.time)}, {"first", Matrix3(m.firstMatrix)},
                                 {"second", Matrix3(m.secondMatrix)}});
    }
    model["ephemeris"] = e;

    nlohmann::ordered_json a;
    a["startTime"] = IsoTime(attitude.startTime);
    a["count"] = attitude.attitudeCount;
    // A 4-byte float: its shortest decimal form, not the binary expansion.
    char interval[32];
    std::snprintf(interval, sizeof interval, "%.7g", static_cast<double>(attitude.attitudeInterval));
    a["intervalSeconds"] = std::strtod(interval, nullptr);
    a["samples"] = nlohmann::ordered_json::array();
    for (int32_t k = 0; k < CountOf(attitude.attitude); ++k) {
        const AlosjAttitudeEntry& q = attitude.attitude->entries[k];
        a["samples"].push_back({{"time", IsoTime(q.time)},
                                {"quaternion", {q.quaternion[0], q.quaternion[1], q.quaternion[2], q.quaternion[3]}},
                                {"aux", {q.auxValue[0], q.auxValue[1], q.auxValue[2]}}});
    }
    model["attitude"] = a;

    const double* m = sensorMatrix;
    model["sensor"] = {{"matrix", {{m[0], m[1], m[2]}, {m[3], m[4], m[5]}, {m[6], m[7], m[8]}}},
                       {"focalLength", sensor.focalLength},
                       {"detectorPitch", sensor.detectorPitch}};

    if (options.json) {
        std::cout << model.dump(2) << "\n";
        return 0;
    }
    std::cout << "Product             " << model["volumeDirectoryFile"].get<std::string>() << "\n"
              << "View                " << s["viewName"].get<std::string>() << ", " << scene.numPixels << " x "
              << scene.numLines << " pixels\n"
              << "Scene start         " << s["sceneStartTime"].dump() << "\n"
              << "Scene centre        " << s["sceneCenterTime"].dump() << "\n"
              << "State vectors       " << e["stateVectors"].size() << " from " << e["startTime"].dump() << ", every "
              << ephemeris.ephemerisInterval << " s\n"
              << "Matrix entries      " << e["matrices"].size() << "\n"
              << "Attitude samples    " << a["samples"].size() << " from " << a["startTime"].dump() << ", every "
              << attitude.attitudeInterval << " s\n"
              << "Focal length        " << sensor.focalLength << " mm, detector pitch " << sensor.detectorPitch
              << " mm\n"
              << "(all values: alosj sensor-model --json)\n";
    return 0;
}

}  // namespace alosj
