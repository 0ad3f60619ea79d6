// The volume directory reader and the reader base classes, on products the
// product writer makes.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "ceos/CeosAlosjBaseClass.h"
#include "dataset/CeosAlosjDataset.h"
#include "files/CeosAlosjVolumeDirFile.h"

using namespace ceoswriter;
using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

// A non-volume reader with nothing of its own, to exercise the base class.
class PlainReader : public CeosAlosjNonVolFileClass {
public:
    using CeosAlosjNonVolFileClass::CeosAlosjNonVolFileClass;
};

}  // namespace

TEST(VolumeDirIdentify, PrismAndAvnir2ByNameAndDocumentId) {
    TempDir dir;
    ProductFiles prism = WriteProduct(dir.path(), PrismProduct(1));
    ProductFiles avnir = WriteProduct(dir.path(), Avnir2Product(1));
    ReportCapture capture;
    CeosAlosjVolumeDirFile prismVol(prism.volume.c_str());
    EXPECT_EQ(prismVol.SetFd(), 0);
    EXPECT_TRUE(prismVol.IsOpen());
    CeosAlosjVolumeDirFile avnirVol(avnir.volume.c_str());
    EXPECT_EQ(avnirVol.SetFd(), 1);
    EXPECT_EQ(prismVol.Close(), 0);
    EXPECT_EQ(avnirVol.Close(), 0);
    EXPECT_FALSE(prismVol.IsOpen());
    EXPECT_TRUE(capture.reports().empty());
}

TEST(VolumeDirIdentify, NameAndIdentifierAreComparedIgnoringCase) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.documentId = "ceos-psm-cct";
    ProductFiles files = WriteProduct(dir.path(), product);
    const std::string lower = dir.File("vol-alpsm-lower");
    std::filesystem::rename(files.volume, lower);
    CeosAlosjVolumeDirFile vol(lower.c_str());
    EXPECT_EQ(vol.SetFd(), 0);
}

TEST(VolumeDirIdentify, RejectionsAndTheirReports) {
    TempDir dir;
    ProductRecipe product = PrismProduct(1);
    product.documentId = "CEOS-AV2-CCT";
    ProductFiles files = WriteProduct(dir.path(), product);
    ProductRecipe avnir = Avnir2Product(1);
    avnir.documentId = "CEOS-SAR-CCT";
    ProductFiles avnirFiles = WriteProduct(dir.path(), avnir);

    ReportCapture capture;
    CeosAlosjVolumeDirFile wrongId(files.volume.c_str());
    EXPECT_EQ(wrongId.SetFd(), -1);
    EXPECT_FALSE(wrongId.IsOpen());
    CeosAlosjVolumeDirFile wrongAvnir(avnirFiles.volume.c_str());
    EXPECT_EQ(wrongAvnir.SetFd(), -1);
    EXPECT_EQ(capture.Summary(),
              (std::vector<std::string>{"CeosAlosjVolumeDirFile::FileIdentify: Not a ALOS PRISM VOL file",
                                        "CeosAlosjVolumeDirFile::FileIdentify: Not a ALOS AVNIR-2 VOL file"}));

    // A name with neither VOL-ALPSM nor VOL-ALAV2 is refused without a word.
    capture.Clear();
    const std::string other = dir.File("VOL-OTHER");
    std::filesystem::copy_file(files.volume, other);
    CeosAlosjVolumeDirFile unnamed(other.c_str());
    EXPECT_EQ(unnamed.SetFd(), -1);
    // A file too short for the identifier fails the read.
    const std::string tiny = dir.File("VOL-ALPSM-TINY");
    testing_support::WriteFileBytes(tiny, {'x', 'y'});
    CeosAlosjVolumeDirFile truncated(tiny.c_str());
    EXPECT_EQ(truncated.SetFd(), -1);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.Summary()[0], "CeosAlosjVolumeDirFile::FileIdentify: tfio_ReadDirect failed");
    EXPECT_EQ(capture.reports()[0].size(), 2u);  // wraps the host's report
    // A missing file: SetFd fails silently.
    capture.Clear();
    CeosAlosjVolumeDirFile missing(dir.File("VOL-ALPSM-MISSING").c_str());
    EXPECT_EQ(missing.SetFd(), -1);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(VolumeDirRead, FilePointerRecordsListTheProductInOrder) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    CeosAlosjVolumeDirFile vol(files.volume.c_str());
    ASSERT_EQ(vol.SetFd(), 0);
    ReportCapture capture;
    EXPECT_EQ(vol.Read(), 0);
    ASSERT_EQ(vol.FileCount(), 9);
    EXPECT_EQ(vol.VolumeDescriptor().numberOfFilePointerRecords, 9);
    EXPECT_STREQ(vol.VolumeDescriptor().documentId, "CEOS-PSM-CCT");
    for (long i = 0; i < vol.FileCount(); ++i) {
        EXPECT_EQ(std::string(vol.FilePointer(i).referencedFileId), files.fileIds[i]) << i;
        EXPECT_EQ(vol.FilePointer(i).referencedFileNumber, i + 1);
        EXPECT_EQ(vol.FilePointer(i).recordSequenceNumber, i + 2);
    }
    const std::string imageId = vol.FilePointer(3).referencedFileId;
    EXPECT_EQ(imageId[6], 'N');
    EXPECT_EQ(imageId[7], '1');
    EXPECT_EQ(imageId[8], 'I');
    EXPECT_EQ(imageId[15], '3');
    EXPECT_EQ(vol.TextRecord().recordSequenceNumber, 11);
    EXPECT_EQ(std::string(vol.TextRecord().sceneIdPrefix), "ALPS");
    EXPECT_TRUE(capture.reports().empty());
}

TEST(VolumeDirRead, RecordsAreFoundAt360ByteStrides) {
    // A hand-made directory: the descriptor announces count records, each
    // pointer record i names file i, and the text record follows them.
    for (int count : {0, 1, 7}) {
        TempDir dir;
        const std::string path = dir.File("VOL-ALPSM-STRIDE");
        {
            FileWriter out(path);
            ceoswriter::Record descriptor(360);
            descriptor.Header(1, {0xC0, 0xC0, 0x12, 0x12}).Ascii(17, 12, "CEOS-PSM-CCT").Int(161, 4, count);
            out.Write(0, descriptor);
            for (int i = 0; i < count; ++i) {
                ceoswriter::Record pointer(360);
                pointer.Header(2 + i, {0xDB, 0xC0, 0x12, 0x12})
                    .Int(17, 4, 100 + i)
                    .Ascii(21, 16, "ALPSM_N1IMG-CCD" + std::to_string(i % 10));
                out.Write(360 * static_cast<uint64_t>(i + 1), pointer);
            }
            ceoswriter::Record text(360);
            text.Header(2 + count, {0x12, 0x3F, 0x12, 0x12}).Ascii(157, 4, "T" + std::to_string(count));
            out.Write(360 * static_cast<uint64_t>(count + 1), text);
        }
        CeosAlosjVolumeDirFile vol(path.c_str());
        ASSERT_EQ(vol.SetFd(), 0);
        EXPECT_EQ(vol.Read(), 0);
        ASSERT_EQ(vol.FileCount(), count);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(vol.FilePointer(i).referencedFileNumber, 100 + i);
            EXPECT_EQ(vol.FilePointer(i).referencedFileId[15], '0' + i % 10);
        }
        EXPECT_EQ(std::string(vol.TextRecord().sceneIdPrefix), "T" + std::to_string(count) + "  ");
        EXPECT_EQ(vol.TextRecord().recordSequenceNumber, 2 + count);
    }
}

TEST(VolumeDirRead, NegativeCountsGiveAnEmptyListWithAReport) {
    for (int declared : {-1, -999}) {
        TempDir dir;
        ProductRecipe product = PrismProduct(1);
        product.declaredFilePointerCount = declared;
        ProductFiles files = WriteProduct(dir.path(), product);
        ReportCapture capture;
        CeosAlosjVolumeDirFile vol(files.volume.c_str());
        ASSERT_EQ(vol.SetFd(), 0);
        EXPECT_EQ(vol.Read(), 0);
        EXPECT_EQ(vol.FileCount(), 0) << declared;
        EXPECT_TRUE(capture.Has("CeosAlosjVolumeDirFile::Read", "Invalid number of file pointer records"))
            << declared;
    }
}

// A count larger than the file holds keeps the product readable: the file
// pointer records that are there are read, the text record after them, one
// warning says the count was cut, and the product opens as usual.
TEST(VolumeDirRead, CountBeyondTheFileIsCutToItsFilePointerRecordsWithOneWarning) {
    TempDir reference;
    const ProductFiles plain = WriteProduct(reference.path(), PrismProduct(1));
    CeosAlosjDataset expected(plain.volume.c_str());
    ASSERT_EQ(expected.FileOpen(nullptr), 0);
    expected.FileRead();
    for (int declared : {9999, 1000, 11}) {
        SCOPED_TRACE(declared);
        TempDir dir;
        ProductRecipe product = PrismProduct(1);
        product.declaredFilePointerCount = declared;
        ProductFiles files = WriteProduct(dir.path(), product);
        ReportCapture capture;
        CeosAlosjVolumeDirFile vol(files.volume.c_str());
        ASSERT_EQ(vol.SetFd(), 0);
        EXPECT_EQ(vol.Read(), 0);
        ASSERT_EQ(vol.FileCount(), static_cast<long>(files.fileIds.size()));
        for (long i = 0; i < vol.FileCount(); ++i)
            EXPECT_EQ(std::string(vol.FilePointer(i).referencedFileId), files.fileIds[i]);
        EXPECT_EQ(std::string(vol.TextRecord().sceneIdPrefix), "ALPS");
        ASSERT_EQ(capture.reports().size(), 1u) << testing::PrintToString(capture.Summary());
        EXPECT_EQ(capture.reports()[0][0].message, "Number of file pointer records cut to the records the file holds");
        EXPECT_EQ(capture.reports()[0][0].severity, CEOSALOSJ_SEVERITY_WARNING);

        capture.Clear();
        CeosAlosjDataset dataset(files.volume.c_str());
        ASSERT_EQ(dataset.FileOpen(nullptr), 0);
        dataset.FileRead();
        EXPECT_EQ(dataset.GetImgFileCount(), expected.GetImgFileCount());
        EXPECT_EQ(dataset.GetSceneWidth(), expected.GetSceneWidth());
        EXPECT_EQ(dataset.GetSceneHeight(), expected.GetSceneHeight());
        std::vector<unsigned char> row(static_cast<size_t>(dataset.GetSceneWidth()));
        std::vector<unsigned char> expectedRow(row.size());
        unsigned char* data = row.data();
        unsigned char* expectedData = expectedRow.data();
        dataset.GetRow(0, 3, 0, &data);
        expected.GetRow(0, 3, 0, &expectedData);
        EXPECT_EQ(row, expectedRow);
        for (const auto& report : capture.reports()) EXPECT_EQ(report[0].severity, CEOSALOSJ_SEVERITY_WARNING);
        dataset.FileClose();
    }
    expected.FileClose();
}

TEST(VolumeDirRead, UnreadableDescriptorMeansNoFilePointerRecords) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    testing_support::TruncateFile(files.volume, 100);  // identifier still there
    ReportCapture capture;
    CeosAlosjVolumeDirFile vol(files.volume.c_str());
    ASSERT_EQ(vol.SetFd(), 0);
    EXPECT_EQ(vol.Read(), 0);
    EXPECT_EQ(vol.FileCount(), 0);
    EXPECT_TRUE(capture.Has("VolumeDirFileVolumneDescriptor::Read", "tfio_ReadDirect failure"));
    EXPECT_TRUE(capture.Has("VolumeDirFileText::Read", "tfio_ReadDirect failure"));
}

TEST(NonVolReader, DerivesItsPathFromTheVolumeDirectory) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    ReportCapture capture;
    PlainReader leader(files.volume.c_str(), files.fileIds[0].c_str());
    EXPECT_EQ(std::string(leader.FileName()), files.leader);
    EXPECT_STREQ(leader.FilePrefix(), "LED");
    EXPECT_EQ(leader.FileSensor(), 0);
    EXPECT_EQ(leader.FileLevel(), 1);
    PlainReader trailer(files.volume.c_str(), files.fileIds[7].c_str());
    EXPECT_EQ(std::string(trailer.FileName()), files.trailer);
    PlainReader supplemental(files.volume.c_str(), files.fileIds[8].c_str());
    EXPECT_EQ(std::string(supplemental.FileName()), files.supplemental);
    EXPECT_TRUE(capture.reports().empty());

    // Image readers compose their own paths: the base leaves it empty.
    PlainReader image(files.volume.c_str(), files.fileIds[1].c_str());
    EXPECT_STREQ(image.FilePrefix(), "IMG");
    EXPECT_STREQ(image.FileName(), "");
}

TEST(NonVolReader, BarePathReplacesTheFirstLettersOfTheNameItself) {
    PlainReader reader("VOL-ALPSM-X", "ALPSM_N1LED     ");
    EXPECT_STREQ(reader.FileName(), "LED-ALPSM-X");
    PlainReader longDirectory((std::string(600, 'd') + "/VOL-ALAV2-X").c_str(), "ALAV2_A0TRL     ");
    EXPECT_EQ(std::string(longDirectory.FileName()), std::string(600, 'd') + "/TRL-ALAV2-X");
    EXPECT_EQ(longDirectory.FileSensor(), 1);
    EXPECT_EQ(longDirectory.FileLevel(), 0);
}

TEST(NonVolReader, MissingFileIsReportedOnceAndSetFdFailsSilently) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    std::filesystem::remove(files.leader);
    ReportCapture capture;
    PlainReader leader(files.volume.c_str(), files.fileIds[0].c_str());
    EXPECT_EQ(capture.Summary(),
              std::vector<std::string>{"CeosAlosjNonVolFileClass::SetFilename: LED file doesn't exist"});
    EXPECT_EQ(leader.SetFd(), -1);
    EXPECT_EQ(leader.Close(), -1);
    EXPECT_EQ(capture.reports().size(), 1u);
}

TEST(NonVolReader, IdentifiesByTheRecordedFileIdIgnoringCase) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    std::string lower = files.fileIds[0];
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    testing_support::PatchFile(files.leader, 48, lower);
    ReportCapture capture;
    PlainReader leader(files.volume.c_str(), files.fileIds[0].c_str());
    EXPECT_EQ(leader.SetFd(), 0);
    EXPECT_EQ(leader.Close(), 0);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(NonVolReader, AnotherFilesIdIsRejected) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    testing_support::PatchFile(files.leader, 48, files.fileIds[7]);  // the trailer's ID
    ReportCapture capture;
    PlainReader leader(files.volume.c_str(), files.fileIds[0].c_str());
    EXPECT_EQ(leader.SetFd(), -1);
    EXPECT_FALSE(leader.IsOpen());
    EXPECT_EQ(capture.Summary(),
              std::vector<std::string>{"CeosAlosjNonVolFileClass::FileIdentify: Not a ALOS ALOSJ file"});
}

TEST(NonVolReader, UnknownClassLetterGivesNoPathAndAFailingSetFd) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    ReportCapture capture;
    PlainReader reader(files.volume.c_str(), "ALPSM_N1XYZ     ");
    EXPECT_STREQ(reader.FilePrefix(), "");
    EXPECT_STREQ(reader.FileName(), "");
    EXPECT_EQ(reader.SetFd(), -1);
    PlainReader noSensor(files.volume.c_str(), "ABCDEFG");
    EXPECT_EQ(noSensor.FileSensor(), -1);
    EXPECT_EQ(noSensor.FileLevel(), -1);
    EXPECT_EQ(noSensor.SetFd(), -1);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(NonVolReader, ShortFileFailsIdentificationWithAReport) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    testing_support::TruncateFile(files.trailer, 50);
    ReportCapture capture;
    PlainReader trailer(files.volume.c_str(), files.fileIds[7].c_str());
    EXPECT_EQ(trailer.SetFd(), -1);
    EXPECT_EQ(capture.Summary(),
              std::vector<std::string>{"CeosAlosjNonVolFileClass::FileIdentify: tfio_ReadDirect failed"});
}
