// What keeps row reads cheap must not change what they return: the odd
// bytes of a de-staggered line are blended by whole vectors, and a row is
// zeroed only where no read filled it.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "DatasetTestSupport.h"
#include "files/CeosAlosjImageFile.h"

using namespace ceoswriter;
using namespace testing_support;

namespace {

constexpr int kPrefix = 34;  // line prefix bytes before the first pixel

std::unique_ptr<CeosAlosjImageFile> OpenImage(const ProductFiles& files, size_t index) {
    auto reader = std::make_unique<CeosAlosjImageFile>(files.volume.c_str(), files.fileIds[1 + index].c_str());
    EXPECT_EQ(reader->SetFd(), 0);
    EXPECT_EQ(reader->Read(), 0);
    return reader;
}

std::vector<unsigned char> Written(const ImageLayout& recipe, int file, int line, int first, int count) {
    std::vector<unsigned char> bytes;
    for (int p = first; p < first + count; ++p) bytes.push_back(ImagePixel(recipe, file, line, p));
    return bytes;
}

}  // namespace

TEST(DeStaggerBlend, EverySpanLengthAndBufferAlignmentTakesOddBytesFromTheLaterLine) {
    ProductRecipe product = Avnir2Product(1);
    product.image.pixelsPerLine = 100;
    product.image.lines = 8;
    product.image.leftDummyWidth = [](int, int) { return 0; };
    product.image.rightDummyWidth = [](int, int) { return 0; };
    WrittenProduct p(product);
    auto image = OpenImage(p.files, 2);
    ReportCapture capture;
    // Spans shorter than, equal to and longer than a vector, starting at
    // every alignment within the buffer.
    for (long count = 1; count <= 99; ++count) {
        for (size_t alignment = 0; alignment < 4; ++alignment) {
            std::vector<unsigned char> buffer(alignment + 100 + 16, 0xA5);
            bool filled = false;
            const long leftSkip = 1;
            EXPECT_EQ(image->ReadLineDeStagger(1, buffer.data() + alignment, leftSkip, 100 - leftSkip - count, 5,
                                               filled),
                      count);
            EXPECT_TRUE(filled);
            const auto own = Written(product.image, 2, 1, 1, static_cast<int>(count));
            const auto later = Written(product.image, 2, 6, 1, static_cast<int>(count));
            for (long k = 0; k < count; ++k)
                ASSERT_EQ(buffer[alignment + k], k % 2 ? later[k] : own[k])
                    << "count " << count << " alignment " << alignment << " k " << k;
            for (size_t k = alignment + count; k < buffer.size(); ++k)
                ASSERT_EQ(buffer[k], 0xA5) << "wrote past the span: count " << count;
            for (size_t k = 0; k < alignment; ++k) ASSERT_EQ(buffer[k], 0xA5) << "wrote before the span";
        }
    }
    EXPECT_TRUE(capture.reports().empty());
}

TEST(DeStaggerBlend, EveryVectorWidthTakesExactlyTheOddBytes) {
    std::vector<unsigned char> later(400);
    for (size_t k = 0; k < later.size(); ++k) later[k] = static_cast<unsigned char>(0x80 | (k * 7));
    // Blends at one width over every count and alignment; false when the
    // processor lacks the width (and then nothing may be touched).
    auto blendsExactly = [&](int width) {
        for (long count = 0; count <= 300; ++count) {
            for (size_t alignment = 0; alignment < 3; ++alignment) {
                std::vector<unsigned char> target(alignment + 320, 0x11);
                if (!CeosTakeOddBytes(target.data() + alignment, later.data() + alignment, count, width)) {
                    EXPECT_EQ(target, std::vector<unsigned char>(alignment + 320, 0x11)) << "touched without blending";
                    return false;
                }
                for (size_t k = 0; k < target.size(); ++k) {
                    const bool odd = k >= alignment && k < alignment + count && (k - alignment) % 2 == 1;
                    EXPECT_EQ(target[k], odd ? later[k] : 0x11)
                        << "width " << width << " count " << count << " alignment " << alignment << " byte " << k;
                    if (target[k] != (odd ? later[k] : 0x11)) return true;
                }
            }
        }
        return true;
    };
    EXPECT_TRUE(blendsExactly(0)) << "the widest blend is always there";
    for (int width : {16, 32, 64}) blendsExactly(width);
    unsigned char byte = 0;
    EXPECT_FALSE(CeosTakeOddBytes(&byte, &byte, 1, 8));  // no such width
}

TEST(LineReadsTellWhetherTheyFilled, FilledOnlyWhenTheSpanWasReadWhole) {
    ProductRecipe product = Avnir2Product(1);
    product.image.pixelsPerLine = 64;
    product.image.lines = 10;
    WrittenProduct p(product);
    auto image = OpenImage(p.files, 0);
    std::vector<unsigned char> buffer(64);
    bool filled = false;
    ReportCapture capture;

    EXPECT_EQ(image->ReadLine(3, buffer.data(), 6, 4, filled), 54);
    EXPECT_TRUE(filled);
    EXPECT_EQ(image->ReadLineDeStagger(8, buffer.data(), 6, 4, 5, filled), 54);  // no later line: plain
    EXPECT_TRUE(filled);

    // A span reaching into the prefix is never read.
    EXPECT_EQ(image->ReadLine(3, buffer.data(), -2, 4, filled), 62);
    EXPECT_FALSE(filled);
    EXPECT_TRUE(capture.reports().empty());

    // A line behind the end of the file fails, and says so.
    EXPECT_EQ(image->ReadLine(40, buffer.data(), 6, 4, filled), 54);
    EXPECT_FALSE(filled);
    EXPECT_EQ(image->ReadLineDeStagger(40, buffer.data(), 6, 4, 5, filled), 54);
    EXPECT_FALSE(filled);
    EXPECT_EQ(capture.Summary(), (std::vector<std::string>{
                                     "ImageFileImageLine::ReadLine: tfio_ReadDirect failed",
                                     "ImageFileImageLine::ReadLineDeStagger: tfio_ReadDirect failed"}));
}

TEST(LineReadsTellWhetherTheyFilled, AKeptLaterLineServesOnlyItsOwnLineSkipsAndOpenFile) {
    ProductRecipe product = Avnir2Product(1);
    product.image.pixelsPerLine = 64;
    product.image.lines = 12;
    WrittenProduct p(product);
    auto image = OpenImage(p.files, 1);
    std::vector<unsigned char> buffer(64);
    bool filled = false;
    ReportCapture capture;
    // Line 2 de-staggered reads line 5 as its later line and keeps it; line
    // 5 read with other skips is read afresh, with the same skips it is the
    // kept line, its odd bytes from line 8.
    image->ReadLineDeStagger(2, buffer.data(), 6, 4, 3, filled);
    EXPECT_EQ(image->ReadLineDeStagger(5, buffer.data(), 7, 4, 0, filled), 53);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 53), Written(product.image, 1, 5, 7, 53));
    EXPECT_EQ(image->ReadLineDeStagger(5, buffer.data(), 6, 4, 3, filled), 54);
    std::vector<unsigned char> expected = Written(product.image, 1, 5, 6, 54);
    const std::vector<unsigned char> later = Written(product.image, 1, 8, 6, 54);
    for (size_t k = 1; k < expected.size(); k += 2) expected[k] = later[k];
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 54), expected);
    EXPECT_TRUE(capture.reports().empty());

    // Closed, the file is read (and fails, and says so) rather than the kept line 8 served.
    image->Close();
    EXPECT_EQ(image->ReadLineDeStagger(8, buffer.data(), 6, 4, 0, filled), 54);
    EXPECT_FALSE(filled);
    EXPECT_EQ(capture.Summary(),
              (std::vector<std::string>{"ImageFileImageLine::ReadLineDeStagger: tfio_ReadDirect failed"}));
}

TEST(RowZeroing, ALineCutInsideItsPixelsLeavesThatFilesWholeSpanZero) {
    ProductRecipe product = PrismProduct(1);
    product.image.lines = 6;
    WrittenProduct p(product);
    // CCD 3 ends 10 bytes into the span line 4 contributes (it starts behind
    // 6 dummy and 32 overlap pixels): the read gets some bytes, then comes up short.
    const int record = 720;
    TruncateFile(p.files.images[2], record * 5 + kPrefix + 6 + 32 + 10);
    ReportCapture capture;
    auto dataset = OpenAndRead(p.files.volume);
    const long perFile = 64 - 6 - 4;
    ASSERT_EQ(dataset->GetSceneWidth(), 6 * perFile - 5 * 32);

    const std::vector<unsigned char> row = Row(*dataset, 0, 4);  // the buffer held 0xA5 before
    EXPECT_TRUE(capture.Has("ImageFileImageLine::ReadLine", "tfio_ReadDirect failed"));
    const long first = perFile + (perFile - 32);  // CCD 3's first position in the row
    for (long c = first; c < first + (perFile - 32); ++c) EXPECT_EQ(row[static_cast<size_t>(c)], 0) << c;
    // Its neighbours are read whole.
    EXPECT_EQ(row[static_cast<size_t>(first - 1)], ImagePixel(product.image, 1, 4, 64 - 4 - 1));
    EXPECT_EQ(row[static_cast<size_t>(first + perFile - 32)], ImagePixel(product.image, 3, 4, 6 + 32));
}

TEST(RowZeroing, BytesBehindTheReadSpanAreZeroedWhateverTheBufferHeld) {
    // AVNIR-2 rows are as wide as the scene header says; the span read is
    // narrower by the dummy pixels, and what lies behind it must be zero.
    WrittenProduct p(Avnir2Product(1));
    auto dataset = OpenAndRead(p.files.volume);
    ASSERT_EQ(dataset->GetSceneWidth(), 64);
    const std::vector<unsigned char> row = Row(*dataset, 1, 2);
    for (size_t c = 54; c < 64; ++c) EXPECT_EQ(row[c], 0) << c;
    EXPECT_NE(row[53], 0);

    // Rows no file contributes to are all zeros.
    EXPECT_EQ(Row(*dataset, 9, 2), std::vector<unsigned char>(64, 0));
}
