#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <vector>

#include "host/HostFileSystem.h"
#include "host/HostReport.h"

namespace fuzzsupport {

namespace {

namespace fs = std::filesystem;

const std::string kScratchDirectory = std::string(kMemoryPrefix) + "files";
const std::string kTemporaryDirectory = std::string(kMemoryPrefix) + "tmp";

unsigned long reportCount = 0;

// Set for child processes (death tests re-run the binary): the temporary
// directory the system had before TMPDIR pointed into memory.
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

// ---- The in-memory file system ---------------------------------------------

// A file: its size and the blocks placed in it, a later block lying over an
// earlier one; what no block covers reads as zeros.
struct MemoryFile {
    struct Block {
        uint64_t offset;
        SharedBytes bytes;
    };
    uint64_t size = 0;
    std::vector<Block> blocks;

    void Place(uint64_t offset, SharedBytes bytes) {
        size = std::max<uint64_t>(size, offset + bytes->size());
        if (!bytes->empty()) blocks.push_back({offset, std::move(bytes)});
    }
    void Resize(uint64_t newSize) {
        if (newSize < size) {
            std::vector<Block> kept;
            for (Block& block : blocks) {
                if (block.offset >= newSize) continue;
                if (block.offset + block.bytes->size() > newSize)
                    block.bytes = std::make_shared<const std::string>(
                        block.bytes->substr(0, static_cast<size_t>(newSize - block.offset)));
                kept.push_back(std::move(block));
            }
            blocks = std::move(kept);
        }
        size = newSize;
    }
    // Copies [offset, offset + count) into out; the range lies in the file.
    void Copy(uint64_t offset, char* out, uint64_t count) const {
        const uint64_t end = offset + count;
        // Most reads fall inside the last block that touches them.
        for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
            const uint64_t blockEnd = block->offset + block->bytes->size();
            if (block->offset >= end || blockEnd <= offset) continue;
            if (block->offset <= offset && blockEnd >= end) {
                std::memcpy(out, block->bytes->data() + (offset - block->offset), static_cast<size_t>(count));
                return;
            }
            break;
        }
        std::memset(out, 0, static_cast<size_t>(count));
        for (const Block& block : blocks) {
            const uint64_t from = std::max(offset, block.offset);
            const uint64_t to = std::min<uint64_t>(end, block.offset + block.bytes->size());
            if (from < to)
                std::memcpy(out + (from - offset), block.bytes->data() + (from - block.offset),
                            static_cast<size_t>(to - from));
        }
    }
};

// The files by full name.  One lock serialises every access: the library
// may read from several threads.
struct MemoryStore {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<MemoryFile>> files;
    unsigned long lastTemporary = 0;
};

MemoryStore& Store() {
    static MemoryStore* store = new MemoryStore;  // outlives every handle
    return *store;
}

std::shared_ptr<MemoryFile> FindFile(const std::string& name) {
    MemoryStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.files.find(name);
    return found == store.files.end() ? nullptr : found->second;
}

// The names directly in directory, in order.
std::vector<std::string> NamesIn(const std::string& directory) {
    std::vector<std::string> names;
    const std::string start = directory + "/";
    MemoryStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    for (auto it = store.files.lower_bound(start);
         it != store.files.end() && it->first.compare(0, start.size(), start) == 0; ++it) {
        const std::string name = it->first.substr(start.size());
        if (name.find('/') == std::string::npos) names.push_back(name);
    }
    return names;
}

class MemoryHandle : public CeosAlosjWritableFile {
public:
    explicit MemoryHandle(std::shared_ptr<MemoryFile> file) : file_(std::move(file)) {}
    int64_t ReadAt(int64_t offset, void* buffer, int64_t count, std::string* error) override {
        if (offset < 0 || count < 0) {
            *error = "invalid read";
            return -1;
        }
        std::lock_guard<std::mutex> lock(Store().mutex);
        const auto from = static_cast<uint64_t>(offset);
        if (from >= file_->size) return 0;
        const uint64_t got = std::min<uint64_t>(static_cast<uint64_t>(count), file_->size - from);
        file_->Copy(from, static_cast<char*>(buffer), got);
        return static_cast<int64_t>(got);
    }
    int64_t Size(std::string*) override {
        std::lock_guard<std::mutex> lock(Store().mutex);
        return static_cast<int64_t>(file_->size);
    }
    int64_t WriteAt(int64_t offset, const void* buffer, int64_t count, std::string* error) override {
        if (offset < 0 || count < 0) {
            *error = "invalid write";
            return -1;
        }
        auto bytes = std::make_shared<const std::string>(static_cast<const char*>(buffer),
                                                         static_cast<size_t>(count));
        std::lock_guard<std::mutex> lock(Store().mutex);
        file_->Place(static_cast<uint64_t>(offset), std::move(bytes));
        return count;
    }

private:
    std::shared_ptr<MemoryFile> file_;
};

class MemoryFileSystem : public CeosAlosjFileSystem {
public:
    std::unique_ptr<CeosAlosjFile> OpenRead(const std::string& name, std::string* error) override {
        std::shared_ptr<MemoryFile> file = FindFile(name);
        if (!file) {
            *error = "no such file";
            return nullptr;
        }
        return std::make_unique<MemoryHandle>(std::move(file));
    }
    bool IsFile(const std::string& name) override { return FindFile(name) != nullptr; }
    bool ListFiles(const std::string& directory, std::vector<std::string>* names) override {
        std::string plain = directory;
        while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
        const std::vector<std::string> found = NamesIn(plain);
        names->insert(names->end(), found.begin(), found.end());
        return true;
    }
    std::unique_ptr<CeosAlosjWritableFile> CreateTemporary(const std::string& directory,
                                                           const std::string& prefix,
                                                           std::string* name, std::string*) override {
        auto file = std::make_shared<MemoryFile>();
        MemoryStore& store = Store();
        std::lock_guard<std::mutex> lock(store.mutex);
        do {
            *name = directory + "/" + prefix + std::to_string(++store.lastTemporary);
        } while (store.files.count(*name));
        store.files[*name] = file;
        return std::make_unique<MemoryHandle>(std::move(file));
    }
    bool Remove(const std::string& name, std::string* error) override {
        MemoryStore& store = Store();
        std::lock_guard<std::mutex> lock(store.mutex);
        if (store.files.erase(name) == 0) {
            *error = "no such file";
            return false;
        }
        return true;
    }
};

void PutFile(const std::string& path, std::shared_ptr<MemoryFile> file) {
    Check(path.compare(0, std::strlen(kMemoryPrefix), kMemoryPrefix) == 0,
          "scratch files are written in memory");
    MemoryStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.files[path] = std::move(file);
}

// Changes the file at path under the lock; a finding when there is none.
template <typename Change>
void ChangeFile(const std::string& path, Change change) {
    MemoryStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.files.find(path);
    Check(found != store.files.end(), "a scratch file is there to change");
    change(*found->second);
}

// ---- The real directory ----------------------------------------------------

fs::path SystemTemporaryDirectory() {
    if (const char* original = std::getenv(kOriginalTmpdir)) return original;
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    Check(!error, "a temporary directory exists");
    return base;
}

std::string& RealDirectoryPath() {
    static std::string path;
    return path;
}

void RemoveRealDirectory() {
    std::error_code error;
    if (!RealDirectoryPath().empty()) fs::remove_all(RealDirectoryPath(), error);
}

}  // namespace

void Setup() {
    static const bool done = [] {
        // Kept for RealDirectory, here and in child processes.
        if (!std::getenv(kOriginalTmpdir)) SetVariable(kOriginalTmpdir, SystemTemporaryDirectory().string());
        CeosAlosjMountFileSystem(kMemoryPrefix, std::make_shared<MemoryFileSystem>());
        SetVariable("TMPDIR", kTemporaryDirectory);
        CeosAlosjSetReportHandler(&QuietHandler, nullptr, nullptr);
        return true;
    }();
    (void)done;
}

const std::string& ScratchDirectory() {
    return kScratchDirectory;
}

void ShareFile(const std::string& path, SharedBytes bytes) {
    auto file = std::make_shared<MemoryFile>();
    file->Place(0, std::move(bytes));
    PutFile(path, std::move(file));
}

void RemoveFiles(const std::string& directory) {
    const std::string start = directory + "/";
    MemoryStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto it = store.files.lower_bound(start);
    while (it != store.files.end() && it->first.compare(0, start.size(), start) == 0)
        it = store.files.erase(it);
}

const std::string& RealDirectory() {
    std::string& path = RealDirectoryPath();
    if (path.empty()) {
        const fs::path base = SystemTemporaryDirectory();
        std::random_device seed;
        std::error_code error;
        for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
            const fs::path candidate = base / ("ceosalosj-fuzz-" + std::to_string(seed()));
            if (fs::create_directory(candidate, error)) path = candidate.string();
        }
        Check(!path.empty(), "the real scratch directory can be made");
        std::atexit(RemoveRealDirectory);
    }
    return path;
}

SharedBytes ReadRealFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Check(static_cast<bool>(in), "a real file can be read");
    return std::make_shared<const std::string>(std::istreambuf_iterator<char>(in),
                                               std::istreambuf_iterator<char>());
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

void CheckNoTemporaryFilesLeft() {
    for (const std::string& name : NamesIn(kTemporaryDirectory)) {
        std::fprintf(stderr, "left behind: %s/%s\n", kTemporaryDirectory.c_str(), name.c_str());
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
    ShareFile(path, std::make_shared<const std::string>(static_cast<const char*>(data), size));
}

ScratchFile::ScratchFile(const std::string& name, const void* data, size_t size)
    : path_(ScratchDirectory() + "/" + name) {
    WriteFile(path_, data, size);
}

ScratchFile::~ScratchFile() {
    MemoryStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.files.erase(path_);
}

void ScratchFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    auto bytes = std::make_shared<const std::string>(static_cast<const char*>(data), size);
    ChangeFile(path_, [&](MemoryFile& file) { file.Place(offset, std::move(bytes)); });
}

void ScratchFile::Resize(uint64_t size) {
    ChangeFile(path_, [&](MemoryFile& file) { file.Resize(size); });
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
