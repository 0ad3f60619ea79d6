#include "tools/alosj/Gdal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <cpl_error.h>

#include "tools/alosj/Cli.h"

namespace fs = std::filesystem;

namespace alosj {

namespace {
constexpr GIntBig kBlockCacheBytes = 64 << 20;
const char* const kTemporaryTag = ".alosj-";
constexpr size_t kTagDigits = 16;

// The temporaries being written, for the signal handler: a slot is free
// (0), being filled (1) or holds a path (2).  Only async-signal-safe calls
// touch them from the handler.
constexpr size_t kSlots = 64;
constexpr size_t kSlotBytes = 4096;
std::atomic<int> slotState[kSlots];
char slotPath[kSlots][kSlotBytes];

/// Registers path for removal by a signal; the slot, or -1 when none is free.
int Register(const std::string& path) {
    if (path.size() + 1 > kSlotBytes) return -1;
    for (size_t i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!slotState[i].compare_exchange_strong(expected, 1)) continue;
        std::memcpy(slotPath[i], path.c_str(), path.size() + 1);
        slotState[i].store(2);
        return static_cast<int>(i);
    }
    return -1;
}

void Unregister(int slot) {
    if (slot >= 0) slotState[slot].store(0);
}

/// The slot that holds path, registering it when none does.
int Adopt(const std::string& path) {
    for (size_t i = 0; i < kSlots; ++i)
        if (slotState[i].load() == 2 && path == slotPath[i]) return static_cast<int>(i);
    return Register(path);
}

extern "C" void RemoveTemporariesAndEnd(int signal) {
    const char ovr[] = ".ovr.tmp";
    for (size_t i = 0; i < kSlots; ++i) {
        if (slotState[i].load() != 2) continue;
        ::unlink(slotPath[i]);
        char overview[kSlotBytes + sizeof ovr];
        const size_t length = std::strlen(slotPath[i]);
        std::memcpy(overview, slotPath[i], length);
        std::memcpy(overview + length, ovr, sizeof ovr);
        ::unlink(overview);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

/// Whether name holds a tag of CreateUniqueFileBeside.
bool IsTemporaryName(const std::string& name) {
    for (size_t at = name.find(kTemporaryTag); at != std::string::npos; at = name.find(kTemporaryTag, at + 1)) {
        const size_t digits = at + std::strlen(kTemporaryTag);
        if (name.size() < digits + kTagDigits) return false;
        if (std::all_of(name.begin() + static_cast<long>(digits), name.begin() + static_cast<long>(digits + kTagDigits),
                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
            return true;
    }
    return false;
}
}  // namespace

GdalSession::GdalSession() {
    GDALAllRegister();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALSetCacheMax64(kBlockCacheBytes);
}

GdalSession::~GdalSession() { CPLPopErrorHandler(); }

void RequireMetres(const OGRSpatialReference& crs, const std::string& option, const std::string& given) {
    const char* unit = nullptr;
    const double metres = crs.GetLinearUnits(&unit);
    if (std::fabs(metres - 1.0) <= 1e-9) return;
    char size[32];
    std::snprintf(size, sizeof size, "%.10g", metres);
    throw Failure(kExitUsage, option + " " + given + ": its unit is the " + (unit && *unit ? unit : "unnamed unit") +
                                  " (" + size + " m); alosj makes grids of cells in metres: give the CRS in metres "
                                  "(+units=m)");
}

std::string GdalSession::LastError() { return processing::LastGdalError(); }

OutputFile::OutputFile(std::string path) : path_(std::move(path)), slot_(Adopt(path_)) {}

OutputFile::~OutputFile() {
    // Removed before a signal stops looking for it.
    if (!kept_) {
        std::error_code error;
        fs::remove(path_, error);
    }
    Unregister(slot_);
}

void PublishOutput(const std::string& finished, const std::string& output, bool replace, const std::string& command) {
    const std::string exists = output + ": exists; " + command + " replaces a file only with --overwrite";
    std::error_code error;
    if (replace) {
        fs::rename(finished, output, error);
    } else if (::link(finished.c_str(), output.c_str()) == 0) {
        fs::remove(finished, error);
        return;
    } else if (errno == EEXIST) {
        throw Failure(kExitFailure, exists);
    } else if (!fs::exists(output, error)) {
        // A file system without hard links.
        fs::rename(finished, output, error);
    } else {
        throw Failure(kExitFailure, exists);
    }
    if (error) throw Failure(kExitFailure, output + ": cannot be written: " + error.message());
}

void PublishOutputs(const std::vector<std::pair<std::string, std::string>>& finishedAndNamed, bool replace,
                    const std::string& command) {
    size_t published = 0;
    try {
        for (; published < finishedAndNamed.size(); ++published)
            PublishOutput(finishedAndNamed[published].first, finishedAndNamed[published].second, replace, command);
    } catch (const Failure&) {
        // Without replace, the names published were nobody else's.
        std::error_code error;
        if (!replace)
            for (size_t k = 0; k < published; ++k) fs::remove(finishedAndNamed[k].second, error);
        throw;
    }
}

void RefuseNonGeoTiffName(const std::string& output, const std::string& command) {
    const std::string ending = LowerCaseEnding(output);
    if (ending != ".tif" && ending != ".tiff")
        throw Failure(kExitUsage, output + ": " + command + " writes GeoTIFF files, named .tif or .tiff");
}

void RefuseExistingOutputs(const std::vector<std::string>& outputs, bool replace, const std::string& command) {
    std::error_code error;
    for (const std::string& path : outputs)
        if (!replace && fs::exists(path, error))
            throw Failure(kExitFailure, path + ": exists; " + command + " replaces a file only with --overwrite");
}

std::string CreateUniqueFileBeside(const std::string& near, const std::string& suffix) {
    std::random_device entropy;
    std::mt19937_64 random(entropy());
    int lastFailure = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char tag[24];
        std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(random()));
        const std::string candidate = near + kTemporaryTag + tag + suffix;
        // Known to the signal handler before it exists, so that no signal
        // leaves it behind; OutputFile takes the registration over.
        const int slot = Register(candidate);
        // "x": fail when the file exists, so that it is ours alone.
        if (FILE* file = std::fopen(candidate.c_str(), "wbx")) {
            std::fclose(file);
            return candidate;
        }
        lastFailure = errno;
        Unregister(slot);
        std::error_code error;
        if (!fs::exists(fs::path(candidate).parent_path().empty() ? fs::path(".") : fs::path(candidate).parent_path(),
                        error))
            break;
    }
    throw Failure(kExitFailure, near + ": cannot create a temporary file beside it to write into (" +
                                    std::string(std::strerror(lastFailure)) + ")");
}

void WriteTextInto(const std::string& temporary, const std::string& text, const std::string& path) {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw Failure(kExitFailure, path + ": cannot be written");
}

void WriteTextFile(const std::string& path, const std::string& text, bool replace, const std::string& command) {
    OutputFile staging(CreateUniqueFileBeside(path, fs::path(path).extension().string()));
    WriteTextInto(staging.path(), text, path);
    PublishOutput(staging.path(), path, replace, command);
    staging.Keep();
}

std::string LowerCaseEnding(const std::string& path) {
    std::string ending = fs::path(path).extension().string();
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending;
}

void RemoveTemporariesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndEnd;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller had ignored (a job started with `&` without
        // job control ignores SIGINT) stays ignored.
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

void RemoveStaleTemporaries(const std::string& directory, const std::string& prefix) {
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0 && IsTemporaryName(name) && !it->is_directory(error))
            fs::remove(it->path(), error);
    }
}

void RemoveStaleTemporariesOf(const std::string& path) {
    const fs::path of(path);
    RemoveStaleTemporaries(of.parent_path().empty() ? "." : of.parent_path().string(),
                           of.filename().string() + kTemporaryTag);
}

FileLock::FileLock(const std::string& path, const std::string& holder, bool wait) : path_(path) {
    for (int silentHolders = 0;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) throw Failure(kExitFailure, path + ": cannot be made: " + std::strerror(errno));
        int locked;
        while ((locked = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const int error = errno;
            if (error != EWOULDBLOCK) {
                ::close(fd);
                throw Failure(kExitFailure, path + ": cannot be locked: " + std::strerror(error));
            }
            // The holder writes its text right after taking the lock.
            char text[4096];
            ssize_t got = 0;
            for (int attempt = 0; attempt < 200 && got <= 0; ++attempt) {
                got = ::pread(fd, text, sizeof text, 0);
                if (got <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ::close(fd);
            // A holder that says nothing only looked for a stale lock and
            // lets it go at once: try again.
            if (got <= 0 && ++silentHolders < 10) continue;
            holder_.assign(text, got > 0 ? static_cast<size_t>(got) : 0);
            return;
        }
        // The holder before us may have removed the file meanwhile: lock
        // the file that bears the name, not one that is gone.
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            fd_ = fd;
            break;
        }
        ::close(fd);
    }
    holder_ = holder;
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, holder.data(), holder.size(), 0) < 0) {
        // The text only helps another process name us in its message.
    }
    slot_ = Register(path_);
}

FileLock::~FileLock() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());
    Unregister(slot_);
    ::close(fd_);
}

}  // namespace alosj
