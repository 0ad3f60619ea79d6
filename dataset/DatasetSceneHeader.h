// The leader scene header's values that are written as text, each decoded
// once, when the leader is read, into a typed home named by its meaning.
// The record keeps the text fields as the format lays them out; nothing
// else reads those texts.
#pragma once

#include <cmath>
#include <cstdint>

#include "dataset/CeosAlosjAcquisition.h"
#include "files/CeosAlosjLeaderFile.h"

/// A date and time as its digits say, without a check (what the PRISM 1B1
/// scene export has always copied).
struct CEOSALOSJ_NO_EXPORT SceneHeaderDigits {
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double seconds = 0;
};

struct CEOSALOSJ_NO_EXPORT SceneHeaderValues {
    /// 277-292, 293-308: the orientation and incidence angles in degrees,
    /// NaN when a text holds no single number.
    double orientationAngle = NAN;
    double incidenceAngle = NAN;
    /// 373-388: the off-nadir (pointing) angle in degrees, NaN when the text
    /// holds no single number.
    double offNadirAngle = NAN;
    /// 373-388: the magnitude of the text's leading signed integer (any
    /// fraction ignored, as the processor takes it for the AVNIR-2 stagger
    /// shift); 0 for a text without one.
    double pointingWholeDegrees = 0;
    /// 453-466, "SUN ELggg Ahhh": the sun's elevation and azimuth in whole
    /// degrees, NaN unless the text has that form.
    double sunElevation = NAN;
    double sunAzimuth = NAN;
    /// 453-466: the numbers of its three characters at indices 6 and 11 as
    /// the scene export gives them (0 where they hold none).
    int32_t referenceNumbers[2] = {};
    /// 117-148, digits yyyymmddhhmmss, milliseconds, microseconds: checked,
    /// and as the digits say.
    CeosAlosjUtcTime sceneCenterTime;
    SceneHeaderDigits sceneCenterDigits;
    /// 401-408, "ddMmmyy" (20yy): checked, and as its parts say (month 0
    /// for a name that is none).
    bool hasSceneDate = false;
    int32_t sceneYear = 0, sceneMonth = 0, sceneDay = 0;
    SceneHeaderDigits sceneDateParts;
    /// 491-506: the scene ID of the work order, as the record holds it
    /// (trailing blanks included).
    char workOrderSceneId[17] = {};
    /// 21-36: the level in characters 2-4 ("1A", "1B1", "1B2").
    char productLevel[4] = {};
};

/// The values of a scene header read from the leader.
SceneHeaderValues DecodeSceneHeaderValues(const AlosjLeaderFileSceneHeader& header);
