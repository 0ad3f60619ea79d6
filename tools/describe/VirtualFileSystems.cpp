#include "tools/describe/VirtualFileSystems.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <cpl_conv.h>
#include <cpl_vsi.h>

#include "dataset/CeosAlosjDataset.h"

namespace alosjdescribe {

namespace {

// A GDAL file handle keeps one position, so reads take turns.
class GdalFile : public CeosAlosjFile {
public:
    GdalFile(VSILFILE* file, int64_t size) : file_(file), size_(size) {}
    ~GdalFile() override { VSIFCloseL(file_); }

    int64_t ReadAt(int64_t offset, void* buffer, int64_t count, std::string* error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (VSIFSeekL(file_, static_cast<vsi_l_offset>(offset), SEEK_SET) != 0) {
            if (error) *error = "cannot seek to " + std::to_string(offset);
            return -1;
        }
        const size_t got = VSIFReadL(buffer, 1, static_cast<size_t>(count), file_);
        if (got < static_cast<size_t>(count) && !VSIFEofL(file_)) {
            if (error) *error = "read failed";
            return -1;
        }
        return static_cast<int64_t>(got);
    }

    int64_t Size(std::string*) override { return size_; }

private:
    std::mutex mutex_;
    VSILFILE* file_;
    int64_t size_;
};

class GdalFileSystem : public CeosAlosjFileSystem {
public:
    std::unique_ptr<CeosAlosjFile> OpenRead(const std::string& name, std::string* error) override {
        VSIStatBufL stat;
        if (VSIStatExL(name.c_str(), &stat, VSI_STAT_EXISTS_FLAG | VSI_STAT_NATURE_FLAG | VSI_STAT_SIZE_FLAG) != 0) {
            if (error) *error = "no such file";
            return nullptr;
        }
        if (VSI_ISDIR(stat.st_mode)) {
            if (error) *error = "is a directory";
            return nullptr;
        }
        VSILFILE* file = VSIFOpenL(name.c_str(), "rb");
        if (!file) {
            if (error) *error = "cannot be opened";
            return nullptr;
        }
        return std::make_unique<GdalFile>(file, static_cast<int64_t>(stat.st_size));
    }

    bool IsFile(const std::string& name) override {
        VSIStatBufL stat;
        return VSIStatExL(name.c_str(), &stat, VSI_STAT_EXISTS_FLAG | VSI_STAT_NATURE_FLAG) == 0 &&
               VSI_ISREG(stat.st_mode);
    }

    bool ListFiles(const std::string& directory, std::vector<std::string>* names) override {
        VSIDIR* dir = VSIOpenDir(directory.c_str(), 0, nullptr);
        if (!dir) return false;
        while (const VSIDIREntry* entry = VSIGetNextDirEntry(dir))
            if (!entry->bModeKnown || VSI_ISREG(entry->nMode)) names->push_back(entry->pszName);
        VSICloseDir(dir);
        return true;
    }
};

/// GDAL's options for remote reads, as set unless the user set them: a
/// connection within 10 s, a transfer that moves no byte for 10 s fails,
/// and passing server errors (429, 500, 502-504) are retried twice, after
/// a second and then longer.
constexpr std::pair<const char*, const char*> kRemoteReadDefaults[] = {
    {"GDAL_HTTP_CONNECTTIMEOUT", "10"}, {"GDAL_HTTP_LOW_SPEED_TIME", "10"}, {"GDAL_HTTP_LOW_SPEED_LIMIT", "1"},
    {"GDAL_HTTP_MAX_RETRY", "2"},       {"GDAL_HTTP_RETRY_DELAY", "1"}};

bool EndsWithNoCase(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           std::equal(ending.begin(), ending.end(), text.end() - static_cast<long>(ending.size()),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

void MountGdalVirtualFileSystems() {
    static std::once_flag once;
    std::call_once(once, [] {
        CeosAlosjMountFileSystem("/vsi", std::make_shared<GdalFileSystem>());
        // Reading a .gz (a .tar.gz too) makes GDAL save an index beside it
        // unless told not to; nothing is written beside what is read.
        if (!CPLGetConfigOption("CPL_VSIL_GZIP_WRITE_PROPERTIES", nullptr))
            CPLSetConfigOption("CPL_VSIL_GZIP_WRITE_PROPERTIES", "NO");
        // A web server or object store that stops answering is given up
        // rather than waited on for ever, and one that fails for a moment is
        // asked again; the user's own setting of an option wins.
        for (const auto& [option, value] : kRemoteReadDefaults)
            if (!CPLGetConfigOption(option, nullptr)) CPLSetConfigOption(option, value);
    });
}

std::string ArchiveDirectoryName(const std::string& path) {
    if (EndsWithNoCase(path, ".zip")) return "/vsizip/" + path;
    for (const char* ending : {".tar", ".tar.gz", ".tgz"})
        if (EndsWithNoCase(path, ending)) return "/vsitar/" + path;
    return "";
}

}  // namespace alosjdescribe
