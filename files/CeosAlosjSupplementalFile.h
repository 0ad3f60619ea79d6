// Supplemental file of a PRISM product (prefix "SUP"): the satellite data
// from which the Level 1B1 sensor model is built.
//
// The file is not walked record by record: each record used is read from a
// fixed byte offset, the tables of ancillary 8, 10 and 12 only as far as
// their declared entries reach (a record the file does not hold whole is
// read whole, and fails).
//   offset        0, 180 bytes    file descriptor, common part
//   offset      180, 154 bytes    file descriptor, eleven record count/length pairs
//   offset  6182680, 529000 bytes ancillary 8: two blocks of timed state vectors (text)
//   offset  7894680, 698000 bytes ancillary 10: a reference entry and timed matrix pairs (text)
//   offset  8642680, 4370000 bytes ancillary 12: timed attitude samples (little-endian binary)
//   offset 13012704, 63000 bytes  ancillary 13: a keyword block from record position 25 on
//                                 (the record itself starts at 13012680)
// Positions 13-24 of the ancillary records are not read.  The decoded tables
// are host-heap blocks (host/AlosjTables.h) that the records own and rebuild
// on each Read.
#pragma once

#include <cstdint>

#include "ceos/CeosAlosjBaseClass.h"
#include "ceos/CeosRecord.h"
#include "host/AlosjTables.h"

/// The integer date yyyymmdd and the real time of day hhmmss.fraction of a
/// text data line as a time record.
void AlosjSplitDateTime(int32_t date, double timeOfDay, AlosjDateTime* time);

struct AlosjSupplementalFileFileDescriptor : CeosAlosjFileDescriptor {
    static constexpr int64_t kOwnPartOffset = 180;
    static constexpr long kOwnPartSize = 154;
    static constexpr int kRecordTypeCount = 11;

    struct RecordTypeCount {
        int32_t ancillaryRecordCount;   // records of this type after the descriptor
        int32_t ancillaryRecordLength;  // bytes per record of this type
    };
    RecordTypeCount ancillaryRecords[kRecordTypeCount] = {};

    void Read(Tfio_File fileHandle);
};

/// One block of ancillary 8: a title, five text lines, then data lines of 170
/// characters counted from textLine5.
struct AlosjStateVectorBlock {
    static constexpr int kLineLength = 170;
    /// Bytes from the start of the first block to the start of the second.
    static constexpr int kSecondBlockShift = 264476;

    char title[129] = {};
    char textLine1[171] = {};
    char textLine2[171] = {};
    char textLine3[171] = {};
    int32_t dataLineOffset = 0;  // lines from textLine5 to the first data line
    int32_t dataLineCount = 0;
    char textLine4[171] = {};
    char textLine5[171] = {};
    AlosjTable<AlosjStateVectorEntry>* samples = nullptr;
};

struct AlosjSupplementalFileAncillary8 : CeosRecordHeader {
    static constexpr int64_t kOffset = 6182680;
    static constexpr long kSize = 529000;

    AlosjStateVectorBlock firstBlock;
    AlosjStateVectorBlock secondBlock;

    AlosjSupplementalFileAncillary8() = default;
    ~AlosjSupplementalFileAncillary8();
    AlosjSupplementalFileAncillary8(const AlosjSupplementalFileAncillary8&) = delete;
    AlosjSupplementalFileAncillary8& operator=(const AlosjSupplementalFileAncillary8&) = delete;

    void Read(Tfio_File fileHandle);
};

struct AlosjSupplementalFileAncillary10 : CeosRecordHeader {
    static constexpr int64_t kOffset = 7894680;
    static constexpr long kSize = 698000;
    static constexpr int kEntryLength = 464;

    char title[129] = {};
    char textLine1[64] = {};
    char textLine2[62] = {};
    char textLine3[52] = {};
    int32_t dataLineOffset = 0;  // held only: entry positions do not depend on it
    int32_t matrixCount = 0;
    char textLine4[22] = {};
    AlosjReferenceEntry* referenceEntry = nullptr;
    /// Each matrix is the transpose of its text: text row r, value c is [c][r].
    AlosjTable<AlosjMatrixEntry>* matrices = nullptr;

    AlosjSupplementalFileAncillary10() = default;
    ~AlosjSupplementalFileAncillary10();
    AlosjSupplementalFileAncillary10(const AlosjSupplementalFileAncillary10&) = delete;
    AlosjSupplementalFileAncillary10& operator=(const AlosjSupplementalFileAncillary10&) = delete;

    void Read(Tfio_File fileHandle);
};

struct AlosjSupplementalFileAncillary12 : CeosRecordHeader {
    static constexpr int64_t kOffset = 8642680;
    static constexpr long kSize = 4370000;
    static constexpr int kSampleLength = 72;

    char title[129] = {};
    int32_t sampleCount = 0;  // characters 52-56 of the title
    AlosjTable<AlosjAttitudeEntry>* samples = nullptr;

    AlosjSupplementalFileAncillary12() = default;
    ~AlosjSupplementalFileAncillary12();
    AlosjSupplementalFileAncillary12(const AlosjSupplementalFileAncillary12&) = delete;
    AlosjSupplementalFileAncillary12& operator=(const AlosjSupplementalFileAncillary12&) = delete;

    void Read(Tfio_File fileHandle);
};

/// A keyword = value text block holding a set identifier ("Set_ID") and one
/// 3×3 matrix keyed "ID<set>_an<row><column>".  The header is not filled: the
/// read starts at record position 25.
struct AlosjSupplementalFileAncillary13 : CeosRecordHeader {
    static constexpr int64_t kRecordOffset = 13012680;
    static constexpr int64_t kOffset = kRecordOffset + 24;
    static constexpr long kSize = 63000;
    /// Lines are read at most this long; a longer one is read as several.
    static constexpr int kLineLength = 127;
    static constexpr int kMaxSearchLines = 100;

    int32_t setId = -1;   // -1: no "Set_ID" line found
    double matrix[3][3] = {};  // row after row

    /// Parses the block through a temporary file that is always deleted.
    void Read(Tfio_File fileHandle);
};

class CeosAlosjSupplementalFile : public CeosAlosjNonVolFileClass {
public:
    CeosAlosjSupplementalFile(const char* volumeDirPath, const char* referencedFileId);

    /// Reads the descriptor and ancillary records 8, 10, 12 and 13, each on its
    /// own: a record that fails is reported and the next one is still read.
    /// Always 0.
    long Read();

    const AlosjSupplementalFileFileDescriptor& Descriptor() const { return descriptor; }
    const AlosjSupplementalFileAncillary8& Ancillary8() const { return ancillary8; }
    const AlosjSupplementalFileAncillary10& Ancillary10() const { return ancillary10; }
    const AlosjSupplementalFileAncillary12& Ancillary12() const { return ancillary12; }
    const AlosjSupplementalFileAncillary13& Ancillary13() const { return ancillary13; }

private:
    AlosjSupplementalFileFileDescriptor descriptor;
    AlosjSupplementalFileAncillary8 ancillary8;
    AlosjSupplementalFileAncillary10 ancillary10;
    AlosjSupplementalFileAncillary12 ancillary12;
    AlosjSupplementalFileAncillary13 ancillary13;
};
