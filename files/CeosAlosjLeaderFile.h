// Leader file: the scene-wide metadata of a product.
//
// Five records of 4680 bytes at fixed offsets: the file descriptor (0), the
// scene header (4680), ancillary record 1 with the map projection values and
// 32 sets of ten big-endian coefficient doubles (9360), ancillary record 2 in
// a PRISM or an AVNIR-2 layout (14040), and ancillary record 3, the platform
// position record with up to 28 state vectors (18720).  Records are found by
// these offsets only; the counts and lengths the descriptor carries are not
// consulted.  A record whose read fails is reported under its own name, stays
// as it was (zero-filled when never read) and does not stop the others.
#pragma once

#include <cstdint>
#include <memory>

#include "ceos/CeosAlosjBaseClass.h"
#include "ceos/CeosRecord.h"

/// One 16-byte locator group of the leader's file descriptor.
struct LeaderFieldLocator {
    int32_t part1 = 0;      // group bytes 0-5
    int32_t part2 = 0;      // group bytes 6-11
    int32_t part3 = 0;      // group bytes 12-14
    char part4[2] = {};     // group byte 15
};

/// Record 1: the common descriptor (bytes 1-180) and the leader's own part
/// (bytes 181-392).
struct AlosjLeaderFileFileDescriptor : CeosAlosjFileDescriptor {
    static constexpr int kLocatorCount = 10;

    int32_t value181 = 0;
    int32_t value187 = 0;
    int32_t value193 = 0;
    int32_t value199 = 0;
    /// Groups at 217 + 16 × i for i < 9, then the group at 377; the one at
    /// 361 is not decoded.
    LeaderFieldLocator locators[kLocatorCount];

    void Read(Tfio_File fileHandle);
};

/// Record 2: the scene header.
struct AlosjLeaderFileSceneHeader : CeosRecordHeader {
    int32_t int13 = 0;
    /// e.g. "O1B1__UB": level in characters 2-4; fifth character 'G'
    /// geocoded, 'R' georeferenced (Level 1B2).
    char productId[17] = {};
    char sceneId[17] = {};  // Level 1A/1B1
    double sceneCenterLatitude = 0;
    double sceneCenterLongitude = 0;
    double sceneCenterLine = 0;   // 1-based
    double sceneCenterPixel = 0;
    char sceneCenterTime[33] = {};  // digits yyyymmddhhmmss, milliseconds, microseconds
    int32_t int149 = 0;
    char rspId[17] = {};  // reference system for planning: path and frame
    int32_t int181 = 0;
    char sceneId1B2[17] = {};  // Level 1B2: its scene ID and centre
    double sceneCenterLatitude1B2 = 0;
    double sceneCenterLongitude1B2 = 0;
    double sceneCenterLine1B2 = 0;
    double sceneCenterPixel1B2 = 0;
    char orientationAngle[17] = {};  // degrees, as text
    char incidenceAngle[17] = {};    // degrees, as text
    char missionId[17] = {};         // "ALOS"
    char sensorId[17] = {};          // "PRISM", "AVNIR-2"
    int32_t orbitNumber = 0;
    char orbitDirection[17] = {};  // 'A' ascending, otherwise descending
    /// Off-nadir (pointing) angle in degrees, signed; it also chooses the
    /// AVNIR-2 stagger shift.
    char text373[17] = {};
    char text389[2] = {};
    char sceneDate[9] = {};  // ddMmmyy
    char text409[18] = {};
    char text443[11] = {};
    /// "SUN ELggg Ahhh": the sun's elevation and azimuth in whole degrees,
    /// the 3-digit numbers at indices 6 and 11.
    char text453[15] = {};
    char processingCode[13] = {};
    char text479[13] = {};
    char text491[17] = {};
    int32_t effectiveBands = 0;
    int32_t pixelsPerLine = 0;
    int32_t numberOfLines = 0;
    int32_t radiometricResolution = 0;
    char text1525[17] = {};
    char resamplingMethod[17] = {};  // "NNNNN" raw, "YNNNN" nearest, "NYNNN" bilinear, "NNYNN" cubic
    char mapProjectionFlags[17] = {};  // 'Y' first: UTM; 'N' first, fifth 'Y': polar stereographic
    char text1573[17] = {};
    int32_t int1589 = 0;
    int32_t int1605 = 0;
    int32_t int1653 = 0;
    char text1717[17] = {};
    double upperLeftLatitude = 0;
    double upperLeftLongitude = 0;
    double upperRightLatitude = 0;
    double upperRightLongitude = 0;
    double lowerLeftLatitude = 0;
    double lowerLeftLongitude = 0;
    double lowerRightLatitude = 0;
    double lowerRightLongitude = 0;
    int32_t int1861 = 0;
    int32_t int1863 = 0;
    int32_t int1865 = 0;
    int32_t int1867 = 0;
    int32_t int1869 = 0;
    int32_t int1871 = 0;
    int32_t int1876 = 0;

    void Read(Tfio_File fileHandle);
};

/// Record 3: map projection values and the geometric coefficient sets.
struct AlosjLeaderFileAncillary1 : CeosRecordHeader {
    static constexpr int kCoefficientSets = 32;
    static constexpr int kCoefficientTerms = 10;

    int32_t value13 = 0;
    int32_t value29 = 0;
    double xPixelSize = 0;  // metres, levels other than 1B2
    double yPixelSize = 0;
    double real77 = 0;
    int32_t hemisphereCode = 0;  // 0 north
    int32_t utmZoneNumber = 0;
    double sceneCenterNorthing = 0;  // kilometres
    double sceneCenterEasting = 0;   // kilometres
    double real205 = 0;
    double projectionCenterLatitude = 0;
    double projectionCenterLongitude = 0;
    double real365 = 0;
    double real381 = 0;
    double psSceneCenterEasting = 0;   // kilometres
    double psSceneCenterNorthing = 0;  // kilometres
    double real493 = 0;
    double real509 = 0;
    double real525 = 0;
    double xPixelSize1B2 = 0;  // metres, Level 1B2
    double yPixelSize1B2 = 0;
    double real621 = 0;
    double real637 = 0;
    double real653 = 0;
    double real669 = 0;
    double real685 = 0;
    double real701 = 0;
    double real733 = 0;
    double real749 = 0;
    char ellipsoidName[17] = {};
    double real781 = 0;
    double real797 = 0;
    char text813[17] = {};
    /// Set j, term n from record position 1965 + 80 × j + 8 × n.  The
    /// geolocation polynomials below Level 1B2: unit u (PRISM CCD 1-8,
    /// AVNIR-2 band 1-4) owns sets 4(u − 1) + k, k = 0 latitude(pixel, line),
    /// 1 longitude(pixel, line), 2 pixel(latitude, longitude), 3
    /// line(latitude, longitude); terms a0 + a1·x + a2·y + a3·x·y + a4·x² +
    /// a5·y² + a6·x²·y + a7·x·y² + a8·x³ + a9·y³.
    double coefficientSets[kCoefficientSets][kCoefficientTerms] = {};
    /// Level 1B2: the same four roles for the 1B2 image, group g term n from
    /// the 24-character number at 957 + 240 × g + 24 × n.
    static constexpr int kLevel1B2Sets = 4;
    double level1B2Sets[kLevel1B2Sets][kCoefficientTerms] = {};

    void Read(Tfio_File fileHandle);
};

/// Record 4: the radiometric record, sensor-specific.  The reader holds the
/// PRISM or the AVNIR-2 layout, chosen by the sensor its file ID names.
/// Radiance L = gain × DN + offset (W m⁻² sr⁻¹ µm⁻¹) with the gain and
/// offset of `calibration`, for Level 1B1 and 1B2 (Level 1A is not
/// radiometrically corrected).
struct AlosjLeaderFileAncillary2 : CeosRecordHeader {
    virtual ~AlosjLeaderFileAncillary2() = default;

    char sensorOperationMode[5] = {};
    int32_t correctedLevelLower = 0;  // limits of the corrected level
    int32_t correctedLevelUpper = 0;

    virtual void Read(Tfio_File fileHandle) = 0;

protected:
    /// The header and the fields both layouts share.
    void DecodeCommon(const CeosFields& f);
};

struct AlosjPrismLeaderFileAncillary2 : AlosjLeaderFileAncillary2 {
    char text57[7] = {};
    char compressionMode[2] = {};
    double temperatures[2] = {};  // °C: CCD (79), signal processing unit (87)
    double calibration[2] = {};   // gain (2703) and offset (2711), one pair for all CCDs

    void Read(Tfio_File fileHandle) override;
};

struct AlosjAvnir2LeaderFileAncillary2 : AlosjLeaderFileAncillary2 {
    int32_t exposureCoefficients[4] = {};  // bands 1-4: positions 25, 30, 35, 40
    char sensorGains[7] = {};              // one gain letter per band, first four
    /// °C from position 79 on, 8 characters each: detector, bands 1-4;
    /// detector assembly, bands 1-4; signal processing unit.
    double temperatures[9] = {};
    /// (gain, offset) band after band from position 2703: gain of band b at
    /// [2b], its offset at [2b + 1].
    double calibration[8] = {};

    void Read(Tfio_File fileHandle) override;
};

/// Record 5: the platform position record (orbit state vectors).
struct AlosjLeaderFileAncillary3 : CeosRecordHeader {
    static constexpr int kMaxDataPoints = 28;  // room the record has for state vectors

    char orbitalElementsDesignator[33] = {};
    double orbitalElements[6] = {};
    int32_t numberOfDataPoints = 0;  // as recorded; see StoredDataPoints
    int32_t firstPointYear = 0;
    int32_t firstPointMonth = 0;
    int32_t firstPointDay = 0;
    int32_t firstPointDayOfYear = 0;
    double firstPointSecondOfDay = 0;
    double dataPointInterval = 0;  // seconds
    char referenceCoordinateSystem[65] = {};
    double greenwichMeanHourAngle = 0;
    double positionVelocityErrors[6] = {};
    double positionX[kMaxDataPoints] = {};
    double positionY[kMaxDataPoints] = {};
    double positionZ[kMaxDataPoints] = {};
    double velocityX[kMaxDataPoints] = {};
    double velocityY[kMaxDataPoints] = {};
    double velocityZ[kMaxDataPoints] = {};
    int32_t leapSecondFlag = 0;

    void Read(Tfio_File fileHandle);
    /// The number of state vectors the arrays hold: numberOfDataPoints
    /// limited to 0 … kMaxDataPoints.
    int StoredDataPoints() const;
};

class CeosAlosjLeaderFile : public CeosAlosjNonVolFileClass {
public:
    static constexpr long kRecordLength = 4680;
    static constexpr int64_t kFileDescriptorOffset = 0;
    static constexpr int64_t kSceneHeaderOffset = 4680;
    static constexpr int64_t kAncillary1Offset = 9360;
    static constexpr int64_t kAncillary2Offset = 14040;
    static constexpr int64_t kAncillary3Offset = 18720;

    /// volumeDirPath: the product's volume directory file; referencedFileId:
    /// the leader's ID in the volume directory.  Creates the five records
    /// zero-filled, ancillary record 2 in the layout of the ID's sensor.
    CeosAlosjLeaderFile(const char* volumeDirPath, const char* referencedFileId);

    /// Decodes the five records from the open file, each whatever became of
    /// the one before.  Always 0: failed records are reported, not returned.
    long Read();

    const AlosjLeaderFileFileDescriptor& FileDescriptor() const { return *fileDescriptor; }
    const AlosjLeaderFileSceneHeader& SceneHeader() const { return *sceneHeader; }
    const AlosjLeaderFileAncillary1& Ancillary1() const { return *ancillary1; }
    /// Ancillary record 2 in its sensor's layout; null when the file ID names
    /// neither PRISM nor AVNIR-2.
    const AlosjLeaderFileAncillary2* Ancillary2() const { return ancillary2.get(); }
    /// The PRISM layout of ancillary record 2, or null for another sensor.
    const AlosjPrismLeaderFileAncillary2* PrismAncillary2() const;
    /// The AVNIR-2 layout of ancillary record 2, or null for another sensor.
    const AlosjAvnir2LeaderFileAncillary2* Avnir2Ancillary2() const;
    const AlosjLeaderFileAncillary3& Ancillary3() const { return *ancillary3; }

private:
    std::unique_ptr<AlosjLeaderFileFileDescriptor> fileDescriptor;
    std::unique_ptr<AlosjLeaderFileSceneHeader> sceneHeader;
    std::unique_ptr<AlosjLeaderFileAncillary1> ancillary1;
    std::unique_ptr<AlosjLeaderFileAncillary2> ancillary2;
    std::unique_ptr<AlosjLeaderFileAncillary3> ancillary3;
};
