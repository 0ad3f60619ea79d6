// Row assembly, checked byte for byte against what the writer put in the
// image files.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "DatasetTestSupport.h"

using namespace ceoswriter;
using namespace testing_support;

namespace {

// Columns [first, last) of line `line` of image file `file`, as written.
std::vector<unsigned char> Columns(const ProductRecipe& recipe, int file, int line, int first, int last) {
    std::vector<unsigned char> bytes;
    for (int c = first; c < last; ++c) bytes.push_back(ImagePixel(recipe.image, file, line, c));
    return bytes;
}

ProductRecipe FourCcdProduct() {
    ProductRecipe product = PrismProduct(1);
    product.designators = {1, 2, 3, 4};
    product.image.pixelsPerLine = 5000;
    product.image.lines = 3;
    // Line 1 carries more dummy pixels than the file's minimum.
    product.image.leftDummyWidth = [](int, int line) { return line == 1 ? 35 : 30; };
    product.image.rightDummyWidth = [](int, int) { return 20; };
    return product;
}

}  // namespace

TEST(DatasetRows, PrismCcdFilesAreStitchedWithoutTheirOverlap) {
    WrittenProduct p(FourCcdProduct());
    auto dataset = OpenAndRead(p.files.volume);
    ASSERT_EQ(dataset->GetSceneWidth(), 4 * 4950 - 3 * 32);
    for (int line = 0; line < 3; ++line) {
        std::vector<unsigned char> expected = Columns(p.recipe, 0, line, 30, 4980);
        for (int file = 1; file < 4; ++file) {
            std::vector<unsigned char> more = Columns(p.recipe, file, line, 62, 4980);
            expected.insert(expected.end(), more.begin(), more.end());
        }
        EXPECT_EQ(Row(*dataset, 0, line), expected) << "line " << line;
    }
    // File 1 fills positions 4950 to 9867 from its columns 62 to 4979.
    std::vector<unsigned char> row = Row(*dataset, 0, 0);
    EXPECT_EQ(row[4950], ImagePixel(p.recipe.image, 1, 0, 62));
    EXPECT_EQ(row[9867], ImagePixel(p.recipe.image, 1, 0, 4979));
    // Extra dummy pixels of line 1 stay in the row as zeros.
    EXPECT_EQ(Row(*dataset, 0, 1)[0], 0);
}

TEST(DatasetRows, OneCcdFileIsItsValidColumns) {
    ProductRecipe product = FourCcdProduct();
    product.designators = {1};
    WrittenProduct one(product);
    auto dataset = OpenAndRead(one.files.volume);
    EXPECT_EQ(dataset->GetSceneWidth(), 4950);
    EXPECT_EQ(Row(*dataset, 0, 2), Columns(one.recipe, 0, 2, 30, 4980));
}

TEST(DatasetRows, SingleCcdModeReadsTheSelectedFile) {
    ProductRecipe product = PrismProduct(1);
    product.image.leftDummyWidth = [](int file, int) { return 2 + file; };
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume, 3);
    // CCD 3 is the third file; its minimum widths are 4 and 4.
    ASSERT_EQ(dataset->GetSceneWidth(), 64 - 4 - 4);
    EXPECT_EQ(Row(*dataset, 0, 5), Columns(p.recipe, 2, 5, 4, 60));
    // A CCD the product does not have gives empty rows.
    auto none = OpenAndRead(p.files.volume, 9);
    EXPECT_EQ(none->GetSceneWidth(), 0);
}

TEST(DatasetRows, Prism1B2IsCutByEachLineUnlessGeocoded) {
    for (char letter : {'R', 'G'}) {
        ProductRecipe product = PrismProduct(2);
        product.leader.geocodingLetter = letter;
        product.image.leftDummyWidth = [](int, int line) { return line % 4; };
        product.image.rightDummyWidth = [](int, int line) { return 2 * (line % 3); };
        WrittenProduct p(product);
        auto dataset = OpenAndRead(p.files.volume);
        ASSERT_EQ(dataset->GetSceneWidth(), 64);
        for (int line : {0, 5, 7}) {
            std::vector<unsigned char> expected =
                letter == 'G' ? Columns(p.recipe, 0, line, 0, 64)
                              : Columns(p.recipe, 0, line, line % 4, 64 - 2 * (line % 3));
            expected.resize(64, 0);
            EXPECT_EQ(Row(*dataset, 0, line), expected) << letter << " line " << line;
        }
    }
}

TEST(DatasetRows, Avnir2LinesAreDeStaggeredByTheShift) {
    ProductRecipe product = Avnir2Product(1);
    product.leader.offNadirAngle = "+30";  // a shift of 6 lines
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    ASSERT_EQ(dataset->GetStaggerPixelShift(), 6);
    const int left = ImageLayout::kDefaultLeftDummyWidth, right = ImageLayout::kDefaultRightDummyWidth;
    for (int band = 0; band < 4; ++band)
        for (int line : {0, 9, 10, 15}) {
            std::vector<unsigned char> expected(64, 0);
            for (int k = 0; k < 64 - left - right; ++k) {
                // Odd bytes of the span come from six lines further down, while there is one.
                const int source = (k % 2 == 1 && line + 6 < 16) ? line + 6 : line;
                expected[k] = ImagePixel(p.recipe.image, band, source, left + k);
            }
            EXPECT_EQ(Row(*dataset, band, line), expected) << "band " << band << " line " << line;
        }
}

TEST(DatasetRows, Avnir2ShiftOfZeroReadsLinesPlainly) {
    ProductRecipe product = Avnir2Product(0);
    product.leader.offNadirAngle = "45";
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    std::vector<unsigned char> expected = Columns(p.recipe, 1, 3, 6, 60);
    expected.resize(64, 0);
    EXPECT_EQ(Row(*dataset, 1, 3), expected);
}

TEST(DatasetRows, Avnir2Level1B2IsCutByTheFourthFilesLine) {
    ProductRecipe product = Avnir2Product(2);
    product.image.leftDummyWidth = [](int file, int line) { return file == 3 ? 2 + line % 3 : 9; };
    product.image.rightDummyWidth = [](int file, int line) { return file == 3 ? 1 + line % 2 : 9; };
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    for (int line : {0, 1, 2, 3}) {
        const int left = 2 + line % 3, right = 1 + line % 2;
        std::vector<unsigned char> expected = Columns(p.recipe, 0, line, left, 64 - right);
        expected.resize(64, 0);
        EXPECT_EQ(Row(*dataset, 0, line), expected) << "line " << line;
    }
}

TEST(DatasetRows, FailedReadsAndImpossibleRequestsLeaveZeros) {
    WrittenProduct p(PrismProduct(1));
    // CCD 3 keeps its descriptor, four lines and the first pixels of line 4.
    TruncateFile(p.files.images[2], 720 * 5 + 50);
    ReportCapture capture;
    auto dataset = OpenAndRead(p.files.volume);
    const long width = dataset->GetSceneWidth();
    ASSERT_GT(width, 0);
    std::vector<unsigned char> row = Row(*dataset, 0, 4);
    EXPECT_TRUE(capture.Has("ImageFileImageLine::ReadLine", "tfio_ReadDirect failed"));
    // The third file's columns stay zero; the others are filled.
    const long perFile = 64 - 6 - 4;
    EXPECT_NE(row[0], 0);
    for (long c = perFile + (perFile - 32); c < perFile + 2 * (perFile - 32); ++c)
        EXPECT_EQ(row[static_cast<size_t>(c)], 0) << c;
    EXPECT_NE(row[static_cast<size_t>(width - 1)], 0);

    // A band beyond the image files and a row past the raster: zero rows.
    WrittenProduct avnir(Avnir2Product(2));
    auto a = OpenAndRead(avnir.files.volume);
    capture.Clear();
    EXPECT_EQ(Row(*a, 7, 0), std::vector<unsigned char>(64, 0));
    EXPECT_EQ(Row(*a, -1, 0), std::vector<unsigned char>(64, 0));
    EXPECT_EQ(Row(*a, 0, 1000000), std::vector<unsigned char>(64, 0));
}

TEST(DatasetRows, UndeterminedLevelReadsNothing) {
    // A level digit that is none of 0, 1, 2 leaves the level undetermined.
    WrittenProduct p(PrismProduct(1));
    for (size_t record = 1; record <= p.files.fileIds.size(); ++record)
        PatchFile(p.files.volume, static_cast<long>(360 * record + 20 + 7), "9");
    ReportCapture capture;
    auto dataset = OpenAndRead(p.files.volume);
    EXPECT_EQ(dataset->GetProductLevel(), -1);
    const long width = dataset->GetSceneWidth();
    EXPECT_EQ(Row(*dataset, 0, 0), std::vector<unsigned char>(static_cast<size_t>(width), 0));
}

TEST(DatasetRows, FilesWiderThanTheSceneHeaderNeverWritePastTheRow) {
    ProductRecipe product = Avnir2Product(2);
    product.leader.geocodingLetter = 'G';
    product.leader.pixelsPerLine = 40;  // the files hold 64 pixels per line
    WrittenProduct p(product);
    auto dataset = OpenAndRead(p.files.volume);
    ASSERT_EQ(dataset->GetSceneWidth(), 40);
    EXPECT_EQ(Row(*dataset, 0, 0), Columns(p.recipe, 0, 0, 0, 40));
}

TEST(DatasetRows, ManyRowsAtOnceAreGetRowsBytesAndReportsForEveryKind) {
    struct Kind {
        const char* name;
        ProductRecipe recipe;
        long ccd;  // -1: all
        int truncatedFile;  // -1: none
    };
    ProductRecipe prism1B2 = PrismProduct(2);
    prism1B2.leader.geocodingLetter = 'R';
    prism1B2.image.leftDummyWidth = [](int, int line) { return line % 4; };
    prism1B2.image.rightDummyWidth = [](int, int line) { return 2 * (line % 3); };
    ProductRecipe avnir1B1 = Avnir2Product(1);
    avnir1B1.leader.offNadirAngle = "+30";  // a shift of 6 lines
    ProductRecipe avnir1B2 = Avnir2Product(2);
    avnir1B2.image.leftDummyWidth = [](int file, int line) { return file == 3 ? 2 + line % 3 : 9; };
    avnir1B2.image.rightDummyWidth = [](int file, int line) { return file == 3 ? 1 + line % 2 : 9; };
    const Kind kinds[] = {{"PRISM 1B1, four CCDs", FourCcdProduct(), -1, -1},
                          {"PRISM 1A, one CCD", PrismProduct(0), 2, -1},
                          {"PRISM 1B2", prism1B2, -1, -1},
                          {"AVNIR-2 1B1", avnir1B1, -1, -1},
                          {"AVNIR-2 1A", Avnir2Product(0), -1, -1},
                          {"AVNIR-2 1B2", avnir1B2, -1, -1},
                          {"PRISM 1B1, a CCD file cut short", PrismProduct(1), -1, 2},
                          {"AVNIR-2 1B1, a band file cut short", avnir1B1, -1, 1}};
    constexpr unsigned char kGuard = 0xA5;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        WrittenProduct p(kind.recipe);
        if (kind.truncatedFile >= 0) {
            const std::string& image = p.files.images[static_cast<size_t>(kind.truncatedFile)];
            TruncateFile(image, static_cast<long>(std::filesystem::file_size(image) * 2 / 3 + 7));
        }
        ReportCapture capture;
        auto dataset = OpenAndRead(p.files.volume, kind.ccd);
        const long width = dataset->GetSceneWidth();
        const unsigned long height = static_cast<unsigned long>(dataset->GetSceneHeight());
        ASSERT_GT(width, 0);
        for (int band = 0; band < dataset->GetNumOfLayers(); ++band)
            // The whole raster, alone and with two rows past it, and a window inside.
            for (const auto& [first, count] :
                 {std::pair<unsigned long, unsigned long>{0, height}, {0, height + 2}, {3, 5}}) {
                capture.Clear();
                std::vector<unsigned char> expected;
                for (unsigned long r = first; r < first + count; ++r) {
                    const std::vector<unsigned char> row = Row(*dataset, band, r);
                    expected.insert(expected.end(), row.begin(), row.end());
                }
                const std::vector<std::string> rowReports = capture.Summary();
                capture.Clear();
                std::vector<unsigned char> rows(static_cast<size_t>(width) * count + 64, kGuard);
                EXPECT_EQ(dataset->GetRows(band, first, count, rows.data()), 0);
                EXPECT_EQ(std::vector<unsigned char>(rows.end() - 64, rows.end()),
                          std::vector<unsigned char>(64, kGuard))
                    << "nothing is written behind the rows";
                rows.resize(rows.size() - 64);
                EXPECT_EQ(rows, expected) << "band " << band << ", rows " << first << " + " << count;
                EXPECT_EQ(capture.Summary(), rowReports) << "band " << band;
                const bool readsTheCutFile = dataset->GetNumOfLayers() == 1 || band == kind.truncatedFile;
                if (kind.truncatedFile >= 0 && readsTheCutFile && count > height) {
                    EXPECT_FALSE(rowReports.empty()) << "the cut file's missing lines are reported";
                }
            }
    }
}

TEST(DatasetRows, ColumnRangesNameTheFileOfEveryColumnOfTheRow) {
    // Four CCD files of 5000 pixels, at least 30 and 20 dummy pixels: the
    // first gives 4950 columns, each other 4950 less its 32 overlapping ones.
    WrittenProduct p(FourCcdProduct());
    auto dataset = OpenAndRead(p.files.volume);
    CeosAlosjColumnRange ranges[5] = {};
    ranges[2].file = 77;
    ASSERT_EQ(dataset->GetColumnRanges(0, ranges, 2), 4);
    EXPECT_EQ(ranges[2].file, 77) << "a range beyond `most` was stored";
    ASSERT_EQ(dataset->GetColumnRanges(0, ranges, 5), 4);
    const std::vector<unsigned char> row = Row(*dataset, 0, 2);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(ranges[k].file, k);
        EXPECT_EQ(ranges[k].firstColumn, k == 0 ? 0 : 4950 + (k - 1) * 4918) << "file " << k;
        ASSERT_EQ(ranges[k].columnCount, k == 0 ? 4950 : 4918) << "file " << k;
        // The range's first and last columns show the file's first and last valid pixels.
        EXPECT_EQ(row[ranges[k].firstColumn], ImagePixel(p.recipe.image, k, 2, k == 0 ? 30 : 62)) << "file " << k;
        EXPECT_EQ(row[ranges[k].firstColumn + ranges[k].columnCount - 1], ImagePixel(p.recipe.image, k, 2, 4979));
    }
    EXPECT_EQ(dataset->GetColumnRanges(1, ranges, 5), 0);  // PRISM has one band

    // An AVNIR-2 band's row is its own file's, across the whole row.
    WrittenProduct avnir(Avnir2Product(1));
    auto bands = OpenAndRead(avnir.files.volume);
    for (int band = 0; band < 4; ++band) {
        ASSERT_EQ(bands->GetColumnRanges(band, ranges, 5), 1);
        EXPECT_EQ(ranges[0].file, band);
        EXPECT_EQ(ranges[0].firstColumn, 0);
        EXPECT_EQ(ranges[0].columnCount, bands->GetSceneWidth());
    }
    EXPECT_EQ(bands->GetColumnRanges(4, nullptr, 0), 0);
}
