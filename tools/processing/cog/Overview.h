// Overviews reduced while the rows stream: the average of the pixels each
// reduced pixel covers, no-data pixels left out, as GDAL's AVERAGE
// resampling reduces them.
#pragma once

#include <cstddef>
#include <vector>

namespace alosj::processing {

/// Reduces a raster of `bands` bands, `width` × `height`, to `toWidth` ×
/// `toHeight`, given its rows top to bottom a few at a time.  Each reduced
/// pixel is the weighted average of the pixels its footprint covers, each
/// weighted by the share of it that is covered, no-data pixels (0 for
/// bytes, NaN for floats) left out; a pixel that covers only no data is no
/// data, and a byte average that rounds to 0 becomes 1.  These are GDAL's
/// weights, sums and rounding, so the result equals what GDAL's overview
/// code makes of the same raster.
///
/// Rows, given and made, are laid out row after row, each row band after
/// band (a row is bands × width values).  Only the rows still needed by the
/// next reduced row are kept.
template <class T>
class AverageReduction {
public:
    AverageReduction(int bands, int width, int height, int toWidth, int toHeight);

    /// Takes `rows` rows of the larger raster, which need stay only for the
    /// call; `made` receives the reduced rows they complete (appended).
    /// Returns how many.  One call at a time: the reduction keeps its
    /// working rows from call to call.
    long Push(const T* rows, long count, std::vector<T>& made);

    int Width() const { return toWidth_; }
    int Height() const { return toHeight_; }
    int Bands() const { return bands_; }

private:
    struct Span {
        int first, end;       // pixels first to end - 1
        double firstWeight;   // the share of the first pixel covered
        double lastWeight;    // the share of the last, when more than one
    };
    Span SpanOf(int i, double ratio, int size) const;
    void Reduce(const Span& rows, std::vector<T>& made);
    /// Row y of the larger raster, band band: kept, or among those Push is given.
    const T* Row(long y, int band) const;

    int bands_, width_, height_, toWidth_, toHeight_;
    double xRatio_, yRatio_;
    int span_ = 1;                // pixels across the widest footprint
    std::vector<int> firsts_;     // the first pixel of each footprint, widened to span_
    std::vector<double> shares_;  // span_ shares of the pixels from each first
    struct Run {
        size_t begin, end;  // footprints begin to end - 1,
        int step;           // each this many pixels after the one before
    };
    std::vector<Run> runs_;
    std::vector<double> wholeShares_;   // what each footprint's shares sum to
    std::vector<double> columnShares_;  // shares_ pixel by pixel of the footprints: every first pixel's, then second's, ...
    std::vector<T> kept_;  // rows first_ on, those a reduced row still needs from earlier Pushes
    const T* given_ = nullptr;  // during Push: its rows, givenFirst_ on
    long givenFirst_ = 0;
    // Reduce's room, kept from row to row: each reduced pixel's sum and
    // weight, a row of bytes as floats and whether each is data.
    std::vector<double> total_, weight_;
    std::vector<float> values_, valid_;
    long first_ = 0;
    long next_ = 0;        // the next reduced row
};

extern template class AverageReduction<unsigned char>;
extern template class AverageReduction<float>;

}  // namespace alosj::processing
