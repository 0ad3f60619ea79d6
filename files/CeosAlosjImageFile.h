// Image file: one CCD unit (PRISM) or one band (AVNIR-2) of a product.
//
// A sequence of fixed-length records of imageRecordLength bytes.  The first
// record (offset 0) is the image file descriptor; image line i (from 0) is
// the record at offset (i + 1) × imageRecordLength.  Each line record opens
// with a 34-byte prefix (record header, scan start time in the first line,
// left and right dummy widths), then one byte per pixel, dummy pixels
// included; the record is padded to its length.  Binary fields are
// big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "ceos/CeosAlosjBaseClass.h"
#include "ceos/CeosRecord.h"

/// The image file descriptor record: the common 180 bytes, then the image
/// fields of bytes 181-444.
struct ImageFileFileDescriptor : CeosAlosjFileDescriptor {
    static constexpr int kImagePartOffset = 180;  // file offset of byte 181
    static constexpr int kImagePartSize = 264;    // bytes 181-444

    int32_t numOfImageRecords = 0;        // lines that follow the descriptor
    int32_t imageRecordLength = 0;        // every record's length, the descriptor's included
    int32_t bitsPerPixel = 0;
    int32_t numOfImagePixelsPerLine = 0;  // dummy pixels included
    char formatTypeCode[5] = {};          // only the first character is interpreted

    /// Reads the common part, then bytes 181-444.  A failed read is reported
    /// and leaves its fields as they were.
    void Read(Tfio_File fileHandle);
    void DecodeImagePart(const CeosFields& f);
};

/// Takes the odd bytes of target (counted from target[0]) from later, as
/// de-staggering does, with vectors of vectorBytes bytes (16, 32 or 64; 0:
/// the widest the processor offers, which the line reads use).  False, with
/// nothing touched, when the processor or the build lacks that width.
bool CeosTakeOddBytes(unsigned char* target, const unsigned char* later, long count, int vectorBytes);

/// Reader of one image file.  Line and prefix reads report under the
/// operation names "ImageFileImageLine::...".  Not for use by two threads at
/// once: the caches and the de-stagger buffer are plain members.
class CeosAlosjImageFile : public CeosAlosjNonVolFileClass {
public:
    static constexpr int kLinePrefixSize = 34;            // bytes before a line's first pixel
    static constexpr long kDeStaggerBufferSize = 7100;    // fixed room for the later line

    /// @name Lifecycle
    /// @{
    /// volumeDirFileName: the product's volume directory file;
    /// fileIdentification: the 16-character ID of the image file's pointer
    /// record.  Composes the file's path; a missing file is reported.
    CeosAlosjImageFile(const char* volumeDirFileName, const char* fileIdentification);

    /// Composes the image file's path from the volume directory file's:
    /// D/VOL-ABC with designator 3 gives D/IMG-03-ABC; a PRISM Level 1B2
    /// file gets D/IMG-ABC.
    void SetFilename(const char* volumeDirFileName);

    /// Reads the descriptor record; always 0 (a failed read is reported).
    long Read();
    const ImageFileFileDescriptor& Descriptor() const { return *descriptor; }
    /// @}

    /// @name Lines
    /// @{
    /// Reads the pixels of line between leftSkip and numOfImagePixelsPerLine
    /// − rightSkip into buffer (one read, buffer[0] the first pixel behind
    /// the skipped ones) and returns how many bytes that span covers, also
    /// when the read fails.  A span that is empty, or that does not lie
    /// inside the line's record, reads and writes nothing; an empty span
    /// returns 0.
    long ReadLine(long line, unsigned char* buffer, long leftSkip, long rightSkip);
    /// The same, with every odd byte of the returned span (counted from
    /// buffer[0]) taken from the line shift lines further down, when that
    /// line exists.  Shift 0 reads plainly.
    long ReadLineDeStagger(long line, unsigned char* buffer, long leftSkip, long rightSkip,
                           long shift);
    /// The same two reads, telling in `filled` whether buffer[0 .. count)
    /// now holds the line's pixels: false when the span cannot be read or its
    /// read failed, and those bytes may then hold anything.  (A failed read
    /// of the later line leaves the line as read plainly, which is filled.)
    long ReadLine(long line, unsigned char* buffer, long leftSkip, long rightSkip, bool& filled);
    long ReadLineDeStagger(long line, unsigned char* buffer, long leftSkip, long rightSkip,
                           long shift, bool& filled);
    /// @}

    /// @name Line prefixes
    /// @{
    /// The dummy widths recorded in the prefix of line; 0 (no dummy pixels)
    /// when the prefix cannot be read, which is reported.  A width outside
    /// 0 … GetPixelsPerLine() is reported and cut to the line.
    long ReadLeftDummyWidth(long line);
    long ReadRightDummyWidth(long line);
    /// For line −1 the smallest width over all lines of the file (computed
    /// once); for any other line that line's width, read afresh.
    long GetLeftDummyWidth(long line);
    long GetRightDummyWidth(long line);
    /// numOfImagePixelsPerLine less both smallest dummy widths.
    long GetValidWidth();
    /// numOfImagePixelsPerLine as far as one record holds it: 0 …
    /// imageRecordLength − 34.  A descriptor whose pixels do not fit its
    /// record length is reported when it is read.
    long GetPixelsPerLine() const;
    /// The scan start time fields of the first line (the microseconds
    /// sign-extended).  False, with the fields untouched, when the prefix
    /// cannot be read, which is reported.
    bool ReadStartScanTime(long& milliseconds, long& microseconds);
    /// The scan start time of the first line in seconds (cached); −1.0 while
    /// it cannot be read.
    double GetStartScanTime();
    /// The scan time of the last line the file holds, in seconds of the day
    /// (milliseconds and microseconds of its prefix); −1.0 when the file
    /// holds no line or its prefix cannot be read (which is reported).
    double GetEndScanTime();
    /// The lines whose prefix the file really holds (the last one's is
    /// GetEndScanTime's), at most the descriptor's record count.
    long GetLinesPresent() { return LinesPresent(); }
    /// @}

    /// @name Many lines at once
    /// @{
    /// Reads the spans of lines [first, first + count), each as ReadLine or
    /// (shift > 0) ReadLineDeStagger would with these skips, into target,
    /// line after line `stride` bytes apart, with one scattered read: the
    /// prefixes, dummy pixels and padding between the spans go to scratch
    /// room.  Returns the span's byte count when every line (and every later
    /// line the de-staggering takes) lies whole in the file and was read; the
    /// lines then hold exactly what the line reads give, which would have
    /// reported nothing.  Otherwise −1, with nothing reported and the target
    /// bytes undefined: read the lines one by one then.
    long ReadLineBlock(long first, long count, unsigned char* target, size_t stride, long leftSkip,
                       long rightSkip, long shift);
    /// The bytes a line read with these skips covers (what ReadLine returns).
    long SpanCount(long leftSkip, long rightSkip) const { return LineSpan(0, leftSkip, rightSkip).count; }
    /// The farthest shift ReadLineBlock de-staggers by (real shifts are a few lines).
    static constexpr long kMostBlockShift = 64;
    /// @}

    /// @name Staged lines
    /// @{
    /// Reads the records of lines [first, first + count) with one read and
    /// keeps them, so that later reads of those lines' pixels and prefixes
    /// are served from memory; lines the file does not hold are left out,
    /// and their reads go to the file as before (and are reported there).
    /// A staging that cannot be read is given up without a report.
    void StageLines(long first, long count);
    /// Forgets the staged lines (the room is kept for the next staging).
    void ReleaseStagedLines() { stagedBytes = 0; }
    /// imageRecordLength, or 0 without a usable one.
    long RecordLength() const;
    /// @}

    /// @name Classification
    /// @{
    /// The CCD number of a PRISM Level 1A or 1B1 file (the file ID's
    /// designator), −1 for other files.
    long GetCcdNumber();
    /// 0 when the format type code begins with 'I', −1 otherwise.
    long GetPixelType() const;
    /// @}

private:
    enum class Side { Left, Right };

    /// File offset of the first byte of line's record, or −1 for a line
    /// number that names no line (which the host then refuses to read).
    int64_t LineOffset(long line) const;
    /// Bytes of one line span: the count, and whether it may be read at all.
    struct Span {
        long count = 0;
        int64_t offset = 0;
        bool readable = false;
    };
    Span LineSpan(long line, long leftSkip, long rightSkip) const;
    /// Reads count bytes at offset into target and restores sample order;
    /// reports a failure under operation.
    bool ReadSpan(int64_t offset, unsigned char* target, long count, const char* operation);
    void SwapSamples(unsigned char* target, long count) const;
    /// Reads the 34-byte prefix of line; reports a failure under operation.
    bool ReadPrefix(long line, unsigned char (&prefix)[kLinePrefixSize], const char* operation);
    /// Copies count bytes at offset from the staged lines when they hold
    /// all of them.
    bool ReadStaged(int64_t offset, unsigned char* target, long count) const;
    bool ReadDummyWidth(long line, Side side, long& width);
    long MinDummyWidth(Side side);
    /// Lines whose prefix the file really holds, at most numOfImageRecords.
    long LinesPresent();
    unsigned char* DeStaggerBuffer(long count);

    std::unique_ptr<ImageFileFileDescriptor> descriptor;
    long ccdNumber = -1;
    long minLeftDummyWidth = -1;
    long minRightDummyWidth = -1;
    double startScanTime = -1.0;

    // Cache-line aligned: the kernel copies into an aligned buffer faster.
    alignas(64) std::array<unsigned char, kDeStaggerBufferSize> laterLine{};
    std::vector<unsigned char> wideLaterLine;  // lines wider than laterLine; grown once

    // The later lines de-staggering read lately, one slot per line of the
    // shift, so that the row that reads one as its own line, shift rows on,
    // finds it here instead of reading it again.  A slot names its line, the
    // skips it was read with and the open file it came from.
    struct RecentLine {
        long line = -1;
        long leftSkip = 0;
        long rightSkip = 0;
        Tfio_File handle = nullptr;
    };
    static constexpr size_t kMostRecentBytes = size_t{4} << 20;
    bool TakeRecentLine(long line, long leftSkip, long rightSkip, unsigned char* target, long count);
    unsigned char* RecentSlot(long line, long leftSkip, long rightSkip, long count, long shift);
    std::vector<unsigned char> recentLines;
    std::vector<RecentLine> recentKeys;
    size_t recentStride = 0;

    std::vector<unsigned char> blockScratch;  // what a line block read skips; later lines
    std::vector<Tfio_Piece> blockPieces;
    std::vector<unsigned char> staged;  // records of staged lines, from stagedOffset
    int64_t stagedOffset = 0;
    int64_t stagedBytes = 0;
};
