#include "tools/writer/CeosRecordWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ceoswriter {

Record::Record(size_t length, unsigned char fill) : bytes_(length, fill) {}

unsigned char* Record::At(int position, int length) {
    if (position < 1 || length < 0 || static_cast<size_t>(position - 1 + length) > bytes_.size())
        throw std::out_of_range("field " + std::to_string(position) + "+" + std::to_string(length) +
                                " outside a record of " + std::to_string(bytes_.size()) + " bytes");
    return bytes_.data() + position - 1;
}

Record& Record::Header(int32_t sequenceNumber, RecordType type) {
    BinInt(1, 4, sequenceNumber);
    Byte(5, type.firstSubtype);
    Byte(6, type.type);
    Byte(7, type.secondSubtype);
    Byte(8, type.thirdSubtype);
    return BinInt(9, 4, static_cast<int32_t>(bytes_.size()));
}

Record& Record::Ascii(int position, int length, const std::string& text) {
    unsigned char* field = At(position, length);
    std::memset(field, ' ', static_cast<size_t>(length));
    std::memcpy(field, text.data(), std::min(text.size(), static_cast<size_t>(length)));
    return *this;
}

namespace {
void PutText(unsigned char* field, int length, const char* text) {
    size_t n = std::strlen(text);
    if (n > static_cast<size_t>(length))
        throw std::length_error(std::string("value ") + text + " does not fit " +
                                std::to_string(length) + " characters");
    std::memset(field, ' ', static_cast<size_t>(length));
    std::memcpy(field + length - n, text, n);
}
}  // namespace

Record& Record::Int(int position, int length, long long value) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld", value);
    PutText(At(position, length), length, text);
    return *this;
}

Record& Record::Real(int position, int length, double value, int decimals) {
    char text[128];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    PutText(At(position, length), length, text);
    return *this;
}

Record& Record::RealE(int position, int length, double value, int decimals) {
    char text[128];
    std::snprintf(text, sizeof text, "%.*E", decimals, value);
    PutText(At(position, length), length, text);
    return *this;
}

Record& Record::BinInt(int position, int length, int32_t value) {
    unsigned char* field = At(position, length);
    uint32_t bits = static_cast<uint32_t>(value);
    for (int i = length - 1; i >= 0; --i, bits >>= 8) field[i] = static_cast<unsigned char>(bits);
    return *this;
}

Record& Record::BinDouble(int position, double value) {
    unsigned char* field = At(position, 8);
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 7; i >= 0; --i, bits >>= 8) field[i] = static_cast<unsigned char>(bits);
    return *this;
}

Record& Record::Byte(int position, uint8_t value) {
    *At(position, 1) = value;
    return *this;
}

Record& Record::Bytes(int position, const void* data, size_t count) {
    std::memcpy(At(position, static_cast<int>(count)), data, count);
    return *this;
}

FileWriter::FileWriter(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) throw std::runtime_error("cannot create " + path);
}

FileWriter::~FileWriter() { std::fclose(static_cast<FILE*>(file_)); }

void FileWriter::Write(uint64_t offset, const void* data, size_t count) {
    FILE* file = static_cast<FILE*>(file_);
#ifdef _WIN32
    bool placed = _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    bool placed = fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
    if (!placed || std::fwrite(data, 1, count, file) != count)
        throw std::runtime_error("cannot write " + path_);
}

void FileWriter::Resize(uint64_t size) {
    FILE* file = static_cast<FILE*>(file_);
    std::fflush(file);
#ifdef _WIN32
    bool resized = _chsize_s(_fileno(file), static_cast<long long>(size)) == 0;
#else
    bool resized = ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
    if (!resized) throw std::runtime_error("cannot resize " + path_);
}

void WriteTextFile(const std::string& path, const std::string& text) {
    FileWriter file(path);
    file.Write(0, text.data(), text.size());
    file.Resize(text.size());
}

}  // namespace ceoswriter
