// What the subcommands that write rasters share on top of GDAL.
#pragma once

#include <string>

#include <gdal_priv.h>

namespace alosj {

/// Registers GDAL's drivers, keeps GDAL's own messages off stderr (the
/// subcommands put the last one into their failure messages) and bounds
/// GDAL's block cache.
class GdalSession {
public:
    GdalSession();
    ~GdalSession();
    GdalSession(const GdalSession&) = delete;
    GdalSession& operator=(const GdalSession&) = delete;

    /// GDAL's last error message, or "unknown error".
    static std::string LastError();
};

/// A dataset handle closed on scope exit.
struct GdalDatasetCloser {
    void operator()(GDALDataset* dataset) const {
        if (dataset) GDALClose(dataset);
    }
};

/// A file that is removed when the object goes unless kept.
class OutputFile {
public:
    explicit OutputFile(std::string path) : path_(std::move(path)) {}
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    const std::string& path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

/// Gives the finished file `finished` the name `output`.  Without `replace`,
/// only when no file has that name, not even one made there meanwhile: the
/// failure names the output and says that `command` replaces files only
/// with --overwrite.
void PublishOutput(const std::string& finished, const std::string& output, bool replace, const std::string& command);

/// A new empty file beside `near` with a name nobody else has, created
/// exclusively so that no other process can slip in its place.
std::string CreateUniqueFileBeside(const std::string& near, const std::string& suffix);

}  // namespace alosj
