#include "tools/processing/cog/Overview.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define ALOSJ_REDUCE_WITH_AVX 1
#endif

namespace alosj::processing {

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

/// Each reduced pixel from its sum and weight (Average), no data where it
/// weighs nought.
template <class T>
void Averages(const double* total, const double* weight, size_t count, T* into) {
    for (size_t i = 0; i < count; ++i) into[i] = weight[i] > 0 ? Average(total[i], weight[i], T{}) : NoData<T>();
}

#if defined(__SSE2__)
/// The same for bytes, two divisions at a time.
template <>
void Averages(const double* total, const double* weight, size_t count, unsigned char* into) {
    const __m128d half = _mm_set1_pd(0.5);
    size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        // Truncated towards zero, as the conversion to a byte is.
        const __m128i v = _mm_cvttpd_epi32(
            _mm_add_pd(_mm_div_pd(_mm_loadu_pd(total + i), _mm_loadu_pd(weight + i)), half));
        const int values[2] = {_mm_cvtsi128_si32(v), _mm_cvtsi128_si32(_mm_srli_si128(v, 4))};
        for (int k = 0; k < 2; ++k)
            into[i + k] = !(weight[i + k] > 0) ? 0 : values[k] == 0 ? 1 : static_cast<unsigned char>(values[k]);
    }
    for (; i < count; ++i) into[i] = weight[i] > 0 ? Average(total[i], weight[i], static_cast<unsigned char>(0)) : 0;
}
#endif

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
    // What each footprint's shares sum to, in AddRow's order: its weight in
    // a row without no data.
    for (size_t i = 0; i < columns.size(); ++i) {
        double whole = 0;
        for (int k = 0; k < span_; ++k) whole += 1.0 * shares_[i * static_cast<size_t>(span_) + static_cast<size_t>(k)];
        wholeShares_.push_back(whole);
    }
    // The same shares, pixel k of every footprint after pixel k - 1's.
    for (int k = 0; k < span_; ++k)
        for (int i = 0; i < toWidth; ++i)
            columnShares_.push_back(shares_[static_cast<size_t>(i) * static_cast<size_t>(span_) + static_cast<size_t>(k)]);
    // Footprints a fixed step apart, in runs.
    for (size_t i = 0; i < firsts_.size();) {
        Run run{i, i + 1, 0};
        if (i + 1 < firsts_.size()) {
            run.step = firsts_[i + 1] - firsts_[i];
            while (run.end < firsts_.size() && firsts_[run.end] - firsts_[run.end - 1] == run.step) ++run.end;
        }
        runs_.push_back(run);
        i = run.end;
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

/// Adds `row`'s weighted sums over `count` reduced pixels' footprints into
/// total and weight, times the row's own share: footprint i has `kSpan`
/// pixels from i × kStep on (kStep 0: from first[i] on) with shares[i ×
/// kSpan + k] (0 past a footprint's end, which adds nought to any sum).
/// No data adds a term of 0 and no weight.  The terms, their order and
/// their sums are GDAL's; footprints a fixed step apart are read with
/// vector instructions.
template <int kSpan, int kStep, class T>
void AddRow(const T* row, const int* first, const double* shares, int span, size_t count, double rowShare,
            double* total, double* weight) {
    const size_t n = kSpan > 0 ? kSpan : static_cast<size_t>(span);
    for (size_t i = 0; i < count; ++i) {
        const T* pixel = row + (kStep > 0 ? i * kStep : static_cast<size_t>(first[i]));
        const double* share = shares + i * n;
        double lineTotal = 0, lineWeight = 0;
        for (size_t k = 0; k < n; ++k) {
            const bool counts = Valid(pixel[k]);
            lineTotal += (counts ? static_cast<double>(pixel[k]) : 0.0) * share[k];
            lineWeight += (counts ? 1.0 : 0.0) * share[k];
        }
        total[i] += lineTotal * rowShare;
        weight[i] += lineWeight * rowShare;
    }
}

#if defined(__SSE2__)
/// The `count` bytes of `row` as floats into `values`, and 1 for each
/// with data (not 0), else 0, into `valid`; 16 at a time.
void ToFloats(const unsigned char* row, size_t count, float* values, float* valid) {
    const __m128i zero = _mm_setzero_si128();
    const __m128 one = _mm_set1_ps(1.0f);
    size_t x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
        const __m128i words[4] = {_mm_unpacklo_epi16(low, zero), _mm_unpackhi_epi16(low, zero),
                                  _mm_unpacklo_epi16(high, zero), _mm_unpackhi_epi16(high, zero)};
        for (int j = 0; j < 4; ++j) {
            _mm_storeu_ps(values + x + 4 * j, _mm_cvtepi32_ps(words[j]));
            _mm_storeu_ps(valid + x + 4 * j, _mm_andnot_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(words[j], zero)), one));
        }
    }
    for (; x < count; ++x) {
        values[x] = static_cast<float>(row[x]);
        valid[x] = row[x] != 0 ? 1.0f : 0.0f;
    }
}

/// AddRow for bytes in footprints of kSpan (2 or 3) pixels, each two
/// pixels after the one before, two footprints at a time: `values` and
/// `valid` are the row's pixels as floats (ToFloats) from the first
/// footprint's first pixel on, readable 8 floats past the last footprint's;
/// shares[k] the footprints' shares of their pixel k.  Every term, product
/// and sum is AddRow's, in its order, two lanes at a time.  With `valid`
/// null (no pixel of these footprints is no data) each footprint's weight
/// is `whole[i]`, the sum its shares make, which is what AddRow adds then.
/// Returns how many footprints it took (all but an odd last one).
template <int kSpan>
size_t AddPairs(const float* values, const float* valid, const double* whole,
                const std::array<const double*, 3>& shares, size_t count, double rowShare, double* total,
                double* weight) {
    static_assert(kSpan == 2 || kSpan == 3, "footprints of two or three pixels");
    const __m128d share = _mm_set1_pd(rowShare), zero = _mm_setzero_pd();
    size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const auto lines = [&](const float* from) {
            const __m128 x = _mm_loadu_ps(from + 2 * i);
            const __m128d a = _mm_cvtps_pd(_mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 0, 2, 0)));  // pixels 2i, 2i + 2
            const __m128d b = _mm_cvtps_pd(_mm_shuffle_ps(x, x, _MM_SHUFFLE(3, 1, 3, 1)));  // 2i + 1, 2i + 3
            __m128d line = _mm_add_pd(zero, _mm_mul_pd(a, _mm_loadu_pd(shares[0] + i)));
            line = _mm_add_pd(line, _mm_mul_pd(b, _mm_loadu_pd(shares[1] + i)));
            if (kSpan == 3) {
                const __m128 y = _mm_loadu_ps(from + 2 * i + 4);
                const __m128 c2 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(0, 0, 2, 2));                  // 2i + 2, ., 2i + 4, .
                const __m128d c = _mm_cvtps_pd(_mm_shuffle_ps(c2, c2, _MM_SHUFFLE(2, 0, 2, 0)));  // 2i + 2, 2i + 4
                line = _mm_add_pd(line, _mm_mul_pd(c, _mm_loadu_pd(shares[2] + i)));
            }
            return line;
        };
        _mm_storeu_pd(total + i, _mm_add_pd(_mm_loadu_pd(total + i), _mm_mul_pd(lines(values), share)));
        const __m128d lineWeight = valid ? lines(valid) : _mm_loadu_pd(whole + i);
        _mm_storeu_pd(weight + i, _mm_add_pd(_mm_loadu_pd(weight + i), _mm_mul_pd(lineWeight, share)));
    }
    return i;
}
#endif

#if defined(ALOSJ_REDUCE_WITH_AVX)
/// AddPairs four footprints at a time, on processors with AVX (its four
/// lanes of doubles; no fused multiply-add, so every product and sum is
/// still AddRow's).  Returns how many footprints it took (a multiple of 4).
template <int kSpan>
__attribute__((target("avx"))) size_t AddQuads(const float* values, const float* valid, const double* whole,
                                               const std::array<const double*, 3>& shares, size_t count,
                                               double rowShare, double* total, double* weight) {
    static_assert(kSpan == 2 || kSpan == 3, "footprints of two or three pixels");
    const __m256d share = _mm256_set1_pd(rowShare), zero = _mm256_setzero_pd();
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m256d lines[2];
        const float* const from[2] = {values + 2 * i, valid ? valid + 2 * i : nullptr};
        if (!valid) lines[1] = _mm256_loadu_pd(whole + i);
        for (int j = 0; j < (valid ? 2 : 1); ++j) {
            const __m128 x0 = _mm_loadu_ps(from[j]), x1 = _mm_loadu_ps(from[j] + 4);
            const __m256d a = _mm256_cvtps_pd(_mm_shuffle_ps(x0, x1, _MM_SHUFFLE(2, 0, 2, 0)));  // 2i, 2i + 2, ...
            const __m256d b = _mm256_cvtps_pd(_mm_shuffle_ps(x0, x1, _MM_SHUFFLE(3, 1, 3, 1)));  // 2i + 1, ...
            __m256d line = _mm256_add_pd(zero, _mm256_mul_pd(a, _mm256_loadu_pd(shares[0] + i)));
            line = _mm256_add_pd(line, _mm256_mul_pd(b, _mm256_loadu_pd(shares[1] + i)));
            if (kSpan == 3) {
                const __m128 y0 = _mm_loadu_ps(from[j] + 2), y1 = _mm_loadu_ps(from[j] + 6);
                const __m256d c = _mm256_cvtps_pd(_mm_shuffle_ps(y0, y1, _MM_SHUFFLE(2, 0, 2, 0)));  // 2i + 2, ...
                line = _mm256_add_pd(line, _mm256_mul_pd(c, _mm256_loadu_pd(shares[2] + i)));
            }
            lines[j] = line;
        }
        _mm256_storeu_pd(total + i, _mm256_add_pd(_mm256_loadu_pd(total + i), _mm256_mul_pd(lines[0], share)));
        _mm256_storeu_pd(weight + i, _mm256_add_pd(_mm256_loadu_pd(weight + i), _mm256_mul_pd(lines[1], share)));
    }
    return i;
}

const bool kHaveAvx = (__builtin_cpu_init(), __builtin_cpu_supports("avx"));
#endif

template <class T>
void AverageReduction<T>::Reduce(const Span& rows, std::vector<T>& made) {
    const size_t count = static_cast<size_t>(toWidth_), span = static_cast<size_t>(span_);
    // Row by row of the footprint, every reduced pixel's sum and weight
    // grow in GDAL's order: each row's weighted sum, times the row's share.
    // A pixel with any data has a weight above nought (its own pixels'
    // shares are), one with none a weight of exactly 0.
    std::vector<double>& total = total_;
    std::vector<double>& weight = weight_;
    total.resize(count);
    weight.resize(count);
#if defined(__SSE2__)
    // A byte row as floats for AddPairs, which reads 8 past a run's last pixel.
    std::vector<float>& values = values_;
    std::vector<float>& valid = valid_;
    values.resize(static_cast<size_t>(width_) + 8);
    valid.resize(values.size());
#endif
    for (int band = 0; band < bands_; ++band) {
        std::fill(total.begin(), total.end(), 0.0);
        std::fill(weight.begin(), weight.end(), 0.0);
        for (int y = rows.first; y < rows.end; ++y) {
            const T* row = Row(y, band);
            const double rowShare = y == rows.first ? rows.firstWeight : y + 1 == rows.end ? rows.lastWeight : 1.0;
#if defined(__SSE2__)
            const bool pairs = std::is_same_v<T, unsigned char> && (span_ == 2 || span_ == 3);
            if constexpr (std::is_same_v<T, unsigned char>)
                if (pairs) ToFloats(row, static_cast<size_t>(width_), values.data(), valid.data());
#endif
            for (const Run& run : runs_) {
                size_t done = 0;
#if defined(__SSE2__)
                // A stretch of footprints a fixed 2 pixels apart, `kStretch`
                // at a time; one without no data weighs each footprint by the
                // sum of its shares.
                constexpr size_t kStretch = 256;
                while (pairs && run.step == 2 && run.end - (run.begin + done) >= 2) {
                    const size_t begin = run.begin + done, n = std::min(kStretch, run.end - begin);
                    const size_t at = static_cast<size_t>(firsts_[begin]);
                    const bool whole = std::memchr(row + at, 0, 2 * n + span - 2) == nullptr;
                    const float* const from = values.data() + at;
                    const float* const weights = whole ? nullptr : valid.data() + at;
                    std::array<const double*, 3> shares = {
                        columnShares_.data() + begin, columnShares_.data() + count + begin,
                        columnShares_.data() + (span_ == 3 ? 2 * count : 0) + begin};
                    size_t taken = 0;
#if defined(ALOSJ_REDUCE_WITH_AVX)
                    if (kHaveAvx)
                        taken = (span_ == 3 ? AddQuads<3> : AddQuads<2>)(from, weights, wholeShares_.data() + begin,
                                                                         shares, n, rowShare, total.data() + begin,
                                                                         weight.data() + begin);
#endif
                    for (const double*& s : shares) s += taken;
                    taken += (span_ == 3 ? AddPairs<3> : AddPairs<2>)(
                        from + 2 * taken, weights ? weights + 2 * taken : nullptr, wholeShares_.data() + begin + taken,
                        shares, n - taken, rowShare, total.data() + begin + taken, weight.data() + begin + taken);
                    done += taken;
                    if (taken < n) break;  // an odd last footprint: AddRow's
                }
#endif
                const size_t begin = run.begin + done, n = run.end - begin;
                if (n == 0) continue;
                const T* from = row + firsts_[begin];
                const int* first = firsts_.data() + begin;
                const double* shares = shares_.data() + begin * span;
                double* t = total.data() + begin;
                double* w = weight.data() + begin;
                if (run.step == 2 && span_ == 3)
                    AddRow<3, 2>(from, first, shares, span_, n, rowShare, t, w);
                else if (run.step == 2 && span_ == 2)
                    AddRow<2, 2>(from, first, shares, span_, n, rowShare, t, w);
                else
                    AddRow<0, 0>(row, first, shares, span_, n, rowShare, t, w);
            }
        }
        const size_t at = made.size();
        made.resize(at + count);
        Averages(total.data(), weight.data(), count, made.data() + at);
    }
}

template <class T>
const T* AverageReduction<T>::Row(long y, int band) const {
    const size_t rowValues = static_cast<size_t>(bands_) * static_cast<size_t>(width_);
    const T* row = y < givenFirst_ ? kept_.data() + static_cast<size_t>(y - first_) * rowValues
                                   : given_ + static_cast<size_t>(y - givenFirst_) * rowValues;
    return row + static_cast<size_t>(band) * static_cast<size_t>(width_);
}

template <class T>
long AverageReduction<T>::Push(const T* rows, long count, std::vector<T>& made) {
    // The given rows are reduced where they lie; only those the next
    // reduced row needs are copied, to be kept for the next Push.
    const size_t rowValues = static_cast<size_t>(bands_) * static_cast<size_t>(width_);
    given_ = rows;
    givenFirst_ = first_ + static_cast<long>(kept_.size() / rowValues);
    const long have = givenFirst_ + count;
    long reduced = 0;
    for (; next_ < toHeight_; ++next_, ++reduced) {
        const Span span = SpanOf(static_cast<int>(next_), yRatio_, height_);
        if (span.end > have) break;
        Reduce(span, made);
    }
    // Rows before the next reduced row's footprint are done with.
    const long needed = next_ < toHeight_ ? SpanOf(static_cast<int>(next_), yRatio_, height_).first : have;
    const long keep = std::min(needed, have);
    const T* const end = rows + static_cast<size_t>(count) * rowValues;
    if (keep >= givenFirst_) {
        kept_.assign(rows + static_cast<size_t>(keep - givenFirst_) * rowValues, end);
    } else {
        const size_t done = static_cast<size_t>(keep - first_) * rowValues;
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(done));
        kept_.insert(kept_.end(), rows, end);
    }
    first_ = keep;
    given_ = nullptr;
    givenFirst_ = first_ + static_cast<long>(kept_.size() / rowValues);
    return reduced;
}

template class AverageReduction<unsigned char>;
template class AverageReduction<float>;

}  // namespace alosj::processing
