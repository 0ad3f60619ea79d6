// alosj export --warp: the raster resampled onto a map grid by GDAL's warper,
// driven by a transformer that evaluates the processor's geolocation
// polynomials themselves (PixelToLatLon, LatLonToPixel), pixel after pixel
// within GDAL's approximation of at most kWarpMaxErrorPixels.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "tools/alosj/Processing.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Progress.h"

namespace alosj {

/// GDAL's approximate transformer interpolates the exact one along lines
/// where that stays within this many source pixels.
constexpr double kWarpMaxErrorPixels = 0.05;

/// The map grid a warped product gets.
struct WarpGrid {
    OGRSpatialReference crs;
    std::string crsText;  // as given, or "EPSG:326zz"
    double geoTransform[6] = {};
    int width = 0;
    int height = 0;
};

/// The grid that holds the whole raster: in `crs` (anything GDAL's
/// SetFromUserInput takes; empty: the UTM zone of the scene centre on WGS 84)
/// with the product's nominal ground sample distance (PRISM 2.5 m, AVNIR-2
/// 10 m), its edges on whole multiples of it.  Throws a usage Failure for a
/// CRS GDAL does not know, a Failure for a product without polynomials.
/// `place` (when given) places the raster's outline instead of the
/// polynomials: a raster position (pixel, line) → the places (latitude,
/// longitude) where the warp shows it (false: none).
using Place = std::pair<double, double>;
using OutlinePlacer = std::function<bool(double pixel, double line, std::vector<Place>& places)>;
WarpGrid PlanWarp(Product& product, const std::string& crs, const OutlinePlacer& place = {});

/// The heights a warp places the raster on (WarpInto): one height, or a
/// DEM's (Heights.h), by the line-of-sight model.
struct WarpHeights {
    double height = 0.0;  // metres above the ellipsoid, without a DEM
    Dem* dem = nullptr;
    ProductOptions product;  // the product, opened once more by each thread
};

/// Warps `bands` (0-based) of the product into `out`, a dataset of the grid
/// with as many bands; `resampling` is GDAL's name ("near", "bilinear",
/// "cubic", …).  Progress runs from `from` to `to`.  Without `heights` the
/// polynomials place the raster (on their reference surface); with them,
/// the line-of-sight model places it on the height or the DEM, every core
/// warping strips of the grid, and the result is the number of output
/// pixels that show the scene where the DEM gives no height (placed at the
/// polynomials' reference height).
long WarpInto(Product& product, const std::vector<int>& bands, const WarpGrid& grid, GDALDataset& out,
              const std::string& resampling, ProgressBar& bar, double from, double to,
              const WarpHeights* heights = nullptr);

}  // namespace alosj
