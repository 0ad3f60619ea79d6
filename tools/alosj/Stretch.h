// The display stretch of everything alosj draws or styles: the quicklooks,
// the QGIS styles beside exports, and any other preview.  One rule for all,
// so that they agree:
//
// - the stretch is taken from the values that are neither nodata nor
//   saturated (DN 0 and DN 255 of a product), so that clouds, snow and bright
//   roofs that saturate do not push the land to black;
// - black is the 2nd percentile of those, white their 98th, or lower where
//   a bright minority (the shaded side of snow, the edges of clouds) would
//   leave the middle half of them less than a third of the grey scale (as
//   much as a normal distribution has);
// - saturated values lie above white and are drawn white;
// - where almost everything recorded is saturated (fewer than
//   kFewestUnsaturated of the recorded values are not), the band is stretched
//   over all it records, up to the saturated value, and the stretch says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace alosj {

/// Counts of a band's values in equal bins: bin i counts the values v with
/// first + i × step <= v < first + (i + 1) × step.
struct ValueHistogram {
    double first = 0.0;
    double step = 1.0;
    std::vector<uint64_t> counts;
    /// The bin of nodata values, left out of every stretch; -1: none.
    long nodataBin = -1;
    /// The bin of saturated values, drawn white and left out of the
    /// stretch; -1: none.
    long saturatedBin = -1;

    /// Counts `value` in its bin; values outside the bins and NaN are not counted.
    void Count(double value);
    /// The value bin `bin` begins at.
    double ValueOf(long bin) const { return first + static_cast<double>(bin) * step; }
};

/// The digital numbers a product records: 256 bins of one DN each, 0 being
/// fill and `saturated` (a product's 8-bit maximum, 255) saturation.
ValueHistogram DigitalNumberHistogram(int saturated = 255);

/// Below this fraction of unsaturated values among those recorded, a band
/// is stretched over all it records.
constexpr double kFewestUnsaturated = 0.01;

/// How bands shown together as colours are stretched.
enum class ColourBalance {
    /// Each band from its own 2nd to its own 98th percentile.
    PerBand,
    /// Each band's 2nd percentile black (it takes the haze off), and one
    /// common span above it, the widest of the bands' spans, to white: a
    /// colour composite keeps the bands' balance.
    CommonSpan,
};

/// The balance of the colours of quicklooks and QGIS styles: each band's
/// haze taken off, one common span above it.
constexpr ColourBalance kColourBalance = ColourBalance::CommonSpan;

/// The values of each band shown black and shown white, in the histograms'
/// values (for DN histograms: DN).
struct DisplayStretch {
    std::vector<double> low;   // shown black
    std::vector<double> high;  // shown white, and everything above
    /// Bands stretched over all they record, being almost all saturated.
    std::vector<bool> fullRange;
    /// "" or, where a band is stretched over its full range, why, in words
    /// for a description: "stretched over the full range: 99.5 % of the
    /// recorded pixels are saturated".
    std::string note;

    /// Where `value` of band k is shown, from 0 (black) to 1 (white).
    double Shade(size_t k, double value) const;
};

/// The stretch of bands whose values these histograms (one a band) count.
DisplayStretch StretchOf(const std::vector<ValueHistogram>& histograms, ColourBalance balance);

}  // namespace alosj
