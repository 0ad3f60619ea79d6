#include "tools/alosj/Footprint.h"

#include <cmath>

#include "tools/alosj/SightGrid.h"

namespace alosj {

namespace {

using json = nlohmann::ordered_json;

/// Points along each edge of the raster that make the footprint.
constexpr int kFootprintSteps = 8;
/// A point on the line of sight has settled when it moves less than this (metres).
constexpr double kSettled = 0.01;

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

CeosAlosjSensorStatus PlaceOnSurface(CeosAlosjDataset& dataset, int band, double pixel, double line,
                                     const HeightChoice& choice, Dem* dem, SurfacePoint& point) {
    point = SurfacePoint{};
    if (!dem) {
        point.height = choice.height;
        return dataset.PixelHeightToLatLon(band, pixel, line, point.height, &point.latitude, &point.longitude);
    }
    double h = CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT;
    CeosAlosjSensorStatus status = dataset.PixelHeightToLatLon(band, pixel, line, h, &point.latitude, &point.longitude);
    if (status != ALOSJ_SENSOR_OK) return status;
    for (int i = 1; i <= kSurfaceIterations; ++i) {
        double ground = 0;
        const bool covered = dem->HeightAt(point.latitude, point.longitude, ground);
        const double next = covered ? ground : CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT;
        double latitude, longitude;
        status = dataset.PixelHeightToLatLon(band, pixel, line, next, &latitude, &longitude);
        if (status != ALOSJ_SENSOR_OK) return status;
        const double moved = Apart(point.latitude, point.longitude, h, latitude, longitude, next);
        point.latitude = latitude;
        point.longitude = longitude;
        point.height = h = next;
        point.covered = covered;
        point.iterations = i;
        if (moved < kSettled) return ALOSJ_SENSOR_OK;
    }
    return ALOSJ_SENSOR_NO_CONVERGENCE;
}

json Footprint(Product& product, const HeightChoice* choice, Dem* dem) {
    CeosAlosjDataset& d = product.Dataset();
    const double width = static_cast<double>(product.Width()), height = static_cast<double>(product.Height());
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
                    throw Failure(kExitFailure, product.VolumePath() + ": the raster's outline cannot be placed on " +
                                                    (dem ? "the DEM" : "the height") + ": " +
                                                    SensorStatusText(status));
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

}  // namespace alosj
