// alosj export: the assembled raster as a tiled, georeferenced GeoTIFF or
// cloud-optimised GeoTIFF, DEFLATE-compressed unless asked otherwise.
//
// Rows are streamed: each row of every band is read through GetRow and
// written with RasterIO, and every complete tile-row is flushed before the
// next, so the memory used does not grow with the scene.  A COG is made from such a
// streamed GeoTIFF in a temporary file beside the output.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

#include <cpl_string.h>
#include <ogr_spatialref.h>

#include "tools/alosj/Gdal.h"
#include "tools/alosj/Georeferencing.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Progress.h"

namespace alosj {

namespace {

constexpr int kTileSize = 256;

/// "upperLeft" → "UPPER_LEFT".
std::string KeyName(const std::string& camel) {
    std::string key;
    for (char c : camel) {
        if (std::isupper(static_cast<unsigned char>(c)) && !key.empty()) key += '_';
        key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

std::string ValueText(const nlohmann::ordered_json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_float()) {
        char text[40];
        std::snprintf(text, sizeof text, "%.10g", value.get<double>());
        return text;
    }
    return value.dump();
}

/// The product description as flat ALOSJ_* metadata items.
void Flatten(const nlohmann::ordered_json& value, const std::string& key, CPLStringList& items) {
    if (value.is_null()) return;
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it)
            Flatten(it.value(), key + "_" + KeyName(it.key()), items);
    } else if (value.is_array()) {
        std::string joined;
        for (const auto& element : value) {
            if (element.is_structured()) return;  // lists of records stay out
            joined += (joined.empty() ? "" : ",") + ValueText(element);
        }
        items.SetNameValue(key.c_str(), joined.c_str());
    } else {
        items.SetNameValue(key.c_str(), ValueText(value).c_str());
    }
}

const char* BandDescription(const std::string& sensor, int band) {
    static const char* const avnir2[4] = {"Band 1, blue (0.42-0.50 um)", "Band 2, green (0.52-0.60 um)",
                                          "Band 3, red (0.61-0.69 um)", "Band 4, near infrared (0.76-0.89 um)"};
    if (sensor == "AVNIR-2" && band >= 0 && band < 4) return avnir2[band];
    return "Panchromatic (0.52-0.77 um)";
}

void Georeference(GDALDataset& out, const Georeferencing& g) {
    OGRSpatialReference srs;
    if (srs.SetFromUserInput(g.crs.c_str()) != OGRERR_NONE)
        throw Failure(kExitFailure, "cannot make the coordinate reference system " + g.crs + ": " +
                                        GdalSession::LastError());
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);  // x east (longitude), y north
    if (g.kind == Georeferencing::Kind::GeoTransform) {
        double geoTransform[6];
        std::copy(g.geoTransform, g.geoTransform + 6, geoTransform);
        if (out.SetSpatialRef(&srs) != CE_None || out.SetGeoTransform(geoTransform) != CE_None)
            throw Failure(kExitFailure, "cannot georeference the output: " + GdalSession::LastError());
        return;
    }
    static char names[4][3] = {"UL", "UR", "LR", "LL"};
    static char empty[1] = "";
    std::vector<GDAL_GCP> gcps;
    for (size_t k = 0; k < g.gcps.size(); ++k)
        gcps.push_back({names[k % 4], empty, g.gcps[k].pixel, g.gcps[k].line, g.gcps[k].longitude,
                        g.gcps[k].latitude, 0.0});
    if (out.SetGCPs(static_cast<int>(gcps.size()), gcps.data(), &srs) != CE_None)
        throw Failure(kExitFailure, "cannot store the corner control points: " + GdalSession::LastError());
}

/// Writes the raster into a new GeoTIFF at path; progress runs from 0 to `share`.
void StreamGeoTiff(Product& product, const std::vector<int>& bands, const std::string& path,
                   CPLStringList& creation, ProgressBar& bar, double share) {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver) throw Failure(kExitFailure, "GDAL has no GTiff driver");
    const long width = product.Width(), height = product.Height();
    const int count = static_cast<int>(bands.size());
    std::unique_ptr<GDALDataset, GdalDatasetCloser> out(driver->Create(
        path.c_str(), static_cast<int>(width), static_cast<int>(height), count, GDT_Byte, creation.List()));
    if (!out) throw Failure(kExitFailure, path + ": cannot create: " + GdalSession::LastError());

    const Georeferencing g = GeoreferencingOf(product.Dataset(), width, height);
    Georeference(*out, g);
    const nlohmann::ordered_json info = product.Info();
    CPLStringList metadata;
    nlohmann::ordered_json described = info;
    described.erase("georeferencing");  // stored natively
    described.erase("imageFiles");
    described.erase("alosjInfoVersion");
    Flatten(described, "ALOSJ", metadata);
    const std::string sensor = info["sensor"];
    const std::string description = "ALOS " + sensor + " Level " + info["level"].get<std::string>() + " " +
                                    info["observationMode"]["name"].get<std::string>();
    metadata.SetNameValue("TIFFTAG_IMAGEDESCRIPTION", description.c_str());
    metadata.SetNameValue("TIFFTAG_SOFTWARE", "alosj " ALOSJ_VERSION);
    out->SetMetadata(metadata.List());
    for (int k = 0; k < count; ++k) {
        GDALRasterBand* band = out->GetRasterBand(k + 1);
        band->SetDescription(BandDescription(sensor, bands[k]));
        band->SetMetadataItem("LAYER", ("Layer_" + std::to_string(bands[k] + 1)).c_str());
        band->SetNoDataValue(0);  // dummy pixels and fill
    }

    // One row of every band at a time goes to GDAL, whose block cache
    // gathers the tile-row; a complete tile-row is flushed, so that memory
    // stays at one row per band of our own plus one tile-row in GDAL's cache.
    const size_t rowBytes = static_cast<size_t>(width);
    std::vector<unsigned char> buffer(rowBytes * static_cast<size_t>(count));
    for (long top = 0; top < height; top += kTileSize) {
        const long rows = std::min<long>(kTileSize, height - top);
        for (long r = top; r < top + rows; ++r) {
            for (int k = 0; k < count; ++k) {
                unsigned char* row = buffer.data() + static_cast<size_t>(k) * rowBytes;
                product.Dataset().GetRow(bands[k], static_cast<unsigned long>(r), 0, &row);
            }
            if (out->RasterIO(GF_Write, 0, static_cast<int>(r), static_cast<int>(width), 1, buffer.data(),
                              static_cast<int>(width), 1, GDT_Byte, count, nullptr, 1, width,
                              static_cast<GSpacing>(rowBytes), nullptr) != CE_None)
                throw Failure(kExitFailure, path + ": cannot write: " + GdalSession::LastError());
        }
        // A failed read aborts the export; the unfinished output is removed.
        product.CheckReports("reading rows " + std::to_string(top) + " to " + std::to_string(top + rows - 1));
        CPLErrorReset();
        out->FlushCache(false);
        if (CPLGetLastErrorType() >= CE_Failure)
            throw Failure(kExitFailure, path + ": cannot write: " + GdalSession::LastError());
        bar.Update(share * static_cast<double>(top + rows) / static_cast<double>(height));
    }
    CPLErrorReset();
    out.reset();  // closing writes the directory
    if (CPLGetLastErrorType() >= CE_Failure)
        throw Failure(kExitFailure, path + ": cannot finish writing: " + GdalSession::LastError());
}

}  // namespace

int RunExport(const ExportOptions& options) {
    Product product(options.product);
    if (product.Dataset().GetNumOfBytesPerPixel() != 1)
        throw Failure(kExitFailure, product.VolumePath() + ": " +
                                        std::to_string(product.Dataset().GetNumOfBytesPerPixel()) +
                                        " bytes per pixel; alosj exports products of one byte per pixel");
    const std::vector<int> bands = ParseBands(options.bands, product);
    const Georeferencing g = GeoreferencingOf(product.Dataset(), product.Width(), product.Height());
    if (!g.warning.empty() && !options.product.quiet) std::cerr << "alosj: warning: " << g.warning << "\n";

    GdalSession gdal;
    const bool cog = options.format == "COG";
    ProgressBar bar("export", options.progress, options.product.quiet);
    OutputFile output(options.output);

    CPLStringList creation;
    creation.SetNameValue("TILED", "YES");
    creation.SetNameValue("BLOCKXSIZE", std::to_string(kTileSize).c_str());
    creation.SetNameValue("BLOCKYSIZE", std::to_string(kTileSize).c_str());
    const bool compressed = options.compress != "NONE";
    creation.SetNameValue("COMPRESS", options.compress.c_str());
    creation.SetNameValue("BIGTIFF", "IF_SAFER");
    if (!cog) {
        if (compressed) creation.SetNameValue("PREDICTOR", "2");
        StreamGeoTiff(product, bands, options.output, creation, bar, 1.0);
    } else {
        // The COG driver copies from a finished dataset: stream into a
        // quickly compressed GeoTIFF first, then let it rearrange that.
        OutputFile staging(CreateUniqueFileBeside(options.output, ".tif"));
        if (options.compress == "DEFLATE") creation.SetNameValue("ZLEVEL", "1");
        StreamGeoTiff(product, bands, staging.path(), creation, bar, 0.5);
        std::unique_ptr<GDALDataset, GdalDatasetCloser> source(
            GDALDataset::Open(staging.path().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("COG");
        if (!source || !driver)
            throw Failure(kExitFailure, options.output + ": cannot make a COG: " + GdalSession::LastError());
        CPLStringList cogOptions;
        cogOptions.SetNameValue("COMPRESS", options.compress.c_str());
        if (compressed) cogOptions.SetNameValue("PREDICTOR", "YES");
        cogOptions.SetNameValue("BLOCKSIZE", "512");
        cogOptions.SetNameValue("RESAMPLING", "AVERAGE");
        cogOptions.SetNameValue("BIGTIFF", "IF_SAFER");
        void* scaled = GDALCreateScaledProgress(0.5, 1.0, &ProgressBar::GdalCallback, &bar);
        std::unique_ptr<GDALDataset, GdalDatasetCloser> copy(driver->CreateCopy(
            options.output.c_str(), source.get(), FALSE, cogOptions.List(), GDALScaledProgress, scaled));
        GDALDestroyScaledProgress(scaled);
        if (!copy) throw Failure(kExitFailure, options.output + ": cannot write the COG: " + GdalSession::LastError());
        CPLErrorReset();
        copy.reset();
        if (CPLGetLastErrorType() >= CE_Failure)
            throw Failure(kExitFailure, options.output + ": cannot finish writing: " + GdalSession::LastError());
    }
    bar.Finish();
    output.Keep();
    std::cout << "Wrote " << options.output << " (" << (cog ? "COG" : "GeoTIFF") << ", " << product.Width() << " x "
              << product.Height() << " pixels, " << bands.size() << " band(s), "
              << (g.kind == Georeferencing::Kind::GeoTransform ? g.crs : "corner GCPs in " + g.crs) << ")\n";
    return 0;
}

}  // namespace alosj
