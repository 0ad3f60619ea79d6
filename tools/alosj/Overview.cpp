#include "tools/alosj/Overview.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace alosj {

namespace {

bool Valid(unsigned char value) { return value != 0; }
bool Valid(float value) { return !std::isnan(value); }

unsigned char Average(double total, double weight, unsigned char) {
    const auto value = static_cast<unsigned char>(total / weight + 0.5);
    return value == 0 ? 1 : value;  // 0 is no data
}
float Average(double total, double weight, float) { return static_cast<float>(total / weight); }

template <class T>
T NoData() {
    return std::numeric_limits<T>::has_quiet_NaN ? std::numeric_limits<T>::quiet_NaN() : T{0};
}

}  // namespace

template <class T>
AverageReduction<T>::AverageReduction(int bands, int width, int height, int toWidth, int toHeight)
    : bands_(bands), width_(width), height_(height), toWidth_(toWidth), toHeight_(toHeight),
      xRatio_(static_cast<double>(width) / toWidth), yRatio_(static_cast<double>(height) / toHeight) {
    std::vector<Span> columns;
    for (int i = 0; i < toWidth; ++i) {
        columns.push_back(SpanOf(i, xRatio_, width));
        span_ = std::max(span_, columns.back().end - columns.back().first);
    }
    // Every footprint as wide as the widest, those nearer the right edge
    // than that moved left, the pixels outside a footprint weighing nought.
    for (const Span& span : columns) {
        const int from = std::min(span.first, width - span_);
        firsts_.push_back(from);
        for (int x = from; x < from + span_; ++x)
            shares_.push_back(x < span.first || x >= span.end ? 0.0
                              : x == span.first                 ? span.firstWeight
                              : x + 1 == span.end               ? span.lastWeight
                                                                : 1.0);
    }
}

template <class T>
typename AverageReduction<T>::Span AverageReduction<T>::SpanOf(int i, double ratio, int size) const {
    // The footprint of reduced pixel i runs from i × ratio to (i + 1) ×
    // ratio; a hair's tolerance keeps whole numbers whole.
    const double from = i * ratio, to = (i + 1) * ratio;
    Span span;
    span.first = static_cast<int>(from + 1e-8);
    span.end = std::min(std::max(static_cast<int>(std::ceil(to - 1e-8)), span.first + 1), size);
    span.firstWeight = span.end == span.first + 1 ? 1.0 : 1.0 - (from - span.first);
    span.lastWeight = 1.0 - (span.end - to);
    return span;
}

/// Adds `row`'s weighted sums over the reduced pixels' footprints, `span`
/// pixels each from first[i] on with shares[i × span + k] (0 past a
/// footprint's end, which adds nought to any sum), into total and weight,
/// times the row's own share.
template <int kSpan, class T>
void AddRow(const T* row, const std::vector<int>& first, const std::vector<double>& shares, int span, double rowShare,
            double* total, double* weight, unsigned char* any) {
    const int n = kSpan > 0 ? kSpan : span;
    for (size_t i = 0; i < first.size(); ++i) {
        const T* pixel = row + first[i];
        const double* share = shares.data() + i * static_cast<size_t>(n);
        double lineTotal = 0, lineWeight = 0;
        for (int k = 0; k < n; ++k) {
            const bool counts = Valid(pixel[k]);
            lineTotal += (counts ? pixel[k] : T{0}) * share[k];
            lineWeight += counts ? share[k] : 0.0;
        }
        total[i] += lineTotal * rowShare;
        weight[i] += lineWeight * rowShare;
        any[i] |= lineWeight > 0;  // a footprint's own pixels weigh more than nought
    }
}

template <class T>
void AverageReduction<T>::Reduce(const Span& rows, std::vector<T>& made) const {
    const size_t rowValues = static_cast<size_t>(bands_) * static_cast<size_t>(width_);
    // Row by row of the footprint, every reduced pixel's sum and weight
    // grow in GDAL's order: each row's weighted sum, times the row's share.
    std::vector<double> total(static_cast<size_t>(toWidth_)), weight(static_cast<size_t>(toWidth_));
    std::vector<unsigned char> any(static_cast<size_t>(toWidth_));
    for (int band = 0; band < bands_; ++band) {
        std::fill(total.begin(), total.end(), 0.0);
        std::fill(weight.begin(), weight.end(), 0.0);
        std::fill(any.begin(), any.end(), 0);
        for (int y = rows.first; y < rows.end; ++y) {
            const T* row = kept_.data() + static_cast<size_t>(y - first_) * rowValues +
                           static_cast<size_t>(band) * static_cast<size_t>(width_);
            const double rowShare = y == rows.first ? rows.firstWeight : y + 1 == rows.end ? rows.lastWeight : 1.0;
            if (span_ == 2)
                AddRow<2>(row, firsts_, shares_, span_, rowShare, total.data(), weight.data(), any.data());
            else if (span_ == 3)
                AddRow<3>(row, firsts_, shares_, span_, rowShare, total.data(), weight.data(), any.data());
            else
                AddRow<0>(row, firsts_, shares_, span_, rowShare, total.data(), weight.data(), any.data());
        }
        for (size_t i = 0; i < total.size(); ++i)
            made.push_back(any[i] ? Average(total[i], weight[i], T{}) : NoData<T>());
    }
}

template <class T>
long AverageReduction<T>::Push(const T* rows, long count, std::vector<T>& made) {
    const size_t rowValues = static_cast<size_t>(bands_) * static_cast<size_t>(width_);
    kept_.insert(kept_.end(), rows, rows + static_cast<size_t>(count) * rowValues);
    const long have = first_ + static_cast<long>(kept_.size() / rowValues);
    long reduced = 0;
    for (; next_ < toHeight_; ++next_, ++reduced) {
        const Span span = SpanOf(static_cast<int>(next_), yRatio_, height_);
        if (span.end > have) break;
        Reduce(span, made);
    }
    // Rows before the next reduced row's footprint are done with.
    const long keep = next_ < toHeight_ ? SpanOf(static_cast<int>(next_), yRatio_, height_).first : have;
    const long drop = std::min(keep, have) - first_;
    if (drop > 0) {
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(drop) * rowValues));
        first_ += drop;
    }
    return reduced;
}

template class AverageReduction<unsigned char>;
template class AverageReduction<float>;

}  // namespace alosj
