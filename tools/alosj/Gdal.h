// What the subcommands that write rasters share on top of GDAL.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "tools/processing/Gdal.h"

namespace alosj {

/// Refuses (a usage error naming `option` and `given`) a projected CRS
/// whose unit is not the metre: alosj's grids have their cells in metres.
void RequireMetres(const OGRSpatialReference& crs, const std::string& option, const std::string& given);

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
using processing::GdalDatasetCloser;

/// A file that is removed when the object goes unless kept, and when
/// SIGINT or SIGTERM ends the process meanwhile (RemoveTemporariesOnSignals).
class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    const std::string& path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
    int slot_ = -1;
};

/// Gives the finished file `finished` the name `output`.  Without `replace`,
/// only when no file has that name, not even one made there meanwhile: the
/// failure names the output and says that `command` replaces files only
/// with --overwrite.
void PublishOutput(const std::string& finished, const std::string& output, bool replace, const std::string& command);

/// Publishes finished files under their names (pairs of the finished
/// file's path and its name) as PublishOutput does, all or none: when one
/// fails, the names given before it without `replace` are taken back.
void PublishOutputs(const std::vector<std::pair<std::string, std::string>>& finishedAndNamed, bool replace,
                    const std::string& command);

/// Refuses (exit 2) an output that is not named .tif or .tiff: `command`
/// writes GeoTIFF files.
void RefuseNonGeoTiffName(const std::string& output, const std::string& command);

/// Refuses (exit 1) outputs that exist, before any work, unless `replace`.
void RefuseExistingOutputs(const std::vector<std::string>& outputs, bool replace, const std::string& command);

/// A new empty file beside `near` with a name nobody else has, created
/// exclusively so that no other process can slip in its place.
/// Its name is `near` + ".alosj-" + 16 hexadecimal digits + `suffix`; hand
/// it to an OutputFile at once.
std::string CreateUniqueFileBeside(const std::string& near, const std::string& suffix);

/// Writes `text` into `temporary`, a file CreateUniqueFileBeside made for
/// `path`, and closes it; a failure to write or to close names `path`.
void WriteTextInto(const std::string& temporary, const std::string& text, const std::string& path);

/// Writes `text` to `path` whole: into a temporary beside it
/// (WriteTextInto), which then takes the name as PublishOutput gives it.
void WriteTextFile(const std::string& path, const std::string& text, bool replace, const std::string& command);

/// The ending of a file name in lower case: ".tif" for "scene.TIF".
std::string LowerCaseEnding(const std::string& path);

/// Makes SIGINT and SIGTERM remove the files OutputFile and FileLock hold
/// (and GDAL's overview temporaries beside them) before the process ends.
void RemoveTemporariesOnSignals();

/// Removes, in `directory`, the temporaries of CreateUniqueFileBeside whose
/// names begin with `prefix` (any when empty): what a killed run left.  Call
/// only where no other process writes (under a FileLock).
void RemoveStaleTemporaries(const std::string& directory, const std::string& prefix = "");
/// Removes the temporaries CreateUniqueFileBeside made for `path`, with any
/// suffix: what a killed writer of `path` left.  Call only under a lock
/// every writer of `path` takes.
void RemoveStaleTemporariesOf(const std::string& path);

/// The ending of a FileLock's file, beside what it guards.
inline constexpr const char* kLockSuffix = ".alosj-lock";

/// An exclusive lock (flock) on the file `path`, created for it, holding a
/// line of text that names the holder; the file is removed on release (and
/// by SIGINT and SIGTERM).
class FileLock {
public:
    /// Waits for the lock when `wait`; otherwise a lock held elsewhere gives
    /// an object that is not Held(), with the holder's text in Holder().
    FileLock(const std::string& path, const std::string& holder, bool wait);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }
    const std::string& Holder() const { return holder_; }

private:
    std::string path_;
    std::string holder_;
    int fd_ = -1;
    int slot_ = -1;
};

}  // namespace alosj
