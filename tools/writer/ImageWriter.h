// Image files of a synthetic product.
//
// An image file is a descriptor record followed by one record per line, all
// of the same length.  A line record holds a 34-byte prefix (record header,
// line number, scan time, left and right dummy widths), then one byte per
// pixel with the dummy pixels (value 0) at both ends, then zero padding.
// The files also open in GDAL's CEOS driver.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace ceoswriter {

struct ProductRecipe;

/// Dummy pixels at one end of a line, by file index (in the product's list
/// of image files) and line (from 0).
using DummyWidthFunction = std::function<int(int fileIndex, int line)>;
/// The byte of a non-dummy pixel, by file index, line and pixel (from 0,
/// dummy pixels included).
using PixelFunction = std::function<uint8_t(int fileIndex, int line, int pixel)>;

/// What one image file may do differently from the product's settings.
struct ImageFileOverride {
    std::optional<int> pixelsPerLine;
    std::optional<int> lines;
    std::optional<int> recordLength;
    std::optional<int> bitsPerPixel;
    std::optional<std::string> formatTypeCode;
    std::optional<int32_t> startMilliseconds;
    std::optional<int16_t> startMicroseconds;
};

struct ImageLayout {
    static constexpr int kDefaultLeftDummyWidth = 6;
    static constexpr int kDefaultRightDummyWidth = 4;
    /// Records are at least this long when no length is chosen, as real
    /// products' are (the descriptor needs 448 bytes).
    static constexpr int kMinimumRecordLength = 720;

    int pixelsPerLine = 64;  // dummy pixels included
    int lines = 16;
    int recordLength = 0;    // 0: 34 + pixelsPerLine, at least kMinimumRecordLength
    int bitsPerPixel = 8;
    std::string formatTypeCode = "IU8";
    DummyWidthFunction leftDummyWidth = [](int, int) { return kDefaultLeftDummyWidth; };
    DummyWidthFunction rightDummyWidth = [](int, int) { return kDefaultRightDummyWidth; };
    /// Scan start time of the first line: milliseconds of the day and signed
    /// microseconds, written as given; later lines follow at lineInterval.
    /// Without startMilliseconds: below Level 1B2 the scene centre time of
    /// the leader less half the lines, so that the middle line is scanned at
    /// the centre time; Level 1B2 lines hold no time (0).
    std::optional<int32_t> startMilliseconds;
    int16_t startMicroseconds = 0;
    int lineIntervalMicroseconds = 370;
    /// Pixel content; empty for DefaultPixel.
    PixelFunction pixel;
    /// Departures of single files, by file index.
    std::map<int, ImageFileOverride> files;
};

/// The settings that hold for one file once its override is applied.
struct ImageFileLayout {
    int pixelsPerLine;
    int lines;
    int recordLength;  // resolved, never 0
    int bitsPerPixel;
    std::string formatTypeCode;
    int32_t startMilliseconds;
    int16_t startMicroseconds;
};
ImageFileLayout ResolveImageFile(const ImageLayout& recipe, int fileIndex);

/// The deterministic default content: never 0, different from line to line
/// and from file to file.
uint8_t DefaultPixel(int fileIndex, int line, int pixel);

/// The byte the writer puts at pixel of line of file fileIndex: 0 for dummy
/// pixels and for pixels outside the line, otherwise the content's byte.
uint8_t ImagePixel(const ImageLayout& recipe, int fileIndex, int line, int pixel);

/// Writes the image file with the given index in the product's list.
void WriteImageFile(const std::string& path, const ProductRecipe& product, int index,
                    const std::string& fileId);

}  // namespace ceoswriter
