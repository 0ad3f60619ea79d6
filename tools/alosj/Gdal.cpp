#include "tools/alosj/Gdal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include <cpl_error.h>
#include <unistd.h>

#include "tools/alosj/Cli.h"

namespace fs = std::filesystem;

namespace alosj {

namespace {
constexpr GIntBig kBlockCacheBytes = 64 << 20;
}

GdalSession::GdalSession() {
    GDALAllRegister();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALSetCacheMax64(kBlockCacheBytes);
}

GdalSession::~GdalSession() { CPLPopErrorHandler(); }

std::string GdalSession::LastError() {
    const char* message = CPLGetLastErrorMsg();
    return message && *message ? message : "unknown error";
}

OutputFile::~OutputFile() {
    if (kept_) return;
    std::error_code error;
    fs::remove(path_, error);
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

std::string CreateUniqueFileBeside(const std::string& near, const std::string& suffix) {
    std::random_device entropy;
    std::mt19937_64 random(entropy());
    int lastFailure = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char tag[24];
        std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(random()));
        const std::string candidate = near + ".alosj-" + tag + suffix;
        // "x": fail when the file exists, so that it is ours alone.
        if (FILE* file = std::fopen(candidate.c_str(), "wbx")) {
            std::fclose(file);
            return candidate;
        }
        lastFailure = errno;
        std::error_code error;
        if (!fs::exists(fs::path(candidate).parent_path().empty() ? fs::path(".") : fs::path(candidate).parent_path(),
                        error))
            break;
    }
    throw Failure(kExitFailure, near + ": cannot create a temporary file beside it to write into (" +
                                    std::string(std::strerror(lastFailure)) + ")");
}

}  // namespace alosj
