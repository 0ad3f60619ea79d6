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
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
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

#include "tools/alosj/Export.h"
#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Progress.h"
#include "tools/alosj/Quicklook.h"
#include "tools/describe/VirtualFileSystems.h"

extern char** environ;

namespace fs = std::filesystem;

namespace alosj {

using json = nlohmann::ordered_json;

namespace {

const char* const kCollectionFile = "collection.json";
const char* const kItemsFile = "items.json";
constexpr size_t kChildTextLimit = 1 << 20;
// Locks: OUT/<id>.alosj-lock (a product's conversion), OUT/.alosj-lock (the catalogue).

double PeakMemoryMb(const struct rusage& usage) { return static_cast<double>(usage.ru_maxrss) / 1024.0; }

double Rounded(double value) { return std::round(value * 100.0) / 100.0; }

/// Writes a JSON document whole to path, replacing what was there.
void WriteJsonFile(const std::string& path, const json& document) {
    WriteTextFile(path, JsonText(document, 2) + "\n", true, "alosj");
}

bool IsVolumeName(const std::string& name) { return alosjdescribe::SensorOfVolumeDirectoryName(name) >= 0; }

bool IsVirtual(const std::string& path) { return path.compare(0, 4, "/vsi") == 0; }

/// An absolute path, so that the products' names (and /vsizip/ names built
/// on them) mean the same in every process; GDAL virtual paths stay.
std::string Absolute(const std::string& path) {
    if (IsVirtual(path)) return path;
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

/// What the sources hold: products, and what could not be searched.
struct Search {
    std::vector<std::string> products;
    std::vector<std::pair<std::string, std::string>> problems;
    std::set<std::string> visited;  // canonical directories: a linked directory is searched once
    size_t Found() const { return products.size() + problems.size(); }
};

/// Adds the volume directory files inside an archive to the search.
void FindInArchive(const std::string& archive, Search& search) {
    const std::string root = alosjdescribe::ArchiveDirectoryName(archive);
    VSIStatBufL stat;
    if (VSIStatL(root.c_str(), &stat) != 0 || !VSI_ISDIR(stat.st_mode)) {
        search.problems.push_back({archive, "not a readable archive"});
        return;
    }
    const size_t before = search.Found();
    const CPLStringList entries(VSIReadDirRecursive(root.c_str()));
    for (int i = 0; i < entries.size(); ++i) {
        const std::string entry = entries[i];
        if (entry.empty() || entry.back() == '/') continue;
        const std::string name = fs::path(entry).filename().string();
        if (IsVolumeName(name))
            search.products.push_back(root + "/" + entry);
        else if (!alosjdescribe::ArchiveDirectoryName(name).empty())
            search.problems.push_back({root + "/" + entry, "an archive inside an archive is not searched; unpack it"});
    }
    if (search.Found() == before) search.problems.push_back({archive, "holds no product"});
}

/// Adds what a directory holds at any depth, following symbolic links.
void FindInDirectory(const fs::path& directory, Search& search) {
    std::error_code error;
    const fs::path canonical = fs::canonical(directory, error);
    if (error) {
        search.problems.push_back({directory.string(), "cannot be searched: " + error.message()});
        return;
    }
    if (!search.visited.insert(canonical.string()).second) return;
    std::vector<fs::path> entries;
    fs::directory_iterator it(directory, error), end;
    for (; !error && it != end; it.increment(error)) entries.push_back(it->path());
    if (error) search.problems.push_back({directory.string(), "cannot be searched: " + error.message()});
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        const fs::file_status status = fs::status(entry, error);
        const std::string name = entry.filename().string();
        if (error || !fs::exists(status)) {
            const std::string problem = "cannot be read: " + error.message();
            search.problems.push_back(
                {entry.string(), fs::is_symlink(fs::symlink_status(entry, error)) ? "a symbolic link to nothing" : problem});
        } else if (fs::is_directory(status)) {
            FindInDirectory(entry, search);
        } else if (fs::is_regular_file(status)) {
            if (IsVolumeName(name))
                search.products.push_back(entry.string());
            else if (!alosjdescribe::ArchiveDirectoryName(name).empty())
                FindInArchive(entry.string(), search);
        }
    }
}

/// The products under source: directories at any depth, archives in them,
/// an archive, or a volume directory file (also a GDAL virtual path).  What
/// cannot be searched, or holds no product, is a problem.
void FindProducts(const std::string& source, Search& search) {
    if (IsVirtual(source)) {
        VSIStatBufL stat;
        if (IsVolumeName(fs::path(source).filename().string()) && VSIStatL(source.c_str(), &stat) == 0)
            search.products.push_back(source);
        else
            search.problems.push_back({source, "a GDAL virtual path must name a volume directory file that exists"});
        return;
    }
    std::error_code error;
    const fs::file_status status = fs::status(source, error);
    if (error || !fs::exists(status)) {
        search.problems.push_back({source, "no such file or directory"});
        return;
    }
    if (fs::is_regular_file(status)) {
        if (!alosjdescribe::ArchiveDirectoryName(source).empty())
            FindInArchive(source, search);
        else if (IsVolumeName(fs::path(source).filename().string()))
            search.products.push_back(source);
        else
            search.problems.push_back({source, "neither a volume directory file nor a .zip, .tar or .tar.gz file"});
        return;
    }
    if (!fs::is_directory(status)) {
        search.problems.push_back({source, "not a file or directory"});
        return;
    }
    // A directory searched already, as part of another source, is not again.
    const fs::path canonical = fs::canonical(source, error);
    if (!error && search.visited.count(canonical.string())) return;
    const size_t before = search.Found();
    FindInDirectory(source, search);
    if (search.Found() == before) search.problems.push_back({source, "holds no product"});
}

/// Whether `inner` is `outer` or lies below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
    const fs::path a = fs::weakly_canonical(inner), b = fs::weakly_canonical(outer);
    auto i = a.begin();
    for (auto j = b.begin(); j != b.end(); ++j, ++i)
        if (i == a.end() || *i != *j) return false;
    return true;
}

/// The directory that holds what `source` names, when it is one on disk
/// that outputs must stay out of: a directory itself, or a volume
/// directory file's directory; "" for archives and virtual paths.
std::string GuardedDirectory(const std::string& source) {
    if (IsVirtual(source)) return "";
    std::error_code error;
    if (fs::is_directory(source, error)) return source;
    if (IsVolumeName(fs::path(source).filename().string())) return fs::absolute(source).parent_path().string();
    return "";
}

void RefuseOutputInside(const std::string& out, const std::string& source) {
    const std::string guarded = GuardedDirectory(source);
    if (!guarded.empty() && IsWithin(out, guarded))
        throw Failure(kExitUsage, "--out " + out + " lies inside the source " + guarded +
                                      "; nothing is written inside the sources");
}

json FailureLine(const std::string& source, const std::string& error) {
    return {{"source", source}, {"id", nullptr},        {"status", "failed"},         {"outputs", json::array()},
            {"seconds", 0},     {"peak_memory_mb", 0}, {"error", error}};
}

/// One product's outputs, the Item last.
struct Outputs {
    std::string directory, image, style, quicklook, sensorModel, item;
    std::vector<std::string> Assets() const {
        std::vector<std::string> assets = {image, quicklook};
        if (!sensorModel.empty()) assets.push_back(sensorModel);
        return assets;
    }
    std::vector<std::string> All() const {
        std::vector<std::string> all = Assets();
        all.push_back(style);  // the export's QGIS style, beside the image
        all.push_back(item);
        return all;
    }
};

Outputs PlanOutputs(const std::string& out, const std::string& id, bool sensorModel) {
    Outputs o;
    o.directory = (fs::path(out) / id).string();
    o.image = (fs::path(o.directory) / (id + ".tif")).string();
    o.style = (fs::path(o.directory) / (id + ".qml")).string();
    o.quicklook = (fs::path(o.directory) / (id + "-quicklook.png")).string();
    if (sensorModel) o.sensorModel = (fs::path(o.directory) / (id + "-sensor-model.json")).string();
    o.item = (fs::path(o.directory) / (id + ".json")).string();
    return o;
}

/// A text as it reads back from alosj's JSON (bytes that are not UTF-8
/// replaced), to compare with what a document records.
std::string AsWritten(const std::string& text) {
    return json::parse(JsonText(json(text))).get<std::string>();
}

/// The options that shape a product's outputs, and where it came from: kept
/// in the Item (processing:expression), so that a later run tells whether
/// its outputs are the ones it would make.
json Recipe(const std::string& source, const ConvertOptions& options) {
    // A product on disk is named by its directory's real path, however it
    // was reached (through a link, a relative name).
    std::string identity = source;
    std::error_code error;
    if (!IsVirtual(source)) {
        const fs::path directory = fs::weakly_canonical(fs::path(source).parent_path(), error);
        if (!error) identity = (directory / fs::path(source).filename()).string();
    }
    return {{"source", AsWritten(identity)}, {"image", "COG"}, {"warp", options.warp}};
}

std::string RecordedSource(const json& recipe) {
    return recipe.contains("source") && recipe["source"].is_string() ? recipe["source"].get<std::string>() : "";
}

const char* const kRecipeFormat = "alosj convert";

/// The recipe an Item records, or null (no Item, or one from a version of
/// alosj that recorded none).
json RecordedRecipe(const std::string& item) {
    std::ifstream in(item);
    if (!in) return nullptr;
    const json parsed = json::parse(in, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("properties") || !parsed["properties"].is_object()) return nullptr;
    const json& p = parsed["properties"];
    if (!p.contains("processing:expression")) return nullptr;
    const json& e = p["processing:expression"];
    if (!e.is_object() || e.value("format", "") != kRecipeFormat || !e.contains("expression") ||
        !e["expression"].is_object())
        return nullptr;
    return e["expression"];
}

/// The differences of two recipes' options, e.g. "warp: false, not true".
std::string Differences(const json& recorded, const json& wanted) {
    std::string text;
    for (const auto& [key, value] : wanted.items()) {
        if (key == "source") continue;
        const json was = recorded.contains(key) ? recorded[key] : json(nullptr);
        if (was != value) text += (text.empty() ? "" : ", ") + key + ": " + JsonText(was) + ", not " + JsonText(value);
    }
    return text;
}

/// The environment variable through which alosj batch gives its children
/// its process id: a child ends when that process does.
const char* const kParentVariable = "ALOSJ_BATCH_PARENT";

/// A child of alosj batch ends (SIGTERM, which removes its temporaries)
/// when the batch does, however that ends.
void EndWithParent() {
    const char* variable = std::getenv(kParentVariable);
    if (!variable) return;
    const std::string parent = variable;
    ::unsetenv(kParentVariable);  // for this process alone, never for what it starts
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The batch may have ended before the line above.
    if (std::to_string(::getppid()) != parent)
        throw Failure(kExitFailure, "the alosj batch that started this conversion has ended");
}

int ConvertProduct(const ConvertOptions& options, json& line) {
    const ProductOptions& productOptions = options.product;
    // The product is opened and decoded once: every output is made from it.
    Product product(productOptions);
    const std::string source = product.VolumePath();
    line["source"] = source;
    const std::string id = ItemId(product);
    line["id"] = id;
    const bool sensorModel = alosjdescribe::HasSensorModel(product.Dataset());
    RefuseOutputInside(options.out, productOptions.product);
    RefuseOutputInside(options.out, source);
    const Outputs outputs = PlanOutputs(options.out, id, sensorModel);
    std::error_code error;
    fs::create_directories(options.out, error);
    if (error) throw Failure(kExitFailure, options.out + ": cannot be made: " + error.message());
    // One conversion at a time writes a product's directory: another
    // product with the same id is refused, never mixed in.  The lock lies
    // beside the directory, which a run that skips leaves untouched.
    const FileLock lock(outputs.directory + kLockSuffix, source, false);
    if (!lock.Held())
        throw Failure(kExitFailure, outputs.directory + ": being written at this moment by another alosj convert" +
                                        (lock.Holder().empty() ? "" : " from " + lock.Holder()) + "; " + source +
                                        " has the same id " + id + " and is not converted");
    fs::create_directories(outputs.directory, error);
    if (error) throw Failure(kExitFailure, outputs.directory + ": cannot be made: " + error.message());
    RemoveStaleTemporaries(outputs.directory);
    const json recipe = Recipe(source, options);
    const json recorded = RecordedRecipe(outputs.item);
    // Another product that is still where the Item says holds the id; a
    // source that moved (its old place is gone) is the same product.
    VSIStatBufL stat;
    if (recorded.is_object() && RecordedSource(recorded) != RecordedSource(recipe) &&
        VSIStatExL(RecordedSource(recorded).c_str(), &stat, VSI_STAT_EXISTS_FLAG) == 0)
        throw Failure(kExitFailure, outputs.directory + " holds " + id + " converted from " +
                                        RecordedSource(recorded) + "; " + source +
                                        " has the same id and is not converted (remove that directory to convert "
                                        "it there, or convert it into another --out)");
    const std::vector<std::string> all = outputs.All();
    const bool complete =
        std::all_of(all.begin(), all.end(), [&](const std::string& p) { return fs::is_regular_file(p, error); });
    const std::string differences = recorded.is_object() ? Differences(recorded, recipe) : "";
    if (complete && !options.overwrite && differences.empty()) {
        line["status"] = "skipped";
        line["outputs"] = all;
        return 0;
    }
    if (complete && !differences.empty()) line["redone"] = "made with other options (" + differences + ")";
    // A stale Item must not vouch for outputs being rewritten.
    fs::remove(outputs.item, error);
    GdalSession gdal;
    // One pass over the rows makes the COG, its overviews and the
    // quicklook; a warp reads the rows its own way, so the quicklook (of
    // the raster as the product has it) then reads them in a pass of its own.
    ExportOptions exportOptions;
    exportOptions.product = productOptions;
    exportOptions.output = outputs.image;
    exportOptions.format = "COG";
    exportOptions.overwrite = true;
    exportOptions.warp = options.warp;
    QuicklookReduction quicklook(product.Description(), product.Width(), product.Height(),
                                 QuicklookOptions().size);
    ExportProduct(product, exportOptions,
                  [&](int band, long top, long rows, const unsigned char* data) {
                      quicklook.Push(band, top, rows, data);
                  });
    if (options.warp) {
        // The warper reads rows in its own order: the quicklook has a pass of its own.
        ProgressBar bar("quicklook", false, productOptions.quiet);
        ReduceQuicklook(product, quicklook, &bar);
        bar.Finish();
    }
    quicklook.Write(outputs.quicklook);
    if (!outputs.sensorModel.empty()) {
        const json model = alosjdescribe::SensorModelJson(product.Dataset(), product.VolumePath());
        product.CheckReports("exporting the sensor model");
        WriteJsonFile(outputs.sensorModel, model);
    }
    json item = StacItem(product, outputs.Assets(), outputs.item, CollectionId(options.out));
    item["properties"]["processing:lineage"] =
        std::string("Converted by alosj ") + ALOSJ_VERSION + " from " + source + (options.warp ? ", map-projected" : "");
    item["properties"]["processing:expression"] = {{"format", kRecipeFormat}, {"expression", recipe}};
    WriteJsonFile(outputs.item, item);
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
    // The child ends when this process does (EndWithParent).
    std::string parent = std::string(kParentVariable) + "=" + std::to_string(::getpid());
    std::vector<char*> environment;
    const size_t nameLength = std::strlen(kParentVariable);
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, kParentVariable, nameLength) != 0 || (*e)[nameLength] != '=') environment.push_back(*e);
    environment.push_back(parent.data());
    environment.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environment.data());
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
    json parsed = json::parse(child.text.substr(0, newline), nullptr, false);
    // Whatever a child printed, the batch goes on with a line of its schema.
    if (!parsed.is_discarded() && parsed.is_object() && parsed.contains("status") && parsed["status"].is_string() &&
        std::set<std::string>{"converted", "skipped", "failed"}.count(parsed["status"].get<std::string>())) {
        if (!parsed.contains("source") || !parsed["source"].is_string()) parsed["source"] = child.source;
        if (!parsed.contains("id") || !(parsed["id"].is_string() || parsed["id"].is_null())) parsed["id"] = nullptr;
        return parsed;
    }
    std::string how = WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                          : "ended with status " + std::to_string(WEXITSTATUS(status));
    json line = FailureLine(child.source, "alosj convert " + how + " without a report");
    line["seconds"] = Rounded(seconds);
    line["peak_memory_mb"] = Rounded(PeakMemoryMb(usage));
    return line;
}

std::string ItemIdOf(const CeosAlosjAcquisition& a, const std::string& volumePath, long ccd) {
    std::string id = a.sceneId;
    if (!id.empty() && *a.productId) id += std::string("-") + a.productId;
    if (id.empty()) {
        id = fs::path(volumePath).filename().string();
        if (id.size() > 4 && id.compare(0, 4, "VOL-") == 0) id.erase(0, 4);
    }
    // One CCD file opened alone is not the product.
    if (ccd > 0) id += "-CCD" + std::to_string(ccd);
    // A name for a directory and files, the same in JSON: no separators,
    // nothing hidden, printable ASCII only.
    for (char& c : id)
        if (c == '/' || c == '\\' || c == ' ' || c == ':' || c < 0x21 || c > 0x7e) c = '_';
    if (id.empty() || id[0] == '.') id = "product" + id;
    return id;
}

/// The id of a product that failed to convert, as far as it can be read,
/// and its volume directory file; "" what is not known.
std::pair<std::string, std::string> KnownItemId(const ProductOptions& options) {
    try {
        const std::string volume = FindVolumeDirectoryFile(options.product);
        const ReportWatch quiet(true);
        CeosAlosjDataset d(volume.c_str());
        CountProductOpen();
        if (d.FileOpen(nullptr) < 0) return {"", volume};
        d.FileRead();
        CeosAlosjAcquisition a;
        d.GetAcquisition(&a);
        d.FileClose();
        return {ItemIdOf(a, volume, options.ccd), volume};
    } catch (const std::exception&) {
        return {"", ""};
    }
}

}  // namespace

std::string ItemId(Product& product) {
    return ItemIdOf(product.Description().Acquisition(), product.VolumePath(), product.Ccd());
}

std::string CollectionId(const std::string& out) {
    std::string id = fs::weakly_canonical(fs::absolute(out)).filename().string();
    return id.empty() ? "alosj" : id;
}

int RunConvert(const ConvertOptions& given) {
    const auto start = std::chrono::steady_clock::now();
    ConvertOptions options = given;
    options.product.product = Absolute(options.product.product);
    options.out = Absolute(options.out);
    json line = FailureLine(options.product.product, "");
    int status = 0;
    try {
        EndWithParent();
        status = ConvertProduct(options, line);
        line["error"] = nullptr;
    } catch (const std::exception& e) {
        line["status"] = "failed";
        line["error"] = e.what();
        status = ExitStatusOf(e);
    }
    if (line["id"].is_null()) {
        const auto [id, volume] = KnownItemId(options.product);
        if (!id.empty()) line["id"] = id;
        if (!volume.empty()) line["source"] = volume;
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    line["seconds"] = Rounded(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    line["peak_memory_mb"] = Rounded(PeakMemoryMb(usage));
    std::cout << JsonText(line) << "\n" << std::flush;
    return status;
}

namespace {

/// Four finite numbers, west, south, east, north, within ±180 and ±90.
bool IsBoundingBox(const json& bbox) {
    if (!bbox.is_array() || bbox.size() != 4) return false;
    for (size_t k = 0; k < 4; ++k)
        if (!bbox[k].is_number() || !(std::fabs(bbox[k].get<double>()) <= (k % 2 ? 90.0 : 180.0))) return false;
    return bbox[0].get<double>() <= bbox[2].get<double>() && bbox[1].get<double>() <= bbox[3].get<double>();
}

/// A relative href of the Item in OUT/<id>/ as seen from OUT, or (`absolute`)
/// as an absolute path.
std::string FromOut(const std::string& out, const std::string& id, const std::string& href, bool absolute) {
    if (href.empty() || href[0] == '/' || href.find("://") != std::string::npos) return href;
    const fs::path relative = (fs::path(id) / href).lexically_normal();
    return absolute ? (fs::path(out) / relative).string() : "./" + relative.generic_string();
}

/// The Item for OUT/items.json: links relative to OUT, asset hrefs
/// absolute (GDAL's STACIT driver takes relative ones from the working
/// directory, not from the file).
json ItemFromOut(const std::string& out, const std::string& id, json item) {
    if (item.contains("assets") && item["assets"].is_object())
        for (auto& [key, asset] : item["assets"].items())
            if (asset.is_object() && asset.contains("href") && asset["href"].is_string())
                asset["href"] = FromOut(out, id, asset["href"].get<std::string>(), true);
    if (item.contains("links") && item["links"].is_array())
        for (json& link : item["links"])
            if (link.is_object() && link.contains("href") && link["href"].is_string())
                link["href"] = FromOut(out, id, link["href"].get<std::string>(), false);
    return item;
}

}  // namespace

int WriteCollection(const std::string& out) {
    // One writer of the Collection at a time; what a killed one left goes.
    const FileLock lock((fs::path(out) / kLockSuffix).string(), "alosj catalog", true);
    for (const char* name : {kCollectionFile, kItemsFile}) RemoveStaleTemporaries(out, name);
    // A product's lock that nobody holds was left by a killed conversion.
    std::error_code listing;
    for (fs::directory_iterator it(out, listing), end; !listing && it != end; it.increment(listing)) {
        const std::string name = it->path().filename().string();
        if (name.size() > std::strlen(kLockSuffix) && it->path().extension() == kLockSuffix) {
            const FileLock stale(it->path().string(), "", false);  // removed when taken
        }
    }

    std::vector<std::pair<std::string, json>> items;
    std::error_code error;
    for (fs::directory_iterator it(out, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_directory(error)) continue;
        const std::string id = it->path().filename().string();
        std::ifstream in(it->path() / (id + ".json"));
        if (!in) continue;
        json item = json::parse(in, nullptr, false);
        if (!item.is_object() || !item.contains("type") || item["type"] != "Feature") continue;
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
    json features = json::array();
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
        features.push_back(ItemFromOut(fs::weakly_canonical(fs::absolute(out)).string(), id, item));
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
    WriteJsonFile((fs::path(out) / kCollectionFile).string(), collection);
    // The Items as one STAC ItemCollection (a GeoJSON FeatureCollection),
    // which GDAL's STACIT driver opens as one mosaic.
    const json itemCollection = {
        {"type", "FeatureCollection"},
        {"features", features},
        {"links", json::array({{{"rel", "root"}, {"href", std::string("./") + kCollectionFile}, {"type", "application/json"}},
                               {{"rel", "parent"}, {"href", std::string("./") + kCollectionFile}, {"type", "application/json"}}})}};
    WriteJsonFile((fs::path(out) / kItemsFile).string(), itemCollection);
    return placed;
}

int RunCatalog(const CatalogOptions& options) {
    std::error_code error;
    if (!fs::is_directory(options.out, error)) throw Failure(kExitFailure, options.out + ": no such directory");
    const int count = WriteCollection(options.out);
    std::cout << "Wrote " << (fs::path(options.out) / kCollectionFile).string() << " (" << count << " item(s))\n";
    return 0;
}

int RunBatch(const BatchOptions& given) {
    alosjdescribe::MountGdalVirtualFileSystems();
    alosjdescribe::SetRemoteReadDefaults();
    GdalSession gdal;
    BatchOptions options = given;
    if (options.out.empty() && !options.list) throw Failure(kExitUsage, "batch: --out is required (except with --list)");
    if (options.nul && !options.list) throw Failure(kExitUsage, "batch: -0 goes with --list");
    if (!options.out.empty()) options.out = Absolute(options.out);
    for (std::string& source : options.sources) {
        source = Absolute(source);
        if (!options.out.empty()) RefuseOutputInside(options.out, source);
    }
    Search search;
    for (const std::string& source : options.sources) FindProducts(source, search);
    std::vector<std::string>& products = search.products;
    std::sort(products.begin(), products.end());
    products.erase(std::unique(products.begin(), products.end()), products.end());
    auto& problems = search.problems;
    if (options.list) {
        bool unlisted = false;
        for (const std::string& p : products) {
            if (!options.nul && p.find('\n') != std::string::npos) {
                std::cerr << "alosj: " << p << ": a name with a line break; list with -0\n";
                unlisted = true;
                continue;
            }
            std::cout << p << (options.nul ? '\0' : '\n');
        }
        std::cout << std::flush;
        for (const auto& [source, problem] : problems) std::cerr << "alosj: " << source << ": " << problem << "\n";
        if (!std::cout) throw Failure(kExitFailure, "the list cannot be written to stdout");
        return problems.empty() && !unlisted ? 0 : kExitFailure;
    }

    std::error_code error;
    fs::create_directories(options.out, error);
    if (error || !fs::is_directory(options.out))
        throw Failure(kExitFailure, options.out + ": cannot be made: " + error.message());
    std::ofstream logFile;
    if (!options.log.empty()) {
        logFile.open(options.log, std::ios::app);
        if (!logFile) throw Failure(kExitFailure, options.log + ": cannot be written: " + std::strerror(errno));
    }
    std::ostream& log = options.log.empty() ? std::cout : logFile;
    const std::string logName = options.log.empty() ? "stdout" : options.log;
    std::string logFailure;  // the first failure to write a line
    auto checkLog = [&] {
        if (!log && logFailure.empty())
            logFailure = logName + ": cannot be written (" + std::strerror(errno) + "); the Items in " + options.out +
                         " are the record of what is done";
    };
    std::map<std::string, int> counts;
    size_t done = 0;
    const size_t total = products.size() + problems.size();
    auto report = [&](const json& line) {
        log << JsonText(line) << "\n" << std::flush;
        checkLog();
        const std::string status = line["status"].get<std::string>();
        ++counts[status];
        ++done;
        if (options.progress)
            std::cerr << "[" << done << "/" << total << "] " << status << "  "
                      << (line["id"].is_string() ? line["id"].get<std::string>() : line["source"].get<std::string>())
                      << "\n";
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
                // One line is expected; more is read and dropped.
                if (child.text.size() < kChildTextLimit) child.text.append(buffer, static_cast<size_t>(got));
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
    if (logFile.is_open()) {
        logFile.close();
        checkLog();
    }
    std::cerr << "alosj batch: " << total << " product(s): " << counts["converted"] << " converted, "
              << counts["skipped"] << " skipped, " << failed << " failed; " << items << " item(s) in "
              << (fs::path(options.out) / kCollectionFile).string() << "\n";
    if (!logFailure.empty()) std::cerr << "alosj: " << logFailure << "\n";
    return failed || !logFailure.empty() ? kExitFailure : 0;
}

}  // namespace alosj
