// The fuzzing infrastructure itself: how inputs are split into members, the
// in-memory scratch directory and its checks, and whether the generated seeds
// have the shapes the targets read (a seed that no longer reaches its reader would
// leave a target fuzzing nothing but the refusal path).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "files/CeosAlosjImageFile.h"
#include "files/CeosAlosjVolumeDirFile.h"
#include "fuzz/FuzzInputs.h"
#include "fuzz/FuzzSupport.h"
#include "host/tfio.h"
#include "host/tmsc.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& data, size_t maxMembers) {
    return fuzzinputs::SplitMembers(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                    maxMembers);
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A file's bytes as the library reads them (through tfio, so through the
// file system mounted on its name); "missing" when it cannot open it.
std::string ReadThroughLibrary(const std::string& path) {
    Terr_ErrorReport report = nullptr;
    Tfio_File file = tfio_Open(path.c_str(), "r", &report);
    if (!file) {
        terr_DeleteErrorReportEx(&report);
        return "missing";
    }
    std::string bytes(static_cast<size_t>(std::max<int64_t>(0, tfio_FileSize(file, &report))), '?');
    if (!bytes.empty() &&
        tfio_ReadDirect(file, 0, &bytes[0], static_cast<long>(bytes.size()), &report) < 0)
        bytes = "unreadable";
    tfio_Close(file, &report);
    terr_DeleteErrorReportEx(&report);
    return bytes;
}

std::vector<fs::path> Seeds(const std::string& target) {
    std::vector<fs::path> seeds;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(CEOSALOSJ_SEED_DIR) / target))
        seeds.push_back(entry.path());
    return seeds;
}

}  // namespace

TEST(FuzzMembers, SplitUndoesJoinWithEmptyMembersKept) {
    const std::vector<std::string> members = {"VOL bytes", "", "LED\nbytes",
                                              std::string("\0\xff", 2), ""};
    const std::string joined = fuzzinputs::JoinMembers(members);
    EXPECT_EQ(Split(joined, 10), members);
    EXPECT_EQ(Split("", 3), std::vector<std::string>{""});
}

TEST(FuzzMembers, TheLastMemberKeepsTheRestWhenThereAreTooMany) {
    const std::string joined = fuzzinputs::JoinMembers({"a", "b", "c", "d"});
    const std::vector<std::string> two = Split(joined, 2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0], "a");
    EXPECT_EQ(two[1], fuzzinputs::JoinMembers({"b", "c", "d"}));
    // A separator cut short is no separator.
    const std::string cut = "a" + std::string(fuzzinputs::kMemberSeparator, 5);
    EXPECT_EQ(Split(cut, 4), std::vector<std::string>{cut});
}

TEST(FuzzScratch, OnlyPlainNamesDirectlyInsideTheScratchDirectoryAreWritten) {
    fuzzsupport::Setup();
    const std::string dir = fuzzsupport::ScratchDirectory();
    EXPECT_EQ(fuzzsupport::ScratchName(dir + "/LED-X"), "LED-X");
    EXPECT_EQ(fuzzsupport::ScratchName(dir + "/IMG-0/-X"),
              "");  // a designator '/' names a subdirectory
    EXPECT_EQ(fuzzsupport::ScratchName(dir + "/.."), "");
    EXPECT_EQ(fuzzsupport::ScratchName(dir + "/"), "");
    EXPECT_EQ(fuzzsupport::ScratchName(dir + "x/LED-X"), "");
    EXPECT_EQ(fuzzsupport::ScratchName("/etc/passwd"), "");
    EXPECT_EQ(fuzzsupport::ScratchName(""), "");
}

TEST(FuzzScratch, ScratchFilesHoldHolesAndGoAway) {
    fuzzsupport::Setup();
    std::string path;
    {
        fuzzsupport::ScratchFile file("holes", "abcd", 4);
        path = file.path();
        EXPECT_EQ(path.rfind(fuzzsupport::kMemoryPrefix, 0), 0u);
        file.WriteAt(6, "z", 1);
        file.WriteAt(1, "X", 1);
        EXPECT_EQ(ReadThroughLibrary(path), std::string("aXcd\0\0z", 7));
        file.Resize(3);
        EXPECT_EQ(ReadThroughLibrary(path), "aXc");
        // What a shrink cut off does not come back when the file grows.
        file.Resize(5);
        EXPECT_EQ(ReadThroughLibrary(path), std::string("aXc\0\0", 5));
        file.WriteAt(uint64_t{1} << 33, "end", 3);
        Terr_ErrorReport report = nullptr;
        Tfio_File handle = tfio_Open(path.c_str(), "r", &report);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(tfio_FileSize(handle, &report), (int64_t{1} << 33) + 3);
        char tail[6] = {};
        EXPECT_EQ(tfio_ReadDirect(handle, (int64_t{1} << 33) - 3, tail, 6, &report), 6);
        EXPECT_EQ(std::string(tail, 6), std::string("\0\0\0end", 6));
        tfio_Close(handle, &report);
        EXPECT_EQ(report, nullptr);
    }
    EXPECT_EQ(ReadThroughLibrary(path), "missing");
    EXPECT_EQ(tfio_FileExists(path.c_str(), nullptr), 0);
}

TEST(FuzzScratch, SharedFilesAreListedReadAndReplacedLikeRealOnes) {
    fuzzsupport::Setup();
    const std::string dir = fuzzsupport::ScratchDirectory() + "/shared";
    const auto bytes = std::make_shared<const std::string>("pristine");
    fuzzsupport::ShareFile(dir + "/LED-A", bytes);
    fuzzsupport::ShareFile(dir + "/IMG-A", bytes);
    fuzzsupport::ShareFile(dir + "/deeper/IMG-B", bytes);
    fuzzsupport::ShareFile(dir + "x/IMG-C", bytes);

    Tfio_FileList* list = tfio_FindFilesInPath(dir.c_str(), "*img-*");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 1);
    EXPECT_EQ(std::string(list->names[0]), dir + "/IMG-A");
    tmsc_HeapFree(list);

    // A file replaced while open keeps, for that handle, what it held.
    Terr_ErrorReport report = nullptr;
    Tfio_File open = tfio_Open((dir + "/LED-A").c_str(), "r", &report);
    ASSERT_NE(open, nullptr);
    fuzzsupport::WriteFile(dir + "/LED-A", "new", 3);
    char held[8] = {};
    EXPECT_EQ(tfio_ReadDirect(open, 0, held, 8, &report), 8);
    EXPECT_EQ(std::string(held, 8), "pristine");
    EXPECT_EQ(tfio_ReadDirect(open, 1, held, 8, &report), -1);  // past the end
    terr_DeleteErrorReportEx(&report);
    tfio_Close(open, &report);
    EXPECT_EQ(ReadThroughLibrary(dir + "/LED-A"), "new");
    EXPECT_EQ(*bytes, "pristine");

    fuzzsupport::RemoveFiles(dir);
    EXPECT_EQ(ReadThroughLibrary(dir + "/IMG-A"), "missing");
    EXPECT_EQ(ReadThroughLibrary(dir + "/deeper/IMG-B"), "missing");
    EXPECT_EQ(ReadThroughLibrary(dir + "x/IMG-C"), "pristine");
    fuzzsupport::RemoveFiles(dir + "x");
}

TEST(FuzzScratch, RecordedFileIdIsTakenFromTheDescriptorOrFallsBack) {
    std::string file(48, ' ');
    file += "ALPSM_N1LED     ";
    file += "rest";
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    EXPECT_EQ(fuzzsupport::RecordedFileId(bytes, file.size(), "fallback"), "ALPSM_N1LED     ");
    EXPECT_EQ(fuzzsupport::RecordedFileId(bytes, 63, "fallback"), "fallback");
}

TEST(FuzzScratchDeathTest, LibraryTemporaryFileLeftBehindIsAFinding) {
    fuzzsupport::Setup();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char* name = nullptr;
    Terr_ErrorReport report = nullptr;
    Tfio_File handle = tfio_CreateTempInTmpdir("alos_", &name, &report);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(tfio_FileWriteDirect(handle, 2, "line\n", 5, 1, &report), 5);
    tfio_Close(handle, &report);
    EXPECT_EQ(report, nullptr);
    // The library's temporary files land in the fuzz targets' own TMPDIR,
    // in memory, and read back as written.
    EXPECT_EQ(std::string(name).rfind(fuzzsupport::kMemoryPrefix, 0), 0u);
    EXPECT_EQ(fs::path(name).parent_path().filename(), "tmp");
    EXPECT_EQ(ReadThroughLibrary(name), std::string("\0\0line\n", 7));
    EXPECT_DEATH(fuzzsupport::CheckNoTemporaryFilesLeft(), "removes its temporary files");
    tfio_FileUnlink(name, &report);
    EXPECT_EQ(report, nullptr);
    EXPECT_EQ(ReadThroughLibrary(name), "missing");
    tfio_FileUnlink(name, &report);  // twice is a failure
    EXPECT_NE(report, nullptr);
    terr_DeleteErrorReportEx(&report);
    tmsc_HeapFree(name);
    fuzzsupport::CheckNoTemporaryFilesLeft();  // and does not abort once it is gone
}

TEST(FuzzScratchDeathTest, UnterminatedTextIsAFinding) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char terminated[4] = {'a', 'b', '\0', 'x'};
    EXPECT_EQ(fuzzsupport::CheckedLength(terminated), 2u);
    const char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_DEATH(fuzzsupport::CheckedLength(unterminated), "ends inside its member");
}

TEST(FuzzSeeds, EveryTargetHasSeeds) {
    for (const fs::directory_entry& source : fs::directory_iterator(CEOSALOSJ_FUZZ_SOURCE_DIR)) {
        const std::string name = source.path().stem().string();
        if (name.rfind("fuzz_", 0) != 0) continue;
        EXPECT_FALSE(Seeds(name.substr(5)).empty()) << name;
    }
}

TEST(FuzzSeeds, WellFormedVolumeDirectorySeedsAreIdentified) {
    fuzzsupport::Setup();
    int identified = 0;
    for (const char* seed : {"prism-1b1-n", "avnir2-1a", "prism-1b2-n", "lower-case-name"}) {
        const std::string bytes = ReadWhole(fs::path(CEOSALOSJ_SEED_DIR) / "volume_dir" / seed);
        ASSERT_FALSE(bytes.empty()) << seed;
        fuzzsupport::ScratchFile file(fuzzinputs::VolumeFileName(static_cast<uint8_t>(bytes[0])),
                                      bytes.data() + 1, bytes.size() - 1);
        CeosAlosjVolumeDirFile volume(file.path().c_str());
        const long sensor = volume.SetFd();
        EXPECT_EQ(sensor, std::string(seed).rfind("avnir2", 0) == 0 ? 1 : 0) << seed;
        if (sensor >= 0) {
            ++identified;
            EXPECT_EQ(volume.Read(), 0);
            EXPECT_GT(volume.FileCount(), 0) << seed;
            volume.Close();
        }
    }
    EXPECT_EQ(identified, 4);
}

TEST(FuzzSeeds, ImageSeedsCarryTheirControlBytesBeforeAnImageFile) {
    fuzzsupport::Setup();
    constexpr size_t kControlBytes = 8;
    const std::string bytes =
        ReadWhole(fs::path(CEOSALOSJ_SEED_DIR) / "image" / "avnir2-1b1-file-0");
    ASSERT_GT(bytes.size(), kControlBytes + 64);
    const auto* file = reinterpret_cast<const uint8_t*>(bytes.data()) + kControlBytes;
    const size_t size = bytes.size() - kControlBytes;
    const std::string fileId = fuzzsupport::RecordedFileId(file, size, "");
    EXPECT_EQ(fileId.substr(0, 15), "ALAV2_A1IMG-BND");
    CeosAlosjImageFile image(fuzzsupport::VolumePath().c_str(), fileId.c_str());
    const std::string name = fuzzsupport::ScratchName(image.FileName());
    ASSERT_FALSE(name.empty());
    fuzzsupport::ScratchFile scratch(name, file, size);
    ASSERT_EQ(image.SetFd(), 0);
    image.Read();
    EXPECT_GT(image.Descriptor().numOfImageRecords, 0);
    EXPECT_GT(image.GetValidWidth(), 0);
    image.Close();
}

TEST(FuzzSeeds, ProductSeedsNameAKindAndAMemberOfIt) {
    for (const fs::path& seed : Seeds("product")) {
        const std::string bytes = ReadWhole(seed);
        ASSERT_GE(bytes.size(), 2u) << seed;
        const auto kind = static_cast<uint8_t>((static_cast<uint8_t>(bytes[0]) & 7) %
                                               fuzzinputs::kProductKindCount);
        const auto member = static_cast<uint8_t>(bytes[1]);
        if (member & fuzzinputs::kProductMembers) continue;
        const ceoswriter::ProductRecipe recipe = fuzzinputs::ProductOfKind(kind);
        const size_t files =
            fuzzinputs::ProductMemberPaths(ceoswriter::ProductFileNames("d", recipe)).size();
        // Seeds name members directly, never by wrapping around.
        EXPECT_LT(static_cast<size_t>(member & 0x0F), files) << seed;
    }
}
