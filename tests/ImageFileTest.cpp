// The image file reader, on image files the product writer makes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "files/CeosAlosjImageFile.h"

using namespace ceoswriter;
using testing_support::PatchFile;
using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

constexpr int kPrefix = 34;  // line prefix bytes before the first pixel
constexpr long kLongMax = std::numeric_limits<long>::max();
constexpr long kLongMin = std::numeric_limits<long>::min();

/// Writes only the image files of product into dir (with the names the
/// product gives them) and returns all the product's names.
ProductFiles WriteImages(const TempDir& dir, const ProductRecipe& product) {
    ProductFiles files = ProductFileNames(dir.path(), product);
    for (size_t i = 0; i < files.images.size(); ++i)
        WriteImageFile(files.images[i], product, static_cast<int>(i), files.fileIds[1 + i]);
    return files;
}

/// An image reader on image file index, opened and with its descriptor read.
std::unique_ptr<CeosAlosjImageFile> OpenImage(const ProductFiles& files, size_t index) {
    auto reader = std::make_unique<CeosAlosjImageFile>(files.volume.c_str(),
                                                       files.fileIds[1 + index].c_str());
    EXPECT_EQ(reader->SetFd(), 0);
    EXPECT_EQ(reader->Read(), 0);
    return reader;
}

/// A 4-byte big-endian integer as file bytes.
std::string BigEndian32(int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    return {static_cast<char>(bits >> 24), static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
            static_cast<char>(bits)};
}

/// Pixels [first, first + count) of line as the writer wrote them.
std::vector<unsigned char> Written(const ImageLayout& recipe, int file, int line, int first, int count) {
    std::vector<unsigned char> bytes;
    for (int p = first; p < first + count; ++p) bytes.push_back(ImagePixel(recipe, file, line, p));
    return bytes;
}

/// Left dummy widths by line; lines not listed have width 20.
DummyWidthFunction Widths(std::map<int, int> byLine) {
    return [byLine](int, int line) {
        auto it = byLine.find(line);
        return it == byLine.end() ? 20 : it->second;
    };
}

}  // namespace

// ---------------------------------------------------------------------------
// Path composition

TEST(ImageFilePath, ComposedFromTheVolumeNameAndTheDesignator) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.designators = {3, 4};
    ProductFiles files = WriteImages(dir, product);
    ReportCapture capture;
    CeosAlosjImageFile first(files.volume.c_str(), files.fileIds[1].c_str());
    CeosAlosjImageFile second(files.volume.c_str(), files.fileIds[2].c_str());
    EXPECT_EQ(std::string(first.FileName()), dir.path() + "/IMG-03-ALPSMN038862710-O1B1__A");
    EXPECT_EQ(std::string(second.FileName()), files.images[1]);
    EXPECT_TRUE(capture.reports().empty());
    EXPECT_EQ(first.SetFd(), 0);
}

TEST(ImageFilePath, PrismLevel2TakesTheVolumeNameWithImgInPlaceOfVol) {
    TempDir dir;
    ProductFiles files = WriteImages(dir, PrismProduct(2));
    ReportCapture capture;
    CeosAlosjImageFile image(files.volume.c_str(), files.fileIds[1].c_str());
    EXPECT_EQ(std::string(image.FileName()), dir.path() + "/IMG-ALPSMN038862710-O1B2R_UN");
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFilePath, DesignatorsOfAnyLengthFitThePath) {
    // A designator longer than one character once overran the path's room.
    const std::string longId = "ALPSM_N1IMG-CCD" + std::string(40, '7');
    TempDir dir;
    const std::string expected = dir.path() + "/IMG-0" + std::string(40, '7') + "-X";
    testing_support::WriteFileBytes(expected, {0});
    ReportCapture capture;
    CeosAlosjImageFile image(dir.File("VOL-X").c_str(), longId.c_str());
    EXPECT_EQ(std::string(image.FileName()), expected);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFilePath, MissingFileIsReportedAndItsPathKept) {
    TempDir dir;
    ReportCapture capture;
    CeosAlosjImageFile image(dir.File("VOL-ABC").c_str(), "ALAV2_A1IMG-BND3");
    const std::string expected = dir.File("IMG-03-ABC");
    EXPECT_EQ(std::string(image.FileName()), expected);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.Summary()[0], "CeosAlosjImageFile::SetFilename: file " + expected + " doesn't exist");
    EXPECT_EQ(capture.reports()[0].size(), 2u);  // wraps the existence check's report
    EXPECT_EQ(image.SetFd(), -1);
}

TEST(ImageFilePath, BareVolumeNameComposesABareName) {
    ReportCapture capture;
    CeosAlosjImageFile image("VOL-ABC", "ALAV2_A1IMG-BND3");
    EXPECT_STREQ(image.FileName(), "IMG-03-ABC");
    EXPECT_EQ(capture.reports().size(), 1u);
}

// ---------------------------------------------------------------------------
// Descriptor

TEST(ImageFileDescriptor, DecodesTheImageFieldsBehindTheCommonPart) {
    TempDir dir;
    ProductRecipe product = Avnir2Product(1);
    product.image.pixelsPerLine = 1000;
    product.image.lines = 3;
    product.image.files[2].recordLength = 1500;
    product.image.files[2].bitsPerPixel = 16;
    product.image.files[2].formatTypeCode = "CI2";
    ProductFiles files = WriteImages(dir, product);
    ReportCapture capture;
    auto plain = OpenImage(files, 0);
    const ImageFileFileDescriptor& d = plain->Descriptor();
    EXPECT_EQ(d.numOfImageRecords, 3);
    EXPECT_EQ(d.imageRecordLength, 1034);
    EXPECT_EQ(d.bitsPerPixel, 8);
    EXPECT_EQ(d.numOfImagePixelsPerLine, 1000);
    EXPECT_STREQ(d.formatTypeCode, "IU8 ");
    EXPECT_EQ(std::string(d.recordedFileId), files.fileIds[1]);
    EXPECT_EQ(d.fileNumber, 2);
    EXPECT_EQ(d.recordSequenceNumber, 1);
    EXPECT_EQ(d.recordLength, 1034);
    EXPECT_EQ(plain->GetPixelType(), 0);

    auto other = OpenImage(files, 2);
    EXPECT_EQ(other->Descriptor().imageRecordLength, 1500);
    EXPECT_EQ(other->Descriptor().bitsPerPixel, 16);
    EXPECT_STREQ(other->Descriptor().formatTypeCode, "CI2 ");
    EXPECT_EQ(other->GetPixelType(), -1);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileDescriptor, ShortDescriptorIsReportedAndLeavesTheImageFieldsAlone) {
    TempDir dir;
    ProductFiles files = WriteImages(dir, PrismProduct(1));
    testing_support::TruncateFile(files.images[0], 300);
    CeosAlosjImageFile image(files.volume.c_str(), files.fileIds[1].c_str());
    ASSERT_EQ(image.SetFd(), 0);
    ReportCapture capture;
    EXPECT_EQ(image.Read(), 0);
    EXPECT_EQ(capture.Summary(),
              std::vector<std::string>{"ImageFileFileDescriptor::Read: tfio_ReadDirect failure"});
    EXPECT_EQ(std::string(image.Descriptor().recordedFileId), files.fileIds[1]);
    EXPECT_EQ(image.Descriptor().numOfImageRecords, 0);
    EXPECT_EQ(image.Descriptor().imageRecordLength, 0);
    EXPECT_STREQ(image.Descriptor().formatTypeCode, "");
}

// ---------------------------------------------------------------------------
// Lines

TEST(ImageFileLines, LineZeroStartsOneRecordAndThePrefixIn) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 900;
    product.image.recordLength = 1000;
    ProductFiles files = WriteImages(dir, product);
    // Mark the byte before and the first byte of line 0's pixels.
    PatchFile(files.images[0], 1000 + kPrefix - 1, "\x11");
    PatchFile(files.images[0], 1000 + kPrefix, "\xAB");
    auto image = OpenImage(files, 0);
    std::vector<unsigned char> line(900);
    ReportCapture capture;
    EXPECT_EQ(image->ReadLine(0, line.data(), 0, 0), 900);
    EXPECT_EQ(line[0], 0xAB);
    EXPECT_EQ(std::vector<unsigned char>(line.begin() + 1, line.end()), Written(product.image, 0, 0, 1, 899));
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileLines, SkipsCutBothEndsOfEveryLine) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 200;
    product.image.lines = 6;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 1);
    for (int line = 0; line < 6; ++line) {
        std::vector<unsigned char> buffer(200, 0xEE);
        EXPECT_EQ(image->ReadLine(line, buffer.data(), 5, 7), 188);
        EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 188),
                  Written(product.image, 1, line, 5, 188)) << line;
        // Nothing is written behind the span.
        EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + 188, buffer.end()),
                  std::vector<unsigned char>(12, 0xEE));
    }
    // No skips: the whole line, dummy pixels (0) included.
    std::vector<unsigned char> whole(200);
    EXPECT_EQ(image->ReadLine(2, whole.data(), 0, 0), 200);
    EXPECT_EQ(whole, Written(product.image, 1, 2, 0, 200));
    EXPECT_EQ(whole[0], 0);
    EXPECT_EQ(whole[199], 0);
}

TEST(ImageFileLines, SixteenBitSamplesAreTurnedWithinTheSpanOnly) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 40;
    product.image.bitsPerPixel = 16;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    // An odd span: its last byte has no partner and stays; exactly sized, so
    // a swap past the span would show under the address sanitizer.
    auto buffer = std::make_unique<unsigned char[]>(29);
    EXPECT_EQ(image->ReadLine(1, buffer.get(), 5, 6), 29);
    const std::vector<unsigned char> file = Written(product.image, 0, 1, 5, 29);
    for (int k = 0; k + 1 < 29; k += 2) {
        EXPECT_EQ(buffer[k], file[k + 1]) << k;
        EXPECT_EQ(buffer[k + 1], file[k]) << k;
    }
    EXPECT_EQ(buffer[28], file[28]);
}

TEST(ImageFileLines, DeStaggerTakesOddBytesFromLaterLine) {
    TempDir dir;
    ProductRecipe product = Avnir2Product(0);
    product.image.pixelsPerLine = 120;
    product.image.lines = 12;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 3);
    ReportCapture capture;
    for (long leftSkip : {6L, 7L}) {  // even and odd: parity counts from the first returned byte
        const int count = 120 - static_cast<int>(leftSkip) - 4;
        for (int line = 0; line < 7; ++line) {
            std::vector<unsigned char> buffer(count);
            EXPECT_EQ(image->ReadLineDeStagger(line, buffer.data(), leftSkip, 4, 5), count);
            const auto own = Written(product.image, 3, line, static_cast<int>(leftSkip), count);
            const auto later = Written(product.image, 3, line + 5, static_cast<int>(leftSkip), count);
            for (int k = 0; k < count; ++k)
                ASSERT_EQ(buffer[k], k % 2 ? later[k] : own[k]) << "line " << line << " k " << k << " skip " << leftSkip;
        }
    }
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileLines, LastShiftLinesAndShiftZeroComeBackUnchanged) {
    TempDir dir;
    ProductRecipe product = Avnir2Product(1);
    product.image.pixelsPerLine = 64;
    product.image.lines = 12;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    for (int line = 7; line < 12; ++line) {
        std::vector<unsigned char> buffer(57);
        EXPECT_EQ(image->ReadLineDeStagger(line, buffer.data(), 3, 4, 5), 57);
        EXPECT_EQ(buffer, Written(product.image, 0, line, 3, 57)) << line;
    }
    std::vector<unsigned char> plain(57);
    EXPECT_EQ(image->ReadLineDeStagger(2, plain.data(), 3, 4, 0), 57);
    EXPECT_EQ(plain, Written(product.image, 0, 2, 3, 57));
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileLines, WideLinesDeStaggerWithoutOverflow) {
    TempDir dir;
    ProductRecipe product = Avnir2Product(0);
    product.image.pixelsPerLine = 9000;  // wider than the fixed 7100-byte room
    product.image.lines = 8;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 1);
    ReportCapture capture;
    for (int count : {8990, 7101, 7100, 300}) {
        auto buffer = std::make_unique<unsigned char[]>(static_cast<size_t>(count));
        const long rightSkip = 9000 - 10 - count;
        EXPECT_EQ(image->ReadLineDeStagger(1, buffer.get(), 10, rightSkip, 3), count);
        const auto own = Written(product.image, 1, 1, 10, count);
        const auto later = Written(product.image, 1, 4, 10, count);
        for (int k = 0; k < count; ++k) ASSERT_EQ(buffer[k], k % 2 ? later[k] : own[k]) << count << " " << k;
    }
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileLines, EmptyOrNegativeSpansReadAndWriteNothing) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 50;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    std::vector<unsigned char> buffer(80, 0xEE);
    const std::vector<unsigned char> untouched = buffer;
    // Skips that take the whole line or more: nothing, and a count of 0.
    EXPECT_EQ(image->ReadLine(0, buffer.data(), 30, 20), 0);
    EXPECT_EQ(image->ReadLine(0, buffer.data(), 40, 40), 0);
    EXPECT_EQ(image->ReadLineDeStagger(0, buffer.data(), 60, 0, 5), 0);
    // Negative skips would reach into the prefix or past the line.
    EXPECT_EQ(image->ReadLine(0, buffer.data(), -4, 0), 54);
    EXPECT_EQ(image->ReadLine(0, buffer.data(), 0, -4), 54);
    EXPECT_EQ(image->ReadLineDeStagger(0, buffer.data(), -2, 0, 5), 52);
    // Extreme values neither overflow nor read.
    EXPECT_EQ(image->ReadLine(0, buffer.data(), kLongMax, kLongMax), 0);
    EXPECT_GT(image->ReadLine(kLongMax, buffer.data(), kLongMin, 0), 0);
    EXPECT_EQ(buffer, untouched);
    std::vector<unsigned char> line(50);
    EXPECT_EQ(image->ReadLineDeStagger(0, line.data(), 0, 0, kLongMax), 50);
    EXPECT_EQ(line, Written(product.image, 0, 0, 0, 50));
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileLines, LinesOutsideTheFileAreReportedAndWriteNothing) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 50;
    product.image.lines = 4;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    std::vector<unsigned char> buffer(50, 0xEE);
    const std::vector<unsigned char> untouched = buffer;
    EXPECT_EQ(image->ReadLine(4, buffer.data(), 2, 3), 45);
    EXPECT_EQ(image->ReadLine(-1, buffer.data(), 2, 3), 45);  // would be the descriptor
    EXPECT_EQ(image->ReadLineDeStagger(9, buffer.data(), 2, 3, 0), 45);
    EXPECT_EQ(image->ReadLineDeStagger(4, buffer.data(), 2, 3, 5), 45);
    EXPECT_EQ(buffer, untouched);
    EXPECT_EQ(capture.Summary(), (std::vector<std::string>{
                                     "ImageFileImageLine::ReadLine: tfio_ReadDirect failed",
                                     "ImageFileImageLine::ReadLine: tfio_ReadDirect failed",
                                     "ImageFileImageLine::ReadLineDeStagger: tfio_ReadDirect failed",
                                     "ImageFileImageLine::ReadLineDeStagger: tfio_ReadDirect failed"}));
    for (const auto& report : capture.reports()) EXPECT_EQ(report.size(), 2u);  // the host's beneath
}

TEST(ImageFileLines, MissingLaterLineLeavesTheLineAsRead) {
    TempDir dir;
    ProductRecipe product = Avnir2Product(1);
    product.image.pixelsPerLine = 50;
    product.image.lines = 10;
    ProductFiles files = WriteImages(dir, product);
    // Cut the file behind line 6: the descriptor still announces 10 lines.
    const int recordLength = ResolveImageFile(product.image, 0).recordLength;
    testing_support::TruncateFile(files.images[0], 8L * recordLength);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    std::vector<unsigned char> buffer(44);
    EXPECT_EQ(image->ReadLineDeStagger(3, buffer.data(), 2, 4, 5), 44);
    EXPECT_EQ(buffer, Written(product.image, 0, 3, 2, 44));
    EXPECT_EQ(capture.Summary(),
              std::vector<std::string>{"ImageFileImageLine::ReadLineDeStagger: tfio_ReadDirect failed"});
}

TEST(ImageFileLines, RecordLengthZeroReadsNothing) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 50;
    ProductFiles files = WriteImages(dir, product);
    PatchFile(files.images[0], 186, "     0");  // pos 187, 6 chars: record length
    auto image = OpenImage(files, 0);
    ASSERT_EQ(image->Descriptor().imageRecordLength, 0);
    ReportCapture capture;
    std::vector<unsigned char> buffer(50, 0xEE);
    const std::vector<unsigned char> untouched = buffer;
    EXPECT_EQ(image->ReadLine(0, buffer.data(), 0, 0), 50);
    EXPECT_EQ(image->ReadLineDeStagger(0, buffer.data(), 0, 0, 5), 50);
    EXPECT_EQ(buffer, untouched);
    EXPECT_TRUE(capture.reports().empty());
    // No line can be located, so no dummy pixels are cut.
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 0);
    EXPECT_EQ(image->GetValidWidth(), 50);
}

TEST(ImageFileLines, PixelsBeyondTheirRecordAreNotRead) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 50;
    ProductFiles files = WriteImages(dir, product);
    // pos 249, 8 chars: pixels per line, now more than the 720-byte record holds
    PatchFile(files.images[0], 248, "     700");
    auto image = OpenImage(files, 0);
    std::vector<unsigned char> buffer(700, 0xEE);
    const std::vector<unsigned char> untouched = buffer;
    EXPECT_EQ(image->ReadLine(0, buffer.data(), 0, 0), 700);
    EXPECT_EQ(buffer, untouched);
    // Skipping the part outside the record makes the rest readable.
    EXPECT_EQ(image->ReadLine(0, buffer.data(), 0, 700 - 50), 50);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 50), Written(product.image, 0, 0, 0, 50));
}

// ---------------------------------------------------------------------------
// Dummy widths

TEST(ImageFileDummyWidths, EachLineCarriesItsOwnWidths) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 9;
    product.image.leftDummyWidth = [](int file, int line) { return 3 + line % 4 + file; };
    product.image.rightDummyWidth = [](int, int line) { return 2 + line % 3; };
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 2);
    ReportCapture capture;
    for (int line = 0; line < 9; ++line) {
        EXPECT_EQ(image->ReadLeftDummyWidth(line), 5 + line % 4);
        EXPECT_EQ(image->GetLeftDummyWidth(line), 5 + line % 4);
        EXPECT_EQ(image->ReadRightDummyWidth(line), 2 + line % 3);
        EXPECT_EQ(image->GetRightDummyWidth(line), 2 + line % 3);
    }
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileDummyWidths, MonotonicSamplesDecideWithoutReadingOtherLines) {
    // 17 lines: the samples are lines 0, 4, 8, 12 and 16.  Line 5 holds a
    // smaller width that only a scan of every line would find.
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 17;
    product.image.leftDummyWidth = Widths({{0, 12}, {4, 10}, {8, 10}, {12, 9}, {16, 8}, {5, 3}});
    product.image.rightDummyWidth = Widths({{0, 2}, {4, 3}, {8, 3}, {12, 5}, {16, 9}, {7, 1}});
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 8);   // falling: the last sample
    EXPECT_EQ(image->GetRightDummyWidth(-1), 2);  // rising: the first sample
    EXPECT_EQ(image->GetValidWidth(), 64 - 8 - 2);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileDummyWidths, SamplesOutOfOrderMeanEveryLineIsRead) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 17;
    product.image.leftDummyWidth = Widths({{0, 12}, {4, 8}, {8, 10}, {12, 9}, {16, 8}, {5, 3}});
    product.image.rightDummyWidth = Widths({{0, 4}, {4, 4}, {8, 4}, {12, 4}, {16, 4}, {13, 1}});
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 3);
    // Equal samples count as monotonic.
    EXPECT_EQ(image->GetRightDummyWidth(-1), 4);
}

TEST(ImageFileDummyWidths, OneLineFileYieldsItsWidth) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 1;
    product.image.leftDummyWidth = [](int, int) { return 7; };
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 7);
    EXPECT_EQ(image->GetRightDummyWidth(-1), ImageLayout::kDefaultRightDummyWidth);
}

TEST(ImageFileDummyWidths, MinimumIsComputedOncePerSide) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 17;
    product.image.leftDummyWidth = Widths({{0, 12}, {4, 10}, {8, 10}, {12, 9}, {16, 8}});
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    const int recordLength = ResolveImageFile(product.image, 0).recordLength;
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 8);
    // Later changes to the file reach single lines, not the cached minimum;
    // the right side is still computed from the file as it is now.
    PatchFile(files.images[0], 1L * recordLength + 26, BigEndian32(1));  // line 0, pos 27: left
    PatchFile(files.images[0], 1L * recordLength + 30, BigEndian32(2));  // line 0, pos 31: right
    EXPECT_EQ(image->GetLeftDummyWidth(0), 1);
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 8);
    EXPECT_EQ(image->GetRightDummyWidth(-1), 2);
}

TEST(ImageFileDummyWidths, UnreadablePrefixGivesZeroWithAReport) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 3;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    EXPECT_EQ(image->ReadLeftDummyWidth(3), 0);
    EXPECT_EQ(image->GetRightDummyWidth(7), 0);
    EXPECT_EQ(image->GetLeftDummyWidth(-2), 0);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>(3, "ImageFileImageLine::Read: tfio_ReadDirect failure"));
}

TEST(ImageFileDummyWidths, LinesMissingFromTheFileDoNotEnterTheMinimum) {
    // The descriptor announces 17 lines, the file holds 10 (samples 0, 2, 4,
    // 6, 9 of those).  Sample line 4 breaks the order, so every present line
    // is read; the missing ones, width 0 in the writer, are not sought.
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 17;
    product.image.leftDummyWidth = [](int, int line) { return line >= 10 ? 0 : line == 4 ? 7 : line == 3 ? 2 : 5; };
    ProductFiles files = WriteImages(dir, product);
    const int recordLength = ResolveImageFile(product.image, 0).recordLength;
    testing_support::TruncateFile(files.images[0], 11L * recordLength);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 2);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(ImageFileDummyWidths, FailedReadsAreReportedAndTheMinimumIsZeroOnce) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 6;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    ASSERT_EQ(image->Close(), 0);  // every prefix read now fails
    ReportCapture capture;
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 0);
    // Five samples and then the six lines, each reported.
    EXPECT_EQ(capture.Summary(), std::vector<std::string>(11, "ImageFileImageLine::Read: tfio_ReadDirect failure"));
    capture.Clear();
    ASSERT_EQ(image->SetFd(), 0);
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 0);  // the reported value stays
    EXPECT_TRUE(capture.reports().empty());
    EXPECT_EQ(image->GetRightDummyWidth(-1), ImageLayout::kDefaultRightDummyWidth);
}

TEST(ImageFileDummyWidths, FileWithoutLinesCutsNothing) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 0;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    EXPECT_EQ(image->GetLeftDummyWidth(-1), 0);
    EXPECT_EQ(image->GetRightDummyWidth(-1), 0);
    EXPECT_TRUE(capture.reports().empty());
}

// ---------------------------------------------------------------------------
// Scan time and classification

TEST(ImageFileScanTime, MillisecondsAndMicrosecondsMakeSeconds) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.startMilliseconds = 43200000;
    product.image.startMicroseconds = 500;
    product.image.files[1].startMicroseconds = -250;
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    long ms = 0;
    long us = 0;
    EXPECT_TRUE(image->ReadStartScanTime(ms, us));
    EXPECT_EQ(ms, 43200000);
    EXPECT_EQ(us, 500);
    EXPECT_NEAR(image->GetStartScanTime(), 43200.0005, 1e-9);

    auto negative = OpenImage(files, 1);
    EXPECT_TRUE(negative->ReadStartScanTime(ms, us));
    EXPECT_EQ(us, -250);
    EXPECT_NEAR(negative->GetStartScanTime(), 43199.99975, 1e-9);
}

TEST(ImageFileScanTime, IsCachedAfterTheFirstRead) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    ProductFiles files = WriteImages(dir, product);
    auto image = OpenImage(files, 0);
    const double first = image->GetStartScanTime();
    const int recordLength = ResolveImageFile(product.image, 0).recordLength;
    PatchFile(files.images[0], recordLength + 20, BigEndian32(1000));  // line 0, pos 21: milliseconds
    EXPECT_EQ(image->GetStartScanTime(), first);
    long ms = 0;
    long us = 0;
    EXPECT_TRUE(image->ReadStartScanTime(ms, us));
    EXPECT_EQ(ms, 1000);
}

TEST(ImageFileScanTime, UnreadableFirstLineIsReportedAndNotCached) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    ProductFiles files = WriteImages(dir, product);
    const int recordLength = ResolveImageFile(product.image, 0).recordLength;
    testing_support::TruncateFile(files.images[0], recordLength + 20);
    auto image = OpenImage(files, 0);
    ReportCapture capture;
    long ms = 123;
    long us = 456;
    EXPECT_FALSE(image->ReadStartScanTime(ms, us));
    EXPECT_EQ(ms, 123);
    EXPECT_EQ(us, 456);
    EXPECT_EQ(image->GetStartScanTime(), -1.0);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>(2, "ImageFileImageLine::ReadStartScanTime: tfio_ReadDirect failure"));
}

TEST(ImageFileClassification, CcdNumberComesFromThePrismDesignator) {
    TempDir dir;
    ProductRecipe prism = PrismProduct(1);
    prism.designators = {5};
    ProductRecipe prismLevel0 = PrismProduct(0);
    prismLevel0.designators = {2};
    ProductFiles files1B1 = ProductFileNames(dir.path(), prism);
    ProductFiles files1A = ProductFileNames(dir.path(), prismLevel0);
    ProductFiles files1B2 = ProductFileNames(dir.path(), PrismProduct(2));
    ProductFiles avnir = ProductFileNames(dir.path(), Avnir2Product(1));
    ReportCapture capture;  // the files are not there: only names matter
    EXPECT_EQ(CeosAlosjImageFile(files1B1.volume.c_str(), files1B1.fileIds[1].c_str()).GetCcdNumber(), 5);
    EXPECT_EQ(CeosAlosjImageFile(files1A.volume.c_str(), files1A.fileIds[1].c_str()).GetCcdNumber(), 2);
    EXPECT_EQ(CeosAlosjImageFile(files1B2.volume.c_str(), files1B2.fileIds[1].c_str()).GetCcdNumber(), -1);
    EXPECT_EQ(CeosAlosjImageFile(avnir.volume.c_str(), avnir.fileIds[3].c_str()).GetCcdNumber(), -1);
}

// ---------------------------------------------------------------------------
// The writer's image records

TEST(ImageWriterRecords, HeadersNumberTypeAndMeasureEveryRecord) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.image.pixelsPerLine = 100;
    product.image.lines = 5;
    ProductFiles files = WriteImages(dir, product);
    const std::vector<unsigned char> bytes = testing_support::ReadFileBytes(files.images[0]);
    const size_t recordLength = 720;
    ASSERT_EQ(bytes.size(), 6 * recordLength);
    auto be32 = [&](size_t at) {
        return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    };
    auto text = [&](size_t position, size_t length) {
        return std::string(bytes.begin() + static_cast<long>(position - 1),
                           bytes.begin() + static_cast<long>(position - 1 + length));
    };
    const unsigned char descriptorType[4] = {0x3F, 0xC0, 0x12, 0x12};
    const unsigned char lineType[4] = {0xED, 0xED, 0x12, 0x12};
    for (size_t r = 0; r < 6; ++r) {
        const size_t at = r * recordLength;
        EXPECT_EQ(be32(at), r + 1);
        EXPECT_EQ(std::memcmp(&bytes[at + 4], r == 0 ? descriptorType : lineType, 4), 0) << r;
        EXPECT_EQ(be32(at + 8), recordLength);
        if (r > 0) {
            EXPECT_EQ(be32(at + 12), r);  // line number from 1
        }
    }
    // What a general CEOS reader locates the pixels by.
    EXPECT_EQ(text(45, 4), "   2");        // file number of an image file
    EXPECT_EQ(text(181, 6), "     5");     // lines
    EXPECT_EQ(text(187, 6), "   720");     // record length
    EXPECT_EQ(text(217, 4), "   8");       // bits per pixel
    EXPECT_EQ(text(233, 4), "   1");       // bands
    EXPECT_EQ(text(237, 8), "       5");   // lines
    EXPECT_EQ(text(249, 8), "     100");   // pixels
    EXPECT_EQ(text(277, 4), "  22");       // prefix bytes behind the 12-byte header
    EXPECT_EQ(text(289, 4), " 586");       // suffix bytes: 720 - 34 - 100
    EXPECT_EQ(text(429, 4), "IU8 ");
    // Padding behind the pixels is zero.
    EXPECT_EQ(bytes[2 * recordLength - 1], 0);
}
