// The image file reader fed an arbitrary file: descriptor, dummy widths,
// scan time, and line reads plain and de-staggered.
//
// Input: eight control bytes, then the file's bytes.  The reader expects the
// file ID the bytes record, so the sensor, level and designator it names
// decide the file's name.  The control bytes choose two more lines to read,
// signed extra skips on both sides and the de-stagger shift; every line is
// also read the way row assembly reads it, between the file's smallest dummy
// widths.  Each buffer is exactly as long as the span asked for (or as the
// file, when the span is longer than the file), so a write past what the
// reader may fill is caught.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "files/CeosAlosjImageFile.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;
using fuzzsupport::CheckTexts;

namespace {

constexpr size_t kControlBytes = 8;
constexpr long kMaxLinesRead = 48;  // lines read per pass, from the top and the bottom

struct Control {
    long lineA;
    long lineB;
    long extraLeft;
    long extraRight;
    long shift;
};

long ToLong(int64_t value) {
    return static_cast<long>(std::clamp<int64_t>(value, std::numeric_limits<long>::min(),
                                                 std::numeric_limits<long>::max()));
}

class LineReads {
public:
    LineReads(CeosAlosjImageFile& image, const uint8_t* file, size_t fileSize)
        : image_(image), file_(file), fileSize_(fileSize) {}

    void Read(long line, int64_t wantedLeft, int64_t wantedRight, long shift) {
        const long leftSkip = ToLong(wantedLeft);
        const long rightSkip = ToLong(wantedRight);
        const int64_t pixels = image_.Descriptor().numOfImagePixelsPerLine;
        const int64_t count = pixels - leftSkip - rightSkip;
        const long expected = ToLong(std::max<int64_t>(count, 0));
        // What a reader may write: the span, and never more than a file holds.
        const size_t room = static_cast<size_t>(
            std::max<int64_t>(1, std::min<int64_t>(count, static_cast<int64_t>(fileSize_))));
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[room]);
        bool filled = false;
        Check(image_.ReadLine(line, buffer.get(), leftSkip, rightSkip, filled) == expected,
              "ReadLine gives the span's byte count");
        if (filled) CheckSpan(line, leftSkip, buffer.get(), expected, false);
        filled = false;
        Check(image_.ReadLineDeStagger(line, buffer.get(), leftSkip, rightSkip, shift, filled) ==
                  expected,
              "ReadLineDeStagger gives the span's byte count");
        if (filled) CheckSpan(line, leftSkip, buffer.get(), expected, shift != 0);
        Check(image_.ReadLine(line, buffer.get(), leftSkip, rightSkip) == expected &&
                  image_.ReadLineDeStagger(line, buffer.get(), leftSkip, rightSkip, shift) ==
                      expected,
              "the reads without `filled` give the same count");
    }

    /// The width a line's prefix records, cut to the line; 0 without a prefix.
    long RecordedWidth(long line, bool left) const {
        const int64_t recordLength = image_.Descriptor().imageRecordLength;
        if (line < 0 || recordLength <= 0) return 0;
        const int64_t prefix = (int64_t{line} + 1) * recordLength;
        if (prefix + CeosAlosjImageFile::kLinePrefixSize > static_cast<int64_t>(fileSize_))
            return 0;
        const uint8_t* field = file_ + prefix + (left ? 26 : 30);  // positions 27 and 31
        const int32_t value =
            static_cast<int32_t>(uint32_t{field[0]} << 24 | uint32_t{field[1]} << 16 |
                                 uint32_t{field[2]} << 8 | field[3]);
        return std::clamp<long>(value, 0, image_.GetPixelsPerLine());
    }

private:
    // A filled span holds the file's bytes at the line's offset, each sample
    // of several bytes turned; de-staggered, only its even bytes must be the
    // line's own.
    void CheckSpan(long line, long leftSkip, const unsigned char* buffer, long count,
                   bool evenOnly) const {
        const ImageFileFileDescriptor& d = image_.Descriptor();
        const int64_t offset = (int64_t{line} + 1) * d.imageRecordLength +
                               CeosAlosjImageFile::kLinePrefixSize + leftSkip;
        Check(offset >= 0 && offset + count <= static_cast<int64_t>(fileSize_),
              "a filled span lies inside the file");
        std::vector<unsigned char> expected(file_ + offset, file_ + offset + count);
        const long itemSize = d.bitsPerPixel / 8;
        if (itemSize > 1) {
            for (long item = 0; item + itemSize <= count; item += itemSize)
                std::reverse(expected.begin() + item, expected.begin() + item + itemSize);
        }
        for (long k = 0; k < count; k += evenOnly ? 2 : 1)
            Check(buffer[k] == expected[static_cast<size_t>(k)],
                  "a filled span holds the line's bytes");
    }

    CeosAlosjImageFile& image_;
    const uint8_t* file_;
    size_t fileSize_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    fuzzsupport::InputBytes input(data, size);
    Control control;
    control.lineA = static_cast<int16_t>(input.Word());
    control.lineB = static_cast<int16_t>(input.Word());
    control.extraLeft = static_cast<int8_t>(input.Byte());
    control.extraRight = static_cast<int8_t>(input.Byte());
    control.shift = static_cast<int8_t>(input.Byte());
    const bool farSkips = (input.Byte() & 1) != 0;  // skips far beyond any line
    const uint8_t* file = data + std::min(size, kControlBytes);
    const size_t fileSize = size - std::min(size, kControlBytes);

    const std::string fileId = fuzzsupport::RecordedFileId(file, fileSize, "ALPSM_N1IMG-CCD1");
    CeosAlosjImageFile image(fuzzsupport::VolumePath().c_str(), fileId.c_str());
    const std::string name = fuzzsupport::ScratchName(image.FileName());
    std::optional<fuzzsupport::ScratchFile> scratch;
    if (!name.empty()) scratch.emplace(name, file, fileSize);

    const long identified = image.SetFd();
    Check((identified == 0) == image.IsOpen(),
          "SetFd leaves the file open exactly when it succeeds");
    Check(image.Read() == 0, "Read always gives 0");
    const ImageFileFileDescriptor& d = image.Descriptor();
    CheckTexts(d.asciiFlag, d.documentId, d.recordedFileId, d.formatTypeCode);

    const long pixelType = image.GetPixelType();
    Check(pixelType == 0 || pixelType == -1, "GetPixelType gives 0 or -1");
    const long ccd = image.GetCcdNumber();
    Check(ccd == -1 ||
              (image.FileSensor() == 0 && (image.FileLevel() == 0 || image.FileLevel() == 1)),
          "only PRISM Level 1A and 1B1 files have a CCD number");
    image.GetStartScanTime();
    LineReads reads(image, file, fileSize);
    if (image.IsOpen()) {
        Check(image.ReadLeftDummyWidth(control.lineA) == reads.RecordedWidth(control.lineA, true) &&
                  image.ReadRightDummyWidth(control.lineB) ==
                      reads.RecordedWidth(control.lineB, false),
              "a line's dummy widths are those its prefix records, cut to the line");
    }

    // Row assembly reads every line between the file's smallest dummy widths.
    const long left = image.GetLeftDummyWidth(-1);
    const long right = image.GetRightDummyWidth(-1);
    Check(left == image.GetLeftDummyWidth(-1) && right == image.GetRightDummyWidth(-1),
          "the smallest dummy widths stay what they were");
    Check(left >= 0 && right >= 0 && left <= image.GetPixelsPerLine() &&
              right <= image.GetPixelsPerLine(),
          "the smallest dummy widths lie within the line");
    image.GetValidWidth();

    const long lines = std::max<long>(0, d.numOfImageRecords);
    for (long line = 0; line < std::min(lines, kMaxLinesRead); ++line)
        reads.Read(line, left, right, control.shift);
    for (long line = std::max(kMaxLinesRead, lines - kMaxLinesRead); line < lines; ++line)
        reads.Read(line, left, right, control.shift);
    // Far beyond any line, yet clear of the limits of the arithmetic.
    const int64_t far =
        farSkips ? std::min<int64_t>(int64_t{1} << 36, std::numeric_limits<long>::max() / 8) : 0;
    for (long line : {control.lineA, control.lineB, lines, -1L}) {
        reads.Read(line, 0, 0, control.shift);
        reads.Read(line, int64_t{left} + control.extraLeft,
                   int64_t{right} + control.extraRight + far, -control.shift);
        reads.Read(line, control.extraLeft - far, control.extraRight, control.shift);
    }

    if (image.IsOpen()) Check(image.Close() == 0, "an open file closes");
    fuzzsupport::CheckNoTemporaryFilesLeft();
    return 0;
}
