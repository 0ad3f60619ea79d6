#include "tools/writer/ImageWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

namespace {

constexpr RecordType kImageDataType = {0xED, 0xED, 0x12, 0x12};
constexpr int kLinePrefix = 34;        // record header 12, line number 4, record index 4,
                                       // scan time 4 + 2, dummy widths 4 + 4
constexpr int kRecordHeader = 12;
constexpr int kDescriptorEnd = 448;    // last byte of the descriptor's image fields
constexpr size_t kChunkBytes = 4u << 20;  // lines are gathered and written in chunks

/// The file number image files carry in their descriptors.
constexpr int kImageFileNumber = 2;

Record ImageDescriptor(const ImageFileLayout& layout, const ProductRecipe& product,
                       const std::string& fileId) {
    const int bytesPerPixel = std::max(1, layout.bitsPerPixel / 8);
    Record record = FileDescriptorRecord(static_cast<size_t>(layout.recordLength), product,
                                         kImageFileNumber, fileId);
    record.Int(181, 6, layout.lines)                 // image records (lines)
        .Int(187, 6, layout.recordLength)            // length of every record
        .Int(217, 4, layout.bitsPerPixel)            // bits per sample
        .Int(221, 4, 1)                              // samples per pixel
        .Int(225, 4, bytesPerPixel)                  // bytes per pixel
        .Ascii(229, 4, "")                           // justification
        .Int(233, 4, 1)                              // bands in this file
        .Int(237, 8, layout.lines)                   // lines per band
        .Int(245, 4, 0)                              // left border pixels (dummies vary by line)
        .Int(249, 8, layout.pixelsPerLine)           // pixels per line, dummies included
        .Int(257, 4, 0)                              // right border pixels
        .Int(261, 4, 0)                              // top border lines
        .Int(265, 4, 0)                              // bottom border lines
        .Ascii(269, 4, "BSQ")                        // interleaving
        .Int(273, 2, 1)                              // physical records per line
        .Int(275, 2, 1)                              // physical records per multi-band line
        .Int(277, 4, kLinePrefix - kRecordHeader)    // prefix bytes behind the record header
        .Int(281, 8, layout.pixelsPerLine)           // pixel bytes per record
        .Int(289, 4, layout.recordLength - kLinePrefix - layout.pixelsPerLine)  // suffix bytes
        .Ascii(293, 4, "")                           // prefix/suffix repeat flag
        .Ascii(297, 8, "  13 4PB")                   // line number locator
        .Ascii(313, 8, "  21 6PB")                   // scan time locator
        .Ascii(321, 8, "  27 4PB")                   // left dummy width locator
        .Ascii(329, 8, "  31 4PB")                   // right dummy width locator
        .Ascii(401, 28, "UNSIGNED INTEGER*" + std::to_string(bytesPerPixel))
        .Ascii(429, 4, layout.formatTypeCode)
        .Int(433, 4, 0)                              // left fill bits per pixel
        .Int(437, 4, 0);                             // right fill bits per pixel
    if (layout.bitsPerPixel > 0 && layout.bitsPerPixel <= 24)
        record.Int(441, 8, (1LL << layout.bitsPerPixel) - 1);  // largest sample value
    return record;
}

/// Milliseconds of the day and microseconds of line: the first line as
/// given, later ones lineInterval apart.
void LineScanTime(const ImageLayout& recipe, const ImageFileLayout& layout, int line,
                  int32_t& milliseconds, int32_t& microseconds) {
    if (line == 0) {
        milliseconds = layout.startMilliseconds;
        microseconds = layout.startMicroseconds;
        return;
    }
    const long long total = static_cast<long long>(layout.startMilliseconds) * 1000 +
                            layout.startMicroseconds +
                            static_cast<long long>(line) * recipe.lineIntervalMicroseconds;
    long long ms = total / 1000;
    long long us = total % 1000;
    if (us < 0) {
        us += 1000;
        --ms;
    }
    milliseconds = static_cast<int32_t>(ms);
    microseconds = static_cast<int32_t>(us);
}

/// The first line's time, microseconds of the day, when the recipe gives
/// none: Level 1B2 lines hold no time; below, the leader's scene centre time
/// (digits yyyymmddhhmmss, milliseconds, microseconds) less half the lines.
long long DefaultStartMicroseconds(const ProductRecipe& product, int lines) {
    if (product.level == 2) return 0;
    const std::string& t = product.leader.sceneCenterTime;
    auto digits = [&](size_t start, size_t count) {
        return t.size() >= start + count ? std::atoll(t.substr(start, count).c_str()) : 0LL;
    };
    const long long centre = ((digits(8, 2) * 60 + digits(10, 2)) * 60 + digits(12, 2)) * 1000000LL +
                             digits(14, 3) * 1000 + digits(17, 3);
    const long long half = std::llround((std::max(lines, 1) - 1) / 2.0 * product.image.lineIntervalMicroseconds);
    return std::max(0LL, centre - half);
}

}  // namespace

ImageFileLayout ResolveImageFile(const ImageLayout& recipe, int fileIndex) {
    ImageFileLayout layout{recipe.pixelsPerLine,  recipe.lines,          recipe.recordLength,
                           recipe.bitsPerPixel,   recipe.formatTypeCode, recipe.startMilliseconds.value_or(0),
                           recipe.startMicroseconds};
    auto it = recipe.files.find(fileIndex);
    if (it != recipe.files.end()) {
        const ImageFileOverride& o = it->second;
        if (o.pixelsPerLine) layout.pixelsPerLine = *o.pixelsPerLine;
        if (o.lines) layout.lines = *o.lines;
        if (o.recordLength) layout.recordLength = *o.recordLength;
        if (o.bitsPerPixel) layout.bitsPerPixel = *o.bitsPerPixel;
        if (o.formatTypeCode) layout.formatTypeCode = *o.formatTypeCode;
        if (o.startMilliseconds) layout.startMilliseconds = *o.startMilliseconds;
        if (o.startMicroseconds) layout.startMicroseconds = *o.startMicroseconds;
    }
    if (layout.recordLength == 0)
        layout.recordLength = std::max(kLinePrefix + layout.pixelsPerLine, ImageLayout::kMinimumRecordLength);
    return layout;
}

uint8_t DefaultPixel(int fileIndex, int line, int pixel) {
    uint32_t h = static_cast<uint32_t>(fileIndex) * 0x9E3779B1u +
                 static_cast<uint32_t>(line) * 0x85EBCA77u + static_cast<uint32_t>(pixel) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 13;
    return static_cast<uint8_t>(1 + h % 255);
}

uint8_t ImagePixel(const ImageLayout& recipe, int fileIndex, int line, int pixel) {
    const ImageFileLayout layout = ResolveImageFile(recipe, fileIndex);
    if (line < 0 || line >= layout.lines || pixel < 0 || pixel >= layout.pixelsPerLine) return 0;
    const int left = recipe.leftDummyWidth(fileIndex, line);
    const int right = recipe.rightDummyWidth(fileIndex, line);
    if (pixel < left || pixel >= layout.pixelsPerLine - right) return 0;
    return recipe.pixel ? recipe.pixel(fileIndex, line, pixel) : DefaultPixel(fileIndex, line, pixel);
}

void WriteImageFile(const std::string& path, const ProductRecipe& product, int index,
                    const std::string& fileId) {
    const ImageLayout& recipe = product.image;
    const ImageFileLayout layout = ResolveImageFile(recipe, index);
    if (layout.pixelsPerLine < 0 || layout.lines < 0)
        throw std::invalid_argument("negative image size");
    if (layout.recordLength < kDescriptorEnd || layout.recordLength < kLinePrefix + layout.pixelsPerLine)
        throw std::invalid_argument("image record length " + std::to_string(layout.recordLength) +
                                    " cannot hold the descriptor or a line");

    ImageFileLayout timed = layout;
    const auto override = recipe.files.find(index);
    const bool ownStart = recipe.startMilliseconds ||
                          (override != recipe.files.end() && override->second.startMilliseconds);
    if (!ownStart) {
        const long long start = DefaultStartMicroseconds(product, layout.lines);
        timed.startMilliseconds = static_cast<int32_t>(start / 1000);
        timed.startMicroseconds = static_cast<int16_t>(start % 1000);
    }

    FileWriter out(path);
    out.Write(0, ImageDescriptor(layout, product, fileId));

    const size_t recordLength = static_cast<size_t>(layout.recordLength);
    const size_t linesPerChunk = std::max<size_t>(1, kChunkBytes / recordLength);
    std::vector<unsigned char> chunk;
    chunk.reserve(linesPerChunk * recordLength);
    uint64_t chunkOffset = recordLength;

    Record line(recordLength, 0);
    for (int i = 0; i < layout.lines; ++i) {
        int32_t milliseconds = 0;
        int32_t microseconds = 0;
        LineScanTime(recipe, timed, i, milliseconds, microseconds);
        const int left = recipe.leftDummyWidth(index, i);
        const int right = recipe.rightDummyWidth(index, i);
        line.Header(i + 2, kImageDataType)  // the descriptor is record 1
            .BinInt(13, 4, i + 1)           // line number
            .BinInt(17, 4, 1)               // record index within the line
            .BinInt(21, 4, milliseconds)
            .BinInt(25, 2, microseconds)
            .BinInt(27, 4, left)
            .BinInt(31, 4, right);

        unsigned char* pixels = line.bytes().data() + kLinePrefix;
        const int count = layout.pixelsPerLine;
        const int first = std::clamp(left, 0, count);
        const int end = std::clamp(count - right, first, count);
        std::memset(pixels, 0, static_cast<size_t>(first));
        std::memset(pixels + end, 0, static_cast<size_t>(count - end));
        if (recipe.pixel) {
            for (int p = first; p < end; ++p) pixels[p] = recipe.pixel(index, i, p);
        } else {
            for (int p = first; p < end; ++p) pixels[p] = DefaultPixel(index, i, p);
        }

        chunk.insert(chunk.end(), line.bytes().begin(), line.bytes().end());
        if (chunk.size() >= linesPerChunk * recordLength) {
            out.Write(chunkOffset, chunk.data(), chunk.size());
            chunkOffset += chunk.size();
            chunk.clear();
        }
    }
    if (!chunk.empty()) out.Write(chunkOffset, chunk.data(), chunk.size());
}

}  // namespace ceoswriter
