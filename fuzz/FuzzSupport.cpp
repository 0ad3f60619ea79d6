#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "host/HostReport.h"

namespace fuzzsupport {

namespace {

namespace fs = std::filesystem;

struct Scratch {
    std::string files;      // where targets write their inputs
    std::string temporary;  // the library's TMPDIR
    std::string root;
};

unsigned long reportCount = 0;

constexpr const char* kOriginalTmpdir = "CEOSALOSJ_FUZZ_ORIGINAL_TMPDIR";

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Walks every entry so that a chain holding freed or unterminated text is
// caught here, inside the iteration that made it.
void QuietHandler(const CeosAlosjReport* report, void*) {
    for (const CeosAlosjReport* entry = report; entry; entry = entry->wrapped) {
        Check(entry->operation != nullptr && entry->message != nullptr,
              "report entry without text");
        Check(std::strlen(entry->operation) > 0, "report entry without operation");
        Check(entry->severity == CEOSALOSJ_SEVERITY_FAILURE || entry->severity == CEOSALOSJ_SEVERITY_WARNING,
              "report severity is a failure or a warning");
        (void)std::strlen(entry->message);
    }
    ++reportCount;
    static const bool verbose = std::getenv("CEOSALOSJ_FUZZ_VERBOSE") != nullptr;
    if (verbose) CeosAlosjPrintReportToStderr(report, nullptr);
}

void RemoveScratch();

Scratch& TheScratch() {
    static Scratch scratch = [] {
        Scratch made;
        std::error_code error;
        // A child process (a death test) inherits the TMPDIR set below: it
        // makes its own scratch directory beside its parent's, not inside.
        const char* original = std::getenv(kOriginalTmpdir);
        const fs::path base = original ? fs::path(original) : fs::temp_directory_path(error);
        Check(!error, "a temporary directory exists");
        std::random_device seed;
        for (int attempt = 0; attempt < 100 && made.root.empty(); ++attempt) {
            const fs::path candidate = base / ("ceosalosj-fuzz-" + std::to_string(seed()));
            if (fs::create_directory(candidate, error)) made.root = candidate.string();
        }
        Check(!made.root.empty(), "the scratch directory can be made");
        made.files = made.root + "/files";
        made.temporary = made.root + "/tmp";
        Check(
            fs::create_directory(made.files, error) && fs::create_directory(made.temporary, error),
            "the scratch subdirectories can be made");
        return made;
    }();
    return scratch;
}

void RemoveScratch() {
    std::error_code error;
    fs::remove_all(TheScratch().root, error);
}

}  // namespace

void Setup() {
    static const bool done = [] {
        const Scratch& scratch = TheScratch();
        std::atexit(RemoveScratch);
        if (!std::getenv(kOriginalTmpdir))
            SetVariable(kOriginalTmpdir, fs::path(scratch.root).parent_path().string());
        SetVariable("TMPDIR", scratch.temporary);
        CeosAlosjSetReportHandler(&QuietHandler, nullptr, nullptr);
        return true;
    }();
    (void)done;
}

const std::string& ScratchDirectory() {
    return TheScratch().files;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

void CheckNoTemporaryFilesLeft() {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(TheScratch().temporary, error)) {
        std::fprintf(stderr, "left behind: %s\n", entry.path().string().c_str());
        Check(false, "the library removes its temporary files");
    }
}

size_t CheckedLength(const char* text, size_t capacity) {
    const void* end = std::memchr(text, '\0', capacity);
    Check(end != nullptr, "a decoded text ends inside its member");
    return static_cast<size_t>(static_cast<const char*>(end) - text);
}

unsigned long ReportCount() {
    return reportCount;
}

void WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(static_cast<bool>(out), "the scratch file can be written");
}

ScratchFile::ScratchFile(const std::string& name, const void* data, size_t size)
    : path_(ScratchDirectory() + "/" + name) {
    WriteFile(path_, data, size);
}

ScratchFile::~ScratchFile() {
    std::remove(path_.c_str());
}

void ScratchFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(static_cast<bool>(out), "the scratch file can be extended");
}

void ScratchFile::Resize(uint64_t size) {
    std::error_code error;
    fs::resize_file(path_, size, error);
    Check(!error, "the scratch file can be resized");
}

std::string ScratchName(const std::string& path) {
    const std::string& dir = ScratchDirectory();
    if (path.size() <= dir.size() + 1 || path.compare(0, dir.size(), dir) != 0 ||
        path[dir.size()] != '/')
        return std::string();
    const std::string name = path.substr(dir.size() + 1);
    const char separators[] = {'/', '\\', '\0'};
    const bool plain = name.find_first_of(separators, 0, sizeof separators) == std::string::npos &&
                       name != "." && name != "..";
    return plain ? name : std::string();
}

std::string VolumePath() {
    return ScratchDirectory() + "/VOL-ALPSMN038862710-O1B1__A";
}

std::string RecordedFileId(const uint8_t* data, size_t size, const char* fallback) {
    constexpr size_t kIdOffset = 48;
    constexpr size_t kIdLength = 16;
    if (size < kIdOffset + kIdLength) return fallback;
    return std::string(reinterpret_cast<const char*>(data) + kIdOffset, kIdLength);
}

uint8_t InputBytes::Byte() {
    return used_ < size_ ? data_[used_++] : 0;
}

uint16_t InputBytes::Word() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
}

}  // namespace fuzzsupport
