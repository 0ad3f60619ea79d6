// The supplemental file reader and its keyword block, on products the
// product writer makes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "files/CeosAlosjSupplementalFile.h"

using namespace ceoswriter;
using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

const char* const kAnc8 = "AlosjSupplementalFileAncillary8::Read";
const char* const kAnc10 = "AlosjSupplementalFileAncillary10::Read";
const char* const kAnc12 = "AlosjSupplementalFileAncillary12::Read";
const std::string kCut = "Entry count runs past the record: table cut";
const std::string kNegative = "Negative entry count: empty table";

// A product directory whose temporary files go to a directory of their own,
// so that a test can see what the reader leaves behind.
class SupplementalProduct {
public:
    explicit SupplementalProduct(const ProductRecipe& recipe = PrismProduct(1)) : recipe_(recipe) {
        tmp_ = dir_.File("tmp");
        std::filesystem::create_directory(tmp_);
        testing_support::SetEnv("TMPDIR", tmp_.c_str());
        files_ = WriteProduct(dir_.path(), recipe_);
    }
    ~SupplementalProduct() { testing_support::SetEnv("TMPDIR", nullptr); }

    const ProductFiles& files() const { return files_; }
    const std::string& tmp() const { return tmp_; }
    const std::string& path() const { return files_.supplemental; }
    std::unique_ptr<CeosAlosjSupplementalFile> Open() const {
        auto reader = std::make_unique<CeosAlosjSupplementalFile>(files_.volume.c_str(),
                                                                  files_.fileIds.back().c_str());
        EXPECT_EQ(reader->SetFd(), 0);
        return reader;
    }
    /// Names in the temporary directory.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(tmp_))
            names.push_back(entry.path().filename().string());
        return names;
    }
    /// Replaces the keyword block's text with lines, in place.
    void RewriteAncillary13(const std::vector<std::string>& lines) const {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        text.resize(63000, ' ');
        testing_support::PatchFile(path(), SupplementalFileLayout().ancillaryOffset[13] + 24, text);
    }

private:
    TempDir dir_;
    std::string tmp_;
    ProductRecipe recipe_;
    ProductFiles files_;
};

ProductRecipe WithSupplemental(const SupplementalRecipe& supplemental) {
    ProductRecipe recipe = PrismProduct(1);
    recipe.supplemental = supplemental;
    return recipe;
}

void ExpectTime(const AlosjDateTime* time, int year, int month, int day, int hour, int minute,
                double seconds) {
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->year, year);
    EXPECT_EQ(time->month, month);
    EXPECT_EQ(time->day, day);
    EXPECT_EQ(time->hour, hour);
    EXPECT_EQ(time->minute, minute);
    EXPECT_DOUBLE_EQ(time->seconds, seconds);
}

// The time record put back together gives the text's date and time of day.
void ExpectTextTime(const AlosjDateTime* time, int32_t date, double timeOfDay) {
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->year * 10000 + time->month * 100 + time->day, date);
    EXPECT_GE(time->month, 1);
    EXPECT_LT(time->minute, 60);
    EXPECT_DOUBLE_EQ(time->hour * 10000 + time->minute * 100 + time->seconds, timeOfDay);
}

void ExpectLine(const AlosjStateVectorEntry& entry, const StateVectorLine& line) {
    ExpectTextTime(entry.time, line.date, line.timeOfDay);
    for (int k = 0; k < 6; ++k) EXPECT_DOUBLE_EQ(entry.stateVector[k], line.values[k]) << k;
}

// count bytes of a file from a 0-based offset.
std::string BytesAt(const std::string& path, uint64_t offset, size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(count, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(count));
    return bytes;
}

// The keyword block of the writer, with line index replaced.
std::vector<std::string> AlignmentLinesWith(const SupplementalRecipe& recipe, size_t index,
                                            const std::string& line) {
    std::vector<std::string> lines = SensorAlignmentLines(recipe);
    lines.at(index) = line;
    return lines;
}

}  // namespace

TEST(SupplementalDateTime, SplitsDateAndTimeOfDay) {
    AlosjDateTime time;
    AlosjSplitDateTime(20061130, 235959.875, &time);
    ExpectTime(&time, 2006, 11, 30, 23, 59, 59.875);
    AlosjSplitDateTime(20080101, 5.5, &time);
    ExpectTime(&time, 2008, 1, 1, 0, 0, 5.5);
}

TEST(SupplementalDateTime, AbsurdTimesOfDayStayDefined) {
    AlosjDateTime time;
    AlosjSplitDateTime(20080101, std::numeric_limits<double>::infinity(), &time);
    EXPECT_EQ(time.hour, INT32_MAX);
    AlosjSplitDateTime(20080101, std::nan(""), &time);
    EXPECT_EQ(time.hour, 0);
    EXPECT_EQ(time.minute, 0);
    AlosjSplitDateTime(20080101, -1e30, &time);
    EXPECT_EQ(time.hour, INT32_MIN);
}

TEST(SupplementalFileRead, ReadsEveryRecordOfAWrittenProductWithoutReports) {
    SupplementalProduct product;
    auto reader = product.Open();
    ReportCapture capture;
    EXPECT_EQ(reader->Read(), 0);
    EXPECT_TRUE(capture.reports().empty()) << ::testing::PrintToString(capture.Summary());

    const SupplementalRecipe recipe;
    const SupplementalLayout layout = SupplementalFileLayout();
    const auto& descriptor = reader->Descriptor();
    EXPECT_EQ(std::string(descriptor.recordedFileId), product.files().fileIds.back());
    for (int k = 0; k < AlosjSupplementalFileFileDescriptor::kRecordTypeCount; ++k) {
        EXPECT_EQ(descriptor.ancillaryRecords[k].ancillaryRecordCount, 1) << k;
        EXPECT_EQ(descriptor.ancillaryRecords[k].ancillaryRecordLength,
                  static_cast<int32_t>(layout.ancillaryLength[k + 3])) << k;
    }
    // Record headers come from the records' own offsets.
    EXPECT_EQ(reader->Ancillary8().recordLength, 529000);
    EXPECT_EQ(reader->Ancillary8().recordSequenceNumber, 7);
    EXPECT_EQ(reader->Ancillary10().recordSequenceNumber, 9);
    EXPECT_EQ(reader->Ancillary12().recordLength, 4370000);
    EXPECT_EQ(std::string(reader->Ancillary8().secondBlock.title).substr(0, recipe.secondBlock.title.size()),
              recipe.secondBlock.title);

    const auto* first = reader->Ancillary8().firstBlock.samples;
    const auto* second = reader->Ancillary8().secondBlock.samples;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(first->count, static_cast<int32_t>(recipe.firstBlock.lines.size()));
    ASSERT_EQ(second->count, static_cast<int32_t>(recipe.secondBlock.lines.size()));
    for (int32_t j = 0; j < second->count; ++j) ExpectLine(second->entries[j], recipe.secondBlock.lines[j]);
    EXPECT_EQ(reader->Ancillary13().setId, recipe.setId);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[r][c], recipe.sensorMatrix[r][c]);
    EXPECT_TRUE(product.Leftovers().empty());
}

TEST(SupplementalStateVectors, DataLinesCountFromTheFifthTextLine) {
    SupplementalRecipe recipe;
    recipe.firstBlock.dataLineOffset = 0;
    recipe.firstBlock.lines = {{20061130, 235959.875, {7000.0, -1.5, 2.25e-3, 1e10, -7.654321e-5, 0.0}},
                             {20061201, 100.5, {1, 2, 3, 4, 5, 6}}};
    recipe.secondBlock.dataLineOffset = 3;
    recipe.secondBlock.lines = {{20080101, 5.5, {-6999.5, 0.125, 3, 4, 5, 6}}};
    SupplementalProduct product(WithSupplemental(recipe));
    auto reader = product.Open();
    reader->Read();

    const AlosjStateVectorBlock& first = reader->Ancillary8().firstBlock;
    EXPECT_EQ(first.dataLineOffset, 0);
    EXPECT_EQ(first.dataLineCount, 2);
    // With offset 0 the fifth text line is itself the first data line.
    EXPECT_EQ(std::string(first.textLine5).substr(0, 10), "  20061130");
    ASSERT_EQ(first.samples->count, 2);
    ExpectLine(first.samples->entries[0], recipe.firstBlock.lines[0]);
    ExpectLine(first.samples->entries[1], recipe.firstBlock.lines[1]);
    ExpectTime(first.samples->entries[0].time, 2006, 11, 30, 23, 59, 59.875);

    // Offset 3: the data line is three lines below the fifth text line, at
    // record position 833 + 510 of its block.
    const AlosjStateVectorBlock& second = reader->Ancillary8().secondBlock;
    EXPECT_EQ(second.dataLineOffset, 3);
    ASSERT_EQ(second.samples->count, 1);
    ExpectLine(second.samples->entries[0], recipe.secondBlock.lines[0]);
    const uint64_t line = SupplementalFileLayout().ancillaryOffset[8] + 264476 + 833 + 510 - 1;
    EXPECT_EQ(BytesAt(product.path(), line, 10), "  20080101");
}

TEST(SupplementalStateVectors, EmptyAndNegativeCountsGiveEmptyTables) {
    SupplementalRecipe recipe;
    recipe.firstBlock.declaredLineCount = 0;
    recipe.secondBlock.declaredLineCount = -3;
    SupplementalProduct product(WithSupplemental(recipe));
    auto reader = product.Open();
    ReportCapture capture;
    reader->Read();
    ASSERT_NE(reader->Ancillary8().firstBlock.samples, nullptr);
    EXPECT_EQ(reader->Ancillary8().firstBlock.samples->count, 0);
    ASSERT_NE(reader->Ancillary8().secondBlock.samples, nullptr);
    EXPECT_EQ(reader->Ancillary8().secondBlock.samples->count, 0);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc8) + ": " + kNegative});
}

TEST(SupplementalStateVectors, CountsRunningPastTheBlockAreCut) {
    SupplementalRecipe recipe;
    recipe.firstBlock.dataLineOffset = 0;
    recipe.firstBlock.declaredLineCount = 999999999;
    recipe.secondBlock.dataLineOffset = 5;
    recipe.secondBlock.declaredLineCount = 2000;
    SupplementalProduct product(WithSupplemental(recipe));
    auto reader = product.Open();
    ReportCapture capture;
    reader->Read();
    // A line uses 169 characters from position 833 (+ 264476 in the second
    // block); the first block ends at 264500, the record at 529000.
    const int32_t firstFit = (264500 - (833 + 168)) / 170 + 1;
    const int32_t secondFit = (529000 - (264476 + 833 + 170 * 5 + 168)) / 170 + 1;
    const auto* first = reader->Ancillary8().firstBlock.samples;
    const auto* second = reader->Ancillary8().secondBlock.samples;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->count, firstFit);
    EXPECT_EQ(second->count, secondFit);
    ExpectLine(first->entries[0], recipe.firstBlock.lines[0]);
    ExpectLine(second->entries[4], recipe.secondBlock.lines[4]);
    // Lines past the written ones are holes: zero times, zero values.
    EXPECT_EQ(second->entries[secondFit - 1].time->year, 0);
    EXPECT_EQ(capture.Summary(), (std::vector<std::string>{std::string(kAnc8) + ": " + kCut,
                                                           std::string(kAnc8) + ": " + kCut}));
}

TEST(SupplementalStateVectors, NegativeOffsetGivesAnEmptyTable) {
    SupplementalRecipe recipe;
    recipe.secondBlock.dataLineOffset = -2;
    recipe.secondBlock.lines.clear();
    recipe.secondBlock.declaredLineCount = 4;
    SupplementalProduct product(WithSupplemental(recipe));
    auto reader = product.Open();
    ReportCapture capture;
    reader->Read();
    EXPECT_EQ(reader->Ancillary8().secondBlock.samples->count, 0);
    EXPECT_EQ(reader->Ancillary8().firstBlock.samples->count,
              static_cast<int32_t>(recipe.firstBlock.lines.size()));
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc8) +
                                                          ": Negative data line offset: empty table"});
}

TEST(SupplementalMatrices, ReferenceEntryAndTransposedMatrices) {
    SupplementalRecipe recipe;
    recipe.referenceDate = 20061130;
    recipe.referenceTimeOfDay = 235959.875;
    SupplementalProduct product(WithSupplemental(recipe));
    auto reader = product.Open();
    reader->Read();

    const AlosjSupplementalFileAncillary10& anc10 = reader->Ancillary10();
    EXPECT_EQ(anc10.dataLineOffset, recipe.matrixDataLineOffset);
    ASSERT_NE(anc10.referenceEntry, nullptr);
    ExpectTime(anc10.referenceEntry->time, 2006, 11, 30, 23, 59, 59.875);
    EXPECT_DOUBLE_EQ(anc10.referenceEntry->referenceValue1, recipe.referenceValue1);
    EXPECT_DOUBLE_EQ(anc10.referenceEntry->referenceValue2, recipe.referenceValue2);

    ASSERT_NE(anc10.matrices, nullptr);
    ASSERT_EQ(anc10.matrices->count, static_cast<int32_t>(recipe.matrices.size()));
    for (size_t i = 0; i < recipe.matrices.size(); ++i) {
        const AlosjMatrixEntry& entry = anc10.matrices->entries[i];
        const MatrixEntryRecipe& text = recipe.matrices[i];
        ExpectTextTime(entry.time, text.date, text.timeOfDay);
        // Text row r, value c lands in [c][r].
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                EXPECT_DOUBLE_EQ(entry.firstMatrix[c][r], text.firstMatrix[r][c]);
                EXPECT_DOUBLE_EQ(entry.secondMatrix[c][r], text.secondMatrix[r][c]);
            }
        EXPECT_DOUBLE_EQ(entry.firstMatrix[2][0], text.firstMatrix[0][2]);
        EXPECT_DOUBLE_EQ(entry.firstMatrix[0][2], text.firstMatrix[2][0]);
        EXPECT_NE(entry.firstMatrix[2][0], entry.firstMatrix[0][2]);
    }
}

TEST(SupplementalMatrices, AbsurdOrNegativeMatrixCounts) {
    SupplementalRecipe recipe;
    recipe.declaredMatrixCount = 9999999;
    SupplementalProduct product(WithSupplemental(recipe));
    auto reader = product.Open();
    ReportCapture capture;
    reader->Read();
    // Entries of 464 characters from position 423, the last read character
    // of each is its 463rd, in a 698000-byte record.
    EXPECT_EQ(reader->Ancillary10().matrices->count, (698000 - (423 + 462)) / 464 + 1);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc10) + ": " + kCut});

    testing_support::PatchFile(product.path(), SupplementalFileLayout().ancillaryOffset[10] + 316,
                               "       -12");
    capture.Clear();
    reader->Read();
    EXPECT_EQ(reader->Ancillary10().matrixCount, -12);
    EXPECT_EQ(reader->Ancillary10().matrices->count, 0);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc10) + ": " + kNegative});
}

TEST(SupplementalAttitude, BinarySamplesDecodeLittleEndian) {
    SupplementalRecipe recipe;
    recipe.attitude = {{2008, 12, 31, 23, 59, 59.95, {0.25, -0.5, 0.75, -1.0}, {1.5f, -0.1f, 3.0e-7f}},
                     {2006, 240, 200, 130, 255, 0.0, {1, 2, 3, 4}, {0, 0, 0}}};
    SupplementalProduct product(WithSupplemental(recipe));
    // The writer's first sample begins with the bytes D8 07 0C 1F 17 3B.
    const uint64_t start = SupplementalFileLayout().ancillaryOffset[12] + 226;
    EXPECT_EQ(BytesAt(product.path(), start, 6), "\xD8\x07\x0C\x1F\x17\x3B");

    auto reader = product.Open();
    reader->Read();
    const AlosjSupplementalFileAncillary12& anc12 = reader->Ancillary12();
    EXPECT_EQ(anc12.sampleCount, 2);
    ASSERT_NE(anc12.samples, nullptr);
    ASSERT_EQ(anc12.samples->count, 2);
    const AlosjAttitudeEntry& first = anc12.samples->entries[0];
    ExpectTime(first.time, 2008, 12, 31, 23, 59, 59.95);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(first.quaternion[k], recipe.attitude[0].quaternion[k]);
    // The 4-byte values are singles, widened exactly.
    for (int m = 0; m < 3; ++m) EXPECT_EQ(first.auxValue[m], static_cast<double>(recipe.attitude[0].auxValues[m]));
    // Time bytes are unsigned.
    ExpectTime(anc12.samples->entries[1].time, 2006, 240, 200, 130, 255, 0.0);
}

TEST(SupplementalAttitude, SampleCountsAreCheckedAgainstTheRecord) {
    SupplementalRecipe recipe;
    recipe.declaredSampleCount = 99999;
    SupplementalProduct product(WithSupplemental(recipe));
    auto reader = product.Open();
    ReportCapture capture;
    reader->Read();
    // Samples of 72 bytes from position 227, 69 of them read, in 4370000 bytes.
    EXPECT_EQ(reader->Ancillary12().samples->count, (4370000 - (227 + 68)) / 72 + 1);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc12) + ": " + kCut});

    testing_support::PatchFile(product.path(), SupplementalFileLayout().ancillaryOffset[12] + 75, "  -40");
    capture.Clear();
    reader->Read();
    EXPECT_EQ(reader->Ancillary12().sampleCount, -40);
    EXPECT_EQ(reader->Ancillary12().samples->count, 0);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc12) + ": " + kNegative});
}

TEST(SupplementalFileRead, TablesFillingTheirRecordsDecodeTheirLastEntries) {
    // Only the part of a record up to its last declared entry is read: the
    // last entry that fits each record carries its own date.
    SupplementalRecipe recipe;
    recipe.secondBlock.dataLineOffset = 5;
    recipe.secondBlock.declaredLineCount = 2000;
    recipe.declaredMatrixCount = 9999999;
    recipe.declaredSampleCount = 99999;
    SupplementalProduct product(WithSupplemental(recipe));
    const auto& offsets = SupplementalFileLayout().ancillaryOffset;
    const int32_t lines = (529000 - (264476 + 833 + 170 * 5 + 168)) / 170 + 1;
    const int32_t matrices = (698000 - (423 + 462)) / 464 + 1;
    const int32_t samples = (4370000 - (227 + 68)) / 72 + 1;
    testing_support::PatchFile(product.path(), static_cast<long>(offsets[8]) + 264476 + 833 + 170 * (5 + lines - 1) - 1, "  20070102");
    testing_support::PatchFile(product.path(), static_cast<long>(offsets[10]) + 423 + 464 * (matrices - 1) - 1, "  20080304");
    testing_support::PatchFile(product.path(), static_cast<long>(offsets[12]) + 227 + 72 * (samples - 1) - 1, std::string("\xD9\x07\x05", 3));
    auto reader = product.Open();
    reader->Read();
    const auto* vectors = reader->Ancillary8().secondBlock.samples;
    const auto* pairs = reader->Ancillary10().matrices;
    const auto* attitude = reader->Ancillary12().samples;
    ASSERT_TRUE(vectors && pairs && attitude);
    ASSERT_EQ(vectors->count, lines);
    ASSERT_EQ(pairs->count, matrices);
    ASSERT_EQ(attitude->count, samples);
    EXPECT_EQ(vectors->entries[lines - 1].time->year, 2007);
    EXPECT_EQ(vectors->entries[lines - 1].time->day, 2);
    EXPECT_EQ(pairs->entries[matrices - 1].time->year, 2008);
    EXPECT_EQ(pairs->entries[matrices - 1].time->month, 3);
    EXPECT_EQ(attitude->entries[samples - 1].time->year, 2009);
    EXPECT_EQ(attitude->entries[samples - 1].time->month, 5);
}

TEST(SupplementalFileRead, SecondReadRebuildsEveryTable) {
    SupplementalProduct product;
    auto reader = product.Open();
    reader->Read();
    const SupplementalRecipe recipe;
    EXPECT_DOUBLE_EQ(reader->Ancillary8().secondBlock.samples->entries[0].stateVector[0],
                     recipe.secondBlock.lines[0].values[0]);
    // Change a value and the counts in the file: the second Read must show them.
    const SupplementalLayout layout = SupplementalFileLayout();
    const uint64_t secondBlock = layout.ancillaryOffset[8] + 264476;
    const uint64_t firstLine = secondBlock + 832 + 170 * recipe.secondBlock.dataLineOffset;
    testing_support::PatchFile(product.path(), firstLine + 25, "  4.2500000000000000E+02");
    testing_support::PatchFile(product.path(), secondBlock + 532, "         1");
    testing_support::PatchFile(product.path(), layout.ancillaryOffset[12] + 75, "    1");
    ReportCapture capture;
    reader->Read();
    EXPECT_TRUE(capture.reports().empty());
    ASSERT_EQ(reader->Ancillary8().secondBlock.samples->count, 1);
    EXPECT_DOUBLE_EQ(reader->Ancillary8().secondBlock.samples->entries[0].stateVector[0], 425.0);
    EXPECT_EQ(reader->Ancillary12().samples->count, 1);
    EXPECT_EQ(reader->Ancillary10().matrices->count, static_cast<int32_t>(recipe.matrices.size()));
    ASSERT_NE(reader->Ancillary10().referenceEntry, nullptr);
    EXPECT_NE(reader->Ancillary10().referenceEntry->time, nullptr);
    EXPECT_TRUE(product.Leftovers().empty());
}

TEST(SupplementalFileRead, ReadersOnTwoThreadsAtOnceEachGetTheirOwnFilesValues) {
    // The records are read into a buffer kept between reads; two readers at
    // once must never see each other's bytes.
    SupplementalProduct first;
    SupplementalProduct second;
    const uint64_t firstLine = SupplementalFileLayout().ancillaryOffset[8] + 264476 + 832 +
                               170 * SupplementalRecipe().secondBlock.dataLineOffset;
    testing_support::PatchFile(second.path(), firstLine + 25, "  4.2500000000000000E+02");
    const double expected[2] = {SupplementalRecipe().secondBlock.lines[0].values[0], 425.0};
    std::unique_ptr<CeosAlosjSupplementalFile> readers[2] = {first.Open(), second.Open()};
    std::atomic<int> wrong{0};
    auto readOften = [&](int k) {
        for (int pass = 0; pass < 12; ++pass) {
            readers[k]->Read();
            const auto* samples = readers[k]->Ancillary8().secondBlock.samples;
            if (!samples || samples->count < 1 || samples->entries[0].stateVector[0] != expected[k]) ++wrong;
        }
    };
    std::thread other(readOften, 1);
    readOften(0);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(SupplementalFileRead, FileTooShortForAncillary12) {
    SupplementalProduct product;
    testing_support::TruncateFile(product.path(),
                                  static_cast<long>(SupplementalFileLayout().ancillaryOffset[12] + 1000));
    auto reader = product.Open();
    ReportCapture capture;
    EXPECT_EQ(reader->Read(), 0);
    // Ancillary 12, then ancillary 13 under the same name; both wrap the host's report.
    EXPECT_EQ(capture.Summary(),
              (std::vector<std::string>{std::string(kAnc12) + ": tfio_ReadDirect failure",
                                        std::string(kAnc12) + ": tfio_ReadDirect failure"}));
    for (const auto& report : capture.reports()) {
        ASSERT_EQ(report.size(), 2u);
        EXPECT_EQ(report[1].operation, "tfio_ReadDirect");
    }
    EXPECT_EQ(reader->Ancillary12().samples, nullptr);
    EXPECT_NE(reader->Ancillary10().matrices, nullptr);
    EXPECT_EQ(reader->Ancillary13().setId, -1);
    // A failed read creates no temporary file.
    EXPECT_TRUE(product.Leftovers().empty());
}

TEST(SupplementalFileRead, UnopenedFileReportsEveryRecordAndStillReturnsZero) {
    SupplementalProduct product;
    CeosAlosjSupplementalFile reader(product.files().volume.c_str(), product.files().fileIds.back().c_str());
    ReportCapture capture;
    EXPECT_EQ(reader.Read(), 0);
    EXPECT_EQ(capture.Summary(),
              (std::vector<std::string>{"CeosAlosjFileDescriptor::Read: tfio_ReadDirect failure",
                                        "AlosjSupplementalFileFileDescriptor::Read: tfio_ReadDirect failure",
                                        std::string(kAnc8) + ": tfio_ReadDirect failure",
                                        std::string(kAnc10) + ": tfio_ReadDirect failure",
                                        std::string(kAnc12) + ": tfio_ReadDirect failure",
                                        std::string(kAnc12) + ": tfio_ReadDirect failure"}));
    EXPECT_EQ(reader.Ancillary8().firstBlock.samples, nullptr);
    EXPECT_EQ(reader.Ancillary10().referenceEntry, nullptr);
}

TEST(SupplementalFileRead, FailedReadKeepsTheTablesOfTheReadBefore) {
    SupplementalProduct product;
    auto reader = product.Open();
    reader->Read();
    const auto* before = reader->Ancillary12().samples;
    ASSERT_NE(before, nullptr);
    const int32_t count = before->count;
    testing_support::TruncateFile(product.path(),
                                  static_cast<long>(SupplementalFileLayout().ancillaryOffset[12] + 10));
    ReportCapture capture;
    reader->Read();
    ASSERT_EQ(reader->Ancillary12().samples, before);
    EXPECT_EQ(reader->Ancillary12().samples->count, count);
    EXPECT_EQ(reader->Ancillary13().setId, SupplementalRecipe().setId);
}

// The keyword block.

TEST(SupplementalKeywordBlock, SetFoundOnTheHundredthLineButNotTheHundredAndFirst) {
    const SupplementalRecipe recipe;
    for (int fillers : {99, 100}) {
        SupplementalProduct product;
        std::vector<std::string> lines(static_cast<size_t>(fillers), "Comment = \"filler\"");
        const std::vector<std::string> block = SensorAlignmentLines(recipe);
        lines.insert(lines.end(), block.begin() + 2, block.end());  // from the Set_ID line on
        product.RewriteAncillary13(lines);
        auto reader = product.Open();
        ReportCapture capture;
        reader->Read();
        EXPECT_TRUE(capture.reports().empty());
        if (fillers == 99) {
            EXPECT_EQ(reader->Ancillary13().setId, recipe.setId);
            EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[2][1], recipe.sensorMatrix[2][1]);
        } else {
            EXPECT_EQ(reader->Ancillary13().setId, -1);
            EXPECT_EQ(reader->Ancillary13().matrix[2][1], 0.0);
        }
        EXPECT_TRUE(product.Leftovers().empty());
    }
}

TEST(SupplementalKeywordBlock, NoSetLineKeepsTheMatrixAndResetsTheSet) {
    SupplementalProduct product;
    auto reader = product.Open();
    reader->Read();
    const SupplementalRecipe recipe;
    ASSERT_DOUBLE_EQ(reader->Ancillary13().matrix[0][0], recipe.sensorMatrix[0][0]);
    product.RewriteAncillary13({"Set = \"2\"", "ID2_an11 = \"5.0\""});
    reader->Read();
    EXPECT_EQ(reader->Ancillary13().setId, -1);
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[0][0], recipe.sensorMatrix[0][0]);
}

TEST(SupplementalKeywordBlock, SetKeyIsExactWhileMatrixKeysIgnoreCase) {
    SupplementalRecipe recipe;
    std::vector<std::string> lines = SensorAlignmentLines(recipe);
    lines[2] = "set_id = \"7\"";                 // not the set key
    lines.insert(lines.begin() + 3, "Set_ID = \"1\"");
    lines[6] = "id1_AN11 = \"0.5\"";            // the first matrix line
    SupplementalProduct product(WithSupplemental(recipe));
    product.RewriteAncillary13(lines);
    auto reader = product.Open();
    reader->Read();
    EXPECT_EQ(reader->Ancillary13().setId, 1);
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[0][0], 0.5);
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[1][0], recipe.sensorMatrix[1][0]);
}

TEST(SupplementalKeywordBlock, MatrixFillsColumnAfterColumn) {
    SupplementalRecipe recipe;
    SupplementalProduct product(WithSupplemental(recipe));
    // Lines 3 and 4 of the nine: an31 fills [2][0], an12 fills [0][1].
    product.RewriteAncillary13(
        {"Set_ID = \"1\"", "skipped", "skipped", "ID1_an11 = \"11\"", "ID1_an21 = \"21\"",
         "ID1_an31 = \"31\"", "ID1_an12 = \"12\"", "ID1_an22 = \"22\"", "ID1_an32 = \"32\"",
         "ID1_an13 = \"13\"", "ID1_an23 = \"23\"", "ID1_an33 = \"33\""});
    auto reader = product.Open();
    reader->Read();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(reader->Ancillary13().matrix[r][c], 10.0 * (r + 1) + (c + 1));
}

TEST(SupplementalKeywordBlock, OnlyTheFirstEightKeyCharactersAreCompared) {
    SupplementalProduct product;
    // Set 12: "ID12_an1" is all that is compared, so the column digit of the
    // first row's keys is not checked, while another row digit still differs.
    product.RewriteAncillary13({"Set_ID = \"12\"", "a", "b", "ID12_an13 = \"1.5\"", "ID12_an31 = \"2.5\"",
                                "ID12_an31 = \"3.5\""});
    auto reader = product.Open();
    reader->Read();
    EXPECT_EQ(reader->Ancillary13().setId, 12);
    EXPECT_EQ(reader->Ancillary13().matrix[0][0], 1.5);
    EXPECT_EQ(reader->Ancillary13().matrix[1][0], 0.0);
    EXPECT_EQ(reader->Ancillary13().matrix[2][0], 3.5);
}

TEST(SupplementalKeywordBlock, MismatchingLineConsumesItsElement) {
    SupplementalRecipe recipe;
    // Block: 0 comment, 1 sets, 2 Set_ID, 3-4 skipped, 5.. the nine lines.
    SupplementalProduct product(WithSupplemental(recipe));
    product.RewriteAncillary13(AlignmentLinesWith(recipe, 5 + 3, "ID9_an12 = \"99\""));
    auto reader = product.Open();
    reader->Read();
    EXPECT_EQ(reader->Ancillary13().matrix[0][1], 0.0);  // never filled
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[1][1], recipe.sensorMatrix[1][1]);
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[2][0], recipe.sensorMatrix[2][0]);
}

TEST(SupplementalKeywordBlock, SetLineWithoutBlanks) {
    SupplementalProduct product;
    product.RewriteAncillary13({"Set_ID=X3", "a", "b", "ID3_an11=X2.5", "ID3_an21 =  \"-4E-3\""});
    auto reader = product.Open();
    reader->Read();
    EXPECT_EQ(reader->Ancillary13().setId, 3);
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[0][0], 2.5);
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[1][0], -4e-3);
}

TEST(SupplementalKeywordBlock, LinesWithoutValuesAreNotMatches) {
    SupplementalProduct product;
    auto reader = product.Open();
    reader->Read();  // the writer's matrix first
    const SupplementalRecipe recipe;
    product.RewriteAncillary13({"Set_ID =", "Set_ID = X", "x", "y", "ID0_an11 =", "", "ID0_an31 = \"",
                                "ID0_an12 = \"8\""});
    ReportCapture capture;
    reader->Read();
    EXPECT_TRUE(capture.reports().empty());
    // "Set_ID =" has no value; "X" leaves nothing after its first character.
    EXPECT_EQ(reader->Ancillary13().setId, 0);
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[0][0], recipe.sensorMatrix[0][0]);  // no value
    EXPECT_DOUBLE_EQ(reader->Ancillary13().matrix[1][0], recipe.sensorMatrix[1][0]);  // no token
    EXPECT_EQ(reader->Ancillary13().matrix[2][0], 0.0);  // nothing after the quote
    EXPECT_EQ(reader->Ancillary13().matrix[0][1], 8.0);
}

TEST(SupplementalKeywordBlock, LongLinesAreReadAs127CharacterPieces) {
    SupplementalProduct product;
    product.RewriteAncillary13({std::string(127, 'x') + "Set_ID = \"4\"", "a", "b", "ID4_an11 = \"1.25\""});
    auto reader = product.Open();
    reader->Read();
    EXPECT_EQ(reader->Ancillary13().setId, 4);
    EXPECT_EQ(reader->Ancillary13().matrix[0][0], 1.25);
}

TEST(SupplementalKeywordBlock, UnusableTemporaryDirectoryIsReported) {
    SupplementalProduct product;
    auto reader = product.Open();
    testing_support::SetEnv("TMPDIR", (product.tmp() + "/missing").c_str());
    ReportCapture capture;
    reader->Read();
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc12) + ": tfio_OPen failed."});
    // The parse never started: the set keeps its initial value.
    EXPECT_EQ(reader->Ancillary13().setId, -1);
    EXPECT_TRUE(product.Leftovers().empty());
}

#ifndef _WIN32
TEST(SupplementalKeywordBlock, FailedCopyIsStillDeleted) {
    SupplementalProduct product;
    auto reader = product.Open();
    // Files may grow to 1000 bytes only: writing the 63000-byte copy fails.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ReportCapture capture;
    reader->Read();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{std::string(kAnc12) + ": tfio_WriteDirect failed"});
    EXPECT_EQ(reader->Ancillary13().setId, -1);
    EXPECT_TRUE(product.Leftovers().empty());
}
#endif
