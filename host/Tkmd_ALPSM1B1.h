// The host's PRISM Level 1B1 sensor-model structures, which
// CeosAlosjDataset::GetALPSM1B1…Data fill.  Member order and widths are the
// host's; the members marked "not written" are the host's own and keep
// whatever it put there.
#pragma once

#include <cstdint>

#include "ceosalosj_export.h"
#include "host/AlosjTables.h"

/// Scene geometry.  The host supplies the storage behind sceneStartTime,
/// sceneCenterDateTime and the eight coefficient arrays (40 doubles each);
/// viewName and sceneText receive new host-heap strings.
struct Tkmd_ALPSM1B1_IMG {
    int32_t hostLeading[3];  // not written
    char* viewName;          // "Nadir Normal View", "Forward View", "Backward View", "Nadir 70km View"
    char* sceneText;
    int32_t numLines;
    int32_t numPixels;
    int32_t bitsPerSample;
    double cornerGeo[4][3];    // longitude, latitude, (not written); UL, UR, LR, LL
    double cornerImage[4][2];  // pixel, line; UL, UR, LR, LL
    double centerLon;
    double centerLat;
    double centerPixel;
    double centerLine;
    AlosjDateTime* sceneStartTime;
    AlosjDateTime* sceneCenterDateTime;
    int32_t hostMiddle[2];  // not written
    double fixedParameter;
    int32_t referenceNumber1;
    int32_t referenceNumber2;
    double* coefficientArrays[8];  // four coefficient sets of ten doubles each
};

/// Orbit: state vectors (metres, metres per second) every 60 s, and the
/// reference entry and matrix pairs.  Every pointer member receives new
/// host-heap blocks that belong to the host.
struct Tkmd_ALPSM1B1_EPH {
    int32_t hostLeading;  // not written
    AlosjDateTime* startTime;
    int32_t ephemerisCount;
    int32_t hostSlot;  // not written
    double ephemerisInterval;
    AlosjTable<AlosjStateVectorEntry>* ephemeris;
    AlosjReferenceEntry* referenceEntry;
    AlosjTable<AlosjMatrixEntry>* matrices;
};

/// Attitude samples every 0.1 s.
struct Tkmd_ALPSM1B1_ATT {
    int32_t hostLeading;  // not written
    AlosjDateTime* startTime;
    int32_t attitudeCount;
    float attitudeInterval;
    AlosjTable<AlosjAttitudeEntry>* attitude;
};

/// Sensor constants; the host supplies the nine doubles behind sensorMatrix.
struct Tkmd_ALPSM1B1_SEN {
    double* sensorMatrix;  // row after row
    int32_t hostSlot;      // not written
    double focalLength;
    double detectorPitch;
};

/// Releases every block an ephemeris export handed over and sets the
/// pointers to null.
CEOSALOSJ_API void Tkmd_ALPSM1B1_EPH_Release(Tkmd_ALPSM1B1_EPH* ephemeris);
/// The same for an attitude export.
CEOSALOSJ_API void Tkmd_ALPSM1B1_ATT_Release(Tkmd_ALPSM1B1_ATT* attitude);
/// Releases the two strings a scene export handed over.
CEOSALOSJ_API void Tkmd_ALPSM1B1_IMG_Release(Tkmd_ALPSM1B1_IMG* scene);
