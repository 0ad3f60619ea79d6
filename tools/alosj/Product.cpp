#include "tools/alosj/Product.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <numeric>

#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>

#include "tools/describe/VirtualFileSystems.h"

namespace alosj {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

/// A volume directory file name: the library knows the sensor from it.
bool IsVolumeName(const std::string& name) { return alosjdescribe::SensorOfVolumeDirectoryName(name) >= 0; }

std::string Trimmed(const char* text) {
    std::string s = text ? text : "";
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(s.begin());
    return s;
}

Failure Unreadable(const std::string& path, const std::string& problem) {
    return Failure(kExitFailure, path + ": " + problem);
}

/// The last component of a path ('/' or '\\' separated).
std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool IsRegularFile(const std::string& path) {
    VSIStatBufL stat;
    return VSIStatExL(path.c_str(), &stat, VSI_STAT_EXISTS_FLAG | VSI_STAT_NATURE_FLAG) == 0 &&
           VSI_ISREG(stat.st_mode);
}

}  // namespace

// ----------------------------------------------------------------- reports --

ReportWatch::ReportWatch(bool quiet) : quiet_(quiet), scope_(&ReportWatch::Handler, this) {}

ReportWatch::~ReportWatch() = default;

void ReportWatch::Handler(const CeosAlosjReport* report, void* self) {
    auto* watch = static_cast<ReportWatch*>(self);
    if (!watch->quiet_) CeosAlosjPrintReportToStderr(report, nullptr);
    // A warning tells of something the library put right and went on.
    if (!report || report->severity < CEOSALOSJ_SEVERITY_FAILURE) return;
    if (watch->count_++ == 0) watch->first_ = CeosAlosjReportText(report);
}

// ------------------------------------------------------------------ opening --

namespace {
std::atomic<long> productOpens{0};
std::atomic<long> workerHandles{0};
thread_local bool onWorker = false;
}  // namespace

void CountProductOpen() { ++(onWorker ? workerHandles : productOpens); }

void OpensOnThisThreadAreWorkerHandles() { onWorker = true; }

long WorkerHandles() { return workerHandles.load(); }

long ProductOpens() { return productOpens.load(); }

const char* const kReportOpensVariable = "ALOSJ_REPORT_OPENS";

// ------------------------------------------------------------------ finding --

void RefuseOutputInProduct(const std::string& output, const Product& product) {
    const std::string& volume = product.VolumePath();
    if (output.empty() || volume.rfind("/vsi", 0) == 0) return;
    namespace fs = std::filesystem;
    std::error_code directoryError, outputError;
    const fs::path directory = fs::weakly_canonical(fs::absolute(volume).parent_path(), directoryError);
    const fs::path target = fs::weakly_canonical(fs::absolute(output), outputError);
    if (directoryError || outputError) return;
    if (std::mismatch(directory.begin(), directory.end(), target.begin(), target.end()).first == directory.end())
        throw Failure(kExitUsage, output + " lies inside the product's directory " + directory.string() +
                                      "; nothing is written inside a product");
}

std::string FindVolumeDirectoryFile(const std::string& given) {
    alosjdescribe::MountGdalVirtualFileSystems();
    alosjdescribe::SetRemoteReadDefaults();
    // A zip or tar file is read as the directory it holds.
    const std::string archive = alosjdescribe::ArchiveDirectoryName(given);
    const std::string path = archive.empty() ? given : archive;
    VSIStatBufL stat;
    CPLErrorReset();
    if (VSIStatExL(path.c_str(), &stat, VSI_STAT_EXISTS_FLAG | VSI_STAT_NATURE_FLAG) != 0) {
        // A server that does not answer is not a missing file; a damaged
        // local archive is said to be one below.
        const bool remote = path.compare(0, 4, "/vsi") == 0 && path.compare(0, 8, "/vsizip/") != 0 &&
                            path.compare(0, 8, "/vsitar/") != 0 && path.compare(0, 9, "/vsigzip/") != 0 &&
                            path.compare(0, 8, "/vsimem/") != 0;
        if (remote && CPLGetLastErrorType() != CE_None)
            throw Unreadable(given, std::string("cannot be reached: ") + CPLGetLastErrorMsg());
        throw Unreadable(given, archive.empty() ? "no such file or directory" : "not a readable archive");
    }
    if (VSI_ISDIR(stat.st_mode)) {
        const CPLStringList entries(VSIReadDir(path.c_str()));
        std::vector<std::string> found;
        for (int i = 0; i < entries.size(); ++i) {
            const std::string name = entries[i];
            const std::string file = path + (path.back() == '/' ? "" : "/") + name;
            if (IsVolumeName(name) && IsRegularFile(file)) found.push_back(file);
        }
        if (found.empty() && !archive.empty()) {
            // An archive's product may lie in a directory inside it.
            const CPLStringList all(VSIReadDirRecursive(path.c_str()));
            for (int i = 0; i < all.size(); ++i) {
                const std::string entry = all[i];
                if (!entry.empty() && entry.back() != '/' && IsVolumeName(FileName(entry)))
                    found.push_back(path + "/" + entry);
            }
        }
        if (found.empty())
            throw Unreadable(given, "no product here: no volume directory file VOL-ALPSM* (PRISM) or "
                                    "VOL-ALAV2* (AVNIR-2)");
        if (found.size() > 1) {
            std::sort(found.begin(), found.end());
            std::string names;
            for (const std::string& f : found) names += (names.empty() ? "" : ", ") + FileName(f);
            throw Unreadable(given, "several products here (" + names + "); name the volume directory file of one");
        }
        return found.front();
    }
    if (!VSI_ISREG(stat.st_mode)) throw Unreadable(given, "not a regular file");
    if (!IsVolumeName(FileName(path)))
        throw Unreadable(given, "not a volume directory file: its name must contain VOL-ALPSM (PRISM) "
                                "or VOL-ALAV2 (AVNIR-2)");
    return path;
}

// ------------------------------------------------------------------ product --

Product::Product(const ProductOptions& options) : ccd_(options.ccd) {
    volumePath_ = FindVolumeDirectoryFile(options.product);
    watch_ = std::make_unique<ReportWatch>(options.quiet);

    // The leader file sits beside the volume directory file with LED in place of VOL.
    const std::string leader = "LED" + FileName(volumePath_).substr(3);
    if (!IsRegularFile(DirectoryOf(volumePath_) + "/" + leader))
        throw Unreadable(volumePath_, "the product's leader file " + leader + " is missing");

    dataset_ = ccd_ > 0 ? std::make_unique<CeosAlosjDataset>(volumePath_.c_str(), ccd_)
                        : std::make_unique<CeosAlosjDataset>(volumePath_.c_str());
    CeosAlosjDataset& d = *dataset_;
    CountProductOpen();
    if (d.FileOpen(nullptr) < 0)
        throw Unreadable(volumePath_, "not a readable volume directory file" +
                                          (watch_->Count() ? ": " + watch_->First() : std::string()));
    CheckReports("opening the product");
    const long level = d.GetProductLevel();
    if (d.GetSensorType() < 0 || level < 0)
        throw Unreadable(volumePath_, "not a PRISM or AVNIR-2 Level 1A, 1B1 or 1B2 product");
    if (ccd_ > 0) {
        if (d.GetSensorType() != alosjdescribe::kPrism || level == alosjdescribe::kLevel1B2)
            throw Failure(kExitUsage, "--ccd applies to PRISM Level 1A and 1B1 products only; " +
                                          volumePath_ + " is " + SensorName() + " Level " + LevelName());
        const long first = d.GetMinCcdNumber(), last = first + d.GetImgFileCount() - 1;
        if (ccd_ < first || ccd_ > last)
            throw Failure(kExitUsage, "--ccd " + std::to_string(ccd_) + ": the product has CCDs " +
                                          std::to_string(first) + " to " + std::to_string(last));
    }
    for (long k = 0; k < d.GetImgFileCount(); ++k) {
        const char* name = d.GetImageFileName(k);
        if (!name || !IsRegularFile(name))
            throw Unreadable(volumePath_, std::string("the product's image file ") +
                                              (name ? FileName(name) : std::to_string(k + 1)) + " is missing");
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
    description_ = std::make_unique<alosjdescribe::ProductDescription>(d, ccd_);
    CheckReports("describing it");
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
    const char* name = alosjdescribe::SensorName(dataset_->GetSensorType());
    return name ? name : "unknown";
}

std::string Product::LevelName() const {
    const char* name = alosjdescribe::LevelName(dataset_->GetProductLevel());
    return name ? name : "unknown";
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

std::vector<size_t> ColourPositions(const alosjdescribe::ProductDescription& description,
                                    const std::vector<int>& bands) {
    std::vector<size_t> positions;
    for (GDALColorInterp colour : {GCI_RedBand, GCI_GreenBand, GCI_BlueBand})
        for (size_t k = 0; k < bands.size(); ++k)
            if (description.Bands()[static_cast<size_t>(bands[k])].colour == colour) positions.push_back(k);
    if (positions.size() != 3) positions.clear();
    return positions;
}

std::vector<size_t> ColourPositions(const alosjdescribe::ProductDescription& description) {
    std::vector<int> bands(description.Bands().size());
    std::iota(bands.begin(), bands.end(), 0);
    return ColourPositions(description, bands);
}

}  // namespace alosj
