// Leader file of a synthetic product: five 4680-byte records, the file
// descriptor, the scene header, ancillary record 1 (map projection values
// and 32 sets of ten big-endian coefficient doubles), ancillary record 2 in
// the layout of the product's sensor, and ancillary record 3 (platform
// position: orbit state vectors).
//
// The defaults describe a scene centred on Mount Fuji, Japan, observed on
// 13 October 2006, map-projected to UTM zone 54 north on GRS80.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace ceoswriter {

struct ProductRecipe;

/// Set j, term n of ancillary record 1's geometric coefficients.
using CoefficientSets = std::array<std::array<double, 10>, 32>;

/// Distinct values for every term, so that a misplaced term shows.
CoefficientSets DefaultCoefficientSets();
std::array<std::array<double, 10>, 4> DefaultLevel1B2Sets();

/// One orbit state vector: position in metres, velocity in metres per second.
struct StateVector {
    double x, y, z;
    double vx, vy, vz;
};

/// count state vectors of a near-polar orbit at 60-second intervals.
std::vector<StateVector> DefaultStateVectors(int count = 28);

/// Ancillary record 2 (the radiometric record) in the PRISM layout.  The
/// defaults are those of real products of 2006.
struct PrismAncillary2Recipe {
    std::string sensorOperationMode = "PSM";  // positions 13-16
    int correctedLevelLower = 1;              // 17-20: limits of the corrected level
    int correctedLevelUpper = 255;            // 21-24
    std::string text57 = "CCD-6";             // 57-62
    std::string compressionMode = "N";        // 63
    /// °C, 8 characters each: CCD (79), signal processing unit (87).
    std::array<double, 2> temperatures = {19.875, 24.5};
    /// Gain (2703) and offset (2711) of radiance = gain × DN + offset,
    /// F8.4, one pair for all CCDs.
    std::array<double, 2> calibration = {0.541, 0.0};
};

/// Ancillary record 2 (the radiometric record) in the AVNIR-2 layout.
struct Avnir2Ancillary2Recipe {
    std::string sensorOperationMode = "AV2";  // positions 13-16
    int correctedLevelLower = 1;              // 17-20
    int correctedLevelUpper = 255;            // 21-24
    std::array<int, 4> exposureCoefficients = {2, 2, 2, 3};  // 25, 30, 35, 40 (5 digits each)
    std::string sensorGains = "2222";                        // 57-62: a letter per band
    /// °C from 79, 8 characters each: detector, bands 1-4; detector assembly,
    /// bands 1-4; signal processing unit.
    std::array<double, 9> temperatures = {20.125, 20.25, 20.0, 20.375, 21.5, 21.625, 21.25, 21.75, 25.125};
    /// (gain, offset) band after band from 2703, F8.4.
    std::array<double, 8> calibration = {0.588, 0.0, 0.573, 0.0, 0.502, 0.0, 0.835, 0.0};
};

struct LeaderRecipe {
    // --- scene header (record 2) ---
    /// productId (positions 21-36); default: the product's processing suffix
    /// ("O1B2R_UN" for PRISM Level 1B2).
    std::optional<std::string> productId;
    /// Written over the fifth character of productId (position 25): 'G'
    /// geocoded, 'R' georeferenced.
    std::optional<char> geocodingLetter;
    double sceneCenterLatitude = 35.3606;
    double sceneCenterLongitude = 138.7274;
    std::optional<double> sceneCenterLine;   // 1-based; default the middle line
    std::optional<double> sceneCenterPixel;  // default the middle pixel
    /// yyyymmddhhmmss, milliseconds (3), microseconds (3); positions 117-148.
    std::string sceneCenterTime = "20061013021530123456";
    std::string rspId = "388-2710";     // reference system for planning: path-frame, 165-180
    std::string orientationAngle = "-9.984";  // degrees, 277-292
    std::string incidenceAngle = "0.512";     // degrees, 293-308
    int orbitNumber = 3886;                   // 341-356
    std::string orbitDirection = "D";         // 357-372: 'A' ascending, 'D' descending
    /// Signed off-nadir (pointing) angle in degrees (positions 373-388); its
    /// whole part chooses the AVNIR-2 stagger shift.
    std::string offNadirAngle = "+0.000";
    std::string sceneDate = "13Oct06";         // ddMmmyy, positions 401-408
    /// "SUN ELggg Ahhh" (positions 453-466): 3-digit numbers at indices 6 and
    /// 11.  Default: the sun's elevation and azimuth, whole degrees, at the
    /// scene centre at the scene centre time.
    std::optional<std::string> sunAngles;
    std::string processingCode = "1B1G0ACA";  // 467-478
    /// Resampling method (1541-1556): "NNNNN" raw, "YNNNN" nearest,
    /// "NYNNN" bilinear, "NNYNN" cubic; default raw below Level 1B2, cubic at 1B2.
    std::optional<std::string> resamplingMethod;
    std::optional<std::string> workOrderSceneId;  // 491-506, default "ALOS PRISM" / "ALOS AVNIR-2"
    std::optional<int> pixelsPerLine;          // default the image files' pixels per line
    std::optional<int> numberOfLines;          // default the image files' line count
    /// Character 1 'Y' UTM; 'N' with character 5 'Y' polar stereographic,
    /// with 'N' raw.  Positions 1557-1572.
    std::string mapProjectionFlags = "YNNNNNNNNNNNNNNN";
    double upperLeftLatitude = 35.5206;
    double upperLeftLongitude = 138.5374;
    double upperRightLatitude = 35.5306;
    double upperRightLongitude = 138.9174;
    double lowerLeftLatitude = 35.1906;
    double lowerLeftLongitude = 138.5374;
    double lowerRightLatitude = 35.2006;
    double lowerRightLongitude = 138.9174;

    // --- ancillary record 1 (record 3) ---
    std::optional<double> xPixelSize;     // metres; default 2.5 PRISM, 10 AVNIR-2
    std::optional<double> yPixelSize;
    std::optional<double> xPixelSize1B2;  // metres; default as xPixelSize
    std::optional<double> yPixelSize1B2;
    int hemisphereCode = 0;  // 0 north
    int utmZoneNumber = 54;
    double sceneCenterNorthing = 3915.404;  // kilometres
    double sceneCenterEasting = 293.517;    // kilometres
    double projectionCenterLatitude = 35.3606;
    double projectionCenterLongitude = 138.7274;
    double psSceneCenterEasting = -1234.567;   // kilometres
    double psSceneCenterNorthing = -4321.765;  // kilometres
    std::string ellipsoidName = "GRS80";
    double semiMajorAxis = 6378.137;     // kilometres, positions 781-796
    double semiMinorAxis = 6356.752314;  // positions 797-812
    /// Geolocation below Level 1B2: unit u (CCD, band) owns sets 4(u − 1) +
    /// k: latitude(pixel, line), longitude(pixel, line), pixel(lat, lon),
    /// line(lat, lon).  The defaults are distinct placeholders, no geometry.
    CoefficientSets coefficientSets = DefaultCoefficientSets();
    /// The same four roles for a Level 1B2 image (positions 957-1916, 24
    /// characters each); placeholders by default.
    std::array<std::array<double, 10>, 4> level1B2Sets = DefaultLevel1B2Sets();

    // --- ancillary record 2 (record 4), the layout of the product's sensor ---
    PrismAncillary2Recipe prismAncillary2;
    Avnir2Ancillary2Recipe avnir2Ancillary2;

    // --- ancillary record 3 (record 5), platform position ---
    std::string orbitalElementsDesignator = "PRELIMINARY";
    std::array<double, 6> orbitalElements = {7070.123, 0.001, 98.16, 12.5, 90.0, 45.25};
    /// Written, at most 28 of them; the recorded count defaults to their number.
    std::vector<StateVector> dataPoints = DefaultStateVectors();
    std::optional<int> declaredDataPoints;
    int firstPointYear = 2006;
    int firstPointMonth = 10;
    int firstPointDay = 13;
    int firstPointDayOfYear = 286;
    double firstPointSecondOfDay = 7290.0;
    double dataPointInterval = 60.0;
    std::string referenceCoordinateSystem = "ECR";
    double greenwichMeanHourAngle = 123.456789;
    std::array<double, 6> positionVelocityErrors = {10.0, 5.0, 2.5, 0.05, 0.025, 0.0125};
    int leapSecondFlag = 0;
};

void WriteLeaderFile(const std::string& path, const ProductRecipe& product, const std::string& fileId);

/// The sun's elevation and azimuth (degrees, azimuth clockwise from north)
/// seen from latitude, longitude (degrees) at a UTC time: the Astronomical
/// Almanac's low-precision formulae, within 0.01° between 1950 and 2050,
/// without refraction.
void SunPosition(int year, int month, int day, double secondOfDay, double latitude, double longitude,
                 double& elevation, double& azimuth);

/// The "SUN ELggg Ahhh" text of a scene header for the recipe's centre,
/// date and time.
std::string SunAnglesText(const LeaderRecipe& leader);

}  // namespace ceoswriter
