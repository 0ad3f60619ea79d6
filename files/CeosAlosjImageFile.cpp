#include "files/CeosAlosjImageFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "host/tmsc.h"
#include "host/tstr.h"

namespace {

// Operation names under which line and prefix reads report.
constexpr const char* kReadLineOp = "ImageFileImageLine::ReadLine";
constexpr const char* kReadLineDeStaggerOp = "ImageFileImageLine::ReadLineDeStagger";
constexpr const char* kReadPrefixOp = "ImageFileImageLine::Read";
constexpr const char* kReadStartScanTimeOp = "ImageFileImageLine::ReadStartScanTime";
constexpr const char* kReadEndScanTimeOp = "ImageFileImageLine::ReadEndScanTime";
constexpr const char* kDescriptorOp = "ImageFileFileDescriptor::Read";

// Fields of the 34-byte line prefix.
constexpr int kScanMillisecondsPosition = 21;
constexpr int kScanMicrosecondsPosition = 25;
constexpr int kLeftDummyPosition = 27;
constexpr int kRightDummyPosition = 31;

// The designator of an image file ID (CCD or band number) starts here.
constexpr size_t kDesignatorIndex = 15;

// Skips and shifts are clamped this far out, far beyond any line, so that
// offset arithmetic on them cannot overflow.
constexpr int64_t kFarOut = int64_t{1} << 40;

int64_t ClampFarOut(long value) { return std::clamp<int64_t>(value, -kFarOut, kFarOut); }

// Takes the odd bytes of target (counted from target[0]) from later.  A
// byte-by-byte loop costs a third of what the two line reads cost, so whole
// vectors are blended, as wide as the processor offers.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Stores only the odd bytes of each 64-byte piece of later.
__attribute__((target("avx512bw"))) long TakeOddBytesAvx512(unsigned char* target,
                                                           const unsigned char* later, long count) {
    const __mmask64 odd = 0xAAAAAAAAAAAAAAAAULL;
    long k = 0;
    for (; k + 64 <= count; k += 64) _mm512_mask_storeu_epi8(target + k, odd, _mm512_loadu_si512(later + k));
    return k;
}

// x86 is little-endian: the high byte of each 16-bit lane is an odd byte.
__attribute__((target("avx2"))) long TakeOddBytesAvx2(unsigned char* target,
                                                     const unsigned char* later, long count) {
    const __m256i odd = _mm256_set1_epi16(static_cast<short>(0xFF00));
    long k = 0;
    for (; k + 32 <= count; k += 32) {
        const __m256i kept = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(target + k));
        const __m256i taken = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(later + k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + k), _mm256_blendv_epi8(kept, taken, odd));
    }
    return k;
}

long TakeOddBytesSse2(unsigned char* target, const unsigned char* later, long count) {
    const __m128i odd = _mm_set1_epi16(static_cast<short>(0xFF00));
    long k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m128i kept = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + k));
        const __m128i taken = _mm_loadu_si128(reinterpret_cast<const __m128i*>(later + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + k),
                         _mm_or_si128(_mm_andnot_si128(odd, kept), _mm_and_si128(odd, taken)));
    }
    return k;
}

using BlendFunction = long (*)(unsigned char*, const unsigned char*, long);

// The widest vectors the processor (and its operating system) offers.
BlendFunction WidestBlend() {
    if (__builtin_cpu_supports("avx512bw")) return TakeOddBytesAvx512;
    if (__builtin_cpu_supports("avx2")) return TakeOddBytesAvx2;
    return TakeOddBytesSse2;
}

// The blend for vectors of `bytes` (0: the widest), or null where there is none.
BlendFunction BlendOfWidth(int bytes) {
    static const BlendFunction widest = WidestBlend();
    switch (bytes) {
        case 0: return widest;
        case 16: return TakeOddBytesSse2;
        case 32: return __builtin_cpu_supports("avx2") ? TakeOddBytesAvx2 : nullptr;
        case 64: return __builtin_cpu_supports("avx512bw") ? TakeOddBytesAvx512 : nullptr;
        default: return nullptr;
    }
}
#else
using BlendFunction = long (*)(unsigned char*, const unsigned char*, long);
long NoVectors(unsigned char*, const unsigned char*, long) { return 0; }
BlendFunction BlendOfWidth(int bytes) { return bytes == 0 ? NoVectors : nullptr; }
#endif

// Vectors take what they can (an even number of bytes), words and bytes the rest.
void TakeOddBytes(BlendFunction blend, unsigned char* target, const unsigned char* later, long count) {
    long k = blend(target, later, count);
    static constexpr unsigned char kOddBytes[8] = {0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF};
    uint64_t odd;  // 0xFF in the odd bytes, whatever the machine's byte order
    std::memcpy(&odd, kOddBytes, sizeof odd);
    for (; k + 8 <= count; k += 8) {
        uint64_t kept;
        uint64_t taken;
        std::memcpy(&kept, target + k, sizeof kept);
        std::memcpy(&taken, later + k, sizeof taken);
        kept = (kept & ~odd) | (taken & odd);
        std::memcpy(target + k, &kept, sizeof kept);
    }
    for (k += 1; k < count; k += 2) target[k] = later[k];
}

}  // namespace

bool CeosTakeOddBytes(unsigned char* target, const unsigned char* later, long count, int vectorBytes) {
    const BlendFunction blend = BlendOfWidth(vectorBytes);
    if (!blend) return false;
    TakeOddBytes(blend, target, later, count);
    return true;
}


void ImageFileFileDescriptor::Read(Tfio_File fileHandle) {
    CeosAlosjFileDescriptor::Read(fileHandle);
    // The buffer spans the record from its first byte so that positions read
    // as in the layout table; only bytes 181-444 are read into it.
    unsigned char record[kImagePartOffset + kImagePartSize] = {};
    if (!CeosReadDescriptorPart(fileHandle, record, kDescriptorOp)) return;
    DecodeImagePart(CeosFields(record, sizeof record));
    // The counts stay as recorded (a line read outside its record reads
    // nothing; GetPixelsPerLine gives what a record holds).
    if (numOfImageRecords < 0)  // a negative count names no line
        terr_ReportAndDelete(kDescriptorOp, __LINE__, nullptr, "Invalid number of image records");
    // A line's prefix and pixels lie inside its one record.
    if (numOfImagePixelsPerLine < 0 ||
        int64_t{imageRecordLength} - CeosAlosjImageFile::kLinePrefixSize < numOfImagePixelsPerLine)
        terr_ReportAndDelete(kDescriptorOp, __LINE__, nullptr, "Pixels per line do not fit the record length");
}

void ImageFileFileDescriptor::DecodeImagePart(const CeosFields& f) {
    f(181, 6, FT_INT, numOfImageRecords);
    f(187, 6, FT_INT, imageRecordLength);
    f(217, 4, FT_INT, bitsPerPixel);
    f(249, 8, FT_INT, numOfImagePixelsPerLine);
    f(429, 4, FT_ASCII, formatTypeCode);
}

CeosAlosjImageFile::CeosAlosjImageFile(const char* volumeDirFileName,
                                       const char* fileIdentification)
    : CeosAlosjNonVolFileClass(volumeDirFileName, fileIdentification),
      descriptor(std::make_unique<ImageFileFileDescriptor>()) {
    SetFilename(volumeDirFileName);
}

void CeosAlosjImageFile::SetFilename(const char* volumeDirFileName) {
    // A PRISM Level 1B2 product has one image file, named like the volume
    // directory file with IMG in place of VOL.
    if (fileSensor == 0 && fileLevel == 2) {
        CeosAlosjNonVolFileClass::SetFilename(volumeDirFileName);
        return;
    }
    const std::string volumePath = volumeDirFileName ? volumeDirFileName : "";
    const size_t dirLength = tstr_GetPathPart(volumePath.c_str(), nullptr, 0);
    const std::string directory = volumePath.substr(0, dirLength);
    const std::string name = volumePath.substr(dirLength);
    // The volume directory file's name less its "VOL-" prefix.
    const std::string tail = name.size() > 4 ? name.substr(4) : std::string();
    const std::string designator =
        fileId.size() > kDesignatorIndex ? fileId.substr(kDesignatorIndex) : std::string();
    fileName = directory + "IMG-0" + designator + "-" + tail;

    Terr_ErrorReport report = nullptr;
    if (!tfio_FileExists(fileName.c_str(), &report)) {
        const std::string message = "file " + fileName + " doesn't exist";
        terr_ReportAndDelete("CeosAlosjImageFile::SetFilename", __LINE__, &report, message.c_str());
    }
}

long CeosAlosjImageFile::Read() {
    recentKeys.clear();  // lines kept under the former descriptor's layout
    descriptor->Read(fileHandle);
    return 0;
}

int64_t CeosAlosjImageFile::LineOffset(long line) const {
    const int64_t recordLength = descriptor->imageRecordLength;
    // Without a record length every line would alias the descriptor.
    if (recordLength <= 0) return -1;
    // Negative lines name the descriptor or nothing; beyond 2^31 the offset could overflow.
    if (line < 0 || static_cast<int64_t>(line) >= std::numeric_limits<int32_t>::max()) return -1;
    return (static_cast<int64_t>(line) + 1) * recordLength;
}

CeosAlosjImageFile::Span CeosAlosjImageFile::LineSpan(long line, long leftSkip,
                                                      long rightSkip) const {
    const int64_t pixels = descriptor->numOfImagePixelsPerLine;
    const int64_t left = ClampFarOut(leftSkip);
    const int64_t right = ClampFarOut(rightSkip);
    const int64_t count = pixels - left - right;
    Span span;
    // An empty span writes nothing, and moves a caller that advances by the
    // returned count no way at all (never backwards).
    span.count = static_cast<long>(std::clamp<int64_t>(count, 0, std::numeric_limits<long>::max()));
    const int64_t base = LineOffset(line);
    span.offset = base < 0 ? -1 : base + kLinePrefixSize + left;
    // Negative skips would read prefix bytes or bytes behind the line.
    span.readable = count > 0 && left >= 0 && right >= 0 &&
                    // The span must lie inside its own record.
                    kLinePrefixSize + pixels - right <= descriptor->imageRecordLength;
    return span;
}

void CeosAlosjImageFile::SwapSamples(unsigned char* target, long count) const {
    // Samples of several bytes are big-endian in the file; only whole samples
    // inside the span are turned, so nothing beyond count bytes is touched.
    const long itemSize = descriptor->bitsPerPixel / 8;
    if (itemSize > 1) tmsc_MemSwab(target, static_cast<size_t>(count / itemSize), static_cast<size_t>(itemSize));
}

long CeosAlosjImageFile::RecordLength() const { return std::max<long>(0, descriptor->imageRecordLength); }

void CeosAlosjImageFile::StageLines(long first, long count) {
    stagedBytes = 0;
    const int64_t recordLength = descriptor->imageRecordLength;
    const int64_t offset = LineOffset(first);
    if (offset < 0 || count <= 0 || recordLength <= 0) return;
    Terr_ErrorReport report = nullptr;
    const int64_t fileSize = tfio_FileSize(fileHandle, &report);
    terr_DeleteErrorReportEx(&report);
    const int64_t bytes = std::min<int64_t>(count * recordLength, fileSize - offset);
    if (bytes <= 0) return;
    try {
        if (staged.size() < static_cast<size_t>(bytes)) staged.resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return;  // read line by line instead
    }
    tfio_ReadDirect(fileHandle, offset, staged.data(), static_cast<long>(bytes), &report);
    if (report) {
        terr_DeleteErrorReportEx(&report);
        return;
    }
    stagedOffset = offset;
    stagedBytes = bytes;
}

long CeosAlosjImageFile::ReadLineBlock(long first, long count, unsigned char* target, size_t stride,
                                       long leftSkip, long rightSkip, long shift) {
    const Span span = LineSpan(first, leftSkip, rightSkip);
    if (!span.readable || span.offset < 0 || count <= 0 || !target || stride < static_cast<size_t>(span.count) ||
        shift < 0 || shift > kMostBlockShift)
        return -1;
    // The lines of the block, then the later lines its last lines take odd
    // bytes from (those the file declares; the others stay as read).
    const int64_t last = int64_t{first} + count - 1;
    const int64_t declared = descriptor->numOfImageRecords;
    const int64_t lastLater = shift > 0 ? std::min<int64_t>(last + shift, declared - 1) : last;
    const int64_t lastRead = std::max(last, lastLater);
    if (lastRead >= std::numeric_limits<int32_t>::max()) return -1;  // beyond the lines an offset names

    // What lies between two spans (the rest of one record, the prefix and
    // left skip of the next) is read into one scratch piece, over and over;
    // later lines follow it.
    const int64_t spanBytes = span.count;
    const int64_t gap = descriptor->imageRecordLength - spanBytes;
    const int64_t laterLines = lastRead - last;
    try {
        const size_t room = static_cast<size_t>(gap + laterLines * spanBytes);
        if (blockScratch.size() < room) blockScratch.resize(room);
        blockPieces.resize(static_cast<size_t>(2 * (lastRead - first) + 1));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    unsigned char* later = blockScratch.data() + gap;
    auto lineTarget = [&](int64_t line) {
        return line <= last ? target + static_cast<size_t>(line - first) * stride
                            : later + static_cast<size_t>((line - last - 1) * spanBytes);
    };
    size_t n = 0;
    for (int64_t line = first; line <= lastRead; ++line) {
        if (line > first) blockPieces[n++] = {blockScratch.data(), static_cast<long>(gap)};
        blockPieces[n++] = {lineTarget(line), span.count};
    }
    Terr_ErrorReport report = nullptr;
    tfio_ReadScattered(fileHandle, span.offset, blockPieces.data(), static_cast<long>(n), &report);
    if (report) {
        terr_DeleteErrorReportEx(&report);
        return -1;
    }
    for (int64_t line = first; line <= lastRead; ++line) SwapSamples(lineTarget(line), span.count);
    // Ascending, each line takes its odd bytes from a later line that has
    // not taken any yet, as a read of the later line from the file would.
    if (shift > 0)
        for (int64_t line = first; line <= last && line + shift < declared; ++line)
            TakeOddBytes(BlendOfWidth(0), lineTarget(line), lineTarget(line + shift), span.count);
    return span.count;
}

bool CeosAlosjImageFile::ReadStaged(int64_t offset, unsigned char* target, long count) const {
    if (stagedBytes == 0 || offset < stagedOffset || count < 0 || offset - stagedOffset > stagedBytes - count)
        return false;
    std::memcpy(target, staged.data() + (offset - stagedOffset), static_cast<size_t>(count));
    return true;
}

bool CeosAlosjImageFile::ReadSpan(int64_t offset, unsigned char* target, long count,
                                  const char* operation) {
    if (ReadStaged(offset, target, count)) {
        SwapSamples(target, count);
        return true;
    }
    Terr_ErrorReport report = nullptr;
    tfio_ReadDirect(fileHandle, offset, target, count, &report);
    if (report) {
        terr_ReportAndDelete(operation, __LINE__, &report, "tfio_ReadDirect failed");
        return false;
    }
    SwapSamples(target, count);
    return true;
}

long CeosAlosjImageFile::ReadLine(long line, unsigned char* buffer, long leftSkip,
                                  long rightSkip) {
    bool filled = false;
    return ReadLine(line, buffer, leftSkip, rightSkip, filled);
}

long CeosAlosjImageFile::ReadLine(long line, unsigned char* buffer, long leftSkip, long rightSkip,
                                  bool& filled) {
    const Span span = LineSpan(line, leftSkip, rightSkip);
    filled = span.readable && ReadSpan(span.offset, buffer, span.count, kReadLineOp);
    return span.count;
}

unsigned char* CeosAlosjImageFile::DeStaggerBuffer(long count) {
    if (count <= kDeStaggerBufferSize) return laterLine.data();
    if (wideLaterLine.size() < static_cast<size_t>(count)) {
        // Room for the widest span of this file at once, so it grows only once;
        // a readable span lies inside a record, which is below a million bytes.
        const size_t wanted = std::max<size_t>(static_cast<size_t>(count),
                                               static_cast<size_t>(GetPixelsPerLine()));
        try {
            wideLaterLine.resize(wanted);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return wideLaterLine.data();
}

long CeosAlosjImageFile::ReadLineDeStagger(long line, unsigned char* buffer, long leftSkip,
                                           long rightSkip, long shift) {
    bool filled = false;
    return ReadLineDeStagger(line, buffer, leftSkip, rightSkip, shift, filled);
}

bool CeosAlosjImageFile::TakeRecentLine(long line, long leftSkip, long rightSkip, unsigned char* target,
                                        long count) {
    if (recentKeys.empty() || count <= 0 || static_cast<size_t>(count) > recentStride) return false;
    const size_t slot = static_cast<size_t>(line) % recentKeys.size();
    const RecentLine& key = recentKeys[slot];
    if (key.line != line || key.leftSkip != leftSkip || key.rightSkip != rightSkip || key.handle != fileHandle)
        return false;
    std::memcpy(target, recentLines.data() + slot * recentStride, static_cast<size_t>(count));
    return true;
}

unsigned char* CeosAlosjImageFile::RecentSlot(long line, long leftSkip, long rightSkip, long count, long shift) {
    if (shift <= 0 || line < 0 || count <= 0) return nullptr;
    const size_t slots = static_cast<size_t>(shift);
    if (slots > kMostRecentBytes / static_cast<size_t>(count)) return nullptr;  // a damaged shift
    if (recentKeys.size() != slots || recentStride < static_cast<size_t>(count)) {
        try {
            recentLines.resize(slots * static_cast<size_t>(count));
            recentKeys.assign(slots, RecentLine{});
        } catch (const std::bad_alloc&) {
            recentKeys.clear();
            return nullptr;
        }
        recentStride = static_cast<size_t>(count);
    }
    const size_t slot = static_cast<size_t>(line) % slots;
    recentKeys[slot] = RecentLine{line, leftSkip, rightSkip, fileHandle};
    return recentLines.data() + slot * recentStride;
}

long CeosAlosjImageFile::ReadLineDeStagger(long line, unsigned char* buffer, long leftSkip,
                                           long rightSkip, long shift, bool& filled) {
    const Span span = LineSpan(line, leftSkip, rightSkip);
    filled = span.readable && (TakeRecentLine(line, leftSkip, rightSkip, buffer, span.count) ||
                               ReadSpan(span.offset, buffer, span.count, kReadLineDeStaggerOp));
    if (!filled || shift == 0) return span.count;

    // The last shift lines have no later line: they stay as read.
    const int64_t laterLineNumber = static_cast<int64_t>(line) + ClampFarOut(shift);
    if (laterLineNumber >= descriptor->numOfImageRecords) return span.count;
    const long laterLine = static_cast<long>(std::max<int64_t>(laterLineNumber, -1));
    const Span later = LineSpan(laterLine, leftSkip, rightSkip);
    // Read into a slot of the recent lines where there is one (its key is
    // withdrawn again when the read fails).
    unsigned char* second = RecentSlot(laterLine, leftSkip, rightSkip, span.count, shift);
    const bool kept = second != nullptr;
    if (!kept) second = DeStaggerBuffer(span.count);
    if (!second) {
        terr_ReportAndDelete(kReadLineDeStaggerOp, __LINE__, nullptr, "no memory for a wide line");
        return span.count;
    }
    if (!ReadSpan(later.offset, second, span.count, kReadLineDeStaggerOp)) {
        if (kept) recentKeys[static_cast<size_t>(laterLine) % recentKeys.size()] = RecentLine{};
        return span.count;
    }
    // Odd bytes, counted from the first returned byte, come from the later line.
    TakeOddBytes(BlendOfWidth(0), buffer, second, span.count);
    return span.count;
}

bool CeosAlosjImageFile::ReadPrefix(long line, unsigned char (&prefix)[kLinePrefixSize],
                                    const char* operation) {
    const int64_t offset = LineOffset(line);
    if (offset >= 0 && ReadStaged(offset, prefix, kLinePrefixSize)) return true;
    return CeosReadRecord(fileHandle, offset, prefix, kLinePrefixSize, operation);
}

bool CeosAlosjImageFile::ReadDummyWidth(long line, Side side, long& width) {
    unsigned char prefix[kLinePrefixSize];
    if (!ReadPrefix(line, prefix, kReadPrefixOp)) return false;
    int32_t value = 0;
    const CeosFields f(prefix, sizeof prefix);
    f(side == Side::Left ? kLeftDummyPosition : kRightDummyPosition, 4, FT_BIN_INT, value);
    // A line has no fewer dummy pixels than none and no more than pixels.
    const long pixels = GetPixelsPerLine();
    if (value < 0 || value > pixels)
        terr_ReportAndDelete(kReadPrefixOp, __LINE__, nullptr, "Dummy width beyond the line");
    width = std::clamp<long>(value, 0, pixels);
    return true;
}

long CeosAlosjImageFile::ReadLeftDummyWidth(long line) {
    long width = 0;  // an unreadable prefix cuts nothing
    ReadDummyWidth(line, Side::Left, width);
    return width;
}

long CeosAlosjImageFile::ReadRightDummyWidth(long line) {
    long width = 0;  // an unreadable prefix cuts nothing
    ReadDummyWidth(line, Side::Right, width);
    return width;
}

long CeosAlosjImageFile::LinesPresent() {
    const int64_t declared = descriptor->numOfImageRecords;
    const int64_t recordLength = descriptor->imageRecordLength;
    if (declared <= 0 || recordLength <= 0) return 0;
    Terr_ErrorReport report = nullptr;
    const int64_t fileSize = tfio_FileSize(fileHandle, &report);
    terr_DeleteErrorReportEx(&report);
    // Of unknown size: believe the count; reads of missing lines are reported.
    if (fileSize < 0) return static_cast<long>(declared);
    // A line counts when its whole prefix is inside the file.
    const int64_t present = fileSize < kLinePrefixSize ? 0 : (fileSize - kLinePrefixSize) / recordLength;
    return static_cast<long>(std::min(declared, present));
}

long CeosAlosjImageFile::MinDummyWidth(Side side) {
    long& cache = side == Side::Left ? minLeftDummyWidth : minRightDummyWidth;
    if (cache != -1) return cache;

    // The widths are sought only among the lines the file really holds.
    const int64_t n = LinesPresent();
    // No line at all has no dummy pixels to cut; not cached, as a descriptor
    // read later may still bring lines.
    if (n <= 0) return 0;

    const int64_t samples[5] = {0, (n - 1) / 4, (n - 1) / 2, (3 * n - 3) / 4, n - 1};
    long w[5] = {};
    bool sampled = true;
    for (int i = 0; i < 5; ++i) sampled = ReadDummyWidth(static_cast<long>(samples[i]), side, w[i]) && sampled;

    bool monotonic = sampled;
    for (int i = 0; monotonic && i < 4; ++i)
        monotonic = w[0] > w[4] ? w[i] >= w[i + 1] : w[i] <= w[i + 1];

    long minimum = 0;
    if (monotonic) {
        minimum = std::min(w[0], w[4]);
    } else {
        // Lines whose prefix cannot be read are reported and left out; when
        // none can be read, no dummy pixels are cut.
        bool any = false;
        for (int64_t line = 0; line < n; ++line) {
            long width = 0;
            if (!ReadDummyWidth(static_cast<long>(line), side, width)) continue;
            minimum = any ? std::min(minimum, width) : width;
            any = true;
        }
    }
    cache = minimum;
    return minimum;
}

long CeosAlosjImageFile::GetLeftDummyWidth(long line) {
    return line == -1 ? MinDummyWidth(Side::Left) : ReadLeftDummyWidth(line);
}

long CeosAlosjImageFile::GetRightDummyWidth(long line) {
    return line == -1 ? MinDummyWidth(Side::Right) : ReadRightDummyWidth(line);
}

long CeosAlosjImageFile::GetValidWidth() {
    return descriptor->numOfImagePixelsPerLine - GetLeftDummyWidth(-1) - GetRightDummyWidth(-1);
}

long CeosAlosjImageFile::GetPixelsPerLine() const {
    const int64_t room = std::max<int64_t>(0, int64_t{descriptor->imageRecordLength} - kLinePrefixSize);
    return static_cast<long>(std::clamp<int64_t>(descriptor->numOfImagePixelsPerLine, 0, room));
}

bool CeosAlosjImageFile::ReadStartScanTime(long& milliseconds, long& microseconds) {
    unsigned char prefix[kLinePrefixSize];
    if (!ReadPrefix(0, prefix, kReadStartScanTimeOp)) return false;
    int32_t ms = 0;
    int32_t us = 0;  // a signed 16-bit field, sign-extended
    const CeosFields f(prefix, sizeof prefix);
    f(kScanMillisecondsPosition, 4, FT_BIN_INT, ms);
    f(kScanMicrosecondsPosition, 2, FT_BIN_INT, us);
    milliseconds = ms;
    microseconds = us;
    return true;
}

double CeosAlosjImageFile::GetStartScanTime() {
    if (startScanTime == -1.0) {
        long milliseconds = 0;
        long microseconds = 0;
        if (ReadStartScanTime(milliseconds, microseconds))
            startScanTime = (milliseconds + microseconds / 1000.0) / 1000.0;
    }
    return startScanTime;
}

double CeosAlosjImageFile::GetEndScanTime() {
    const long last = LinesPresent() - 1;
    unsigned char prefix[kLinePrefixSize];
    if (last < 0 || !ReadPrefix(last, prefix, kReadEndScanTimeOp)) return -1.0;
    int32_t ms = 0;
    int32_t us = 0;  // a signed 16-bit field, sign-extended
    const CeosFields f(prefix, sizeof prefix);
    f(kScanMillisecondsPosition, 4, FT_BIN_INT, ms);
    f(kScanMicrosecondsPosition, 2, FT_BIN_INT, us);
    return (ms + us / 1000.0) / 1000.0;
}

long CeosAlosjImageFile::GetCcdNumber() {
    if (ccdNumber == -1 && fileSensor == 0 && (fileLevel == 0 || fileLevel == 1) &&
        fileId.size() > kDesignatorIndex)
        ccdNumber = ttxt_Text_atoi(fileId.c_str() + kDesignatorIndex);
    return ccdNumber;
}

long CeosAlosjImageFile::GetPixelType() const {
    return descriptor->formatTypeCode[0] == 'I' ? 0 : -1;
}
