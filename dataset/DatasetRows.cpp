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


// One image file's part of a row: the pixels of its line between the skips
// (de-staggered by shift when deStagger), `count` bytes from `column` on.
struct RowPart {
    CeosAlosjImageFile* image = nullptr;
    long column = 0;
    long leftSkip = 0;
    long rightSkip = 0;
    long shift = 0;
    bool deStagger = false;
    long count = 0;
};

// The line of image a row reads.
long LineOf(unsigned long row) { return static_cast<long>(std::min<unsigned long>(row, 0x7fffffffUL)); }

// Calls visit with each part of row `row` of the band, left to right, and
// returns the column behind the last.  Each part fits the room left in the
// row: its right skip grows until the span fits, so that a file whose widths
// disagree with the scene header can never write past the row.
template <typename Visit>
long ForEachRowPart(CeosAlosjDataset::State& s, int bandNum, unsigned long row, long width, Visit&& visit) {
    long column = 0;
    auto part = [&](CeosAlosjImageFile& image, long leftSkip, long rightSkip, long shift, bool deStagger) {
        const long span = SpanOf(image, leftSkip, rightSkip);
        const long room = width - column;
        if (room <= 0 || span <= 0) return;
        // The recorded pixels beyond the record are skipped on the right too.
        rightSkip += image.Descriptor().numOfImagePixelsPerLine - image.GetPixelsPerLine();
        if (span > room) rightSkip += span - room;
        const RowPart fitted{&image, column, leftSkip, rightSkip, shift, deStagger,
                             std::clamp(image.SpanCount(leftSkip, rightSkip), 0L, room)};
        visit(fitted);
        column += fitted.count;
    };

    const bool prism = s.IsPrism();
    const bool avnir = s.IsAvnir2();
    const bool belowL2 = s.IsBelowLevel1B2();
    if (prism && belowL2 && s.OpensAllCcds()) {
        for (size_t k = 0; k < s.imageFiles.size(); ++k) {
            CeosAlosjImageFile& image = *s.imageFiles[k];
            const long overlap = k == 0 ? 0 : CeosAlosjDataset::OVERLAPWIDTH;
            part(image, image.GetLeftDummyWidth(-1) + overlap, image.GetRightDummyWidth(-1), 0, false);
        }
    } else if (prism && belowL2) {
        if (CeosAlosjImageFile* image = s.Image(s.selectedCcdNumber - s.imageFiles[0]->GetCcdNumber()))
            part(*image, image->GetLeftDummyWidth(-1), image->GetRightDummyWidth(-1), 0, false);
    } else if ((prism || avnir) && s.IsLevel1B2()) {
        // Level 1B2: PRISM cuts by the band's own line, AVNIR-2 by the fourth file's line.
        CeosAlosjImageFile* image = s.Image(bandNum);
        CeosAlosjImageFile* widths = prism ? image : s.Image(3);
        if (image && widths) {
            const long line = LineOf(row);
            const long left = s.isGeocoded ? 0 : widths->GetLeftDummyWidth(line);
            const long right = s.isGeocoded ? 0 : widths->GetRightDummyWidth(line);
            part(*image, left, right, 0, false);
        }
    } else if (avnir && belowL2) {
        if (CeosAlosjImageFile* image = s.Image(bandNum))
            part(*image, image->GetLeftDummyWidth(-1), image->GetRightDummyWidth(-1), s.staggerPixelShift, true);
    }
    return column;
}

// Whether every row of the product is made of the same parts (only the line
// differs): all but Level 1B2 cut line by line.
bool RowsShareTheirParts(const CeosAlosjDataset::State& s) { return !(s.IsLevel1B2() && !s.isGeocoded); }

}  // namespace

long CeosAlosjDataset::GetSceneWidth() const {
    const State& s = *d;
    // No row is wider than the image records hold (FileRead warns of a
    // scene header that claims more): a damaged header must not make the
    // host allocate, zero and write gigabytes of rows no file holds.
    if (s.WidthFromSceneHeader())
        return s.leaderFile ? std::clamp<long>(s.leaderFile->SceneHeader().pixelsPerLine, 0, s.WidestRecordedLine())
                            : 0;
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
    const long width = GetSceneWidth();
    if (width == 0) return 0;
    unsigned char* out = *buffer;
    // Rather than zeroing the whole row before the reads, which costs about
    // as much as a read, only the bytes that no read filled are zeroed: those
    // of a failed read, and those behind the last part.
    const long end = ForEachRowPart(*d, bandNum, row, width, [&](const RowPart& part) {
        bool filled = false;
        unsigned char* target = out + part.column;
        if (part.deStagger)
            part.image->ReadLineDeStagger(LineOf(row), target, part.leftSkip, part.rightSkip, part.shift, filled);
        else
            part.image->ReadLine(LineOf(row), target, part.leftSkip, part.rightSkip, filled);
        if (!filled) std::memset(target, 0, static_cast<size_t>(part.count));
    });
    std::memset(out + end, 0, static_cast<size_t>(width - end));
    return 0;
}

namespace {

// Reads rows [first, first + count) of rows that share their parts with one
// scattered read per part; false when a part cannot be read that way (the
// rows must then be read one by one).
bool ReadRowBlock(CeosAlosjDataset::State& s, int bandNum, unsigned long first, unsigned long count, long width,
                  unsigned char* rows) {
    if (first + count > 0x7fffffffUL) return false;
    bool read = true;
    const long end = ForEachRowPart(s, bandNum, first, width, [&](const RowPart& part) {
        read = read && part.image->ReadLineBlock(LineOf(first), static_cast<long>(count), rows + part.column,
                                                 static_cast<size_t>(width), part.leftSkip, part.rightSkip,
                                                 part.deStagger ? part.shift : 0) == part.count;
    });
    if (!read) return false;
    for (unsigned long r = 0; r < count; ++r)
        std::memset(rows + r * static_cast<size_t>(width) + end, 0, static_cast<size_t>(width - end));
    return true;
}

}  // namespace

long CeosAlosjDataset::GetRows(int bandNum, unsigned long firstRow, unsigned long rowCount, unsigned char* buffer) {
    State& s = *d;
    const long width = GetSceneWidth();
    if (!buffer || width == 0 || rowCount == 0) return 0;

    // Rows made of the same parts are read straight into place, a block of
    // lines of each file with one scattered read.
    constexpr unsigned long kBlockRows = 512;
    const bool shared = RowsShareTheirParts(s);
    unsigned long done = 0;
    while (shared && done < rowCount) {
        const unsigned long count = std::min(kBlockRows, rowCount - done);
        unsigned char* rows = buffer + static_cast<size_t>(done) * static_cast<size_t>(width);
        if (!ReadRowBlock(s, bandNum, firstRow + done, count, width, rows)) break;
        done += count;
    }
    if (done == rowCount) return 0;

    // Otherwise each file's records are staged a piece at a time and the
    // rows are read one by one from them: the very same row reads, so the
    // bytes and the reports are GetRow's.
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
        // AVNIR-2 de-staggering reads a later line.  A product's shift is a
        // few lines; a larger one recorded in a damaged leader is not staged
        // beyond this (those later lines are read one by one), so it cannot
        // make the staging hold the file.
        extraLines = std::clamp(s.staggerPixelShift, 0L, CeosAlosjImageFile::kMostBlockShift);
    }
    files.erase(std::remove(files.begin(), files.end(), nullptr), files.end());
    long bytesPerRow = 0;
    for (CeosAlosjImageFile* image : files) bytesPerRow += image->RecordLength();

    // Staged a megabyte at a time, the records are still in the processor's
    // cache when the rows are made of them.
    constexpr long kStagedBytes = long{1} << 20;
    const unsigned long rowsAtOnce =
        static_cast<unsigned long>(std::max(1L, kStagedBytes / std::max(1L, bytesPerRow) - extraLines));
    while (done < rowCount) {
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
