#include "tools/writer/LeaderWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

namespace {

constexpr size_t kRecordLength = 4680;
constexpr uint64_t kSceneHeaderOffset = 4680;
constexpr uint64_t kAncillary1Offset = 9360;
constexpr uint64_t kAncillary2Offset = 14040;
constexpr uint64_t kAncillary3Offset = 18720;
constexpr int kMaxDataPoints = 28;

constexpr RecordType kSceneHeaderType = {0x12, 0x0A, 0x12, 0x14};
constexpr RecordType kMapProjectionType = {0x12, 0x14, 0x12, 0x14};
constexpr RecordType kSensorAncillaryType = {0x12, 0x3C, 0x12, 0x14};
constexpr RecordType kPlatformPositionType = {0x12, 0x1E, 0x12, 0x14};

int SceneLines(const ProductRecipe& product) {
    return product.leader.numberOfLines.value_or(product.image.lines);
}

int ScenePixels(const ProductRecipe& product) {
    return product.leader.pixelsPerLine.value_or(product.image.pixelsPerLine);
}

std::string ProductIdText(const ProductRecipe& product) {
    std::string id = product.leader.productId.value_or(product.processingSuffix);
    if (product.leader.geocodingLetter) {
        if (id.size() < 5) id.resize(5, '_');
        id[4] = *product.leader.geocodingLetter;
    }
    return id;
}

Record FileDescriptor(const ProductRecipe& product, const std::string& fileId) {
    Record record = FileDescriptorRecord(kRecordLength, product, 1, fileId);
    record.Int(181, 6, 1)                       // data set summary records
        .Int(187, 6, static_cast<long long>(kRecordLength))
        .Int(193, 6, 1)                         // map projection records
        .Int(199, 6, static_cast<long long>(kRecordLength))
        .Int(205, 6, 1)                         // platform position records
        .Int(211, 6, static_cast<long long>(kRecordLength));
    // Eleven 16-byte field locators, 217-392: start, length, a code, a type letter.
    for (int g = 0; g < 11; ++g) {
        const int group = 217 + 16 * g;
        record.Int(group, 6, 21 + 16 * g).Int(group + 6, 6, 16 + g).Int(group + 12, 3, g + 1)
            .Ascii(group + 15, 1, g % 2 ? "N" : "A");
    }
    return record;
}

Record SceneHeader(const ProductRecipe& product) {
    const LeaderRecipe& leader = product.leader;
    const int lines = SceneLines(product);
    const int pixels = ScenePixels(product);
    Record record(kRecordLength);
    record.Header(2, kSceneHeaderType)
        .Int(13, 4, 1)
        .Ascii(21, 16, ProductIdText(product))
        .Ascii(37, 16, product.sceneId)
        .Real(53, 16, leader.sceneCenterLatitude, 7)
        .Real(69, 16, leader.sceneCenterLongitude, 7)
        .Real(85, 16, leader.sceneCenterLine.value_or((lines + 1) / 2.0), 1)
        .Real(101, 16, leader.sceneCenterPixel.value_or((pixels + 1) / 2.0), 1)
        .Ascii(117, 32, leader.sceneCenterTime)
        .Int(149, 16, 388)                         // orbit path
        .Ascii(165, 16, leader.rspId)
        .Int(181, 16, 3886)                        // orbit revolution
        .Ascii(197, 16, product.level == 2 ? product.sceneId : "")
        .Real(213, 16, product.level == 2 ? leader.sceneCenterLatitude : 0.0, 7)
        .Real(229, 16, product.level == 2 ? leader.sceneCenterLongitude : 0.0, 7)
        .Real(245, 16, product.level == 2 ? leader.sceneCenterLine.value_or((lines + 1) / 2.0) : 0.0, 1)
        .Real(261, 16, product.level == 2 ? leader.sceneCenterPixel.value_or((pixels + 1) / 2.0) : 0.0, 1)
        .Ascii(277, 16, leader.orientationAngle)
        .Ascii(293, 16, leader.incidenceAngle)
        .Ascii(309, 16, "ALOS")
        .Ascii(325, 16, product.IsPrism() ? "PRISM" : "AVNIR-2")
        .Int(341, 16, leader.orbitNumber)
        .Ascii(357, 16, leader.orbitDirection)
        .Ascii(373, 16, leader.offNadirAngle)
        .Ascii(389, 1, "A")
        .Ascii(401, 8, leader.sceneDate)
        .Ascii(409, 17, "HATOYAMA")
        .Ascii(443, 10, product.IsPrism() ? "PSM N" : "AV2 1234")
        .Ascii(453, 14, leader.sunAngles.value_or(SunAnglesText(leader)))
        .Ascii(467, 12, leader.processingCode)
        .Ascii(479, 12, "")
        .Ascii(491, 16, leader.workOrderSceneId.value_or(product.IsPrism() ? "ALOS PRISM" : "ALOS AVNIR-2"))
        .Int(1413, 16, product.ImageCount())
        .Int(1429, 16, pixels)
        .Int(1445, 16, lines)
        .Int(1493, 16, 8)                          // bits per pixel
        .Ascii(1525, 16, "CORRECTED")
        .Ascii(1541, 16, leader.resamplingMethod.value_or(product.level == 2 ? "NNYNN" : "NNNNN"))
        .Ascii(1557, 16, leader.mapProjectionFlags)
        .Ascii(1573, 16, "NORTH UP")
        .Int(1589, 16, 0)
        .Int(1605, 16, 0)
        .Int(1653, 4, 1)
        .Ascii(1717, 16, "GRS80")
        .Real(1733, 16, leader.upperLeftLatitude, 7)
        .Real(1749, 16, leader.upperLeftLongitude, 7)
        .Real(1765, 16, leader.upperRightLatitude, 7)
        .Real(1781, 16, leader.upperRightLongitude, 7)
        .Real(1797, 16, leader.lowerLeftLatitude, 7)
        .Real(1813, 16, leader.lowerLeftLongitude, 7)
        .Real(1829, 16, leader.lowerRightLatitude, 7)
        .Real(1845, 16, leader.lowerRightLongitude, 7);
    const int quality[6] = {1, 1, 0, 2, 0, 1};  // six 2-digit flags at 1861-1872
    for (int k = 0; k < 6; ++k) record.Int(1861 + 2 * k, 2, quality[k]);
    record.Ascii(1873, 3, "   ").Int(1876, 2, 10);
    return record;
}

Record Ancillary1(const ProductRecipe& product) {
    const LeaderRecipe& leader = product.leader;
    const double pixelSize = product.IsPrism() ? 2.5 : 10.0;
    const double xSize = leader.xPixelSize.value_or(pixelSize);
    const double ySize = leader.yPixelSize.value_or(pixelSize);
    Record record(kRecordLength);
    record.Header(3, kMapProjectionType)
        .Int(13, 16, ScenePixels(product))
        .Int(29, 16, SceneLines(product))
        .Real(45, 16, xSize, 6)
        .Real(61, 16, ySize, 6)
        .Real(77, 16, -1.25, 6)                 // orientation angle
        .Int(93, 4, leader.hemisphereCode)
        .Int(97, 12, leader.utmZoneNumber)
        .Real(141, 16, leader.sceneCenterNorthing, 6)
        .Real(157, 16, leader.sceneCenterEasting, 6)
        .Real(205, 16, 0.9996, 6)               // scale factor
        .Real(333, 16, leader.projectionCenterLatitude, 7)
        .Real(349, 16, leader.projectionCenterLongitude, 7)
        .Real(365, 16, 0.0, 6)
        .Real(381, 16, 141.0, 6)                // zone's central meridian
        .Real(429, 16, leader.psSceneCenterEasting, 6)
        .Real(445, 16, leader.psSceneCenterNorthing, 6)
        .Real(493, 16, 90.0, 6)
        .Real(509, 16, 0.0, 6)
        .Real(525, 16, 1.0, 6)
        .Real(541, 16, leader.xPixelSize1B2.value_or(xSize), 6)
        .Real(557, 16, leader.yPixelSize1B2.value_or(ySize), 6);
    const double affine[6] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};  // six values at 621-716
    for (int k = 0; k < 6; ++k) record.Real(621 + 16 * k, 16, affine[k], 6);
    record.Real(733, 16, 0.0, 6)
        .Real(749, 16, 0.0, 6)
        .Ascii(765, 16, leader.ellipsoidName)
        .Real(781, 16, leader.semiMajorAxis, 6)
        .Real(797, 16, leader.semiMinorAxis, 6)
        .Ascii(813, 16, "ITRF97");
    // The Level 1B2 geolocation: four groups of ten 24-character values
    // (957-1916); six 8-byte values (1917-1964) that the readers leave alone.
    for (int g = 0; g < 4; ++g)
        for (int k = 0; k < 10; ++k) record.RealE(957 + 240 * g + 24 * k, 24, leader.level1B2Sets[g][k], 15);
    for (int k = 0; k < 6; ++k) record.BinDouble(1917 + 8 * k, -0.25 * k);
    for (int j = 0; j < 32; ++j)
        for (int n = 0; n < 10; ++n) record.BinDouble(1965 + 80 * j + 8 * n, leader.coefficientSets[j][n]);
    return record;
}

Record PrismAncillary2(const PrismAncillary2Recipe& recipe) {
    Record record(kRecordLength);
    record.Header(4, kSensorAncillaryType)
        .Ascii(13, 4, recipe.sensorOperationMode)
        .Int(17, 4, recipe.correctedLevelLower)
        .Int(21, 4, recipe.correctedLevelUpper)
        .Ascii(57, 6, recipe.text57)
        .Ascii(63, 1, recipe.compressionMode);
    for (int k = 0; k < 2; ++k) record.Real(79 + 8 * k, 8, recipe.temperatures[k], 3);
    for (int k = 0; k < 2; ++k) record.Real(2703 + 8 * k, 8, recipe.calibration[k], 4);
    return record;
}

Record Avnir2Ancillary2(const Avnir2Ancillary2Recipe& recipe) {
    Record record(kRecordLength);
    record.Header(4, kSensorAncillaryType)
        .Ascii(13, 4, recipe.sensorOperationMode)
        .Int(17, 4, recipe.correctedLevelLower)
        .Int(21, 4, recipe.correctedLevelUpper);
    for (int k = 0; k < 4; ++k) record.Int(25 + 5 * k, 5, recipe.exposureCoefficients[k]);
    record.Ascii(57, 6, recipe.sensorGains);
    for (int k = 0; k < 9; ++k) record.Real(79 + 8 * k, 8, recipe.temperatures[k], 3);
    for (int k = 0; k < 8; ++k) record.Real(2703 + 8 * k, 8, recipe.calibration[k], 4);
    return record;
}

Record Ancillary3(const LeaderRecipe& leader) {
    if (leader.dataPoints.size() > kMaxDataPoints)
        throw std::length_error("a platform position record holds at most 28 data points");
    const int points = static_cast<int>(leader.dataPoints.size());
    Record record(kRecordLength);
    record.Header(5, kPlatformPositionType).Ascii(13, 32, leader.orbitalElementsDesignator);
    for (int k = 0; k < 6; ++k) record.Real(45 + 16 * k, 16, leader.orbitalElements[k], 6);
    record.Int(141, 4, leader.declaredDataPoints.value_or(points))
        .Int(145, 4, leader.firstPointYear)
        .Int(149, 4, leader.firstPointMonth)
        .Int(153, 4, leader.firstPointDay)
        .Int(157, 4, leader.firstPointDayOfYear)
        .RealE(161, 22, leader.firstPointSecondOfDay, 15)
        .RealE(183, 22, leader.dataPointInterval, 15)
        .Ascii(205, 64, leader.referenceCoordinateSystem)
        .RealE(269, 22, leader.greenwichMeanHourAngle, 15);
    for (int k = 0; k < 6; ++k) record.Real(291 + 16 * k, 16, leader.positionVelocityErrors[k], 6);
    for (int c = 0; c < points; ++c) {
        const StateVector& v = leader.dataPoints[c];
        const double values[6] = {v.x, v.y, v.z, v.vx, v.vy, v.vz};
        for (int k = 0; k < 6; ++k) record.RealE(387 + 132 * c + 22 * k, 22, values[k], 15);
    }
    record.Int(4101, 1, leader.leapSecondFlag);
    return record;
}

}  // namespace

CoefficientSets DefaultCoefficientSets() {
    CoefficientSets sets{};
    for (int j = 0; j < 32; ++j)
        for (int n = 0; n < 10; ++n) sets[j][n] = (n % 2 ? -1.0 : 1.0) * (1000.0 * (j + 1) + n + 0.25);
    return sets;
}

std::vector<StateVector> DefaultStateVectors(int count) {
    // A circular orbit of 7070 km radius, inclined 98.16°, period 5900 s.
    const double pi = 3.14159265358979323846;
    const double radius = 7070000.0;
    const double inclination = 98.16 * pi / 180.0;
    const double rate = 2.0 * pi / 5900.0;
    std::vector<StateVector> points;
    for (int c = 0; c < count; ++c) {
        const double angle = 0.35 + rate * 60.0 * c;
        const double speed = radius * rate;
        points.push_back({radius * std::cos(angle), radius * std::sin(angle) * std::cos(inclination),
                          radius * std::sin(angle) * std::sin(inclination), -speed * std::sin(angle),
                          speed * std::cos(angle) * std::cos(inclination),
                          speed * std::cos(angle) * std::sin(inclination)});
    }
    return points;
}

void WriteLeaderFile(const std::string& path, const ProductRecipe& product, const std::string& fileId) {
    FileWriter out(path);
    out.Write(0, FileDescriptor(product, fileId));
    out.Write(kSceneHeaderOffset, SceneHeader(product));
    out.Write(kAncillary1Offset, Ancillary1(product));
    out.Write(kAncillary2Offset, product.IsPrism() ? PrismAncillary2(product.leader.prismAncillary2)
                                                   : Avnir2Ancillary2(product.leader.avnir2Ancillary2));
    out.Write(kAncillary3Offset, Ancillary3(product.leader));
}

std::array<std::array<double, 10>, 4> DefaultLevel1B2Sets() {
    std::array<std::array<double, 10>, 4> sets{};
    for (int g = 0; g < 4; ++g)
        for (int k = 0; k < 10; ++k) sets[g][k] = 0.5 * (10 * g + k);
    return sets;
}

void SunPosition(int year, int month, int day, double secondOfDay, double latitude, double longitude,
                 double& elevation, double& azimuth) {
    constexpr double kDeg = 3.14159265358979323846 / 180.0;
    // Days from J2000.0 (2000-01-01 12:00 UTC), by the Julian day number.
    const int a = (14 - month) / 12, y = year + 4800 - a, m = month + 12 * a - 3;
    const long julianDayNumber = day + (153 * m + 2) / 5 + 365L * y + y / 4 - y / 100 + y / 400 - 32045;
    const double n = (julianDayNumber - 2451545) + (secondOfDay - 43200.0) / 86400.0;
    // The sun's ecliptic longitude, the obliquity, right ascension and declination.
    const double meanLongitude = 280.460 + 0.9856474 * n;
    const double anomaly = (357.528 + 0.9856003 * n) * kDeg;
    const double lambda = (meanLongitude + 1.915 * std::sin(anomaly) + 0.020 * std::sin(2 * anomaly)) * kDeg;
    const double epsilon = (23.439 - 0.0000004 * n) * kDeg;
    const double rightAscension = std::atan2(std::cos(epsilon) * std::sin(lambda), std::cos(lambda));
    const double declination = std::asin(std::sin(epsilon) * std::sin(lambda));
    // The hour angle from Greenwich mean sidereal time.
    const double siderealDegrees = std::fmod(280.46061837 + 360.98564736629 * n, 360.0);
    const double hourAngle = (siderealDegrees + longitude) * kDeg - rightAscension;
    const double phi = latitude * kDeg;
    elevation = std::asin(std::sin(phi) * std::sin(declination) +
                          std::cos(phi) * std::cos(declination) * std::cos(hourAngle)) / kDeg;
    azimuth = std::atan2(-std::sin(hourAngle),
                         std::tan(declination) * std::cos(phi) - std::sin(phi) * std::cos(hourAngle)) / kDeg;
    if (azimuth < 0) azimuth += 360.0;
}

std::string SunAnglesText(const LeaderRecipe& leader) {
    // The scene centre time's digits: yyyymmddhhmmss, milliseconds, microseconds.
    const std::string& t = leader.sceneCenterTime;
    auto digits = [&](size_t start, size_t count) {
        return t.size() >= start + count ? std::atoi(t.substr(start, count).c_str()) : 0;
    };
    const double second = digits(8, 2) * 3600.0 + digits(10, 2) * 60.0 + digits(12, 2) + digits(14, 3) / 1000.0;
    double elevation = 0.0, azimuth = 0.0;
    SunPosition(digits(0, 4), digits(4, 2), digits(6, 2), second, leader.sceneCenterLatitude,
                leader.sceneCenterLongitude, elevation, azimuth);
    char text[32];
    std::snprintf(text, sizeof text, "SUN EL%03d A%03d", static_cast<int>(std::lround(std::max(0.0, elevation))),
                  static_cast<int>(std::lround(azimuth)) % 360);
    return text;
}

}  // namespace ceoswriter
