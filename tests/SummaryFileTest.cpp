// "summary.txt": finding it in a product directory, reading its map
// direction, and the one exception handler of the library.
#include <gtest/gtest.h>

#include <cfenv>
#include <filesystem>
#include <stdexcept>

#include "TestSupport.h"
#include "files/CeosAlosjSummaryFile.h"
#include "host/TerrException.h"
#include "host/TeskarLog.h"

using namespace ceoswriter;
using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

const char* const kFindAndOpen = "CeosAlosjSummaryFile::FindAndOpen";

// A PRISM Level 1B2 product whose summary.txt is written from `summary`.
ProductFiles WriteLevel2(const TempDir& dir, const SummaryRecipe& summary) {
    ProductRecipe recipe = PrismProduct(2);
    recipe.summary = summary;
    return WriteProduct(dir.path(), recipe);
}

SummaryRecipe Direction(const std::optional<std::string>& value) {
    SummaryRecipe summary;
    summary.mapDirection = value;
    return summary;
}

// Records the severity of each printed report, beside what ReportCapture keeps.
struct SeverityCapture {
    SeverityCapture() { previous = CeosAlosjSetReportHandler(&Handle, this, &previousData); }
    ~SeverityCapture() { CeosAlosjSetReportHandler(previous, previousData, nullptr); }
    static void Handle(const CeosAlosjReport* report, void* self) {
        auto* capture = static_cast<SeverityCapture*>(self);
        capture->severities.push_back(report->severity);
        capture->messages.push_back(std::string(report->operation) + ": " + report->message);
    }
    std::vector<int> severities;
    std::vector<std::string> messages;
    CeosAlosjReportHandler previous;
    void* previousData;
};

// A summary reader whose Open throws what the test asks for, after raising a
// floating-point flag as a failing host call might.
class ThrowingSummary : public CeosAlosjSummaryFile {
public:
    enum class Throw { Teskar, Standard, Other };
    explicit ThrowingSummary(Throw what) : what_(what) {}
    void Open(const std::string&) override {
        std::feraiseexcept(FE_DIVBYZERO);
        switch (what_) {
            case Throw::Teskar: throw TeskarLog::Exception("host says no", 1234);
            case Throw::Standard: throw std::runtime_error("standard failure");
            case Throw::Other: throw 42;
        }
    }

private:
    Throw what_;
};

}  // namespace

TEST(SummaryFileMapDirection, OnlyTheExactWordIsTrueNorth) {
    struct Case {
        std::optional<std::string> value;
        CeosAlosjSummaryFile::MapDirection expected;
    };
    const Case cases[] = {
        {std::string("TrueNorth"), CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH},
        {std::string("truenorth"), CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
        {std::string("TrueNorth "), CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
        {std::string("MapNorth"), CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
        {std::nullopt, CeosAlosjSummaryFile::MAP_DIRECTION_OTHER},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteLevel2(dir, Direction(c.value));
        CeosAlosjSummaryFile summary;
        ReportCapture capture;
        ASSERT_TRUE(summary.FindAndOpen(dir.path()));
        EXPECT_TRUE(summary.Read());
        EXPECT_EQ(summary.GetMapDirection(), c.expected) << c.value.value_or("(no key)");
        EXPECT_EQ(summary.HaveKey("Pds_MapDirection"), c.value.has_value());
        EXPECT_TRUE(capture.reports().empty());
    }
}

TEST(SummaryFileMapDirection, SyntaxVariantsGiveTheSameValue) {
    SummaryRecipe spaced = Direction(std::string("TrueNorth"));
    spaced.separator = " = ";
    spaced.quoteValues = false;
    spaced.lineEnd = "\r\n";
    spaced.leadingLines = {"# product summary", "", "   "};
    TempDir dir;
    WriteLevel2(dir, spaced);
    CeosAlosjSummaryFile summary;
    ASSERT_TRUE(summary.FindAndOpen(dir.path()));
    summary.Read();
    EXPECT_EQ(summary.GetStringValue("Pds_MapDirection"), "TrueNorth");
    EXPECT_EQ(summary.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH);
}

TEST(SummaryFileMapDirection, DirectionIsOtherBeforeRead) {
    TempDir dir;
    WriteLevel2(dir, Direction(std::string("TrueNorth")));
    CeosAlosjSummaryFile summary;
    EXPECT_EQ(summary.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_OTHER);
    ASSERT_TRUE(summary.FindAndOpen(dir.path()));
    EXPECT_EQ(summary.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_OTHER);
}

TEST(SummaryFileFind, OnlyDirectorySlashSummaryTxtIsFound) {
    TempDir dir;
    ProductRecipe recipe = PrismProduct(2);
    recipe.summary.reset();
    WriteProduct(dir.path(), recipe);
    std::filesystem::create_directory(dir.File("sub"));
    ceoswriter::WriteTextFile(dir.File("sub/summary.txt"), "Pds_MapDirection=\"TrueNorth\"\n");
    ceoswriter::WriteTextFile(dir.File("summary.txt.bak"), "Pds_MapDirection=\"TrueNorth\"\n");
#ifndef _WIN32  // Windows file names ignore case: there Summary.TXT is summary.txt
    ceoswriter::WriteTextFile(dir.File("Summary.TXT"), "Pds_MapDirection=\"TrueNorth\"\n");
#endif
    ReportCapture capture;
    CeosAlosjSummaryFile summary;
    EXPECT_FALSE(summary.FindAndOpen(dir.path()));
    EXPECT_FALSE(summary.IsOpen());
    EXPECT_TRUE(capture.reports().empty());
    // The subdirectory's own file is found when asked for that directory.
    EXPECT_TRUE(summary.FindAndOpen(dir.File("sub")));
}

TEST(SummaryFileFind, DirectoryVariablesAreExpanded) {
    TempDir dir;
    WriteLevel2(dir, Direction(std::string("TrueNorth")));
    testing_support::SetEnv("CEOSALOSJ_SUMMARY_DIR", dir.path().c_str());
    CeosAlosjSummaryFile summary;
    EXPECT_TRUE(summary.FindAndOpen("${CEOSALOSJ_SUMMARY_DIR}"));
    EXPECT_EQ(summary.Path(), dir.File("summary.txt"));
    testing_support::SetEnv("CEOSALOSJ_SUMMARY_DIR", nullptr);
}

TEST(SummaryFileFind, AnExceptionFromOpenIsCaughtAndLoggedOnce) {
    struct Case {
        ThrowingSummary::Throw what;
        std::string logged;
    };
    const Case cases[] = {
        {ThrowingSummary::Throw::Teskar, "host says no"},
        {ThrowingSummary::Throw::Standard, "standard failure"},
        {ThrowingSummary::Throw::Other, "unknown exception"},
    };
    TempDir dir;
    WriteLevel2(dir, Direction(std::string("TrueNorth")));
    for (const Case& c : cases) {
        ThrowingSummary summary(c.what);
        SeverityCapture capture;
        EXPECT_FALSE(summary.FindAndOpen(dir.path()));
        EXPECT_EQ(capture.messages, std::vector<std::string>{std::string(kFindAndOpen) + ": " + c.logged});
        EXPECT_EQ(capture.severities, std::vector<int>{58});
        // The handler resets the floating-point state the failure left behind.
        EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
    }
}

TEST(SummaryFileFind, ASummaryThatCannotBeOpenedIsNotFound) {
    // A directory named summary.txt exists but cannot be opened as a file:
    // the host's Open throws, and the search says no after one log entry.
    TempDir dir;
    std::filesystem::create_directory(dir.File("summary.txt"));
    ReportCapture capture;
    CeosAlosjSummaryFile summary;
    EXPECT_FALSE(summary.FindAndOpen(dir.path()));
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0].front().operation, kFindAndOpen);
    EXPECT_NE(capture.reports()[0].front().message.find("cannot open keyword file"), std::string::npos);
}

TEST(SummaryFileCopy, CopiesKeepKeysAndDirection) {
    TempDir dir;
    WriteLevel2(dir, Direction(std::string("TrueNorth")));
    CeosAlosjSummaryFile summary;
    ASSERT_TRUE(summary.FindAndOpen(dir.path()));
    summary.Read();

    CeosAlosjSummaryFile copy(summary);
    EXPECT_EQ(copy.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH);
    EXPECT_EQ(copy.Values(), summary.Values());
    EXPECT_EQ(copy.GetStringValue("Scs_SceneID"), "ALPSMN038862710");

    TempDir other;
    WriteLevel2(other, Direction(std::nullopt));
    CeosAlosjSummaryFile assigned;
    ASSERT_TRUE(assigned.FindAndOpen(other.path()));
    assigned.Read();
    ASSERT_EQ(assigned.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_OTHER);
    assigned = summary;
    EXPECT_EQ(assigned.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH);
    EXPECT_EQ(assigned.Values(), summary.Values());

    CeosAlosjSummaryFile& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.Values(), summary.Values());
    EXPECT_EQ(assigned.GetMapDirection(), CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH);
}

TEST(TerrExceptionSlot, ReportLeftInTheSlotBecomesTheLoggedCause) {
    ReportCapture capture;
    {
        TerrException logger("source", "Some::Operation");
        Terr_ErrorReport* slot = logger.GetErrorReport(1);
        *slot = terr_CreateErrorReport("tfio_Open", 1, 2, nullptr, "first", 0);
        // Asking with 1 empties the slot again.
        EXPECT_EQ(logger.GetErrorReport(1), slot);
        EXPECT_EQ(*slot, nullptr);
        *slot = terr_CreateErrorReport("tfio_Open", 2, 2, nullptr, "second", 0);
        EXPECT_NE(*logger.GetErrorReport(0), nullptr);
        logger.Log(58, "it failed");
        EXPECT_EQ(*slot, nullptr);
        // A report still in the slot at the end goes silently.
        *slot = terr_CreateErrorReport("tfio_FileExists", 3, 2, nullptr, "third", 0);
    }
    ASSERT_EQ(capture.reports().size(), 1u);
    ASSERT_EQ(capture.reports()[0].size(), 2u);
    EXPECT_EQ(capture.reports()[0][0].operation, "Some::Operation");
    EXPECT_EQ(capture.reports()[0][0].message, "it failed");
    EXPECT_EQ(capture.reports()[0][1].message, "second");
}
