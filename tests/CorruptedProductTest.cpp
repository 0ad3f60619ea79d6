// Products cut short, with files missing, mislabelled or unreadable: every
// product kind, one damaged file at a time.  Each case runs a whole host
// session (open, read, every query, every row of every band, the exports,
// close) and asserts the reports printed, the rows delivered (never a byte
// past GetSceneWidth()), the queries still answering, and an empty
// temporary directory afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CorruptionSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace corruption_support;
using ceoswriter::SupplementalFileLayout;
using ceoswriter::SupplementalLayout;

namespace {

// One record read of a reader: where, how much, and the name it reports under.
struct PlannedRead {
    long offset;
    long size;
    std::string operation;
};

const char* const kCommonDescriptor = "CeosAlosjFileDescriptor::Read";
// Non-volume files are identified by the 16 bytes at offset 48.
constexpr long kFileIdEnd = 64;
const char* const kIdentifyFailed = "CeosAlosjNonVolFileClass::FileIdentify: tfio_ReadDirect failed";

std::vector<PlannedRead> LeaderReads(const ProductKind& kind) {
    return {{0, 180, kCommonDescriptor},
            {180, 212, "AlosjLeaderFileFileDescriptor::Read"},
            {4680, 4680, "AlosjLeaderFileSceneHeader::Read"},
            {9360, 4680, "AlosjLeaderFileAncillary1::Read"},
            {14040, 4680,
             kind.IsPrism() ? "AlosjPrismLeaderFileAncillary2::Read" : "AlosjAvnir2LeaderFileAncillary2::Read"},
            {18720, 4680, "AlosjLeaderFileAncillary3::Read"}};
}

std::vector<PlannedRead> TrailerReads() {
    return {{0, 180, kCommonDescriptor},
            {180, 12, "TrailerFileFileDescriptor::Read"},
            {8460, 1044, "TrailerFileTrailer::Read"}};
}

// Only a PRISM product below Level 1B2 has its supplemental file read.
std::vector<PlannedRead> SupplementalReads(const ProductKind& kind) {
    if (!kind.IsPrism() || kind.recipe.level == 2) return {};
    return {{0, 180, kCommonDescriptor},
            {180, 154, "AlosjSupplementalFileFileDescriptor::Read"},
            {6182680, 529000, "AlosjSupplementalFileAncillary8::Read"},
            {7894680, 698000, "AlosjSupplementalFileAncillary10::Read"},
            {8642680, 4370000, "AlosjSupplementalFileAncillary12::Read"},
            {13012704, 63000, "AlosjSupplementalFileAncillary12::Read"}};
}

bool ReadSucceeds(const PlannedRead& read, long available) {
    return available >= kFileIdEnd && read.offset + read.size <= available;
}

// The reports of a file's planned reads when only `available` bytes of it exist.
std::vector<std::string> FailedReads(const std::vector<PlannedRead>& reads, long available) {
    std::vector<std::string> reports;
    for (const PlannedRead& read : reads)
        if (!ReadSucceeds(read, available)) reports.push_back(ReadFailure(read.operation));
    return reports;
}

// Truncation points: each record's first byte and its middle, one byte short
// of the end of each planned read, the identification bytes, and the last
// byte of the file; all below the file's size.
std::vector<long> CutPoints(const std::vector<std::pair<long, long>>& records,
                            const std::vector<PlannedRead>& reads, long size) {
    std::set<long> points = {0, 20, kFileIdEnd - 1, size - 1};
    for (const auto& record : records) {
        points.insert(record.first);
        points.insert(record.first + record.second / 2);
    }
    for (const PlannedRead& read : reads) points.insert(read.offset + read.size - 1);
    std::vector<long> result;
    for (long point : points)
        if (point >= 0 && point < size) result.push_back(point);
    return result;
}

std::vector<std::pair<long, long>> EvenRecords(long first, long length, long count) {
    std::vector<std::pair<long, long>> records;
    for (long i = 0; i < count; ++i) records.push_back({first + length * i, length});
    return records;
}

// The rows of an intact product, which a damage that spares the image files
// must still deliver.
void ExpectIntactRows(const ProductKind& kind, const Session& session) {
    ExpectRows(kind, ImageHealth::Intact(kind), session);
}

// The session of the intact product of a kind, for comparison.
Session IntactSession(const WrittenProduct& product, const TemporaryDirectoryScope& tmp) {
    return RunSession(product.kind(), product.files().volume, kLines, &tmp);
}

}  // namespace

// ---------------------------------------------------------------------------
// The reference: intact products

TEST(CorruptedProductBaseline, IntactProductsOfEveryKindReadWithoutReports) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        SCOPED_TRACE(kind.name);
        WrittenProduct product(kind);
        const Session session = IntactSession(product, tmp);
        EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
        EXPECT_TRUE(session.openReports.empty());
        EXPECT_TRUE(session.readReports.empty());
        EXPECT_TRUE(session.queryReports.empty());
        EXPECT_TRUE(session.exportReports.empty());
        EXPECT_GT(session.sceneWidth, 0);
        ExpectIntactRows(kind, session);
        if (kind.IsPrism() && kind.recipe.level != 2) {
            EXPECT_EQ(session.ephemerisCount, static_cast<int>(kind.recipe.supplemental.secondBlock.lines.size()));
            EXPECT_EQ(session.attitudeCount, static_cast<int>(kind.recipe.supplemental.attitude.size()));
            EXPECT_EQ(session.matrixCount, static_cast<int>(kind.recipe.supplemental.matrices.size()));
        }
    }
}

TEST(CorruptedProductBaseline, RowsAndBandsOutOfRangeWriteNothingPastTheSceneWidth) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        SCOPED_TRACE(kind.name);
        WrittenProduct product(kind);
        auto dataset = kind.ccdNumber
                           ? std::make_unique<CeosAlosjDataset>(product.files().volume.c_str(), kind.ccdNumber)
                           : std::make_unique<CeosAlosjDataset>(product.files().volume.c_str());
        testing_support::ReportCapture capture;
        dataset->FileOpen(nullptr);
        dataset->FileRead();
        const long width = dataset->GetSceneWidth();
        ASSERT_TRUE(capture.reports().empty());
        const ImageHealth intact = ImageHealth::Intact(kind);
        // Past the last line (the row number is taken as at most 2^31 - 1).
        for (unsigned long row : {static_cast<unsigned long>(kLines), 1000000UL, ~0UL}) {
            for (int band = 0; band < kind.Bands(); ++band) {
                SCOPED_TRACE("band " + std::to_string(band) + ", row " + std::to_string(row));
                std::vector<unsigned char> buffer(static_cast<size_t>(width) + 16, 0xA5);
                unsigned char* data = buffer.data();
                EXPECT_EQ(dataset->GetRow(band, row, 0, &data), 0);
                const ExpectedRow expected =
                    ExpectRow(kind, intact, band, static_cast<int>(std::min<unsigned long>(row, INT32_MAX)));
                EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + width), expected.bytes);
                EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + width, buffer.end()),
                          std::vector<unsigned char>(16, 0xA5));
                EXPECT_EQ(capture.Summary(), expected.reports);
                capture.Clear();
            }
        }
        // Bands that name no layer: the PRISM row of all or one CCD file
        // takes no band; every other product's row stays zero.
        for (int band : {-1, kind.Bands(), 7}) {
            SCOPED_TRACE("band " + std::to_string(band));
            std::vector<unsigned char> buffer(static_cast<size_t>(width) + 16, 0xA5);
            unsigned char* data = buffer.data();
            EXPECT_EQ(dataset->GetRow(band, 3, 0, &data), 0);
            const bool bandless = kind.IsPrism() && kind.recipe.level != 2;
            const std::vector<unsigned char> expected =
                bandless ? ExpectRow(kind, intact, 0, 3).bytes : std::vector<unsigned char>(static_cast<size_t>(width), 0);
            EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + width), expected);
            EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + width, buffer.end()),
                      std::vector<unsigned char>(16, 0xA5));
            EXPECT_TRUE(capture.reports().empty());
            capture.Clear();
        }
        dataset->FileClose();
    }
}

// ---------------------------------------------------------------------------
// Files cut short

TEST(CorruptedProductTruncation, VolumeDirectoryCutAnywhereIsRejectedOrReadAsFarAsItGoes) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        const long size = product.FullSize(Role::Volume);
        const long pointers = static_cast<long>(product.files().fileIds.size());
        const long record = 360;
        ASSERT_EQ(size, record * (pointers + 2));
        for (long cut : CutPoints(EvenRecords(0, record, pointers + 2), {{16, 12, ""}}, size)) {
            SCOPED_TRACE(kind.name + ", volume directory cut at " + std::to_string(cut));
            product.Truncate(Role::Volume, 0, cut);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Volume);

            std::vector<std::string> expected;
            if (cut < 28) {
                // The document identifier cannot be read: the product is not opened.
                EXPECT_EQ(session.openResult, -1);
                EXPECT_EQ(session.openReports,
                          std::vector<std::string>{"CeosAlosjVolumeDirFile::FileIdentify: tfio_ReadDirect failed"});
                EXPECT_TRUE(session.readReports.empty());
                EXPECT_EQ(session.sceneWidth, 0);
                continue;
            }
            EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
            if (cut < record) expected.push_back(ReadFailure("VolumeDirFileVolumneDescriptor::Read"));
            if (cut >= record && cut < record * (pointers + 1))
                expected.push_back(
                    "CeosAlosjVolumeDirFile::Read: Number of file pointer records cut to the records the file holds");
            if (cut < record * (pointers + 1)) {
                // The file pointer records the file holds are read, the text
                // record is looked for behind them, past the end; the product
                // lacks files it needs.  It is refused when the list is too
                // short for it; a PRISM product, whose count of CCD files
                // follows the list, opens with a file in the wrong place,
                // which its reader reports.
                expected.push_back(ReadFailure("VolumeDirFileText::Read"));
                const std::vector<std::string> refused = {
                    expected[0], expected[1], "CeosAlosjDataset::OpenAndRead: CeosAlosjDataset Read failed"};
                if (session.openReports == refused) {
                    EXPECT_TRUE(session.readReports.empty());
                    EXPECT_EQ(session.sceneWidth, 0);
                } else {
                    EXPECT_TRUE(kind.IsPrism());
                    EXPECT_EQ(session.openReports, expected);
                    EXPECT_FALSE(session.readReports.empty());
                }
                continue;
            }
            // Only the text record is missing: the product reads as if intact.
            EXPECT_EQ(session.openReports, std::vector<std::string>{ReadFailure("VolumeDirFileText::Read")});
            EXPECT_TRUE(session.readReports.empty());
            EXPECT_EQ(session.queries, intact.queries);
            ExpectIntactRows(kind, session);
        }
    }
}

TEST(CorruptedProductTruncation, LeaderCutAnywhereLeavesTheMissingRecordsUndecoded) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        const long size = product.FullSize(Role::Leader);
        const std::vector<PlannedRead> reads = LeaderReads(kind);
        for (long cut : CutPoints(EvenRecords(0, 4680, 5), reads, size)) {
            SCOPED_TRACE(kind.name + ", leader cut at " + std::to_string(cut));
            product.Truncate(Role::Leader, 0, cut);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Leader);

            EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
            EXPECT_EQ(session.openReports,
                      cut < kFileIdEnd ? std::vector<std::string>{kIdentifyFailed} : std::vector<std::string>{});
            EXPECT_EQ(session.readReports, FailedReads(reads, cut));
            EXPECT_TRUE(session.queryReports.empty());
            const bool sceneHeaderRead = ReadSucceeds(reads[2], cut);
            const bool widthFromSceneHeader = !kind.IsPrism() || kind.recipe.level == 2;
            if (sceneHeaderRead || !widthFromSceneHeader) {
                ExpectIntactRows(kind, session);
            } else {
                // No scene header, no width: the rows are empty and read nothing.
                EXPECT_EQ(session.sceneWidth, 0);
                EXPECT_TRUE(Flatten(session.rowReports).empty());
            }
            if (cut == size - 1) {
                EXPECT_EQ(session.queries, intact.queries);
            }
        }
    }
}

namespace {

// Every image file of the kinds chosen, cut at each record boundary and
// inside records: the rows keep zeros where the lines are missing.
void CutEveryImageFile(bool (*chosen)(const ProductKind&)) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        if (!chosen(kind)) continue;
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        for (int image = 0; image < kind.ImageCount(); ++image) {
            const long size = product.FullSize(Role::Image, image);
            const std::vector<PlannedRead> reads = {{0, 180, kCommonDescriptor},
                                                    {180, 264, "ImageFileFileDescriptor::Read"}};
            std::vector<std::pair<long, long>> records = EvenRecords(0, kImageRecordLength, kLines + 1);
            // Inside a line's prefix and inside its pixels as well: of the
            // first, a middle and the last line.
            for (long line : {1L, kLines / 2L, static_cast<long>(kLines)}) {
                records.push_back({line * kImageRecordLength + 20, 0});
                records.push_back({line * kImageRecordLength + kLinePrefix + 30, 0});
            }
            for (long cut : CutPoints(records, reads, size)) {
                SCOPED_TRACE(kind.name + ", image file " + std::to_string(image) + " cut at " + std::to_string(cut));
                product.Truncate(Role::Image, image, cut);
                const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
                product.Restore(Role::Image, image);

                ImageHealth health = ImageHealth::Intact(kind);
                health.available[static_cast<size_t>(image)] = cut;
                // Cut before the prefix of its first line, a file has no
                // dummy widths to go by: its lines are taken whole.
                if (cut < kImageRecordLength + kLinePrefix) health.cuts[image] = kUncut;
                EXPECT_EQ(session.openReports,
                          cut < kFileIdEnd ? std::vector<std::string>{kIdentifyFailed} : std::vector<std::string>{});
                EXPECT_EQ(session.readReports, FailedReads(reads, cut));
                EXPECT_TRUE(session.queryReports.empty());
                ASSERT_NO_FATAL_FAILURE(ExpectLayout(kind, health, session));
                for (int band = 0; band < kind.Bands(); ++band)
                    for (int row = 0; row < kLines; ++row) {
                        const ExpectedRow expected = ExpectRow(kind, health, band, row);
                        ASSERT_EQ(session.rows[band][row], expected.bytes) << "band " << band << ", row " << row;
                        EXPECT_EQ(session.rowReports[band][row], expected.reports)
                            << "band " << band << ", row " << row;
                    }
                // The scene export reads the scan time from the first line of the first file.
                const bool scanTimeRead = image != 0 || cut >= kImageRecordLength + kLinePrefix;
                EXPECT_EQ(session.exportReports,
                          scanTimeRead ? std::vector<std::string>{}
                                       : std::vector<std::string>{ReadFailure("ImageFileImageLine::ReadStartScanTime")});
                EXPECT_EQ(session.ephemerisCount, intact.ephemerisCount);
            }
        }
    }
}

}  // namespace

// Split by kind of product so that the cases run side by side.
TEST(CorruptedProductTruncation, StitchedPrismImageFilesCutAnywhereLeaveZerosWhereTheirLinesAreMissing) {
    CutEveryImageFile([](const ProductKind& kind) { return kind.IsPrism() && kind.recipe.level != 2 && !kind.ccdNumber; });
}

TEST(CorruptedProductTruncation, SingleCcdPrismImageFilesCutAnywhereLeaveZerosWhereTheirLinesAreMissing) {
    CutEveryImageFile([](const ProductKind& kind) { return kind.IsPrism() && kind.ccdNumber != 0; });
}

TEST(CorruptedProductTruncation, Level1B2AndAvnir2ImageFilesCutAnywhereLeaveZerosWhereTheirLinesAreMissing) {
    CutEveryImageFile([](const ProductKind& kind) { return !kind.IsPrism() || kind.recipe.level == 2; });
}

TEST(CorruptedProductTruncation, TrailerCutAnywhereLeavesTheRestOfTheProductIntact) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        const long size = product.FullSize(Role::Trailer);
        const std::vector<PlannedRead> reads = TrailerReads();
        std::vector<std::pair<long, long>> records = {{0, 8460}};
        for (const auto& r : EvenRecords(8460, 1044, kind.ImageCount())) records.push_back(r);
        for (long cut : CutPoints(records, reads, size)) {
            SCOPED_TRACE(kind.name + ", trailer cut at " + std::to_string(cut));
            product.Truncate(Role::Trailer, 0, cut);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Trailer);

            EXPECT_EQ(session.openReports,
                      cut < kFileIdEnd ? std::vector<std::string>{kIdentifyFailed} : std::vector<std::string>{});
            EXPECT_EQ(session.readReports, FailedReads(reads, cut));
            EXPECT_EQ(session.queries, intact.queries);
            EXPECT_EQ(session.exportReports, intact.exportReports);
            ExpectIntactRows(kind, session);
        }
    }
}

TEST(CorruptedProductTruncation, SupplementalFileCutAnywhereLeavesTheCutTablesEmpty) {
    TemporaryDirectoryScope tmp;
    const SupplementalLayout layout = SupplementalFileLayout();
    std::vector<std::pair<long, long>> records = {{0, static_cast<long>(SupplementalLayout::kDescriptorLength)}};
    for (int number = 3; number <= 13; ++number)
        records.push_back({static_cast<long>(layout.ancillaryOffset[number]),
                           static_cast<long>(layout.ancillaryLength[number])});
    for (const ProductKind& kind : ProductKinds()) {
        if (!kind.recipe.HasSupplemental()) continue;
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        const long size = product.FullSize(Role::Supplemental);
        const std::vector<PlannedRead> reads = SupplementalReads(kind);
        for (long cut : CutPoints(records, SupplementalReads(ProductKinds()[0]), size)) {
            SCOPED_TRACE(kind.name + ", supplemental file cut at " + std::to_string(cut));
            product.Truncate(Role::Supplemental, 0, cut);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Supplemental);

            EXPECT_EQ(session.openReports,
                      cut < kFileIdEnd ? std::vector<std::string>{kIdentifyFailed} : std::vector<std::string>{});
            // An AVNIR-2 supplemental file is opened but never read.
            EXPECT_EQ(session.readReports, FailedReads(reads, cut));
            EXPECT_EQ(session.queries, intact.queries);
            ExpectIntactRows(kind, session);
            if (reads.empty()) continue;
            // A table whose record is cut is exported empty; the others as written.
            EXPECT_EQ(session.ephemerisCount, ReadSucceeds(reads[2], cut) ? intact.ephemerisCount : 0);
            EXPECT_EQ(session.matrixCount, ReadSucceeds(reads[3], cut) ? intact.matrixCount : 0);
            EXPECT_EQ(session.attitudeCount, ReadSucceeds(reads[4], cut) ? intact.attitudeCount : 0);
            const bool sensorRead = ReadSucceeds(reads[5], cut);
            for (int k = 0; k < 9; ++k)
                EXPECT_EQ(session.sensorMatrix[k], sensorRead ? intact.sensorMatrix[k] : 0.0) << "element " << k;
        }
    }
}

// ---------------------------------------------------------------------------
// Files missing, mislabelled or out of reach

TEST(CorruptedProductFiles, EachMissingFileIsReportedAndTheRestStillReads) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        std::vector<std::pair<Role, int>> files = {{Role::Volume, 0}, {Role::Leader, 0}, {Role::Trailer, 0}};
        for (int image = 0; image < kind.ImageCount(); ++image) files.push_back({Role::Image, image});
        if (kind.recipe.HasSupplemental()) files.push_back({Role::Supplemental, 0});
        if (kind.recipe.summary) files.push_back({Role::Summary, 0});
        for (const auto& [role, image] : files) {
            const std::string path = product.Path(role, image);
            SCOPED_TRACE(kind.name + ", without " + std::filesystem::path(path).filename().string());
            product.Remove(role, image);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(role, image);

            if (role == Role::Volume) {
                // Nothing to open: -1, and the host's open failure is not printed.
                EXPECT_EQ(session.openResult, -1);
                EXPECT_TRUE(session.openReports.empty());
                EXPECT_EQ(session.sceneWidth, 0);
                continue;
            }
            EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
            ImageHealth health = ImageHealth::Intact(kind);
            std::vector<std::string> open;
            std::vector<std::string> read;
            switch (role) {
                case Role::Leader:
                    open = {"CeosAlosjNonVolFileClass::SetFilename: LED file doesn't exist"};
                    read = FailedReads(LeaderReads(kind), -1);
                    break;
                case Role::Trailer:
                    open = {"CeosAlosjNonVolFileClass::SetFilename: TRL file doesn't exist"};
                    read = FailedReads(TrailerReads(), -1);
                    break;
                case Role::Supplemental:
                    open = {"CeosAlosjNonVolFileClass::SetFilename: SUP file doesn't exist"};
                    read = FailedReads(SupplementalReads(kind), -1);
                    break;
                case Role::Image:
                    // The one PRISM Level 1B2 image file is named like the leader.
                    open = {kind.IsPrism() && kind.recipe.level == 2
                                ? "CeosAlosjNonVolFileClass::SetFilename: IMG file doesn't exist"
                                : "CeosAlosjImageFile::SetFilename: file " + path + " doesn't exist"};
                    read = {ReadFailure(kCommonDescriptor), ReadFailure("ImageFileFileDescriptor::Read")};
                    health.available[static_cast<size_t>(image)] = -1;
                    break;
                default:
                    break;
            }
            EXPECT_EQ(session.openReports, open);
            EXPECT_EQ(session.readReports, read);
            EXPECT_TRUE(session.queryReports.empty());

            if (role == Role::Leader) {
                // No scene header: the scene header's width and lines are 0.
                const bool widthFromSceneHeader = !kind.IsPrism() || kind.recipe.level == 2;
                if (widthFromSceneHeader) {
                    EXPECT_EQ(session.sceneWidth, 0);
                }
                EXPECT_NE(session.queries.find("scene " + std::to_string(session.sceneWidth) + " x 0"),
                          std::string::npos);
                continue;
            }
            if (role == Role::Summary) {
                // The map direction falls back to "other"; everything else is as intact.
                EXPECT_EQ(intact.queries.find("map direction 0"), std::string::npos);
                EXPECT_NE(session.queries.find("map direction 0"), std::string::npos);
                ExpectIntactRows(kind, session);
                continue;
            }
            // The PRISM smallest CCD number is that of the files present.
            if (role == Role::Image && image == 0 && kind.IsPrism() && kind.recipe.level != 2) {
                EXPECT_NE(session.queries.find("min CCD 2"), std::string::npos);
            }
            ASSERT_NO_FATAL_FAILURE(ExpectLayout(kind, health, session));
            for (int band = 0; band < kind.Bands(); ++band)
                for (int row = 0; row < kLines; ++row) {
                    const ExpectedRow expected = ExpectRow(kind, health, band, row);
                    ASSERT_EQ(session.rows[band][row], expected.bytes) << "band " << band << ", row " << row;
                    EXPECT_EQ(session.rowReports[band][row], expected.reports) << "band " << band << ", row " << row;
                }
            if (role == Role::Supplemental && !SupplementalReads(kind).empty()) {
                EXPECT_EQ(session.ephemerisCount, 0);
                EXPECT_EQ(session.attitudeCount, 0);
                EXPECT_EQ(session.matrixCount, 0);
            }
        }
    }
}

TEST(CorruptedProductFiles, FilesCarryingAnotherFileIdAreNotReadAndTheRestStillIs) {
    TemporaryDirectoryScope tmp;
    // The file ID sits at bytes 49-64 of a file's descriptor record; a
    // volume directory is known by its document identifier at bytes 17-28.
    const long idOffset = 48;
    const long documentIdOffset = 16;
    const char* const notAlosj = "CeosAlosjNonVolFileClass::FileIdentify: Not a ALOS ALOSJ file";
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        const std::vector<std::string>& ids = product.files().fileIds;
        const size_t images = product.files().images.size();

        {
            SCOPED_TRACE(kind.name + ", volume directory of the other sensor");
            product.Patch(Role::Volume, 0, documentIdOffset, kind.IsPrism() ? "CEOS-AV2-CCT" : "CEOS-PSM-CCT");
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Volume);
            EXPECT_EQ(session.openResult, -1);
            EXPECT_EQ(session.openReports,
                      std::vector<std::string>{kind.IsPrism()
                                                   ? "CeosAlosjVolumeDirFile::FileIdentify: Not a ALOS PRISM VOL file"
                                                   : "CeosAlosjVolumeDirFile::FileIdentify: Not a ALOS AVNIR-2 VOL file"});
            EXPECT_EQ(session.sceneWidth, 0);
        }

        {
            // The leader listed, and labelled, under an ID that names no sensor:
            // it opens, but its sensor-specific record has no layout to be read by.
            std::string id = ids[0];
            id.replace(id.find(kind.IsPrism() ? "PSM" : "AV2"), 3, "XYZ");
            SCOPED_TRACE(kind.name + ", leader listed as " + id);
            product.Patch(Role::Volume, 0, 360 + 20, id);  // file pointer record 1, position 21
            product.Patch(Role::Leader, 0, idOffset, id);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Volume);
            product.Restore(Role::Leader);
            EXPECT_TRUE(session.openReports.empty());
            EXPECT_EQ(session.readReports,
                      std::vector<std::string>{"CeosAlosjLeaderFile::Read: Unknown sensor: ancillary record 2 not read"});
            EXPECT_EQ(session.queries, intact.queries);
            ExpectIntactRows(kind, session);
        }

        // Each non-volume file in turn carries the ID of the file listed after it.
        std::vector<std::pair<Role, int>> files = {{Role::Leader, 0}};
        for (int image = 0; image < static_cast<int>(images); ++image) files.push_back({Role::Image, image});
        files.push_back({Role::Trailer, 0});
        if (kind.recipe.HasSupplemental()) files.push_back({Role::Supplemental, 0});
        for (size_t listed = 0; listed < files.size(); ++listed) {
            const auto [role, image] = files[listed];
            const std::string& own = ids[listed];
            const std::string& other = ids[(listed + 1) % files.size()];
            SCOPED_TRACE(kind.name + ", " + RoleName(role) + " " + std::to_string(image) + " carrying " + other);
            product.Patch(role, image, idOffset, other);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);

            EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
            EXPECT_EQ(session.openReports, std::vector<std::string>{notAlosj});
            // The file is left closed: every record read of it fails.
            std::vector<std::string> read;
            ImageHealth health = ImageHealth::Intact(kind);
            switch (role) {
                case Role::Leader: read = FailedReads(LeaderReads(kind), -1); break;
                case Role::Trailer: read = FailedReads(TrailerReads(), -1); break;
                case Role::Supplemental: read = FailedReads(SupplementalReads(kind), -1); break;
                default:
                    read = {ReadFailure(kCommonDescriptor), ReadFailure("ImageFileFileDescriptor::Read")};
                    health.available[static_cast<size_t>(image)] = -1;
                    break;
            }
            EXPECT_EQ(session.readReports, read);
            if (role != Role::Leader) {
                ASSERT_NO_FATAL_FAILURE(ExpectLayout(kind, health, session));
                for (int band = 0; band < kind.Bands(); ++band)
                    for (int row = 0; row < kLines; ++row) {
                        const ExpectedRow expected = ExpectRow(kind, health, band, row);
                        ASSERT_EQ(session.rows[band][row], expected.bytes) << "band " << band << ", row " << row;
                        EXPECT_EQ(session.rowReports[band][row], expected.reports) << "band " << band << ", row " << row;
                    }
            }

            // The same ID in lower case is the file's own: the product reads as intact.
            std::string lower = own;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            product.Patch(role, image, idOffset, lower);
            const Session lowerCase = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(role, image);
            EXPECT_TRUE(lowerCase.openReports.empty());
            EXPECT_TRUE(lowerCase.readReports.empty());
            EXPECT_EQ(lowerCase.queries, intact.queries);
            ExpectIntactRows(kind, lowerCase);
        }
    }
}

TEST(CorruptedProductFiles, RecordLengthsOfZeroChangeNothing) {
    TemporaryDirectoryScope tmp;
    // Records are found at fixed offsets, never through their lengths: the
    // record headers' lengths (bytes 9-12), the file pointer records' record
    // lengths and the supplemental descriptor's are all set to 0.
    const std::string zero(4, '\0');
    const SupplementalLayout layout = SupplementalFileLayout();
    for (const ProductKind& kind : ProductKinds()) {
        SCOPED_TRACE(kind.name);
        WrittenProduct product(kind);
        const Session intact = IntactSession(product, tmp);
        const long pointers = static_cast<long>(product.files().fileIds.size());
        for (long record = 0; record < pointers + 2; ++record) product.Patch(Role::Volume, 0, 360 * record + 8, zero);
        for (long record = 1; record <= pointers; ++record) {
            product.Patch(Role::Volume, 0, 360 * record + 108, "       0");  // first record length
            product.Patch(Role::Volume, 0, 360 * record + 116, "       0");  // maximum record length
        }
        for (long record = 0; record < 5; ++record) product.Patch(Role::Leader, 0, 4680 * record + 8, zero);
        for (int image = 0; image < kind.ImageCount(); ++image)
            for (long record = 0; record <= kLines; ++record)
                product.Patch(Role::Image, image, kImageRecordLength * record + 8, zero);
        product.Patch(Role::Trailer, 0, 8, zero);
        for (long record = 0; record < kind.ImageCount(); ++record)
            product.Patch(Role::Trailer, 0, 8460 + 1044 * record + 8, zero);
        if (kind.recipe.HasSupplemental()) {
            product.Patch(Role::Supplemental, 0, 8, zero);
            for (int k = 0; k < 11; ++k)  // eleven count and length pairs from byte 181
                product.Patch(Role::Supplemental, 0, 180 + 14 * k + 6, "       0");
            for (int number = 3; number <= 13; ++number)
                product.Patch(Role::Supplemental, 0, static_cast<long>(layout.ancillaryOffset[number]) + 8, zero);
        }
        const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
        EXPECT_EQ(session.openResult, intact.openResult);
        EXPECT_TRUE(session.openReports.empty());
        EXPECT_TRUE(session.readReports.empty());
        EXPECT_TRUE(session.queryReports.empty());
        EXPECT_TRUE(session.exportReports.empty());
        EXPECT_EQ(session.queries, intact.queries);
        ExpectIntactRows(kind, session);
        EXPECT_EQ(session.ephemerisCount, intact.ephemerisCount);
        EXPECT_EQ(session.matrixCount, intact.matrixCount);
        EXPECT_EQ(session.attitudeCount, intact.attitudeCount);
        for (int k = 0; k < 9; ++k) EXPECT_EQ(session.sensorMatrix[k], intact.sensorMatrix[k]);
    }
}

#ifndef _WIN32
namespace {

// Runs the session of the unreadable-directory case and tells by its exit
// status whether every check held.  Permissions do not apply to root, so a
// root process first becomes the unprivileged user "nobody".
[[noreturn]] void UnreadableDirectoryCase(const ProductKind& kind, const WrittenProduct& product,
                                          const TemporaryDirectoryScope& tmp, bool searchable) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
    if (!searchable) {
        // Not even the volume directory file can be opened: -1, and the
        // host's open failure is not printed.
        EXPECT_EQ(session.openResult, -1);
        EXPECT_TRUE(session.openReports.empty());
        EXPECT_EQ(session.sceneWidth, 0);
    } else {
        // The files open by name; only the search for the CCD files fails.
        EXPECT_EQ(session.openResult, kind.IsPrism() ? 0 : 1);
        EXPECT_EQ(session.openReports,
                  kind.IsPrism() ? std::vector<std::string>{"CeosAlosjDataset::SetMinCcdNumber: No images in specified path!"}
                                 : std::vector<std::string>{});
        EXPECT_TRUE(session.readReports.empty());
        ExpectIntactRows(kind, session);
    }
    _exit(::testing::Test::HasFailure() ? 1 : 0);
}

}  // namespace

TEST(CorruptedProductFiles, ProductDirectoryWithoutReadPermission) {
    // Runs in a child process, as "nobody" when the tests run as root.
    TemporaryDirectoryScope tmp;
    chmod(tmp.path().c_str(), 0777);  // the child's temporary files go here
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const bool root = geteuid() == 0;
        for (bool searchable : {true, false}) {
            SCOPED_TRACE(kind.name + (searchable ? ", directory searchable but not listable" : ", directory closed"));
            // For "nobody" the others' bits count, for the owner the owner's.
            const mode_t mode = searchable ? (root ? 0711 : 0311) : (root ? 0700 : 0000);
            ASSERT_EQ(chmod(product.directory().c_str(), mode), 0);
            EXPECT_EXIT(UnreadableDirectoryCase(kind, product, tmp, searchable), ::testing::ExitedWithCode(0), "");
            chmod(product.directory().c_str(), 0755);
            EXPECT_TRUE(tmp.Leftovers().empty());
        }
    }
}
#endif

TEST(CorruptedProductFiles, MalformedSummaryFileLeavesTheMapDirectionOther) {
    TemporaryDirectoryScope tmp;
    struct Summary {
        std::string name;
        std::string text;  // the file's bytes; a directory when empty
        long size;         // the file's size, holes after the text
        std::vector<std::string> openReports;
        std::vector<std::string> readReports;
        int mapDirection;
    };
    const std::string trueNorth = "Pds_MapDirection=\"TrueNorth\"\n";
    const std::vector<Summary> summaries = {
        {"binary zeros", std::string(1, '\0'), 4096, {}, {}, 0},
        {"a line of a hundred thousand characters", std::string(100000, 'x') + "\n" + trueNorth, 0, {}, {}, 1},
        {"the key without an equals sign", "Pds_MapDirection TrueNorth\n", 0, {}, {}, 0},
        {"the value in other case", "Pds_MapDirection=\"truenorth\"\n", 0, {}, {}, 0},
        {"two megabytes", trueNorth, 2 << 20, {}, {"tkmd::KeywordValueFile::Read: keyword file too large"}, 0},
        {"a directory", "", 0, {"CeosAlosjSummaryFile::FindAndOpen"}, {}, 0},
    };
    for (const ProductKind& kind : ProductKinds()) {
        if (!kind.recipe.summary) continue;
        WrittenProduct product(kind);
        const std::string path = product.Path(Role::Summary);
        for (const Summary& summary : summaries) {
            SCOPED_TRACE(kind.name + ", summary.txt holding " + summary.name);
            product.Remove(Role::Summary);
            if (summary.text.empty()) {
                std::filesystem::create_directory(path);
            } else {
                testing_support::WriteFileBytes(path, {summary.text.begin(), summary.text.end()});
                if (summary.size) testing_support::TruncateFile(path, summary.size);
            }
            testing_support::ReportCapture capture;
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            std::filesystem::remove(path);
            product.Restore(Role::Summary);

            // A directory cannot be opened: the search logs it and finds no file.
            if (summary.openReports.empty()) {
                EXPECT_TRUE(session.openReports.empty());
            } else {
                ASSERT_EQ(session.openReports.size(), 1u);
                EXPECT_EQ(session.openReports[0].rfind(summary.openReports[0] + ": cannot open keyword file", 0), 0u)
                    << session.openReports[0];
            }
            EXPECT_EQ(session.readReports, summary.readReports);
            EXPECT_NE(session.queries.find("map direction " + std::to_string(summary.mapDirection)), std::string::npos);
            ExpectIntactRows(kind, session);
        }
    }
}
