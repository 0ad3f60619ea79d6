// The conventions the reader shares with the sample writer, each checked
// against a fact from outside the project rather than against the writer:
// the ellipsoid (EPSG:7019), the polynomials' record layout, term order,
// set order and pixel origin (the leader's coefficient record as the format
// tables give it, coefficients set here by byte), the line time tags' place
// in the image record prefix, AVNIR-2's de-stagger shift (the format's table
// of shift by pointing angle) and PRISM's 23.8-degree views (their published
// base-to-height ratio of 1.0).  The writer only supplies a product to alter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "DatasetTestSupport.h"
#include "tools/writer/SampleScene.h"

using namespace ceoswriter;
using namespace testing_support;

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;
// GRS80, EPSG:7019: semi-major axis and inverse flattening.
constexpr double kGrs80A = 6378137.0, kGrs80InverseF = 298.257222101;

uint32_t BigEndian(const std::vector<unsigned char>& bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int k = 0; k < size; ++k) value = value << 8 | bytes[at + static_cast<size_t>(k)];
    return value;
}

double BigEndianDouble(const std::vector<unsigned char>& bytes, size_t at) {
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = bits << 8 | bytes[at + static_cast<size_t>(k)];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string BigEndianBytes(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::string bytes(8, '\0');
    for (int k = 7; k >= 0; --k, bits >>= 8) bytes[static_cast<size_t>(k)] = static_cast<char>(bits & 0xFF);
    return bytes;
}

void EarthFixed(double latitude, double longitude, double height, double p[3]) {
    const double f = 1.0 / kGrs80InverseF, e2 = f * (2 - f);
    const double phi = latitude * kDeg, lambda = longitude * kDeg;
    const double n = kGrs80A / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
    p[0] = (n + height) * std::cos(phi) * std::cos(lambda);
    p[1] = (n + height) * std::cos(phi) * std::sin(lambda);
    p[2] = (n * (1 - e2) + height) * std::sin(phi);
}

/// Height above GRS80 of an Earth-fixed point (Bowring's closed form, within
/// a few millimetres at satellite heights).
double HeightOf(const double p[3]) {
    const double f = 1.0 / kGrs80InverseF, b = kGrs80A * (1 - f), e2 = f * (2 - f), ep2 = e2 / (1 - e2);
    const double r = std::hypot(p[0], p[1]), theta = std::atan2(p[2] * kGrs80A, r * b);
    const double phi = std::atan2(p[2] + ep2 * b * std::pow(std::sin(theta), 3),
                                  r - e2 * kGrs80A * std::pow(std::cos(theta), 3));
    const double n = kGrs80A / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
    return r / std::cos(phi) - n;
}

/// The format's cubic: a0 + a1 x + a2 y + a3 xy + a4 x² + a5 y² + a6 x²y +
/// a7 xy² + a8 x³ + a9 y³.
double Cubic(const double* a, double x, double y) {
    return a[0] + a[1] * x + a[2] * y + a[3] * x * y + a[4] * x * x + a[5] * y * y + a[6] * x * x * y +
           a[7] * x * y * y + a[8] * x * x * x + a[9] * y * y * y;
}

double FromLine(const double s[3], const double u[3], const double p[3]) {
    const double d[3] = {p[0] - s[0], p[1] - s[1], p[2] - s[2]};
    return std::sqrt(std::pow(d[1] * u[2] - d[2] * u[1], 2) + std::pow(d[2] * u[0] - d[0] * u[2], 2) +
                     std::pow(d[0] * u[1] - d[1] * u[0], 2));
}

/// An image file's records: the length of each (the first record's header,
/// bytes 9-12, is the file descriptor's; the next one's an image record's).
struct ImageRecords {
    std::vector<unsigned char> bytes;
    size_t first = 0, length = 0, count = 0;
    explicit ImageRecords(const std::string& path) : bytes(ReadFileBytes(path)) {
        first = BigEndian(bytes, 8, 4);
        length = BigEndian(bytes, first + 8, 4);
        count = (bytes.size() - first) / length;
    }
    size_t At(size_t record) const { return first + record * length; }
    /// The line's time tag: milliseconds of day (bytes 21-24), microseconds (25-26).
    double Seconds(size_t record) const {
        return BigEndian(bytes, At(record) + 20, 4) / 1e3 + BigEndian(bytes, At(record) + 24, 2) / 1e6;
    }
};

}  // namespace

// The reader's ellipsoid is GRS80: the satellite's height it states is the
// position's height above EPSG:7019; the ray it reports passes through the
// polynomials' ground point and the point it gives 3 km up, both placed on
// EPSG:7019 here; and at height 0 (the polynomials' surface, the ellipsoid
// by the format notes) it answers as the polynomials do.
TEST(Conventions, TheEllipsoidIsGrs80AndThePolynomialsLieOnIt) {
    OpenedSample sample({Sensor::Prism, 1, SampleSize::Tiny});
    CeosAlosjDataset& product = *sample.product;
    const double x = product.GetSceneWidth() * 0.3, y = product.GetSceneHeight() * 0.7;
    CeosAlosjLineOfSight sight;
    ASSERT_EQ(product.GetLineOfSight(0, x, y, &sight), ALOSJ_SENSOR_OK);
    EXPECT_NEAR(sight.satelliteHeight, HeightOf(sight.position), 0.01);

    double latitude, longitude, up[3], ground[3];
    ASSERT_EQ(product.PixelToLatLon(0, x, y, &latitude, &longitude), ALOSJ_LOCATE_OK);
    EarthFixed(latitude, longitude, 0.0, ground);
    EXPECT_LT(FromLine(sight.position, sight.look, ground), 0.01);
    double upLatitude, upLongitude;
    ASSERT_EQ(product.PixelHeightToLatLon(0, x, y, 3000.0, &upLatitude, &upLongitude), ALOSJ_SENSOR_OK);
    EarthFixed(upLatitude, upLongitude, 3000.0, up);
    EXPECT_LT(FromLine(sight.position, sight.look, up), 0.01);

    double atZeroLatitude, atZeroLongitude;
    ASSERT_EQ(product.PixelHeightToLatLon(0, x, y, 0.0, &atZeroLatitude, &atZeroLongitude), ALOSJ_SENSOR_OK);
    EXPECT_NEAR(atZeroLatitude, latitude, 1e-9);
    EXPECT_NEAR(atZeroLongitude, longitude, 1e-9);
}

// The leader's coefficient record (record 3 at byte 9360): set j = 4(u - 1)
// + k of unit u at bytes 1965 + 80j, ten big-endian doubles a0..a9 of
// a0 + a1 x + a2 y + a3 xy + a4 x² + a5 y² + a6 x²y + a7 xy² + a8 x³ + a9 y³,
// k = 0 latitude and 1 longitude of (x = pixel, y = line), pixels counted
// within the stored line from its first (dummy) pixel and lines from the
// first image record, 0 at the first one's left or top edge (GDAL's
// convention).  CCD 3's sets are rewritten here with their own cubic terms,
// which the reader must evaluate as Cubic above writes the format's cubic out.
TEST(Conventions, ThePolynomialsAreReadInTheFormatsTermOrderSetOrderAndOrigin) {
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    WrittenProduct written(scene.Product());
    const std::vector<unsigned char> leader = ReadFileBytes(written.files.leader);
    const int ccd = 3;
    double sets[2][10];
    for (int k = 0; k < 2; ++k) {
        const size_t at = 9360 + 1964 + 80 * (4 * (ccd - 1) + k);
        for (int n = 0; n < 3; ++n) sets[k][n] = BigEndianDouble(leader, at + 8 * static_cast<size_t>(n));
        // Distinct higher terms, each worth metres over the image.
        const double higher[7] = {1e-9, 2e-9, 3e-9, 4e-12, 5e-12, 6e-12, 7e-12};
        for (int n = 3; n < 10; ++n) sets[k][n] = higher[n - 3] * (k ? -1.0 : 1.0);
        std::string bytes;
        for (double a : sets[k]) bytes += BigEndianBytes(a);
        PatchFile(written.files.leader, static_cast<long>(at), bytes);
    }
    const ImageRecords image(written.files.images[ccd - 1]);
    const double leftDummy = BigEndian(image.bytes, image.At(0) + 26, 4);
    ASSERT_EQ(BigEndian(image.bytes, image.At(image.count - 1) + 26, 4), leftDummy);

    auto product = OpenAndRead(written.files.volume, ccd);
    const double x = product->GetSceneWidth() * 0.8, y = product->GetSceneHeight() * 0.25;
    const double p = x + leftDummy, l = y;
    double latitude, longitude;
    ASSERT_EQ(product->PixelToLatLon(0, x, y, &latitude, &longitude), ALOSJ_LOCATE_OK);
    EXPECT_NEAR(latitude, Cubic(sets[0], p, l), 1e-10);
    EXPECT_NEAR(longitude, Cubic(sets[1], p, l), 1e-10);
}

// Level 1B2: the image's sets as four groups of ten ASCII E24 numbers from
// byte 957 of record 3 (group g, term n at 957 + 240g + 24n), latitude then
// longitude first, in the same term order.
TEST(Conventions, Level1B2PolynomialsAreReadFromTheFormatsTextGroups) {
    const SampleScene scene({Sensor::Prism, 2, SampleSize::Tiny});
    WrittenProduct written(scene.Product());
    const std::vector<unsigned char> leader = ReadFileBytes(written.files.leader);
    double sets[2][10];
    for (int g = 0; g < 2; ++g) {
        const size_t at = 9360 + 956 + 240 * static_cast<size_t>(g);
        for (int n = 0; n < 3; ++n)
            sets[g][n] = std::stod(std::string(leader.begin() + static_cast<long>(at + 24 * static_cast<size_t>(n)),
                                               leader.begin() + static_cast<long>(at + 24 * static_cast<size_t>(n) + 24)));
        const double higher[7] = {1e-9, 2e-9, 3e-9, 4e-12, 5e-12, 6e-12, 7e-12};
        std::string text;
        for (int n = 0; n < 10; ++n) {
            if (n >= 3) sets[g][n] = higher[n - 3] * (g ? -1.0 : 1.0);
            char field[32];
            std::snprintf(field, sizeof field, "%24.15E", sets[g][n]);
            text += field;
        }
        PatchFile(written.files.leader, static_cast<long>(at), text);
    }
    auto product = OpenAndRead(written.files.volume);
    const double x = product->GetSceneWidth() * 0.8, y = product->GetSceneHeight() * 0.25;
    // The sample's 1B2 rows are its whole stored lines: no dummy pixels.
    const ImageRecords image(written.files.images[0]);
    ASSERT_EQ(BigEndian(image.bytes, image.At(static_cast<size_t>(y)) + 26, 4), 0u);
    double latitude, longitude;
    ASSERT_EQ(product->PixelToLatLon(0, x, y, &latitude, &longitude), ALOSJ_LOCATE_OK);
    EXPECT_NEAR(latitude, Cubic(sets[0], x, y), 1e-10);
    EXPECT_NEAR(longitude, Cubic(sets[1], x, y), 1e-10);
}

// A line's time is the time tag of its image record (milliseconds of day in
// bytes 21-24, microseconds in 25-26), read here from the file; it holds at
// the line's centre, row k + 0.5 (the first and the last line's tags), and
// the times between follow the lines evenly.
TEST(Conventions, ALinesTimeIsItsRecordsTimeTagAtTheLinesCentre) {
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    WrittenProduct written(scene.Product());
    const int ccd = 2;
    const ImageRecords image(written.files.images[ccd - 1]);
    auto product = OpenAndRead(written.files.volume, ccd);
    ASSERT_EQ(static_cast<size_t>(product->GetSceneHeight()), image.count);
    const double first = image.Seconds(0), last = image.Seconds(image.count - 1);
    ASSERT_GT(last, first);
    const double x = product->GetSceneWidth() / 2.0;
    for (const double row : {0.5, image.count - 0.5, 0.0}) {
        CeosAlosjLineOfSight sight;
        ASSERT_EQ(product->GetLineOfSight(0, x, row, &sight), ALOSJ_SENSOR_OK);
        const double expected = first + (row - 0.5) * (last - first) / static_cast<double>(image.count - 1);
        EXPECT_NEAR(sight.secondsOfSceneDate, expected, 1e-7) << row;
    }
}

// AVNIR-2 Level 1B1: the odd detectors' bytes of a row come from the line
// as many lines further down as the format's table gives for the scene
// header's pointing angle (bytes 373-388): 5 lines up to 23.3 degrees, 6 up
// to 35.3, 7 up to 44; the parity counts from the row's first pixel.  Each
// image record of band 1 is filled here with its own line's value.
TEST(Conventions, Avnir2RowsAreDestaggeredByTheFormatsShiftForThePointing) {
    const struct {
        double pointing;
        int shift;
    } cases[] = {{-23.0, 5}, {24.0, 6}, {-35.0, 6}, {36.0, 7}};  // each side of each bound
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pointing);
        SampleOptions options{Sensor::Avnir2, 1, SampleSize::Tiny};
        options.pointing = c.pointing;
        const SampleScene scene(options);
        WrittenProduct written(scene.Product());
        ImageRecords image(written.files.images[0]);
        auto valueOf = [](size_t line) { return static_cast<unsigned char>(line * 37 % 251 + 1); };
        for (size_t k = 0; k < image.count; ++k)
            std::fill(image.bytes.begin() + static_cast<long>(image.At(k) + 34),
                      image.bytes.begin() + static_cast<long>(image.At(k) + image.length), valueOf(k));
        WriteFileBytes(written.files.images[0], image.bytes);
        auto product = OpenAndRead(written.files.volume);
        const long width = product->GetSceneWidth();
        for (const size_t row : {size_t{0}, size_t{3}}) {
            const std::vector<unsigned char> pixels = Row(*product, 0, static_cast<unsigned long>(row));
            ASSERT_GE(pixels.size(), static_cast<size_t>(width));
            ASSERT_LT(row + static_cast<size_t>(c.shift), image.count);
            for (long column = 0; column < width; column += 1 + 36 * (column % 2))
                ASSERT_EQ(pixels[static_cast<size_t>(column)],
                          valueOf(column % 2 ? row + static_cast<size_t>(c.shift) : row))
                    << "column " << column << ", row " << row;
        }
    }
}

// PRISM's forward and backward telescopes look 23.8 degrees ahead and behind,
// which the published base-to-height ratio of the pair, 1.0, reflects (23.8
// degrees from 691.65 km on a 6371 km Earth: 0.989; 23.5 or 24.5 degrees
// would give 0.974 or 1.022).  At Level 1B2 the reader finds when the
// satellite sees a point under its view's angle; the satellite's positions
// for one ground point in a forward and a backward product are its base.
TEST(Conventions, ForwardAndBackwardViewsMakeTheirPublishedBaseToHeightRatio) {
    double position[2][3], height[2];
    double latitude = 0, longitude = 0;
    for (int k = 0; k < 2; ++k) {
        SampleOptions options{Sensor::Prism, 2, SampleSize::Tiny};
        options.view = k ? View::Backward : View::Forward;
        OpenedSample sample(options);
        CeosAlosjDataset& product = *sample.product;
        double x = product.GetSceneWidth() / 2.0, y = product.GetSceneHeight() / 2.0;
        if (k == 0)
            ASSERT_EQ(product.PixelToLatLon(0, x, y, &latitude, &longitude), ALOSJ_LOCATE_OK);
        else
            ASSERT_EQ(product.LatLonToPixel(0, latitude, longitude, &x, &y), ALOSJ_LOCATE_OK);
        CeosAlosjLineOfSight sight;
        ASSERT_EQ(product.GetLineOfSight(0, x, y, &sight), ALOSJ_SENSOR_OK);
        std::memcpy(position[k], sight.position, sizeof position[k]);
        height[k] = sight.satelliteHeight;
    }
    const double base = std::sqrt(std::pow(position[0][0] - position[1][0], 2) +
                                  std::pow(position[0][1] - position[1][1], 2) +
                                  std::pow(position[0][2] - position[1][2], 2));
    EXPECT_NEAR(base / ((height[0] + height[1]) / 2), 1.0, 0.02);
}
