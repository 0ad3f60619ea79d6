// alosj: look at, export and make ALOS PRISM and AVNIR-2 Level 1 products.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/alosj/Cli.h"
#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"

namespace {

const char* const kProductHelp =
    "the product: its volume directory file (VOL-ALPSM*, VOL-ALAV2*), the directory that holds it, a .zip, "
    ".tar or .tar.gz file that holds one product anywhere inside, or a GDAL virtual path to any of them "
    "(/vsizip/..., /vsitar/..., /vsicurl/https://..., /vsis3/bucket/...)";

void AddProductOptions(CLI::App* command, alosj::ProductOptions& options) {
    command->add_option("product", options.product, kProductHelp)->required();
    command->add_option("--ccd", options.ccd, "open a PRISM Level 1A/1B1 product on this one CCD file only")
        ->check(CLI::Range(1, 8));
}

/// Writes out what is left of stdout and closes it: what could not be
/// written (a full disk) is a failure, never a success with a short file.
int FinishStdout(int status) {
    std::cout.flush();
    bool failed = !std::cout || std::ferror(stdout);
    int error = 0;  // unknown for a write that failed earlier
    errno = 0;
    if (std::fflush(stdout) != 0) {
        failed = true;
        error = errno;
    }
    if (std::fclose(stdout) != 0 && !failed) {
        failed = true;
        error = errno;
    }
    if (!failed) return status;
    std::cerr << "alosj: standard output: cannot be written" << (error ? ": " : "")
              << (error ? std::strerror(error) : "") << "\n";
    return status != 0 ? status : alosj::kExitFailure;
}

int Run(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
    const int status = FinishStdout(Run(argc, argv));
    const char* report = std::getenv(alosj::kReportOpensVariable);
    if (report && *report) {
        // One write: the conversions of a batch share its stderr.
        std::string text = "alosj: products opened: " + std::to_string(alosj::ProductOpens()) + "\n";
        if (alosj::WorkerHandles() > 0)
            text += "alosj: handles on them opened by worker threads: " + std::to_string(alosj::WorkerHandles()) + "\n";
        std::fputs(text.c_str(), stderr);
    }
    return status;
}

namespace {

/// A subcommand and how it runs once its options are parsed (with -q or not).
struct Command {
    CLI::App* app;
    std::function<int(bool quiet)> run;
};
using Commands = std::vector<Command>;

void AddInfoCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::InfoOptions>();
    CLI::App* infoCommand = app.add_subcommand("info", "describe a product: sensor, level, size, corners, projection");
    AddProductOptions(infoCommand, o->product);
    infoCommand->add_flag("--json", o->json, "print one JSON document (schema in docs/schemas.md)");
    commands.push_back({infoCommand, [o](bool quiet) {
        o->product.quiet = quiet;
        return alosj::RunInfo(*o);
    }});
}

void AddExportCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::ExportOptions>();
    CLI::App* exportCommand =
        app.add_subcommand("export", "write the raster as a tiled, compressed, georeferenced GeoTIFF");
    AddProductOptions(exportCommand, o->product);
    exportCommand->add_option("output", o->output, "the GeoTIFF to write")->required();
    exportCommand->add_option("--bands", o->bands,
                              "bands to write, e.g. 1,3 or 2-4 or Layer_1 (default: all)");
    exportCommand->add_option("--format", o->format, "GTiff (default) or COG (cloud-optimised)")
        ->transform(CLI::IsMember({"GTiff", "COG"}, CLI::ignore_case));
    exportCommand->add_option("--compress", o->compress, "DEFLATE (default), ZSTD, LZW or NONE")
        ->transform(CLI::IsMember({"DEFLATE", "ZSTD", "LZW", "NONE"}, CLI::ignore_case));
    exportCommand->add_option("--level", o->level,
                              "compression level: DEFLATE 1 (default, fastest) to 12 (smallest), ZSTD 1 to 22")
        ->check(CLI::Range(1, 22));
    exportCommand->add_flag("--progress", o->progress, "show a progress bar even when stderr is no terminal");
    exportCommand->add_flag("--overwrite", o->overwrite, "replace the output when it exists");
    CLI::Option* warpOption =
        exportCommand->add_option("--warp", o->warpCrs,
                                  "map-project the raster by the processor's geolocation polynomials, onto CRS "
                                  "(default: the UTM zone of the scene centre on WGS 84) at the nominal ground "
                                  "sample distance")
            ->expected(0, 1);
    exportCommand->add_option("--resampling", o->resampling,
                              "resampling of --warp: near, bilinear, cubic (default), cubicspline, lanczos")
        ->check(CLI::IsMember({"near", "bilinear", "cubic", "cubicspline", "lanczos"}));
    CLI::Option* exportHeight =
        exportCommand->add_option("--height", o->heightValue,
                                  "with --warp: place the raster on this height (metres above the WGS 84 "
                                  "ellipsoid) by the line-of-sight model");
    CLI::Option* exportDem =
        exportCommand->add_option("--dem", o->dem,
                                  "with --warp: place the raster on this DEM (any raster GDAL reads; heights above "
                                  "EGM96 unless its CRS says otherwise) by the line-of-sight model");
    exportHeight->excludes(exportDem);
    exportCommand->add_flag("--dem-ellipsoidal", o->demEllipsoidal,
                            "the DEM holds heights above the ellipsoid, not the geoid")
        ->needs(exportDem);
    exportCommand->add_flag("--radiance", o->radiance,
                            "write Float32 radiance (W m-2 sr-1 um-1) instead of the digital numbers; "
                            "Levels 1B1 and 1B2");
    commands.push_back({exportCommand, [o, warpOption, exportHeight](bool quiet) {
        o->warp = warpOption->count() > 0;
        o->height = exportHeight->count() > 0;
        o->product.quiet = quiet;
        return alosj::RunExport(*o);
    }});
}

void AddQuicklookCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::QuicklookOptions>();
    CLI::App* quicklookCommand = app.add_subcommand(
        "quicklook", "write a small contrast-stretched PNG preview (AVNIR-2: natural colour from bands 3, 2, 1)");
    AddProductOptions(quicklookCommand, o->product);
    quicklookCommand->add_option("output", o->output, "the PNG to write")->required();
    quicklookCommand->add_option("--size", o->size, "pixels along the longer side (default 1024)")
        ->check(CLI::Range(16, 16384));
    commands.push_back({quicklookCommand, [o](bool quiet) {
        o->product.quiet = quiet;
        return alosj::RunQuicklook(*o);
    }});
}

void AddSensorModelCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::SensorModelOptions>();
    CLI::App* sensorModelCommand = app.add_subcommand(
        "sensor-model", "the PRISM Level 1B1 scene, orbit, attitude and sensor data for photogrammetry");
    AddProductOptions(sensorModelCommand, o->product);
    sensorModelCommand->add_flag("--json", o->json, "print every value as one JSON document");
    commands.push_back({sensorModelCommand, [o](bool quiet) {
        o->product.quiet = quiet;
        return alosj::RunSensorModel(*o);
    }});
}

void AddLocateCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::LocateOptions>();
    CLI::App* locateCommand = app.add_subcommand(
        "locate", "latitude and longitude of a raster position, or the raster position of a latitude and "
                  "longitude, by the processor's geolocation polynomials");
    AddProductOptions(locateCommand, o->product);
    CLI::Option* pixelOption =
        locateCommand->add_option("--pixel", o->pixel, "X Y: a raster position, (0, 0) the top-left corner "
                                                           "of the first pixel, (0.5, 0.5) its centre")
            ->expected(2);
    CLI::Option* latLonOption =
        locateCommand->add_option("--latlon", o->latLon, "LAT LON: a ground position, degrees")->expected(2);
    pixelOption->excludes(latLonOption);
    locateCommand->add_option("--band", o->band, "the band, from 1 (default 1)")->check(CLI::Range(1, 4));
    locateCommand->add_flag("--json", o->json, "print one JSON object");
    CLI::Option* locateHeight = locateCommand->add_option(
        "--height", o->heightValue,
        "at this height (metres above the WGS 84 ellipsoid), by the line-of-sight model");
    CLI::Option* locateDem = locateCommand->add_option(
        "--dem", o->dem, "on this DEM (heights above EGM96 unless its CRS says otherwise), by the line-of-sight model");
    locateHeight->excludes(locateDem);
    locateCommand->add_flag("--dem-ellipsoidal", o->demEllipsoidal,
                            "the DEM holds heights above the ellipsoid, not the geoid")
        ->needs(locateDem);
    commands.push_back({locateCommand, [o, locateHeight](bool quiet) {
        o->height = locateHeight->count() > 0;
        o->product.quiet = quiet;
        return alosj::RunLocate(*o);
    }});
}

void AddRpcCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::RpcOptions>();
    CLI::App* rpcCommand = app.add_subcommand(
        "rpc", "a band's RPC model (RPC00B, fitted to the line-of-sight model for heights -500 to 9000 m) as "
               "the _RPC.TXT or .RPB file GDAL reads beside a raster");
    AddProductOptions(rpcCommand, o->product);
    rpcCommand->add_option("-o,--output", o->output,
                           "NAME_RPC.TXT or NAME.RPB (default: the _RPC.TXT form on stdout)");
    rpcCommand->add_option("--band", o->band, "the band, from 1 (default 1)")->check(CLI::Range(1, 4));
    rpcCommand->add_flag("--overwrite", o->overwrite, "replace the output when it exists");
    commands.push_back({rpcCommand, [o](bool quiet) {
        o->product.quiet = quiet;
        return alosj::RunRpc(*o);
    }});
}

void AddStacCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::StacOptions>();
    CLI::App* stacCommand =
        app.add_subcommand("stac", "a STAC 1.0.0 Item for the product (eo, view, sat, projection, raster, "
                                   "processing), with the files made from it as assets");
    AddProductOptions(stacCommand, o->product);
    stacCommand->add_option("--asset", o->assets,
                            "a file made from the product: its COG or GeoTIFF (.tif), quicklook (.png), "
                            "sensor model (.json); repeatable");
    stacCommand->add_option("-o,--output", o->output, "where to write the Item (default: stdout)");
    commands.push_back({stacCommand, [o](bool quiet) {
        o->product.quiet = quiet;
        return alosj::RunStac(*o);
    }});
}

void AddConvertCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::ConvertOptions>();
    CLI::App* convertCommand = app.add_subcommand(
        "convert", "one product to OUT/<id>/: its COG, quicklook, sensor model (PRISM 1B1) and STAC Item, "
                   "skipped when they are all there; prints one JSON line");
    AddProductOptions(convertCommand, o->product);
    convertCommand->add_option("--out", o->out, "the directory of the converted products")->required();
    convertCommand->add_flag("--warp", o->warp, "map-project the COG by the processor's geolocation");
    convertCommand->add_flag("--overwrite", o->overwrite, "convert again even when the outputs are there");
    commands.push_back({convertCommand, [o](bool quiet) {
        o->product.quiet = quiet;
        return alosj::RunConvert(*o);
    }});
}

void AddBatchCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::BatchOptions>();
    CLI::App* batchCommand = app.add_subcommand(
        "batch", "convert every product under the sources (directories at any depth, .zip, .tar, .tar.gz) as "
                 "alosj convert does, in parallel processes, and write a STAC Collection over them");
    batchCommand->add_option("sources", o->sources, "directories, archives or volume directory files")
        ->required();
    batchCommand->add_option("--out", o->out, "the directory of the converted products (not with --list)");
    batchCommand->add_option("--jobs", o->jobs, "products converted at once (default: one per core)")
        ->check(CLI::Range(1, 1024));
    batchCommand->add_flag("--warp", o->warp, "map-project the COGs by the processor's geolocation");
    batchCommand->add_flag("--overwrite", o->overwrite, "convert again products whose outputs are there");
    batchCommand->add_flag("--progress", o->progress, "say on stderr as each product is done");
    batchCommand->add_option("--log", o->log, "append the JSON lines to this file instead of stdout");
    batchCommand->add_flag("--list", o->list, "only print the volume directory files found, one per line");
    batchCommand->add_flag("-0,--null", o->nul, "with --list, end each name with a NUL byte instead of a newline");
    commands.push_back({batchCommand, [o](bool) { return alosj::RunBatch(*o); }});
}

void AddCatalogCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::CatalogOptions>();
    CLI::App* catalogCommand = app.add_subcommand(
        "catalog", "write OUT/collection.json, the STAC Collection over the Items alosj convert wrote into OUT");
    catalogCommand->add_option("out", o->out, "the directory of the converted products")->required();
    commands.push_back({catalogCommand, [o](bool) { return alosj::RunCatalog(*o); }});
}

void AddSampleCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::SampleOptions>();
    CLI::App* sampleCommand =
        app.add_subcommand("sample", "write a synthetic product of a real place, for trying things out");
    sampleCommand->add_option("directory", o->directory, "where to write it (made when missing)")->required();
    sampleCommand->add_option("--sensor", o->sensor, "prism (default) or avnir2")
        ->transform(CLI::IsMember({"prism", "avnir2"}, CLI::ignore_case));
    sampleCommand->add_option("--level", o->level, "1A, 1B1 (default) or 1B2")
        ->transform(CLI::IsMember({"1A", "1B1", "1B2"}, CLI::ignore_case));
    sampleCommand->add_option("--size", o->size, "small (default, seconds), full (the real scene size) or tiny")
        ->transform(CLI::IsMember({"tiny", "small", "full"}, CLI::ignore_case));
    sampleCommand->add_option("--view", o->view, "PRISM's view: nadir (default), forward or backward")
        ->transform(CLI::IsMember({"nadir", "forward", "backward"}, CLI::ignore_case));
    sampleCommand->add_flag("--triplet", o->triplet,
                            "PRISM: the three views of one scene, into DIR/nadir, DIR/forward and DIR/backward");
    sampleCommand->add_option("--pointing", o->pointing, "AVNIR-2's pointing across the track, degrees (default 0)")
        ->check(CLI::Range(-44.0, 44.0));
    sampleCommand->add_option("--place", o->place, "the scene's centre: coast (default) or volcano (the summit)")
        ->transform(CLI::IsMember({"coast", "volcano"}, CLI::ignore_case));
    sampleCommand->add_option("--dem-out", o->demOut,
                              "also write the terrain under the scene as a GeoTIFF DEM (heights above EGM96)");
    commands.push_back({sampleCommand, [o](bool quiet) {
        o->quiet = quiet;
        return alosj::RunSample(*o);
    }});
}

#ifdef ALOSJ_WITH_DSM
void AddDsmCommand(CLI::App& app, Commands& commands) {
    auto o = std::make_shared<alosj::DsmOptions>();
    CLI::App* dsmCommand = app.add_subcommand(
        "dsm", "a surface model (GeoTIFF of heights; the agreeing pairs beside it), QGIS styles and its shaded "
               "relief (PNG) from two or three PRISM views of one scene");
    dsmCommand->add_option("products", o->products, "two or three products: forward, nadir, backward views")
        ->required()
        ->expected(2, 3);
    dsmCommand->add_option("-o,--output", o->output,
                           "the DSM GeoTIFF NAME.tif (NAME_agreement.tif, NAME_relief.png and the QGIS styles "
                           "NAME.qml, NAME_agreement.qml are written beside it)")
        ->required();
    dsmCommand->add_option("--format", o->format, "GTiff (default) or COG (cloud-optimised, averaged overviews)")
        ->transform(CLI::IsMember({"GTiff", "COG"}, CLI::ignore_case));
    dsmCommand->add_option("--resolution", o->resolution, "cell size in metres (default 5)")
        ->check(CLI::Range(1.0, 1000.0));
    dsmCommand->add_option("--crs", o->crs, "the grid's projected CRS (default: the scene's UTM zone on WGS 84)");
    dsmCommand->add_flag("--geoid", o->geoid, "heights above the EGM96 geoid (default: above the ellipsoid)");
    dsmCommand->add_flag("--progress", o->progress, "a progress bar even when stderr is no terminal");
    dsmCommand->add_flag("--overwrite", o->overwrite, "replace the outputs when they exist");
    commands.push_back({dsmCommand, [o](bool quiet) {
        o->quiet = quiet;
        return alosj::RunDsm(*o);
    }});
}
#endif

int Run(int argc, char** argv) {
    CLI::App app{"alosj: look at, export and make ALOS PRISM and AVNIR-2 Level 1 products (CEOS format).\n"
                 "Exit status: 0 success, 1 a product that cannot be read or an output that cannot be "
                 "written, 2 wrong usage.",
                 "alosj"};
    app.set_version_flag("--version", std::string("alosj ") + ALOSJ_VERSION);
    app.require_subcommand(1, 1);
    app.fallthrough();
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "hide the library's failure reports and the progress bar");

    Commands commands;
    for (void (*add)(CLI::App&, Commands&) :
         {AddInfoCommand, AddExportCommand, AddQuicklookCommand, AddSensorModelCommand, AddLocateCommand,
          AddRpcCommand, AddStacCommand, AddConvertCommand, AddBatchCommand, AddCatalogCommand, AddSampleCommand})
        add(app, commands);
#ifdef ALOSJ_WITH_DSM
    AddDsmCommand(app, commands);
#endif

    alosj::RemoveTemporariesOnSignals();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : alosj::kExitUsage;
    }
    try {
        for (const Command& command : commands)
            if (*command.app) return command.run(quiet);
    } catch (const std::exception& e) {
        std::cerr << "alosj: " << e.what() << "\n";
        return alosj::ExitStatusOf(e);
    }
    return alosj::kExitUsage;
}

}  // namespace
