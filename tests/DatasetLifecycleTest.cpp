// Opening, reading, closing and copying whole products, and what the
// dataset makes of the volume directory's list.
#include <gtest/gtest.h>

#include <filesystem>

#include "DatasetTestSupport.h"

using namespace ceoswriter;
using namespace testing_support;

TEST(DatasetOpen, PrismBelow1B2OpensOneReaderPerListedFile) {
    WrittenProduct p(PrismProduct(1));
    ReportCapture capture;
    CeosAlosjDataset dataset(p.files.volume.c_str());
    EXPECT_EQ(dataset.FileOpen(nullptr), 0);
    EXPECT_EQ(dataset.GetImgFileCount(), 6);
    EXPECT_EQ(dataset.FileRead(), 0);
    for (long k = 0; k < 6; ++k) EXPECT_EQ(std::string(dataset.GetImageFileName(k)), p.files.images[k]);
    EXPECT_EQ(dataset.GetImageFileName(6), nullptr);
    EXPECT_EQ(dataset.FileClose(), 0);
    EXPECT_TRUE(capture.reports().empty()) << capture.Summary().front();
}

TEST(DatasetOpen, TheListMustHoldExactlyTheFilesTheProductNeeds) {
    struct Case {
        ProductRecipe product;
        long expectedImages;
        bool extraRecord;
    };
    std::vector<Case> cases = {{PrismProduct(2), 1, false}, {PrismProduct(2), 1, true},
                               {Avnir2Product(1), 4, false}, {Avnir2Product(1), 4, true},
                               {Avnir2Product(2), 4, false}};
    for (Case& c : cases) {
        if (c.extraRecord) c.product.extraFileIds = {FileId(c.product, 'T')};
        WrittenProduct p(c.product);
        ReportCapture capture;
        long result = -2;
        auto dataset = OpenAndRead(p.files.volume, -1, &result);
        EXPECT_EQ(result, c.product.IsPrism() ? 0 : 1);
        EXPECT_EQ(dataset->GetImgFileCount(), c.expectedImages);
        // One record too many is reported, yet the product opens.
        EXPECT_EQ(capture.Has("CeosAlosjDataset::OpenAndRead", "CeosAlosjDataset Read failed"),
                  c.extraRecord);
        EXPECT_GT(dataset->GetSceneHeight(), 0);
    }
}

TEST(DatasetOpen, ListsTooShortAreRejectedWithoutReadingPastThem) {
    // AVNIR-2 below Level 1B2 needs seven records; six are declared.
    ProductRecipe product = Avnir2Product(1);
    product.declaredFilePointerCount = 6;
    WrittenProduct p(product);
    ReportCapture capture;
    long result = -2;
    auto dataset = OpenAndRead(p.files.volume, -1, &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(capture.Has("CeosAlosjDataset::OpenAndRead", "CeosAlosjDataset Read failed"));
    EXPECT_EQ(dataset->GetSceneWidth(), 0);
    EXPECT_EQ(dataset->GetSceneHeight(), 0);
    std::vector<unsigned char> row = Row(*dataset, 0, 0);
    EXPECT_TRUE(row.empty());
    EXPECT_EQ(dataset->FileClose(), 0);

    // A PRISM list of two records would mean a negative number of CCD files.
    ProductRecipe prism = PrismProduct(1);
    prism.declaredFilePointerCount = 2;
    WrittenProduct q(prism);
    capture.Clear();
    auto short2 = OpenAndRead(q.files.volume, -1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(short2->GetImgFileCount(), 0);
    EXPECT_TRUE(capture.Has("CeosAlosjDataset::OpenAndRead", "CeosAlosjDataset Read failed"));
}

TEST(DatasetOpen, VolumeDirectoryThatCannotBeIdentifiedFailsTheOpen) {
    WrittenProduct p(PrismProduct(1));
    const std::string renamed = p.dir.File("VOLUME-X");
    std::filesystem::copy_file(p.files.volume, renamed);
    ReportCapture capture;
    CeosAlosjDataset unnamed(renamed.c_str());
    EXPECT_EQ(unnamed.GetSensorType(), -1);
    EXPECT_EQ(unnamed.FileOpen(nullptr), -1);
    EXPECT_TRUE(capture.reports().empty());
    EXPECT_EQ(unnamed.FileRead(), 0);
    EXPECT_EQ(unnamed.FileClose(), 0);
    EXPECT_EQ(unnamed.GetSceneWidth(), 0);
    EXPECT_EQ(unnamed.GetNumOfLayers(), -1);

    CeosAlosjDataset missing(p.dir.File("VOL-ALPSM-NONE").c_str());
    EXPECT_EQ(missing.FileOpen(nullptr), -1);
}

TEST(DatasetOpen, WrongOrMissingFilesLeaveTheirReadersClosedAndTheOpenGoesOn) {
    WrittenProduct p(PrismProduct(1));
    std::filesystem::remove(p.files.trailer);
    PatchFile(p.files.leader, 48, p.files.fileIds[7]);  // the trailer's ID in the leader
    ReportCapture capture;
    long result = -2;
    auto dataset = OpenAndRead(p.files.volume, -1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(capture.Has("CeosAlosjNonVolFileClass::SetFilename", "TRL file doesn't exist"));
    EXPECT_TRUE(capture.Has("CeosAlosjNonVolFileClass::FileIdentify", "Not a ALOS ALOSJ file"));
    // Their records are reported unreadable when the product is read.
    EXPECT_TRUE(capture.Has("AlosjLeaderFileSceneHeader::Read", "tfio_ReadDirect failure"));
    // The image files still deliver rows; the height is the leader's and unknown.
    EXPECT_EQ(dataset->GetSceneHeight(), 0);
    EXPECT_GT(dataset->GetSceneWidth(), 0);
}

TEST(DatasetLifecycle, RowsNeedOpenFilesButMetadataOutlivesFileClose) {
    WrittenProduct p(PrismProduct(1));
    auto dataset = OpenAndRead(p.files.volume);
    const long width = dataset->GetSceneWidth();
    std::vector<unsigned char> before = Row(*dataset, 0, 1);
    EXPECT_EQ(dataset->FileClose(), 0);
    EXPECT_EQ(dataset->GetSceneWidth(), width);
    EXPECT_STREQ(dataset->GetMapProjection(), "UTM");
    ReportCapture capture;
    std::vector<unsigned char> after = Row(*dataset, 0, 1);
    EXPECT_EQ(after, std::vector<unsigned char>(static_cast<size_t>(width), 0));
    EXPECT_TRUE(capture.Has("ImageFileImageLine::ReadLine", "tfio_ReadDirect failed"));
    EXPECT_NE(before, after);
}

TEST(DatasetLifecycle, CopiesShareTheProductAndReleaseItOnce) {
    WrittenProduct p(Avnir2Product(1));
    auto original = OpenAndRead(p.files.volume);
    std::vector<unsigned char> expected = Row(*original, 2, 3);
    CeosAlosjDataset other(p.files.volume.c_str());
    other = *original;
    original.reset();  // the copy keeps the readers alive
    EXPECT_EQ(Row(other, 2, 3), expected);
    EXPECT_EQ(other.GetNumOfLayers(), 4);
    CeosAlosjDataset copy(other);
    other = other;  // self-assignment changes nothing
    EXPECT_EQ(Row(copy, 2, 3), expected);
    EXPECT_EQ(copy.FileClose(), 0);
}

TEST(DatasetLifecycle, QueriesBeforeFileReadAnswerFromEmptyRecords) {
    WrittenProduct p(PrismProduct(2));
    CeosAlosjDataset dataset(p.files.volume.c_str());
    EXPECT_EQ(dataset.GetSceneWidth(), 0);
    EXPECT_EQ(dataset.GetMapProjection(), nullptr);
    EXPECT_EQ(dataset.IsGeocoded(), TMSC_FALSE);
    EXPECT_STREQ(dataset.GetEllipsoidName(), "");
    EXPECT_EQ(dataset.GetUpperLeftCornerNorthing(), -1.0);
    double lat = 9, lon = 9;
    dataset.GetULCornerLatLon(&lat, &lon);
    EXPECT_EQ(lat, 0.0);
    EXPECT_EQ(dataset.FileOpen(nullptr), 0);
    EXPECT_EQ(dataset.GetImgFileCount(), 1);
    EXPECT_EQ(dataset.GetSceneHeight(), 0);  // the leader is open but not yet read
    EXPECT_EQ(dataset.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_OTHER);
}

TEST(DatasetLifecycle, OpeningTwiceStartsOver) {
    WrittenProduct p(PrismProduct(1));
    CeosAlosjDataset dataset(p.files.volume.c_str());
    EXPECT_EQ(dataset.FileOpen(nullptr), 0);
    EXPECT_EQ(dataset.FileOpen(nullptr), 0);
    dataset.FileRead();
    EXPECT_EQ(dataset.GetNumOfLayers(), 1);
    EXPECT_EQ(dataset.GetImgFileCount(), 6);
}
