// The alosj command-line tool: shared declarations of its subcommands.
//
// Every subcommand that reads a product takes the product's volume
// directory file or the directory that holds it.  Failures are thrown as
// Failure (or, from the processing library, processing::Error) and turned
// into "alosj: <message>" and the exit status in main: 0 success, 1 a
// product that cannot be read (or an output that cannot be written), 2
// wrong usage.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/processing/Error.h"

namespace alosj {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class Failure : public std::runtime_error {
public:
    Failure(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

/// The exit status of what a subcommand threw: a Failure's own; the
/// processing library's bad input is wrong usage, its other errors and
/// anything else a failure.
inline int ExitStatusOf(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const Failure*>(&error)) return failure->status();
    if (const auto* processing = dynamic_cast<const processing::Error*>(&error))
        return processing->kind() == processing::Error::Kind::kBadInput ? kExitUsage : kExitFailure;
    return kExitFailure;
}

/// What every product-reading subcommand shares.
struct ProductOptions {
    std::string product;  // volume directory file or product directory
    long ccd = 0;         // 0: all CCD files side by side
    bool quiet = false;   // hide the library's reports and the progress bar
};

struct InfoOptions {
    ProductOptions product;
    bool json = false;
};

struct ExportOptions {
    ProductOptions product;
    std::string output;
    std::string bands;             // "1,3" or "Layer_2"; empty: every band
    std::string format = "GTiff";  // GTiff or COG
    std::string compress = "DEFLATE";  // DEFLATE, ZSTD, LZW or NONE
    int level = 0;                     // compression level; 0: the fastest (1)
    bool progress = false;         // a progress bar even when stderr is no terminal
    bool overwrite = false;        // replace an existing output
    bool radiance = false;         // Float32 radiance instead of the digital numbers
    bool warp = false;             // onto a map grid by the processor's geolocation
    std::string warpCrs;           // empty: the UTM zone of the scene centre on WGS 84
    std::string resampling = "cubic";  // GDAL's warp resampling
    bool height = false;               // --height: warp onto heightValue by the line-of-sight model
    double heightValue = 0.0;          // metres above the ellipsoid
    std::string dem;                   // --dem: warp onto this DEM by the line-of-sight model
    bool demEllipsoidal = false;       // the DEM holds heights above the ellipsoid
};

struct QuicklookOptions {
    ProductOptions product;
    std::string output;
    int size = 1024;  // pixels along the longer side
};

struct SensorModelOptions {
    ProductOptions product;
    bool json = false;
};

struct LocateOptions {
    ProductOptions product;
    std::vector<double> pixel;   // X Y, or empty
    std::vector<double> latLon;  // LAT LON, or empty
    int band = 1;                // from 1
    bool json = false;
    bool height = false;         // --height: at heightValue by the line-of-sight model
    double heightValue = 0.0;    // metres above the ellipsoid
    std::string dem;             // --dem: on this DEM by the line-of-sight model
    bool demEllipsoidal = false;
};

struct RpcOptions {
    ProductOptions product;
    std::string output;  // NAME_RPC.TXT or NAME.RPB; empty: the _RPC.TXT form on stdout
    int band = 1;        // from 1
    bool overwrite = false;
};

struct StacOptions {
    ProductOptions product;
    std::vector<std::string> assets;  // files made from the product: .tif, .png, .json
    std::string output;               // the Item's file; empty: stdout
};

struct ConvertOptions {
    ProductOptions product;
    std::string out;         // the directory that holds one directory per product
    bool warp = false;       // map-project the COG
    bool overwrite = false;  // redo a product whose outputs are complete
};

struct BatchOptions {
    std::vector<std::string> sources;  // directories, .zip/.tar/.tar.gz files, volume directory files
    std::string out;
    int jobs = 0;  // 0: one per core
    bool warp = false;
    bool overwrite = false;
    bool progress = false;
    bool list = false;  // only print the products found
    bool nul = false;   // --list ends each name with NUL, not a newline
    std::string log;    // the JSON lines go here instead of stdout
};

struct CatalogOptions {
    std::string out;
};

struct SampleOptions {
    std::string directory;
    std::string sensor = "prism";  // prism, avnir2
    std::string level = "1B1";     // 1A, 1B1, 1B2
    std::string size = "small";    // tiny, small, full
    std::string view;              // nadir (default), forward, backward: PRISM
    bool triplet = false;          // the three views into DIR/nadir, DIR/forward, DIR/backward
    std::optional<double> pointing;  // AVNIR-2, degrees across the track
    std::string place = "coast";   // coast, volcano
    std::string demOut;            // a DEM GeoTIFF of the terrain under the scene
    bool quiet = false;
};

struct DsmOptions {
    std::vector<std::string> products;  // two or three PRISM views of one scene
    std::string output;                 // the DSM GeoTIFF; NAME_agreement.tif, NAME_relief.png, styles beside it
    std::string format = "GTiff";       // GTiff or COG
    double resolution = 0;              // metres; 0: 5 (twice PRISM's sample distance)
    std::string crs;                    // empty: the UTM zone of the scene
    bool geoid = false;                 // heights above EGM96 instead of the ellipsoid
    bool progress = false;
    bool overwrite = false;
    bool quiet = false;
};

int RunInfo(const InfoOptions& options);
int RunDsm(const DsmOptions& options);
int RunExport(const ExportOptions& options);
int RunQuicklook(const QuicklookOptions& options);
int RunSensorModel(const SensorModelOptions& options);
int RunSample(const SampleOptions& options);
int RunLocate(const LocateOptions& options);
int RunStac(const StacOptions& options);
int RunRpc(const RpcOptions& options);
int RunConvert(const ConvertOptions& options);
int RunBatch(const BatchOptions& options);
int RunCatalog(const CatalogOptions& options);

/// The id of the STAC Collection `alosj batch` writes into out: the
/// directory's name.
std::string CollectionId(const std::string& out);

}  // namespace alosj
