// Row assembly: which image files and which columns of their lines make up
// a row of the raster.
//
// PRISM 1A/1B1 rows stitch the CCD files side by side, each cut to the
// columns between its minimum dummy widths, every file after the first less
// its first OVERLAPWIDTH valid columns.  Level 1B2 rows are cut by the dummy
// widths of their own line (not at all when geocoded).  AVNIR-2 1A/1B1 rows
// are de-staggered.  MakeLayout works this out once per band; the rows, their
// staging, geolocation and GetColumnRanges all follow its layout, and the
// width of PRISM 1A/1B1 rows is the columns of the CCD parts it places.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "dataset/DatasetState.h"

namespace {

// Rows count only the pixels a line's record holds (GetPixelsPerLine): a
// descriptor that claims more, reported when read, must not widen the row.

// The bytes a read with these skips would write.
long SpanOf(CeosAlosjImageFile& image, long leftSkip, long rightSkip) {
    return image.GetPixelsPerLine() - leftSkip - rightSkip;
}

// The line of image a row reads.
long LineOf(unsigned long row) { return static_cast<long>(std::min<unsigned long>(row, 0x7fffffffUL)); }

// Fits the read of part (its skips set) into the room the row has from its
// first column on: the right skip grows until the span fits, so that a file
// whose widths disagree with the scene header can never write past the row.
// A read without room or pixels gets count 0 and reads nothing.
void Fit(RowPart& part, long width) {
    CeosAlosjImageFile& image = *part.image;
    const long span = SpanOf(image, part.leftSkip, part.rightSkip);
    const long room = width - part.firstColumn;
    part.count = 0;
    if (room <= 0 || span <= 0) return;
    // The recorded pixels beyond the record are skipped on the right too.
    part.rightSkip += image.Descriptor().numOfImagePixelsPerLine - image.GetPixelsPerLine();
    if (span > room) part.rightSkip += span - room;
    part.count = std::clamp(image.SpanCount(part.leftSkip, part.rightSkip), 0L, room);
}

// The part of image file k of a row, its share of the raster beginning at
// column firstColumn, read between the skips.
RowPart PartOf(CeosAlosjDataset::State& s, long k, long firstColumn, long leftSkip, long rightSkip) {
    RowPart part;
    part.file = k;
    part.image = s.Image(k);
    part.firstColumn = firstColumn;
    part.leftSkip = leftSkip;
    part.rightSkip = rightSkip;
    return part;
}

// The CCD files a PRISM 1A/1B1 row is made of, each read between its
// minimum dummy widths: every file, each after the first less its first
// OVERLAPWIDTH valid columns (those of the file to its left), or the one
// selected.  Not yet placed in a row, nor fitted to its width.
std::vector<RowPart> CcdParts(CeosAlosjDataset::State& s) {
    std::vector<RowPart> parts;
    if (s.imageFiles.empty()) return parts;
    auto add = [&](long k, long overlap) {
        CeosAlosjImageFile* image = s.Image(k);
        if (!image) return;
        const long left = image->GetLeftDummyWidth(-1);  // left first: the reads report in this order
        const long right = image->GetRightDummyWidth(-1);
        parts.push_back(PartOf(s, k, 0, left + overlap, right));
    };
    if (s.OpensAllCcds()) {
        for (size_t k = 0; k < s.imageFiles.size(); ++k)
            add(static_cast<long>(k), k == 0 ? 0 : CeosAlosjDataset::OVERLAPWIDTH);
    } else {
        add(s.selectedCcdNumber - s.imageFiles[0]->GetCcdNumber(), 0);
    }
    return parts;
}

// The columns a part gives when the row leaves it room for all of them.
long ColumnsOf(RowPart part) {
    Fit(part, std::numeric_limits<long>::max());
    return part.count;
}

// The one place the rows' make-up is worked out.  PRISM 1A/1B1 rows stitch
// the CCD files (or are the selected one's), AVNIR-2 1A/1B1 rows are a band's
// file de-staggered, and Level 1B2 rows are the band's file (PRISM: the one
// image file) cut by the dummy widths of each line, of its own file for
// PRISM and of the fourth file for AVNIR-2 (not at all when geocoded).
void MakeLayout(CeosAlosjDataset::State& s, int band, long width, BandLayout& layout) {
    const bool prism = s.IsPrism();
    const bool avnir = s.IsAvnir2();
    const bool belowL2 = s.IsBelowLevel1B2();
    if (s.imageFiles.empty()) return;
    if (prism && belowL2 && s.OpensAllCcds()) {
        // The files side by side; a file without valid columns has no share.
        long column = 0;
        for (RowPart part : CcdParts(s)) {
            part.firstColumn = column;
            Fit(part, width);
            if (part.count <= 0) continue;
            part.columnCount = part.count;
            column += part.count;
            layout.parts.push_back(part);
        }
        for (const auto& image : s.imageFiles) layout.staged.push_back(image.get());
    } else if (prism && belowL2) {
        for (RowPart part : CcdParts(s)) {
            part.columnCount = width;
            Fit(part, width);
            layout.parts.push_back(part);
            layout.staged.push_back(part.image);
        }
    } else if ((prism || avnir) && s.IsLevel1B2()) {
        CeosAlosjImageFile* image = s.Image(band);
        CeosAlosjImageFile* widths = prism ? image : s.Image(3);
        if (!image) return;
        RowPart part = PartOf(s, band, 0, 0, 0);
        part.columnCount = width;
        layout.cutLineByLine = !s.isGeocoded;
        if (widths && s.isGeocoded) Fit(part, width);
        if (widths && !s.isGeocoded) layout.widthsPerLine = widths;
        layout.parts.push_back(part);
        layout.staged.push_back(image);
        if (avnir && !s.isGeocoded && widths) layout.staged.push_back(widths);  // its lines' dummy widths
    } else if (avnir && belowL2) {
        if (CeosAlosjImageFile* image = s.Image(band)) {
            // The right cut is left to FinishRightCuts.
            RowPart part = PartOf(s, band, 0, image->GetLeftDummyWidth(-1), 0);
            part.columnCount = width;
            part.shift = s.staggerPixelShift;
            part.deStagger = true;
            layout.rightCutsPending = true;
            layout.parts.push_back(part);
            layout.staged.push_back(image);
            // De-staggering reads a later line.  A product's shift is a few
            // lines; a larger one recorded in a damaged leader is not staged
            // beyond this (those later lines are read one by one), so it
            // cannot make the staging hold the file.
            layout.extraLines = std::clamp(s.staggerPixelShift, 0L, CeosAlosjImageFile::kMostBlockShift);
        }
    }
}

// An AVNIR-2 band's file is cut on the right by its smallest right dummy
// width, which is read (and its damage reported) when the band's rows are
// first read, not when only its geolocation or columns are asked for.
void FinishRightCuts(BandLayout& layout, long width) {
    for (RowPart& part : layout.parts) {
        part.rightSkip = part.image->GetRightDummyWidth(-1);
        Fit(part, width);
    }
    layout.rightCutsPending = false;
}

// The part of row `line` of a layout cut line by line: the skips are the
// dummy widths of that line of the widths file.
void CutByLine(RowPart& part, CeosAlosjImageFile& widths, long line, long width) {
    part.leftSkip = widths.GetLeftDummyWidth(line);
    part.rightSkip = widths.GetRightDummyWidth(line);
    Fit(part, width);
}

}  // namespace

long CeosAlosjDataset::State::Width() {
    if (rowLayout.widthMade) return rowLayout.width;
    long width = 0;
    // No row is wider than the image records hold (FileRead warns of a
    // scene header that claims more): a damaged header must not make the
    // host allocate, zero and write gigabytes of rows no file holds.
    if (WidthFromSceneHeader()) {
        width = leaderFile ? std::clamp<long>(leaderFile->SceneHeader().pixelsPerLine, 0, WidestRecordedLine()) : 0;
    } else if (IsPrism()) {
        // The CCD files' columns: a file without valid columns (a lost
        // descriptor) adds none, and takes none from the others.
        for (const RowPart& part : CcdParts(*this)) width += ColumnsOf(part);
    }
    rowLayout.widthMade = true;
    rowLayout.width = width;
    return width;
}

const BandLayout& CeosAlosjDataset::State::Layout(int band, bool forRows) {
    static const BandLayout none;
    BandLayout* layout = nullptr;
    if (IsPrism() && IsBelowLevel1B2()) {
        layout = &rowLayout.prismCcds;  // every band is made of the CCD files
    } else if (Image(band)) {
        if (rowLayout.bands.size() != imageFiles.size()) rowLayout.bands.assign(imageFiles.size(), BandLayout());
        layout = &rowLayout.bands[static_cast<size_t>(band)];
    } else {
        return none;
    }
    if (!layout->made) {
        MakeLayout(*this, band, Width(), *layout);
        layout->made = true;
    }
    if (forRows && layout->rightCutsPending) FinishRightCuts(*layout, Width());
    return *layout;
}

long CeosAlosjDataset::GetSceneWidth() const { return d->Width(); }

long CeosAlosjDataset::GetColumnRanges(int band, CeosAlosjColumnRange* ranges, long most) const {
    if (band < 0 || band >= GetNumOfLayers()) return 0;
    const BandLayout& layout = d->Layout(band, false);
    long n = 0;
    for (const RowPart& part : layout.parts) {
        if (ranges && n < most) ranges[n] = CeosAlosjColumnRange{part.file, part.firstColumn, part.columnCount};
        ++n;
    }
    return n;
}

long CeosAlosjDataset::GetSceneHeight() const {
    return d->leaderFile ? std::max(0, d->leaderFile->SceneHeader().numberOfLines) : 0;
}

long CeosAlosjDataset::GetRow(int bandNum, unsigned long row, unsigned long, unsigned char** buffer) {
    if (!buffer || !*buffer) return 0;
    State& s = *d;
    const long width = s.Width();
    if (width == 0) return 0;
    const BandLayout& layout = s.Layout(bandNum);
    const long line = LineOf(row);
    unsigned char* out = *buffer;
    // Rather than zeroing the whole row before the reads, which costs about
    // as much as a read, only the bytes that no read filled are zeroed: those
    // of a failed read, and those behind the last part.
    long end = 0;
    for (const RowPart& fixed : layout.parts) {
        RowPart part = fixed;
        if (layout.widthsPerLine) CutByLine(part, *layout.widthsPerLine, line, width);
        if (part.count <= 0) continue;
        bool filled = false;
        unsigned char* target = out + part.firstColumn;
        if (part.deStagger)
            part.image->ReadLineDeStagger(line, target, part.leftSkip, part.rightSkip, part.shift, filled);
        else
            part.image->ReadLine(line, target, part.leftSkip, part.rightSkip, filled);
        if (!filled) std::memset(target, 0, static_cast<size_t>(part.count));
        end = part.firstColumn + part.count;
    }
    std::memset(out + end, 0, static_cast<size_t>(width - end));
    return 0;
}

namespace {

// Reads rows [first, first + count) of rows that share their parts with one
// scattered read per part; false when a part cannot be read that way (the
// rows must then be read one by one).
bool ReadRowBlock(const BandLayout& layout, unsigned long first, unsigned long count, long width,
                  unsigned char* rows) {
    if (first + count > 0x7fffffffUL) return false;
    bool read = true;
    long end = 0;
    for (const RowPart& part : layout.parts) {
        if (part.count <= 0) continue;
        read = read && part.image->ReadLineBlock(LineOf(first), static_cast<long>(count), rows + part.firstColumn,
                                                 static_cast<size_t>(width), part.leftSkip, part.rightSkip,
                                                 part.deStagger ? part.shift : 0) == part.count;
        end = part.firstColumn + part.count;
    }
    if (!read) return false;
    for (unsigned long r = 0; r < count; ++r)
        std::memset(rows + r * static_cast<size_t>(width) + end, 0, static_cast<size_t>(width - end));
    return true;
}

}  // namespace

long CeosAlosjDataset::GetRows(int bandNum, unsigned long firstRow, unsigned long rowCount, unsigned char* buffer) {
    State& s = *d;
    const long width = s.Width();
    if (!buffer || width == 0 || rowCount == 0) return 0;
    const BandLayout& layout = s.Layout(bandNum);

    // Rows made of the same parts are read straight into place, a block of
    // lines of each file with one scattered read.
    constexpr unsigned long kBlockRows = 512;
    // (All but Level 1B2 rows not geocoded, which are cut line by line.)
    const bool shared = !layout.cutLineByLine;
    unsigned long done = 0;
    while (shared && done < rowCount) {
        const unsigned long count = std::min(kBlockRows, rowCount - done);
        unsigned char* rows = buffer + static_cast<size_t>(done) * static_cast<size_t>(width);
        if (!ReadRowBlock(layout, firstRow + done, count, width, rows)) break;
        done += count;
    }
    if (done == rowCount) return 0;

    // Otherwise each file's records are staged a piece at a time and the
    // rows are read one by one from them: the very same row reads, so the
    // bytes and the reports are GetRow's.
    const std::vector<CeosAlosjImageFile*>& files = layout.staged;
    const long extraLines = layout.extraLines;
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
