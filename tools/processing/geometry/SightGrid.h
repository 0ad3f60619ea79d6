// Where each pixel of a map grid shows in the raster when the ground there
// lies at a given height: the line-of-sight model's inverse
// (CeosAlosjDataset::LatLonHeightToPixel) evaluated on a coarse lattice of
// the grid at a few height layers, interpolated bilinearly across the grid
// and linearly between layers (a point's relief displacement grows almost
// linearly with its height along the satellite's ray).  The lattice is made
// fine enough that the interpolation stays within kSightGridTolerance of the
// exact inverse at check points between its nodes and layers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ogr_spatialref.h>

#include "dataset/CeosAlosjDataset.h"

namespace alosj::processing {

/// The interpolation stays within this many raster pixels of the exact
/// inverse at the check points (GDAL's warp is given 0.05).
constexpr double kSightGridTolerance = 0.02;

/// What a line-of-sight status means, in words.
std::string SensorStatusText(CeosAlosjSensorStatus status);

/// Runs job(w) for every w below the number of datasets at once, each on
/// the thread that uses dataset w, and returns when all are done
/// (rethrowing a failure).  Empty: one after the other on this thread.
using ParallelRunner = std::function<void(const std::function<void(size_t)>&)>;

class SightGrid {
public:
    /// The lattice for `band` (0-based) of the dataset over the grid of
    /// `width` x `height` pixels placed by `geoTransform` in `crs`, for
    /// heights (metres above the ellipsoid) from `lowest` to `highest`.
    /// `dataset` checks the lattice on this thread; `workers` (the product
    /// opened once per thread that computes nodes; empty: `dataset` alone)
    /// fill it on the threads `run` runs.
    /// Throws std::runtime_error when the model cannot answer at the grid's
    /// centre (the status's name in the message).
    SightGrid(CeosAlosjDataset& dataset, const std::vector<CeosAlosjDataset*>& workers, const ParallelRunner& run,
              int band, const OGRSpatialReference& crs,
              const double geoTransform[6], int width, int height, double lowest, double highest);

    /// The raster position (pixel, line) of continuous grid position
    /// (column, row) at `h` metres above the ellipsoid; false where the
    /// lattice has no position (far outside the scene).  Thread-safe.
    bool Source(double column, double row, double h, double& pixel, double& line) const;

    /// Grid pixels between lattice nodes, and the height layers.
    int Step() const { return step_; }
    const std::vector<double>& Layers() const { return layers_; }
    /// The largest distance (raster pixels) between the interpolation and
    /// the exact inverse found at the check points.
    double CheckedError() const { return checkedError_; }

private:
    void Fill(const std::vector<CeosAlosjDataset*>& datasets, const ParallelRunner& run);
    double Check(CeosAlosjDataset& dataset);

    int band_;
    double geoTransform_[6];
    std::unique_ptr<OGRCoordinateTransformation> toGeographic_;
    int width_, height_;
    std::vector<double> layers_;
    int step_ = 0;
    int columns_ = 0, rows_ = 0;   // lattice nodes across and down
    std::vector<double> nodes_;    // per layer, per node: pixel, line (NaN: none)
    double checkedError_ = 0;
};

}  // namespace alosj::processing
