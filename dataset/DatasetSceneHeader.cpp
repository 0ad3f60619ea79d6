#include "dataset/DatasetSceneHeader.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/tmsc.h"
#include "host/tstr.h"

namespace {

/// The number a text field holds, NaN when it holds none (or more than one).
double NumberIn(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text) return NAN;
    while (*end == ' ') ++end;
    return *end == '\0' && std::isfinite(value) ? value : NAN;
}

/// Digits [start, start + count) of text as a number, −1 when one is not a digit.
long DigitsAt(const char* text, size_t start, size_t count) {
    const size_t length = std::strlen(text);
    long value = 0;
    for (size_t i = start; i < start + count; ++i) {
        if (i >= length || !std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int32_t LongAt(const char* text, int start, int count) {
    return static_cast<int32_t>(tstr_StringToL(text, start, count));
}

/// The month of the three-letter name at index 2 of a "ddMmmyy" date, in
/// any case; 0 for none.
int32_t MonthOfName(const char* text) {
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char* name = tstr_StringToA(text, 2, 3);
    int32_t month = 0;
    for (int32_t m = 0; m < 12 && name; ++m)
        if (tstr_Eqic(name, kMonths[m])) {
            month = m + 1;
            break;
        }
    tmsc_HeapFree(name);
    return month;
}

/// "13Oct06" → 2006-10-13, in any case; false when the text is no such date.
bool CheckedDate(const char* text, int32_t& year, int32_t& month, int32_t& day) {
    const long d = DigitsAt(text, 0, 2), y = DigitsAt(text, 5, 2);
    if (d < 1 || d > 31 || y < 0) return false;
    month = MonthOfName(text);
    if (month == 0) return false;
    year = static_cast<int32_t>(2000 + y);
    day = static_cast<int32_t>(d);
    return true;
}

/// The centre time's digits: yyyymmddhhmmss, milliseconds, microseconds.
CeosAlosjUtcTime CheckedCentreTime(const char* text) {
    CeosAlosjUtcTime t;
    const long year = DigitsAt(text, 0, 4), month = DigitsAt(text, 4, 2), day = DigitsAt(text, 6, 2);
    const long hour = DigitsAt(text, 8, 2), minute = DigitsAt(text, 10, 2), second = DigitsAt(text, 12, 2);
    const long ms = DigitsAt(text, 14, 3), us = DigitsAt(text, 17, 3);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return t;
    t.year = static_cast<int32_t>(year);
    t.month = static_cast<int32_t>(month);
    t.day = static_cast<int32_t>(day);
    t.hour = static_cast<int32_t>(hour);
    t.minute = static_cast<int32_t>(minute);
    t.seconds = second + std::max(0L, ms) / 1000.0 + std::max(0L, us) / 1000000.0;
    t.valid = true;
    return t;
}

}  // namespace

SceneHeaderValues DecodeSceneHeaderValues(const AlosjLeaderFileSceneHeader& h) {
    SceneHeaderValues v;
    // 21-36: the product ID; Level 1A fills the fourth character with a
    // blank or '_'.
    if (std::strlen(h.productId) >= 4) std::memcpy(v.productLevel, h.productId + 1, 3);
    if (v.productLevel[2] == '_') v.productLevel[2] = ' ';

    // 117-148
    const char* t = h.sceneCenterTime;
    v.sceneCenterTime = CheckedCentreTime(t);
    v.sceneCenterDigits = {LongAt(t, 0, 4), LongAt(t, 4, 2), LongAt(t, 6, 2), LongAt(t, 8, 2), LongAt(t, 10, 2),
                           (tstr_StringToL(t, 12, 2) + tstr_StringToL(t, 14, 3) / 1000.0) +
                               tstr_StringToL(t, 17, 3) / 1000000.0};

    // 277-292, 293-308
    v.orientationAngle = NumberIn(h.orientationAngle);
    v.incidenceAngle = NumberIn(h.incidenceAngle);

    // 373-388.  Wide integers are taken whole, so that no magnitude
    // overflows a long.
    v.offNadirAngle = NumberIn(h.text373);
    v.pointingWholeDegrees = std::fabs(static_cast<double>(std::strtoll(h.text373, nullptr, 10)));

    // 401-408
    v.hasSceneDate = CheckedDate(h.sceneDate, v.sceneYear, v.sceneMonth, v.sceneDay);
    v.sceneDateParts.day = LongAt(h.sceneDate, 0, 2);
    v.sceneDateParts.month = MonthOfName(h.sceneDate);
    v.sceneDateParts.year = static_cast<int32_t>(tstr_StringToL(h.sceneDate, 5, 2) + 2000);

    // 453-466
    const long elevation = DigitsAt(h.text453, 6, 3), azimuth = DigitsAt(h.text453, 11, 3);
    if (std::strncmp(h.text453, "SUN EL", 6) == 0 && elevation >= 0 && azimuth >= 0) {
        v.sunElevation = static_cast<double>(elevation);
        v.sunAzimuth = static_cast<double>(azimuth);
    }
    v.referenceNumbers[0] = LongAt(h.text453, 6, 3);
    v.referenceNumbers[1] = LongAt(h.text453, 11, 3);

    // 491-506
    std::memcpy(v.workOrderSceneId, h.text491, sizeof v.workOrderSceneId);
    return v;
}
