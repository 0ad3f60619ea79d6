#include "AlosjSensorModelJson.h"

#include <nlohmann/json.hpp>

#include "dataset/CeosAlosjDataset.h"

namespace alosjgdal {

namespace {

// Members keep the order they have in the export structures.
using json = nlohmann::ordered_json;

constexpr int kCoefficientArrays = 8;
constexpr int kCoefficientsPerArray = 40;

// A null time (an export with no entries leaves its start time unset) is null.
json TimeJson(const AlosjDateTime* time) {
    if (!time) return nullptr;
    return json{{"year", time->year},   {"month", time->month},   {"day", time->day},
                {"hour", time->hour},   {"minute", time->minute}, {"seconds", time->seconds}};
}

json Values(const double* values, int count) {
    json array = json::array();
    for (int i = 0; i < count; ++i) array.push_back(values[i]);
    return array;
}

// A 3x3 matrix stored row after row, as rows.
json MatrixJson(const double* elements) {
    json rows = json::array();
    for (int m = 0; m < 3; ++m) rows.push_back({elements[3 * m], elements[3 * m + 1], elements[3 * m + 2]});
    return rows;
}

template <typename Entry, typename EntryJson>
json TableJson(const AlosjTable<Entry>* table, EntryJson entryJson) {
    json entries = json::array();
    if (!table || !table->entries) return entries;
    for (int32_t i = 0; i < table->count; ++i) {
        json entry = entryJson(table->entries[i]);
        entry["time"] = TimeJson(table->entries[i].time);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Gives back, whatever happens, the blocks an export handed over.
template <typename T, void (*Release)(T*)>
struct Released {
    T value{};
    ~Released() { Release(&value); }
};

json SceneJson(CeosAlosjDataset& product) {
    // The scene export writes through storage the caller provides.
    AlosjDateTime start{};
    AlosjDateTime centre{};
    double coefficients[kCoefficientArrays][kCoefficientsPerArray] = {};
    Released<Tkmd_ALPSM1B1_IMG, Tkmd_ALPSM1B1_IMG_Release> scene;
    Tkmd_ALPSM1B1_IMG& s = scene.value;
    s.sceneStartTime = &start;
    s.sceneCenterDateTime = &centre;
    for (int k = 0; k < kCoefficientArrays; ++k) s.coefficientArrays[k] = coefficients[k];
    product.GetALPSM1B1SceneData(&s);

    json cornerGeo = json::array();
    json cornerImage = json::array();
    for (int c = 0; c < 4; ++c) {
        cornerGeo.push_back({s.cornerGeo[c][0], s.cornerGeo[c][1]});
        cornerImage.push_back({s.cornerImage[c][0], s.cornerImage[c][1]});
    }
    json arrays = json::array();
    for (const auto& array : coefficients) arrays.push_back(Values(array, kCoefficientsPerArray));
    return json{{"viewName", s.viewName ? s.viewName : ""},
                {"sceneText", s.sceneText ? s.sceneText : ""},
                {"numLines", s.numLines},
                {"numPixels", s.numPixels},
                {"bitsPerSample", s.bitsPerSample},
                {"cornerGeo", cornerGeo},
                {"cornerImage", cornerImage},
                {"centerLon", s.centerLon},
                {"centerLat", s.centerLat},
                {"centerPixel", s.centerPixel},
                {"centerLine", s.centerLine},
                {"sceneStartTime", TimeJson(&start)},
                {"sceneCenterDateTime", TimeJson(&centre)},
                {"fixedParameter", s.fixedParameter},
                {"referenceNumber1", s.referenceNumber1},
                {"referenceNumber2", s.referenceNumber2},
                {"coefficientArrays", arrays}};
}

json EphemerisJson(CeosAlosjDataset& product) {
    Released<Tkmd_ALPSM1B1_EPH, Tkmd_ALPSM1B1_EPH_Release> ephemeris;
    Tkmd_ALPSM1B1_EPH& e = ephemeris.value;
    product.GetALPSM1B1EphemerisData(&e);

    json vectors = TableJson(e.ephemeris, [](const AlosjStateVectorEntry& entry) {
        return json{{"stateVector", Values(entry.stateVector, 6)}};
    });
    json matrices = TableJson(e.matrices, [](const AlosjMatrixEntry& entry) {
        return json{{"firstMatrix", MatrixJson(&entry.firstMatrix[0][0])},
                    {"secondMatrix", MatrixJson(&entry.secondMatrix[0][0])}};
    });
    json reference = nullptr;
    if (e.referenceEntry)
        reference = json{{"time", TimeJson(e.referenceEntry->time)},
                         {"referenceValue1", e.referenceEntry->referenceValue1},
                         {"referenceValue2", e.referenceEntry->referenceValue2}};
    return json{{"startTime", TimeJson(e.startTime)},
                {"ephemerisCount", e.ephemerisCount},
                {"ephemerisInterval", e.ephemerisInterval},
                {"ephemeris", vectors},
                {"referenceEntry", reference},
                {"matrices", matrices}};
}

json AttitudeJson(CeosAlosjDataset& product) {
    Released<Tkmd_ALPSM1B1_ATT, Tkmd_ALPSM1B1_ATT_Release> attitude;
    Tkmd_ALPSM1B1_ATT& a = attitude.value;
    product.GetALPSM1B1AttitudeData(&a);

    json samples = TableJson(a.attitude, [](const AlosjAttitudeEntry& entry) {
        return json{{"quaternion", Values(entry.quaternion, 4)},
                    {"auxValue", Values(entry.auxValue, 3)}};
    });
    return json{{"startTime", TimeJson(a.startTime)},
                {"attitudeCount", a.attitudeCount},
                {"attitudeInterval", static_cast<double>(a.attitudeInterval)},
                {"attitude", samples}};
}

json SensorJson(CeosAlosjDataset& product) {
    double matrix[9] = {};
    Tkmd_ALPSM1B1_SEN sensor{};
    sensor.sensorMatrix = matrix;
    product.GetALPSM1B1SensorData(&sensor);
    return json{{"sensorMatrix", MatrixJson(matrix)},
                {"focalLength", sensor.focalLength},
                {"detectorPitch", sensor.detectorPitch}};
}

}  // namespace

std::string SensorModelJson(CeosAlosjDataset& product) {
    json model{{"scene", SceneJson(product)},
               {"ephemeris", EphemerisJson(product)},
               {"attitude", AttitudeJson(product)},
               {"sensor", SensorJson(product)}};
    // Text the product carries need not be UTF-8: such bytes are replaced.
    return model.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace alosjgdal
