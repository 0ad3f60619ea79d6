// Heights from two views of one scene, a tile of a map grid at a time.
//
// For a tile, both images are resampled onto one rectified frame: the
// ground around the tile laid on a reference surface (the heights a coarser
// match found, or one height), turned so that its x axis runs along the
// parallax (the way a ground point moves between the two views as its
// height changes, found from the line-of-sight models).  A point above or
// below the surface then shows shifted along x only, by a disparity that
// grows with its height over the surface: OpenCV's semi-global matching
// (StereoSGBM, sub-pixel, with its left-right consistency check) finds it.
// Laid on the terrain's own slopes, both views show a steep flank alike,
// neither stretched nor squeezed, and its disparities stay small and even.
// Each matched pixel's two rays, from the satellite through the pixel of
// each image, are intersected where they pass closest; the gap between
// them is the match's quality.  The points are binned into the tile's
// cells, each cell taking the median of its points.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <ogr_spatialref.h>

#include "tools/alosj/Cli.h"
#include "tools/alosj/Product.h"

namespace alosj {

/// A map grid: its CRS (axes easting, northing) and geotransform.
struct MapGrid {
    OGRSpatialReference crs;
    double geoTransform[6] = {};
    int width = 0;
    int height = 0;
};

/// Cells [column, column + columns) x [row, row + rows) of a grid.
struct TileBox {
    int column = 0, row = 0, columns = 0, rows = 0;
};

/// Heights (metres above the ellipsoid) on which the frames lay the ground:
/// those of a grid's cells, interpolated between the cells' centres and
/// held at its edges, or one height everywhere.
struct ReferenceSurface {
    const MapGrid* grid = nullptr;                // null: `height` everywhere
    const std::vector<float>* heights = nullptr;  // a finite height for every cell of grid
    double height = 0;
    double At(double x, double y) const;
};

/// Matched points counted by the gap between their rays: bins of a
/// millimetre, the last holding every gap beyond.
struct GapHistogram {
    static constexpr double kBin = 0.001;
    std::vector<long> counts = std::vector<long>(10000, 0);
    long total = 0;
    void Add(double gap);
    void Add(const GapHistogram& other);
    /// The gap (metres, a bin's middle) below which `fraction` of the points lie; NaN with none.
    double Percentile(double fraction) const;
};

/// What a pair's matching of one tile found.
struct TileHeights {
    std::vector<float> heights;  // metres above the ellipsoid, a cell each, NaN where nothing matched
    GapHistogram gaps;           // the rays' gaps of the pixels matched in the tile's cells
    double frameSamples = 0;     // samples of the rectified frame matched
    double matchSeconds = 0;     // spent in semi-global matching
};

/// The products opened once more for one thread, with what it needs to
/// match tiles of a grid.  One thread at a time.
class StereoMatcher {
public:
    /// `products` are opened again (a dataset serves one thread); `gsd` is
    /// their ground sample distance in metres.
    StereoMatcher(const std::vector<ProductOptions>& products, const MapGrid& grid, double gsd);
    ~StereoMatcher();

    /// The heights of the tile's cells from products a and b (indices into
    /// the products), with the images resampled every `sample` metres
    /// (averaged down first when that is coarser than the images) and
    /// heights from `below` (≤ 0) to `above` (≥ 0) metres about the
    /// surface searched.  A tile the two products do not both see gets no
    /// heights.
    TileHeights Match(size_t a, size_t b, const TileBox& tile, double sample, const ReferenceSurface& surface,
                      double below, double above);

    /// Latitude and longitude (WGS 84, degrees) of map positions, in place:
    /// x becomes the longitude, y the latitude.
    bool ToGeographic(std::vector<double>& x, std::vector<double>& y);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// The median of the finite values (the mean of the middle two of an even
/// count), NaN when there are none; reorders them.
float Median(std::vector<float>& values);

}  // namespace alosj
