// alosj export --warp: the raster resampled onto a map grid by GDAL's warper,
// driven by a transformer that evaluates the processor's geolocation
// polynomials themselves (PixelToLatLon, LatLonToPixel), pixel after pixel
// within GDAL's approximation of at most kWarpMaxErrorPixels.
#pragma once

#include <string>
#include <vector>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

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
WarpGrid PlanWarp(Product& product, const std::string& crs);

/// Warps `bands` (0-based) of the product into `out`, a dataset of the grid
/// with as many bands; `resampling` is GDAL's name ("near", "bilinear",
/// "cubic", …).  Progress runs from `from` to `to`.
void WarpInto(Product& product, const std::vector<int>& bands, const WarpGrid& grid, GDALDataset& out,
              const std::string& resampling, ProgressBar& bar, double from, double to);

}  // namespace alosj
