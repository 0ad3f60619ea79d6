#include "host/tfio.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/HostFileSystem.h"
#include "host/platform.h"
#include "host/tmsc.h"

CeosAlosjFile::~CeosAlosjFile() = default;
CeosAlosjFileSystem::~CeosAlosjFileSystem() = default;

std::unique_ptr<CeosAlosjWritableFile> CeosAlosjFileSystem::CreateTemporary(const std::string&,
                                                                            const std::string&,
                                                                            std::string*, std::string* error) {
    if (error) *error = "its file system makes no temporary files";
    return nullptr;
}

bool CeosAlosjFileSystem::Remove(const std::string&, std::string* error) {
    if (error) *error = "its file system is read-only";
    return false;
}

namespace {

// The file systems hosts mounted, by prefix.
class MountTable {
public:
    void Mount(const std::string& prefix, std::shared_ptr<CeosAlosjFileSystem> fileSystem) {
        std::lock_guard<std::mutex> lock(mutex_);
        mounts_.erase(std::remove_if(mounts_.begin(), mounts_.end(),
                                     [&](const Entry& m) { return m.prefix == prefix; }),
                      mounts_.end());
        if (fileSystem) mounts_.push_back({prefix, std::move(fileSystem)});
    }
    /// The file system of the longest mounted prefix of name, or null.
    std::shared_ptr<CeosAlosjFileSystem> Find(const char* name) {
        std::lock_guard<std::mutex> lock(mutex_);
        const Entry* best = nullptr;
        for (const Entry& m : mounts_)
            if (std::strncmp(name, m.prefix.c_str(), m.prefix.size()) == 0 &&
                (!best || m.prefix.size() > best->prefix.size()))
                best = &m;
        return best ? best->fileSystem : nullptr;
    }

private:
    struct Entry {
        std::string prefix;
        std::shared_ptr<CeosAlosjFileSystem> fileSystem;
    };
    std::mutex mutex_;
    std::vector<Entry> mounts_;
};

MountTable& Mounts() {
    static MountTable table;
    return table;
}

struct OpenFile {
    std::unique_ptr<CeosAlosjFile> mounted;  // when a mounted file system opened it
    CeosAlosjWritableFile* mountedWritable = nullptr;  // mounted, when it made a temporary file
    host_platform::NativeFile native = 0;
    std::string name;
    bool writable = false;
    int64_t linePosition = 0;  // where tfio_Fgets goes on
    int64_t knownSize = -1;    // size last seen, for reads that would run past the end
};

// Handles are ids into this table, never addresses: a closed or made-up
// handle is simply not found, so using it cannot touch freed memory.
class HandleTable {
public:
    Tfio_File Add(std::unique_ptr<OpenFile> file) {
        std::lock_guard<std::mutex> lock(mutex_);
        uintptr_t id = ++lastId_;
        files_[id] = std::move(file);
        return reinterpret_cast<Tfio_File>(id);
    }
    // The file stays owned by the table; a handle must not be closed while
    // another thread uses it.
    OpenFile* Find(Tfio_File handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = files_.find(reinterpret_cast<uintptr_t>(handle));
        return it == files_.end() ? nullptr : it->second.get();
    }
    std::unique_ptr<OpenFile> Remove(Tfio_File handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = files_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == files_.end()) return nullptr;
        std::unique_ptr<OpenFile> file = std::move(it->second);
        files_.erase(it);
        return file;
    }

private:
    std::mutex mutex_;
    uintptr_t lastId_ = 0;
    std::unordered_map<uintptr_t, std::unique_ptr<OpenFile>> files_;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

void Report(Terr_ErrorReport* report, const char* operation, long line,
            const std::string& message) {
    if (report) *report = terr_CreateErrorReport(operation, line, 2, nullptr, message.c_str(), 0);
}

int64_t ReadAt(OpenFile& file, int64_t offset, void* buffer, int64_t count, std::string* error) {
    if (file.mounted) return file.mounted->ReadAt(offset, buffer, count, error);
    return host_platform::ReadAt(file.native, offset, buffer, count, error);
}

int64_t SizeOf(OpenFile& file, std::string* error) {
    if (file.mounted) return file.mounted->Size(error);
    return host_platform::Size(file.native, error);
}

OpenFile* FindOrReport(Tfio_File handle, const char* operation, Terr_ErrorReport* report) {
    OpenFile* file = handle ? Handles().Find(handle) : nullptr;
    if (!file) Report(report, operation, __LINE__, handle ? "file handle is closed" : "no file handle");
    return file;
}

bool WildcardMatch(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') {
        for (const char* rest = name;; ++rest) {
            if (WildcardMatch(pattern + 1, rest)) return true;
            if (*rest == '\0') return false;
        }
    }
    if (*name == '\0') return false;
    if (*pattern != '?' && std::tolower(static_cast<unsigned char>(*pattern)) !=
                               std::tolower(static_cast<unsigned char>(*name)))
        return false;
    return WildcardMatch(pattern + 1, name + 1);
}

}  // namespace

Tfio_File tfio_Open(const char* name, const char* mode, Terr_ErrorReport* report) {
    if (!name || !mode) {
        Report(report, "tfio_Open", __LINE__, "no file name or mode");
        return nullptr;
    }
    auto file = std::make_unique<OpenFile>();
    file->name = name;
    std::string error;
    bool opened;
    const std::shared_ptr<CeosAlosjFileSystem> mounted = Mounts().Find(name);
    if (mode[0] == 'r') {
        if (mounted) {
            file->mounted = mounted->OpenRead(name, &error);
            opened = file->mounted != nullptr;
        } else {
            opened = host_platform::OpenRead(name, &file->native, &error);
        }
        if (opened) file->knownSize = SizeOf(*file, nullptr);
    } else if (mode[0] == 'w' && mounted) {
        Report(report, "tfio_Open", __LINE__, std::string("cannot write ") + name + ": its file system is read-only");
        return nullptr;
    } else if (mode[0] == 'w') {
        file->writable = true;
        opened = host_platform::OpenWriteTruncate(name, &file->native, &error);
    } else {
        Report(report, "tfio_Open", __LINE__, std::string("unsupported mode ") + mode);
        return nullptr;
    }
    if (!opened) {
        Report(report, "tfio_Open", __LINE__, std::string("cannot open ") + name + ": " + error);
        return nullptr;
    }
    return Handles().Add(std::move(file));
}

void tfio_Close(Tfio_File handle, Terr_ErrorReport* report) {
    std::unique_ptr<OpenFile> file = handle ? Handles().Remove(handle) : nullptr;
    if (!file) {
        Report(report, "tfio_Close", __LINE__, handle ? "file handle is closed" : "no file handle");
        return;
    }
    std::string error;
    if (!file->mounted && !host_platform::Close(file->native, &error))
        Report(report, "tfio_Close", __LINE__, "cannot close " + file->name + ": " + error);
}

namespace {

// Reads the bytes at offset into the pieces in turn, exactly their total;
// failures are reported under operation.
int64_t ReadPieces(Tfio_File handle, int64_t offset, const Tfio_Piece* pieces, size_t pieceCount,
                   const char* operation, Terr_ErrorReport* report) {
    OpenFile* file = FindOrReport(handle, operation, report);
    if (!file) return -1;
    int64_t count = 0;
    bool valid = offset >= 0;
    for (size_t k = 0; k < pieceCount; ++k) {
        valid = valid && pieces[k].count >= 0 && (pieces[k].buffer || pieces[k].count == 0) &&
                count <= std::numeric_limits<int64_t>::max() - pieces[k].count;
        if (!valid) {
            count = pieces[k].count;  // the offending piece names the read
            break;
        }
        count += pieces[k].count;
    }
    if (!valid) {
        Report(report, operation, __LINE__,
               "invalid read of " + std::to_string(count) + " bytes at offset " + std::to_string(offset) + " in " +
                   file->name);
        return -1;
    }
    std::string error;
    auto shortRead = [&](int64_t available) {
        Report(report, operation, __LINE__,
               "short read: " + std::to_string(available) + " of " + std::to_string(count) +
                   " bytes at offset " + std::to_string(offset) + " in " + file->name);
        return int64_t{-1};
    };
    // A read that would run past the end fails before it touches the buffer,
    // so that the caller's bytes stay as they were.  The size is looked up
    // again first, in case the file has grown.
    if (file->knownSize >= 0 && count > file->knownSize - offset) {
        file->knownSize = SizeOf(*file, &error);
        if (file->knownSize >= 0 && count > file->knownSize - offset)
            return shortRead(std::max<int64_t>(0, file->knownSize - offset));
    }
    int64_t got = 0;
    if (pieceCount == 1) {
        got = ReadAt(*file, offset, pieces[0].buffer, pieces[0].count, &error);
    } else if (!file->mounted) {
        got = host_platform::ReadScatteredAt(file->native, offset, pieces, pieceCount, &error);
    } else {
        for (size_t k = 0; k < pieceCount && got >= 0; ++k) {
            const int64_t piece = file->mounted->ReadAt(offset + got, pieces[k].buffer, pieces[k].count, &error);
            got = piece < 0 ? -1 : got + piece;
            if (piece >= 0 && piece < pieces[k].count) break;
        }
    }
    if (got < 0) {
        Report(report, operation, __LINE__, "cannot read " + file->name + ": " + error);
        return -1;
    }
    if (got < count) return shortRead(got);
    return count;
}

}  // namespace

long tfio_ReadDirect(Tfio_File handle, int64_t offset, void* buffer, long count,
                     Terr_ErrorReport* report) {
    const Tfio_Piece piece{buffer, count};
    return static_cast<long>(ReadPieces(handle, offset, &piece, 1, "tfio_ReadDirect", report));
}

int64_t tfio_ReadScattered(Tfio_File handle, int64_t offset, const Tfio_Piece* pieces, long count,
                           Terr_ErrorReport* report) {
    if (count < 0 || (!pieces && count > 0)) {
        Report(report, "tfio_ReadScattered", __LINE__, "invalid pieces");
        return -1;
    }
    return ReadPieces(handle, offset, pieces, static_cast<size_t>(count), "tfio_ReadScattered", report);
}

long tfio_FileWriteDirect(Tfio_File handle, int64_t offset, const void* buffer, long count,
                          long items, Terr_ErrorReport* report) {
    OpenFile* file = FindOrReport(handle, "tfio_FileWriteDirect", report);
    if (!file) return -1;
    if (!file->writable || (file->mounted && !file->mountedWritable) || offset < 0 || count < 0 ||
        items < 0 || (!buffer && count > 0)) {
        Report(report, "tfio_FileWriteDirect", __LINE__, "invalid write to " + file->name);
        return -1;
    }
    int64_t total = static_cast<int64_t>(count) * items;
    std::string error;
    int64_t written = file->mountedWritable
                          ? file->mountedWritable->WriteAt(offset, buffer, total, &error)
                          : host_platform::WriteAt(file->native, offset, buffer, total, &error);
    if (written != total) {
        Report(report, "tfio_FileWriteDirect", __LINE__, "cannot write " + file->name + ": " + error);
        return -1;
    }
    return static_cast<long>(written);
}

char* tfio_Fgets(char* buffer, int size, Tfio_File handle, Terr_ErrorReport* report) {
    OpenFile* file = FindOrReport(handle, "tfio_Fgets", report);
    if (!file) return nullptr;
    if (!buffer || size < 2) {
        Report(report, "tfio_Fgets", __LINE__, "no room for a line");
        return nullptr;
    }
    int length = 0;
    char chunk[256];
    std::string error;
    while (length < size - 1) {
        int64_t want = std::min<int64_t>(sizeof chunk, size - 1 - length);
        int64_t got = ReadAt(*file, file->linePosition, chunk, want, &error);
        if (got < 0) {
            Report(report, "tfio_Fgets", __LINE__, "cannot read " + file->name + ": " + error);
            return nullptr;
        }
        if (got == 0) break;
        const void* newline = std::memchr(chunk, '\n', static_cast<size_t>(got));
        int64_t take = newline ? static_cast<const char*>(newline) - chunk + 1 : got;
        std::memcpy(buffer + length, chunk, static_cast<size_t>(take));
        length += static_cast<int>(take);
        file->linePosition += take;
        if (newline) break;
    }
    if (length == 0) {
        Report(report, "tfio_Fgets", __LINE__, "end of file " + file->name);
        return nullptr;
    }
    buffer[length] = '\0';
    return buffer;
}

int64_t tfio_FileSize(Tfio_File handle, Terr_ErrorReport* report) {
    OpenFile* file = FindOrReport(handle, "tfio_FileSize", report);
    if (!file) return -1;
    std::string error;
    int64_t size = SizeOf(*file, &error);
    if (size < 0) Report(report, "tfio_FileSize", __LINE__, "cannot stat " + file->name + ": " + error);
    return size;
}

int tfio_FileExists(const char* name, Terr_ErrorReport* report) {
    if (name) {
        const std::shared_ptr<CeosAlosjFileSystem> mounted = Mounts().Find(name);
        if (mounted ? mounted->IsFile(name) : host_platform::Exists(name)) return 1;
    }
    Report(report, "tfio_FileExists", __LINE__,
           std::string("no such file: ") + (name ? name : "(null)"));
    return 0;
}

void tfio_FileUnlink(const char* name, Terr_ErrorReport* report) {
    std::string error;
    const std::shared_ptr<CeosAlosjFileSystem> mounted = name ? Mounts().Find(name) : nullptr;
    if (!name || !(mounted ? mounted->Remove(name, &error) : host_platform::Unlink(name, &error)))
        Report(report, "tfio_FileUnlink", __LINE__,
               std::string("cannot delete ") + (name ? name : "(null)") + ": " + error);
}

Tfio_File tfio_CreateTempInTmpdir(const char* prefix, char** name, Terr_ErrorReport* report) {
    if (name) *name = nullptr;
    auto file = std::make_unique<OpenFile>();
    file->writable = true;
    std::string error;
    // A TMPDIR under a mounted prefix leaves the file to that file system.
    std::string directory;
    if (const char* tmpdir = std::getenv("TMPDIR")) directory = tmpdir;
    while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\'))
        directory.pop_back();
    const std::shared_ptr<CeosAlosjFileSystem> mounted =
        directory.empty() ? nullptr : Mounts().Find((directory + "/").c_str());
    bool created = false;
    if (name && mounted) {
        std::unique_ptr<CeosAlosjWritableFile> made =
            mounted->CreateTemporary(directory, prefix ? prefix : "", &file->name, &error);
        created = made != nullptr;
        file->mountedWritable = made.get();
        file->mounted = std::move(made);
    } else if (name) {
        created = host_platform::CreateTemp(prefix ? prefix : "", &file->name, &file->native, &error);
    }
    if (!created) {
        Report(report, "tfio_CreateTempInTmpdir", __LINE__, "cannot create a temporary file: " + error);
        return nullptr;
    }
    *name = static_cast<char*>(tmsc_HeapMalloc(file->name.size() + 1));
    if (!*name) {
        if (mounted) {
            file->mounted.reset();
            mounted->Remove(file->name, &error);
        } else {
            host_platform::Close(file->native, nullptr);
            host_platform::Unlink(file->name.c_str(), nullptr);
        }
        Report(report, "tfio_CreateTempInTmpdir", __LINE__, "out of memory");
        return nullptr;
    }
    std::memcpy(*name, file->name.c_str(), file->name.size() + 1);
    return Handles().Add(std::move(file));
}

Tfio_FileList* tfio_FindFilesInPath(const char* directory, const char* pattern) {
    std::vector<std::string> names;
    if (!directory || !pattern) return nullptr;
    const std::shared_ptr<CeosAlosjFileSystem> mounted = Mounts().Find(directory);
    if (mounted ? !mounted->ListFiles(directory, &names) : !host_platform::ListFiles(directory, &names))
        return nullptr;
    std::vector<std::string> paths;
    for (const std::string& name : names)
        if (WildcardMatch(pattern, name.c_str()))
            paths.push_back(host_platform::Join(directory, name));
    std::sort(paths.begin(), paths.end());

    // One block: the list, the pointer array, then the strings.
    size_t bytes = sizeof(Tfio_FileList) + paths.size() * sizeof(char*);
    for (const std::string& path : paths) bytes += path.size() + 1;
    auto* block = static_cast<char*>(tmsc_HeapMalloc(bytes));
    if (!block) return nullptr;
    auto* list = reinterpret_cast<Tfio_FileList*>(block);
    list->count = static_cast<long>(paths.size());
    list->names = reinterpret_cast<char**>(block + sizeof(Tfio_FileList));
    char* text = block + sizeof(Tfio_FileList) + paths.size() * sizeof(char*);
    for (size_t i = 0; i < paths.size(); ++i) {
        std::memcpy(text, paths[i].c_str(), paths[i].size() + 1);
        list->names[i] = text;
        text += paths[i].size() + 1;
    }
    return list;
}

void CeosAlosjMountFileSystem(const std::string& prefix, std::shared_ptr<CeosAlosjFileSystem> fileSystem) {
    Mounts().Mount(prefix, std::move(fileSystem));
}
