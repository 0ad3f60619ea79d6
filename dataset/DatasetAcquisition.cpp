// The acquisition and radiometry of a product: the scene header's
// identifiers, orbit, pointing, sun and times, and the radiometric record's
// calibration, exposure and temperatures, as CeosAlosjAcquisition gives them.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dataset/DatasetState.h"

namespace {

// Band centres and full widths, micrometres.
constexpr double kAvnir2Centre[4] = {0.46, 0.56, 0.65, 0.825};
constexpr double kAvnir2Width[4] = {0.08, 0.08, 0.08, 0.13};
constexpr double kPrismCentre = 0.645;
constexpr double kPrismWidth = 0.25;

/// Copies text with its surrounding blanks trimmed into target[size].
template <size_t Size>
void CopyTrimmed(char (&target)[Size], const char* text) {
    std::string s = text ? text : "";
    const size_t end = s.find_last_not_of(' ');
    s.erase(end == std::string::npos ? 0 : end + 1);
    s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
    std::strncpy(target, s.c_str(), Size - 1);
    target[Size - 1] = '\0';
}

/// The number a text field holds, NaN when it holds none (or more than one).
double NumberIn(const char* text) {
    if (!text) return NAN;
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

/// "13Oct06" → 2006-10-13; false when the text is no such date.
bool SceneDate(const char* text, int32_t& year, int32_t& month, int32_t& day) {
    static const char* const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const long d = DigitsAt(text, 0, 2), y = DigitsAt(text, 5, 2);
    if (d < 1 || d > 31 || y < 0) return false;
    std::string name(text + 2, 3);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (int m = 0; m < 12; ++m)
        if (name == kMonths[m]) {
            year = static_cast<int32_t>(2000 + y);
            month = m + 1;
            day = static_cast<int32_t>(d);
            return true;
        }
    return false;
}

/// The date with a time of day in seconds.
CeosAlosjUtcTime TimeOnDate(int32_t year, int32_t month, int32_t day, double secondOfDay) {
    CeosAlosjUtcTime t;
    if (!(secondOfDay >= 0 && secondOfDay < 86401)) return t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = static_cast<int32_t>(secondOfDay / 3600);
    t.minute = static_cast<int32_t>((secondOfDay - t.hour * 3600.0) / 60);
    t.seconds = secondOfDay - t.hour * 3600.0 - t.minute * 60.0;
    t.valid = true;
    return t;
}

/// The scene centre time's digits: yyyymmddhhmmss, milliseconds, microseconds.
CeosAlosjUtcTime CentreTime(const char* text) {
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

void CeosAlosjDataset::GetAcquisition(CeosAlosjAcquisition* acquisition) {
    if (!acquisition) return;
    CeosAlosjAcquisition a;
    const State& s = *d;
    if (s.leaderFile) {
        const AlosjLeaderFileSceneHeader& h = s.leaderFile->SceneHeader();
        CopyTrimmed(a.productId, h.productId);
        // The level in characters 2-4 of the product ID ("1A ", "1B1", "1B2").
        // Level 1A fills the fourth character with a blank or '_'.
        char level[4] = {};
        if (std::strlen(h.productId) >= 4) std::memcpy(level, h.productId + 1, 3);
        if (level[2] == '_') level[2] = ' ';
        CopyTrimmed(a.productLevel, level);
        CopyTrimmed(a.sceneId, s.IsLevel1B2() ? h.sceneId1B2 : h.sceneId);
        CopyTrimmed(a.workOrderSceneId, h.text491);
        CopyTrimmed(a.rspId, h.rspId);
        CopyTrimmed(a.missionId, h.missionId);
        CopyTrimmed(a.sensorId, h.sensorId);
        a.orbitNumber = h.orbitNumber;
        char direction[17] = {};
        CopyTrimmed(direction, h.orbitDirection);
        if (direction[0]) a.orbitDirection = direction[0] == 'A' || direction[0] == 'a' ? 'A' : 'D';
        a.offNadirAngle = NumberIn(h.text373);
        a.orientationAngle = NumberIn(h.orientationAngle);
        a.incidenceAngle = NumberIn(h.incidenceAngle);
        // "SUN ELggg Ahhh": whole degrees at indices 6 and 11.
        const long elevation = DigitsAt(h.text453, 6, 3), azimuth = DigitsAt(h.text453, 11, 3);
        if (std::strncmp(h.text453, "SUN EL", 6) == 0 && elevation >= 0 && azimuth >= 0) {
            a.sunElevation = static_cast<double>(elevation);
            a.sunAzimuth = static_cast<double>(azimuth);
        }
        CopyTrimmed(a.processingCode, h.processingCode);
        CopyTrimmed(a.resamplingMethod, h.resamplingMethod);
        CopyTrimmed(a.mapProjectionMethod, h.mapProjectionFlags);

        a.sceneCenterTime = CentreTime(h.sceneCenterTime);
        int32_t year = 0, month = 0, day = 0;
        CeosAlosjImageFile* first = s.Image(0);
        if (first && s.IsBelowLevel1B2() && SceneDate(h.sceneDate, year, month, day)) {
            a.sceneStartTime = TimeOnDate(year, month, day, first->GetStartScanTime());
            a.sceneEndTime = TimeOnDate(year, month, day, first->GetEndScanTime());
        }
    }

    a.radiometricallyCorrected = s.productLevel == State::kLevel1B1 || s.IsLevel1B2();
    const AlosjLeaderFileAncillary2* common = s.leaderFile ? s.leaderFile->Ancillary2() : nullptr;
    if (common) CopyTrimmed(a.sensorOperationMode, common->sensorOperationMode);
    if (const AlosjAvnir2LeaderFileAncillary2* r = s.leaderFile ? s.leaderFile->Avnir2Ancillary2() : nullptr) {
        a.bandCount = 4;
        for (int b = 0; b < 4; ++b) {
            CeosAlosjBandRadiometry& band = a.bands[b];
            band.gain = r->calibration[2 * b];
            band.offset = r->calibration[2 * b + 1];
            band.centralWavelength = kAvnir2Centre[b];
            band.bandwidth = kAvnir2Width[b];
            band.exposureCoefficient = r->exposureCoefficients[b];
            band.sensorGain = r->sensorGains[b];
            band.detectorTemperature = r->temperatures[b];
            band.assemblyTemperature = r->temperatures[4 + b];
        }
        a.signalProcessingTemperature = r->temperatures[8];
    } else if (const AlosjPrismLeaderFileAncillary2* r = s.leaderFile ? s.leaderFile->PrismAncillary2() : nullptr) {
        a.bandCount = 1;
        CeosAlosjBandRadiometry& band = a.bands[0];
        band.gain = r->calibration[0];
        band.offset = r->calibration[1];
        band.centralWavelength = kPrismCentre;
        band.bandwidth = kPrismWidth;
        band.detectorTemperature = r->temperatures[0];
        a.signalProcessingTemperature = r->temperatures[1];
    }
    *acquisition = a;
}
