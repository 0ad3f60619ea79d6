#include "tools/alosj/Stereo.h"

#include "tools/alosj/Processing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace alosj {

namespace {

using TransformPtr = std::unique_ptr<OGRCoordinateTransformation>;

/// Lattice nodes of the rectified frame every this many samples.
constexpr int kLatticeStep = 16;
/// The height step that finds a pair's parallax (metres).
constexpr double kParallaxProbe = 100.0;
/// SGBM's matching window (samples) and the cost volume beyond which the
/// lighter three-way mode is used (bytes).
constexpr int kBlockSize = 5;
constexpr double kFullModeBytes = 96.0 * 1024 * 1024;
/// SGBM's penalties (per sample of the window) for a disparity changing by
/// one between neighbours and by more.  Where the frames lie on the coarse
/// surface a change of one is a slope that surface missed, and a light
/// penalty lets flanks steeper than it keep their heights; the coarse pass
/// itself, its frames on one level, also fills more with it than with 8.
constexpr int kSmallStep = 2, kLargeStep = 32;
/// The window (samples) and least strength (DN, root mean square) of the
/// detail a match needs: a little above the 0.6 DN that noise of a DN either
/// way leaves on its own, so that slopes turned from the sun, their detail
/// dimmed to a DN or two, are still matched where they show some.
constexpr int kTextureWindow = 11;
constexpr double kTextureLimit = 0.8;
constexpr float kNoHeight = std::numeric_limits<float>::quiet_NaN();

OGRSpatialReference Wgs84(int epsg) {
    OGRSpatialReference crs;
    crs.importFromEPSG(epsg);
    crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return crs;
}

/// A lattice node: where a point of the rectified frame on the reference
/// surface shows in an image, and that raster position's ray.
struct Node {
    double pixel = NAN, line = NAN;
    double position[3] = {NAN, NAN, NAN};
    double look[3] = {NAN, NAN, NAN};
};

struct Lattice {
    int columns = 0, rows = 0;
    std::vector<Node> nodes;
    const Node& At(int c, int r) const { return nodes[static_cast<size_t>(r) * columns + c]; }

    /// Bilinear weights of continuous frame position (x, y).
    void Weights(double x, double y, int& c, int& r, double& fx, double& fy) const {
        const double u = x / kLatticeStep, v = y / kLatticeStep;
        c = std::clamp(static_cast<int>(std::floor(u)), 0, columns - 2);
        r = std::clamp(static_cast<int>(std::floor(v)), 0, rows - 2);
        fx = u - c;
        fy = v - r;
    }
    /// The ray at (x, y): false where a node has none.
    bool Ray(double x, double y, double position[3], double look[3]) const {
        int c, r;
        double fx, fy;
        Weights(x, y, c, r, fx, fy);
        const Node* n[4] = {&At(c, r), &At(c + 1, r), &At(c, r + 1), &At(c + 1, r + 1)};
        const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
        double norm = 0;
        for (int k = 0; k < 3; ++k) {
            position[k] = look[k] = 0;
            for (int j = 0; j < 4; ++j) {
                position[k] += w[j] * n[j]->position[k];
                look[k] += w[j] * n[j]->look[k];
            }
            norm += look[k] * look[k];
        }
        if (!std::isfinite(norm) || norm <= 0) return false;
        norm = std::sqrt(norm);
        look[0] /= norm;
        look[1] /= norm;
        look[2] /= norm;
        return std::isfinite(position[0]);
    }
};

/// Where a patch shows enough detail to match: the samples' departures
/// from their local mean (what is left of them once smooth shading is taken
/// away) stronger than the sensor's noise alone gives, over a window a
/// little wider than SGBM's, so that a small uniform mark (a survey target)
/// is still matched by its edges; saturated snow and smooth slopes of snow
/// show none.  Nothing missing may be near.
cv::Mat Textured(const cv::Mat& patch) {
    cv::Mat value, local, detail, energy;
    patch.convertTo(value, CV_32F);
    cv::boxFilter(value, local, CV_32F, cv::Size(kBlockSize, kBlockSize));
    detail = value - local;
    cv::boxFilter(detail.mul(detail), energy, CV_32F, cv::Size(kTextureWindow, kTextureWindow));
    cv::Mat nearMissing;
    cv::dilate(patch == 0, nearMissing, cv::Mat::ones(kTextureWindow, kTextureWindow, CV_8U));
    return (energy > kTextureLimit * kTextureLimit) & (nearMissing == 0);
}

}  // namespace

double ReferenceSurface::At(double x, double y) const {
    if (!grid || !heights || grid->width <= 0 || grid->height <= 0) return height;
    const double* gt = grid->geoTransform;
    // A north-up grid: cell (c, r) holds the height at its centre.
    double u = (x - gt[0]) / gt[1] - 0.5, v = (y - gt[3]) / gt[5] - 0.5;
    if (!std::isfinite(u) || !std::isfinite(v)) return height;
    u = std::clamp(u, 0.0, grid->width - 1.0);
    v = std::clamp(v, 0.0, grid->height - 1.0);
    const int c = std::min(static_cast<int>(u), std::max(0, grid->width - 2));
    const int r = std::min(static_cast<int>(v), std::max(0, grid->height - 2));
    const int c1 = std::min(c + 1, grid->width - 1), r1 = std::min(r + 1, grid->height - 1);
    const double fx = u - c, fy = v - r;
    auto h = [&](int column, int row) {
        return static_cast<double>((*heights)[static_cast<size_t>(row) * grid->width + column]);
    };
    return (1 - fy) * ((1 - fx) * h(c, r) + fx * h(c1, r)) + fy * ((1 - fx) * h(c, r1) + fx * h(c1, r1));
}

void GapHistogram::Add(double gap) {
    const size_t bin = static_cast<size_t>(std::clamp(gap / kBin, 0.0, static_cast<double>(counts.size() - 1)));
    ++counts[bin];
    ++total;
}

void GapHistogram::Add(const GapHistogram& other) {
    for (size_t k = 0; k < counts.size(); ++k) counts[k] += other.counts[k];
    total += other.total;
}

double GapHistogram::Percentile(double fraction) const {
    long below = 0;
    for (size_t k = 0; k < counts.size(); ++k) {
        below += counts[k];
        if (below > 0 && static_cast<double>(below) >= fraction * static_cast<double>(total))
            return (static_cast<double>(k) + 0.5) * kBin;
    }
    return NAN;
}

float Median(std::vector<float>& values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](float v) { return !std::isfinite(v); }),
                 values.end());
    if (values.empty()) return kNoHeight;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(middle), values.end());
    const float upper = values[middle];
    if (values.size() % 2) return upper;
    const float lower = *std::max_element(values.begin(), values.begin() + static_cast<long>(middle));
    return 0.5f * (lower + upper);
}

struct StereoMatcher::Impl {
    std::vector<std::unique_ptr<Product>> products;
    MapGrid grid;
    double gsd = 0;
    TransformPtr toGeographic, fromGeographic, fromGeocentric;
    std::vector<unsigned char> rows;  // GetRows' buffer

    bool Shift(size_t i, double lat, double lon, double h0, double& dx, double& dy);
    Lattice MakeLattice(size_t i, const std::vector<double>& lat, const std::vector<double>& lon,
                        const std::vector<double>& h, int columns, int rowCount);
    bool Resample(size_t i, const Lattice& lattice, int width, int height, int factor, cv::Mat& patch);
};

StereoMatcher::StereoMatcher(const std::vector<ProductOptions>& products, const MapGrid& grid, double gsd)
    : impl_(std::make_unique<Impl>()) {
    // The tiles keep every core busy: OpenCV's own threads are turned off,
    // once.  cv::setNumThreads tears down and rebuilds OpenCV's one thread
    // arena, and two matchers made at once on two threads, as every pass of
    // dsm starts its threads, crashed doing so together.
    static std::once_flag openCvThreads;
    std::call_once(openCvThreads, [] { cv::setNumThreads(1); });
    for (const ProductOptions& options : products) {
        ProductOptions quiet = options;
        quiet.quiet = true;
        impl_->products.push_back(std::make_unique<Product>(quiet));
    }
    impl_->grid.crs = grid.crs;
    impl_->grid.crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::copy(grid.geoTransform, grid.geoTransform + 6, impl_->grid.geoTransform);
    impl_->grid.width = grid.width;
    impl_->grid.height = grid.height;
    impl_->gsd = gsd;
    const OGRSpatialReference geographic = Wgs84(4326), geographic3d = Wgs84(4979), geocentric = Wgs84(4978);
    impl_->toGeographic.reset(OGRCreateCoordinateTransformation(&impl_->grid.crs, &geographic));
    impl_->fromGeographic.reset(OGRCreateCoordinateTransformation(&geographic, &impl_->grid.crs));
    impl_->fromGeocentric.reset(OGRCreateCoordinateTransformation(&geocentric, &geographic3d));
    if (!impl_->toGeographic || !impl_->fromGeographic || !impl_->fromGeocentric)
        throw Failure(kExitFailure, "PROJ cannot convert between the grid's CRS and WGS 84");
}

StereoMatcher::~StereoMatcher() = default;

bool StereoMatcher::ToGeographic(std::vector<double>& x, std::vector<double>& y) {
    return impl_->toGeographic->Transform(x.size(), x.data(), y.data());
}

/// How far (map metres) a point kParallaxProbe metres above h0 near
/// (lat, lon) seems to move when image i is placed on h0.  Where image i
/// does not show (lat, lon) (a tile at the edge of its view), the point is
/// the one its nearest raster position shows: the parallax changes little
/// across a scene.
bool StereoMatcher::Impl::Shift(size_t i, double lat, double lon, double h0, double& dx, double& dy) {
    CeosAlosjDataset& dataset = products[i]->Dataset();
    double pixel, line, lat1, lon1, lat2, lon2;
    const CeosAlosjSensorStatus status = dataset.LatLonHeightToPixel(0, lat, lon, h0 + kParallaxProbe, &pixel, &line);
    if (status != ALOSJ_SENSOR_OK && status != ALOSJ_SENSOR_OUTSIDE) return false;
    pixel = std::clamp(pixel, 1.0, static_cast<double>(dataset.GetSceneWidth() - 1));
    line = std::clamp(line, 1.0, static_cast<double>(dataset.GetSceneHeight() - 1));
    if (dataset.PixelHeightToLatLon(0, pixel, line, h0 + kParallaxProbe, &lat1, &lon1) != ALOSJ_SENSOR_OK ||
        dataset.PixelHeightToLatLon(0, pixel, line, h0, &lat2, &lon2) != ALOSJ_SENSOR_OK)
        return false;
    double x[2] = {lon1, lon2}, y[2] = {lat1, lat2};
    if (!fromGeographic->Transform(2, x, y)) return false;
    dx = x[1] - x[0];
    dy = y[1] - y[0];
    return true;
}

Lattice StereoMatcher::Impl::MakeLattice(size_t i, const std::vector<double>& lat, const std::vector<double>& lon,
                                         const std::vector<double>& h, int columns, int rowCount) {
    CeosAlosjDataset& dataset = products[i]->Dataset();
    Lattice lattice;
    lattice.columns = columns;
    lattice.rows = rowCount;
    lattice.nodes.resize(lat.size());
    for (size_t k = 0; k < lat.size(); ++k) {
        Node& node = lattice.nodes[k];
        double pixel, line;
        const CeosAlosjSensorStatus status = dataset.LatLonHeightToPixel(0, lat[k], lon[k], h[k], &pixel, &line);
        if (status != ALOSJ_SENSOR_OK && status != ALOSJ_SENSOR_OUTSIDE) continue;
        node.pixel = pixel;
        node.line = line;
        CeosAlosjLineOfSight sight;
        if (dataset.GetLineOfSight(0, pixel, line, &sight) != ALOSJ_SENSOR_OK) continue;
        std::copy(sight.position, sight.position + 3, node.position);
        std::copy(sight.look, sight.look + 3, node.look);
    }
    return lattice;
}

/// The image resampled onto the frame (`width` x `height` samples) through
/// the lattice, averaged down by `factor` first; 0 where it shows nothing.
bool StereoMatcher::Impl::Resample(size_t i, const Lattice& lattice, int width, int height, int factor,
                                   cv::Mat& patch) {
    CeosAlosjDataset& dataset = products[i]->Dataset();
    const long sceneWidth = dataset.GetSceneWidth(), sceneHeight = dataset.GetSceneHeight();
    cv::Mat mapX(height, width, CV_32F), mapY(height, width, CV_32F);
    double pMin = 1e300, pMax = -1e300, lMin = 1e300, lMax = -1e300;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int c, r;
            double fx, fy;
            lattice.Weights(x, y, c, r, fx, fy);
            const Node& n00 = lattice.At(c, r);
            const Node& n10 = lattice.At(c + 1, r);
            const Node& n01 = lattice.At(c, r + 1);
            const Node& n11 = lattice.At(c + 1, r + 1);
            // Array positions: the raster's (0, 0) is the top-left corner of its first pixel.
            const double p = (1 - fy) * ((1 - fx) * n00.pixel + fx * n10.pixel) +
                             fy * ((1 - fx) * n01.pixel + fx * n11.pixel) - 0.5;
            const double l = (1 - fy) * ((1 - fx) * n00.line + fx * n10.line) +
                             fy * ((1 - fx) * n01.line + fx * n11.line) - 0.5;
            const bool inside = std::isfinite(p) && std::isfinite(l) && p >= 1 && l >= 1 && p <= sceneWidth - 2 &&
                                l <= sceneHeight - 2;
            mapX.at<float>(y, x) = inside ? static_cast<float>(p) : -1e6f;
            mapY.at<float>(y, x) = inside ? static_cast<float>(l) : -1e6f;
            if (inside) {
                pMin = std::min(pMin, p);
                pMax = std::max(pMax, p);
                lMin = std::min(lMin, l);
                lMax = std::max(lMax, l);
            }
        }
    }
    if (pMin > pMax) return false;
    // The window of the raster the frame needs, whole blocks of `factor`.
    const long p0 = std::max(0L, static_cast<long>(std::floor(pMin)) - 2 * factor) / factor * factor;
    const long l0 = std::max(0L, static_cast<long>(std::floor(lMin)) - 2 * factor) / factor * factor;
    long p1 = std::min(sceneWidth, static_cast<long>(std::ceil(pMax)) + 3 * factor);
    long l1 = std::min(sceneHeight, static_cast<long>(std::ceil(lMax)) + 3 * factor);
    p1 = p0 + (p1 - p0) / factor * factor;
    l1 = l0 + (l1 - l0) / factor * factor;
    if (p1 <= p0 || l1 <= l0) return false;
    const int outWidth = static_cast<int>((p1 - p0) / factor);
    cv::Mat window(static_cast<int>((l1 - l0) / factor), outWidth, CV_8U);
    const long chunk = 64L * factor;
    for (long first = l0; first < l1; first += chunk) {
        const long count = std::min(chunk, l1 - first);
        rows.resize(static_cast<size_t>(count * sceneWidth));
        dataset.GetRows(0, static_cast<unsigned long>(first), static_cast<unsigned long>(count), rows.data());
        const cv::Mat strip(static_cast<int>(count), static_cast<int>(sceneWidth), CV_8U, rows.data());
        const cv::Mat part = strip(cv::Rect(static_cast<int>(p0), 0, static_cast<int>(p1 - p0), static_cast<int>(count)));
        cv::Mat target = window.rowRange(static_cast<int>((first - l0) / factor),
                                         static_cast<int>((first - l0 + count) / factor));
        if (factor == 1)
            part.copyTo(target);
        else
            cv::resize(part, target, target.size(), 0, 0, cv::INTER_AREA);
    }
    // Raster array positions → window positions (a window pixel's centre
    // is the centre of the `factor` x `factor` pixels it averages).
    const double half = (factor - 1) / 2.0;
    for (int y = 0; y < height; ++y) {
        float* mx = mapX.ptr<float>(y);
        float* my = mapY.ptr<float>(y);
        for (int x = 0; x < width; ++x) {
            if (mx[x] < -1e5f) continue;
            mx[x] = static_cast<float>((mx[x] - p0 - half) / factor);
            my[x] = static_cast<float>((my[x] - l0 - half) / factor);
        }
    }
    cv::remap(window, patch, mapX, mapY, cv::INTER_CUBIC, cv::BORDER_CONSTANT, cv::Scalar(0));
    // Cubic interpolation reaches one pixel beyond what the raster shows.
    cv::Mat shown = window > 0, erodedShown, shownPatch;
    cv::erode(shown, erodedShown, cv::Mat::ones(3, 3, CV_8U));
    cv::remap(erodedShown, shownPatch, mapX, mapY, cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
    patch.setTo(0, shownPatch == 0);
    patch.setTo(1, (patch == 0) & (shownPatch != 0));  // 0 stays "nothing"
    return true;
}

TileHeights StereoMatcher::Match(size_t a, size_t b, const TileBox& tile, double sample,
                                 const ReferenceSurface& surface, double below, double above) {
    Impl& m = *impl_;
    const double* gt = m.grid.geoTransform;
    TileHeights result;
    result.heights.assign(static_cast<size_t>(tile.columns) * tile.rows, kNoHeight);

    const double cx = gt[0] + (tile.column + tile.columns / 2.0) * gt[1];
    const double cy = gt[3] + (tile.row + tile.rows / 2.0) * gt[5];
    std::vector<double> lon{cx}, lat{cy};
    if (!ToGeographic(lon, lat)) return result;
    const double h0 = surface.At(cx, cy);
    double ax, ay, bx, by;
    if (!m.Shift(a, lat[0], lon[0], h0, ax, ay) || !m.Shift(b, lat[0], lon[0], h0, bx, by))
        return result;
    // The parallax: map metres between the two views' places of a point per metre of height.
    const double px = ax - bx, py = ay - by;
    const double parallax = std::hypot(px, py) / kParallaxProbe;
    if (parallax < 0.05) return result;
    const double ux = px / (parallax * kParallaxProbe), uy = py / (parallax * kParallaxProbe);
    const double vx = -uy, vy = ux;

    // Disparities (samples) of the heights searched, and the frame's size.
    const int minDisparity = static_cast<int>(std::floor(parallax * below / sample)) - 2;
    const int maxDisparity = static_cast<int>(std::ceil(parallax * above / sample)) + 2;
    const int disparities = (maxDisparity - minDisparity + 1 + 15) / 16 * 16;
    const double drift =
        std::max(std::hypot(ax, ay), std::hypot(bx, by)) / kParallaxProbe * std::max(-below, above);
    const int half = static_cast<int>(std::ceil((0.5 * std::hypot(tile.columns, tile.rows) * gt[1] + drift) / sample)) +
                     kBlockSize + 2;
    const int margin = std::max(std::abs(minDisparity), std::abs(minDisparity + disparities)) + kBlockSize;
    const int width = 2 * (half + margin), height = 2 * half;
    const double ox = width / 2.0, oy = height / 2.0;
    auto frameToMap = [&](double x, double y, double& mx, double& my) {
        mx = cx + (x - ox) * sample * ux + (y - oy) * sample * vx;
        my = cy + (x - ox) * sample * uy + (y - oy) * sample * vy;
    };

    // Lattice of the frame, each node placed in both images on the surface.
    const int columns = (width + kLatticeStep - 1) / kLatticeStep + 1;
    const int rowCount = (height + kLatticeStep - 1) / kLatticeStep + 1;
    std::vector<double> nodeX, nodeY, nodeH;
    for (int r = 0; r < rowCount; ++r)
        for (int c = 0; c < columns; ++c) {
            double mx, my;
            frameToMap(c * kLatticeStep, r * kLatticeStep, mx, my);
            nodeX.push_back(mx);
            nodeY.push_back(my);
            nodeH.push_back(surface.At(mx, my));
        }
    if (!ToGeographic(nodeX, nodeY)) return result;
    const Lattice latticeA = m.MakeLattice(a, nodeY, nodeX, nodeH, columns, rowCount);
    const Lattice latticeB = m.MakeLattice(b, nodeY, nodeX, nodeH, columns, rowCount);

    const int factor = std::max(1, static_cast<int>(std::floor(sample / m.gsd + 0.25)));
    cv::Mat left, right;
    if (!m.Resample(a, latticeA, width, height, factor, left) || !m.Resample(b, latticeB, width, height, factor, right))
        return result;

    const double volume = 2.0 * width * height * disparities * 2;
    cv::Ptr<cv::StereoSGBM> sgbm = cv::StereoSGBM::create(
        minDisparity, disparities, kBlockSize, kSmallStep * kBlockSize * kBlockSize, kLargeStep * kBlockSize * kBlockSize,
        /*disp12MaxDiff=*/1, /*preFilterCap=*/63, /*uniquenessRatio=*/10, /*speckleWindowSize=*/100,
        /*speckleRange=*/2, volume < kFullModeBytes ? cv::StereoSGBM::MODE_SGBM : cv::StereoSGBM::MODE_SGBM_3WAY);
    cv::Mat disparity;
    const auto start = std::chrono::steady_clock::now();
    sgbm->compute(left, right, disparity);
    result.matchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.frameSamples = static_cast<double>(width) * height;
    const cv::Mat textured = Textured(left), texturedRight = Textured(right);

    // Intersect each matched pixel's rays; bin the points into the tile's cells.
    std::vector<double> X, Y, Z;
    std::vector<float> gaps;
    const double gapLimit = 2.0 * sample;
    // A pixel of image a shows ground within `drift` of where the frame
    // places it: pixels placed farther from the tile are left alone.
    const double reach = drift + 2 * gt[1] + 4 * sample;
    const double west = gt[0] + tile.column * gt[1] - reach, east = gt[0] + (tile.column + tile.columns) * gt[1] + reach;
    const double north = gt[3] + tile.row * gt[5] + reach, south = gt[3] + (tile.row + tile.rows) * gt[5] - reach;
    for (int y = 0; y < height; ++y) {
        const short* d = disparity.ptr<short>(y);
        const unsigned char* l = left.ptr<unsigned char>(y);
        const unsigned char* rr = right.ptr<unsigned char>(y);
        for (int x = 0; x < width; ++x) {
            // A disparity at either end of the search is the search's edge, not a match:
            // the heights asked for lie two disparities inside it.
            if (d[x] < (minDisparity + 1) * 16 || d[x] > (minDisparity + disparities - 2) * 16 || l[x] == 0 ||
                !textured.at<unsigned char>(y, x))
                continue;
            double placedX, placedY;
            frameToMap(x, y, placedX, placedY);
            if (placedX < west || placedX > east || placedY > north || placedY < south) continue;
            const double xb = x - d[x] / 16.0;
            const int nearest = static_cast<int>(std::lround(xb));
            if (nearest < 0 || nearest >= width || rr[nearest] == 0 || !texturedRight.at<unsigned char>(y, nearest))
                continue;
            double sa[3], la[3], sb[3], lb[3];
            if (!latticeA.Ray(x, y, sa, la) || !latticeB.Ray(xb, y, sb, lb)) continue;
            double w0[3] = {sa[0] - sb[0], sa[1] - sb[1], sa[2] - sb[2]};
            const double bb = la[0] * lb[0] + la[1] * lb[1] + la[2] * lb[2];
            const double dd = la[0] * w0[0] + la[1] * w0[1] + la[2] * w0[2];
            const double ee = lb[0] * w0[0] + lb[1] * w0[1] + lb[2] * w0[2];
            const double denominator = 1 - bb * bb;
            if (denominator < 1e-8) continue;
            const double ta = (bb * ee - dd) / denominator, tb = (ee - bb * dd) / denominator;
            double pa[3], pb[3];
            for (int k = 0; k < 3; ++k) {
                pa[k] = sa[k] + ta * la[k];
                pb[k] = sb[k] + tb * lb[k];
            }
            const double gap = std::sqrt((pa[0] - pb[0]) * (pa[0] - pb[0]) + (pa[1] - pb[1]) * (pa[1] - pb[1]) +
                                         (pa[2] - pb[2]) * (pa[2] - pb[2]));
            if (gap > gapLimit) continue;
            X.push_back(0.5 * (pa[0] + pb[0]));
            Y.push_back(0.5 * (pa[1] + pb[1]));
            Z.push_back(0.5 * (pa[2] + pb[2]));
            gaps.push_back(static_cast<float>(gap));
        }
    }
    if (X.empty()) return result;
    // Map places and heights: quadratics fitted to PROJ across the points'
    // box, exact to a thousandth of a cell and a millimetre; PROJ itself
    // point by point where they are not.
    LocalMapFit fit;
    if (fit.Fit(X.data(), Y.data(), Z.data(), X.size(), *m.fromGeocentric, *m.fromGeographic,
                1e-3 * std::abs(gt[1]), 1e-3)) {
        for (size_t k = 0; k < X.size(); ++k) fit.Apply(X[k], Y[k], Z[k], X[k], Y[k], Z[k]);
    } else if (!m.fromGeocentric->Transform(X.size(), X.data(), Y.data(), Z.data()) ||
               !m.fromGeographic->Transform(X.size(), X.data(), Y.data())) {
        return result;
    }
    std::vector<std::vector<float>> cells(result.heights.size());
    for (size_t k = 0; k < X.size(); ++k) {
        const int column = static_cast<int>(std::floor((X[k] - gt[0]) / gt[1])) - tile.column;
        const int row = static_cast<int>(std::floor((Y[k] - gt[3]) / gt[5])) - tile.row;
        if (column < 0 || row < 0 || column >= tile.columns || row >= tile.rows || !std::isfinite(Z[k])) continue;
        cells[static_cast<size_t>(row) * tile.columns + column].push_back(static_cast<float>(Z[k]));
        result.gaps.Add(gaps[k]);
    }
    for (size_t c = 0; c < cells.size(); ++c) result.heights[c] = Median(cells[c]);
    return result;
}

}  // namespace alosj
