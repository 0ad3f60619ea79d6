#include "tools/processing/geometry/SightGrid.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace alosj::processing {

namespace {

/// Lattice steps tried, coarsest first (grid pixels).
constexpr int kCoarsestStep = 128;
constexpr int kFinestStep = 8;
/// Nodes (positions times layers) a lattice may hold: 128 MB of them.
constexpr double kMostNodes = 8.0e6;
/// Height layers at most this far apart (metres).
constexpr double kLayerSpacing = 1000.0;
/// Check points: about this many cells across and down.
constexpr int kCheckedCells = 24;

bool Usable(CeosAlosjSensorStatus status) { return status == ALOSJ_SENSOR_OK || status == ALOSJ_SENSOR_OUTSIDE; }

}  // namespace

std::string SensorStatusText(CeosAlosjSensorStatus status) {
    switch (status) {
        case ALOSJ_SENSOR_BAD_REQUEST: return "a request it cannot answer";
        case ALOSJ_SENSOR_OUTSIDE: return "the point lies outside the raster";
        case ALOSJ_SENSOR_NO_POLYNOMIALS: return "no usable geolocation polynomials";
        case ALOSJ_SENSOR_NO_ORBIT: return "no usable orbit";
        case ALOSJ_SENSOR_NO_TIMES: return "no usable line times";
        case ALOSJ_SENSOR_ALTITUDE_CHECK: return "the orbit is not 600 to 800 km above the ellipsoid";
        case ALOSJ_SENSOR_LOOK_ANGLE_CHECK: return "the look angle is not the view's";
        case ALOSJ_SENSOR_RAY_CHECK:
            return "the rays from the satellite at the lines' times do not look along the track as the view does";
        case ALOSJ_SENSOR_NO_CONVERGENCE: return "the inverse does not converge";
        default: return "ok";
    }
}

SightGrid::SightGrid(CeosAlosjDataset& dataset, const std::vector<CeosAlosjDataset*>& workers,
                     const ParallelRunner& run, int band, const OGRSpatialReference& crs,
                     const double geoTransform[6], int width, int height, double lowest, double highest)
    : band_(band), width_(width), height_(height) {
    std::copy(geoTransform, geoTransform + 6, geoTransform_);
    OGRSpatialReference geographic;
    geographic.importFromEPSG(4326);
    geographic.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    toGeographic_.reset(OGRCreateCoordinateTransformation(&crs, &geographic));
    if (!toGeographic_) throw std::runtime_error("the grid's CRS cannot be transformed to latitude and longitude");
    if (!(std::isfinite(lowest) && std::isfinite(highest)) || highest - lowest > 20000.0)
        throw std::runtime_error("the heights to place the raster on span more than 20 km");
    if (!(highest > lowest)) highest = lowest + 1.0;
    const int gaps = std::max(1, static_cast<int>(std::ceil((highest - lowest) / kLayerSpacing)));
    for (int k = 0; k <= gaps; ++k) layers_.push_back(lowest + (highest - lowest) * k / gaps);

    // The model must answer at the grid's centre.
    {
        double x = geoTransform_[0] + geoTransform_[1] * width / 2.0 + geoTransform_[2] * height / 2.0;
        double y = geoTransform_[3] + geoTransform_[4] * width / 2.0 + geoTransform_[5] * height / 2.0;
        double pixel, line;
        const CeosAlosjSensorStatus status =
            toGeographic_->Transform(1, &x, &y)
                ? dataset.LatLonHeightToPixel(band_, y, x, layers_.front(), &pixel, &line)
                : ALOSJ_SENSOR_BAD_REQUEST;
        if (!Usable(status)) throw std::runtime_error(SensorStatusText(status));
    }
    for (step_ = kCoarsestStep;; step_ /= 2) {
        if (workers.empty())
            Fill({&dataset}, {});
        else
            Fill(workers, run);
        checkedError_ = Check(dataset);
        if (checkedError_ <= kSightGridTolerance || step_ / 2 < kFinestStep) break;
        // A finer lattice would hold more nodes than memory should: the
        // caller refuses a lattice that stays too coarse.
        const double finerNodes = (width_ / (step_ / 2.0) + 2) * (height_ / (step_ / 2.0) + 2) * layers_.size();
        if (finerNodes > kMostNodes) break;
    }
}

void SightGrid::Fill(const std::vector<CeosAlosjDataset*>& datasets, const ParallelRunner& run) {
    columns_ = (width_ + step_ - 1) / step_ + 1;
    rows_ = (height_ + step_ - 1) / step_ + 1;
    const size_t layerSize = static_cast<size_t>(columns_) * static_cast<size_t>(rows_) * 2;
    nodes_.assign(layerSize * layers_.size(), NAN);
    // Rows of nodes shared out among the datasets' threads, each with its
    // own copy of the transformation (made here: a transformation is not
    // shared between threads, not even to be copied).
    std::vector<std::unique_ptr<OGRCoordinateTransformation>> transformations;
    for (size_t w = 0; w < datasets.size(); ++w) {
        transformations.emplace_back(toGeographic_->Clone());
        if (!transformations.back()) throw std::runtime_error("cannot copy the grid's transformation to geographic");
    }
    auto fillRows = [&](size_t worker) {
        OGRCoordinateTransformation* toGeographic = transformations[worker].get();
        CeosAlosjDataset& dataset = *datasets[worker];
        std::vector<double> xs(static_cast<size_t>(columns_)), ys(static_cast<size_t>(columns_));
        std::vector<int> converted(static_cast<size_t>(columns_));
        for (int r = static_cast<int>(worker); r < rows_; r += static_cast<int>(datasets.size())) {
            for (int c = 0; c < columns_; ++c) {
                const double column = static_cast<double>(c) * step_, row = static_cast<double>(r) * step_;
                xs[c] = geoTransform_[0] + geoTransform_[1] * column + geoTransform_[2] * row;
                ys[c] = geoTransform_[3] + geoTransform_[4] * column + geoTransform_[5] * row;
            }
            std::fill(converted.begin(), converted.end(), FALSE);
            toGeographic->Transform(columns_, xs.data(), ys.data(), nullptr, converted.data());
            for (int c = 0; c < columns_; ++c) {
                if (!converted[c]) continue;
                for (size_t k = 0; k < layers_.size(); ++k) {
                    double pixel, line;
                    if (!Usable(dataset.LatLonHeightToPixel(band_, ys[c], xs[c], layers_[k], &pixel, &line)))
                        continue;
                    const size_t at = k * layerSize + (static_cast<size_t>(r) * columns_ + c) * 2;
                    nodes_[at] = pixel;
                    nodes_[at + 1] = line;
                }
            }
        }
    };
    if (run) {
        run(fillRows);
    } else {
        for (size_t w = 0; w < datasets.size(); ++w) fillRows(w);
    }
}

bool SightGrid::Source(double column, double row, double h, double& pixel, double& line) const {
    const double u = column / step_, v = row / step_;
    const int c = std::clamp(static_cast<int>(std::floor(u)), 0, columns_ - 2);
    const int r = std::clamp(static_cast<int>(std::floor(v)), 0, rows_ - 2);
    const double fu = u - c, fv = v - r;
    const size_t layerSize = static_cast<size_t>(columns_) * static_cast<size_t>(rows_) * 2;
    const int layers = static_cast<int>(layers_.size());
    // The layers below and above h (the outermost beyond them).
    int k = static_cast<int>(std::upper_bound(layers_.begin(), layers_.end(), h) - layers_.begin()) - 1;
    k = std::clamp(k, 0, layers - 2);
    const double fh = (h - layers_[k]) / (layers_[k + 1] - layers_[k]);
    double result[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const size_t base = static_cast<size_t>(k + i) * layerSize;
        const double* a = &nodes_[base + (static_cast<size_t>(r) * columns_ + c) * 2];
        const double* b = a + 2;
        const double* d = a + static_cast<size_t>(columns_) * 2;
        const double* e = d + 2;
        const double weight = i == 0 ? 1.0 - fh : fh;
        for (int j = 0; j < 2; ++j)
            result[j] += weight * ((1 - fv) * ((1 - fu) * a[j] + fu * b[j]) + fv * ((1 - fu) * d[j] + fu * e[j]));
    }
    if (!std::isfinite(result[0]) || !std::isfinite(result[1])) return false;
    pixel = result[0];
    line = result[1];
    return true;
}

double SightGrid::Check(CeosAlosjDataset& dataset) {
    // Cells' centres spread over the grid, at each layer's middle and at the
    // outermost layers (where the interpolation across the grid is all).
    std::vector<double> heights = layers_;
    for (size_t k = 0; k + 1 < layers_.size(); ++k) heights.push_back((layers_[k] + layers_[k + 1]) / 2);
    const int cellsAcross = columns_ - 1, cellsDown = rows_ - 1;
    double worst = 0;
    for (int i = 0; i < kCheckedCells; ++i)
        for (int j = 0; j < kCheckedCells; ++j) {
            const double column = (std::min(cellsAcross - 1, i * cellsAcross / kCheckedCells) + 0.5) * step_;
            const double row = (std::min(cellsDown - 1, j * cellsDown / kCheckedCells) + 0.5) * step_;
            double x = geoTransform_[0] + geoTransform_[1] * column + geoTransform_[2] * row;
            double y = geoTransform_[3] + geoTransform_[4] * column + geoTransform_[5] * row;
            if (!toGeographic_->Transform(1, &x, &y)) continue;
            for (double h : heights) {
                double pixel, line, approxPixel, approxLine;
                if (dataset.LatLonHeightToPixel(band_, y, x, h, &pixel, &line) != ALOSJ_SENSOR_OK) continue;
                if (!Source(column, row, h, approxPixel, approxLine)) continue;
                worst = std::max(worst, std::hypot(approxPixel - pixel, approxLine - line));
            }
        }
    return worst;
}

}  // namespace alosj::processing
