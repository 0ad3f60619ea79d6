#include "tools/alosj/Product.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "tools/alosj/Georeferencing.h"

namespace fs = std::filesystem;

namespace alosj {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

/// A volume directory file name: the library knows the sensor from it.
bool IsVolumeName(const std::string& name) {
    return StartsWithNoCase(name, "VOL-ALPSM") || StartsWithNoCase(name, "VOL-ALAV2");
}

std::string Trimmed(const char* text) {
    std::string s = text ? text : "";
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(s.begin());
    return s;
}

Failure Unreadable(const std::string& path, const std::string& problem) {
    return Failure(kExitFailure, path + ": " + problem);
}

const char* ModeName(MissionType mode) {
    switch (mode) {
        case MISSION_A: return "AVNIR-2 observation";
        case MISSION_N: return "nadir normal view";
        case MISSION_F: return "forward view";
        case MISSION_B: return "backward view";
        case MISSION_W: return "nadir 70 km view";
        default: return "other";
    }
}

const char* ModeCode(MissionType mode) {
    static const char* const codes[] = {"A", "N", "F", "B", "W"};
    return mode >= MISSION_A && mode <= MISSION_W ? codes[mode] : "?";
}

nlohmann::ordered_json LatLon(double latitude, double longitude) {
    return {{"latitude", latitude}, {"longitude", longitude}};
}

}  // namespace

// ----------------------------------------------------------------- reports --

ReportWatch::ReportWatch(bool quiet) : quiet_(quiet) {
    previous_ = CeosAlosjSetReportHandler(&ReportWatch::Handler, this, &previousUserData_);
}

ReportWatch::~ReportWatch() { CeosAlosjSetReportHandler(previous_, previousUserData_, nullptr); }

void ReportWatch::Handler(const CeosAlosjReport* report, void* self) {
    auto* watch = static_cast<ReportWatch*>(self);
    if (!watch->quiet_) CeosAlosjPrintReportToStderr(report, nullptr);
    if (watch->count_++ > 0 || !report) return;
    const CeosAlosjReport* inner = report;
    while (inner->wrapped) inner = inner->wrapped;
    watch->first_ = std::string(report->operation ? report->operation : "?") + ": " +
                    (report->message ? report->message : "");
    if (inner != report && inner->message) watch->first_ += " (" + std::string(inner->message) + ")";
}

// ------------------------------------------------------------------ finding --

std::string FindVolumeDirectoryFile(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) throw Unreadable(path, "no such file or directory");
    if (fs::is_directory(status)) {
        std::vector<std::string> found;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            if (IsVolumeName(it->path().filename().string()) && it->is_regular_file(error))
                found.push_back(it->path().string());
        if (error) throw Unreadable(path, "cannot list the directory: " + error.message());
        if (found.empty())
            throw Unreadable(path, "no product here: no volume directory file VOL-ALPSM* (PRISM) or "
                                   "VOL-ALAV2* (AVNIR-2)");
        if (found.size() > 1) {
            std::sort(found.begin(), found.end());
            std::string names;
            for (const std::string& f : found) names += (names.empty() ? "" : ", ") + fs::path(f).filename().string();
            throw Unreadable(path, "several products here (" + names + "); name the volume directory file of one");
        }
        return found.front();
    }
    if (!fs::is_regular_file(status)) throw Unreadable(path, "not a regular file");
    if (!IsVolumeName(fs::path(path).filename().string()))
        throw Unreadable(path, "not a volume directory file: its name must begin with VOL-ALPSM (PRISM) "
                               "or VOL-ALAV2 (AVNIR-2)");
    return path;
}

// ------------------------------------------------------------------ product --

Product::Product(const ProductOptions& options) : ccd_(options.ccd) {
    volumePath_ = FindVolumeDirectoryFile(options.product);
    watch_ = std::make_unique<ReportWatch>(options.quiet);

    // The leader file sits beside the volume directory file with LED in place of VOL.
    const fs::path volume(volumePath_);
    const fs::path leader = volume.parent_path() / ("LED" + volume.filename().string().substr(3));
    std::error_code error;
    if (!fs::is_regular_file(leader, error))
        throw Unreadable(volumePath_, "the product's leader file " + leader.filename().string() + " is missing");

    dataset_ = ccd_ > 0 ? std::make_unique<CeosAlosjDataset>(volumePath_.c_str(), ccd_)
                        : std::make_unique<CeosAlosjDataset>(volumePath_.c_str());
    CeosAlosjDataset& d = *dataset_;
    if (d.FileOpen(nullptr) < 0)
        throw Unreadable(volumePath_, "not a readable volume directory file" +
                                          (watch_->Count() ? ": " + watch_->First() : std::string()));
    CheckReports("opening the product");
    const long level = d.GetProductLevel();
    if (d.GetSensorType() < 0 || level < 0)
        throw Unreadable(volumePath_, "not a PRISM or AVNIR-2 Level 1A, 1B1 or 1B2 product");
    if (ccd_ > 0) {
        if (d.GetSensorType() != 0 || level == 2)
            throw Failure(kExitUsage, "--ccd applies to PRISM Level 1A and 1B1 products only; " +
                                          volumePath_ + " is " + SensorName() + " Level " + LevelName());
        const long first = d.GetMinCcdNumber(), last = first + d.GetImgFileCount() - 1;
        if (ccd_ < first || ccd_ > last)
            throw Failure(kExitUsage, "--ccd " + std::to_string(ccd_) + ": the product has CCDs " +
                                          std::to_string(first) + " to " + std::to_string(last));
    }
    for (long k = 0; k < d.GetImgFileCount(); ++k) {
        const char* name = d.GetImageFileName(k);
        if (!name || !fs::is_regular_file(name, error))
            throw Unreadable(volumePath_, std::string("the product's image file ") +
                                              (name ? fs::path(name).filename().string() : std::to_string(k + 1)) +
                                              " is missing");
    }
    d.FileRead();
    CheckReports("reading the product's records");

    width_ = d.GetSceneWidth();
    height_ = d.GetSceneHeight();
    bands_ = static_cast<int>(std::max(0L, d.GetNumOfLayers()));
    if (width_ <= 0 || height_ <= 0 || bands_ <= 0)
        throw Unreadable(volumePath_, "the product has no image (" + std::to_string(width_) + " x " +
                                          std::to_string(height_) + " pixels, " + std::to_string(bands_) +
                                          " bands)");
    // Reading the first and the last row of each band finds a cut image file.
    std::vector<unsigned char> row(static_cast<size_t>(width_));
    unsigned char* data = row.data();
    for (int b = 0; b < bands_; ++b) {
        d.GetRow(b, 0, 0, &data);
        d.GetRow(b, static_cast<unsigned long>(height_ - 1), 0, &data);
    }
    CheckReports("reading its image rows");
}

Product::~Product() {
    if (dataset_) dataset_->FileClose();
}

void Product::CheckReports(const std::string& doing) {
    if (watch_->Count() == reportsSeen_) return;
    const size_t fresh = watch_->Count() - reportsSeen_;
    reportsSeen_ = watch_->Count();
    throw Unreadable(volumePath_, "cannot be read: " + std::to_string(fresh) + " failure(s) while " + doing +
                                      ", the first: " + watch_->First());
}

std::string Product::SensorName() const {
    const long sensor = dataset_->GetSensorType();
    return sensor == 0 ? "PRISM" : sensor == 1 ? "AVNIR-2" : "unknown";
}

std::string Product::LevelName() const {
    static const char* const names[] = {"1A", "1B1", "1B2"};
    const long level = dataset_->GetProductLevel();
    return level >= 0 && level <= 2 ? names[level] : "unknown";
}

nlohmann::ordered_json Product::Info() {
    CeosAlosjDataset& d = *dataset_;
    nlohmann::ordered_json info;
    info["alosjInfoVersion"] = 1;
    info["volumeDirectoryFile"] = fs::absolute(volumePath_).lexically_normal().string();
    info["sensor"] = SensorName();
    info["level"] = LevelName();
    const MissionType mode = d.GetObservationMode();
    info["observationMode"] = {{"code", ModeCode(mode)}, {"name", ModeName(mode)}};
    info["ccd"] = ccd_ > 0 ? nlohmann::ordered_json(ccd_) : nlohmann::ordered_json(nullptr);

    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (long k = 0; k < d.GetImgFileCount(); ++k) {
        const char* name = d.GetImageFileName(k);
        std::error_code error;
        const auto bytes = name ? fs::file_size(name, error) : 0;
        files.push_back({{"path", name ? name : ""}, {"bytes", error ? 0 : bytes}});
    }
    info["imageFiles"] = files;

    nlohmann::ordered_json layers = nlohmann::ordered_json::array();
    char** names = d.GetLayerNames();
    for (long k = 0; names && k < d.GetNumOfLayers(); ++k) layers.push_back(names[k] ? names[k] : "");
    info["layers"] = layers;
    info["width"] = width_;
    info["height"] = height_;
    info["pixelType"] = d.GetPixelType() == ALOSJ_PIXEL_INTEGER ? "integer" : "other";
    info["bytesPerPixel"] = d.GetNumOfBytesPerPixel();
    info["staggerShift"] = d.GetStaggerPixelShift();
    info["geocoded"] = d.IsGeocoded() == TMSC_TRUE;
    const char* projection = d.GetMapProjection();
    info["mapProjection"] = projection ? nlohmann::ordered_json(projection) : nlohmann::ordered_json(nullptr);
    info["utmZone"] = d.GetUTMZoneNum();
    info["hemisphere"] = d.GetUTMHemishpere() == 1 ? "north" : "south";
    info["pixelSize"] = {{"x", d.GetXPixelSize()}, {"y", d.GetYPixelSize()}};
    info["sceneCenterUtm"] = {{"easting", d.GetSceneCenterUTMX()}, {"northing", d.GetSceneCenterUTMY()}};
    info["projectionCenter"] = LatLon(d.GetProjectionCenterLat(), d.GetProjectionCenterLon());
    const bool mapped = projection && (std::string(projection) == "UTM" || std::string(projection) == "PS");
    info["upperLeftCorner"] = mapped ? nlohmann::ordered_json{{"easting", d.GetUpperLeftCornerEasting()},
                                                      {"northing", d.GetUpperLeftCornerNorthing()}}
                                     : nlohmann::ordered_json(nullptr);
    double lat, lon;
    nlohmann::ordered_json corners;
    d.GetULCornerLatLon(&lat, &lon);
    corners["upperLeft"] = LatLon(lat, lon);
    d.GetURCornerLatLon(&lat, &lon);
    corners["upperRight"] = LatLon(lat, lon);
    d.GetLRCornerLatLon(&lat, &lon);
    corners["lowerRight"] = LatLon(lat, lon);
    d.GetLLCornerLatLon(&lat, &lon);
    corners["lowerLeft"] = LatLon(lat, lon);
    info["corners"] = corners;
    info["ellipsoid"] = Trimmed(d.GetEllipsoidName());
    info["mapDirection"] = d.GetMapDirection() == CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH ? "TrueNorth" : "other";

    const Georeferencing g = GeoreferencingOf(d, width_, height_);
    nlohmann::ordered_json placement;
    placement["crs"] = g.crs;
    placement["epsg"] = g.epsg ? nlohmann::ordered_json(g.epsg) : nlohmann::ordered_json(nullptr);
    if (g.kind == Georeferencing::Kind::GeoTransform) {
        placement["method"] = "geotransform";
        placement["geoTransform"] = std::vector<double>(g.geoTransform, g.geoTransform + 6);
    } else {
        placement["method"] = "gcps";
        nlohmann::ordered_json gcps = nlohmann::ordered_json::array();
        for (const auto& p : g.gcps)
            gcps.push_back({{"pixel", p.pixel}, {"line", p.line}, {"longitude", p.longitude}, {"latitude", p.latitude}});
        placement["gcps"] = gcps;
    }
    placement["warning"] = g.warning.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(g.warning);
    info["georeferencing"] = placement;
    return info;
}

std::vector<int> ParseBands(const std::string& list, Product& product) {
    std::vector<int> bands;
    const int count = product.Bands();
    if (list.empty()) {
        for (int b = 0; b < count; ++b) bands.push_back(b);
        return bands;
    }
    auto bad = [&](const std::string& item) {
        return Failure(kExitUsage, "--bands: \"" + item + "\" is not a band of this product (bands 1 to " +
                                       std::to_string(count) + ", or Layer_1 to Layer_" + std::to_string(count) + ")");
    };
    auto number = [&](const std::string& text) -> int {
        if (text.empty() || text.size() > 6 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return 0;
        return std::stoi(text);
    };
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = Trimmed(list.substr(start, comma - start).c_str());
        start = comma + 1;
        if (StartsWithNoCase(item, "LAYER_")) {
            // The layer's exact name, not just a name that begins with it.
            const long b = product.Dataset().GetBandNum(item.c_str());
            if (b < 0 || "Layer_" + std::to_string(b + 1) != item) throw bad(item);
            bands.push_back(static_cast<int>(b));
            continue;
        }
        const size_t dash = item.find('-');
        const int first = number(item.substr(0, dash));
        const int last = dash == std::string::npos ? first : number(item.substr(dash + 1));
        if (first < 1 || last < first || last > count) throw bad(item);
        for (int b = first; b <= last; ++b) bands.push_back(b - 1);
    }
    return bands;
}

}  // namespace alosj
