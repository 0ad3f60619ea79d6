// alosj: look at, export and make ALOS PRISM and AVNIR-2 Level 1 products.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

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

    alosj::InfoOptions info;
    CLI::App* infoCommand = app.add_subcommand("info", "describe a product: sensor, level, size, corners, projection");
    AddProductOptions(infoCommand, info.product);
    infoCommand->add_flag("--json", info.json, "print one JSON document (schema in docs/schemas.md)");

    alosj::ExportOptions exportOptions;
    CLI::App* exportCommand =
        app.add_subcommand("export", "write the raster as a tiled, compressed, georeferenced GeoTIFF");
    AddProductOptions(exportCommand, exportOptions.product);
    exportCommand->add_option("output", exportOptions.output, "the GeoTIFF to write")->required();
    exportCommand->add_option("--bands", exportOptions.bands,
                              "bands to write, e.g. 1,3 or 2-4 or Layer_1 (default: all)");
    exportCommand->add_option("--format", exportOptions.format, "GTiff (default) or COG (cloud-optimised)")
        ->transform(CLI::IsMember({"GTiff", "COG"}, CLI::ignore_case));
    exportCommand->add_option("--compress", exportOptions.compress, "DEFLATE (default), ZSTD, LZW or NONE")
        ->transform(CLI::IsMember({"DEFLATE", "ZSTD", "LZW", "NONE"}, CLI::ignore_case));
    exportCommand->add_option("--level", exportOptions.level,
                              "compression level: DEFLATE 1 (default, fastest) to 12 (smallest), ZSTD 1 to 22")
        ->check(CLI::Range(1, 22));
    exportCommand->add_flag("--progress", exportOptions.progress, "show a progress bar even when stderr is no terminal");
    exportCommand->add_flag("--overwrite", exportOptions.overwrite, "replace the output when it exists");
    CLI::Option* warpOption =
        exportCommand->add_option("--warp", exportOptions.warpCrs,
                                  "map-project the raster by the processor's geolocation polynomials, onto CRS "
                                  "(default: the UTM zone of the scene centre on WGS 84) at the nominal ground "
                                  "sample distance")
            ->expected(0, 1);
    exportCommand->add_option("--resampling", exportOptions.resampling,
                              "resampling of --warp: near, bilinear, cubic (default), cubicspline, lanczos")
        ->check(CLI::IsMember({"near", "bilinear", "cubic", "cubicspline", "lanczos"}));
    CLI::Option* exportHeight =
        exportCommand->add_option("--height", exportOptions.heightValue,
                                  "with --warp: place the raster on this height (metres above the WGS 84 "
                                  "ellipsoid) by the line-of-sight model");
    CLI::Option* exportDem =
        exportCommand->add_option("--dem", exportOptions.dem,
                                  "with --warp: place the raster on this DEM (any raster GDAL reads; heights above "
                                  "EGM96 unless its CRS says otherwise) by the line-of-sight model");
    exportHeight->excludes(exportDem);
    exportCommand->add_flag("--dem-ellipsoidal", exportOptions.demEllipsoidal,
                            "the DEM holds heights above the ellipsoid, not the geoid")
        ->needs(exportDem);
    exportCommand->add_flag("--radiance", exportOptions.radiance,
                            "write Float32 radiance (W m-2 sr-1 um-1) instead of the digital numbers; "
                            "Levels 1B1 and 1B2");

    alosj::QuicklookOptions quicklook;
    CLI::App* quicklookCommand = app.add_subcommand(
        "quicklook", "write a small contrast-stretched PNG preview (AVNIR-2: natural colour from bands 3, 2, 1)");
    AddProductOptions(quicklookCommand, quicklook.product);
    quicklookCommand->add_option("output", quicklook.output, "the PNG to write")->required();
    quicklookCommand->add_option("--size", quicklook.size, "pixels along the longer side (default 1024)")
        ->check(CLI::Range(16, 16384));

    alosj::SensorModelOptions sensorModel;
    CLI::App* sensorModelCommand = app.add_subcommand(
        "sensor-model", "the PRISM Level 1B1 scene, orbit, attitude and sensor data for photogrammetry");
    AddProductOptions(sensorModelCommand, sensorModel.product);
    sensorModelCommand->add_flag("--json", sensorModel.json, "print every value as one JSON document");

    alosj::LocateOptions locate;
    CLI::App* locateCommand = app.add_subcommand(
        "locate", "latitude and longitude of a raster position, or the raster position of a latitude and "
                  "longitude, by the processor's geolocation polynomials");
    AddProductOptions(locateCommand, locate.product);
    CLI::Option* pixelOption =
        locateCommand->add_option("--pixel", locate.pixel, "X Y: a raster position, (0, 0) the top-left corner "
                                                           "of the first pixel, (0.5, 0.5) its centre")
            ->expected(2);
    CLI::Option* latLonOption =
        locateCommand->add_option("--latlon", locate.latLon, "LAT LON: a ground position, degrees")->expected(2);
    pixelOption->excludes(latLonOption);
    locateCommand->add_option("--band", locate.band, "the band, from 1 (default 1)")->check(CLI::Range(1, 4));
    locateCommand->add_flag("--json", locate.json, "print one JSON object");
    CLI::Option* locateHeight = locateCommand->add_option(
        "--height", locate.heightValue,
        "at this height (metres above the WGS 84 ellipsoid), by the line-of-sight model");
    CLI::Option* locateDem = locateCommand->add_option(
        "--dem", locate.dem, "on this DEM (heights above EGM96 unless its CRS says otherwise), by the line-of-sight model");
    locateHeight->excludes(locateDem);
    locateCommand->add_flag("--dem-ellipsoidal", locate.demEllipsoidal,
                            "the DEM holds heights above the ellipsoid, not the geoid")
        ->needs(locateDem);

    alosj::RpcOptions rpc;
    CLI::App* rpcCommand = app.add_subcommand(
        "rpc", "a band's RPC model (RPC00B, fitted to the line-of-sight model for heights -500 to 9000 m) as "
               "the _RPC.TXT or .RPB file GDAL reads beside a raster");
    AddProductOptions(rpcCommand, rpc.product);
    rpcCommand->add_option("-o,--output", rpc.output,
                           "NAME_RPC.TXT or NAME.RPB (default: the _RPC.TXT form on stdout)");
    rpcCommand->add_option("--band", rpc.band, "the band, from 1 (default 1)")->check(CLI::Range(1, 4));
    rpcCommand->add_flag("--overwrite", rpc.overwrite, "replace the output when it exists");

    alosj::StacOptions stac;
    CLI::App* stacCommand =
        app.add_subcommand("stac", "a STAC 1.0.0 Item for the product (eo, view, sat, projection, raster, "
                                   "processing), with the files made from it as assets");
    AddProductOptions(stacCommand, stac.product);
    stacCommand->add_option("--asset", stac.assets,
                            "a file made from the product: its COG or GeoTIFF (.tif), quicklook (.png), "
                            "sensor model (.json); repeatable");
    stacCommand->add_option("-o,--output", stac.output, "where to write the Item (default: stdout)");

    alosj::ConvertOptions convert;
    CLI::App* convertCommand = app.add_subcommand(
        "convert", "one product to OUT/<id>/: its COG, quicklook, sensor model (PRISM 1B1) and STAC Item, "
                   "skipped when they are all there; prints one JSON line");
    AddProductOptions(convertCommand, convert.product);
    convertCommand->add_option("--out", convert.out, "the directory of the converted products")->required();
    convertCommand->add_flag("--warp", convert.warp, "map-project the COG by the processor's geolocation");
    convertCommand->add_flag("--overwrite", convert.overwrite, "convert again even when the outputs are there");

    alosj::BatchOptions batch;
    CLI::App* batchCommand = app.add_subcommand(
        "batch", "convert every product under the sources (directories at any depth, .zip, .tar, .tar.gz) as "
                 "alosj convert does, in parallel processes, and write a STAC Collection over them");
    batchCommand->add_option("sources", batch.sources, "directories, archives or volume directory files")
        ->required();
    batchCommand->add_option("--out", batch.out, "the directory of the converted products (not with --list)");
    batchCommand->add_option("--jobs", batch.jobs, "products converted at once (default: one per core)")
        ->check(CLI::Range(1, 1024));
    batchCommand->add_flag("--warp", batch.warp, "map-project the COGs by the processor's geolocation");
    batchCommand->add_flag("--overwrite", batch.overwrite, "convert again products whose outputs are there");
    batchCommand->add_flag("--progress", batch.progress, "say on stderr as each product is done");
    batchCommand->add_option("--log", batch.log, "append the JSON lines to this file instead of stdout");
    batchCommand->add_flag("--list", batch.list, "only print the volume directory files found, one per line");
    batchCommand->add_flag("-0,--null", batch.nul, "with --list, end each name with a NUL byte instead of a newline");

    alosj::CatalogOptions catalog;
    CLI::App* catalogCommand = app.add_subcommand(
        "catalog", "write OUT/collection.json, the STAC Collection over the Items alosj convert wrote into OUT");
    catalogCommand->add_option("out", catalog.out, "the directory of the converted products")->required();

    alosj::SampleOptions sample;
    CLI::App* sampleCommand =
        app.add_subcommand("sample", "write a synthetic product of a real place, for trying things out");
    sampleCommand->add_option("directory", sample.directory, "where to write it (made when missing)")->required();
    sampleCommand->add_option("--sensor", sample.sensor, "prism (default) or avnir2")
        ->transform(CLI::IsMember({"prism", "avnir2"}, CLI::ignore_case));
    sampleCommand->add_option("--level", sample.level, "1A, 1B1 (default) or 1B2")
        ->transform(CLI::IsMember({"1A", "1B1", "1B2"}, CLI::ignore_case));
    sampleCommand->add_option("--size", sample.size, "small (default, seconds), full (the real scene size) or tiny")
        ->transform(CLI::IsMember({"tiny", "small", "full"}, CLI::ignore_case));
    sampleCommand->add_option("--view", sample.view, "PRISM's view: nadir (default), forward or backward")
        ->transform(CLI::IsMember({"nadir", "forward", "backward"}, CLI::ignore_case));
    sampleCommand->add_flag("--triplet", sample.triplet,
                            "PRISM: the three views of one scene, into DIR/nadir, DIR/forward and DIR/backward");
    sampleCommand->add_option("--pointing", sample.pointing, "AVNIR-2's pointing across the track, degrees (default 0)")
        ->check(CLI::Range(-44.0, 44.0));
    sampleCommand->add_option("--place", sample.place, "the scene's centre: coast (default) or volcano (the summit)")
        ->transform(CLI::IsMember({"coast", "volcano"}, CLI::ignore_case));
    sampleCommand->add_option("--dem-out", sample.demOut,
                              "also write the terrain under the scene as a GeoTIFF DEM (heights above EGM96)");

#ifdef ALOSJ_WITH_DSM
    alosj::DsmOptions dsm;
    CLI::App* dsmCommand = app.add_subcommand(
        "dsm", "a surface model (GeoTIFF of heights; the agreeing pairs beside it), QGIS styles and its shaded "
               "relief (PNG) from two or three PRISM views of one scene");
    dsmCommand->add_option("products", dsm.products, "two or three products: forward, nadir, backward views")
        ->required()
        ->expected(2, 3);
    dsmCommand->add_option("-o,--output", dsm.output,
                           "the DSM GeoTIFF NAME.tif (NAME_agreement.tif, NAME_relief.png and the QGIS styles "
                           "NAME.qml, NAME_agreement.qml are written beside it)")
        ->required();
    dsmCommand->add_option("--format", dsm.format, "GTiff (default) or COG (cloud-optimised, averaged overviews)")
        ->transform(CLI::IsMember({"GTiff", "COG"}, CLI::ignore_case));
    dsmCommand->add_option("--resolution", dsm.resolution, "cell size in metres (default 5)")
        ->check(CLI::Range(1.0, 1000.0));
    dsmCommand->add_option("--crs", dsm.crs, "the grid's projected CRS (default: the scene's UTM zone on WGS 84)");
    dsmCommand->add_flag("--geoid", dsm.geoid, "heights above the EGM96 geoid (default: above the ellipsoid)");
    dsmCommand->add_flag("--progress", dsm.progress, "a progress bar even when stderr is no terminal");
    dsmCommand->add_flag("--overwrite", dsm.overwrite, "replace the outputs when they exist");
#endif

    alosj::RemoveTemporariesOnSignals();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : alosj::kExitUsage;
    }

    exportOptions.warp = warpOption->count() > 0;
    exportOptions.height = exportHeight->count() > 0;
    locate.height = locateHeight->count() > 0;
    info.product.quiet = exportOptions.product.quiet = quicklook.product.quiet = sensorModel.product.quiet =
        locate.product.quiet = rpc.product.quiet = stac.product.quiet = convert.product.quiet = sample.quiet = quiet;
    try {
        if (*infoCommand) return alosj::RunInfo(info);
        if (*exportCommand) return alosj::RunExport(exportOptions);
        if (*quicklookCommand) return alosj::RunQuicklook(quicklook);
        if (*sensorModelCommand) return alosj::RunSensorModel(sensorModel);
        if (*sampleCommand) return alosj::RunSample(sample);
        if (*locateCommand) return alosj::RunLocate(locate);
        if (*stacCommand) return alosj::RunStac(stac);
        if (*rpcCommand) return alosj::RunRpc(rpc);
        if (*convertCommand) return alosj::RunConvert(convert);
        if (*batchCommand) return alosj::RunBatch(batch);
        if (*catalogCommand) return alosj::RunCatalog(catalog);
#ifdef ALOSJ_WITH_DSM
        dsm.quiet = quiet;
        if (*dsmCommand) return alosj::RunDsm(dsm);
#endif
    } catch (const std::exception& e) {
        std::cerr << "alosj: " << e.what() << "\n";
        return alosj::ExitStatusOf(e);
    }
    return alosj::kExitUsage;
}

}  // namespace
