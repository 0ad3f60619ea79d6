// Building CEOS records byte by byte, for the product writer.
//
// Positions are 1-based, as in the format's tables.  Text fields are
// left-justified and blank-padded, numeric text fields right-justified;
// binary fields are big-endian.  A value that does not fit its field is a
// programming error of the caller and throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ceoswriter {

/// Record type code bytes (bytes 5-8 of every record).
struct RecordType {
    uint8_t firstSubtype;
    uint8_t type;
    uint8_t secondSubtype;
    uint8_t thirdSubtype;
};

class Record {
public:
    /// A record of length bytes, all set to fill.
    explicit Record(size_t length, unsigned char fill = ' ');

    /// Bytes 1-12: sequence number, type codes, and this record's length.
    Record& Header(int32_t sequenceNumber, RecordType type);

    Record& Ascii(int position, int length, const std::string& text);
    Record& Int(int position, int length, long long value);
    /// Fixed-point text with the given number of decimals.
    Record& Real(int position, int length, double value, int decimals);
    /// Exponent-form text ("%E") with the given number of significant decimals.
    Record& RealE(int position, int length, double value, int decimals);
    Record& BinInt(int position, int length, int32_t value);
    Record& BinDouble(int position, double value);
    Record& Byte(int position, uint8_t value);
    Record& Bytes(int position, const void* data, size_t count);

    const std::vector<unsigned char>& bytes() const { return bytes_; }
    std::vector<unsigned char>& bytes() { return bytes_; }
    size_t size() const { return bytes_.size(); }

private:
    unsigned char* At(int position, int length);
    std::vector<unsigned char> bytes_;
};

/// A file written at explicit offsets.  Gaps are left as holes (sparse).
class FileWriter {
public:
    explicit FileWriter(const std::string& path);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void Write(uint64_t offset, const void* data, size_t count);
    void Write(uint64_t offset, const Record& record) { Write(offset, record.bytes().data(), record.size()); }
    /// Makes the file exactly size bytes long (extending it with a hole).
    void Resize(uint64_t size);

private:
    std::string path_;
    void* file_;
};

/// Writes text to path, replacing what is there.
void WriteTextFile(const std::string& path, const std::string& text);

}  // namespace ceoswriter
