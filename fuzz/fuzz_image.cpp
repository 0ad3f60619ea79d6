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
    LineReads(CeosAlosjImageFile& image, size_t fileSize) : image_(image), fileSize_(fileSize) {}

    void Read(long line, int64_t wantedLeft, int64_t wantedRight, long shift) {
        const long leftSkip = ToLong(wantedLeft);
        const long rightSkip = ToLong(wantedRight);
        const int64_t pixels = image_.Descriptor().numOfImagePixelsPerLine;
        const int64_t count = pixels - leftSkip - rightSkip;
        const long expected = count > 0 ? static_cast<long>(count) : 0;
        // What a reader may write: the span, and never more than a file holds.
        const size_t room = static_cast<size_t>(
            std::max<int64_t>(1, std::min<int64_t>(count, static_cast<int64_t>(fileSize_))));
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[room]);
        Check(image_.ReadLine(line, buffer.get(), leftSkip, rightSkip) == expected,
              "ReadLine gives the span's byte count");
        Check(image_.ReadLineDeStagger(line, buffer.get(), leftSkip, rightSkip, shift) == expected,
              "ReadLineDeStagger gives the span's byte count");
    }

private:
    CeosAlosjImageFile& image_;
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
    image.ReadLeftDummyWidth(control.lineA);
    image.ReadRightDummyWidth(control.lineB);

    // Row assembly reads every line between the file's smallest dummy widths.
    const long left = image.GetLeftDummyWidth(-1);
    const long right = image.GetRightDummyWidth(-1);
    Check(left == image.GetLeftDummyWidth(-1) && right == image.GetRightDummyWidth(-1),
          "the smallest dummy widths stay what they were");
    image.GetValidWidth();

    LineReads reads(image, fileSize);
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
