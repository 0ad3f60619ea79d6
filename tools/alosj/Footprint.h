// Where the raster's positions lie on the ground: on the polynomials'
// reference surface, on one height, or where each position's line of sight
// meets a DEM; and the outline of the raster so placed (the footprint of a
// STAC Item, of a product or of its warp).
#pragma once

#include <nlohmann/json.hpp>

#include "tools/alosj/Heights.h"
#include "tools/alosj/Product.h"

namespace alosj {

/// A raster position placed on the heights.
struct SurfacePoint {
    double latitude = 0.0, longitude = 0.0;
    double height = 0.0;    // metres above the ellipsoid
    bool covered = true;    // false: the DEM gives no height there (the reference height is used)
    int iterations = 0;     // with a DEM: the steps along the line of sight
};

/// Places raster position (pixel, line) of band (0-based) on `choice`'s
/// height, or on `dem` (then: from the reference height, the point at the
/// DEM's height under the current point, until it moves less than a
/// centimetre; ALOSJ_SENSOR_NO_CONVERGENCE after kSurfaceIterations).
constexpr int kSurfaceIterations = 50;
CeosAlosjSensorStatus PlaceOnSurface(CeosAlosjDataset& dataset, int band, double pixel, double line,
                                     const HeightChoice& choice, Dem* dem, SurfacePoint& point);

/// The footprint: the raster's outline placed by the processor's
/// polynomials (no `choice`), else on the height or DEM by the line-of-sight
/// model; by the scene's corners when the polynomials cannot; GeoJSON,
/// counter-clockwise, closed.  Null when nothing places it on the Earth.
/// The metadata item of a raster warped onto a height or a DEM that holds
/// its footprint (GeoJSON text); a STAC Item of that raster takes it.
inline constexpr const char* kWarpFootprintItem = "WARP_FOOTPRINT";

nlohmann::ordered_json Footprint(Product& product, const HeightChoice* choice = nullptr, Dem* dem = nullptr);

}  // namespace alosj
