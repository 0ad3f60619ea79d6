// Where the raster's positions lie on the ground: on the polynomials'
// reference surface, on one height, or where each position's line of sight
// meets a DEM; and the outline of the raster so placed (the footprint of a
// STAC Item, of a product or of its warp).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "dataset/CeosAlosjDataset.h"
#include "tools/processing/geometry/Heights.h"

namespace alosj::processing {

/// A raster position placed on the heights.
struct SurfacePoint {
    double latitude = 0.0, longitude = 0.0;
    double height = 0.0;    // metres above the ellipsoid
    bool covered = true;    // false: the DEM gives no height there (the reference height is used)
    int iterations = 0;     // with a DEM: the steps along the line of sight
    bool face = false;      // met the face of a step in the surface (at a DEM's edge or void), above its foot
};

/// Places raster position (pixel, line) of band (0-based) on `choice`'s
/// height, or on `dem`: where its line of sight meets the surface that is
/// the DEM where it gives a height and the reference height where it does
/// not.  Stepped from the reference height to the surface's height under
/// the current point, until it moves less than a centimetre (at most
/// kSurfaceIterations steps); where that does not settle (at the DEM's
/// edges and voids, on terrain steeper than the view), its first crossing
/// of the surface down the ray from above the highest ground, halved to a
/// centimetre.  Fails only where the line-of-sight model does.
constexpr int kSurfaceIterations = 50;
CeosAlosjSensorStatus PlaceOnSurface(CeosAlosjDataset& dataset, int band, double pixel, double line,
                                     const HeightChoice& choice, Dem* dem, SurfacePoint& point);

/// The places (latitude, longitude) where a warp onto the height or DEM
/// shows raster position (pixel, line): where PlaceOnSurface puts it
/// (unless on a step's face, which the warp shows as no more than a line),
/// where its ray first meets the DEM when that place is not on the DEM,
/// and where the DEM gives no height at the reference height, there too;
/// none may be left.
CeosAlosjSensorStatus PlacesOfWarp(CeosAlosjDataset& dataset, int band, double pixel, double line,
                                   const HeightChoice& choice, Dem* dem, std::vector<std::pair<double, double>>& places);

/// The footprint: the raster's outline placed by the processor's
/// polynomials (no `choice`), else on the height or DEM by the line-of-sight
/// model; by the scene's corners when the polynomials cannot; GeoJSON,
/// counter-clockwise, closed.  Null when nothing places it on the Earth.
/// The metadata item of a raster warped onto a height or a DEM that holds
/// its footprint (GeoJSON text); a STAC Item of that raster takes it.
inline constexpr const char* kWarpFootprintItem = "WARP_FOOTPRINT";

/// `width` x `height` is the raster's size (all CCDs side by side where the
/// product has several); a failure names `name`.
nlohmann::ordered_json Footprint(CeosAlosjDataset& dataset, long width, long height, const std::string& name,
                                 const HeightChoice* choice = nullptr, Dem* dem = nullptr);

}  // namespace alosj::processing
