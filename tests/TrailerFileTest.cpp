// The trailer file reader, on trailer files the product writer makes.
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "files/CeosAlosjTrailerFile.h"

using namespace ceoswriter;
using testing_support::PatchFile;
using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

constexpr long kTrailer = 8460;

std::unique_ptr<CeosAlosjTrailerFile> OpenTrailer(const ProductFiles& files) {
    const std::string& id = files.fileIds[1 + files.images.size()];
    auto trailer = std::make_unique<CeosAlosjTrailerFile>(files.volume.c_str(), id.c_str());
    EXPECT_EQ(trailer->SetFd(), 0);
    return trailer;
}

}  // namespace

TEST(TrailerFileRead, DecodesTheDescriptorAndTheFirstTrailerRecord) {
    TempDir dir;
    ProductRecipe product = Avnir2Product(1);
    product.trailer.values[0] = -1;
    product.trailer.values[255] = 2000000000;
    ProductFiles files = WriteProduct(dir.path(), product);
    auto trailer = OpenTrailer(files);
    EXPECT_EQ(std::string(trailer->FileName()), files.trailer);
    ReportCapture capture;
    EXPECT_EQ(trailer->Read(), 0);
    EXPECT_TRUE(capture.reports().empty());

    const TrailerFileFileDescriptor& d = trailer->FileDescriptor();
    EXPECT_EQ(std::string(d.recordedFileId), files.fileIds[5]);
    EXPECT_EQ(d.recordLength, 8460);
    EXPECT_EQ(d.value181, 4);     // one trailer record per band
    EXPECT_EQ(d.value187, 1044);  // of this length

    const TrailerFileTrailer& t = trailer->Trailer();
    EXPECT_EQ(t.recordSequenceNumber, 2);
    EXPECT_EQ(t.recordLength, 1044);
    EXPECT_EQ(t.value13, 1);
    EXPECT_EQ(t.value17, 1);
    for (int k = 0; k < 256; ++k) EXPECT_EQ(t.values21[k], product.trailer.values[k]) << k;
}

TEST(TrailerFileTrailer, ValuesRunFromPosition21ToPosition1041) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    PatchFile(files.trailer, kTrailer + 20, std::string("\xFF\xFF\xFF\xFE", 4));
    PatchFile(files.trailer, kTrailer + 1040, std::string("\x07\x5B\xCD\x15", 4));
    auto trailer = OpenTrailer(files);
    trailer->Read();
    const std::array<int32_t, 256> defaults = DefaultHistogram();
    EXPECT_EQ(trailer->Trailer().values21[0], -2);
    EXPECT_EQ(trailer->Trailer().values21[1], defaults[1]);
    EXPECT_EQ(trailer->Trailer().values21[254], defaults[254]);
    EXPECT_EQ(trailer->Trailer().values21[255], 123456789);
}

TEST(TrailerFileRead, TooShortForTheTrailerRecordReportsAndKeepsTheDescriptor) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    testing_support::TruncateFile(files.trailer, kTrailer + 1044 - 1);
    auto trailer = OpenTrailer(files);
    ReportCapture capture;
    EXPECT_EQ(trailer->Read(), 0);
    EXPECT_EQ(capture.Summary(),
              (std::vector<std::string>{"TrailerFileTrailer::Read: tfio_ReadDirect failure"}));
    ASSERT_EQ(capture.reports()[0].size(), 2u);
    EXPECT_EQ(capture.reports()[0][1].operation, "tfio_ReadDirect");
    EXPECT_EQ(trailer->FileDescriptor().value181, 6);
    EXPECT_EQ(trailer->Trailer().recordLength, 0);
    EXPECT_EQ(trailer->Trailer().values21[0], 0);
    EXPECT_EQ(trailer->Trailer().values21[255], 0);
}

TEST(TrailerFileRead, DescriptorOwnPartFailsApartFromTheCommonPart) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(2));
    testing_support::TruncateFile(files.trailer, 185);
    auto trailer = OpenTrailer(files);
    ReportCapture capture;
    EXPECT_EQ(trailer->Read(), 0);
    EXPECT_EQ(capture.Summary(),
              (std::vector<std::string>{"TrailerFileFileDescriptor::Read: tfio_ReadDirect failure",
                                        "TrailerFileTrailer::Read: tfio_ReadDirect failure"}));
    EXPECT_EQ(std::string(trailer->FileDescriptor().recordedFileId), files.fileIds[2]);
    EXPECT_EQ(trailer->FileDescriptor().value181, 0);
}

TEST(TrailerWriter, OneTrailerRecordPerImageFileAfterAnOversizedDescriptor) {
    TempDir dir;
    ProductFiles files = WriteProduct(dir.path(), PrismProduct(1));
    const std::vector<unsigned char> bytes = testing_support::ReadFileBytes(files.trailer);
    ASSERT_EQ(bytes.size(), 8460u + 6u * 1044u);
    const std::array<int32_t, 256> histogram = DefaultHistogram();
    for (int r = 0; r < 6; ++r) {
        const size_t record = 8460 + 1044 * static_cast<size_t>(r);
        EXPECT_EQ(bytes[record + 3], r + 2);  // sequence number
        EXPECT_EQ(std::string(bytes.begin() + record + 16, bytes.begin() + record + 20),
                  "   " + std::to_string(r + 1));  // CCD number at 17-20
        const size_t field = record + 20 + 4 * 100;  // value 100 at 421-424, big-endian
        const uint32_t value = uint32_t{bytes[field]} << 24 | uint32_t{bytes[field + 1]} << 16 |
                               uint32_t{bytes[field + 2]} << 8 | bytes[field + 3];
        EXPECT_EQ(static_cast<int32_t>(value), histogram[100] / (r + 1));
    }
}
