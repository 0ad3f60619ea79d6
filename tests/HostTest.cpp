// The host toolkit layer: positioned I/O, report chains, strings and paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "host/HostFileSystem.h"
#include "host/tfio.h"
#include "host/tkmd.h"
#include "host/tmsc.h"
#include "host/tstr.h"

using testing_support::ReportCapture;
using testing_support::TempDir;

namespace {

std::string Operation(Terr_ErrorReport report) { return report ? terr_GetOperation(report) : ""; }

}  // namespace

TEST(HostFileIo, ReadDirectReadsExactlyTheSpanAtTheOffset) {
    TempDir dir;
    testing_support::WriteFileBytes(dir.File("f"), {'0', '1', '2', '3', '4', '5', '6', '7'});
    Terr_ErrorReport report = nullptr;
    Tfio_File file = tfio_Open(dir.File("f").c_str(), "r", &report);
    ASSERT_EQ(report, nullptr);
    char buffer[4] = {};
    EXPECT_EQ(tfio_ReadDirect(file, 5, buffer, 3, &report), 3);
    EXPECT_EQ(std::string(buffer, 3), "567");
    EXPECT_EQ(report, nullptr);
    tfio_Close(file, &report);
    EXPECT_EQ(report, nullptr);
}

TEST(HostFileIo, ShortReadIsAFailureWithAReport) {
    TempDir dir;
    testing_support::WriteFileBytes(dir.File("f"), {'a', 'b', 'c'});
    Terr_ErrorReport report = nullptr;
    Tfio_File file = tfio_Open(dir.File("f").c_str(), "r", &report);
    char buffer[8];
    EXPECT_EQ(tfio_ReadDirect(file, 1, buffer, 8, &report), -1);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(Operation(report), "tfio_ReadDirect");
    EXPECT_NE(std::string(terr_GetMessage(report)).find("short read: 2 of 8"), std::string::npos);
    terr_DeleteErrorReportEx(&report);
    EXPECT_EQ(report, nullptr);
    tfio_Close(file, &report);
}

TEST(HostFileIo, ShortReadLeavesTheBufferAsItWas) {
    TempDir dir;
    testing_support::WriteFileBytes(dir.File("f"), {'a', 'b', 'c', 'd'});
    Terr_ErrorReport report = nullptr;
    Tfio_File file = tfio_Open(dir.File("f").c_str(), "r", &report);
    char buffer[6] = {'-', '-', '-', '-', '-', '-'};
    EXPECT_EQ(tfio_ReadDirect(file, 1, buffer, 6, &report), -1);
    EXPECT_EQ(std::string(buffer, 6), "------");
    terr_DeleteErrorReportEx(&report);
    // A file that grows after it was opened is read to its new end.
    std::ofstream(dir.File("f"), std::ios::app) << "efg";
    EXPECT_EQ(tfio_ReadDirect(file, 1, buffer, 6, &report), 6);
    EXPECT_EQ(std::string(buffer, 6), "bcdefg");
    EXPECT_EQ(report, nullptr);
    tfio_Close(file, &report);
}

namespace {

// A mounted file system that serves one file from memory.
class OneFileSystem : public CeosAlosjFileSystem {
public:
    explicit OneFileSystem(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
    std::unique_ptr<CeosAlosjFile> OpenRead(const std::string&, std::string*) override {
        return std::make_unique<File>(bytes_);
    }
    bool IsFile(const std::string&) override { return true; }
    bool ListFiles(const std::string&, std::vector<std::string>*) override { return false; }

private:
    struct File : CeosAlosjFile {
        explicit File(const std::vector<unsigned char>& bytes) : bytes(bytes) {}
        int64_t ReadAt(int64_t offset, void* buffer, int64_t count, std::string*) override {
            const int64_t size = static_cast<int64_t>(bytes.size());
            const int64_t got = std::clamp<int64_t>(size - offset, 0, count);
            if (got > 0) std::memcpy(buffer, bytes.data() + offset, static_cast<size_t>(got));
            return got;
        }
        int64_t Size(std::string*) override { return static_cast<int64_t>(bytes.size()); }
        const std::vector<unsigned char>& bytes;
    };
    std::vector<unsigned char> bytes_;
};

}  // namespace

TEST(HostFileIo, ScatteredReadsFillThePiecesInTurnOnDiskAndMounted) {
    std::vector<unsigned char> bytes(6000);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<unsigned char>(k * 7 + k / 251);
    TempDir dir;
    testing_support::WriteFileBytes(dir.File("f"), bytes);
    CeosAlosjMountFileSystem("/memory/", std::make_shared<OneFileSystem>(bytes));
    for (const std::string& name : {dir.File("f"), std::string("/memory/f")}) {
        SCOPED_TRACE(name);
        Terr_ErrorReport report = nullptr;
        Tfio_File file = tfio_Open(name.c_str(), "r", &report);
        ASSERT_EQ(report, nullptr);
        // More pieces than one system call takes, of 0 to 4 bytes, from offset 9.
        std::vector<unsigned char> out(bytes.size(), 0xEE);
        std::vector<Tfio_Piece> pieces;
        long total = 0;
        for (long k = 0; total + 4 < 5000; ++k) {
            pieces.push_back({out.data() + total, k % 5});
            total += k % 5;
        }
        ASSERT_GT(pieces.size(), 2000u);
        EXPECT_EQ(tfio_ReadScattered(file, 9, pieces.data(), static_cast<long>(pieces.size()), &report), total);
        EXPECT_EQ(report, nullptr);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + total, bytes.begin() + 9));
        EXPECT_EQ(out[static_cast<size_t>(total)], 0xEE);

        // Past the end: a failure with a report, every piece untouched.
        std::fill(out.begin(), out.end(), 0xEE);
        EXPECT_EQ(tfio_ReadScattered(file, static_cast<int64_t>(bytes.size()) - total + 1, pieces.data(),
                                     static_cast<long>(pieces.size()), &report),
                  -1);
        ASSERT_NE(report, nullptr);
        EXPECT_NE(std::string(terr_GetMessage(report)).find("short read"), std::string::npos);
        terr_DeleteErrorReportEx(&report);
        EXPECT_EQ(std::count(out.begin(), out.end(), 0xEE), static_cast<long>(out.size()));
        tfio_Close(file, &report);
    }
    CeosAlosjMountFileSystem("/memory/", nullptr);
}

TEST(HostFileIo, NullAndClosedHandlesFailWithReports) {
    TempDir dir;
    testing_support::WriteFileBytes(dir.File("f"), {'a'});
    Terr_ErrorReport report = nullptr;
    Tfio_File file = tfio_Open(dir.File("f").c_str(), "r", &report);
    tfio_Close(file, &report);
    ASSERT_EQ(report, nullptr);

    char byte;
    for (Tfio_File handle : {static_cast<Tfio_File>(nullptr), file}) {
        EXPECT_EQ(tfio_ReadDirect(handle, 0, &byte, 1, &report), -1);
        EXPECT_EQ(Operation(report), "tfio_ReadDirect");
        terr_DeleteErrorReportEx(&report);
        tfio_Close(handle, &report);
        EXPECT_EQ(Operation(report), "tfio_Close");
        terr_DeleteErrorReportEx(&report);
        EXPECT_EQ(tfio_FileWriteDirect(handle, 0, &byte, 1, 1, &report), -1);
        EXPECT_NE(report, nullptr);
        terr_DeleteErrorReportEx(&report);
        char line[8];
        EXPECT_EQ(tfio_Fgets(line, sizeof line, handle, &report), nullptr);
        EXPECT_NE(report, nullptr);
        terr_DeleteErrorReportEx(&report);
    }
}

TEST(HostFileIo, OpeningAMissingFileOrADirectoryFails) {
    TempDir dir;
    Terr_ErrorReport report = nullptr;
    EXPECT_EQ(tfio_Open(dir.File("missing").c_str(), "r", &report), nullptr);
    EXPECT_EQ(Operation(report), "tfio_Open");
    terr_DeleteErrorReportEx(&report);
    EXPECT_EQ(tfio_Open(dir.path().c_str(), "r", &report), nullptr);
    EXPECT_NE(report, nullptr);
    terr_DeleteErrorReportEx(&report);
    EXPECT_EQ(tfio_FileExists(dir.File("missing").c_str(), &report), 0);
    EXPECT_NE(report, nullptr);
    terr_DeleteErrorReportEx(&report);
}

TEST(HostFileIo, WritesLandAtTheirOffsetsAndFgetsReadsLines) {
    TempDir dir;
    const std::string path = dir.File("lines");
    Terr_ErrorReport report = nullptr;
    Tfio_File out = tfio_Open(path.c_str(), "wb", &report);
    const char text[] = "first line\nsecond\n\nlast without newline";
    EXPECT_EQ(tfio_FileWriteDirect(out, 0, text, sizeof text - 1, 1, &report),
              static_cast<long>(sizeof text - 1));
    tfio_Close(out, &report);
    ASSERT_EQ(report, nullptr);

    Tfio_File in = tfio_Open(path.c_str(), "r", &report);
    char line[8];
    std::vector<std::string> lines;
    while (tfio_Fgets(line, sizeof line, in, &report)) lines.push_back(line);
    // Lines longer than the buffer come in pieces of size - 1 characters.
    EXPECT_EQ(lines, (std::vector<std::string>{"first l", "ine\n", "second\n", "\n", "last wi",
                                               "thout n", "ewline"}));
    ASSERT_NE(report, nullptr);  // the end of the file
    terr_DeleteErrorReportEx(&report);
    tfio_Close(in, &report);
}

TEST(HostFileIo, TemporaryFilesAreNewOwnerOnlyAndHonourTmpdir) {
    TempDir dir;
    const char* saved = std::getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    testing_support::SetEnv("TMPDIR", dir.path().c_str());
    Terr_ErrorReport report = nullptr;
    char* first = nullptr;
    char* second = nullptr;
    Tfio_File a = tfio_CreateTempInTmpdir("alos_", &first, &report);
    Tfio_File b = tfio_CreateTempInTmpdir("alos_", &second, &report);
    testing_support::SetEnv("TMPDIR", saved ? savedValue.c_str() : nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STRNE(first, second);
    EXPECT_EQ(std::string(first).rfind(dir.path() + "/alos_", 0), 0u);
    EXPECT_TRUE(testing_support::IsOwnerOnly(first));
    EXPECT_FALSE(testing_support::IsOwnerOnly(dir.path()));
    tfio_Close(a, &report);
    tfio_Close(b, &report);
    tfio_FileUnlink(first, &report);
    tfio_FileUnlink(second, &report);
    EXPECT_EQ(report, nullptr);
    EXPECT_FALSE(tfio_FileExists(first, &report));
    terr_DeleteErrorReportEx(&report);
    tmsc_HeapFree(first);
    tmsc_HeapFree(second);
}

TEST(HostFileIo, FindFilesMatchesPatternIgnoringCaseAndSkipsDirectories) {
    TempDir dir;
    for (const char* name : {"IMG-03-X", "img-04-X", "LED-X", "IMG-"})
        testing_support::WriteFileBytes(dir.File(name), {'x'});
    std::filesystem::create_directory(dir.File("IMG-dir"));
    Tfio_FileList* list = tfio_FindFilesInPath(dir.path().c_str(), "IMG-*");
    ASSERT_NE(list, nullptr);
    std::vector<std::string> names(list->names, list->names + list->count);
    tmsc_HeapFree(list);
    EXPECT_EQ(names, (std::vector<std::string>{dir.File("IMG-"), dir.File("IMG-03-X"),
                                               dir.File("img-04-X")}));
    EXPECT_EQ(tfio_FindFilesInPath(dir.File("nowhere").c_str(), "IMG-*"), nullptr);
}

TEST(HostReports, ChainsArePrintedOutermostFirstThroughTheHandler) {
    ReportCapture capture;
    Terr_ErrorReport inner = terr_CreateErrorReport("tfio_Open", 7, 2, nullptr, "cannot open x", 0);
    terr_ReportAndDelete("CeosAlosjBaseClass::SetFd", 12, &inner, "tfio_Open failed");
    EXPECT_EQ(inner, nullptr);
    ASSERT_EQ(capture.reports().size(), 1u);
    const auto& chain = capture.reports()[0];
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0].operation, "CeosAlosjBaseClass::SetFd");
    EXPECT_EQ(chain[0].message, "tfio_Open failed");
    EXPECT_EQ(chain[1].operation, "tfio_Open");

    Terr_ErrorReport silent = terr_CreateErrorReport("tfio_Close", 1, 2, nullptr, "x", 0);
    terr_DiscardReport("CeosAlosjBaseClass::Close", 1, &silent, "tfio_Close failed");
    EXPECT_EQ(silent, nullptr);
    EXPECT_EQ(capture.reports().size(), 1u);
}

TEST(HostReports, DefaultPrintingWritesOneLinePerReportToStderr) {
    testing::internal::CaptureStderr();
    Terr_ErrorReport inner = terr_CreateErrorReport("tfio_ReadDirect", 3, 2, nullptr, "short read", 0);
    terr_ReportAndDelete("ImageFileImageLine::ReadLine", 9, &inner, "tfio_ReadDirect failure");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "ceosalosj: error: ImageFileImageLine::ReadLine: tfio_ReadDirect failure (library source line 9); "
              "caused by tfio_ReadDirect: short read (library source line 3)\n");
}

TEST(HostStrings, IntegerTextSaturatesAndStopsAtTheFieldEnd) {
    EXPECT_EQ(tkmd_Strntol("xx  -42yy", 2, 5), -42);
    EXPECT_EQ(tkmd_Strntol("123456", 0, 3), 123);
    EXPECT_EQ(tkmd_Strntol("        ", 0, 8), 0);
    EXPECT_EQ(tkmd_Strntol("99999999999999999999999", 0, 23), LONG_MAX);
    EXPECT_EQ(tkmd_Strntol("-99999999999999999999999", 0, 24), LONG_MIN);
}

TEST(HostStrings, RealTextIsLocaleIndependentAndBounded) {
    EXPECT_DOUBLE_EQ(tstr_StringToD("  -1.5E+03", 0, 10), -1500.0);
    EXPECT_DOUBLE_EQ(tstr_StringToD("X12.25", 1, 5), 12.25);
    EXPECT_DOUBLE_EQ(tstr_StringToD("12.25", 0, 3), 12.0);  // only 3 characters are looked at
    EXPECT_DOUBLE_EQ(tstr_StringToD("0.5D2", 0, 5), 50.0);
    EXPECT_DOUBLE_EQ(tstr_StringToD("", 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(tstr_StringToD("7", 1, 0), 0.0);  // an empty value after one character
    EXPECT_EQ(tstr_StringToL("5", 1, 0), 0);
    EXPECT_EQ(tstr_StringToL("X3", 1, 1), 3);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        EXPECT_DOUBLE_EQ(tstr_StringToD("2.5", 0, 3), 2.5);
        std::setlocale(LC_NUMERIC, "C");
    }
}

TEST(HostStrings, ComparisonsIgnoreCase) {
    EXPECT_TRUE(tstr_Eqic("CEOS-PSM-CCT", "ceos-psm-cct"));
    EXPECT_FALSE(tstr_Eqic("CEOS-PSM-CCT", "CEOS-PSM-CC"));
    EXPECT_TRUE(tstr_Eqnic("IMG-03-X", "img-03", 6));
    EXPECT_FALSE(tstr_Eqnic("IMG-0", "IMG-03", 6));
    EXPECT_NE(tstr_SubStringic("/d/vol-alpsm-x", "VOL-ALPSM"), nullptr);
    EXPECT_EQ(tstr_SubStringic("/d/VOL-ALAV2", "VOL-ALPSM"), nullptr);
}

TEST(HostStrings, SprintfCutsToItsBufferAndReports) {
    char buffer[4];
    Terr_ErrorReport report = nullptr;
    tstr_Sprintf(buffer, sizeof buffer, "%s", &report, "LEADER");
    EXPECT_STREQ(buffer, "LEA");
    EXPECT_NE(report, nullptr);
    terr_DeleteErrorReportEx(&report);
    char* heap = tstr_Sprintf(nullptr, 0, "Layer_%i", &report, 12);
    EXPECT_STREQ(heap, "Layer_12");
    EXPECT_EQ(report, nullptr);
    tmsc_HeapFree(heap);
}

TEST(HostStrings, StringListsGrowAndCount) {
    Terr_ErrorReport report = nullptr;
    Tstr_StringList* list = nullptr;
    for (const char* name : {"Layer_1", "Layer_2", "Layer_3"})
        list = tstr_StringListAppend(list, name, &report);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 3);
    EXPECT_STREQ(list->strings[2], "Layer_3");
    tstr_StringListFree(list);
}

TEST(HostPaths, DirectoryAndNameParts) {
    char out[64];
    EXPECT_EQ(tstr_GetPathPart("/data/p1/VOL-ALPSM-X", out, sizeof out), 9u);
    EXPECT_STREQ(out, "/data/p1/");
    EXPECT_EQ(tstr_GetPathPart("VOL-ALPSM-X", out, sizeof out), 0u);
    EXPECT_STREQ(out, "");
    tstr_GetNamePart("/data/p1/VOL-ALPSM-X", out, sizeof out);
    EXPECT_STREQ(out, "VOL-ALPSM-X");
    // A part longer than the buffer is cut, never written past it.
    char small[4];
    EXPECT_EQ(tstr_GetPathPart("/data/p1/VOL", small, sizeof small), 9u);
    EXPECT_STREQ(small, "/da");

    for (auto [path, dir] : std::vector<std::pair<const char*, const char*>>{
             {"/data/p1/VOL-X", "/data/p1"}, {"VOL-X", "."}, {"/VOL-X", "/"}}) {
        char* part = tfnp_FileNameGetPathPart(path);
        EXPECT_STREQ(part, dir) << path;
        tmsc_HeapFree(part);
    }
    char* name = tfnp_FileNameGetNamePart("/a/b/IMG-03-X");
    EXPECT_STREQ(name, "IMG-03-X");
    tmsc_HeapFree(name);
}

TEST(HostPaths, ExpansionReplacesHomeAndVariables) {
    testing_support::SetEnv("CEOSALOSJ_TEST_DIR", "/products");
    testing_support::SetEnv("HOME", "/home/analyst");
    char* expanded = tstr_PathExpand("${CEOSALOSJ_TEST_DIR}/p1/$CEOSALOSJ_TEST_DIR");
    EXPECT_STREQ(expanded, "/products/p1//products");
    tmsc_HeapFree(expanded);
    expanded = tstr_PathExpand("~/p1/summary.txt");
    EXPECT_STREQ(expanded, "/home/analyst/p1/summary.txt");
    tmsc_HeapFree(expanded);
    expanded = tstr_PathExpand("/a/${UNCLOSED/b");
    EXPECT_STREQ(expanded, "/a/${UNCLOSED/b");
    tmsc_HeapFree(expanded);
}

TEST(HostStrings, TokensSplitLikeStrtokR) {
    char line[] = "Set_ID = X3\n";
    char* state = nullptr;
    EXPECT_STREQ(ttxt_Text_strtok_r(line, " \n\r=", &state), "Set_ID");
    EXPECT_STREQ(ttxt_Text_strtok_r(nullptr, " \n\r=", &state), "X3");
    EXPECT_EQ(ttxt_Text_strtok_r(nullptr, " \n\r=", &state), nullptr);
    EXPECT_EQ(ttxt_Text_strtok_r(nullptr, " \n\r=", &state), nullptr);
}
