#include "tools/processing/geometry/Footprint.h"

#include <algorithm>
#include <cmath>

#include "tools/describe/ProductDescription.h"
#include "tools/processing/Error.h"
#include "tools/processing/geometry/SightGrid.h"

namespace alosj::processing {

namespace {

using json = nlohmann::ordered_json;

/// Points along each edge of the raster that make the footprint.
constexpr int kFootprintSteps = 8;
/// A point on the line of sight has settled when it moves less than this (metres).
constexpr double kSettled = 0.01;
/// A ray whose crossing of the surface lies more than this below the
/// surface (metres) has met the face of a step in it.
constexpr double kFaceMetres = 1.0;

/// A longitude in [-180, 180], as GeoJSON wants it.
double Wrapped(double longitude) { return longitude > 180 ? longitude - 360 : longitude < -180 ? longitude + 360 : longitude; }

/// Metres between two nearby points at heights (degrees, metres).
double Apart(double lat1, double lon1, double h1, double lat2, double lon2, double h2) {
    constexpr double kMetresPerDegree = 6378137.0 * 3.14159265358979323846 / 180.0;
    const double north = (lat2 - lat1) * kMetresPerDegree;
    const double east = (lon2 - lon1) * kMetresPerDegree * std::cos(lat1 * 3.14159265358979323846 / 180.0);
    return std::sqrt(north * north + east * east + (h2 - h1) * (h2 - h1));
}

}  // namespace

namespace {

/// The surface under the line of sight of one raster position: the DEM's
/// height where it gives one, the reference height where it does not.
class Sight {
public:
    Sight(CeosAlosjDataset& dataset, int band, double pixel, double line, Dem& dem)
        : dataset_(dataset), band_(band), pixel_(pixel), line_(line), dem_(dem) {}
    /// The ray's point at height h, and the surface's height under it.
    CeosAlosjSensorStatus At(double h, SurfacePoint& point) {
        const CeosAlosjSensorStatus status =
            dataset_.PixelHeightToLatLon(band_, pixel_, line_, h, &point.latitude, &point.longitude);
        if (status != ALOSJ_SENSOR_OK) return status;
        point.height = h;
        double ground = 0;
        point.covered = dem_.HeightAt(point.latitude, point.longitude, ground);
        surface_ = point.covered ? ground : CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT;
        return ALOSJ_SENSOR_OK;
    }
    /// The surface's height under the point At last gave.
    double Surface() const { return surface_; }

private:
    CeosAlosjDataset& dataset_;
    int band_;
    double pixel_, line_;
    Dem& dem_;
    double surface_ = 0.0;
};

/// Steps from the reference height to the surface's height under the
/// current point until it moves less than kSettled (where the DEM gives no
/// height under the first point, it settles there: the warp shows the
/// position at the reference height there); false when it does not settle.
bool SettleOnSurface(Sight& sight, SurfacePoint& point, CeosAlosjSensorStatus& status) {
    status = sight.At(CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT, point);
    for (int i = 1; status == ALOSJ_SENSOR_OK && i <= kSurfaceIterations; ++i) {
        SurfacePoint next;
        status = sight.At(sight.Surface(), next);
        if (status != ALOSJ_SENSOR_OK) break;
        const double moved = Apart(point.latitude, point.longitude, point.height, next.latitude, next.longitude,
                                   next.height);
        next.iterations = i;
        point = next;
        if (moved < kSettled) return true;
    }
    return false;
}

/// The highest point of the ray at or below the surface: down the ray from
/// above the highest ground in steps of about one DEM pixel on the ground,
/// then halving the step that crossed the surface until the point moves
/// less than kSettled.  Where the surface steps (at the DEM's edges and
/// voids, or terrain steeper than the view) the ray meets the step's face.
CeosAlosjSensorStatus DescendOnSurface(Sight& sight, const Dem& dem, SurfacePoint& point) {
    constexpr double kTop = kHighestDemHeight + 200.0, kBottom = kLowestDemHeight - 200.0;
    constexpr int kMostSteps = 4000;
    SurfacePoint high, low;
    CeosAlosjSensorStatus status = sight.At(kTop, high);
    if (status != ALOSJ_SENSOR_OK) return status;
    if ((status = sight.At(kBottom, low)) != ALOSJ_SENSOR_OK) return status;
    // Metres on the ground per metre of height along the ray.
    const double slant = Apart(high.latitude, high.longitude, 0, low.latitude, low.longitude, 0) / (kTop - kBottom);
    const double step = std::max({dem.PixelMetres() / std::max(slant, 1e-6) / 2, (kTop - kBottom) / kMostSteps, 0.5});
    int iterations = point.iterations;
    double above = kTop, below = kBottom;
    for (double h = kTop - step;; h -= step) {
        h = std::max(h, kBottom);
        SurfacePoint at;
        if ((status = sight.At(h, at)) != ALOSJ_SENSOR_OK) return status;
        ++iterations;
        if (sight.Surface() >= h || h == kBottom) {
            below = h;
            break;
        }
        above = h;
    }
    while ((above - below) * std::sqrt(1 + slant * slant) >= kSettled) {
        const double middle = (above + below) / 2;
        SurfacePoint at;
        if ((status = sight.At(middle, at)) != ALOSJ_SENSOR_OK) return status;
        ++iterations;
        (sight.Surface() >= middle ? below : above) = middle;
    }
    if ((status = sight.At(below, point)) != ALOSJ_SENSOR_OK) return status;
    point.iterations = iterations;
    point.face = sight.Surface() - below > kFaceMetres;
    return ALOSJ_SENSOR_OK;
}

}  // namespace

CeosAlosjSensorStatus PlaceOnSurface(CeosAlosjDataset& dataset, int band, double pixel, double line,
                                     const HeightChoice& choice, Dem* dem, SurfacePoint& point) {
    point = SurfacePoint{};
    if (!dem) {
        point.height = choice.height;
        return dataset.PixelHeightToLatLon(band, pixel, line, point.height, &point.latitude, &point.longitude);
    }
    Sight sight(dataset, band, pixel, line, *dem);
    CeosAlosjSensorStatus status;
    if (SettleOnSurface(sight, point, status)) return ALOSJ_SENSOR_OK;
    if (status != ALOSJ_SENSOR_OK) return status;
    return DescendOnSurface(sight, *dem, point);
}

CeosAlosjSensorStatus PlacesOfWarp(CeosAlosjDataset& dataset, int band, double pixel, double line,
                                   const HeightChoice& choice, Dem* dem, std::vector<std::pair<double, double>>& places) {
    places.clear();
    SurfacePoint point;
    CeosAlosjSensorStatus status = PlaceOnSurface(dataset, band, pixel, line, choice, dem, point);
    if (status != ALOSJ_SENSOR_OK) return status;
    if (!point.face) places.emplace_back(point.latitude, point.longitude);
    if (!dem) return status;
    if (!point.covered) {
        // Settled where the DEM gives no height: the ray may meet the DEM
        // above, and the warp shows the position there as well.
        Sight sight(dataset, band, pixel, line, *dem);
        SurfacePoint above;
        if ((status = DescendOnSurface(sight, *dem, above)) != ALOSJ_SENSOR_OK) return status;
        if (above.covered && !above.face) places.emplace_back(above.latitude, above.longitude);
    }
    // The warp gives ground the DEM does not cover the reference height:
    // the position shows there too when its ray meets that height there.
    double latitude, longitude, ground;
    status = dataset.PixelHeightToLatLon(band, pixel, line, CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT, &latitude, &longitude);
    if (status != ALOSJ_SENSOR_OK) return status;
    if (!dem->HeightAt(latitude, longitude, ground)) places.emplace_back(latitude, longitude);
    return ALOSJ_SENSOR_OK;
}

json Footprint(CeosAlosjDataset& d, long rasterWidth, long rasterHeight, const std::string& name,
               const HeightChoice* choice, Dem* dem) {
    const double width = static_cast<double>(rasterWidth), height = static_cast<double>(rasterHeight);
    json ring = json::array();
    bool placed = true;
    // Upper-left, down the left edge, along the bottom, up the right, back
    // along the top: counter-clockwise on the ground for a north-up scene.
    for (int side = 0; side < 4 && placed; ++side)
        for (int k = 0; k < kFootprintSteps; ++k) {
            const double f = static_cast<double>(k) / kFootprintSteps;
            const double x = side == 0 ? 0 : side == 1 ? f * width : side == 2 ? width : (1 - f) * width;
            const double y = side == 0 ? f * height : side == 1 ? height : side == 2 ? (1 - f) * height : 0;
            double lat, lon;
            if (choice) {
                SurfacePoint point;
                const CeosAlosjSensorStatus status = PlaceOnSurface(d, 0, x, y, *choice, dem, point);
                if (status != ALOSJ_SENSOR_OK)
                    throw Error::Failed(name + ": the raster's outline cannot be placed on " +
                                        (dem ? "the DEM" : "the height") + ": " + SensorStatusText(status));
                lat = point.latitude;
                lon = point.longitude;
            } else if (d.PixelToLatLon(0, x, y, &lat, &lon) != ALOSJ_LOCATE_OK) {
                placed = false;
                break;
            }
            if (!alosjdescribe::IsPlaceOnEarth(lat, lon)) {
                placed = false;
                break;
            }
            ring.push_back({Wrapped(lon), lat});
        }
    if (!placed) {
        if (!alosjdescribe::CornerProblem(d).empty()) return nullptr;
        ring = json::array();
        using Query = void (CeosAlosjDataset::*)(double*, double*) const;
        for (Query corner : {&CeosAlosjDataset::GetULCornerLatLon, &CeosAlosjDataset::GetLLCornerLatLon,
                             &CeosAlosjDataset::GetLRCornerLatLon, &CeosAlosjDataset::GetURCornerLatLon}) {
            double lat, lon;
            (d.*corner)(&lat, &lon);
            ring.push_back({Wrapped(lon), lat});
        }
    }
    ring.push_back(ring.front());
    return {{"type", "Polygon"}, {"coordinates", json::array({ring})}};
}

}  // namespace alosj::processing
