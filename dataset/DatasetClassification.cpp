// What kind of product this is: sensor, level, image files, layers, PRISM
// open mode and CCDs, observation mode, pixel type, geocoding, projection
// and the AVNIR-2 de-stagger shift.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dataset/DatasetState.h"
#include "host/tfio.h"
#include "host/tmsc.h"

extern "C" long CeosAlosjSensorOfVolumeDirectoryName(const char* path) { return VolumeDirectorySensorOfName(path); }

static_assert(kCeosAlosjVolumeIdentifyingBytes == kVolumeDocumentIdOffset + kVolumeDocumentIdLength,
              "the identifying bytes end with the document identifier");

extern "C" long CeosAlosjSensorOfVolumeDirectory(const char* path, const unsigned char* header, long headerBytes) {
    if (!header || headerBytes < kCeosAlosjVolumeIdentifyingBytes) return -1;
    const long sensor = VolumeDirectorySensorOfName(path);
    const char* documentId = reinterpret_cast<const char*>(header) + kVolumeDocumentIdOffset;
    return VolumeDocumentIdIsSensors(documentId, sensor) ? sensor : -1;
}

void CeosAlosjDataset::SetSensorType() {
    const long sensor = VolumeDirectorySensorOfName(d->volumeDirFilename.c_str());
    if (sensor == 0)
        d->sensorType = State::kPrism;
    else if (sensor == 1)
        d->sensorType = State::kAvnir2;
}

void CeosAlosjDataset::SetProductLevel() {
    if (!d->volumeDirFile || d->volumeDirFile->FileCount() < 1) return;
    const char level = d->volumeDirFile->FilePointer(0).referencedFileId[7];
    if (level >= '0' && level <= '2') d->productLevel = State::kLevel1A + (level - '0');
}

void CeosAlosjDataset::SetImgFileCount() {
    State& s = *d;
    if (s.IsPrism()) {
        // Below Level 1B2 every record but leader, trailer and supplemental is
        // a CCD file.  The records the reader kept: the announced count, or
        // what the file holds when it announces more.
        const long records = s.volumeDirFile ? s.volumeDirFile->FileCount() : 0;
        s.imgFileCount = s.IsLevel1B2() ? 1 : std::max(0L, records - 3);
    } else if (s.IsAvnir2()) {
        s.imgFileCount = 4;
    }
}

void CeosAlosjDataset::SetBandCount() {
    if (d->IsPrism())
        d->bandCount = 1;
    else if (d->IsAvnir2())
        d->bandCount = 4;
}

void CeosAlosjDataset::SetLayerNames() {
    Terr_ErrorReport report = nullptr;
    for (long i = 1; i <= d->bandCount; ++i) {
        Terr_ErrorReport formatReport = nullptr;
        char* name = tstr_Sprintf(nullptr, 0, "Layer_%li", &formatReport, i);
        if (formatReport && !report)
            report = formatReport;
        else
            terr_DeleteErrorReportEx(&formatReport);
        if (!name) continue;
        Terr_ErrorReport appendReport = nullptr;
        d->layerNames = tstr_StringListAppend(d->layerNames, name, &appendReport);
        tmsc_HeapFree(name);
        if (appendReport && !report)
            report = appendReport;
        else
            terr_DeleteErrorReportEx(&appendReport);
    }
    if (report) terr_ReportAndDelete("CeosAlosjDataset::SetLayerNames", __LINE__, &report,
                                     "Layer names incomplete");
}

void CeosAlosjDataset::SetL1B2Option() {
    if (!d->leaderFile) return;
    const char letter = d->leaderFile->SceneHeader().productId[4];
    if (letter == 'G')
        d->isGeocoded = TMSC_TRUE;
    else if (letter == 'R')
        d->isGeocoded = TMSC_FALSE;
}

void CeosAlosjDataset::SetMapProjection() {
    if (!d->leaderFile) return;
    const char* flags = d->leaderFile->SceneHeader().mapProjectionFlags;
    if (flags[0] == 'Y') {
        d->mapProjection = "UTM";
    } else if (flags[0] == 'N') {
        if (flags[4] == 'Y')
            d->mapProjection = "PS";
        else if (flags[4] == 'N')
            d->mapProjection = "Raw";
    }
}

void CeosAlosjDataset::SetStaggerPixelShift() {
    State& s = *d;
    if (!s.IsAvnir2() || !s.IsBelowLevel1B2() || !s.leaderFile) return;
    // The pointing angle's whole degrees; any fraction is ignored.
    const double a = s.sceneHeader.pointingWholeDegrees;
    if (a >= 0 && a <= 23.3)
        s.staggerPixelShift = 5;
    else if (a > 23.3 && a <= 35.3)
        s.staggerPixelShift = 6;
    else if (a > 35.3 && a <= 44.0)
        s.staggerPixelShift = 7;
    else
        s.staggerPixelShift = 0;
}

void CeosAlosjDataset::SetPrismOpenMode(Tmsc_Boolean allCcds, long ccdNumber) {
    if (!d->IsPrism()) {
        d->prismOpenMode = State::kNotPrism;
    } else if (allCcds == TMSC_TRUE) {
        d->prismOpenMode = State::kAllCcds;
    } else {
        d->prismOpenMode = State::kOneCcd;
        d->selectedCcdNumber = ccdNumber;
    }
}

void CeosAlosjDataset::SetPrismPixelPerFile() {
    if (!d->IsPrism() || d->IsLevel1B2() || !d->OpensAllCcds()) return;
    const MissionType mode = GetObservationMode();
    d->prismPixelPerFile = mode == MISSION_N || mode == MISSION_W ? 4992 : 4928;
}

void CeosAlosjDataset::SetMinCcdNumber() {
    if (!d->IsPrism()) return;
    Tfio_FileList* list = tfio_FindFilesInPath(d->pathName.c_str(), "IMG-*");
    if (!list) {
        terr_ReportAndDelete("CeosAlosjDataset::SetMinCcdNumber", __LINE__, nullptr,
                             "No images in specified path!");
        return;
    }
    bool present[9] = {};
    for (long i = 0; i < list->count; ++i) {
        char* name = tfnp_FileNameGetNamePart(list->names[i]);
        for (int j = 1; j <= 8; ++j) {
            char key[16];
            std::snprintf(key, sizeof key, "IMG-0%d", j);
            if (name && std::strlen(name) >= 6 && tstr_Eqnic(name, key, 6)) present[j] = true;
        }
        tmsc_HeapFree(name);
    }
    tmsc_HeapFree(list);
    for (int j = 1; j <= 8; ++j)
        if (present[j]) {
            d->minCcdNumber = j;
            break;
        }
}

long CeosAlosjDataset::GetSensorType() const { return d->sensorType; }
long CeosAlosjDataset::GetProductLevel() const { return d->productLevel; }
long CeosAlosjDataset::GetImgFileCount() const { return d->imgFileCount; }
long CeosAlosjDataset::GetMinCcdNumber() const { return d->minCcdNumber; }
long CeosAlosjDataset::GetStaggerPixelShift() const { return d->staggerPixelShift; }
long CeosAlosjDataset::GetPrismPixelPerFile() const { return d->prismPixelPerFile; }

long CeosAlosjDataset::GetNumOfLayers() const { return d->layerNames ? d->layerNames->count : -1; }

char** CeosAlosjDataset::GetLayerNames() const {
    return d->layerNames ? d->layerNames->strings : nullptr;
}

long CeosAlosjDataset::GetBandNum(const char* layerName) const {
    if (!d->layerNames || d->layerNames->count < 1 || !layerName) return -1;
    for (long i = 1; i <= d->layerNames->count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Layer_%li", i);
        // A prefix test: a name that goes on after the layer name matches it.
        if (ttxt_Text_strncmp(layerName, name, std::strlen(name)) == 0) return i - 1;
    }
    return -1;
}

MissionType CeosAlosjDataset::GetObservationMode() const {
    if (!d->volumeDirFile || d->volumeDirFile->FileCount() < 1) return MISSION_OTHER;
    switch (d->volumeDirFile->FilePointer(0).referencedFileId[6]) {
        case 'A': return MISSION_A;
        case 'N': return MISSION_N;
        case 'F': return MISSION_F;
        case 'B': return MISSION_B;
        case 'W': return MISSION_W;
        default: return MISSION_OTHER;
    }
}

AlosjPixelType CeosAlosjDataset::GetPixelType() const {
    const CeosAlosjImageFile* first = d->Image(0);
    return first && first->GetPixelType() == 0 ? ALOSJ_PIXEL_INTEGER : ALOSJ_PIXEL_OTHER;
}

long CeosAlosjDataset::GetNumOfBytesPerPixel() const {
    const CeosAlosjImageFile* first = d->Image(0);
    return first ? first->Descriptor().bitsPerPixel / 8 : 0;
}

const char* CeosAlosjDataset::GetImageFileName(long k) const {
    const CeosAlosjImageFile* image = d->Image(k);
    return image ? image->FileName() : nullptr;
}
