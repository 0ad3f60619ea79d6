// The conditions of a product's acquisition and its radiometry, as the
// leader's scene header (record 2) and radiometric record (record 4) give
// them, with times in UTC and angles in degrees.  A host fills one with
// CeosAlosjDataset::GetAcquisition after FileRead:
//
//     CeosAlosjAcquisition acquisition;
//     dataset.GetAcquisition(&acquisition);
//     if (acquisition.radiometricallyCorrected)
//         radiance = acquisition.Radiance(band, dn);   // W m-2 sr-1 um-1
//
// Text members are NUL-terminated and keep the record's blanks trimmed; a
// number the record does not hold as one is NaN (reals) or 0 (whole numbers).
#pragma once

#include <cmath>
#include <cstdint>

/// A time in UTC; `valid` is false when the product does not hold it.
struct CeosAlosjUtcTime {
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    double seconds = 0.0;
    bool valid = false;
};

/// What the radiometric record says of one band (AVNIR-2 bands 1-4; the
/// single PRISM band).
struct CeosAlosjBandRadiometry {
    /// Radiance L = gain × DN + offset, in W m⁻² sr⁻¹ µm⁻¹.
    double gain = NAN;
    double offset = NAN;
    /// Centre and full width of the band in micrometres.
    double centralWavelength = NAN;
    double bandwidth = NAN;
    /// AVNIR-2: the exposure coefficient and the sensor gain letter; PRISM:
    /// −1 and '\0'.
    int32_t exposureCoefficient = -1;
    char sensorGain = '\0';
    /// Degrees Celsius: the detector (PRISM: the CCDs) and, for AVNIR-2, the
    /// detector assembly (NaN for PRISM).
    double detectorTemperature = NAN;
    double assemblyTemperature = NAN;
};

struct CeosAlosjAcquisition {
    static constexpr int kMaxBands = 4;

    char productId[17] = {};        // e.g. "O1B1__UB"
    char productLevel[4] = {};      // "1A", "1B1", "1B2"
    char sceneId[17] = {};          // the level's own scene ID
    char workOrderSceneId[17] = {}; // sensor, view letter, orbit, frame
    char rspId[17] = {};            // reference system for planning (path and frame)
    char missionId[17] = {};        // "ALOS"
    char sensorId[17] = {};         // "PRISM", "AVNIR-2"
    int32_t orbitNumber = 0;
    char orbitDirection = '\0';     // 'A' ascending, 'D' descending
    double offNadirAngle = NAN;     // pointing angle, degrees, signed
    double orientationAngle = NAN;  // degrees
    double incidenceAngle = NAN;    // degrees
    double sunElevation = NAN;      // degrees, whole as the record holds them
    double sunAzimuth = NAN;
    /// The scene date with the scene centre time; the first and the last
    /// image line's times (Levels 1A and 1B1: Level 1B2 lines hold none).
    CeosAlosjUtcTime sceneStartTime;
    CeosAlosjUtcTime sceneCenterTime;
    CeosAlosjUtcTime sceneEndTime;
    char processingCode[13] = {};
    char resamplingMethod[17] = {};     // "NNNNN" raw, "YNNNN" nearest, "NYNNN" bilinear, "NNYNN" cubic
    char mapProjectionMethod[17] = {};  // "NNNNN" raw, "YNNNN" UTM, "NNNNY" polar stereographic
    char sensorOperationMode[5] = {};
    double signalProcessingTemperature = NAN;  // degrees Celsius

    int32_t bandCount = 0;  // 4 AVNIR-2, 1 PRISM, 0 unknown
    CeosAlosjBandRadiometry bands[kMaxBands];
    /// Level 1B1 and 1B2: gains and offsets turn digital numbers into
    /// radiance.  Level 1A is not radiometrically corrected: its coefficients
    /// are reported, but give no radiance.
    bool radiometricallyCorrected = false;

    /// Radiance of a digital number of band (0-based), W m⁻² sr⁻¹ µm⁻¹; NaN
    /// for DN 0 (dummy and fill pixels), for Level 1A and for a band the
    /// product lacks.
    double Radiance(int band, unsigned dn) const {
        if (!radiometricallyCorrected || dn == 0 || band < 0 || band >= bandCount) return NAN;
        return bands[band].gain * dn + bands[band].offset;
    }
};
