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

#include "dataset/DatasetState.h"

namespace {

// Valid pixels of a file once its minimum dummy widths are cut from both ends.
long ValidWidth(CeosAlosjImageFile& image) {
    return image.Descriptor().numOfImagePixelsPerLine - image.GetLeftDummyWidth(-1) -
           image.GetRightDummyWidth(-1);
}

// The bytes a read with these skips would write.
long SpanOf(CeosAlosjImageFile& image, long leftSkip, long rightSkip) {
    return static_cast<long>(image.Descriptor().numOfImagePixelsPerLine) - leftSkip - rightSkip;
}

// Reads line `row` of image into out, which has room for `room` bytes: the
// right skip grows until the span fits, so that a file whose widths disagree
// with the scene header can never write past the row.  Returns the bytes
// written (0 when nothing fits).
long ReadBounded(CeosAlosjImageFile& image, unsigned long row, unsigned char* out, long room,
                 long leftSkip, long rightSkip, long shift, bool deStagger) {
    const long span = SpanOf(image, leftSkip, rightSkip);
    if (room <= 0 || span <= 0) return 0;
    if (span > room) rightSkip += span - room;
    const long line = static_cast<long>(std::min<unsigned long>(row, 0x7fffffffUL));
    return deStagger ? image.ReadLineDeStagger(line, out, leftSkip, rightSkip, shift)
                     : image.ReadLine(line, out, leftSkip, rightSkip);
}

}  // namespace

long CeosAlosjDataset::GetSceneWidth() const {
    const State& s = *d;
    const bool sceneHeaderWidth = s.sensorType == 1 || (s.sensorType == 0 && s.productLevel == 2);
    if (sceneHeaderWidth) return s.leaderFile ? std::max(0, s.leaderFile->SceneHeader().pixelsPerLine) : 0;
    if (s.sensorType != 0 || s.imageFiles.empty()) return 0;

    if (s.prismOpenMode == 1) {
        long width = 0;
        for (auto& image : s.imageFiles) width += ValidWidth(*image);
        width -= OVERLAPWIDTH * (static_cast<long>(s.imageFiles.size()) - 1);
        return std::max(0L, width);
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
    unsigned char* out = *buffer;
    std::memset(out, 0, static_cast<size_t>(width));
    if (width == 0) return 0;

    const bool prism = s.sensorType == 0;
    const bool avnir = s.sensorType == 1;
    const bool belowL2 = s.productLevel == 0 || s.productLevel == 1;

    if (prism && belowL2 && s.prismOpenMode == 1) {
        long written = 0;
        for (size_t k = 0; k < s.imageFiles.size(); ++k) {
            CeosAlosjImageFile& image = *s.imageFiles[k];
            const long left = image.GetLeftDummyWidth(-1) + (k == 0 ? 0 : OVERLAPWIDTH);
            const long right = image.GetRightDummyWidth(-1);
            written += ReadBounded(image, row, out + written, width - written, left, right, 0, false);
        }
    } else if (prism && belowL2) {
        if (CeosAlosjImageFile* image = s.Image(s.selectedCcdNumber - s.imageFiles[0]->GetCcdNumber()))
            ReadBounded(*image, row, out, width, image->GetLeftDummyWidth(-1),
                        image->GetRightDummyWidth(-1), 0, false);
    } else if ((prism || avnir) && s.productLevel == 2) {
        // Level 1B2: PRISM cuts by the band's own line, AVNIR-2 by the fourth file's line.
        CeosAlosjImageFile* image = s.Image(bandNum);
        CeosAlosjImageFile* widths = prism ? image : s.Image(3);
        if (image && widths) {
            const long line = static_cast<long>(std::min<unsigned long>(row, 0x7fffffffUL));
            const long left = s.isGeocoded ? 0 : widths->GetLeftDummyWidth(line);
            const long right = s.isGeocoded ? 0 : widths->GetRightDummyWidth(line);
            ReadBounded(*image, row, out, width, left, right, 0, false);
        }
    } else if (avnir && belowL2) {
        if (CeosAlosjImageFile* image = s.Image(bandNum))
            ReadBounded(*image, row, out, width, image->GetLeftDummyWidth(-1),
                        image->GetRightDummyWidth(-1), s.staggerPixelShift, true);
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
