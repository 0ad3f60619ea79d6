// Construction, opening, reading and closing of a product.
#include <new>

#include "dataset/DatasetState.h"
#include "host/terr.h"
#include "host/tfio.h"
#include "host/tmsc.h"

namespace {

constexpr const char* kOpenAndRead = "CeosAlosjDataset::OpenAndRead";

void ReportOpen(long line, const char* message) { terr_ReportAndDelete(kOpenAndRead, line, nullptr, message); }

// Every reader that still holds a handle lets it go; results are ignored.
template <class Reader>
void CloseIfOpen(const std::unique_ptr<Reader>& reader) {
    if (reader && reader->IsOpen()) reader->Close();
}

}  // namespace

const long CeosAlosjDataset::OVERLAPWIDTH;

CeosAlosjLayer::CeosAlosjLayer() : bandNumber(0), layerType(0) {}
CeosAlosjLayer::~CeosAlosjLayer() = default;
CeosAlosjLayer& CeosAlosjLayer::operator=(const CeosAlosjLayer& other) {
    bandNumber = other.bandNumber;
    layerType = other.layerType;
    return *this;
}

CeosAlosjDataset::State::~State() {
    // Readers are released in the order supplemental, trailer, images,
    // leader, summary, volume directory; a handle still open is closed first
    // so that no descriptor outlives the dataset.
    CloseIfOpen(supplementalFile);
    supplementalFile.reset();
    CloseIfOpen(trailerFile);
    trailerFile.reset();
    for (auto& image : imageFiles) CloseIfOpen(image);
    imageFiles.clear();
    CloseIfOpen(leaderFile);
    leaderFile.reset();
    tstr_StringListFree(layerNames);
    summaryFile.reset();
    CloseIfOpen(volumeDirFile);
    volumeDirFile.reset();
}

CeosAlosjDataset::CeosAlosjDataset(const char* volumeDirPath) : d(std::make_shared<State>()) {
    SetVolumeDirFilename(volumeDirPath);
    SetPathName();
    SetSensorType();
    SetPrismOpenMode(TMSC_TRUE, 0);
}

CeosAlosjDataset::CeosAlosjDataset(const char* volumeDirPath, long ccdNumber)
    : d(std::make_shared<State>()) {
    SetVolumeDirFilename(volumeDirPath);
    SetPathName();
    SetSensorType();
    SetPrismOpenMode(TMSC_FALSE, ccdNumber);
}

CeosAlosjDataset::~CeosAlosjDataset() = default;
CeosAlosjDataset::CeosAlosjDataset(const CeosAlosjDataset& other) = default;
CeosAlosjDataset& CeosAlosjDataset::operator=(const CeosAlosjDataset& other) = default;

void CeosAlosjDataset::SetVolumeDirFilename(const char* name) { d->volumeDirFilename = name ? name : ""; }

void CeosAlosjDataset::SetPathName() {
    char* path = tfnp_FileNameGetPathPart(d->volumeDirFilename.c_str());
    d->pathName = path ? path : ".";
    tmsc_HeapFree(path);
}

long CeosAlosjDataset::FileOpen(const char*) {
    State& s = *d;
    // A second FileOpen starts over rather than leaking the first set of readers.
    if (s.volumeDirFile) {
        FileClose();
        s.supplementalFile.reset();
        s.trailerFile.reset();
        s.imageFiles.clear();
        s.leaderFile.reset();
        s.summaryFile.reset();
        s.volumeDirFile.reset();
        tstr_StringListFree(s.layerNames);
        s.layerNames = nullptr;
    }
    s.rowLayout = RowLayout();

    long result = -1;
    s.volumeDirFile.reset(new (std::nothrow) CeosAlosjVolumeDirFile(s.volumeDirFilename.c_str()));
    if (!s.volumeDirFile) {
        ReportOpen(__LINE__, "No memory for vol file!");
        return -1;
    }
    result = s.volumeDirFile->SetFd();
    if (result == -1) return -1;
    if (s.volumeDirFile->Read() == -1) return result;

    SetProductLevel();
    SetImgFileCount();
    SetBandCount();
    SetLayerNames();
    SetPrismPixelPerFile();
    SetMinCcdNumber();

    // The file pointer records list the leader, the image files, the trailer
    // and, below Level 1B2, the supplemental file, in that order.  A list too
    // short for the product is rejected before any record past it is used.
    const long fileCount = s.volumeDirFile->FileCount();
    const long needed = 2 + s.imgFileCount + (s.IsLevel1B2() ? 0 : 1);
    if (needed > fileCount) {
        ReportOpen(__LINE__, "CeosAlosjDataset Read failed");
        return result;
    }
    const char* volumePath = s.volumeDirFilename.c_str();
    long k = 0;
    auto nextId = [&]() { return s.volumeDirFile->FilePointer(k++).referencedFileId; };

    s.leaderFile.reset(new (std::nothrow) CeosAlosjLeaderFile(volumePath, nextId()));
    if (!s.leaderFile) {
        ReportOpen(__LINE__, "No memory for led file!");
        return result;
    }
    s.leaderFile->SetFd();

    for (long i = 0; i < s.imgFileCount; ++i) {
        std::unique_ptr<CeosAlosjImageFile> image(new (std::nothrow)
                                                      CeosAlosjImageFile(volumePath, nextId()));
        if (!image) {
            ReportOpen(__LINE__, "No memory for img file!");
            return result;
        }
        image->SetFd();
        s.imageFiles.push_back(std::move(image));
    }

    s.trailerFile.reset(new (std::nothrow) CeosAlosjTrailerFile(volumePath, nextId()));
    if (!s.trailerFile) {
        ReportOpen(__LINE__, "No memory for trl structure!");
        return result;
    }
    s.trailerFile->SetFd();

    if (!s.IsLevel1B2()) {
        s.supplementalFile.reset(new (std::nothrow) CeosAlosjSupplementalFile(volumePath, nextId()));
        if (!s.supplementalFile) {
            ReportOpen(__LINE__, "No memory for sup structure!");
            return result;
        }
        s.supplementalFile->SetFd();
    }

    if (k != fileCount) {
        ReportOpen(__LINE__, "CeosAlosjDataset Read failed");
        return result;
    }

    s.summaryFile.reset(new (std::nothrow) CeosAlosjSummaryFile);
    if (s.summaryFile && !s.summaryFile->FindAndOpen(s.pathName)) s.summaryFile.reset();
    return result;
}

long CeosAlosjDataset::FileRead() {
    State& s = *d;
    if (s.leaderFile) {
        s.leaderFile->Read();
        s.sceneHeader = DecodeSceneHeaderValues(s.leaderFile->SceneHeader());
    }
    SetStaggerPixelShift();
    SetL1B2Option();
    SetMapProjection();
    for (auto& image : s.imageFiles) image->Read();
    s.rowLayout = RowLayout();  // made again from what was read
    if (s.leaderFile && s.WidthFromSceneHeader() && s.leaderFile->SceneHeader().pixelsPerLine > s.WidestRecordedLine())
        terr_Warn("CeosAlosjDataset::FileRead", __LINE__,
                  "Scene header pixels per line exceed what the image records hold; rows are cut to the records");
    if (s.trailerFile) s.trailerFile->Read();
    if (!s.IsLevel1B2() && !s.IsAvnir2() && s.supplementalFile) s.supplementalFile->Read();
    if (s.IsLevel1B2() && s.IsPrism() && s.summaryFile) {
        s.summaryFile->Read();
        s.mapDirection = s.summaryFile->GetMapDirection();
    } else {
        s.mapDirection = CeosAlosjSummaryFile::MAP_DIRECTION_OTHER;
    }
    return 0;
}

long CeosAlosjDataset::FileClose() {
    State& s = *d;
    // Every reader that exists is closed, the AVNIR-2 supplemental file too:
    // it is opened with the product and would otherwise keep its handle.
    if (s.volumeDirFile) s.volumeDirFile->Close();
    if (s.leaderFile) s.leaderFile->Close();
    for (auto& image : s.imageFiles) image->Close();
    if (s.trailerFile) s.trailerFile->Close();
    if (s.supplementalFile) s.supplementalFile->Close();
    return 0;
}
