// Products whose counts, lengths and offsets were hand-edited to absurd
// values (negative, zero, huge): in the volume directory, the scene header,
// the platform position record, the supplemental records and the sensor
// alignment block.  Each case runs a
// whole host session and asserts the reports that name the problem, the
// rows delivered (never a byte past GetSceneWidth()), the queries still
// answering and no temporary file left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "CorruptionSupport.h"
#include "files/CeosAlosjLeaderFile.h"

using namespace corruption_support;

namespace {

const char* const kReadFailed = "CeosAlosjDataset::OpenAndRead: CeosAlosjDataset Read failed";
const char* const kInvalidPointerCount = "CeosAlosjVolumeDirFile::Read: Invalid number of file pointer records";
const char* const kCutPointerCount =
    "CeosAlosjVolumeDirFile::Read: Number of file pointer records cut to the records the file holds";

}  // namespace

// ---------------------------------------------------------------------------
// Volume directory

TEST(CorruptedProductCounts, FilePointerCountOutOfRangeRejectsTheProduct) {
    TemporaryDirectoryScope tmp;
    // Offset of numberOfFilePointerRecords (record position 161, 4 characters).
    const long countOffset = 160;
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        for (const std::string value : {"-999", "0", "9999", "ABCD"}) {
            SCOPED_TRACE(kind.name + ", file pointer count '" + value + "'");
            product.Patch(Role::Volume, 0, countOffset, TextField(value, 4));
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Volume);

            if (value == "9999") {
                // More than the file holds: cut to the records that are there.
                EXPECT_EQ(session.openReports, std::vector<std::string>{kCutPointerCount});
                EXPECT_TRUE(session.readReports.empty());
                EXPECT_EQ(session.queries.find("level -1"), std::string::npos);
                EXPECT_GT(session.sceneWidth, 0);
                EXPECT_TRUE(Flatten(session.rowReports).empty());
                continue;
            }
            // A negative count lists no file; a count of 0 (or no digits)
            // lists none either.
            const bool invalid = value == "-999";
            std::vector<std::string> open;
            if (invalid) open.push_back(kInvalidPointerCount);
            open.push_back(kReadFailed);
            EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
            EXPECT_EQ(session.openReports, open);
            EXPECT_TRUE(session.readReports.empty());
            EXPECT_NE(session.queries.find("level -1"), std::string::npos);
            EXPECT_EQ(session.sceneWidth, 0);
            EXPECT_TRUE(Flatten(session.rowReports).empty());
            EXPECT_TRUE(session.exportReports.empty());
        }
    }
}

TEST(CorruptedProductCounts, FilePointerCountOneShortShiftsTheFilesItNames) {
    TemporaryDirectoryScope tmp;
    const long countOffset = 160;
    for (const ProductKind& kind : ProductKinds()) {
        SCOPED_TRACE(kind.name);
        WrittenProduct product(kind);
        const long listed = static_cast<long>(product.files().fileIds.size());
        product.Patch(Role::Volume, 0, countOffset, TextField(std::to_string(listed - 1), 4));
        const Session session = RunSession(kind, product.files().volume, kLines, &tmp);

        EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
        if (!kind.IsPrism() || kind.recipe.level == 2) {
            // Too few records for the product's fixed set of files.
            EXPECT_EQ(session.openReports, std::vector<std::string>{kReadFailed});
            EXPECT_TRUE(session.readReports.empty());
            continue;
        }
        // PRISM below Level 1B2 counts its CCD files from the list: one CCD
        // file fewer, the last CCD's record taken for the trailer (an image
        // file ID, from which a trailer reader derives no path, so that it
        // stays closed) and the trailer's for the supplemental file, which is
        // then read from the trailer file and has none of the supplemental
        // records.
        EXPECT_TRUE(session.openReports.empty());
        EXPECT_EQ(session.readReports,
                  (std::vector<std::string>{ReadFailure("CeosAlosjFileDescriptor::Read"),
                                            ReadFailure("TrailerFileFileDescriptor::Read"),
                                            ReadFailure("TrailerFileTrailer::Read"),
                                            ReadFailure("AlosjSupplementalFileAncillary8::Read"),
                                            ReadFailure("AlosjSupplementalFileAncillary10::Read"),
                                            ReadFailure("AlosjSupplementalFileAncillary12::Read"),
                                            ReadFailure("AlosjSupplementalFileAncillary12::Read")}));
        ProductKind fewer = kind;
        fewer.recipe.designators.pop_back();
        if (fewer.rows[0].sources.size() > 1) fewer.rows = StitchedCcds(fewer.ImageCount());
        EXPECT_NE(session.queries.find("image files " + std::to_string(fewer.ImageCount())), std::string::npos);
        ExpectRows(fewer, ImageHealth::Intact(fewer), session);
        EXPECT_EQ(session.ephemerisCount, 0);
        EXPECT_EQ(session.attitudeCount, 0);
    }
}

// ---------------------------------------------------------------------------
// Leader file

const char* const kWidthCut =
    "CeosAlosjDataset::FileRead: Scene header pixels per line exceed what the image records hold; rows are cut to "
    "the records";

TEST(CorruptedProductCounts, SceneHeaderSizesOutOfRangeNeverWidenTheRowBeyondTheImageLines) {
    TemporaryDirectoryScope tmp;
    // File offsets of pixelsPerLine and numberOfLines (scene header positions
    // 1429 and 1445, 16 characters each; the record starts at 4680).
    const long pixelsOffset = 4680 + 1428;
    const long linesOffset = 4680 + 1444;
    const std::vector<std::string> values = {"-99999", "0", "2147483647", "9999999999999999"};
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const bool widthFromSceneHeader = !kind.IsPrism() || kind.recipe.level == 2;
        for (const std::string& value : values) {
            SCOPED_TRACE(kind.name + ", scene header pixels per line " + value);
            product.Patch(Role::Leader, 0, pixelsOffset, TextField(value, 16));
            // Rows a megabyte wide: two of each band will do.
            const int rows = 2;
            const Session session = RunSession(kind, product.files().volume, rows, &tmp);
            product.Restore(Role::Leader);

            EXPECT_TRUE(session.openReports.empty());
            EXPECT_TRUE(session.queryReports.empty());
            const bool positive = value[0] != '-' && value != "0";
            if (!widthFromSceneHeader) {
                EXPECT_TRUE(session.readReports.empty());
                ExpectRows(kind, ImageHealth::Intact(kind), session, rows);
            } else if (!positive) {
                EXPECT_TRUE(session.readReports.empty());
                EXPECT_EQ(session.sceneWidth, 0);
                EXPECT_TRUE(Flatten(session.rowReports).empty());
            } else {
                // No wider than the image records hold: the image line, as
                // from the intact product, and a warning that says so.
                EXPECT_EQ(session.readReports, std::vector<std::string>{kWidthCut});
                ExpectRows(kind, ImageHealth::Intact(kind), session, rows);
            }
        }
        // The pointing angle that chooses the AVNIR-2 stagger shift (position
        // 373, 16 characters): beyond 44 degrees no shift, whatever its size.
        for (const std::string value : {"-999999999999999", "9999999999999999", "-"}) {
            SCOPED_TRACE(kind.name + ", pointing angle " + value);
            product.Patch(Role::Leader, 0, 4680 + 372, TextField(value, 16));
            const Session session = RunSession(kind, product.files().volume, 1, &tmp);
            product.Restore(Role::Leader);
            EXPECT_TRUE(session.readReports.empty());
            const bool shifted = !kind.IsPrism() && kind.recipe.level != 2;
            const std::string shift = !shifted ? "0" : value == "-" ? "5" : "0";
            EXPECT_NE(session.queries.find("stagger " + shift + "\n"), std::string::npos) << session.queries;
        }
        for (const std::string& value : values) {
            SCOPED_TRACE(kind.name + ", scene header lines " + value);
            product.Patch(Role::Leader, 0, linesOffset, TextField(value, 16));
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Leader);

            EXPECT_TRUE(session.readReports.empty());
            const long lines = value[0] == '-' ? 0 : value == "0" ? 0 : INT32_MAX;
            EXPECT_NE(session.queries.find(" x " + std::to_string(lines) + "\n"), std::string::npos);
            ExpectRows(kind, ImageHealth::Intact(kind), session);
        }
    }
}

TEST(CorruptedProductCounts, DataPointCountOutOfRangeStoresAtMostTheRecordsRoom) {
    TemporaryDirectoryScope tmp;
    // numberOfDataPoints of the platform position record (position 141, 4
    // characters; the record starts at 18720).
    const long countOffset = 18720 + 140;
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const Session intact = RunSession(kind, product.files().volume, kLines, &tmp);
        for (const std::string value : {"-999", "0", "29", "9999"}) {
            SCOPED_TRACE(kind.name + ", data points " + value);
            product.Patch(Role::Leader, 0, countOffset, TextField(value, 4));
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            EXPECT_TRUE(session.readReports.empty());
            EXPECT_EQ(session.queries, intact.queries);

            // The reader itself: at most the 28 points the record has room for.
            testing_support::ReportCapture capture;
            CeosAlosjLeaderFile leader(product.files().volume.c_str(), product.files().fileIds[0].c_str());
            ASSERT_EQ(leader.SetFd(), 0);
            leader.Read();
            leader.Close();
            EXPECT_TRUE(capture.reports().empty());
            const AlosjLeaderFileAncillary3& record = leader.Ancillary3();
            const int stored = std::clamp(std::stoi(value), 0, 28);
            EXPECT_EQ(record.StoredDataPoints(), stored);
            const auto& written = kind.recipe.leader.dataPoints;
            for (int c = 0; c < stored; ++c) EXPECT_NEAR(record.positionZ[c], written[c].z, 1e-3) << "point " << c;
            for (int c = stored; c < 28; ++c) EXPECT_EQ(record.velocityX[c], 0.0) << "point " << c;
            EXPECT_EQ(record.leapSecondFlag, kind.recipe.leader.leapSecondFlag);
            product.Restore(Role::Leader);
        }
    }
}

// ---------------------------------------------------------------------------
// Supplemental file

namespace {

// File offsets of the supplemental records' counts and offsets.
constexpr long kAncillary8 = 6182680;
constexpr long kSecondBlock = kAncillary8 + 264476;
constexpr long kAncillary10 = 7894680;
constexpr long kAncillary12 = 8642680;

// Entries of `stride` bytes, `used` of them read, that fit from 1-based
// position first to position last.
long EntriesThatFit(long first, long stride, long used, long last) {
    return first + used - 1 > last ? 0 : (last - (first + used - 1)) / stride + 1;
}

}  // namespace

TEST(CorruptedProductCounts, SupplementalCountsAndOffsetsOutOfRangeBuildOnlyTheEntriesInTheRecord) {
    TemporaryDirectoryScope tmp;
    const char* const anc8 = "AlosjSupplementalFileAncillary8::Read: ";
    const char* const anc10 = "AlosjSupplementalFileAncillary10::Read: ";
    const char* const anc12 = "AlosjSupplementalFileAncillary12::Read: ";
    const std::string negative = "Negative entry count: empty table";
    const std::string cut = "Entry count runs past the record: table cut";
    for (const ProductKind& kind : ProductKinds()) {
        if (!kind.recipe.HasSupplemental()) continue;
        WrittenProduct product(kind);
        const Session intact = RunSession(kind, product.files().volume, kLines, &tmp);
        const auto& sup = kind.recipe.supplemental;
        // State vectors of the second block start behind textLine5 plus the data line offset.
        const long secondFirst = 833 + 264476 + 170L * sup.secondBlock.dataLineOffset;
        struct Edit {
            std::string name;
            long offset;
            size_t width;
            std::string value;
            std::vector<std::string> reports;
            int ephemeris, matrices, attitude;  // exported counts
        };
        const int e = intact.ephemerisCount;
        const int m = intact.matrixCount;
        const int a = intact.attitudeCount;
        const std::vector<Edit> edits = {
            {"first block line count", kAncillary8 + 532, 10, "-5", {anc8 + negative}, e, m, a},
            {"first block line offset", kAncillary8 + 522, 10, "-1", {anc8 + std::string("Negative data line offset: empty table")}, e, m, a},
            {"first block line offset", kAncillary8 + 522, 10, "9999999999", {anc8 + cut}, e, m, a},
            {"second block line count", kSecondBlock + 532, 10, "-2147483648", {anc8 + negative}, 0, m, a},
            {"second block line count", kSecondBlock + 532, 10, "0", {}, 0, m, a},
            {"second block line count", kSecondBlock + 532, 10, "9999999999", {anc8 + cut},
             static_cast<int>(EntriesThatFit(secondFirst, 170, 169, 529000)), m, a},
            {"matrix count", kAncillary10 + 316, 10, "-5", {anc10 + negative}, e, 0, a},
            {"matrix count", kAncillary10 + 316, 10, "9999999999", {anc10 + cut}, e,
             static_cast<int>(EntriesThatFit(423, 464, 463, 698000)), a},
            {"matrix data line offset", kAncillary10 + 306, 10, "-999999999", {}, e, m, a},
            {"attitude sample count", kAncillary12 + 75, 5, "-9999", {anc12 + negative}, e, m, 0},
            {"attitude sample count", kAncillary12 + 75, 5, "99999", {anc12 + cut}, e, m,
             static_cast<int>(EntriesThatFit(227, 72, 69, 4370000))},
        };
        const bool read = kind.IsPrism();  // an AVNIR-2 supplemental file is never read
        for (const Edit& edit : edits) {
            SCOPED_TRACE(kind.name + ", " + edit.name + " " + edit.value);
            product.Patch(Role::Supplemental, 0, edit.offset, TextField(edit.value, edit.width));
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Supplemental);

            EXPECT_TRUE(session.openReports.empty());
            EXPECT_EQ(session.readReports, read ? edit.reports : std::vector<std::string>{});
            EXPECT_EQ(session.queries, intact.queries);
            EXPECT_EQ(session.ephemerisCount, read ? edit.ephemeris : e);
            EXPECT_EQ(session.matrixCount, read ? edit.matrices : m);
            EXPECT_EQ(session.attitudeCount, read ? edit.attitude : a);
            for (int k = 0; k < 9; ++k) EXPECT_EQ(session.sensorMatrix[k], intact.sensorMatrix[k]);
        }
    }
}

TEST(CorruptedProductCounts, SensorAlignmentBlockMalformedLeavesNoTemporaryFile) {
    TemporaryDirectoryScope tmp;
    // The keyword block: record position 25 of the record at 13012680, 63000 bytes.
    const long blockOffset = 13012704;
    const long blockSize = 63000;
    const std::string longLine(300, 'x');
    struct Block {
        std::string name;
        std::string text;  // the rest of the block is filled with fill
        char fill;
        bool matrixRead;
    };
    const std::string matrixLines =
        "ID1_an11 = \"1.5\"\nID1_an21 = \"2.5\"\nID1_an31 = \"3.5\"\nID1_an12 = \"4.5\"\nID1_an22 = \"5.5\"\n"
        "ID1_an32 = \"6.5\"\nID1_an13 = \"7.5\"\nID1_an23 = \"8.5\"\nID1_an33 = \"9.5\"\n";
    const std::vector<Block> blocks = {
        {"well formed", "Set_ID = \"1\"\nA\nB\n" + matrixLines, '\n', true},
        {"no set line", "Number_of_Sets = \"1\"\n", '\n', false},
        {"set key without a value", "Set_ID\n\n\n" + matrixLines, '\n', false},
        {"set number beyond 32 bits", "Set_ID = \"99999999999999\"\nA\nB\n" + matrixLines, '\n', false},
        {"line longer than a read", longLine + "\nSet_ID = \"1\"\nA\nB\n" + matrixLines, '\n', true},
        {"no line ends at all", std::string(), 'A', false},
        {"only blanks and equals signs", std::string(), '=', false},
        {"binary zeros", std::string(), '\0', false},
        {"binary ones", std::string(), '\xff', false},
        {"matrix keys without values", "Set_ID = \"1\"\nA\nB\nID1_an11\nID1_an21 =\n", '\n', false},
        {"set line at the block's end", std::string(static_cast<size_t>(blockSize) - 9, '\n') + "Set_ID=X1", '\0', false},
    };
    for (const ProductKind& kind : ProductKinds()) {
        if (!kind.IsPrism() || kind.recipe.level == 2) continue;
        WrittenProduct product(kind);
        for (const Block& block : blocks) {
            SCOPED_TRACE(kind.name + ", keyword block: " + block.name);
            std::string bytes = block.text;
            bytes.resize(static_cast<size_t>(blockSize), block.fill);
            product.Patch(Role::Supplemental, 0, blockOffset, bytes);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Supplemental);

            EXPECT_TRUE(session.readReports.empty());
            for (int k = 0; k < 9; ++k) {
                // Element k of the export is matrix[k / 3][k % 3], keyed an<row><column>.
                const double written = 1.5 + (k % 3) * 3 + k / 3;
                EXPECT_EQ(session.sensorMatrix[k], block.matrixRead ? written : 0.0) << "element " << k;
            }
        }
    }
}

TEST(CorruptedProductCounts, SensorAlignmentBlockWithoutATemporaryDirectoryIsReported) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        if (!kind.IsPrism() || kind.recipe.level == 2) continue;
        SCOPED_TRACE(kind.name);
        WrittenProduct product(kind);
        // TMPDIR names a directory that does not exist, then a plain file.
        for (const std::string& where : {tmp.path() + "/missing", product.files().leader}) {
            testing_support::SetEnv("TMPDIR", where.c_str());
            const Session session = RunSession(kind, product.files().volume, kLines, nullptr);
            testing_support::SetEnv("TMPDIR", tmp.path().c_str());
            EXPECT_EQ(session.readReports,
                      std::vector<std::string>{"AlosjSupplementalFileAncillary12::Read: tfio_OPen failed."});
            for (int k = 0; k < 9; ++k) EXPECT_EQ(session.sensorMatrix[k], 0.0);
            EXPECT_TRUE(tmp.Leftovers().empty());
        }
    }
}
