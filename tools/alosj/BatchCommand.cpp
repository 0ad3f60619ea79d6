// alosj convert, batch and catalog: whole archives to cloud-native data.
//
// The unit of work is one product: `alosj convert` writes, into
// OUT/<item id>/, the product's COG, quicklook, sensor model (PRISM 1B1) and
// last its STAC Item, and prints one JSON line.  Every file is written under
// a temporary name and renamed when complete, and the Item comes last, so an
// Item names a product whose outputs are all there: that is what makes a
// second run skip it.  `alosj batch` finds the products under its sources
// and runs `alosj convert` for each in processes of their own, then writes
// the STAC Collection over every Item under OUT (`alosj catalog` alone).
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <thread>

#include <cpl_string.h>
#include <cpl_vsi.h>

#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"
#include "tools/describe/VirtualFileSystems.h"

extern char** environ;

namespace fs = std::filesystem;

namespace alosj {

using json = nlohmann::ordered_json;

namespace {

const char* const kCollectionFile = "collection.json";

/// Discards what a subcommand prints on stdout while it lives: convert's
/// stdout carries its JSON line alone.
class StdoutSilenced {
public:
    StdoutSilenced() : previous_(std::cout.rdbuf(nullptr)) {}
    ~StdoutSilenced() { std::cout.rdbuf(previous_); }
    StdoutSilenced(const StdoutSilenced&) = delete;
    StdoutSilenced& operator=(const StdoutSilenced&) = delete;

private:
    std::streambuf* previous_;
};

double PeakMemoryMb(const struct rusage& usage) { return static_cast<double>(usage.ru_maxrss) / 1024.0; }

double Rounded(double value) { return std::round(value * 100.0) / 100.0; }

/// Writes text to path under a temporary name beside it, then renames it.
void WriteFileWhole(const std::string& path, const std::string& text) {
    OutputFile staging(CreateUniqueFileBeside(path, ".json"));
    {
        std::ofstream out(staging.path(), std::ios::trunc);
        out << text;
        out.flush();
        if (!out) throw Failure(kExitFailure, path + ": cannot be written");
    }
    PublishOutput(staging.path(), path, true, "alosj");
    staging.Keep();
}

bool IsVolumeName(const std::string& name) { return alosjdescribe::SensorOfVolumeDirectoryName(name) >= 0; }

/// Adds the volume directory files inside an archive to products.
void FindInArchive(const std::string& archive, std::vector<std::string>* products) {
    const std::string root = alosjdescribe::ArchiveDirectoryName(archive);
    const CPLStringList entries(VSIReadDirRecursive(root.c_str()));
    for (int i = 0; i < entries.size(); ++i) {
        const std::string entry = entries[i];
        if (entry.empty() || entry.back() == '/') continue;
        if (IsVolumeName(fs::path(entry).filename().string())) products->push_back(root + "/" + entry);
    }
}

/// The products under source: directories at any depth, archives in them,
/// an archive, or a volume directory file.  What cannot be searched goes to
/// problems.
void FindProducts(const std::string& source, std::vector<std::string>* products,
                  std::vector<std::pair<std::string, std::string>>* problems) {
    std::error_code error;
    const fs::file_status status = fs::status(source, error);
    if (error || !fs::exists(status)) {
        problems->push_back({source, "no such file or directory"});
        return;
    }
    if (fs::is_regular_file(status)) {
        if (!alosjdescribe::ArchiveDirectoryName(source).empty())
            FindInArchive(source, products);
        else if (IsVolumeName(fs::path(source).filename().string()))
            products->push_back(source);
        else
            problems->push_back({source, "neither a volume directory file nor a .zip, .tar or .tar.gz file"});
        return;
    }
    if (!fs::is_directory(status)) {
        problems->push_back({source, "not a file or directory"});
        return;
    }
    fs::recursive_directory_iterator it(source, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        const std::string path = it->path().string();
        const std::string name = it->path().filename().string();
        if (IsVolumeName(name))
            products->push_back(path);
        else if (!alosjdescribe::ArchiveDirectoryName(name).empty())
            FindInArchive(path, products);
    }
    if (error) problems->push_back({source, "cannot be searched: " + error.message()});
}

/// Whether `inner` is `outer` or lies below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
    const fs::path a = fs::weakly_canonical(inner), b = fs::weakly_canonical(outer);
    auto i = a.begin();
    for (auto j = b.begin(); j != b.end(); ++j, ++i)
        if (i == a.end() || *i != *j) return false;
    return true;
}

json FailureLine(const std::string& source, const std::string& error) {
    return {{"source", source}, {"id", nullptr},        {"status", "failed"},         {"outputs", json::array()},
            {"seconds", 0},     {"peak_memory_mb", 0}, {"error", error}};
}

/// One product's outputs, the Item last.
struct Outputs {
    std::string directory, image, quicklook, sensorModel, item;
    std::vector<std::string> Assets() const {
        std::vector<std::string> assets = {image, quicklook};
        if (!sensorModel.empty()) assets.push_back(sensorModel);
        return assets;
    }
    std::vector<std::string> All() const {
        std::vector<std::string> all = Assets();
        all.push_back(item);
        return all;
    }
};

Outputs PlanOutputs(const std::string& out, const std::string& id, bool sensorModel) {
    Outputs o;
    o.directory = (fs::path(out) / id).string();
    o.image = (fs::path(o.directory) / (id + ".tif")).string();
    o.quicklook = (fs::path(o.directory) / (id + "-quicklook.png")).string();
    if (sensorModel) o.sensorModel = (fs::path(o.directory) / (id + "-sensor-model.json")).string();
    o.item = (fs::path(o.directory) / (id + ".json")).string();
    return o;
}

int ConvertProduct(const ConvertOptions& options, json& line) {
    ProductOptions productOptions = options.product;
    Outputs outputs;
    {
        Product product(productOptions);
        line["source"] = product.VolumePath();
        const std::string id = ItemId(product);
        line["id"] = id;
        outputs = PlanOutputs(options.out, id, alosjdescribe::HasSensorModel(product.Dataset()));
    }
    std::error_code error;
    const std::vector<std::string> all = outputs.All();
    if (!options.overwrite &&
        std::all_of(all.begin(), all.end(), [&](const std::string& p) { return fs::is_regular_file(p, error); })) {
        line["status"] = "skipped";
        line["outputs"] = all;
        return 0;
    }
    fs::create_directories(outputs.directory, error);
    if (error) throw Failure(kExitFailure, outputs.directory + ": cannot be made: " + error.message());
    // A stale Item must not vouch for outputs being rewritten.
    fs::remove(outputs.item, error);
    {
        StdoutSilenced silenced;
        ExportOptions exportOptions;
        exportOptions.product = productOptions;
        exportOptions.output = outputs.image;
        exportOptions.format = "COG";
        exportOptions.overwrite = true;
        exportOptions.warp = options.warp;
        RunExport(exportOptions);
        QuicklookOptions quicklook;
        quicklook.product = productOptions;
        quicklook.output = outputs.quicklook;
        RunQuicklook(quicklook);
    }
    Product product(productOptions);
    if (!outputs.sensorModel.empty()) {
        const json model = alosjdescribe::SensorModelJson(product.Dataset(), product.VolumePath());
        product.CheckReports("exporting the sensor model");
        WriteFileWhole(outputs.sensorModel, model.dump(2) + "\n");
    }
    GdalSession gdal;
    const json item = StacItem(product, outputs.Assets(), outputs.item, CollectionId(options.out));
    WriteFileWhole(outputs.item, item.dump(2) + "\n");
    line["status"] = "converted";
    line["outputs"] = outputs.All();
    return 0;
}

/// A running `alosj convert`.
struct Child {
    std::string source;
    int output = -1;  // the read end of its stdout
    std::string text;
};

pid_t SpawnConvert(const std::string& self, const std::string& product, const BatchOptions& options, int* output) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw Failure(kExitFailure, std::string("pipe: ") + std::strerror(errno));
    std::vector<std::string> args = {self, "-q", "convert", product, "--out", options.out};
    if (options.warp) args.push_back("--warp");
    if (options.overwrite) args.push_back("--overwrite");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (failed) {
        ::close(pipeEnds[0]);
        throw Failure(kExitFailure, self + ": cannot be started: " + std::strerror(failed));
    }
    *output = pipeEnds[0];
    return pid;
}

/// The line a finished child printed, or a failure line that says how it ended.
json FinishedLine(const Child& child, int status, const struct rusage& usage, double seconds) {
    const size_t newline = child.text.find('\n');
    const json parsed = json::parse(child.text.substr(0, newline), nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object() && parsed.contains("status")) return parsed;
    std::string how = WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                          : "ended with status " + std::to_string(WEXITSTATUS(status));
    json line = FailureLine(child.source, "alosj convert " + how + " without a report");
    line["seconds"] = Rounded(seconds);
    line["peak_memory_mb"] = Rounded(PeakMemoryMb(usage));
    return line;
}

}  // namespace

std::string ItemId(Product& product) {
    const CeosAlosjAcquisition& a = product.Description().Acquisition();
    std::string id = a.sceneId;
    if (!id.empty() && *a.productId) id += std::string("-") + a.productId;
    if (id.empty()) {
        id = fs::path(product.VolumePath()).filename().string();
        if (id.size() > 4 && id.compare(0, 4, "VOL-") == 0) id.erase(0, 4);
    }
    // One CCD file opened alone is not the product.
    if (product.Ccd() > 0) id += "-CCD" + std::to_string(product.Ccd());
    // A name for a directory and files: no separators, nothing hidden.
    for (char& c : id)
        if (c == '/' || c == '\\' || c == ' ' || c == ':') c = '_';
    if (id.empty() || id[0] == '.') id = "product" + id;
    return id;
}

std::string CollectionId(const std::string& out) {
    std::string id = fs::weakly_canonical(fs::absolute(out)).filename().string();
    return id.empty() ? "alosj" : id;
}

int RunConvert(const ConvertOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    json line = FailureLine(options.product.product, "");
    int status = 0;
    try {
        status = ConvertProduct(options, line);
        line["error"] = nullptr;
    } catch (const Failure& failure) {
        line["status"] = "failed";
        line["error"] = failure.what();
        status = failure.status();
    } catch (const std::exception& e) {
        line["status"] = "failed";
        line["error"] = e.what();
        status = kExitFailure;
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    line["seconds"] = Rounded(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    line["peak_memory_mb"] = Rounded(PeakMemoryMb(usage));
    std::cout << line.dump() << "\n" << std::flush;
    return status;
}

/// Four finite numbers, west, south, east, north, within ±180 and ±90.
static bool IsBoundingBox(const json& bbox) {
    if (!bbox.is_array() || bbox.size() != 4) return false;
    for (size_t k = 0; k < 4; ++k)
        if (!bbox[k].is_number() || !(std::fabs(bbox[k].get<double>()) <= (k % 2 ? 90.0 : 180.0))) return false;
    return bbox[0].get<double>() <= bbox[2].get<double>() && bbox[1].get<double>() <= bbox[3].get<double>();
}

int WriteCollection(const std::string& out) {
    std::vector<std::pair<std::string, json>> items;
    std::error_code error;
    for (fs::directory_iterator it(out, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_directory(error)) continue;
        const std::string id = it->path().filename().string();
        std::ifstream in(it->path() / (id + ".json"));
        if (!in) continue;
        json item = json::parse(in, nullptr, false);
        if (!item.is_object() || item.find("type") == item.end() || item["type"] != "Feature") continue;
        items.push_back({id, std::move(item)});
    }
    if (error) throw Failure(kExitFailure, out + ": cannot be listed: " + error.message());
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    int placed = 0;
    std::string first, last;
    std::set<std::string> instruments;
    std::set<double> gsds;
    json links = json::array();
    const std::string self = fs::weakly_canonical(fs::absolute(out) / kCollectionFile).string();
    links.push_back({{"rel", "root"}, {"href", std::string("./") + kCollectionFile}, {"type", "application/json"}});
    links.push_back({{"rel", "self"}, {"href", self}, {"type", "application/json"}});
    for (const auto& [id, item] : items) {
        // The Collection is made of the Items placed on the Earth: a bbox of
        // four finite numbers within ±180 and ±90; every value is checked
        // before it is read, so that no malformed Item stops the Collection.
        const auto bbox = item.find("bbox");
        const auto p = item.find("properties");
        if (bbox == item.end() || !IsBoundingBox(*bbox) || p == item.end() || !p->is_object()) continue;
        ++placed;
        minX = std::min(minX, (*bbox)[0].get<double>());
        minY = std::min(minY, (*bbox)[1].get<double>());
        maxX = std::max(maxX, (*bbox)[2].get<double>());
        maxY = std::max(maxY, (*bbox)[3].get<double>());
        for (const char* key : {"start_datetime", "datetime", "end_datetime"}) {
            if (!p->contains(key) || !(*p)[key].is_string()) continue;
            const std::string t = (*p)[key];
            if (first.empty() || t < first) first = t;
            if (last.empty() || t > last) last = t;
        }
        if (p->contains("instruments") && (*p)["instruments"].is_array())
            for (const json& i : (*p)["instruments"])
                if (i.is_string()) instruments.insert(i.get<std::string>());
        if (p->contains("gsd") && (*p)["gsd"].is_number()) gsds.insert((*p)["gsd"].get<double>());
        links.push_back({{"rel", "item"}, {"href", "./" + id + "/" + id + ".json"}, {"type", "application/json"}});
    }
    if (placed == 0) minX = -180, minY = -90, maxX = 180, maxY = 90;

    json collection;
    collection["type"] = "Collection";
    collection["stac_version"] = "1.0.0";
    collection["stac_extensions"] = json::array();
    collection["id"] = CollectionId(out);
    collection["title"] = "ALOS PRISM and AVNIR-2 Level 1 products";
    collection["description"] = "Cloud-optimised GeoTIFFs, quicklooks and sensor models of ALOS PRISM and AVNIR-2 "
                                "Level 1 products, converted by alosj " ALOSJ_VERSION ".";
    collection["license"] = "proprietary";
    collection["providers"] = {{{"name", "JAXA"}, {"roles", {"producer", "licensor"}}, {"url", "https://www.jaxa.jp"}}};
    collection["extent"] = {
        {"spatial", {{"bbox", {{minX, minY, maxX, maxY}}}}},
        {"temporal", {{"interval", json::array({json::array({first.empty() ? json(nullptr) : json(first),
                                                             last.empty() ? json(nullptr) : json(last)})})}}}};
    json summaries;
    summaries["platform"] = {"alos"};
    summaries["constellation"] = {"alos"};
    if (!instruments.empty()) summaries["instruments"] = instruments;
    if (!gsds.empty()) summaries["gsd"] = gsds;
    collection["summaries"] = summaries;
    collection["links"] = links;
    WriteFileWhole((fs::path(out) / kCollectionFile).string(), collection.dump(2) + "\n");
    return placed;
}

int RunCatalog(const CatalogOptions& options) {
    std::error_code error;
    if (!fs::is_directory(options.out, error)) throw Failure(kExitFailure, options.out + ": no such directory");
    const int count = WriteCollection(options.out);
    std::cout << "Wrote " << (fs::path(options.out) / kCollectionFile).string() << " (" << count << " item(s))\n";
    return 0;
}

int RunBatch(const BatchOptions& options) {
    alosjdescribe::MountGdalVirtualFileSystems();
    GdalSession gdal;
    for (const std::string& source : options.sources) {
        std::error_code error;
        if (fs::is_directory(source, error) && IsWithin(options.out, source))
            throw Failure(kExitUsage, "--out " + options.out + " lies inside the source " + source +
                                          "; nothing is written inside the sources");
    }
    std::vector<std::string> products;
    std::vector<std::pair<std::string, std::string>> problems;
    for (const std::string& source : options.sources) FindProducts(source, &products, &problems);
    std::sort(products.begin(), products.end());
    products.erase(std::unique(products.begin(), products.end()), products.end());
    if (options.list) {
        for (const std::string& p : products) std::cout << p << "\n";
        for (const auto& [source, problem] : problems) std::cerr << "alosj: " << source << ": " << problem << "\n";
        return problems.empty() ? 0 : kExitFailure;
    }

    std::error_code error;
    fs::create_directories(options.out, error);
    if (error || !fs::is_directory(options.out))
        throw Failure(kExitFailure, options.out + ": cannot be made: " + error.message());
    std::ofstream logFile;
    if (!options.log.empty()) {
        logFile.open(options.log, std::ios::app);
        if (!logFile) throw Failure(kExitFailure, options.log + ": cannot be written");
    }
    std::ostream& log = options.log.empty() ? std::cout : logFile;
    std::map<std::string, int> counts;
    size_t done = 0;
    const size_t total = products.size() + problems.size();
    auto report = [&](const json& line) {
        log << line.dump() << "\n" << std::flush;
        ++counts[line.value("status", "failed")];
        ++done;
        if (options.progress)
            std::cerr << "[" << done << "/" << total << "] " << line.value("status", "failed") << "  "
                      << (line["id"].is_string() ? line["id"].get<std::string>() : line.value("source", "")) << "\n";
    };
    for (const auto& [source, problem] : problems) report(FailureLine(source, source + ": " + problem));

    char selfBuffer[4096];
    const ssize_t selfLength = ::readlink("/proc/self/exe", selfBuffer, sizeof selfBuffer - 1);
    if (selfLength <= 0) throw Failure(kExitFailure, "cannot find the alosj executable to run conversions");
    const std::string self(selfBuffer, static_cast<size_t>(selfLength));
    const size_t jobs = options.jobs > 0 ? static_cast<size_t>(options.jobs)
                                         : std::max(1u, std::thread::hardware_concurrency());
    std::map<pid_t, Child> running;
    std::map<pid_t, std::chrono::steady_clock::time_point> started;
    size_t next = 0;
    while (next < products.size() || !running.empty()) {
        while (next < products.size() && running.size() < jobs) {
            Child child;
            child.source = products[next++];
            const pid_t pid = SpawnConvert(self, child.source, options, &child.output);
            started[pid] = std::chrono::steady_clock::now();
            running.emplace(pid, std::move(child));
        }
        // Read what the children print; a child whose stdout ends is reaped.
        std::vector<pollfd> fds;
        std::vector<pid_t> pids;
        for (auto& [pid, child] : running) {
            fds.push_back({child.output, POLLIN, 0});
            pids.push_back(pid);
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            throw Failure(kExitFailure, std::string("poll: ") + std::strerror(errno));
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            Child& child = running[pids[i]];
            char buffer[4096];
            const ssize_t got = ::read(child.output, buffer, sizeof buffer);
            if (got > 0) {
                child.text.append(buffer, static_cast<size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            ::close(child.output);
            int status = 0;
            struct rusage usage {};
            while (::wait4(pids[i], &status, 0, &usage) < 0 && errno == EINTR) {
            }
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started[pids[i]]).count();
            report(FinishedLine(child, status, usage, seconds));
            running.erase(pids[i]);
            started.erase(pids[i]);
        }
    }

    const int items = WriteCollection(options.out);
    const int failed = counts["failed"];
    std::cerr << "alosj batch: " << total << " product(s): " << counts["converted"] << " converted, "
              << counts["skipped"] << " skipped, " << failed << " failed; " << items << " item(s) in "
              << (fs::path(options.out) / kCollectionFile).string() << "\n";
    return failed ? kExitFailure : 0;
}

}  // namespace alosj
