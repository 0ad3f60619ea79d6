// alosj sample: a synthetic product written by the product writer; or the
// three PRISM views of one scene; and the terrain under it as a DEM.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "tools/alosj/Cli.h"
#include "tools/alosj/Gdal.h"
#include "tools/writer/SampleScene.h"

namespace fs = std::filesystem;

namespace alosj {

namespace {

/// Makes directory, refusing one that already holds a product.
void PrepareDirectory(const std::string& directory) {
    std::error_code error;
    fs::create_directories(directory, error);
    if (error || !fs::is_directory(directory))
        throw Failure(kExitFailure, directory + ": cannot make the directory" +
                                        (error ? ": " + error.message() : std::string()));
    // Never mix two products in one directory, nor overwrite one: any ALOS
    // volume directory counts (PALSAR's too), not only those this tool reads.
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name.rfind("VOL-AL", 0) == 0)
            throw Failure(kExitFailure, directory + ": already holds a product (" + it->path().filename().string() +
                                            "); choose an empty directory");
    }
}

const char* ViewName(ceoswriter::View view) {
    return view == ceoswriter::View::Forward ? "forward" : view == ceoswriter::View::Backward ? "backward" : "nadir";
}

/// The terrain's heights above the EGM96 geoid over the UTM rectangle, on
/// a grid `spacing` metres apart, as a Float32 GeoTIFF in UTM 54 north with
/// EGM96 heights (EPSG:32654+5773); written under a temporary name.
void WriteDem(const std::string& path, double minEasting, double minNorthing, double maxEasting,
              double maxNorthing, double spacing) {
    GdalSession gdal;
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!gtiff) throw Failure(kExitFailure, "GDAL has no GTiff driver");
    const double west = std::floor(minEasting / spacing) * spacing;
    const double north = std::ceil(maxNorthing / spacing) * spacing;
    const int width = static_cast<int>(std::ceil((maxEasting - west) / spacing));
    const int height = static_cast<int>(std::ceil((north - minNorthing) / spacing));
    OutputFile output(CreateUniqueFileBeside(path, ".tif"));
    CPLStringList options;
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("PREDICTOR", "3");
    options.SetNameValue("TILED", "YES");
    options.SetNameValue("BIGTIFF", "IF_SAFER");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> dem(
        gtiff->Create(output.path().c_str(), width, height, 1, GDT_Float32, options.List()));
    if (!dem) throw Failure(kExitFailure, path + ": cannot create: " + GdalSession::LastError());
    OGRSpatialReference crs;
    double transform[6] = {west, spacing, 0.0, north, 0.0, -spacing};
    if (crs.SetFromUserInput("EPSG:32654+5773") != OGRERR_NONE || dem->SetSpatialRef(&crs) != CE_None ||
        dem->SetGeoTransform(transform) != CE_None)
        throw Failure(kExitFailure, path + ": cannot georeference the DEM: " + GdalSession::LastError());
    GDALRasterBand* band = dem->GetRasterBand(1);
    band->SetDescription("height above the EGM96 geoid");
    // The true places of the survey targets the images show (DN 1 discs
    // 20 m across): latitude, longitude, height above the ellipsoid.
    for (const auto& [key, point] : {std::pair{"TARGET_SUMMIT", ceoswriter::SampleScene::Summit()},
                                     std::pair{"TARGET_PLAIN", ceoswriter::SampleScene::PlainPoint()}}) {
        char text[96];
        std::snprintf(text, sizeof text, "%.9f %.9f %.3f", point.latitude, point.longitude, point.height);
        dem->SetMetadataItem(key, text);
    }
    band->SetUnitType("metre");
    std::vector<float> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        const double northing = north - (y + 0.5) * spacing;
        for (int x = 0; x < width; ++x)
            row[static_cast<size_t>(x)] = static_cast<float>(
                ceoswriter::SampleScene::HeightAboveGeoid(west + (x + 0.5) * spacing, northing));
        if (band->RasterIO(GF_Write, 0, y, width, 1, row.data(), width, 1, GDT_Float32, 0, 0, nullptr) != CE_None)
            throw Failure(kExitFailure, path + ": cannot write: " + GdalSession::LastError());
    }
    CPLErrorReset();
    dem.reset();
    if (CPLGetLastErrorType() >= CE_Failure)
        throw Failure(kExitFailure, path + ": cannot finish writing: " + GdalSession::LastError());
    PublishOutput(output.path(), path, true, "alosj sample");
    output.Keep();
}

}  // namespace

int RunSample(const SampleOptions& options) {
    ceoswriter::SampleOptions sample;
    sample.sensor = options.sensor == "avnir2" ? ceoswriter::Sensor::Avnir2 : ceoswriter::Sensor::Prism;
    sample.level = options.level == "1A" ? 0 : options.level == "1B1" ? 1 : 2;
    sample.size = options.size == "full"    ? ceoswriter::SampleSize::Full
                  : options.size == "tiny" ? ceoswriter::SampleSize::Tiny
                                           : ceoswriter::SampleSize::Small;
    sample.place = options.place == "volcano" ? ceoswriter::Place::Volcano : ceoswriter::Place::Coast;
    const bool prism = sample.sensor == ceoswriter::Sensor::Prism;
    if (!prism && (options.triplet || !options.view.empty()))
        throw Failure(kExitUsage,
                      "--view and --triplet are for PRISM, whose three telescopes look ahead, down and back");
    if (prism && options.pointing)
        throw Failure(kExitUsage, "--pointing is for AVNIR-2; PRISM's views are chosen with --view");
    if (options.triplet && !options.view.empty())
        throw Failure(kExitUsage, "--triplet writes all three views; leave out --view");
    if (!options.demOut.empty()) {
        const std::string ending = LowerCaseEnding(options.demOut);
        if (ending != ".tif" && ending != ".tiff")
            throw Failure(kExitUsage, options.demOut + ": --dem-out writes a GeoTIFF; name it .tif or .tiff");
        std::error_code error;
        if (fs::exists(options.demOut, error))
            throw Failure(kExitFailure, options.demOut + ": already exists; choose another name");
    }
    sample.pointing = options.pointing.value_or(0.0);
    sample.view = options.view == "forward"    ? ceoswriter::View::Forward
                  : options.view == "backward" ? ceoswriter::View::Backward
                                               : ceoswriter::View::Nadir;

    // What to write where: one product into the directory, or each view of
    // the triplet into its own.
    std::vector<std::pair<ceoswriter::SampleOptions, std::string>> products;
    if (options.triplet) {
        for (ceoswriter::View view :
             {ceoswriter::View::Nadir, ceoswriter::View::Forward, ceoswriter::View::Backward}) {
            ceoswriter::SampleOptions one = sample;
            one.view = view;
            products.emplace_back(one, (fs::path(options.directory) / ViewName(view)).string());
        }
    } else {
        products.emplace_back(sample, options.directory);
    }
    for (const auto& [one, directory] : products) PrepareDirectory(directory);

    double minEasting = INFINITY, minNorthing = INFINITY, maxEasting = -INFINITY, maxNorthing = -INFINITY;
    double pixelSize = 0;
    for (const auto& [one, directory] : products) {
        const ceoswriter::SampleScene scene(one);
        ceoswriter::ProductFiles files;
        try {
            files = ceoswriter::WriteProduct(directory, scene.Product());
        } catch (const std::exception& e) {
            throw Failure(kExitFailure, directory + ": cannot write the sample: " + e.what());
        }
        double e0, n0, e1, n1;
        scene.CoverageUtm(e0, n0, e1, n1);
        minEasting = std::min(minEasting, e0), minNorthing = std::min(minNorthing, n0);
        maxEasting = std::max(maxEasting, e1), maxNorthing = std::max(maxNorthing, n1);
        pixelSize = prism ? 2.5 : 10.0;
        std::cout << "Wrote a synthetic " << (prism ? "PRISM" : "AVNIR-2") << " Level " << options.level
                  << (prism ? std::string(" ") + ViewName(one.view) + " view" : std::string()) << " product ("
                  << scene.Width() << " x " << scene.Height() << " pixels, " << ceoswriter::SampleScene::PlaceName()
                  << "):\n  " << files.volume << "\n";
    }
    if (!options.demOut.empty()) {
        // Four pixels apart, a kilometre beyond what the scenes show.
        const double margin = 1000.0;
        WriteDem(options.demOut, minEasting - margin, minNorthing - margin, maxEasting + margin, maxNorthing + margin,
                 4.0 * pixelSize);
        std::cout << "Wrote the terrain's heights above the EGM96 geoid (UTM 54 north, " << 4.0 * pixelSize
                  << " m):\n  " << options.demOut << "\n";
    }
    return 0;
}

}  // namespace alosj
