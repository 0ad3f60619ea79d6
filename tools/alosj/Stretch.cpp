#include "tools/alosj/Stretch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace alosj {

namespace {

constexpr double kBlackFraction = 0.02, kWhiteFraction = 0.98;
/// The least share of the grey scale the middle half of a band's values spans.
constexpr double kLeastMiddleHalfShare = 1.0 / 3.0;

/// The first bin below which (itself included) `fraction` of the counted
/// bins' values lie; `counted(bin)` says which bins count.  -1 when none
/// holds a value.
template <typename Counted>
long PercentileBin(const ValueHistogram& histogram, double fraction, Counted counted) {
    uint64_t total = 0;
    const long bins = static_cast<long>(histogram.counts.size());
    for (long b = 0; b < bins; ++b)
        if (counted(b)) total += histogram.counts[static_cast<size_t>(b)];
    if (total == 0) return -1;
    const double wanted = fraction * static_cast<double>(total);
    uint64_t seen = 0;
    long last = -1;
    for (long b = 0; b < bins; ++b) {
        if (!counted(b)) continue;
        seen += histogram.counts[static_cast<size_t>(b)];
        if (histogram.counts[static_cast<size_t>(b)]) last = b;
        if (static_cast<double>(seen) >= wanted && last >= 0) return b;
    }
    return last;
}

struct BandStretch {
    double low = 0.0, high = 1.0;
    bool fullRange = false;
    double saturatedShare = 0.0;  // of the recorded values
};

BandStretch StretchOfBand(const ValueHistogram& histogram) {
    uint64_t recorded = 0, saturated = 0;
    for (size_t b = 0; b < histogram.counts.size(); ++b) {
        if (static_cast<long>(b) == histogram.nodataBin) continue;
        recorded += histogram.counts[b];
        if (static_cast<long>(b) == histogram.saturatedBin) saturated += histogram.counts[b];
    }
    BandStretch band;
    if (recorded == 0) return band;
    band.saturatedShare = static_cast<double>(saturated) / static_cast<double>(recorded);
    band.fullRange = histogram.saturatedBin >= 0 &&
                     static_cast<double>(recorded - saturated) < kFewestUnsaturated * static_cast<double>(recorded);
    const auto counted = [&](long b) {
        return b != histogram.nodataBin && (band.fullRange || b != histogram.saturatedBin);
    };
    if (band.fullRange) {
        // Almost all saturated: from the least value recorded (below the
        // saturated one, which stays white) to the saturated value.
        band.low = histogram.ValueOf(std::min(PercentileBin(histogram, 0.0, counted), histogram.saturatedBin - 1));
        band.high = histogram.ValueOf(histogram.saturatedBin);
        return band;
    }
    band.low = histogram.ValueOf(PercentileBin(histogram, kBlackFraction, counted));
    band.high = histogram.ValueOf(PercentileBin(histogram, kWhiteFraction, counted));
    // Bright values short of saturation (the shaded side of snow, the edges
    // of clouds) must not squeeze the rest into a few greys: the middle half
    // keeps its share of the grey scale, and what lies above is white.
    const double middleHalf = histogram.ValueOf(PercentileBin(histogram, 0.75, counted)) -
                              histogram.ValueOf(PercentileBin(histogram, 0.25, counted)) + histogram.step;
    band.high = std::min(band.high, band.low + middleHalf / kLeastMiddleHalfShare);
    // At least one bin from black to white (a band of one value).
    band.high = std::max(band.high, band.low + histogram.step);
    return band;
}

}  // namespace

void ValueHistogram::Count(double value) {
    const double bin = std::floor((value - first) / step);
    if (bin >= 0 && bin < static_cast<double>(counts.size())) ++counts[static_cast<size_t>(bin)];
}

ValueHistogram DigitalNumberHistogram(int saturated) {
    ValueHistogram histogram;
    histogram.counts.assign(256, 0);
    histogram.nodataBin = 0;
    histogram.saturatedBin = saturated;
    return histogram;
}

double DisplayStretch::Shade(size_t k, double value) const {
    return std::clamp((value - low[k]) / (high[k] - low[k]), 0.0, 1.0);
}

DisplayStretch StretchOf(const std::vector<ValueHistogram>& histograms, ColourBalance balance) {
    DisplayStretch stretch;
    double span = 0.0, mostSaturated = 0.0;
    for (const ValueHistogram& histogram : histograms) {
        const BandStretch band = StretchOfBand(histogram);
        stretch.low.push_back(band.low);
        stretch.high.push_back(band.high);
        stretch.fullRange.push_back(band.fullRange);
        span = std::max(span, band.high - band.low);
        if (band.fullRange) mostSaturated = std::max(mostSaturated, band.saturatedShare);
    }
    if (balance == ColourBalance::CommonSpan)
        for (size_t k = 0; k < histograms.size(); ++k) {
            // White no further than the saturated value, which is always white.
            const long top = histograms[k].saturatedBin >= 0 ? histograms[k].saturatedBin
                                                             : static_cast<long>(histograms[k].counts.size());
            stretch.high[k] = std::min(stretch.low[k] + span, histograms[k].ValueOf(top));
        }
    if (mostSaturated > 0.0) {
        char note[128];
        std::snprintf(note, sizeof note, "stretched over the full range: %.1f %% of the recorded pixels are saturated",
                      100.0 * mostSaturated);
        stretch.note = note;
    }
    return stretch;
}

}  // namespace alosj
