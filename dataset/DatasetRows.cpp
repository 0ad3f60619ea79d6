// Row assembly: which image files and which columns of their lines make up
// a row of the raster.
//
// PRISM 1A/1B1 rows stitch the CCD files side by side, each cut to the
// columns between its minimum dummy widths, every file after the first less
// its first OVERLAPWIDTH valid columns.  Level 1B2 rows are cut by the dummy
// widths of their own line (not at all when geocoded).  AVNIR-2 1A/1B1 rows
// are de-staggered.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dataset/DatasetState.h"

namespace {

// Rows count only the pixels a line's record holds (GetPixelsPerLine): a
// descriptor that claims more, reported when read, must not widen the row.

// Valid pixels of a file once its minimum dummy widths are cut from both ends.
long ValidWidth(CeosAlosjImageFile& image) {
    return image.GetPixelsPerLine() - image.GetLeftDummyWidth(-1) - image.GetRightDummyWidth(-1);
}

// The bytes a read with these skips would write.
long SpanOf(CeosAlosjImageFile& image, long leftSkip, long rightSkip) {
    return image.GetPixelsPerLine() - leftSkip - rightSkip;
}

// No image line is wider than a record of the largest length the format can
// write (six digits) holds: a wider scene header is not believed, so that a
// damaged header cannot make the host allocate and zero gigabytes per row.
constexpr long kWidestLine = 999999 - CeosAlosjImageFile::kLinePrefixSize;

// Reads line `row` of image into out, which has room for `room` bytes: the
// right skip grows until the span fits, so that a file whose widths disagree
// with the scene header can never write past the row.  Returns the bytes the
// span covers (0 when nothing fits) and whether the read filled them.
long ReadBounded(CeosAlosjImageFile& image, unsigned long row, unsigned char* out, long room,
                 long leftSkip, long rightSkip, long shift, bool deStagger, bool& filled) {
    filled = false;
    const long span = SpanOf(image, leftSkip, rightSkip);
    if (room <= 0 || span <= 0) return 0;
    // The recorded pixels beyond the record are skipped on the right too.
    rightSkip += image.Descriptor().numOfImagePixelsPerLine - image.GetPixelsPerLine();
    if (span > room) rightSkip += span - room;
    const long line = static_cast<long>(std::min<unsigned long>(row, 0x7fffffffUL));
    const long count = deStagger ? image.ReadLineDeStagger(line, out, leftSkip, rightSkip, shift, filled)
                                 : image.ReadLine(line, out, leftSkip, rightSkip, filled);
    return std::clamp(count, 0L, room);
}

// The row as reads fill it.  Rather than zeroing the whole row before the
// reads, which costs about as much as a read, only the bytes that no read
// filled are zeroed: those of a failed read, and those behind the last read.
class RowFill {
public:
    RowFill(unsigned char* row, long width) : row_(row), width_(width) {}
    unsigned char* Next() const { return row_ + written_; }
    long Room() const { return width_ - written_; }
    void Advance(long count, bool filled) {
        if (!filled) std::memset(row_ + written_, 0, static_cast<size_t>(count));
        written_ += count;
    }
    void ZeroRest() { std::memset(row_ + written_, 0, static_cast<size_t>(width_ - written_)); }

private:
    unsigned char* row_;
    long width_;
    long written_ = 0;
};

}  // namespace

long CeosAlosjDataset::GetSceneWidth() const {
    const State& s = *d;
    const bool sceneHeaderWidth = s.IsAvnir2() || (s.IsPrism() && s.IsLevel1B2());
    if (sceneHeaderWidth)
        return s.leaderFile ? std::clamp<long>(s.leaderFile->SceneHeader().pixelsPerLine, 0, kWidestLine) : 0;
    if (!s.IsPrism() || s.imageFiles.empty()) return 0;

    if (s.OpensAllCcds()) {
        // Each file adds its valid columns less its overlap with the file to
        // its left, and never less than nothing: a CCD file without valid
        // columns (a lost descriptor) must not take columns from the others.
        long width = 0;
        for (size_t k = 0; k < s.imageFiles.size(); ++k)
            width += std::max(0L, ValidWidth(*s.imageFiles[k]) - (k == 0 ? 0 : OVERLAPWIDTH));
        return width;
    }
    CeosAlosjImageFile* selected = s.Image(s.selectedCcdNumber - s.imageFiles[0]->GetCcdNumber());
    return selected ? std::max(0L, ValidWidth(*selected)) : 0;
}

long CeosAlosjDataset::GetSceneHeight() const {
    return d->leaderFile ? std::max(0, d->leaderFile->SceneHeader().numberOfLines) : 0;
}

long CeosAlosjDataset::GetRow(int bandNum, unsigned long row, unsigned long, unsigned char** buffer) {
    if (!buffer || !*buffer) return 0;
    State& s = *d;
    const long width = GetSceneWidth();
    if (width == 0) return 0;
    RowFill fill(*buffer, width);

    const bool prism = s.IsPrism();
    const bool avnir = s.IsAvnir2();
    const bool belowL2 = s.IsBelowLevel1B2();
    bool filled = false;

    if (prism && belowL2 && s.OpensAllCcds()) {
        for (size_t k = 0; k < s.imageFiles.size(); ++k) {
            CeosAlosjImageFile& image = *s.imageFiles[k];
            const long left = image.GetLeftDummyWidth(-1) + (k == 0 ? 0 : OVERLAPWIDTH);
            const long right = image.GetRightDummyWidth(-1);
            const long count = ReadBounded(image, row, fill.Next(), fill.Room(), left, right, 0, false, filled);
            fill.Advance(count, filled);
        }
    } else if (prism && belowL2) {
        if (CeosAlosjImageFile* image = s.Image(s.selectedCcdNumber - s.imageFiles[0]->GetCcdNumber())) {
            const long count = ReadBounded(*image, row, fill.Next(), fill.Room(), image->GetLeftDummyWidth(-1),
                                           image->GetRightDummyWidth(-1), 0, false, filled);
            fill.Advance(count, filled);
        }
    } else if ((prism || avnir) && s.IsLevel1B2()) {
        // Level 1B2: PRISM cuts by the band's own line, AVNIR-2 by the fourth file's line.
        CeosAlosjImageFile* image = s.Image(bandNum);
        CeosAlosjImageFile* widths = prism ? image : s.Image(3);
        if (image && widths) {
            const long line = static_cast<long>(std::min<unsigned long>(row, 0x7fffffffUL));
            const long left = s.isGeocoded ? 0 : widths->GetLeftDummyWidth(line);
            const long right = s.isGeocoded ? 0 : widths->GetRightDummyWidth(line);
            const long count = ReadBounded(*image, row, fill.Next(), fill.Room(), left, right, 0, false, filled);
            fill.Advance(count, filled);
        }
    } else if (avnir && belowL2) {
        if (CeosAlosjImageFile* image = s.Image(bandNum)) {
            const long count = ReadBounded(*image, row, fill.Next(), fill.Room(), image->GetLeftDummyWidth(-1),
                                           image->GetRightDummyWidth(-1), s.staggerPixelShift, true, filled);
            fill.Advance(count, filled);
        }
    }
    fill.ZeroRest();
    return 0;
}

long CeosAlosjDataset::GetRows(int bandNum, unsigned long firstRow, unsigned long rowCount, unsigned char* buffer) {
    State& s = *d;
    const long width = GetSceneWidth();
    if (!buffer || width == 0 || rowCount == 0) return 0;

    // The files whose lines make the band's rows, and how many lines past a
    // row each row needs (AVNIR-2 de-staggering reads a later line).
    std::vector<CeosAlosjImageFile*> files;
    long extraLines = 0;
    const bool belowL2 = s.IsBelowLevel1B2();
    if (s.IsPrism() && belowL2 && s.OpensAllCcds()) {
        for (const auto& image : s.imageFiles) files.push_back(image.get());
    } else if (s.IsPrism() && belowL2) {
        files.push_back(s.Image(s.selectedCcdNumber - s.imageFiles[0]->GetCcdNumber()));
    } else if (s.IsLevel1B2()) {
        files.push_back(s.Image(bandNum));
        if (s.IsAvnir2() && !s.isGeocoded) files.push_back(s.Image(3));  // its lines' dummy widths
    } else if (s.IsAvnir2() && belowL2) {
        files.push_back(s.Image(bandNum));
        // A product's shift is a few lines; a larger one recorded in a
        // damaged leader is not staged beyond this (those later lines are
        // read one by one), so it cannot make the staging hold the file.
        constexpr long kMostStagedShift = 64;
        extraLines = std::clamp(s.staggerPixelShift, 0L, kMostStagedShift);
    }
    files.erase(std::remove(files.begin(), files.end(), nullptr), files.end());
    long bytesPerRow = 0;
    for (CeosAlosjImageFile* image : files) bytesPerRow += image->RecordLength();

    constexpr long kStagedBytes = long{16} << 20;
    const unsigned long rowsAtOnce =
        static_cast<unsigned long>(std::max(1L, kStagedBytes / std::max(1L, bytesPerRow) - extraLines));
    for (unsigned long done = 0; done < rowCount;) {
        const unsigned long first = firstRow + done;
        const unsigned long count = std::min(rowsAtOnce, rowCount - done);
        const bool stageable = first <= 0x7fffffffUL && count + extraLines <= 0x7fffffffUL;
        if (stageable)
            for (CeosAlosjImageFile* image : files)
                image->StageLines(static_cast<long>(first), static_cast<long>(count) + extraLines);
        for (unsigned long r = 0; r < count; ++r) {
            unsigned char* row = buffer + static_cast<size_t>(done + r) * static_cast<size_t>(width);
            GetRow(bandNum, first + r, 0, &row);
        }
        for (CeosAlosjImageFile* image : files) image->ReleaseStagedLines();
        done += count;
    }
    return 0;
}

long CeosAlosjDataset::GetNumOfImagePixelsPerLine() const {
    const CeosAlosjImageFile* first = d->Image(0);
    return first ? first->Descriptor().numOfImagePixelsPerLine : 0;
}

void CeosAlosjDataset::SetLeftDummyWidth() {
    if (CeosAlosjImageFile* first = d->Image(0)) d->leftDummyWidth = first->GetLeftDummyWidth(0);
}

void CeosAlosjDataset::SetRightDummyWidth() {
    if (CeosAlosjImageFile* last = d->Image(d->imgFileCount - 1))
        d->rightDummyWidth = last->GetRightDummyWidth(0);
}
