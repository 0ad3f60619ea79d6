// Full-size synthetic products for the benchmarks, and the positioned reads
// that reading every row of them takes.
//
// The reads are worked out from the product writer's description of the
// product (record lengths, pixels per line, dummy widths), never from the
// library, and are made with plain POSIX pread: that loop is the limit the
// library's row reads are measured against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/writer/ProductWriter.h"

namespace bench {

enum class Kind { Prism1B1, Avnir2_1B1, Prism1B2 };

/// "prism-1b1", "avnir2-1b1", "prism-1b2".
const char* KindName(Kind kind);
/// The kind named name; false when there is none.
bool KindFromName(const std::string& name, Kind& kind);
std::vector<Kind> AllKinds();

/// The product of a kind at full size: PRISM 1B1 six CCD files of 5000
/// pixels × 16000 lines, AVNIR-2 1B1 four bands of 7100 × 7200 de-staggered
/// by 5 lines, PRISM 1B2 one file of 14000 × 16000 whose dummy widths change
/// from line to line.  scale (0 < scale <= 1) shortens the lines only.
ceoswriter::ProductRecipe BenchProductRecipe(Kind kind, double scale);

/// A product on disk.
struct Product {
    Kind kind;
    double scale;
    ceoswriter::ProductRecipe recipe;
    ceoswriter::ProductFiles files;
    /// Every file of the product, the image files included.
    std::vector<std::string> AllFiles() const;
    /// The files a dataset decodes on FileOpen and FileRead, whole: volume
    /// directory, leader, trailer, the PRISM supplemental file below Level
    /// 1B2 and summary.txt (the image files contribute only their descriptor
    /// record).
    std::vector<std::string> MetadataFiles() const;
    uint64_t TotalBytes() const;
};

/// Writes the product of a kind into root/<kind name>, unless a product of
/// the same kind and scale is already there (a stamp file says so).
Product PrepareProduct(Kind kind, double scale, const std::string& root);

/// Reads every byte of files once, in 128 KiB pieces, as cat does; returns
/// the bytes read (the page cache is warm afterwards).
uint64_t ReadWholeFiles(const std::vector<std::string>& files);
/// Reads the first `bytes` bytes of each file (at most the file).
uint64_t ReadFileHeads(const std::vector<std::string>& files, long bytes);

/// One image file's constant line geometry.
struct ImageGeometry {
    int fd = -1;
    int64_t recordLength = 0;
    long pixels = 0;     // per line, dummy pixels included
    long lines = 0;
    long minLeft = 0;    // smallest dummy widths over all lines
    long minRight = 0;
};

/// Reads the rows of a product with plain positioned reads of exactly the
/// spans a row of each kind needs:
///   PRISM 1B1: one span per CCD file, its minimum dummy widths cut and, from
///     the second file on, 32 overlap pixels more on the left;
///   AVNIR-2 1B1: the band's span of the row and the same span shift lines
///     further down (when that line exists);
///   PRISM 1B2: the two 34-byte line prefixes that give the row's dummy
///     widths, then the span between them.
/// Nothing is merged or reordered: the de-staggered bytes stay in `later`.
class PositionedReadLimit {
public:
    explicit PositionedReadLimit(const Product& product);
    ~PositionedReadLimit();
    PositionedReadLimit(const PositionedReadLimit&) = delete;
    PositionedReadLimit& operator=(const PositionedReadLimit&) = delete;

    long Width() const { return width_; }
    long Height() const { return height_; }
    int Bands() const { return bands_; }
    long Shift() const { return shift_; }
    /// Bytes the reads of one pass over every row of every band move.
    uint64_t BytesPerPass() const { return bytesPerPass_; }
    /// Positioned reads one pass makes.
    uint64_t ReadsPerPass() const { return readsPerPass_; }

    /// Reads row `row` of band: the pixels to out (Width() bytes of room),
    /// the later line of a de-staggered row to later (Width() bytes of room).
    /// Returns false when a read comes back short.
    bool ReadRow(int band, long row, unsigned char* out, unsigned char* later);
    /// The row as the reader must assemble it from those reads: zeros where
    /// nothing is read, odd bytes from the later line when de-staggering.
    void AssembleRow(int band, long row, unsigned char* out);

private:
    bool Pread(int fd, int64_t offset, unsigned char* target, long count);

    Kind kind_;
    std::vector<ImageGeometry> files_;
    long width_ = 0;
    long height_ = 0;
    int bands_ = 0;
    long shift_ = 0;
    uint64_t bytesPerPass_ = 0;
    uint64_t readsPerPass_ = 0;
    std::vector<unsigned char> scratch_;
};

}  // namespace bench
