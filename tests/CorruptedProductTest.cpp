// Products cut short, with files missing, mislabelled or unreadable: every
// product kind, one damaged file at a time.  Each case runs a whole host
// session (open, read, every query, every row of every band, the exports,
// close) and asserts the reports printed, the rows delivered (never a byte
// past GetSceneWidth()), the queries still answering, and an empty
// temporary directory afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
    if (!kind.IsPrism() || kind.spec.level == 2) return {};
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
    const ImageHealth intact = ImageHealth::Intact(kind);
    EXPECT_EQ(session.sceneWidth, ExpectSceneWidth(kind, intact));
    for (int band = 0; band < kind.Bands(); ++band)
        for (int row = 0; row < kLines; ++row) {
            const ExpectedRow expected = ExpectRow(kind, intact, band, row);
            ASSERT_EQ(session.rows[band][row], expected.bytes) << "band " << band << ", row " << row;
            EXPECT_EQ(session.rowReports[band][row], expected.reports) << "band " << band << ", row " << row;
        }
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
        if (kind.IsPrism() && kind.spec.level != 2) {
            EXPECT_EQ(session.ephemerisCount, static_cast<int>(kind.spec.supplemental.secondBlock.lines.size()));
            EXPECT_EQ(session.attitudeCount, static_cast<int>(kind.spec.supplemental.attitude.size()));
            EXPECT_EQ(session.matrixCount, static_cast<int>(kind.spec.supplemental.matrices.size()));
        }
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
                expected.push_back("CeosAlosjVolumeDirFile::Read: Invalid number of file pointer records");
            if (cut < record * (pointers + 1)) {
                // No file pointer records: the text record is looked for right
                // behind the descriptor, and the product lists no files.
                if (cut < 2 * record) expected.push_back(ReadFailure("VolumeDirFileText::Read"));
                expected.push_back("CeosAlosjDataset::OpenAndRead: CeosAlosjDataset Read failed");
                EXPECT_EQ(session.openReports, expected);
                EXPECT_TRUE(session.readReports.empty());
                EXPECT_EQ(session.sceneWidth, 0);
                EXPECT_TRUE(Flatten(session.rowReports).empty());
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
            const bool widthFromSceneHeader = !kind.IsPrism() || kind.spec.level == 2;
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
        if (!kind.spec.HasSupplemental()) continue;
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

