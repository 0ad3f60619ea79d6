// alosj stac: a STAC 1.0.0 Item for a product, with the eo, view, sat,
// projection, raster and processing extensions, and the files made from it
// (a COG, a quicklook, the sensor model) as its assets.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include <gdal_priv.h>

#include "tools/alosj/Processing.h"
#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"

namespace fs = std::filesystem;

namespace alosj {

namespace {

using json = nlohmann::ordered_json;

const char* const kExtensions[] = {
    "https://stac-extensions.github.io/eo/v1.1.0/schema.json",
    "https://stac-extensions.github.io/view/v1.0.0/schema.json",
    "https://stac-extensions.github.io/sat/v1.0.0/schema.json",
    "https://stac-extensions.github.io/projection/v1.1.0/schema.json",
    "https://stac-extensions.github.io/raster/v1.1.0/schema.json",
    "https://stac-extensions.github.io/processing/v1.2.0/schema.json",
};

json BoundingBox(const json& geometry) {
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (const json& point : geometry["coordinates"][0]) {
        minX = std::min(minX, point[0].get<double>());
        maxX = std::max(maxX, point[0].get<double>());
        minY = std::min(minY, point[1].get<double>());
        maxY = std::max(maxY, point[1].get<double>());
    }
    return {minX, minY, maxX, maxY};
}

const char* CommonName(const alosjdescribe::BandMeaning& band) {
    switch (band.colour) {
        case GCI_BlueBand: return "blue";
        case GCI_GreenBand: return "green";
        case GCI_RedBand: return "red";
        case GCI_GrayIndex: return "pan";
        default: return "nir";
    }
}

const char* DataType(GDALDataType type) {
    switch (type) {
        case GDT_Byte: return "uint8";
        case GDT_UInt16: return "uint16";
        case GDT_Int16: return "int16";
        case GDT_Float32: return "float32";
        default: return "other";
    }
}

/// The COG (or GeoTIFF) made from the product: its grid and bands as GDAL
/// reads them, each band matched to the product's by its LAYER item.
/// An asset's href: absolute, or relative to the Item's directory when the
/// Item belongs to a catalog (so that the catalog can move).
std::string Href(const std::string& path, const std::string& itemDirectory) {
    const fs::path absolute = fs::absolute(path).lexically_normal();
    if (itemDirectory.empty()) return absolute.string();
    return "./" + absolute.lexically_relative(fs::absolute(itemDirectory).lexically_normal()).string();
}

/// The asset's failure: the file given with --asset is not what the Item
/// of this product can hold.
Failure AssetMismatch(const std::string& path, const std::string& why) {
    return Failure(kExitUsage, "--asset " + path + ": " + why);
}

using RasterPtr = std::unique_ptr<GDALDataset, GdalDatasetCloser>;

RasterPtr OpenAssetRaster(const std::string& path) {
    RasterPtr raster(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!raster) throw Failure(kExitFailure, path + ": cannot be read as a raster: " + GdalSession::LastError());
    return raster;
}

/// Refuses a raster that does not say it was made from this product: the
/// items that name the product (sensor, level, product and scene IDs, the
/// CCD opened alone) must be the product's own.
void CheckMadeFrom(GDALDataset& raster, Product& product, const std::string& path) {
    const alosjdescribe::MetadataItems& items = product.Description().Metadata();
    for (const char* name : kProductNamingItems) {
        const auto mine = std::find_if(items.begin(), items.end(), [&](const auto& item) { return item.first == name; });
        const char* theirs = raster.GetMetadataItem(name);
        const std::string expected = mine == items.end() ? "(none)" : mine->second;
        const std::string found = theirs ? theirs : "(none)";
        if (expected != found)
            throw AssetMismatch(path, std::string("not made from this product: its ") + name + " is " + found +
                                          ", the product's " + expected);
    }
}

json ImageAsset(Product& product, const std::string& path, const std::string& itemDirectory) {
    RasterPtr raster = OpenAssetRaster(path);
    CheckMadeFrom(*raster, product, path);
    const alosjdescribe::ProductDescription& description = product.Description();
    const char* layout = raster->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE");
    json asset;
    asset["href"] = Href(path, itemDirectory);
    asset["type"] = layout && std::string(layout) == "COG" ? "image/tiff; application=geotiff; profile=cloud-optimized"
                                                           : "image/tiff; application=geotiff";
    asset["title"] = "The assembled raster";
    asset["roles"] = {"data"};
    double gt[6];
    const OGRSpatialReference* crs = raster->GetSpatialRef();
    const char* code = crs ? crs->GetAuthorityCode(nullptr) : nullptr;
    const char* authority = crs ? crs->GetAuthorityName(nullptr) : nullptr;
    const bool mapped = raster->GetGeoTransform(gt) == CE_None && crs;
    asset["proj:epsg"] = mapped && code && authority && std::string(authority) == "EPSG" ? json(std::atoi(code))
                                                                                         : json(nullptr);
    asset["proj:shape"] = {raster->GetRasterYSize(), raster->GetRasterXSize()};
    if (mapped) asset["proj:transform"] = {gt[1], gt[2], gt[0], gt[4], gt[5], gt[3]};  // affine order
    json eo = json::array(), bands = json::array();
    for (int b = 1; b <= raster->GetRasterCount(); ++b) {
        GDALRasterBand* band = raster->GetRasterBand(b);
        const char* layer = band->GetMetadataItem("LAYER");
        const auto& meanings = description.Bands();
        const auto meaning = std::find_if(meanings.begin(), meanings.end(), [&](const auto& m) {
            return layer && m.layer == layer;
        });
        // Every band is one of the product's, so that eo:bands and
        // raster:bands describe the same bands.
        if (meaning == meanings.end())
            throw AssetMismatch(path, "band " + std::to_string(b) + " is " +
                                          (layer ? std::string("layer ") + layer : std::string("no layer")) +
                                          " of this product, which has " + std::to_string(meanings.size()) +
                                          " band(s)");
        eo.push_back({{"name", meaning->layer},
                          {"common_name", CommonName(*meaning)},
                          {"description", meaning->description},
                          {"center_wavelength", meaning->centralWavelengthUm},
                          {"full_width_half_max", meaning->fwhmUm}});
        json r;
        r["data_type"] = DataType(band->GetRasterDataType());
        int hasNoData = FALSE;
        const double nodata = band->GetNoDataValue(&hasNoData);
        if (hasNoData) r["nodata"] = std::isnan(nodata) ? json("nan") : json(nodata);
        int hasScale = FALSE, hasOffset = FALSE;
        const double scale = band->GetScale(&hasScale), offset = band->GetOffset(&hasOffset);
        if (hasScale) r["scale"] = scale;
        if (hasOffset) r["offset"] = offset;
        const char* unit = band->GetUnitType();
        if (unit && *unit) r["unit"] = unit;
        bands.push_back(r);
    }
    asset["eo:bands"] = eo;
    asset["raster:bands"] = bands;
    return asset;
}

/// The quicklook: a PNG that names this product, in colour when the
/// product has red, green and blue bands.
void CheckQuicklook(Product& product, const std::string& path) {
    RasterPtr raster = OpenAssetRaster(path);
    CheckMadeFrom(*raster, product, path);
    const bool colour = !ColourPositions(product.Description()).empty();
    if (raster->GetRasterCount() != (colour ? 3 : 1))
        throw AssetMismatch(path, "has " + std::to_string(raster->GetRasterCount()) + " band(s); the quicklook of " +
                                      product.SensorName() + " has " + (colour ? "3" : "1"));
}

/// The sensor model document of this product: the scene it describes is
/// the product's.
void CheckSensorModel(Product& product, const std::string& path) {
    std::ifstream in(path);
    const json model = json::parse(in, nullptr, false);
    if (model.is_discarded() || !model.is_object() || !model.contains("alosjSensorModelVersion") ||
        !model.contains("scene"))
        throw AssetMismatch(path, "not a sensor model document (alosj sensor-model --json)");
    if (!alosjdescribe::HasSensorModel(product.Dataset()))
        throw AssetMismatch(path, "the product, " + product.SensorName() + " Level " + product.LevelName() +
                                      ", has no sensor model");
    const json mine = alosjdescribe::SensorModelJson(product.Dataset(), product.VolumePath());
    product.CheckReports("exporting the sensor model");
    for (const char* key : {"numLines", "numPixels", "sceneStartTime", "sceneCenterTime", "center", "corners"})
        if (model["scene"].value(key, json()) != mine["scene"][key])
            throw AssetMismatch(path, std::string("the sensor model of another scene: its ") + key +
                                          " is not this product's");
}

json FileAsset(const std::string& path, const std::string& itemDirectory, const char* type, const char* title,
               const char* role) {
    return {{"href", Href(path, itemDirectory)},
            {"type", type},
            {"title", title},
            {"roles", {role}}};
}

}  // namespace

/// The Item of a product, with `assets` (paths) and a self link to `self`
/// when given.  With `collection`, the Item belongs to that Collection,
/// written as collection.json in the directory above the Item's; its
/// assets are named relative to the Item.
nlohmann::ordered_json StacItem(Product& product, const std::vector<std::string>& assets, const std::string& self,
                                const std::string& collection) {
    const alosjdescribe::ProductDescription& description = product.Description();
    const CeosAlosjAcquisition& a = description.Acquisition();
    json item;
    item["type"] = "Feature";
    item["stac_version"] = "1.0.0";
    item["stac_extensions"] = kExtensions;
    item["id"] = ItemId(product);
    item["geometry"] = Footprint(product.Dataset(), product.Width(), product.Height(), product.VolumePath());
    // An Item without a place on the Earth has a null geometry and no bbox.
    if (!item["geometry"].is_null()) item["bbox"] = BoundingBox(item["geometry"]);

    json p;
    p["datetime"] = description.SceneCenterTime().empty() ? json(nullptr) : json(description.SceneCenterTime());
    if (!description.SceneStartTime().empty()) p["start_datetime"] = description.SceneStartTime();
    if (!description.SceneEndTime().empty()) p["end_datetime"] = description.SceneEndTime();
    const bool prism = description.Sensor() == alosjdescribe::kPrism;
    p["platform"] = "alos";
    p["constellation"] = "alos";
    p["instruments"] = {prism ? "prism" : "avnir-2"};
    p["gsd"] = prism ? 2.5 : 10.0;
    p["processing:level"] = "L" + product.LevelName();
    p["processing:software"] = {{"ceosalosj", ALOSJ_VERSION}};
    if (a.orbitNumber > 0) p["sat:absolute_orbit"] = a.orbitNumber;
    if (a.orbitDirection) p["sat:orbit_state"] = a.orbitDirection == 'A' ? "ascending" : "descending";
    p["sat:platform_international_designator"] = "2006-002A";
    if (std::isfinite(a.offNadirAngle)) p["view:off_nadir"] = std::fabs(a.offNadirAngle);
    if (std::isfinite(a.sunElevation)) p["view:sun_elevation"] = a.sunElevation;
    if (std::isfinite(a.sunAzimuth)) p["view:sun_azimuth"] = a.sunAzimuth;
    if (std::isfinite(a.incidenceAngle)) p["view:incidence_angle"] = std::fabs(a.incidenceAngle);
    item["properties"] = p;

    item["links"] = json::array();
    if (!self.empty())
        item["links"].push_back(
            {{"rel", "self"}, {"href", fs::absolute(self).lexically_normal().string()}, {"type", "application/json"}});
    const std::string itemDirectory = collection.empty() ? "" : fs::path(self).parent_path().string();
    if (!collection.empty()) {
        item["collection"] = collection;
        for (const char* rel : {"parent", "root", "collection"})
            item["links"].push_back({{"rel", rel}, {"href", "../collection.json"}, {"type", "application/json"}});
    }

    json files = json::object();
    std::map<std::string, std::string> pathOf;  // asset key → the file given
    for (const std::string& path : assets) {
        const std::string extension = LowerCaseEnding(path);
        const char* key = extension == ".tif" || extension == ".tiff" ? "image"
                          : extension == ".png"                       ? "thumbnail"
                          : extension == ".json"                      ? "sensor-model"
                                                                      : nullptr;
        if (!key) throw Failure(kExitUsage, "--asset " + path + ": a .tif, .png or .json file is expected");
        if (pathOf.count(key))
            throw Failure(kExitUsage, "--asset " + path + ": the Item already has " + pathOf[key] + " as its " +
                                          key + " asset; give one file of each kind");
        pathOf[key] = path;
        if (std::string(key) == "image") {
            files[key] = ImageAsset(product, path, itemDirectory);
        } else if (std::string(key) == "thumbnail") {
            CheckQuicklook(product, path);
            files[key] = FileAsset(path, itemDirectory, "image/png", "Quicklook", "thumbnail");
        } else {
            CheckSensorModel(product, path);
            files[key] = FileAsset(path, itemDirectory, "application/json", "PRISM Level 1B1 sensor model", "metadata");
        }
    }
    item["assets"] = files;
    // A raster warped onto a height or a DEM carries the outline it was
    // placed by: the Item's footprint is where that raster shows the scene.
    if (pathOf.count("image")) {
        const RasterPtr image = OpenAssetRaster(pathOf["image"]);  // owns the item's text
        const char* placed = image->GetMetadataItem(kWarpFootprintItem);
        const json footprint = placed ? json::parse(placed, nullptr, false) : json();
        if (footprint.is_object() && footprint.value("type", "") == "Polygon") {
            item["geometry"] = footprint;
            item["bbox"] = BoundingBox(footprint);
        }
    }
    return item;
}

int RunStac(const StacOptions& options) {
    for (const std::string& path : options.assets)
        if (!fs::is_regular_file(path)) throw Failure(kExitFailure, path + ": no such file");
    Product product(options.product);
    RefuseOutputInProduct(options.output, product);
    GdalSession gdal;
    const json item = StacItem(product, options.assets, options.output, "");
    if (item["geometry"].is_null() && !options.product.quiet)
        std::cerr << "alosj: warning: " << product.VolumePath() << ": no footprint: "
                  << alosjdescribe::CornerProblem(product.Dataset()) << ", and no usable geolocation polynomials\n";
    if (options.output.empty()) {
        std::cout << JsonText(item, 2) << "\n";
        return 0;
    }
    WriteTextFile(options.output, JsonText(item, 2) + "\n", true, "alosj stac");
    return 0;
}

}  // namespace alosj
