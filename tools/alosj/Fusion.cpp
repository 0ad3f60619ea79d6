#include "tools/alosj/Fusion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

namespace alosj {

void DropIslands(std::vector<float>& heights, int width, int height, double step, int fewest) {
    // OpenCV's speckle filter on whole metres (a coarse height is good to
    // tens of them); -32768 marks the cells without a height.
    constexpr int16_t kNone = std::numeric_limits<int16_t>::min();
    cv::Mat metres(height, width, CV_16S);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const float h = heights[static_cast<size_t>(r) * width + c];
            metres.at<int16_t>(r, c) =
                std::isfinite(h) ? static_cast<int16_t>(std::clamp(std::lround(h), -32000L, 32000L)) : kNone;
        }
    cv::filterSpeckles(metres, kNone, fewest - 1, step);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            if (metres.at<int16_t>(r, c) == kNone) heights[static_cast<size_t>(r) * width + c] = NAN;
}

bool CoarseSurface::MeasuredNear(double x, double y, int reach) const {
    const MapGrid* grid = filled.grid;
    if (!grid || !measured) return false;
    const int c = static_cast<int>(std::floor((x - grid->geoTransform[0]) / grid->geoTransform[1]));
    const int r = static_cast<int>(std::floor((y - grid->geoTransform[3]) / grid->geoTransform[5]));
    for (int row = std::max(0, r - reach); row <= std::min(grid->height - 1, r + reach); ++row)
        for (int column = std::max(0, c - reach); column <= std::min(grid->width - 1, c + reach); ++column)
            if (std::isfinite((*measured)[static_cast<size_t>(row) * grid->width + column])) return true;
    return false;
}

namespace {

/// The largest group of `values` (sorted, finite) within `agreement` of
/// each other: its first index and size (the first such group on a tie).
std::pair<size_t, size_t> LargestGroup(const std::vector<float>& values, double agreement) {
    std::pair<size_t, size_t> best{0, 0};
    for (size_t first = 0, last = 0; first < values.size(); ++first) {
        last = std::max(last, first);
        while (last + 1 < values.size() && values[last + 1] - values[first] <= agreement) ++last;
        if (last - first + 1 > best.second) best = {first, last - first + 1};
    }
    return best;
}

}  // namespace

long FuseTile(const std::vector<TileHeights>& found, const TileCells& cells, const CoarseSurface& surface,
              const FusionRule& rule, float noData, std::vector<float>& heights, std::vector<float>& agreeing) {
    const size_t count = found.empty() ? 0 : found.front().heights.size();
    heights.assign(count, noData);
    agreeing.assign(count, 0.0f);
    std::vector<float> values;
    long filled = 0;
    for (size_t k = 0; k < count; ++k) {
        values.clear();
        for (const TileHeights& pair : found)
            if (std::isfinite(pair.heights[k])) values.push_back(pair.heights[k]);
        if (values.empty()) continue;
        std::sort(values.begin(), values.end());
        const auto [first, size] = LargestGroup(values, rule.agreement);
        if (values.size() > 1 && size < 2) continue;  // the pairs disagree: a blunder among them, none known
        if (values.size() == 1 && found.size() > 1) {
            // One pair of three: kept only where the coarse surface, measured near, agrees.
            const double x = cells.x0 + (static_cast<double>(k % cells.columns) + 0.5) * cells.cell;
            const double y = cells.y0 - (static_cast<double>(k / cells.columns) + 0.5) * cells.cell;
            if (std::fabs(values[0] - surface.filled.At(x, y)) > rule.lone || !surface.MeasuredNear(x, y, rule.reach))
                continue;
        }
        std::vector<float> group(values.begin() + static_cast<long>(first),
                                 values.begin() + static_cast<long>(first + size));
        heights[k] = Median(group);
        agreeing[k] = static_cast<float>(size);
        ++filled;
    }
    return filled;
}

}  // namespace alosj
