#include "files/CeosAlosjLeaderFile.h"

#include <algorithm>

#include "host/terr.h"

namespace {

constexpr long kRecordLength = CeosAlosjLeaderFile::kRecordLength;

// The leader's own part of its descriptor ends at record byte 392.
constexpr long kDescriptorOwnEnd = 392;

constexpr int kCoefficientsStart = 1965;  // set j, term n at + 80 × j + 8 × n
constexpr int kLevel1B2SetsStart = 957;   // group g, term n at + 240 × g + 24 × n
constexpr int kStateVectorsStart = 387;   // point c, value k at + 132 × c + 22 × k

// A record buffer sized for the leader's records, filled by one positioned read.
struct RecordBuffer {
    unsigned char bytes[kRecordLength];

    bool Read(Tfio_File fileHandle, int64_t offset, const char* operation) {
        return CeosReadRecord(fileHandle, offset, bytes, kRecordLength, operation);
    }
    CeosFields Fields() const { return CeosFields(bytes, kRecordLength); }
};

}  // namespace

void AlosjLeaderFileFileDescriptor::Read(Tfio_File fileHandle) {
    CeosAlosjFileDescriptor::Read(fileHandle);

    // The buffer mirrors record bytes 1-392 so that positions read like the
    // record's table; only bytes 181-392 are read here.
    unsigned char buffer[kDescriptorOwnEnd] = {};
    if (!CeosReadDescriptorPart(fileHandle, buffer, "AlosjLeaderFileFileDescriptor::Read"))
        return;
    const CeosFields f(buffer, sizeof buffer);
    f(181, 6, FT_INT, value181);
    f(187, 6, FT_INT, value187);
    f(193, 6, FT_INT, value193);
    f(199, 6, FT_INT, value199);
    for (int i = 0; i < kLocatorCount; ++i) {
        // Nine groups from 217 on; the tenth is the group at 377 (361 is skipped).
        const int group = i < 9 ? 217 + 16 * i : 377;
        LeaderFieldLocator& locator = locators[i];
        f(group, 6, FT_INT, locator.part1);
        f(group + 6, 6, FT_INT, locator.part2);
        f(group + 12, 3, FT_INT, locator.part3);
        f(group + 15, 1, FT_ASCII, locator.part4);
    }
}

void AlosjLeaderFileSceneHeader::Read(Tfio_File fileHandle) {
    RecordBuffer buffer;
    if (!buffer.Read(fileHandle, CeosAlosjLeaderFile::kSceneHeaderOffset,
                     "AlosjLeaderFileSceneHeader::Read"))
        return;
    const CeosFields f = buffer.Fields();
    Decode(f);
    f(13, 4, FT_INT, int13);
    f(21, 16, FT_ASCII, productId);
    f(37, 16, FT_ASCII, sceneId);
    f(53, 16, FT_REAL, sceneCenterLatitude);
    f(69, 16, FT_REAL, sceneCenterLongitude);
    f(85, 16, FT_REAL, sceneCenterLine);
    f(101, 16, FT_REAL, sceneCenterPixel);
    f(117, 32, FT_ASCII, sceneCenterTime);
    f(149, 16, FT_INT, int149);
    f(165, 16, FT_ASCII, rspId);
    f(181, 16, FT_INT, int181);
    f(197, 16, FT_ASCII, sceneId1B2);
    f(213, 16, FT_REAL, sceneCenterLatitude1B2);
    f(229, 16, FT_REAL, sceneCenterLongitude1B2);
    f(245, 16, FT_REAL, sceneCenterLine1B2);
    f(261, 16, FT_REAL, sceneCenterPixel1B2);
    f(277, 16, FT_ASCII, orientationAngle);
    f(293, 16, FT_ASCII, incidenceAngle);
    f(309, 16, FT_ASCII, missionId);
    f(325, 16, FT_ASCII, sensorId);
    f(341, 16, FT_INT, orbitNumber);
    f(357, 16, FT_ASCII, orbitDirection);
    f(373, 16, FT_ASCII, text373);
    f(389, 1, FT_ASCII, text389);
    f(401, 8, FT_ASCII, sceneDate);
    f(409, 17, FT_ASCII, text409);
    f(443, 10, FT_ASCII, text443);
    f(453, 14, FT_ASCII, text453);
    f(467, 12, FT_ASCII, processingCode);
    f(479, 12, FT_ASCII, text479);
    f(491, 16, FT_ASCII, text491);
    f(1413, 16, FT_INT, effectiveBands);
    f(1429, 16, FT_INT, pixelsPerLine);
    f(1445, 16, FT_INT, numberOfLines);
    f(1493, 16, FT_INT, radiometricResolution);
    f(1525, 16, FT_ASCII, text1525);
    f(1541, 16, FT_ASCII, resamplingMethod);
    f(1557, 16, FT_ASCII, mapProjectionFlags);
    f(1573, 16, FT_ASCII, text1573);
    f(1589, 16, FT_INT, int1589);
    f(1605, 16, FT_INT, int1605);
    f(1653, 4, FT_INT, int1653);
    f(1717, 16, FT_ASCII, text1717);
    f(1733, 16, FT_REAL, upperLeftLatitude);
    f(1749, 16, FT_REAL, upperLeftLongitude);
    f(1765, 16, FT_REAL, upperRightLatitude);
    f(1781, 16, FT_REAL, upperRightLongitude);
    f(1797, 16, FT_REAL, lowerLeftLatitude);
    f(1813, 16, FT_REAL, lowerLeftLongitude);
    f(1829, 16, FT_REAL, lowerRightLatitude);
    f(1845, 16, FT_REAL, lowerRightLongitude);
    f(1861, 2, FT_INT, int1861);
    f(1863, 2, FT_INT, int1863);
    f(1865, 2, FT_INT, int1865);
    f(1867, 2, FT_INT, int1867);
    f(1869, 2, FT_INT, int1869);
    f(1871, 2, FT_INT, int1871);
    f(1876, 2, FT_INT, int1876);
}

void AlosjLeaderFileAncillary1::Read(Tfio_File fileHandle) {
    RecordBuffer buffer;
    if (!buffer.Read(fileHandle, CeosAlosjLeaderFile::kAncillary1Offset,
                     "AlosjLeaderFileAncillary1::Read"))
        return;
    const CeosFields f = buffer.Fields();
    Decode(f);
    f(13, 16, FT_INT, value13);
    f(29, 16, FT_INT, value29);
    f(45, 16, FT_REAL, xPixelSize);
    f(61, 16, FT_REAL, yPixelSize);
    f(77, 16, FT_REAL, real77);
    f(93, 4, FT_INT, hemisphereCode);
    f(97, 12, FT_INT, utmZoneNumber);
    f(141, 16, FT_REAL, sceneCenterNorthing);
    f(157, 16, FT_REAL, sceneCenterEasting);
    f(205, 16, FT_REAL, real205);
    f(333, 16, FT_REAL, projectionCenterLatitude);
    f(349, 16, FT_REAL, projectionCenterLongitude);
    f(365, 16, FT_REAL, real365);
    f(381, 16, FT_REAL, real381);
    f(429, 16, FT_REAL, psSceneCenterEasting);
    f(445, 16, FT_REAL, psSceneCenterNorthing);
    f(493, 16, FT_REAL, real493);
    f(509, 16, FT_REAL, real509);
    f(525, 16, FT_REAL, real525);
    f(541, 16, FT_REAL, xPixelSize1B2);
    f(557, 16, FT_REAL, yPixelSize1B2);
    f(621, 16, FT_REAL, real621);
    f(637, 16, FT_REAL, real637);
    f(653, 16, FT_REAL, real653);
    f(669, 16, FT_REAL, real669);
    f(685, 16, FT_REAL, real685);
    f(701, 16, FT_REAL, real701);
    f(733, 16, FT_REAL, real733);
    f(749, 16, FT_REAL, real749);
    f(765, 16, FT_ASCII, ellipsoidName);
    f(781, 16, FT_REAL, real781);
    f(797, 16, FT_REAL, real797);
    f(813, 16, FT_ASCII, text813);
    // Level 1B2 geolocation: four groups of ten 24-character numbers from
    // 957 on; the six 8-byte values at 1917-1964 are not decoded.
    for (int g = 0; g < kLevel1B2Sets; ++g)
        for (int n = 0; n < kCoefficientTerms; ++n)
            f(kLevel1B2SetsStart + 240 * g + 24 * n, 24, FT_REAL_E, level1B2Sets[g][n]);
    for (int j = 0; j < kCoefficientSets; ++j)
        for (int n = 0; n < kCoefficientTerms; ++n)
            f(kCoefficientsStart + 80 * j + 8 * n, 8, FT_BIN_DOUBLE, coefficientSets[j][n]);
}

void AlosjLeaderFileAncillary2::DecodeCommon(const CeosFields& f) {
    Decode(f);
    f(13, 4, FT_ASCII, sensorOperationMode);
    f(17, 4, FT_INT, correctedLevelLower);
    f(21, 4, FT_INT, correctedLevelUpper);
}

void AlosjPrismLeaderFileAncillary2::Read(Tfio_File fileHandle) {
    RecordBuffer buffer;
    if (!buffer.Read(fileHandle, CeosAlosjLeaderFile::kAncillary2Offset,
                     "AlosjPrismLeaderFileAncillary2::Read"))
        return;
    const CeosFields f = buffer.Fields();
    DecodeCommon(f);
    f(57, 6, FT_ASCII, text57);
    f(63, 1, FT_ASCII, compressionMode);
    f(79, 8, FT_REAL, temperatures[0]);
    f(87, 8, FT_REAL, temperatures[1]);
    f(2703, 8, FT_REAL, calibration[0]);
    f(2711, 8, FT_REAL, calibration[1]);
}

void AlosjAvnir2LeaderFileAncillary2::Read(Tfio_File fileHandle) {
    RecordBuffer buffer;
    if (!buffer.Read(fileHandle, CeosAlosjLeaderFile::kAncillary2Offset,
                     "AlosjAvnir2LeaderFileAncillary2::Read"))
        return;
    const CeosFields f = buffer.Fields();
    DecodeCommon(f);
    for (int k = 0; k < 4; ++k) f(25 + 5 * k, 5, FT_INT, exposureCoefficients[k]);
    f(57, 6, FT_ASCII, sensorGains);
    for (int k = 0; k < 9; ++k) f(79 + 8 * k, 8, FT_REAL, temperatures[k]);
    for (int k = 0; k < 8; ++k) f(2703 + 8 * k, 8, FT_REAL, calibration[k]);
}

void AlosjLeaderFileAncillary3::Read(Tfio_File fileHandle) {
    RecordBuffer buffer;
    if (!buffer.Read(fileHandle, CeosAlosjLeaderFile::kAncillary3Offset,
                     "AlosjLeaderFileAncillary3::Read"))
        return;
    const CeosFields f = buffer.Fields();
    Decode(f);
    f(13, 32, FT_ASCII, orbitalElementsDesignator);
    for (int k = 0; k < 6; ++k) f(45 + 16 * k, 16, FT_REAL, orbitalElements[k]);
    f(141, 4, FT_INT, numberOfDataPoints);
    f(145, 4, FT_INT, firstPointYear);
    f(149, 4, FT_INT, firstPointMonth);
    f(153, 4, FT_INT, firstPointDay);
    f(157, 4, FT_INT, firstPointDayOfYear);
    f(161, 22, FT_REAL_E, firstPointSecondOfDay);
    f(183, 22, FT_REAL_E, dataPointInterval);
    f(205, 64, FT_ASCII, referenceCoordinateSystem);
    f(269, 22, FT_REAL_E, greenwichMeanHourAngle);
    for (int k = 0; k < 6; ++k) f(291 + 16 * k, 16, FT_REAL, positionVelocityErrors[k]);
    // The count comes from the file: only the points the record has room for
    // are stored, and a negative count stores none.
    const int points = StoredDataPoints();
    for (int c = 0; c < points; ++c) {
        const int point = kStateVectorsStart + 132 * c;
        f(point, 22, FT_REAL_E, positionX[c]);
        f(point + 22, 22, FT_REAL_E, positionY[c]);
        f(point + 44, 22, FT_REAL_E, positionZ[c]);
        f(point + 66, 22, FT_REAL_E, velocityX[c]);
        f(point + 88, 22, FT_REAL_E, velocityY[c]);
        f(point + 110, 22, FT_REAL_E, velocityZ[c]);
    }
    f(4101, 1, FT_INT, leapSecondFlag);
}

int AlosjLeaderFileAncillary3::StoredDataPoints() const {
    return std::clamp(numberOfDataPoints, int32_t{0}, int32_t{kMaxDataPoints});
}

CeosAlosjLeaderFile::CeosAlosjLeaderFile(const char* volumeDirPath, const char* referencedFileId)
    : CeosAlosjNonVolFileClass(volumeDirPath, referencedFileId),
      fileDescriptor(std::make_unique<AlosjLeaderFileFileDescriptor>()),
      sceneHeader(std::make_unique<AlosjLeaderFileSceneHeader>()),
      ancillary1(std::make_unique<AlosjLeaderFileAncillary1>()),
      ancillary3(std::make_unique<AlosjLeaderFileAncillary3>()) {
    if (fileSensor == 0)
        ancillary2 = std::make_unique<AlosjPrismLeaderFileAncillary2>();
    else if (fileSensor == 1)
        ancillary2 = std::make_unique<AlosjAvnir2LeaderFileAncillary2>();
}

long CeosAlosjLeaderFile::Read() {
    fileDescriptor->Read(fileHandle);
    sceneHeader->Read(fileHandle);
    ancillary1->Read(fileHandle);
    if (ancillary2)
        ancillary2->Read(fileHandle);
    else  // a file ID naming neither sensor gives no layout to decode the record with
        terr_ReportAndDelete("CeosAlosjLeaderFile::Read", __LINE__, nullptr,
                             "Unknown sensor: ancillary record 2 not read");
    ancillary3->Read(fileHandle);
    return 0;
}

const AlosjPrismLeaderFileAncillary2* CeosAlosjLeaderFile::PrismAncillary2() const {
    return dynamic_cast<const AlosjPrismLeaderFileAncillary2*>(ancillary2.get());
}

const AlosjAvnir2LeaderFileAncillary2* CeosAlosjLeaderFile::Avnir2Ancillary2() const {
    return dynamic_cast<const AlosjAvnir2LeaderFileAncillary2*>(ancillary2.get());
}
