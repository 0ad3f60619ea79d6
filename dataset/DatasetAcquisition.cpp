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

}  // namespace

void CeosAlosjDataset::GetAcquisition(CeosAlosjAcquisition* acquisition) {
    if (!acquisition) return;
    CeosAlosjAcquisition a;
    const State& s = *d;
    if (s.leaderFile) {
        const AlosjLeaderFileSceneHeader& h = s.leaderFile->SceneHeader();
        const SceneHeaderValues& v = s.sceneHeader;
        CopyTrimmed(a.productId, h.productId);
        CopyTrimmed(a.productLevel, v.productLevel);
        CopyTrimmed(a.sceneId, s.IsLevel1B2() ? h.sceneId1B2 : h.sceneId);
        CopyTrimmed(a.workOrderSceneId, v.workOrderSceneId);
        CopyTrimmed(a.rspId, h.rspId);
        CopyTrimmed(a.missionId, h.missionId);
        CopyTrimmed(a.sensorId, h.sensorId);
        a.orbitNumber = h.orbitNumber;
        char direction[17] = {};
        CopyTrimmed(direction, h.orbitDirection);
        if (direction[0]) a.orbitDirection = direction[0] == 'A' || direction[0] == 'a' ? 'A' : 'D';
        a.offNadirAngle = v.offNadirAngle;
        a.orientationAngle = v.orientationAngle;
        a.incidenceAngle = v.incidenceAngle;
        a.sunElevation = v.sunElevation;
        a.sunAzimuth = v.sunAzimuth;
        CopyTrimmed(a.processingCode, h.processingCode);
        CopyTrimmed(a.resamplingMethod, h.resamplingMethod);
        CopyTrimmed(a.mapProjectionMethod, h.mapProjectionFlags);

        a.sceneCenterTime = v.sceneCenterTime;
        CeosAlosjImageFile* first = s.Image(0);
        if (first && s.IsBelowLevel1B2() && v.hasSceneDate) {
            a.sceneStartTime = TimeOnDate(v.sceneYear, v.sceneMonth, v.sceneDay, first->GetStartScanTime());
            a.sceneEndTime = TimeOnDate(v.sceneYear, v.sceneMonth, v.sceneDay, first->GetEndScanTime());
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
