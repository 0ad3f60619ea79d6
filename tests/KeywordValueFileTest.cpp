// The toolkit's keyword file reader.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "TestSupport.h"
#include "host/TeskarLog.h"
#include "host/tkmd_KeywordValueFile.h"

using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

std::map<std::string, std::string> Parsed(const std::string& text) {
    std::map<std::string, std::string> values;
    tkmd::KeywordValueFile::Parse(text, &values);
    return values;
}

}  // namespace

TEST(KeywordValueParse, KeysAndValuesWithOrWithoutBlanksAndQuotes) {
    const auto values = Parsed(
        "Spaced = value one\n"
        "Tight=2\n"
        "Quoted = \"TrueNorth\"\n"
        "Padded = \"  inner blanks kept \"  \n"
        "\tTabbed\t=\tx\t\n"
        "Empty =\n"
        "Equals = a=b\n"
        "Lone = \"\n");
    const std::map<std::string, std::string> expected = {
        {"Spaced", "value one"}, {"Tight", "2"},     {"Quoted", "TrueNorth"},
        {"Padded", "  inner blanks kept "}, {"Tabbed", "x"}, {"Empty", ""},
        {"Equals", "a=b"},       {"Lone", "\""},
    };
    EXPECT_EQ(values, expected);
}

TEST(KeywordValueParse, CommentsBlankLinesAndStrayTextAreSkipped) {
    const auto values = Parsed(
        "\xEF\xBB\xBF# heading comment\r\n"
        "\r\n"
        "   # indented comment = not a key\r\n"
        "just some words\r\n"
        "= no key\r\n"
        "Key = \"v\"\r\n"
        "Last=no line end");
    const std::map<std::string, std::string> expected = {{"Key", "v"}, {"Last", "no line end"}};
    EXPECT_EQ(values, expected);
}

TEST(KeywordValueParse, LaterValueWinsAndKeysKeepTheirCase) {
    const auto values = Parsed("Key=1\nkey=2\nKey=3\n");
    EXPECT_EQ(values.at("Key"), "3");
    EXPECT_EQ(values.at("key"), "2");
}

TEST(KeywordValueFileIo, OpenReadAndLookUp) {
    TempDir dir;
    ceoswriter::WriteTextFile(dir.File("k.txt"), "A = \"1\"\nB=two\n");
    tkmd::KeywordValueFile file;
    file.Open(dir.File("k.txt"));
    EXPECT_TRUE(file.IsOpen());
    ReportCapture capture;
    EXPECT_TRUE(file.Read());
    EXPECT_FALSE(file.IsOpen());  // Read consumes the file
    EXPECT_TRUE(file.HaveKey("A"));
    EXPECT_FALSE(file.HaveKey("a"));
    EXPECT_EQ(file.GetStringValue("B"), "two");
    EXPECT_EQ(file.GetStringValue("C"), "");
    EXPECT_TRUE(capture.reports().empty());
    EXPECT_FALSE(file.Close());  // nothing left to close
}

TEST(KeywordValueFileIo, OpenFailureThrowsAndReadWithoutFileIsReported) {
    TempDir dir;
    tkmd::KeywordValueFile file;
    EXPECT_THROW(file.Open(dir.File("missing.txt")), TeskarLog::Exception);
    EXPECT_FALSE(file.IsOpen());
    ReportCapture capture;
    EXPECT_FALSE(file.Read());
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{"tkmd::KeywordValueFile::Read: no file open"});
}

TEST(KeywordValueFileIo, SecondReadReplacesTheKeys) {
    TempDir dir;
    ceoswriter::WriteTextFile(dir.File("k.txt"), "A=1\nB=2\n");
    tkmd::KeywordValueFile file;
    file.Open(dir.File("k.txt"));
    file.Read();
    ceoswriter::WriteTextFile(dir.File("k.txt"), "B=3\n");
    file.Open(dir.File("k.txt"));
    file.Read();
    EXPECT_FALSE(file.HaveKey("A"));
    EXPECT_EQ(file.GetStringValue("B"), "3");
}

TEST(KeywordValueFileIo, OversizedFileIsNotReadAndKeepsTheKeys) {
    TempDir dir;
    ceoswriter::WriteTextFile(dir.File("k.txt"), "A=1\n");
    tkmd::KeywordValueFile file;
    file.Open(dir.File("k.txt"));
    file.Read();
    {
        ceoswriter::FileWriter big(dir.File("big.txt"));
        big.Write(0, "B=2\n", 4);
        big.Resize(tkmd::KeywordValueFile::kMaxFileSize + 1);
    }
    file.Open(dir.File("big.txt"));
    ReportCapture capture;
    EXPECT_FALSE(file.Read());
    EXPECT_EQ(capture.Summary(), std::vector<std::string>{"tkmd::KeywordValueFile::Read: keyword file too large"});
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetStringValue("A"), "1");
    EXPECT_FALSE(file.HaveKey("B"));
}

TEST(KeywordValueFileIo, CopiesTakeKeysButNotTheOpenFile) {
    TempDir dir;
    ceoswriter::WriteTextFile(dir.File("k.txt"), "A=1\n");
    ceoswriter::WriteTextFile(dir.File("l.txt"), "L=9\n");
    tkmd::KeywordValueFile read;
    read.Open(dir.File("k.txt"));
    read.Read();
    tkmd::KeywordValueFile open;
    open.Open(dir.File("l.txt"));

    tkmd::KeywordValueFile copy(open);
    EXPECT_FALSE(copy.IsOpen());
    EXPECT_TRUE(open.IsOpen());
    copy = read;
    EXPECT_EQ(copy.GetStringValue("A"), "1");
    EXPECT_EQ(copy.Path(), dir.File("k.txt"));
    // The original still reads its own file.
    EXPECT_TRUE(open.Read());
    EXPECT_EQ(open.GetStringValue("L"), "9");
}
