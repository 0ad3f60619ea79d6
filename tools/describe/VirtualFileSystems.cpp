#include "tools/describe/VirtualFileSystems.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>

#include "dataset/CeosAlosjDataset.h"

namespace alosjdescribe {

namespace {

// The messages GDAL gives while a read is under way.
struct Messages {
    std::vector<std::pair<CPLErr, std::string>> said;

    static void CPL_STDCALL Collect(CPLErr kind, CPLErrorNum, const char* text) {
        static_cast<Messages*>(CPLGetErrorHandlerUserData())->said.emplace_back(kind, text ? text : "");
    }
    /// What went wrong: the last warning or error (without GDAL's note of a
    /// retry to come), else an HTTP status of 400 or more that a debug
    /// message tells; "" when nothing did.
    std::string Problem() const {
        for (auto it = said.rbegin(); it != said.rend(); ++it)
            if (it->first >= CE_Warning) return it->second.substr(0, it->second.find(". Retrying"));
        for (auto it = said.rbegin(); it != said.rend(); ++it) {
            const size_t at = it->second.find("response_code=");
            const int code = at == std::string::npos ? 0 : std::atoi(it->second.c_str() + at + 14);
            if (code >= 400) return "HTTP error code: " + std::to_string(code);
        }
        return "";
    }
};

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
        // What GDAL says while reading (a server's HTTP error, a timeout)
        // is the reason of a read that comes back short: it is not the end
        // of the file.
        // GDAL tells a server's answer to a range request (404, 403) only
        // among its debug messages, which are heard for this read alone.
        Messages messages;
        const std::string debug = CPLGetThreadLocalConfigOption("CPL_DEBUG", "");
        const bool userDebug = CPLGetConfigOption("CPL_DEBUG", nullptr) != nullptr;
        if (!userDebug) CPLSetThreadLocalConfigOption("CPL_DEBUG", "ON");
        CPLPushErrorHandlerEx(&Messages::Collect, &messages);
        const size_t got = VSIFReadL(buffer, 1, static_cast<size_t>(count), file_);
        const bool end = VSIFEofL(file_) != 0;
        CPLPopErrorHandler();
        if (!userDebug) CPLSetThreadLocalConfigOption("CPL_DEBUG", debug.empty() ? nullptr : debug.c_str());
        for (const auto& [kind, text] : messages.said)
            if (kind == CE_Warning || (kind == CE_Debug && userDebug)) CPLError(kind, CPLE_AppDefined, "%s", text.c_str());
        const std::string problem = messages.Problem();
        if (got < static_cast<size_t>(count) && (!end || !problem.empty())) {
            if (error) *error = problem.empty() ? "read failed" : "read failed: " + problem;
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
    });
}

void SetRemoteReadDefaults() {
    for (const auto& [option, value] : kRemoteReadDefaults)
        if (!CPLGetConfigOption(option, nullptr)) CPLSetConfigOption(option, value);
}

std::string ArchiveDirectoryName(const std::string& path) {
    if (EndsWithNoCase(path, ".zip")) return "/vsizip/" + path;
    for (const char* ending : {".tar", ".tar.gz", ".tgz"})
        if (EndsWithNoCase(path, ending)) return "/vsitar/" + path;
    return "";
}

}  // namespace alosjdescribe
