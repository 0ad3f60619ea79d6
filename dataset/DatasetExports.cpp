// PRISM Level 1B1 sensor-model exports: scene geometry, orbit, attitude and
// sensor constants, copied into the host's structures.  Every block handed
// over comes from the host heap and belongs to the host; Tkmd_ALPSM1B1_…_Release
// gives every block of one export back.
//
// A product whose tables were never built (Level 1B2, AVNIR-2, before
// FileRead, a record that failed to read) exports empty tables (count 0)
// and leaves the members that depend on entries as the host had them.  When
// the heap runs out, the structure keeps its previous pointers: nothing
// half-built is stored.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "dataset/DatasetState.h"
#include "host/tmsc.h"

namespace {

// A new host-heap copy of a time record (a zero time for a missing one).
AlosjDateTime* CopyTime(const AlosjDateTime* time) {
    AlosjDateTime* copy = AlosjHeapNew<AlosjDateTime>();
    if (copy && time) *copy = *time;
    return copy;
}

// A copy of table whose entries are made by copyEntry(source, target); null
// when the heap runs out (nothing of it is left behind).
template <typename Entry, typename CopyEntry>
AlosjTable<Entry>* CopyTable(const AlosjTable<Entry>* table, CopyEntry copyEntry) {
    const int32_t count = table && table->entries ? std::max(0, table->count) : 0;
    AlosjTable<Entry>* copy = AlosjTableNew<Entry>(count);
    if (!copy) return nullptr;
    for (int32_t i = 0; i < count; ++i) {
        copy->entries[i].time = CopyTime(table->entries[i].time);
        if (!copy->entries[i].time) {
            AlosjTableFree(copy);
            return nullptr;
        }
        copyEntry(table->entries[i], copy->entries[i]);
    }
    return copy;
}


}  // namespace

void CeosAlosjDataset::GetALPSM1B1SceneData(Tkmd_ALPSM1B1_IMG* scene) {
    State& s = *d;
    if (!scene || !s.leaderFile) return;
    const AlosjLeaderFileSceneHeader& h = s.leaderFile->SceneHeader();
    CeosAlosjImageFile* first = s.Image(0);

    scene->numLines = h.numberOfLines;
    scene->numPixels = static_cast<int32_t>(GetSceneWidth());
    scene->bitsPerSample = first ? first->Descriptor().bitsPerPixel / 8 * 8 : 0;

    const MissionType mode = GetObservationMode();
    const char* view = mode == MISSION_N   ? "Nadir Normal View"
                       : mode == MISSION_F ? "Forward View"
                       : mode == MISSION_B ? "Backward View"
                                           : "Nadir 70km View";
    scene->viewName = tstr_Duplicate(view);
    scene->fixedParameter = 0.00037;
    const SceneHeaderValues& v = s.sceneHeader;
    scene->sceneText = tstr_Duplicate(v.workOrderSceneId);
    scene->referenceNumber1 = v.referenceNumbers[0];
    scene->referenceNumber2 = v.referenceNumbers[1];

    if (AlosjDateTime* centre = scene->sceneCenterDateTime) {
        const SceneHeaderDigits& t = v.sceneCenterDigits;
        centre->year = t.year;
        centre->month = t.month;
        centre->day = t.day;
        centre->hour = t.hour;
        centre->minute = t.minute;
        centre->seconds = t.seconds;
    }

    const double corners[4][2] = {{h.upperLeftLongitude, h.upperLeftLatitude},
                                  {h.upperRightLongitude, h.upperRightLatitude},
                                  {h.lowerRightLongitude, h.lowerRightLatitude},
                                  {h.lowerLeftLongitude, h.lowerLeftLatitude}};
    for (int c = 0; c < 4; ++c) {
        scene->cornerGeo[c][0] = corners[c][0];
        scene->cornerGeo[c][1] = corners[c][1];
    }
    const double w = scene->numPixels;
    const double hgt = scene->numLines;
    const double image[4][2] = {{0, 0}, {w - 1, 0}, {w - 1, hgt - 1}, {0, hgt - 1}};
    std::memcpy(scene->cornerImage, image, sizeof image);

    scene->centerLon = h.sceneCenterLongitude;
    scene->centerLat = h.sceneCenterLatitude;
    const int32_t ccdCount = mode == MISSION_N ? 6 : 8;  // the nadir normal view has 6 CCDs
    const int32_t fullWidth = static_cast<int32_t>(static_cast<uint32_t>(ccdCount) *
                                                   static_cast<uint32_t>(h.pixelsPerLine));
    scene->centerPixel =
        (static_cast<double>(fullWidth) - 1) * 0.5 - h.sceneCenterPixel - 1 + (w - 1) * 0.5;
    scene->centerLine = h.sceneCenterLine - 1;

    if (AlosjDateTime* start = scene->sceneStartTime) {
        start->day = v.sceneDateParts.day;
        start->month = v.sceneDateParts.month;
        start->year = v.sceneDateParts.year;
        const double t = first ? first->GetStartScanTime() : 0.0;
        const long hour = static_cast<long>(t / 3600);
        const long minute = static_cast<long>((t - hour * 3600) / 60);
        start->hour = static_cast<int32_t>(hour);
        start->minute = static_cast<int32_t>(minute);
        start->seconds = t - hour * 3600 - minute * 60;
    }

    const AlosjLeaderFileAncillary1& a = s.leaderFile->Ancillary1();
    for (int k = 0; k < 8; ++k) {
        double* array = scene->coefficientArrays[k];
        if (!array) continue;
        for (int m = 0; m < 4; ++m)
            for (int n = 0; n < 10; ++n) array[10 * m + n] = a.coefficientSets[4 * k + m][n];
    }
}

void CeosAlosjDataset::GetALPSM1B1EphemerisData(Tkmd_ALPSM1B1_EPH* ephemeris) {
    if (!ephemeris) return;
    const CeosAlosjSupplementalFile* sup = d->supplementalFile.get();
    const AlosjTable<AlosjStateVectorEntry>* vectors = sup ? sup->Ancillary8().secondBlock.samples : nullptr;
    const AlosjTable<AlosjMatrixEntry>* matrices = sup ? sup->Ancillary10().matrices : nullptr;
    const AlosjReferenceEntry* reference = sup ? sup->Ancillary10().referenceEntry : nullptr;

    auto* table = CopyTable(vectors, [](const AlosjStateVectorEntry& from, AlosjStateVectorEntry& to) {
        for (int k = 0; k < 6; ++k) to.stateVector[k] = from.stateVector[k] * 1000.0;
    });
    auto* matrixTable = CopyTable(matrices, [](const AlosjMatrixEntry& from, AlosjMatrixEntry& to) {
        std::memcpy(to.firstMatrix, from.firstMatrix, sizeof to.firstMatrix);
        std::memcpy(to.secondMatrix, from.secondMatrix, sizeof to.secondMatrix);
    });
    // Without a decoded reference entry the host's member is left alone.
    AlosjReferenceEntry* referenceCopy = reference ? AlosjHeapNew<AlosjReferenceEntry>() : nullptr;
    if (referenceCopy) {
        referenceCopy->time = CopyTime(reference->time);
        referenceCopy->referenceValue1 = reference->referenceValue1;
        referenceCopy->referenceValue2 = reference->referenceValue2;
    }
    AlosjDateTime* start = table && table->count > 0 ? CopyTime(table->entries[0].time) : nullptr;
    const bool referenceComplete = !reference || (referenceCopy && referenceCopy->time);
    const bool complete = table && matrixTable && referenceComplete && (table->count == 0 || start);
    if (!complete) {
        AlosjTableFree(table);
        AlosjTableFree(matrixTable);
        AlosjReferenceEntryFree(referenceCopy);
        tmsc_HeapFree(start);
        return;
    }
    ephemeris->ephemeris = table;
    ephemeris->ephemerisInterval = 60.0;
    ephemeris->ephemerisCount = table->count;
    if (start) ephemeris->startTime = start;
    if (referenceCopy) ephemeris->referenceEntry = referenceCopy;
    ephemeris->matrices = matrixTable;
}

void CeosAlosjDataset::GetALPSM1B1AttitudeData(Tkmd_ALPSM1B1_ATT* attitude) {
    if (!attitude) return;
    const CeosAlosjSupplementalFile* sup = d->supplementalFile.get();
    const AlosjTable<AlosjAttitudeEntry>* samples = sup ? sup->Ancillary12().samples : nullptr;
    auto* table = CopyTable(samples, [](const AlosjAttitudeEntry& from, AlosjAttitudeEntry& to) {
        std::memcpy(to.quaternion, from.quaternion, sizeof to.quaternion);
        std::memcpy(to.auxValue, from.auxValue, sizeof to.auxValue);
    });
    AlosjDateTime* start = table && table->count > 0 ? CopyTime(table->entries[0].time) : nullptr;
    if (!table || (table->count > 0 && !start)) {
        AlosjTableFree(table);
        return;
    }
    attitude->attitude = table;
    attitude->attitudeCount = table->count;
    if (table->count < 1) return;
    attitude->attitudeInterval = 0.1f;
    attitude->startTime = start;
}

void CeosAlosjDataset::GetALPSM1B1SensorData(Tkmd_ALPSM1B1_SEN* sensor) {
    if (!sensor) return;
    // Only a supplemental file that FileRead read has a matrix to give.
    const bool read = !d->IsLevel1B2() && !d->IsAvnir2();
    if (sensor->sensorMatrix && d->supplementalFile && read) {
        const auto& matrix = d->supplementalFile->Ancillary13().matrix;
        for (int k = 0; k < 9; ++k) sensor->sensorMatrix[k] = matrix[k / 3][k % 3];
    }
    sensor->focalLength = 1939.0;
    sensor->detectorPitch = 0.007;
}
