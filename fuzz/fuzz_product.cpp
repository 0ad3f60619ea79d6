// A whole product with one file (or several) replaced by the fuzzer's bytes,
// through the dataset as a host drives it.
//
// Input: two control bytes (see fuzz/FuzzInputs.h), then the replacement.
// The product writer makes one pristine product of each kind once per
// process, in a real directory, and its files are kept in memory; each
// iteration builds an in-memory working directory whose files share the
// pristine bytes, writes the replacements (or leaves a file out), and then
// opens, reads and queries the product, reads every row of every band (of a
// taller scene the first and last 24 rows, and rows beyond it; rows of
// exactly GetSceneWidth() bytes, so a write past them is caught), runs the
// four exports and releases what they handed over, closes, queries again,
// opens and reads the same files again, and copies the dataset.  The working
// directory goes at the end of the iteration.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "dataset/CeosAlosjDataset.h"
#include "fuzz/FuzzInputs.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;

namespace {

namespace fs = std::filesystem;

constexpr long kMaxRowsRead = 24;             // from the top and from the bottom
constexpr long kMaxRowBytes = long{1} << 22;  // wider rows are not read
constexpr long kMaxRowBytesPerInput = long{1} << 25;

struct Pristine {
    std::vector<std::string> names;                // file names in member order
    std::vector<fuzzsupport::SharedBytes> bytes;  // their contents
};

const Pristine& PristineProduct(uint8_t kind) {
    static std::map<uint8_t, Pristine> made;
    auto found = made.find(kind);
    if (found != made.end()) return found->second;
    Pristine pristine;
    const std::string directory = fuzzsupport::RealDirectory() + "/pristine-" + std::to_string(kind);
    fs::create_directories(directory);
    const ceoswriter::ProductFiles files =
        ceoswriter::WriteProduct(directory, fuzzinputs::ProductOfKind(kind));
    for (const std::string& path : fuzzinputs::ProductMemberPaths(files)) {
        pristine.names.push_back(fs::path(path).filename().string());
        pristine.bytes.push_back(fuzzsupport::ReadRealFile(path));
    }
    std::error_code error;
    fs::remove_all(directory, error);
    return made.emplace(kind, pristine).first->second;
}

/// The working copy of a product: in-memory files sharing the pristine
/// bytes, replaced or left out as the input says; removed with everything
/// in it.
class WorkingProduct {
public:
    explicit WorkingProduct(const Pristine& pristine)
        : directory_(fuzzsupport::ScratchDirectory() + "/product"), pristine_(pristine) {
        fuzzsupport::RemoveFiles(directory_);
    }
    ~WorkingProduct() { fuzzsupport::RemoveFiles(directory_); }
    WorkingProduct(const WorkingProduct&) = delete;
    WorkingProduct& operator=(const WorkingProduct&) = delete;

    void Replace(size_t member, std::string bytes) { replaced_[member] = std::move(bytes); }
    void Delete(size_t member) { deleted_.push_back(member); }

    void Build() {
        for (size_t i = 0; i < pristine_.names.size(); ++i) {
            const std::string path = directory_ + "/" + pristine_.names[i];
            if (std::find(deleted_.begin(), deleted_.end(), i) != deleted_.end()) continue;
            auto replaced = replaced_.find(i);
            if (replaced != replaced_.end())
                fuzzsupport::ShareFile(path, std::make_shared<const std::string>(std::move(replaced->second)));
            else
                fuzzsupport::ShareFile(path, pristine_.bytes[i]);
        }
    }

    std::string VolumePath() const { return directory_ + "/" + pristine_.names[0]; }
    const std::string& directory() const { return directory_; }

private:
    std::string directory_;
    const Pristine& pristine_;
    std::map<size_t, std::string> replaced_;
    std::vector<size_t> deleted_;
};

void Query(const CeosAlosjDataset& dataset) {
    const long sensor = dataset.GetSensorType();
    Check(sensor >= -1 && sensor <= 1, "the sensor is PRISM, AVNIR-2 or undetermined");
    const long level = dataset.GetProductLevel();
    Check(level >= -1 && level <= 2, "the level is 1A, 1B1, 1B2 or undetermined");
    const long images = dataset.GetImgFileCount();
    for (long k = -1; k <= images; ++k) {
        const char* name = dataset.GetImageFileName(k);
        if (name) (void)std::strlen(name);
        if (k < 0 || k >= images) Check(name == nullptr, "only existing image files have names");
    }
    dataset.GetMinCcdNumber();
    const long layers = dataset.GetNumOfLayers();
    char** names = dataset.GetLayerNames();
    Check(layers <= 0 || names != nullptr, "a dataset with layers names them");
    for (long i = 0; names && i < layers; ++i) {
        Check(names[i] != nullptr, "every layer has a name");
        // Names are matched by prefix: Layer_10 may give the band of Layer_1.
        const long band = dataset.GetBandNum(names[i]);
        Check(band >= 0 && band <= i, "a layer's name gives its band or an earlier one");
    }
    Check(dataset.GetBandNum("Layer_0") == -1 && dataset.GetBandNum("") == -1,
          "names of no layer give no band");
    dataset.GetObservationMode();
    dataset.GetPixelType();
    dataset.GetNumOfBytesPerPixel();
    dataset.GetStaggerPixelShift();
    dataset.GetPrismPixelPerFile();
    Check(dataset.GetSceneWidth() >= 0 && dataset.GetSceneHeight() >= 0,
          "scene sizes are not negative");

    dataset.GetXPixelSize();
    dataset.GetYPixelSize();
    dataset.GetUpperLeftCornerNorthing();
    dataset.GetUpperLeftCornerEasting();
    dataset.GetUTMZoneNum();
    dataset.GetUTMHemishpere();
    if (const char* projection = dataset.GetMapProjection()) (void)std::strlen(projection);
    dataset.GetProjectionCenterLon();
    dataset.GetProjectionCenterLat();
    dataset.GetSceneCenterUTMX();
    dataset.GetSceneCenterUTMY();
    if (const char* ellipsoid = dataset.GetEllipsoidName()) (void)std::strlen(ellipsoid);
    double lat = 0, lon = 0;
    dataset.GetULCornerLatLon(&lat, &lon);
    dataset.GetURCornerLatLon(&lat, &lon);
    dataset.GetLLCornerLatLon(&lat, &lon);
    dataset.GetLRCornerLatLon(&lat, &lon);
    dataset.GetMapDirection();
    dataset.IsGeocoded();
}

void ReadRows(CeosAlosjDataset& dataset) {
    const long width = dataset.GetSceneWidth();
    const long height = dataset.GetSceneHeight();
    // A host could not hold wider rows either; the width alone is still asked.
    if (width <= 0 || width > kMaxRowBytes) return;
    const long rowsPerPass = std::min(kMaxRowsRead, kMaxRowBytesPerInput / width / 4);
    std::vector<unsigned long> rows;
    for (long r = 0; r < std::min(height, rowsPerPass); ++r)
        rows.push_back(static_cast<unsigned long>(r));
    for (long r = std::max(rowsPerPass, height - rowsPerPass); r < height; ++r)
        rows.push_back(static_cast<unsigned long>(r));
    for (unsigned long beyond :
         {static_cast<unsigned long>(height), static_cast<unsigned long>(-1)})
        rows.push_back(beyond);

    const long layers = std::max(0L, dataset.GetNumOfLayers());
    std::unique_ptr<unsigned char[]> row(new unsigned char[static_cast<size_t>(width)]);
    unsigned char* data = row.get();
    for (int band = -1; band <= layers; ++band) {
        // Bands that do not exist are asked once each.
        const bool exists = band >= 0 && band < layers;
        for (size_t i = 0; i < (exists ? rows.size() : 1); ++i)
            Check(dataset.GetRow(band, rows[i], 0, &data) == 0, "GetRow always gives 0");
    }
    Check(data == row.get(), "GetRow leaves the row pointer where it was");
}

void AskRowAfterClose(CeosAlosjDataset& dataset) {
    const long width = dataset.GetSceneWidth();
    if (width <= 0 || width > kMaxRowBytes) return;
    std::unique_ptr<unsigned char[]> row(new unsigned char[static_cast<size_t>(width)]);
    unsigned char* data = row.get();
    Check(dataset.GetRow(0, 0, 0, &data) == 0, "GetRow always gives 0");
}

/// What a host sees of a product at first sight: its kind, its size and
/// the top row of the first band.
struct Sight {
    std::vector<long> kind;
    std::vector<unsigned char> topRow;
    bool operator==(const Sight& other) const { return kind == other.kind && topRow == other.topRow; }
};

Sight FirstSight(CeosAlosjDataset& dataset) {
    Sight seen;
    seen.kind = {dataset.GetSensorType(),   dataset.GetProductLevel(), dataset.GetImgFileCount(),
                 dataset.GetNumOfLayers(), dataset.GetSceneWidth(),   dataset.GetSceneHeight()};
    const long width = dataset.GetSceneWidth();
    if (width > 0 && width <= kMaxRowBytes && dataset.GetNumOfLayers() > 0) {
        seen.topRow.resize(static_cast<size_t>(width));
        unsigned char* data = seen.topRow.data();
        dataset.GetRow(0, 0, 0, &data);
    }
    return seen;
}

void Export(CeosAlosjDataset& dataset) {
    CeosAlosjAcquisition acquisition;
    dataset.GetAcquisition(&acquisition);
    for (const char* text : {acquisition.productId, acquisition.productLevel, acquisition.sceneId,
                             acquisition.rspId, acquisition.processingCode, acquisition.mapProjectionMethod})
        Check(std::strlen(text) < 17, "acquisition texts are terminated within their arrays");
    Check(acquisition.bandCount >= 0 && acquisition.bandCount <= CeosAlosjAcquisition::kMaxBands,
          "the acquisition has at most four bands");
    Check(!acquisition.sceneStartTime.valid ||
              (acquisition.sceneStartTime.month >= 1 && acquisition.sceneStartTime.month <= 12),
          "a valid start time has a month");
    // The geolocation of hostile polynomials: a status, never a crash or a hang.
    double latitude = 0, longitude = 0, pixel = 0, line = 0;
    const double width = static_cast<double>(dataset.GetSceneWidth()), height = static_cast<double>(dataset.GetSceneHeight());
    if (dataset.PixelToLatLon(0, width / 2, height / 2, &latitude, &longitude) == ALOSJ_LOCATE_OK &&
        dataset.LatLonToPixel(0, latitude, longitude, &pixel, &line) == ALOSJ_LOCATE_OK)
        Check(pixel >= 0 && pixel <= width && line >= 0 && line <= height, "a located position lies in the raster");
    dataset.LatLonToPixel(0, 35.0, 138.0, &pixel, &line);
    AlosjDateTime start{}, centre{};
    double coefficients[8][40] = {};
    Tkmd_ALPSM1B1_IMG scene{};
    scene.sceneStartTime = &start;
    scene.sceneCenterDateTime = &centre;
    for (int k = 0; k < 8; ++k) scene.coefficientArrays[k] = coefficients[k];
    dataset.GetALPSM1B1SceneData(&scene);
    if (scene.viewName) (void)std::strlen(scene.viewName);
    if (scene.sceneText) (void)std::strlen(scene.sceneText);
    Tkmd_ALPSM1B1_IMG_Release(&scene);

    Tkmd_ALPSM1B1_EPH ephemeris{};
    dataset.GetALPSM1B1EphemerisData(&ephemeris);
    if (ephemeris.ephemeris) {
        Check(ephemeris.ephemeris->count >= 0, "an exported table has a count");
        for (int32_t i = 0; i < ephemeris.ephemeris->count; ++i)
            Check(ephemeris.ephemeris->entries[i].time != nullptr, "exported entries have times");
    }
    Tkmd_ALPSM1B1_EPH_Release(&ephemeris);

    Tkmd_ALPSM1B1_ATT attitude{};
    dataset.GetALPSM1B1AttitudeData(&attitude);
    if (attitude.attitude) {
        for (int32_t i = 0; i < attitude.attitude->count; ++i)
            Check(attitude.attitude->entries[i].time != nullptr, "exported samples have times");
    }
    Tkmd_ALPSM1B1_ATT_Release(&attitude);

    double matrix[9] = {};
    Tkmd_ALPSM1B1_SEN sensor{};
    sensor.sensorMatrix = matrix;
    dataset.GetALPSM1B1SensorData(&sensor);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    fuzzsupport::InputBytes input(data, size);
    const uint8_t productControl = input.Byte();
    const uint8_t memberControl = input.Byte();
    const uint8_t kind = static_cast<uint8_t>((productControl & 7) % fuzzinputs::kProductKindCount);
    const Pristine& pristine = PristineProduct(kind);

    {
        WorkingProduct product(pristine);
        const size_t count = pristine.names.size();
        if (memberControl & fuzzinputs::kProductMembers) {
            const std::vector<std::string> members =
                fuzzinputs::SplitMembers(input.rest(), input.restSize(), count);
            for (size_t i = 0; i < members.size(); ++i)
                if (!members[i].empty()) product.Replace(i, members[i]);
        } else {
            const size_t member = (memberControl & 0x0F) % count;
            if (memberControl & fuzzinputs::kProductDelete)
                product.Delete(member);
            else
                product.Replace(member, std::string(reinterpret_cast<const char*>(input.rest()),
                                                    input.restSize()));
        }
        product.Build();

        const bool singleCcd = (productControl & fuzzinputs::kProductSingleCcd) != 0;
        const std::string volume = product.VolumePath();
        auto opening = singleCcd
                           ? std::make_unique<CeosAlosjDataset>(volume.c_str(), productControl >> 4)
                           : std::make_unique<CeosAlosjDataset>(volume.c_str());
        CeosAlosjDataset& dataset = *opening;
        const long opened = dataset.FileOpen(nullptr);
        Check(opened >= -1 && opened <= 1, "FileOpen gives the sensor or -1");
        if (opened >= 0) {
            Check(dataset.FileRead() == 0, "FileRead always gives 0");
            Query(dataset);
            const Sight firstSight = FirstSight(dataset);
            ReadRows(dataset);
            Export(dataset);
            Check(dataset.FileClose() == 0, "FileClose always gives 0");
            // Metadata stays after closing; rows can no longer be read but
            // may still be asked.
            Query(dataset);
            AskRowAfterClose(dataset);
            // Opening the same files again starts over and sees them as
            // the first opening did.
            Check(dataset.FileOpen(nullptr) == opened, "a second FileOpen finds the same sensor");
            Check(dataset.FileRead() == 0, "FileRead always gives 0");
            Check(FirstSight(dataset) == firstSight, "a second opening reads what the first did");
            Query(dataset);
            Check(dataset.FileClose() == 0, "FileClose always gives 0");
            CeosAlosjDataset copy(dataset);
            Query(copy);
            CeosAlosjDataset assigned(volume.c_str());
            assigned = copy;
            Query(assigned);
        } else {
            Query(dataset);
        }
    }
    fuzzsupport::CheckNoTemporaryFilesLeft();
    return 0;
}
