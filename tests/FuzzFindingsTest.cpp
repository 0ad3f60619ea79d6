// Regressions for what the fuzz targets found, each named after its finding.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ceos/CeosField.h"

namespace {

// A heap copy of exactly the given bytes: a read past them is caught by
// AddressSanitizer in the sanitizer build.
std::unique_ptr<unsigned char[]> Exact(const unsigned char* bytes, size_t size) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size]);
    std::memcpy(copy.get(), bytes, size);
    return copy;
}

}  // namespace

TEST(DecodeFieldFindings, OctalCodeOfAnotherLengthThanOneIsNotDecoded) {
    const unsigned char byte[] = {0xC0};
    auto record = Exact(byte, 1);
    int32_t value = -7;
    CeosDecodeField(record.get(), 1, FT_OCTAL, 0, &value);  // found: read the byte after the field
    EXPECT_EQ(value, -7);
    CeosDecodeField(record.get(), 1, FT_OCTAL, 2, &value);
    EXPECT_EQ(value, -7);
    CeosDecodeField(record.get(), 1, FT_OCTAL, 1, &value);
    EXPECT_EQ(value, 300);
}

TEST(DecodeFieldFindings, BinaryDoubleShorterThanEightBytesIsNotDecoded) {
    // Four bytes at the very end of the record: decoding them as a double
    // read four bytes past the record.
    const unsigned char bytes[] = {0x00, 0x00, 0x80, 0x3F};
    auto record = Exact(bytes, sizeof bytes);
    double value = -1.5;
    CeosDecodeField(record.get(), 1, FT_LE_DOUBLE, 4, &value);
    EXPECT_EQ(value, -1.5);
    CeosDecodeField(record.get(), 1, FT_BIN_DOUBLE, 4, &value);
    EXPECT_EQ(value, -1.5);

    const unsigned char pi[] = {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18};
    auto eight = Exact(pi, sizeof pi);
    CeosDecodeField(eight.get(), 1, FT_BIN_DOUBLE, 8, &value);
    EXPECT_DOUBLE_EQ(value, 3.141592653589793);
}
