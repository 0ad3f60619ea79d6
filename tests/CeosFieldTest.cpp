// Decoding of CEOS record fields and the common file descriptor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ceos/CeosField.h"
#include "ceos/CeosRecord.h"
#include "tools/writer/ProductWriter.h"

namespace {

const unsigned char* Bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

int32_t DecodeInt(const unsigned char* bytes, int type, int length) {
    int32_t value = 12345;
    CeosDecodeField(bytes, 1, type, length, &value);
    return value;
}

}  // namespace

TEST(CeosFieldDecoding, AsciiKeepsTrailingBlanksAndTerminates) {
    const char* record = "xxABC             ";
    char text[17];
    std::memset(text, '#', sizeof text);
    CeosDecodeField(Bytes(record), 3, FT_ASCII, 16, text);
    EXPECT_EQ(std::string(text), "ABC" + std::string(13, ' '));
    EXPECT_EQ(text[16], '\0');
}

TEST(CeosFieldDecoding, DecimalTextFields) {
    EXPECT_EQ(DecodeInt(Bytes("  -360"), FT_INT, 6), -360);
    EXPECT_EQ(DecodeInt(Bytes("    "), FT_INT, 4), 0);
    // Wider than 32 bits: held at the limit rather than wrapped.
    EXPECT_EQ(DecodeInt(Bytes("9999999999999999"), FT_INT, 16), INT32_MAX);
    double a = 0, b = 0;
    CeosDecodeField(Bytes("  1.250000E+02"), 1, FT_REAL, 14, &a);
    CeosDecodeField(Bytes("  1.250000E+02"), 1, FT_REAL_E, 14, &b);
    EXPECT_DOUBLE_EQ(a, 125.0);
    EXPECT_DOUBLE_EQ(a, b);
    // Text that holds no number is no value; blanks read as zero.
    double none = 0, blank = 1;
    CeosDecodeField(Bytes("           NaN"), 1, FT_REAL, 14, &none);
    CeosDecodeField(Bytes("              "), 1, FT_REAL, 14, &blank);
    EXPECT_TRUE(std::isnan(none));
    EXPECT_EQ(blank, 0.0);
}

TEST(CeosFieldDecoding, OctalCodeBytesReadAsDecimalDigits) {
    const unsigned char bytes[] = {0x0A, 0x12, 0xC0, 0xFF, 0x00};
    const int32_t expected[] = {12, 22, 300, 377, 0};
    for (int i = 0; i < 5; ++i) {
        int32_t value = -1;
        CeosDecodeField(bytes, i + 1, FT_OCTAL, 1, &value);
        EXPECT_EQ(value, expected[i]) << "byte " << i;
    }
}

TEST(CeosFieldDecoding, BinaryIntegersSignExtendInBothByteOrders) {
    const unsigned char ffFe[] = {0xFF, 0xFE};
    const unsigned char feFf[] = {0xFE, 0xFF};
    const unsigned char be360[] = {0x00, 0x00, 0x01, 0x68};
    const unsigned char beMinus[] = {0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(DecodeInt(ffFe, FT_BIN_INT, 2), -2);
    EXPECT_EQ(DecodeInt(feFf, FT_LE_INT, 2), -2);
    EXPECT_EQ(DecodeInt(be360, FT_BIN_INT, 4), 360);
    EXPECT_EQ(DecodeInt(beMinus, FT_BIN_INT, 4), -2);
    EXPECT_EQ(DecodeInt(be360, FT_LE_INT, 4), 0x68010000);
}

TEST(CeosFieldDecoding, BinaryDoublesInBothByteOrdersFromUnalignedBytes) {
    // 1.5 is 3F F8 00 00 00 00 00 00; one leading byte makes it unaligned.
    const unsigned char big[] = {0x99, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0};
    const unsigned char little[] = {0x99, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F};
    double value = 0;
    CeosDecodeField(big, 2, FT_BIN_DOUBLE, 8, &value);
    EXPECT_EQ(value, 1.5);
    value = 0;
    CeosDecodeField(little, 2, FT_LE_DOUBLE, 8, &value);
    EXPECT_EQ(value, 1.5);
    EXPECT_EQ(big[1], 0x3F);  // the record is not modified
}

TEST(CeosFieldDecoding, CodesThatAreNoFieldTypeLeaveTheDestination) {
    const unsigned char bytes[] = {'1', '2', '3', '4'};
    for (int code : {3, 4, 11, -1}) EXPECT_EQ(DecodeInt(bytes, code, 4), 12345) << code;
}

TEST(CeosFieldDecoding, CheckedFrontEndRefusesFieldsOutsideTheRecordOrMember) {
    const unsigned char record[] = {'4', '2', ' ', ' '};
    const CeosFields f(record, sizeof record);
    int32_t value = 7;
    f(3, 4, FT_INT, value);  // runs past the 4-byte record
    EXPECT_EQ(value, 7);
    f(0, 2, FT_INT, value);  // positions are 1-based
    EXPECT_EQ(value, 7);
    f(1, 2, FT_INT, value);
    EXPECT_EQ(value, 42);
    char small[2] = {'z', 0};
    f(1, 2, FT_ASCII, small);  // needs 3 characters
    EXPECT_EQ(small[0], 'z');
    double real = 1.0;
    f(1, 4, FT_BIN_INT, real);  // a binary integer does not go into a double
    EXPECT_EQ(real, 1.0);
}

TEST(CeosFileDescriptor, FieldsLandAtTheirPositions) {
    ceoswriter::ProductRecipe product = ceoswriter::PrismProduct(1);
    const std::string id = ceoswriter::FileId(product, 'L');
    ceoswriter::Record record = ceoswriter::FileDescriptorRecord(720, product, 7, id);
    CeosAlosjFileDescriptor descriptor;
    descriptor.Decode(CeosFields(record.bytes().data(), CeosAlosjFileDescriptor::kSize));
    EXPECT_EQ(descriptor.recordSequenceNumber, 1);
    EXPECT_EQ(descriptor.firstRecordSubtype, 77);  // 0x3F
    EXPECT_EQ(descriptor.recordType, 300);         // 0xC0
    EXPECT_EQ(descriptor.secondRecordSubtype, 22);
    EXPECT_EQ(descriptor.thirdRecordSubtype, 22);
    EXPECT_EQ(descriptor.recordLength, 720);
    EXPECT_STREQ(descriptor.documentId, "CEOS-PSM-CCT");
    EXPECT_EQ(descriptor.fileNumber, 7);
    EXPECT_EQ(std::string(descriptor.recordedFileId), id);
    EXPECT_STREQ(descriptor.sequenceFlag, "FSEQ");
    EXPECT_EQ(descriptor.sequenceLocation, 1);
    EXPECT_EQ(descriptor.codeLocation, 5);
    EXPECT_EQ(descriptor.lengthLocation, 9);
    EXPECT_EQ(descriptor.lengthFieldLength, 4);
    EXPECT_STREQ(descriptor.reservedFlag4, " ");
}
