// The quicklook: a small contrast-stretched PNG of a product, reduced from
// its rows as a pass over the raster reads them, so that a conversion makes
// it from the rows its export reads.
//
// The raster is reduced by averaging the pixels that fall into each
// preview pixel (dummy pixels, value 0, left out); the bands are then
// stretched as every display of alosj is (StretchOf, kColourBalance)
// from the histograms of the raster's own pixels, saturated ones drawn
// white; the preview is kept in memory until then.  AVNIR-2 shows bands
// 3, 2, 1 as red, green, blue.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tools/alosj/Stretch.h"
#include "tools/describe/ProductDescription.h"

namespace alosj {

class Product;
class ProgressBar;

/// `rows` rows from `top` of the product's (0-based) `band` as a pass over
/// the raster reads them, one after the other, the scene's width each.
using RowsSeen = std::function<void(int band, long top, long rows, const unsigned char* data)>;

class QuicklookReduction {
public:
    /// The quicklook of a `width` × `height` raster described by
    /// `description`, `size` pixels along its longer side.
    QuicklookReduction(const alosjdescribe::ProductDescription& description, long width, long height, int size);

    /// The product's bands it shows (0-based): red, green and blue, or the first.
    const std::vector<int>& Bands() const { return bands_; }
    int Width() const { return outWidth_; }
    int Height() const { return outHeight_; }
    /// The source rows preview row j averages: FirstRow(j) to EndRow(j) - 1.
    long FirstRow(int j) const { return firstRow_[static_cast<size_t>(j)]; }
    long EndRow(int j) const { return endRow_[static_cast<size_t>(j)]; }

    /// Takes rows of a band; a band it does not show is passed over.  Each
    /// band's rows come top to bottom, each once.
    void Push(int band, long top, long rows, const unsigned char* data);
    /// Whether every row of every band shown has been taken.
    bool Complete() const;

    /// Writes the stretched preview as a PNG at `output` (under a temporary
    /// name, renamed when complete), with the items that name the product
    /// in its text.  Returns what it is, e.g. "200 x 50 pixels, grey", and
    /// how it is stretched where that is not as usual (DisplayStretch::note).
    std::string Write(const std::string& output) const;

private:
    struct Sums {
        std::vector<uint64_t> sum;
        std::vector<uint32_t> samples;
    };
    void Add(const unsigned char* row, Sums& sums) const;

    alosjdescribe::MetadataItems naming_;  // the items that name the product
    std::vector<int> bands_;
    long width_, height_;
    int outWidth_, outHeight_;
    std::vector<long> columnStart_, columnOf_;
    std::vector<long> firstRow_, endRow_;
    std::vector<unsigned char> preview_;  // band after band
    // For each band shown: the next row expected, the preview rows made,
    // and the sums of those being made.
    std::vector<long> nextRow_;
    std::vector<int> made_;
    std::vector<std::deque<Sums>> open_;
    std::vector<ValueHistogram> histograms_;  // of each band shown, every pixel
};

/// Reads the rows of the bands `quicklook` shows from the product, each
/// once, top to bottom, into it; progress on `bar` when given.  A failed
/// read is a Failure naming the product.
void ReduceQuicklook(Product& product, QuicklookReduction& quicklook, ProgressBar* bar);

}  // namespace alosj
