// Geolocation by the processor's polynomials: a raster position is taken
// back to the image file and stored position its byte came from, where the
// polynomials of that file's unit (PRISM CCD, AVNIR-2 band; the Level 1B2
// image) give latitude and longitude; the inverse starts from the supplied
// inverse polynomials and is refined with the forward ones.
#include <algorithm>
#include <cmath>

#include "dataset/DatasetState.h"
#include "host/terr.h"

namespace {

/// The polynomials' argument of the left (top) edge of the first stored
/// pixel (image record): positions are continuous, as GDAL counts them.
/// Reading them as 1-based pixel centres would add 0.5 here and place every
/// position half a pixel to one pixel away.
constexpr double kPolynomialOrigin = 0.0;

constexpr double kConvergencePixels = 0.001;
constexpr int kMaxIterations = 40;
/// A unit whose forward polynomials place its corners further than this
/// from the scene's corners is not believed (degrees).
constexpr double kBelievableDistance = 2.0;
/// Steps of the grid over a unit's share of the raster on which its
/// polynomials are checked.
constexpr int kCheckSteps = 16;
/// The least ground a pixel covers, in square degrees (about a square
/// centimetre at the equator); less is a raster collapsed to a line or point.
constexpr double kLeastPixelArea = 1e-14;

/// a0 + a1·x + a2·y + a3·x·y + a4·x² + a5·y² + a6·x²·y + a7·x·y² + a8·x³ + a9·y³.
double Evaluate(const double* a, double x, double y) {
    return a[0] + a[1] * x + a[2] * y + a[3] * x * y + a[4] * x * x + a[5] * y * y + a[6] * x * x * y +
           a[7] * x * y * y + a[8] * x * x * x + a[9] * y * y * y;
}

void Gradient(const double* a, double x, double y, double& dx, double& dy) {
    dx = a[1] + a[3] * y + 2 * a[4] * x + 2 * a[6] * x * y + a[7] * y * y + 3 * a[8] * x * x;
    dy = a[2] + a[3] * x + 2 * a[5] * y + a[6] * x * x + 2 * a[7] * x * y + 3 * a[9] * y * y;
}

}  // namespace

namespace {

/// The units of the raster of band, one per image file of its row layout;
/// empty when there are none.
std::vector<GeolocationUnit> UnitsOf(CeosAlosjDataset::State& s, int band, long height) {
    std::vector<GeolocationUnit> units;
    if (!s.leaderFile || s.imageFiles.empty()) return units;
    const AlosjLeaderFileAncillary1& a = s.leaderFile->Ancillary1();
    auto ownSets = [&](GeolocationUnit& unit, long number) {
        if (number < 1 || 4 * number > AlosjLeaderFileAncillary1::kCoefficientSets) return false;
        const long j = 4 * (number - 1);
        unit.latitude = a.coefficientSets[j];
        unit.longitude = a.coefficientSets[j + 1];
        unit.pixel = a.coefficientSets[j + 2];
        unit.line = a.coefficientSets[j + 3];
        return true;
    };
    const BandLayout& layout = s.Layout(band, false);  // the left cuts and shares
    for (const RowPart& part : layout.parts) {
        GeolocationUnit unit;
        unit.file = part.file;
        unit.firstColumn = static_cast<double>(part.firstColumn);
        unit.endColumn = static_cast<double>(part.firstColumn + part.columnCount);
        if (s.IsLevel1B2()) {
            // One set for the image, its rows cut line by line unless geocoded.
            unit.latitude = a.level1B2Sets[0];
            unit.longitude = a.level1B2Sets[1];
            unit.pixel = a.level1B2Sets[2];
            unit.line = a.level1B2Sets[3];
            unit.rowCut = layout.widthsPerLine;
            unit.lastRow = std::max(0L, height - 1);
        } else {
            // A set per CCD file (by its number) or AVNIR-2 band.
            unit.columnOffset = static_cast<double>(part.firstColumn - part.leftSkip);
            if (!ownSets(unit, s.IsPrism() ? part.image->GetCcdNumber() : band + 1)) continue;
        }
        units.push_back(unit);
    }
    return units;
}

/// Raster column → stored pixel of the unit, at raster row y.
double StoredPixel(const GeolocationUnit& unit, double x, double y) {
    return x - unit.columnOffset + unit.LeftCut(y) + kPolynomialOrigin;
}

double RasterColumn(const GeolocationUnit& unit, double storedPixel, double y) {
    return storedPixel - kPolynomialOrigin + unit.columnOffset - unit.LeftCut(y);
}

void Forward(const GeolocationUnit& unit, double x, double y, double& latitude, double& longitude) {
    const double p = StoredPixel(unit, x, y), l = y + kPolynomialOrigin;
    latitude = Evaluate(unit.latitude, p, l);
    longitude = Evaluate(unit.longitude, p, l);
}

bool AllFinite(const double* a) {
    for (int n = 0; n < AlosjLeaderFileAncillary1::kCoefficientTerms; ++n)
        if (!std::isfinite(a[n])) return false;
    return true;
}

/// A latitude and longitude within range: finite, latitude within ±90°,
/// longitude within ±360° (beyond ±180° it goes on round).  Unlike the
/// tools' test of a place, (0, 0) passes: a polynomial is judged by its
/// distance from the scene's corners.
bool IsWithinLatLonRange(double latitude, double longitude) {
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90 &&
           std::fabs(longitude) <= 360;
}

/// What the polynomials of a unit are worth.
enum class Soundness {
    Sound,
    Missing,    // not finite, or the unit's corners are not near the scene's: placeholders
    OffScene,   // corners near the scene, but positions inside off the Earth or far from it
    Collapsed,  // corners near the scene, but the raster collapsed to a line or point, or folded
};

/// Polynomials that are finite, place the unit's corners near the scene's
/// corners (as the scene header gives them), and every position of a grid
/// over the unit's share of the raster on the Earth, within the scene's
/// reach, and in a geometry that neither collapses nor folds.
Soundness Judge(const CeosAlosjDataset& dataset, const GeolocationUnit& unit) {
    if (!AllFinite(unit.latitude) || !AllFinite(unit.longitude) || !AllFinite(unit.pixel) ||
        !AllFinite(unit.line))
        return Soundness::Missing;
    double lat[4], lon[4];
    dataset.GetULCornerLatLon(&lat[0], &lon[0]);
    dataset.GetURCornerLatLon(&lat[1], &lon[1]);
    dataset.GetLRCornerLatLon(&lat[2], &lon[2]);
    dataset.GetLLCornerLatLon(&lat[3], &lon[3]);
    auto nearestCorner = [&](double la, double lo) {
        double nearest = HUGE_VAL;
        for (int c = 0; c < 4; ++c) nearest = std::min(nearest, std::hypot(la - lat[c], lo - lon[c]));
        return nearest;
    };
    const double height = static_cast<double>(dataset.GetSceneHeight());
    for (double x : {unit.firstColumn, unit.endColumn})
        for (double y : {0.0, height}) {
            double la, lo;
            Forward(unit, x, y, la, lo);
            if (!IsWithinLatLonRange(la, lo) || !(nearestCorner(la, lo) <= kBelievableDistance))
                return Soundness::Missing;
        }
    // Inside, no position lies further from the scene's corners than they
    // lie apart, and more: a cubic can bulge between corners it places well.
    double span = 0;
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b) span = std::max(span, std::hypot(lat[a] - lat[b], lon[a] - lon[b]));
    const double reach = span + kBelievableDistance;
    // The Jacobian of (latitude, longitude) by (pixel, line) keeps one sign
    // and its size: a pixel covers ground, and the raster does not fold.
    double sign = 0;
    for (int i = 0; i <= kCheckSteps; ++i)
        for (int j = 0; j <= kCheckSteps; ++j) {
            const double x = unit.firstColumn + (unit.endColumn - unit.firstColumn) * i / kCheckSteps;
            const double y = height * j / kCheckSteps;
            double la, lo;
            Forward(unit, x, y, la, lo);
            if (!IsWithinLatLonRange(la, lo) || !(nearestCorner(la, lo) <= reach)) return Soundness::OffScene;
            const double p = StoredPixel(unit, x, y), l = y + kPolynomialOrigin;
            double a, b, c, e;
            Gradient(unit.latitude, p, l, a, b);
            Gradient(unit.longitude, p, l, c, e);
            const double det = a * e - b * c;
            if (!(std::fabs(det) >= kLeastPixelArea) || det * sign < 0) return Soundness::Collapsed;
            sign = det;
        }
    return Soundness::Sound;
}

/// The units of band's raster, made once per dataset.
const std::vector<GeolocationUnit>& UnitsOfBand(CeosAlosjDataset& dataset, CeosAlosjDataset::State& s, int band) {
    if (!s.geolocationMade && s.leaderFile && !s.imageFiles.empty()) {
        s.geolocationMade = true;
        const long height = dataset.GetSceneHeight();
        bool offScene = false, collapsed = false;
        for (long b = 0; b < std::max(0L, dataset.GetNumOfLayers()); ++b) {
            std::vector<GeolocationUnit> units = UnitsOf(s, static_cast<int>(b), height);
            for (GeolocationUnit& unit : units) {
                const Soundness soundness = Judge(dataset, unit);
                unit.usable = soundness == Soundness::Sound;
                offScene = offScene || soundness == Soundness::OffScene;
                collapsed = collapsed || soundness == Soundness::Collapsed;
            }
            s.geolocation.push_back(std::move(units));
        }
        // Placeholders say nothing; polynomials that look real at the
        // corners and are not are a damaged product, and said so once.
        if (offScene)
            terr_Warn("CeosAlosjDataset::PixelToLatLon", __LINE__,
                      "Geolocation polynomials place positions inside the raster off the Earth or far from the "
                      "scene's corners; they are not used");
        if (collapsed)
            terr_Warn("CeosAlosjDataset::PixelToLatLon", __LINE__,
                      "Geolocation polynomials collapse or fold the raster; they are not used");
        for (const std::vector<GeolocationUnit>& units : s.geolocation) {
            s.usableGeolocation.emplace_back();
            for (const GeolocationUnit& unit : units)
                if (unit.usable) s.usableGeolocation.back().push_back(&unit);
        }
    }
    static const std::vector<GeolocationUnit> none;
    return band >= 0 && band < static_cast<int>(s.geolocation.size()) ? s.geolocation[band] : none;
}

}  // namespace

CeosAlosjLocateStatus CeosAlosjDataset::PixelToLatLon(int band, double pixel, double line, double* latitude,
                                                      double* longitude) {
    if (!latitude || !longitude || band < 0 || band >= GetNumOfLayers()) return ALOSJ_LOCATE_BAD_REQUEST;
    const long width = GetSceneWidth(), height = GetSceneHeight();
    if (!(pixel >= 0 && line >= 0 && pixel <= width && line <= height)) return ALOSJ_LOCATE_OUTSIDE;
    const std::vector<GeolocationUnit>& units = UnitsOfBand(*this, *d, band);
    const GeolocationUnit* unit = nullptr;
    for (const GeolocationUnit& u : units)
        if (pixel >= u.firstColumn && (pixel < u.endColumn || (pixel == width && u.endColumn == width))) unit = &u;
    if (!unit || !unit->usable) return ALOSJ_LOCATE_NO_POLYNOMIALS;
    Forward(*unit, pixel, line, *latitude, *longitude);
    return ALOSJ_LOCATE_OK;
}

CeosAlosjLocateStatus CeosAlosjDataset::LatLonToPixel(int band, double latitude, double longitude, double* pixel,
                                                      double* line) {
    if (!pixel || !line || band < 0 || band >= GetNumOfLayers() || !std::isfinite(latitude) ||
        !std::isfinite(longitude))
        return ALOSJ_LOCATE_BAD_REQUEST;
    const long width = GetSceneWidth(), height = GetSceneHeight();
    UnitsOfBand(*this, *d, band);
    if (band >= static_cast<int>(d->usableGeolocation.size())) return ALOSJ_LOCATE_NO_POLYNOMIALS;
    const std::vector<const GeolocationUnit*>& usable = d->usableGeolocation[band];

    if (usable.empty()) return ALOSJ_LOCATE_NO_POLYNOMIALS;

    // Start on the unit whose inverse polynomials put the point among its
    // own columns (the nearest one otherwise), then refine with the forward
    // polynomials; a solution among another unit's columns moves there.
    size_t current = 0;
    double x = 0, y = 0, best = 1e300;
    for (size_t k = 0; k < usable.size(); ++k) {
        const double storedPixel = Evaluate(usable[k]->pixel, latitude, longitude);
        const double l = Evaluate(usable[k]->line, latitude, longitude) - kPolynomialOrigin;
        const double c = RasterColumn(*usable[k], storedPixel, std::clamp(l, 0.0, static_cast<double>(height)));
        const double away = std::max({0.0, usable[k]->firstColumn - c, c - usable[k]->endColumn});
        if (std::isfinite(c) && std::isfinite(l) && away < best) {
            best = away;
            current = k;
            x = c;
            y = l;
        }
    }
    if (best == 1e300) {  // no usable inverse: from the middle of the first unit
        x = (usable[0]->firstColumn + usable[0]->endColumn) / 2;
        y = height / 2.0;
    }
    bool converged = false;
    for (int hop = 0; hop < 3 && !converged; ++hop) {
        const GeolocationUnit& unit = *usable[current];
        for (int i = 0; i < kMaxIterations; ++i) {
            double la, lo;
            Forward(unit, x, y, la, lo);
            const double p = StoredPixel(unit, x, y), l = y + kPolynomialOrigin;
            double a, b, c, e;
            Gradient(unit.latitude, p, l, a, b);
            Gradient(unit.longitude, p, l, c, e);
            const double det = a * e - b * c;
            if (!std::isfinite(det) || det == 0) break;
            const double dla = latitude - la, dlo = longitude - lo;
            const double dx = (e * dla - b * dlo) / det, dy = (a * dlo - c * dla) / det;
            x += dx;
            y += dy;
            if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > 1e7 || std::fabs(y) > 1e7) break;
            if (std::hypot(dx, dy) < kConvergencePixels / 10) {
                converged = true;
                break;
            }
        }
        if (!converged) return ALOSJ_LOCATE_NO_CONVERGENCE;
        // Among another unit's columns: solve again with its polynomials.
        for (size_t k = 0; k < usable.size(); ++k)
            if (k != current && x >= usable[k]->firstColumn && x < usable[k]->endColumn &&
                !(x >= usable[current]->firstColumn && x < usable[current]->endColumn)) {
                current = k;
                converged = false;
                break;
            }
    }
    if (!converged) return ALOSJ_LOCATE_NO_CONVERGENCE;
    // On an edge within the accuracy reached is on the edge.
    auto onto = [](double value, double limit) {
        if (value < 0 && value > -kConvergencePixels) return 0.0;
        if (value > limit && value < limit + kConvergencePixels) return limit;
        return value;
    };
    x = onto(x, static_cast<double>(width));
    y = onto(y, static_cast<double>(height));
    *pixel = x;
    *line = y;
    if (!(x >= 0 && y >= 0 && x <= width && y <= height)) return ALOSJ_LOCATE_OUTSIDE;
    return ALOSJ_LOCATE_OK;
}

long CeosAlosjDataset::GetImageFileIndexAt(int band, double pixel, double line) {
    const long width = GetSceneWidth(), height = GetSceneHeight();
    if (band < 0 || band >= GetNumOfLayers() || !(pixel >= 0 && line >= 0 && pixel <= width && line <= height))
        return -1;
    for (const GeolocationUnit& u : UnitsOfBand(*this, *d, band))
        if (pixel >= u.firstColumn && (pixel < u.endColumn || (pixel == width && u.endColumn == width)))
            return u.file;
    return -1;
}
