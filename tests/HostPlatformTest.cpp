// What the host layer hides of the operating system: 64-bit positioned I/O
// where long has 32 bits, binary files, the temporary directory, sharing of
// open files, directory listing and the path separators.  The same cases run
// on every platform; where a platform answers differently, the expectation
// says which.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "host/tfio.h"
#include "host/tmsc.h"
#include "host/tstr.h"

using testing_support::TempDir;

namespace {

#ifdef _WIN32
constexpr bool kBackslashSeparates = true;
#else
constexpr bool kBackslashSeparates = false;
#endif

std::string Operation(Terr_ErrorReport report) { return report ? terr_GetOperation(report) : ""; }
std::string Message(Terr_ErrorReport report) { return report ? terr_GetMessage(report) : ""; }

// Sets TMPDIR for the life of the object and puts the old value back.
class TmpdirOverride {
public:
    explicit TmpdirOverride(const char* value) {
        const char* old = std::getenv("TMPDIR");
        had_ = old != nullptr;
        if (old) old_ = old;
        testing_support::SetEnv("TMPDIR", value);
    }
    ~TmpdirOverride() { testing_support::SetEnv("TMPDIR", had_ ? old_.c_str() : nullptr); }

private:
    bool had_ = false;
    std::string old_;
};

std::vector<std::string> Found(const std::string& directory, const char* pattern) {
    Tfio_FileList* list = tfio_FindFilesInPath(directory.c_str(), pattern);
    if (!list) return {"(no list)"};
    std::vector<std::string> names(list->names, list->names + list->count);
    tmsc_HeapFree(list);
    return names;
}

}  // namespace

TEST(HostLargeFiles, OffsetsBeyondFourGibibytesReachTheirOwnBytes) {
    TempDir dir;
    const std::string path = dir.File("large");
    // Bit 31 and bit 32 set: a 32-bit offset would land on `low`, a signed
    // 32-bit one would be negative.
    const int64_t low = 1000;
    const int64_t high = (int64_t{1} << 32) + (int64_t{1} << 31) + low;
    Terr_ErrorReport report = nullptr;
    Tfio_File out = tfio_Open(path.c_str(), "wb", &report);
    ASSERT_EQ(report, nullptr) << Message(report);
    EXPECT_EQ(tfio_FileWriteDirect(out, low, "low!", 4, 1, &report), 4);
    EXPECT_EQ(tfio_FileWriteDirect(out, high, "HIGH", 4, 1, &report), 4);
    EXPECT_EQ(report, nullptr) << Message(report);
    tfio_Close(out, &report);

    Tfio_File in = tfio_Open(path.c_str(), "r", &report);
    ASSERT_EQ(report, nullptr) << Message(report);
    EXPECT_EQ(tfio_FileSize(in, &report), high + 4);
    char buffer[5] = {};
    EXPECT_EQ(tfio_ReadDirect(in, low, buffer, 4, &report), 4);
    EXPECT_STREQ(buffer, "low!");
    EXPECT_EQ(tfio_ReadDirect(in, high, buffer, 4, &report), 4);
    EXPECT_STREQ(buffer, "HIGH");
    EXPECT_EQ(report, nullptr) << Message(report);
    // The gap reads as zeros, and a read past the end names the full offset.
    EXPECT_EQ(tfio_ReadDirect(in, high - 4, buffer, 4, &report), 4);
    EXPECT_EQ(std::string(buffer, 4), std::string(4, '\0'));
    EXPECT_EQ(tfio_ReadDirect(in, high + 2, buffer, 4, &report), -1);
    EXPECT_EQ(Operation(report), "tfio_ReadDirect");
    EXPECT_NE(Message(report).find("short read: 2 of 4 bytes at offset 6442451946"), std::string::npos)
        << Message(report);
    terr_DeleteErrorReportEx(&report);
    tfio_Close(in, &report);
    EXPECT_EQ(report, nullptr);
}

TEST(HostBinaryFiles, EveryByteValueAndLineEndSurvivesWriteAndRead) {
    TempDir dir;
    const std::string path = dir.File("bytes");
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
    // Text-mode traps: a CR LF pair, a lone LF, and Ctrl-Z (end of a text file).
    bytes += "one\r\ntwo\n\x1Athree\n";
    Terr_ErrorReport report = nullptr;
    Tfio_File out = tfio_Open(path.c_str(), "wb", &report);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(tfio_FileWriteDirect(out, 0, bytes.data(), static_cast<long>(bytes.size()), 1, &report),
              static_cast<long>(bytes.size()));
    tfio_Close(out, &report);
    ASSERT_EQ(report, nullptr) << Message(report);
    EXPECT_EQ(testing_support::ReadFileBytes(path),
              std::vector<unsigned char>(bytes.begin(), bytes.end()));

    Tfio_File in = tfio_Open(path.c_str(), "r", &report);
    EXPECT_EQ(tfio_FileSize(in, &report), static_cast<int64_t>(bytes.size()));
    std::string back(bytes.size(), '?');
    EXPECT_EQ(tfio_ReadDirect(in, 0, &back[0], static_cast<long>(back.size()), &report),
              static_cast<long>(bytes.size()));
    EXPECT_EQ(back, bytes);
    tfio_Close(in, &report);
    ASSERT_EQ(report, nullptr) << Message(report);

    // Lines keep their CR, and Ctrl-Z does not end the file.
    testing_support::WriteFileBytes(path, {'o', 'n', 'e', '\r', '\n', 0x1A, 't', '\n', 'x'});
    in = tfio_Open(path.c_str(), "r", &report);
    char line[16];
    std::vector<std::string> lines;
    while (tfio_Fgets(line, sizeof line, in, &report)) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one\r\n", "\x1At\n", "x"}));
    terr_DeleteErrorReportEx(&report);  // the end of the file
    tfio_Close(in, &report);
}

TEST(HostTemporaryFiles, NamesAreFreshAndFilesEmpty) {
    TempDir dir;
    TmpdirOverride tmpdir(dir.path().c_str());
    Terr_ErrorReport report = nullptr;
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        char* name = nullptr;
        Tfio_File file = tfio_CreateTempInTmpdir("alos_", &name, &report);
        ASSERT_NE(file, nullptr) << Message(report);
        EXPECT_EQ(tfio_FileSize(file, &report), 0);
        tfio_Close(file, &report);
        names.insert(name);
        tmsc_HeapFree(name);
    }
    EXPECT_EQ(report, nullptr) << Message(report);
    EXPECT_EQ(names.size(), 20u);
    // Every name is a file in the directory, and nothing else was made there.
    std::vector<std::string> found = Found(dir.path(), "alos_*");
    EXPECT_EQ(std::set<std::string>(found.begin(), found.end()), names);
    EXPECT_EQ(Found(dir.path(), "*").size(), 20u);
}

TEST(HostTemporaryFiles, DirectoryFromTmpdirWithEitherEndingElseTheSystems) {
    TempDir dir;
    Terr_ErrorReport report = nullptr;
    char* name = nullptr;
    {
        // A trailing separator is not doubled.
        TmpdirOverride tmpdir((dir.path() + "/").c_str());
        Tfio_File file = tfio_CreateTempInTmpdir("alos_", &name, &report);
        ASSERT_NE(file, nullptr) << Message(report);
        tfio_Close(file, &report);
        EXPECT_EQ(std::string(name).rfind(dir.path() + "/alos_", 0), 0u) << name;
        tfio_FileUnlink(name, &report);
        tmsc_HeapFree(name);
    }
    {
        TmpdirOverride tmpdir(nullptr);
        Tfio_File file = tfio_CreateTempInTmpdir("alos_", &name, &report);
        ASSERT_NE(file, nullptr) << Message(report);
        tfio_Close(file, &report);
        namespace fs = std::filesystem;
        fs::path system = fs::temp_directory_path();
        if (system.filename().empty()) system = system.parent_path();  // "C:\...\Temp\"
        EXPECT_EQ(fs::path(name).parent_path(), system) << name;
        char part[16];
        tstr_GetNamePart(name, part, sizeof part);
        EXPECT_EQ(std::string(part).rfind("alos_", 0), 0u) << name;
        tfio_FileUnlink(name, &report);
        tmsc_HeapFree(name);
    }
    EXPECT_EQ(report, nullptr) << Message(report);
}

TEST(HostTemporaryFiles, AMissingDirectoryFailsAtOnceWithAReport) {
    TempDir dir;
    TmpdirOverride tmpdir(dir.File("missing").c_str());
    Terr_ErrorReport report = nullptr;
    char sentinel = 0;
    char* name = &sentinel;  // must be reset
    EXPECT_EQ(tfio_CreateTempInTmpdir("alos_", &name, &report), nullptr);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(Operation(report), "tfio_CreateTempInTmpdir");
    EXPECT_NE(Message(report).find("cannot create a temporary file"), std::string::npos);
    terr_DeleteErrorReportEx(&report);
}

TEST(HostSharing, AnOpenFileCanBeDeletedAndStillRead) {
    TempDir dir;
    const std::string path = dir.File("SUP-X");
    testing_support::WriteFileBytes(path, {'s', 'u', 'p'});
    Terr_ErrorReport report = nullptr;
    Tfio_File in = tfio_Open(path.c_str(), "r", &report);
    ASSERT_NE(in, nullptr);
    // A second reader may open it meanwhile.
    Tfio_File again = tfio_Open(path.c_str(), "r", &report);
    EXPECT_NE(again, nullptr) << Message(report);
    tfio_Close(again, &report);
    tfio_FileUnlink(path.c_str(), &report);
    EXPECT_EQ(report, nullptr) << Message(report);
    char buffer[3];
    EXPECT_EQ(tfio_ReadDirect(in, 0, buffer, 3, &report), 3);
    EXPECT_EQ(std::string(buffer, 3), "sup");
    tfio_Close(in, &report);
    EXPECT_EQ(report, nullptr) << Message(report);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(HostDirectoryListing, EmptyMissingAndNonDirectories) {
    TempDir dir;
    Tfio_FileList* list = tfio_FindFilesInPath(dir.path().c_str(), "IMG-*");
    ASSERT_NE(list, nullptr);  // an empty directory is a list of none
    EXPECT_EQ(list->count, 0);
    tmsc_HeapFree(list);
    testing_support::WriteFileBytes(dir.File("IMG-01-X"), {'x'});
    EXPECT_EQ(tfio_FindFilesInPath(dir.File("IMG-01-X").c_str(), "*"), nullptr);
    EXPECT_EQ(tfio_FindFilesInPath(dir.File("missing").c_str(), "*"), nullptr);
}

TEST(HostDirectoryListing, FoundPathsKeepTheDirectorysSeparator) {
    TempDir dir;
    testing_support::WriteFileBytes(dir.File("IMG-01-X"), {'x'});
    EXPECT_EQ(Found(dir.path(), "IMG-*"), std::vector<std::string>{dir.path() + "/IMG-01-X"});
    EXPECT_EQ(Found(dir.path() + "/", "IMG-*"), std::vector<std::string>{dir.path() + "/IMG-01-X"});
    std::string backslashed = dir.path();
    for (char& c : backslashed)
        if (c == '/') c = '\\';
    // A directory written with backslashes is one on Windows, a strange name elsewhere.
    std::vector<std::string> expected = {"(no list)"};
    if (kBackslashSeparates) expected = {backslashed + "\\IMG-01-X"};
    EXPECT_EQ(Found(backslashed, "IMG-*"), expected);
}

TEST(HostPaths, BackslashSeparatesOnlyOnWindows) {
    EXPECT_EQ(tfnp_IsSeparator('\\'), kBackslashSeparates);
    EXPECT_TRUE(tfnp_IsSeparator('/'));
    char out[64];
    const char* native = "C:\\data\\p1\\VOL-ALPSM-X";
    tstr_GetPathPart(native, out, sizeof out);
    EXPECT_STREQ(out, kBackslashSeparates ? "C:\\data\\p1\\" : "");
    tstr_GetNamePart(native, out, sizeof out);
    EXPECT_STREQ(out, kBackslashSeparates ? "VOL-ALPSM-X" : native);
    // Mixed separators: the last one of either kind ends the directory.
    const char* mixed = "D:/products\\p1/x\\VOL-ALAV2-X";
    tstr_GetPathPart(mixed, out, sizeof out);
    EXPECT_STREQ(out, kBackslashSeparates ? "D:/products\\p1/x\\" : "D:/products\\p1/");
    char* directory = tfnp_FileNameGetPathPart(mixed);
    EXPECT_STREQ(directory, kBackslashSeparates ? "D:/products\\p1/x" : "D:/products\\p1");
    tmsc_HeapFree(directory);
}
