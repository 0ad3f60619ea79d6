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
    for (int i = 0; i < toWidth; ++i) columns_.push_back(SpanOf(i, xRatio_, width));
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

template <class T>
void AverageReduction<T>::Reduce(const Span& rows, std::vector<T>& made) const {
    const size_t rowValues = static_cast<size_t>(bands_) * static_cast<size_t>(width_);
    for (int band = 0; band < bands_; ++band)
        for (const Span& columns : columns_) {
            double total = 0, weight = 0;
            bool any = false;
            for (int y = rows.first; y < rows.end; ++y) {
                const T* row = kept_.data() + static_cast<size_t>(y - first_) * rowValues +
                               static_cast<size_t>(band) * static_cast<size_t>(width_);
                double lineTotal = 0, lineWeight = 0;
                for (int x = columns.first; x < columns.end; ++x) {
                    const T value = row[x];
                    if (!Valid(value)) continue;
                    any = true;
                    const double share = x == columns.first ? columns.firstWeight
                                         : x + 1 == columns.end ? columns.lastWeight
                                                                : 1.0;
                    lineTotal += value * share;
                    lineWeight += share;
                }
                const double share = y == rows.first ? rows.firstWeight : y + 1 == rows.end ? rows.lastWeight : 1.0;
                total += lineTotal * share;
                weight += lineWeight * share;
            }
            made.push_back(any ? Average(total, weight, T{}) : NoData<T>());
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
