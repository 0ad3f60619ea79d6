#include "files/CeosAlosjSupplementalFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "host/tmsc.h"

namespace {

const char* const kDescriptorOperation = "AlosjSupplementalFileFileDescriptor::Read";
const char* const kAncillary8Operation = "AlosjSupplementalFileAncillary8::Read";
const char* const kAncillary10Operation = "AlosjSupplementalFileAncillary10::Read";
const char* const kAncillary12Operation = "AlosjSupplementalFileAncillary12::Read";

// Room for one whole record.  The ancillary records are megabytes long and
// read whenever a product opens, and a fresh allocation of that size costs
// more than the read (the system maps and zeroes its pages each time), so
// one buffer, kept for the life of the process, serves the reads in turn; a
// read that finds it in use in another thread allocates its own.
class RecordBuffer {
public:
    explicit RecordBuffer(long size) {
        const size_t bytes = static_cast<size_t>(size);
        if (KeptLock().try_lock()) {
            locked_ = true;
            std::vector<unsigned char>& kept = Kept();
            try {
                if (kept.size() < bytes) kept.resize(bytes);
                data_ = kept.data();
            } catch (const std::bad_alloc&) {
                data_ = nullptr;
            }
        }
        if (!data_) {
            own_.reset(new (std::nothrow) unsigned char[bytes]);
            data_ = own_.get();
        }
    }
    ~RecordBuffer() {
        if (locked_) KeptLock().unlock();
    }
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;
    unsigned char* get() const { return data_; }

private:
    static std::mutex& KeptLock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<unsigned char>& Kept() {
        static std::vector<unsigned char> kept;
        return kept;
    }
    bool locked_ = false;
    unsigned char* data_ = nullptr;
    std::unique_ptr<unsigned char[]> own_;
};

// The leading part of a record, read as far as its decoding goes.  The
// ancillary records are megabytes of room of which a product fills a few
// kilobytes: the fixed fields are read first, then the entries they declare,
// and nothing past the last of them.  A record that the file does not hold
// whole is read whole, so that its read fails and says so as any short
// record does.
class RecordPart {
public:
    RecordPart(Tfio_File fileHandle, int64_t offset, long size, const char* operation)
        : fileHandle_(fileHandle), offset_(offset), size_(size), operation_(operation), buffer_(size) {
        Terr_ErrorReport report = nullptr;
        const int64_t fileSize = tfio_FileSize(fileHandle, &report);
        wholeInFile_ = !report && fileSize - offset >= size;
        terr_DeleteErrorReportEx(&report);
    }

    /// Makes the first bytes of the record (at most all of it) available;
    /// false after a printed report when there is no buffer or the read fails.
    bool Reach(int64_t bytes) {
        if (!buffer_.get()) {
            terr_ReportAndDelete(operation_, __LINE__, nullptr, "Error allocating memory");
            return false;
        }
        const long end = wholeInFile_ ? static_cast<long>(std::clamp<int64_t>(bytes, 0, size_)) : size_;
        if (end <= read_) return true;
        if (!CeosReadRecord(fileHandle_, offset_ + read_, buffer_.get() + read_, end - read_, operation_))
            return false;
        read_ = end;
        return true;
    }

    /// The fields of the part read so far.
    CeosFields Fields() const { return CeosFields(buffer_.get(), static_cast<size_t>(read_)); }

private:
    Tfio_File fileHandle_;
    int64_t offset_;
    long size_;
    const char* operation_;
    RecordBuffer buffer_;
    bool wholeInFile_ = false;
    long read_ = 0;
};

// Number of entries, the first at 1-based firstPosition and one every stride
// bytes, whose used bytes all lie at or before lastPosition.
int64_t EntriesThatFit(int64_t firstPosition, int64_t stride, int64_t used, int64_t lastPosition) {
    const int64_t firstEnd = firstPosition + used - 1;
    if (firstPosition < 1 || firstEnd > lastPosition) return 0;
    return (lastPosition - firstEnd) / stride + 1;
}

// The entries a declared count builds, without a word: the bytes to read
// reach the last of them.
int64_t EntriesBuilt(int32_t declared, int64_t fitting) { return std::clamp<int64_t>(declared, 0, fitting); }

// Reads a record's fixed fields (those before its first entry, at 1-based
// firstEntry), then the entries its count field declares, of those that fit.
bool ReachTable(RecordPart& record, int countPosition, int countLength, int firstEntry, int entryLength,
                int64_t fitting) {
    if (!record.Reach(firstEntry - 1)) return false;
    int32_t declared = 0;
    record.Fields()(countPosition, countLength, FT_INT, declared);
    return record.Reach(firstEntry - 1 + entryLength * EntriesBuilt(declared, fitting));
}

// The number of entries to build for a count read from the file: a negative
// count gives an empty table, a count that runs past the record is cut to the
// entries that lie inside it.  Both are reported.
int32_t CheckedCount(int32_t declared, int64_t fitting, const char* operation) {
    if (declared < 0) {
        terr_ReportAndDelete(operation, __LINE__, nullptr, "Negative entry count: empty table");
        return 0;
    }
    if (declared > fitting) {
        terr_ReportAndDelete(operation, __LINE__, nullptr,
                             "Entry count runs past the record: table cut");
        return static_cast<int32_t>(fitting);
    }
    return declared;
}

// A table of count entries, each with its own time record, filled by decode;
// null after a printed report when the host heap is exhausted.
template <typename Entry, typename Decode>
AlosjTable<Entry>* BuildTable(int32_t count, const char* operation, Decode decode) {
    AlosjTable<Entry>* table = AlosjTableNew<Entry>(count);
    if (!table) {
        terr_ReportAndDelete(operation, __LINE__, nullptr, "Error allocating memory");
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        Entry& entry = table->entries[i];
        entry.time = AlosjHeapNew<AlosjDateTime>();
        if (!entry.time) {
            AlosjTableFree(table);
            terr_ReportAndDelete(operation, __LINE__, nullptr, "Error allocating memory");
            return nullptr;
        }
        decode(i, entry);
    }
    return table;
}

// Truncation toward zero that stays defined for any double: out-of-range
// values saturate, NaN gives 0.
int32_t TruncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// One unsigned binary byte (0-255), held as its value.
void UnsignedByte(const CeosFields& f, int position, int32_t& member) {
    if (position >= 1 && static_cast<size_t>(position) <= f.size()) member = f.data()[position - 1];
}

// A 4-byte little-endian IEEE single, widened to double.
void LittleEndianSingle(const CeosFields& f, int position, double& member) {
    if (position < 1 || static_cast<size_t>(position) + 3 > f.size()) return;
    const unsigned char* field = f.data() + position - 1;
    const uint32_t bits = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
                          static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    member = value;
}

// A text date (yyyymmdd, 10 characters) and time of day (hhmmss.fraction, 15
// characters) at position into time.
void DecodeTextTime(const CeosFields& f, int position, AlosjDateTime* time) {
    int32_t date = 0;
    double timeOfDay = 0.0;
    f(position, 10, FT_INT, date);
    f(position + 10, 15, FT_REAL_E, timeOfDay);
    AlosjSplitDateTime(date, timeOfDay, time);
}

// A state-vector block's data lines are counted from its fifth text line and
// use 169 of their 170 characters; its headings end with that text line.
constexpr int kFifthTextLine = 833;
constexpr int kStateVectorLineUsed = 169;
constexpr int kStateVectorHeadingEnd = kFifthTextLine + AlosjStateVectorBlock::kLineLength - 1;

// The position of a block's first data line for the line offset it records.
int64_t FirstDataLine(int shift, int32_t dataLineOffset) {
    return kFifthTextLine + shift + int64_t{AlosjStateVectorBlock::kLineLength} * dataLineOffset;
}

// How far into the record a block's data lines reach, from its headings: the
// bytes to read before DecodeStateVectorBlock.
int64_t StateVectorBlockEnd(const CeosFields& f, int shift, int64_t lastPosition) {
    int32_t offset = 0, count = 0;
    f(523 + shift, 10, FT_INT, offset);
    f(533 + shift, 10, FT_INT, count);
    if (offset < 0) return 0;
    const int64_t first = FirstDataLine(shift, offset);
    const int lineLength = AlosjStateVectorBlock::kLineLength;
    const int64_t built = EntriesBuilt(count, EntriesThatFit(first, lineLength, kStateVectorLineUsed, lastPosition));
    return built > 0 ? first - 1 + lineLength * built : 0;
}

// One state-vector block of ancillary 8; shift is 0 for the first block and
// kSecondBlockShift for the second, lastPosition the block's last byte.
void DecodeStateVectorBlock(const CeosFields& f, int shift, int64_t lastPosition,
                            AlosjStateVectorBlock& block) {
    f(25 + shift, 128, FT_ASCII, block.title);
    f(153 + shift, 170, FT_ASCII, block.textLine1);
    f(323 + shift, 170, FT_ASCII, block.textLine2);
    f(493 + shift, 170, FT_ASCII, block.textLine3);
    f(523 + shift, 10, FT_INT, block.dataLineOffset);
    f(533 + shift, 10, FT_INT, block.dataLineCount);
    f(663 + shift, 170, FT_ASCII, block.textLine4);
    f(833 + shift, 170, FT_ASCII, block.textLine5);

    AlosjTableFree(block.samples);
    block.samples = nullptr;
    const int firstLine = kFifthTextLine + shift;
    const int lineLength = AlosjStateVectorBlock::kLineLength;
    int32_t count = 0;
    // Lines before textLine5 are headings, never data.
    if (block.dataLineOffset < 0) {
        terr_ReportAndDelete(kAncillary8Operation, __LINE__, nullptr,
                             "Negative data line offset: empty table");
    } else {
        const int64_t first = FirstDataLine(shift, block.dataLineOffset);
        count = CheckedCount(block.dataLineCount,
                             EntriesThatFit(first, lineLength, kStateVectorLineUsed, lastPosition),
                             kAncillary8Operation);
    }
    const int offset = block.dataLineOffset;
    block.samples = BuildTable<AlosjStateVectorEntry>(
        count, kAncillary8Operation, [&](int32_t j, AlosjStateVectorEntry& entry) {
            const int line = firstLine + lineLength * (offset + j);
            DecodeTextTime(f, line, entry.time);
            for (int k = 0; k < 6; ++k) f(line + 25 + 24 * k, 24, FT_REAL_E, entry.stateVector[k]);
        });
}

}  // namespace

void AlosjSplitDateTime(int32_t date, double timeOfDay, AlosjDateTime* time) {
    time->year = date / 10000;
    time->month = date % 10000 / 100;
    time->day = date - 10000 * time->year - 100 * time->month;
    time->hour = TruncateToInt32(timeOfDay / 10000.0);
    const double rest = timeOfDay - 10000.0 * time->hour;
    time->minute = TruncateToInt32(rest / 100.0);
    time->seconds = rest - 100.0 * time->minute;
}

void AlosjSupplementalFileFileDescriptor::Read(Tfio_File fileHandle) {
    CeosAlosjFileDescriptor::Read(fileHandle);
    unsigned char buffer[kOwnPartSize];
    if (!CeosReadRecord(fileHandle, kOwnPartOffset, buffer, kOwnPartSize, kDescriptorOperation))
        return;
    // The buffer starts at record position 181: record positions less 180.
    const CeosFields f(buffer, sizeof buffer);
    const int shift = static_cast<int>(kOwnPartOffset);
    for (int k = 0; k < kRecordTypeCount; ++k) {
        f(181 + 14 * k - shift, 6, FT_INT, ancillaryRecords[k].ancillaryRecordCount);
        f(187 + 14 * k - shift, 8, FT_INT, ancillaryRecords[k].ancillaryRecordLength);
    }
}

AlosjSupplementalFileAncillary8::~AlosjSupplementalFileAncillary8() {
    AlosjTableFree(secondBlock.samples);
    AlosjTableFree(firstBlock.samples);
}

void AlosjSupplementalFileAncillary8::Read(Tfio_File fileHandle) {
    const int shift = AlosjStateVectorBlock::kSecondBlockShift;
    RecordPart record(fileHandle, kOffset, kSize, kAncillary8Operation);
    if (!record.Reach(shift + kStateVectorHeadingEnd)) return;
    int64_t end = 0;
    for (const auto& [blockShift, lastPosition] : {std::pair<int, int64_t>{0, 24 + shift}, {shift, kSize}})
        end = std::max(end, StateVectorBlockEnd(record.Fields(), blockShift, lastPosition));
    if (!record.Reach(end)) return;
    const CeosFields f = record.Fields();
    Decode(f);
    // The first block's lines end where the second block begins.
    DecodeStateVectorBlock(f, 0, 24 + shift, firstBlock);
    DecodeStateVectorBlock(f, shift, kSize, secondBlock);
}

AlosjSupplementalFileAncillary10::~AlosjSupplementalFileAncillary10() {
    AlosjTableFree(matrices);
    AlosjReferenceEntryFree(referenceEntry);
}

void AlosjSupplementalFileAncillary10::Read(Tfio_File fileHandle) {
    const int firstEntry = 423;
    const int usedLength = 463;  // character 464 of an entry is not read
    const int64_t fitting = EntriesThatFit(firstEntry, kEntryLength, usedLength, kSize);
    RecordPart record(fileHandle, kOffset, kSize, kAncillary10Operation);
    if (!ReachTable(record, 317, 10, firstEntry, kEntryLength, fitting)) return;
    const CeosFields f = record.Fields();
    Decode(f);
    f(25, 128, FT_ASCII, title);
    f(153, 63, FT_ASCII, textLine1);
    f(216, 61, FT_ASCII, textLine2);
    f(277, 51, FT_ASCII, textLine3);
    f(307, 10, FT_INT, dataLineOffset);
    f(317, 10, FT_INT, matrixCount);

    AlosjReferenceEntryFree(referenceEntry);
    referenceEntry = AlosjHeapNew<AlosjReferenceEntry>();
    if (referenceEntry) referenceEntry->time = AlosjHeapNew<AlosjDateTime>();
    if (referenceEntry && referenceEntry->time) {
        DecodeTextTime(f, 328, referenceEntry->time);
        f(353, 24, FT_REAL_E, referenceEntry->referenceValue1);
        f(377, 24, FT_REAL_E, referenceEntry->referenceValue2);
    } else {
        AlosjReferenceEntryFree(referenceEntry);
        referenceEntry = nullptr;
        terr_ReportAndDelete(kAncillary10Operation, __LINE__, nullptr, "Error allocating memory");
    }
    f(402, 21, FT_ASCII, textLine4);

    AlosjTableFree(matrices);
    matrices = nullptr;
    const int32_t count = CheckedCount(matrixCount, fitting, kAncillary10Operation);
    matrices = BuildTable<AlosjMatrixEntry>(
        count, kAncillary10Operation, [&](int32_t i, AlosjMatrixEntry& entry) {
            const int e = firstEntry + kEntryLength * i;
            DecodeTextTime(f, e, entry.time);
            // Text rows of three values and one spare character; the value in
            // text row r, column c is element [c][r].
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) f(e + 26 + 73 * r + 24 * c, 24, FT_REAL_E, entry.firstMatrix[c][r]);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) f(e + 245 + 73 * r + 24 * c, 24, FT_REAL_E, entry.secondMatrix[c][r]);
        });
}

AlosjSupplementalFileAncillary12::~AlosjSupplementalFileAncillary12() { AlosjTableFree(samples); }

void AlosjSupplementalFileAncillary12::Read(Tfio_File fileHandle) {
    const int firstSample = 227;
    const int usedLength = 69;  // the last 3 bytes of a sample are not read
    const int64_t fitting = EntriesThatFit(firstSample, kSampleLength, usedLength, kSize);
    RecordPart record(fileHandle, kOffset, kSize, kAncillary12Operation);
    if (!ReachTable(record, 76, 5, firstSample, kSampleLength, fitting)) return;
    const CeosFields f = record.Fields();
    Decode(f);
    f(25, 128, FT_ASCII, title);
    f(76, 5, FT_INT, sampleCount);

    AlosjTableFree(samples);
    samples = nullptr;
    const int32_t count = CheckedCount(sampleCount, fitting, kAncillary12Operation);
    samples = BuildTable<AlosjAttitudeEntry>(
        count, kAncillary12Operation, [&](int32_t i, AlosjAttitudeEntry& entry) {
            const int s = firstSample + kSampleLength * i;
            AlosjDateTime& time = *entry.time;
            f(s, 2, FT_LE_INT, time.year);
            UnsignedByte(f, s + 2, time.month);
            UnsignedByte(f, s + 3, time.day);
            UnsignedByte(f, s + 4, time.hour);
            UnsignedByte(f, s + 5, time.minute);
            f(s + 6, 8, FT_LE_DOUBLE, time.seconds);
            for (int k = 0; k < 4; ++k) f(s + 25 + 8 * k, 8, FT_LE_DOUBLE, entry.quaternion[k]);
            for (int m = 0; m < 3; ++m) LittleEndianSingle(f, s + 57 + 4 * m, entry.auxValue[m]);
        });
}

CeosAlosjSupplementalFile::CeosAlosjSupplementalFile(const char* volumeDirPath,
                                                     const char* referencedFileId)
    : CeosAlosjNonVolFileClass(volumeDirPath, referencedFileId) {}

long CeosAlosjSupplementalFile::Read() {
    descriptor.Read(fileHandle);
    ancillary8.Read(fileHandle);
    ancillary10.Read(fileHandle);
    ancillary12.Read(fileHandle);
    ancillary13.Read(fileHandle);
    return 0;
}
