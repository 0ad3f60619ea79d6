// alosj's exit statuses and messages: 0 success, 1 a product that cannot be
// read, 2 wrong usage; a message that names the file and the problem.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "CliSupport.h"

using cli_support::RunAlosj;
using cli_support::RunResult;
using cli_support::WriteProductIn;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(CliErrors, MissingPathNamesIt) {
    testing_support::TempDir dir;
    const std::string missing = dir.File("no-such-product");
    const RunResult run = RunAlosj({"info", missing});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "alosj: " + missing + ": no such file or directory\n");
    EXPECT_EQ(run.out, "");
}

TEST(CliErrors, DirectoryWithoutAProductSaysSo) {
    testing_support::TempDir dir;
    std::ofstream(dir.File("LED-ALPSMN038862710-O1B1__A")) << "not a product";
    const RunResult run = RunAlosj({"export", dir.path(), dir.File("out.tif")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "alosj: " + dir.path() + ": no product here")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.tif")));
}

TEST(CliErrors, DirectoryWithSeveralProductsListsThem) {
    testing_support::TempDir dir;
    ceoswriter::WriteProduct(dir.path(), ceoswriter::PrismProduct(1));
    ceoswriter::WriteProduct(dir.path(), ceoswriter::Avnir2Product(1));
    const RunResult run = RunAlosj({"quicklook", dir.path(), dir.File("look.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "several products here (VOL-ALAV2A038862710-O1B1__A, "
                                  "VOL-ALPSMN038862710-O1B1__A)"))
        << run.err;
}

TEST(CliErrors, FileThatIsNoVolumeDirectoryFileIsRefusedByName) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    const RunResult run = RunAlosj({"info", files.leader});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, files.leader + ": not a volume directory file")) << run.err;
}

TEST(CliErrors, ForeignFileWithAVolumeDirectoryNameIsNotRead) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    testing_support::WriteFileBytes(files.volume, std::vector<unsigned char>(3000, 'x'));
    const RunResult run = RunAlosj({"info", "--json", files.volume});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Contains(run.err, "alosj: " + files.volume + ": not a readable volume directory file")) << run.err;
    EXPECT_TRUE(Contains(run.err, "ceosalosj: error:")) << "the library's report goes to stderr: " << run.err;
}

TEST(CliErrors, CutLeaderFileIsNamedAndQuietHidesTheLibrarysReports) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    testing_support::TruncateFile(files.leader, 6000);  // inside the scene header record
    const RunResult loud = RunAlosj({"info", files.directory});
    EXPECT_EQ(loud.status, 1);
    EXPECT_TRUE(Contains(loud.err, "alosj: " + files.volume + ": cannot be read")) << loud.err;
    EXPECT_TRUE(Contains(loud.err, files.leader)) << loud.err;
    EXPECT_TRUE(Contains(loud.err, "ceosalosj: error:")) << loud.err;

    const RunResult quiet = RunAlosj({"--quiet", "info", files.directory});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_FALSE(Contains(quiet.err, "ceosalosj:")) << quiet.err;
    EXPECT_TRUE(Contains(quiet.err, files.leader)) << quiet.err;
    EXPECT_EQ(std::count(quiet.err.begin(), quiet.err.end(), '\n'), 1) << quiet.err;
}

TEST(CliErrors, MissingLeaderOrImageFileIsNamed) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    std::filesystem::remove(files.images[4]);
    RunResult run = RunAlosj({"info", "-q", files.volume});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, files.images[4])) << run.err;
    std::filesystem::remove(files.leader);
    run = RunAlosj({"info", "-q", files.volume});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "leader file LED-ALPSMN038862710-O1B1__A is missing")) << run.err;
}

TEST(CliErrors, WrongUsageExitsWithTwo) {
    testing_support::TempDir dir;
    const auto prism = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    const auto avnir = WriteProductIn(dir, "a", ceoswriter::Avnir2Product(1));
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate"},
        {"info"},
        {"info", prism.volume, "--bogus"},
        {"export", prism.volume},
        {"export", prism.volume, dir.File("x.tif"), "--format", "JPEG"},
        {"quicklook", prism.volume, dir.File("x.png"), "--size", "3"},
        {"info", prism.volume, "--ccd", "0"},
        {"sample", dir.File("s"), "--level", "2A"},
        {"sample", dir.File("s"), "--sensor", "palsar"},
        // An output whose name says another format, a level the compression lacks.
        {"export", prism.volume, dir.File("x.png")},
        {"quicklook", prism.volume, dir.File("x.jpg")},
        {"export", prism.volume, dir.File("x.tif"), "--level", "13"},
        {"export", prism.volume, dir.File("x.tif"), "--compress", "NONE", "--level", "3"},
        {"export", prism.volume, dir.File("x.tif"), "--compress", "LZW", "--level", "1"},
    };
    for (const auto& args : wrong) {
        const RunResult run = RunAlosj(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(run.status, 2) << joined << "\n" << run.err;
        EXPECT_FALSE(run.err.empty()) << joined;
    }
    // A CCD the product lacks, or a CCD of a product without CCD files.
    RunResult run = RunAlosj({"info", prism.volume, "--ccd", "7"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, "the product has CCDs 1 to 6")) << run.err;
    run = RunAlosj({"info", avnir.volume, "--ccd", "2"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, "--ccd applies to PRISM Level 1A and 1B1 products only")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("s")));
    for (const char* name : {"x.png", "x.jpg", "x.tif"}) EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
    // ZSTD goes up to 22.
    run = RunAlosj({"export", prism.volume, dir.File("z.tif"), "--compress", "ZSTD", "--level", "22"});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST(CliErrors, HelpAndVersionSucceed) {
    RunResult run = RunAlosj({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* command : {"info", "export", "quicklook", "sensor-model", "sample"})
        EXPECT_TRUE(Contains(run.out, command)) << command;
    for (const char* command : {"info", "export", "quicklook", "sensor-model", "sample"}) {
        run = RunAlosj({command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_TRUE(Contains(run.out, "Usage:")) << command << ": " << run.out;
    }
    // Every way of naming a product is in the help.
    run = RunAlosj({"info", "--help"});
    for (const char* way : {"VOL-ALPSM", "directory", ".zip", ".tar.gz", "/vsizip/", "/vsicurl/"})
        EXPECT_TRUE(Contains(run.out, way)) << way << ": " << run.out;
    run = RunAlosj({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("alosj ") + ALOSJ_VERSION + "\n");
}

TEST(CliErrors, OutputThatCannotBeWrittenIsNamed) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    const std::string out = dir.File("no-such-directory/out.tif");
    RunResult run = RunAlosj({"export", files.volume, out});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "alosj: " + out + ": cannot create")) << run.err;
    run = RunAlosj({"quicklook", files.volume, dir.File("no-such-directory/look.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "no-such-directory/look.png: cannot create")) << run.err;
}

// Output that cannot be written (a full disk) fails with a message instead
// of succeeding with an empty file, for every command that prints to stdout.
TEST(CliErrors, StdoutThatCannotBeWrittenFails) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    testing_support::TempDir dir;
    const std::string prism = dir.File("p");
    ASSERT_EQ(RunAlosj({"-q", "sample", prism}).status, 0);
    const std::vector<std::vector<std::string>> commands = {
        {"info", prism},
        {"info", "--json", prism},
        {"stac", prism},
        {"sensor-model", "--json", prism},
        {"sensor-model", prism},
        {"locate", prism, "--pixel", "10", "10", "--json"},
        {"--help"},
    };
    for (const auto& args : commands) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(RunAlosj(args).status, 0) << joined;
        const RunResult run = RunAlosj(args, "/dev/full");
        EXPECT_EQ(run.status, 1) << joined;
        EXPECT_TRUE(Contains(run.err, "alosj: standard output: cannot be written"))
            << joined << ": " << run.err;
    }
}

// Nothing is written among a product's files, whichever way the output's
// path reaches their directory; the directory is left as it was.
TEST(CliErrors, OutputsInsideTheProductsDirectoryAreRefused) {
    namespace fs = std::filesystem;
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "p", ceoswriter::PrismProduct(1));
    fs::create_directory_symlink(files.directory, dir.File("link"));
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(files.directory))
            names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    const std::vector<std::vector<std::string>> commands = {
        {"export", files.volume, files.directory + "/out.tif"},
        {"export", files.volume, dir.File("link/sub/out.tif")},
        {"quicklook", files.volume, dir.File("link/look.png")},
        {"stac", files.volume, "-o", files.directory + "/item.json"},
    };
    for (const auto& args : commands) {
        const RunResult run = RunAlosj(args);
        EXPECT_EQ(run.status, 2) << args[0] << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, "lies inside the product's directory")) << args[0] << ": " << run.err;
    }
    EXPECT_EQ(listing(), before);
    // Beside the product, the same commands write.
    EXPECT_EQ(RunAlosj({"export", files.volume, dir.File("out.tif")}).status, 0);
}
