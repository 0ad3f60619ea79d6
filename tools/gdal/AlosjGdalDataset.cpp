#include "AlosjGdalDataset.h"

#include <charconv>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

#include "AlosjGdalReports.h"
#include "AlosjSensorModelJson.h"
#include "cpl_vsi.h"
#include "dataset/CeosAlosjDataset.h"

namespace alosjgdal {

namespace {

// The format control document identifier sits at bytes 17-28 of the volume
// descriptor, the first record of a volume directory file.
constexpr int kDocumentIdOffset = 16;
constexpr int kDocumentIdLength = 12;

constexpr long kLevel1B2 = 2;
constexpr int kMaxCcdNumber = 8;

const char* const kErrorPrefix = "ALOSJ: ";

// Shortest text that reads back as the same double.
std::string Number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string Trimmed(const char* text) {
    std::string s = text ? text : "";
    const size_t end = s.find_last_not_of(' ');
    s.erase(end == std::string::npos ? 0 : end + 1);
    const size_t begin = s.find_first_not_of(' ');
    return begin == std::string::npos ? std::string() : s.substr(begin);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

const char* LevelName(long level) {
    switch (level) {
        case 0: return "1A";
        case 1: return "1B1";
        case 2: return "1B2";
        default: return nullptr;
    }
}

const char* ModeLetter(MissionType mode) {
    switch (mode) {
        case MISSION_A: return "A";
        case MISSION_N: return "N";
        case MISSION_F: return "F";
        case MISSION_B: return "B";
        case MISSION_W: return "W";
        default: return "OTHER";
    }
}

// The PRISM view a mode letter stands for; null for the letters without one.
const char* PrismViewName(MissionType mode) {
    switch (mode) {
        case MISSION_N: return "Nadir Normal View";
        case MISSION_F: return "Forward View";
        case MISSION_B: return "Backward View";
        case MISSION_W: return "Nadir 70km View";
        default: return nullptr;
    }
}

// The geographic CRS (EPSG code) of the ellipsoid the leader names, 0 when
// it is not one the driver knows.  GRS80 products are placed in WGS 84: the
// two agree far below the size of a pixel.
int GeographicEpsg(const std::string& ellipsoid) {
    std::string name;
    for (char c : Upper(ellipsoid))
        if (c != ' ' && c != '-' && c != '_') name += c;
    if (name.empty() || name == "GRS80" || name == "GRS1980" || name == "WGS84" || name == "ITRF" ||
        name.rfind("ITRF", 0) == 0)
        return 4326;
    if (name.rfind("BESSEL", 0) == 0) return 4004;
    return 0;
}

}  // namespace

int IdentifyVolumeDirectory(const char* fileName, const unsigned char* header, int headerBytes) {
    if (!fileName || !header || headerBytes < kDocumentIdOffset + kDocumentIdLength) return -1;
    const std::string name = Upper(fileName);
    const int sensor = name.find("VOL-ALPSM") != std::string::npos   ? 0
                       : name.find("VOL-ALAV2") != std::string::npos ? 1
                                                                     : -1;
    if (sensor < 0) return -1;
    const std::string documentId(reinterpret_cast<const char*>(header) + kDocumentIdOffset,
                                 kDocumentIdLength);
    return Upper(documentId) == (sensor == 0 ? "CEOS-PSM-CCT" : "CEOS-AV2-CCT") ? sensor : -1;
}

std::string FindVolumeDirectoryIn(const char* directory) {
    const CPLStringList names(VSIReadDir(directory));
    std::string found;
    for (int i = 0; i < names.size(); ++i) {
        const std::string upper = Upper(names[i]);
        if (upper.find("VOL-ALPSM") == std::string::npos && upper.find("VOL-ALAV2") == std::string::npos)
            continue;
        const std::string path = CPLFormFilename(directory, names[i], nullptr);
        VSILFILE* file = VSIFOpenL(path.c_str(), "rb");
        if (!file) continue;
        unsigned char header[kDocumentIdOffset + kDocumentIdLength] = {};
        const size_t read = VSIFReadL(header, 1, sizeof header, file);
        VSIFCloseL(file);
        if (IdentifyVolumeDirectory(names[i], header, static_cast<int>(read)) < 0) continue;
        if (!found.empty()) return std::string();  // two products: which one is meant is unclear
        found = path;
    }
    return found;
}

int AlosjGdalDataset::Identify(GDALOpenInfo* openInfo) {
    // The library reads files of the operating system only, not GDAL's
    // virtual file systems.
    if (STARTS_WITH_CI(openInfo->pszFilename, "/vsi")) return FALSE;
    if (openInfo->bIsDirectory) return !FindVolumeDirectoryIn(openInfo->pszFilename).empty();
    return IdentifyVolumeDirectory(CPLGetFilename(openInfo->pszFilename), openInfo->pabyHeader,
                                   openInfo->nHeaderBytes) >= 0;
}

GDALDataset* AlosjGdalDataset::Open(GDALOpenInfo* openInfo) {
    if (!Identify(openInfo)) return nullptr;
    if (openInfo->eAccess == GA_Update) {
        CPLError(CE_Failure, CPLE_NotSupported, "%sproducts are opened read-only", kErrorPrefix);
        return nullptr;
    }
    const std::string volume =
        openInfo->bIsDirectory ? FindVolumeDirectoryIn(openInfo->pszFilename) : openInfo->pszFilename;

    int ccdNumber = 0;
    if (const char* ccd = CSLFetchNameValue(openInfo->papszOpenOptions, "CCD")) {
        char* end = nullptr;
        const long value = std::strtol(ccd, &end, 10);
        if (end == ccd || *end != '\0' || value < 1 || value > kMaxCcdNumber) {
            CPLError(CE_Failure, CPLE_IllegalArg, "%sCCD=%s: a CCD number from 1 to %d is expected",
                     kErrorPrefix, ccd, kMaxCcdNumber);
            return nullptr;
        }
        ccdNumber = static_cast<int>(value);
    }

    std::unique_ptr<AlosjGdalDataset> dataset(new AlosjGdalDataset);
    if (!dataset->OpenProduct(volume, ccdNumber)) return nullptr;

    CeosAlosjDataset& product = *dataset->product_;
    const bool avnir = product.GetSensorType() == 1;
    char** layerNames = product.GetLayerNames();
    for (int b = 0; b < dataset->nBands; ++b) {
        // AVNIR-2 records blue, green, red and near infrared in that order.
        static const GDALColorInterp kAvnirColours[4] = {GCI_BlueBand, GCI_GreenBand, GCI_RedBand,
                                                         GCI_Undefined};
        const GDALColorInterp colour = avnir ? (b < 4 ? kAvnirColours[b] : GCI_Undefined) : GCI_GrayIndex;
        dataset->SetBand(b + 1, new AlosjGdalRasterBand(dataset.get(), b + 1,
                                                        layerNames ? layerNames[b] : nullptr, colour));
    }

    // The scene's corners do not belong to the strip of one CCD.
    if (!dataset->singleCcd_) dataset->SetGeoreferencing();
    dataset->SetDescriptionMetadata();
    dataset->SetQueryMetadata();
    dataset->isPrismBelowL1B2_ = product.GetSensorType() == 0 && product.GetProductLevel() != kLevel1B2;

    dataset->SetDescription(openInfo->pszFilename);
    dataset->TryLoadXML(openInfo->GetSiblingFiles());
    dataset->oOvManager.Initialize(dataset.get(), openInfo->pszFilename);
    return dataset.release();
}

bool AlosjGdalDataset::OpenProduct(const std::string& volumePath, int ccdNumber) {
    const std::string context = std::string(kErrorPrefix) + CPLGetFilename(volumePath.c_str()) + ": ";
    LibraryReportScope reports;
    product_.reset(ccdNumber > 0 ? new CeosAlosjDataset(volumePath.c_str(), ccdNumber)
                                 : new CeosAlosjDataset(volumePath.c_str()));
    if (product_->FileOpen(nullptr) < 0) {
        reports.Emit(CE_Failure, CPLE_OpenFailed, context);
        CPLError(CE_Failure, CPLE_OpenFailed, "%snot an ALOS PRISM or AVNIR-2 volume directory file",
                 context.c_str());
        return false;
    }
    product_->FileRead();
    if (reports.HasFailure()) {
        reports.Emit(CE_Failure, CPLE_OpenFailed, context);
        CPLError(CE_Failure, CPLE_OpenFailed, "%sthe product is incomplete or damaged", context.c_str());
        return false;
    }
    reports.Emit(CE_Failure, CPLE_OpenFailed, context);  // warnings only

    const CeosAlosjDataset& p = *product_;
    const bool ccdFiles = p.GetSensorType() == 0 && p.GetProductLevel() != kLevel1B2;
    singleCcd_ = ccdNumber > 0 && ccdFiles;
    if (ccdNumber > 0 && !ccdFiles)
        CPLError(CE_Warning, CPLE_IllegalArg,
                 "%sthe CCD open option applies to PRISM Level 1A and 1B1 products only: ignored",
                 context.c_str());
    const long width = p.GetSceneWidth();
    const long height = p.GetSceneHeight();
    if (singleCcd_ && width <= 0) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%sCCD %d is not one of the product's %ld CCD image files",
                 context.c_str(), ccdNumber, p.GetImgFileCount());
        return false;
    }
    // The raster must be one GDAL can hold, one byte a sample.
    if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX ||
        !GDALCheckDatasetDimensions(static_cast<int>(width), static_cast<int>(height))) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%sthe product describes no usable raster (%ld x %ld)",
                 context.c_str(), width, height);
        return false;
    }
    const long layers = p.GetNumOfLayers();
    if (layers < 1 || layers > p.GetImgFileCount() || !GDALCheckBandCount(static_cast<int>(layers), FALSE)) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s%ld layers over %ld image files cannot be read",
                 context.c_str(), layers, p.GetImgFileCount());
        return false;
    }
    if (p.GetNumOfBytesPerPixel() > 1) {
        CPLError(CE_Failure, CPLE_NotSupported, "%ssamples of %ld bytes are not supported", context.c_str(),
                 p.GetNumOfBytesPerPixel());
        return false;
    }
    nRasterXSize = static_cast<int>(width);
    nRasterYSize = static_cast<int>(height);
    nBands = static_cast<int>(layers);
    return true;
}

void AlosjGdalDataset::SetGeoreferencing() {
    CeosAlosjDataset& p = *product_;
    const char* projection = p.GetMapProjection();
    const std::string name = projection ? projection : "";
    const bool utm = name == "UTM";
    const bool ps = name == "PS";
    const int geographic = GeographicEpsg(Trimmed(p.GetEllipsoidName()));

    // Only a geocoded Level 1B2 product lies north up on its map grid: a
    // georeferenced one follows the orbit path, a true-north one is turned by
    // the meridian convergence, and the lower levels are not map-projected.
    const bool gridAligned = p.GetProductLevel() == kLevel1B2 && p.IsGeocoded() &&
                             p.GetMapDirection() != CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH;
    const double xSize = p.GetXPixelSize();
    const double ySize = p.GetYPixelSize();
    const double easting = p.GetUpperLeftCornerEasting();
    const double northing = p.GetUpperLeftCornerNorthing();
    if ((utm || ps) && gridAligned && xSize > 0 && ySize > 0 && std::isfinite(xSize) &&
        std::isfinite(ySize) && std::isfinite(easting) && std::isfinite(northing)) {
        const double transform[6] = {easting, xSize, 0.0, northing, 0.0, -ySize};
        std::memcpy(geoTransform_, transform, sizeof transform);
        hasGeoTransform_ = true;

        crs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        const long zone = p.GetUTMZoneNum();
        const bool north = p.GetUTMHemishpere() == 1;
        OGRErr err = OGRERR_FAILURE;
        if (geographic == 0) {
            CPLError(CE_Warning, CPLE_AppDefined, "%sellipsoid '%s' is not known: the raster has no CRS",
                     kErrorPrefix, Trimmed(p.GetEllipsoidName()).c_str());
        } else if (utm && (zone < 1 || zone > 60)) {
            CPLError(CE_Warning, CPLE_AppDefined, "%sUTM zone %ld is not a zone: the raster has no CRS",
                     kErrorPrefix, zone);
        } else if (utm && geographic == 4326) {
            err = crs_.importFromEPSG((north ? 32600 : 32700) + static_cast<int>(zone));
        } else if (utm) {
            err = crs_.importFromEPSG(geographic);
            if (err == OGRERR_NONE) err = crs_.SetUTM(static_cast<int>(zone), north);
        } else {
            // Polar stereographic true to scale at the projection centre's
            // latitude, about its meridian.
            err = crs_.importFromEPSG(geographic);
            if (err == OGRERR_NONE)
                err = crs_.SetPS(p.GetProjectionCenterLat(), p.GetProjectionCenterLon(), 1.0, 0.0, 0.0);
            if (err == OGRERR_NONE) err = crs_.SetLinearUnits(SRS_UL_METER, 1.0);
        }
        if (err != OGRERR_NONE) crs_.Clear();
        return;
    }

    // The four corners, at the centres of the corner pixels.
    struct Corner {
        const char* id;
        double pixel, line;
        void (CeosAlosjDataset::*get)(double*, double*) const;
    };
    const double w = nRasterXSize;
    const double h = nRasterYSize;
    const Corner corners[4] = {{"UL", 0.5, 0.5, &CeosAlosjDataset::GetULCornerLatLon},
                               {"UR", w - 0.5, 0.5, &CeosAlosjDataset::GetURCornerLatLon},
                               {"LR", w - 0.5, h - 0.5, &CeosAlosjDataset::GetLRCornerLatLon},
                               {"LL", 0.5, h - 0.5, &CeosAlosjDataset::GetLLCornerLatLon}};
    std::vector<GDAL_GCP> gcps;
    for (const Corner& corner : corners) {
        double lat = 0.0, lon = 0.0;
        (p.*corner.get)(&lat, &lon);
        // Corners that are not places on Earth make no GCPs at all.
        if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90 || std::fabs(lon) > 360 ||
            (lat == 0.0 && lon == 0.0))
            return;
        GDAL_GCP gcp{};
        gcp.dfGCPPixel = corner.pixel;
        gcp.dfGCPLine = corner.line;
        gcp.dfGCPX = lon;
        gcp.dfGCPY = lat;
        gcps.push_back(gcp);
        gcpIds_.push_back(corner.id);
    }
    for (size_t i = 0; i < gcps.size(); ++i) {
        gcps[i].pszId = &gcpIds_[i][0];
        gcps[i].pszInfo = const_cast<char*>("");
    }
    gcps_ = std::move(gcps);
    gcpCrs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    gcpCrs_.importFromEPSG(geographic ? geographic : 4326);
}

void AlosjGdalDataset::SetDescriptionMetadata() {
    CeosAlosjDataset& p = *product_;
    CPLStringList items;
    items.SetNameValue("SENSOR", p.GetSensorType() == 0 ? "PRISM" : "AVNIR-2");
    if (const char* level = LevelName(p.GetProductLevel())) items.SetNameValue("PRODUCT_LEVEL", level);
    const MissionType mode = p.GetObservationMode();
    items.SetNameValue("OBSERVATION_MODE", ModeLetter(mode));
    if (p.GetSensorType() == 0)
        if (const char* view = PrismViewName(mode)) items.SetNameValue("VIEW", view);

    // The scene centre time comes with the scene export, which reads only
    // the leader's scene header (and the first line's scan time).
    AlosjDateTime start{};
    AlosjDateTime centre{};
    Tkmd_ALPSM1B1_IMG scene{};
    scene.sceneStartTime = &start;
    scene.sceneCenterDateTime = &centre;
    {
        std::lock_guard<std::mutex> lock(productMutex_);
        LibraryReportScope reports;
        p.GetALPSM1B1SceneData(&scene);
        reports.Emit(CE_Warning, CPLE_FileIO, kErrorPrefix);
    }
    Tkmd_ALPSM1B1_IMG_Release(&scene);
    if (centre.year > 0)
        items.SetNameValue("SCENE_CENTER_TIME",
                           CPLSPrintf("%04d-%02d-%02dT%02d:%02d:%09.6f", centre.year, centre.month, centre.day,
                                      centre.hour, centre.minute, centre.seconds));

    items.SetNameValue("GEOCODED", p.IsGeocoded() ? "YES" : "NO");
    items.SetNameValue("MAP_DIRECTION",
                       p.GetMapDirection() == CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH ? "TRUE_NORTH"
                                                                                           : "OTHER");
    if (const char* projection = p.GetMapProjection()) items.SetNameValue("MAP_PROJECTION", projection);
    items.SetNameValue("ELLIPSOID", Trimmed(p.GetEllipsoidName()).c_str());
    items.SetNameValue("AREA_OR_POINT", "Area");
    SetMetadata(items.List());
}

void AlosjGdalDataset::SetQueryMetadata() {
    CeosAlosjDataset& p = *product_;
    CPLStringList& m = queryMetadata_;
    auto whole = [&](const char* query, long value) { m.SetNameValue(query, CPLSPrintf("%ld", value)); };
    auto real = [&](const char* query, double value) { m.SetNameValue(query, Number(value).c_str()); };
    auto latLon = [&](const char* query, void (CeosAlosjDataset::*get)(double*, double*) const) {
        double lat = 0.0, lon = 0.0;
        (p.*get)(&lat, &lon);
        m.SetNameValue(query, (Number(lat) + "," + Number(lon)).c_str());
    };

    whole("GetSensorType", p.GetSensorType());
    whole("GetProductLevel", p.GetProductLevel());
    whole("GetImgFileCount", p.GetImgFileCount());
    whole("GetMinCcdNumber", p.GetMinCcdNumber());
    whole("GetNumOfLayers", p.GetNumOfLayers());
    std::string layers;
    if (char** names = p.GetLayerNames())
        for (long i = 0; i < p.GetNumOfLayers(); ++i) layers += (i ? "," : "") + std::string(names[i]);
    m.SetNameValue("GetLayerNames", layers.c_str());
    whole("GetObservationMode", p.GetObservationMode());
    whole("GetPixelType", p.GetPixelType());
    whole("GetNumOfBytesPerPixel", p.GetNumOfBytesPerPixel());
    whole("GetStaggerPixelShift", p.GetStaggerPixelShift());
    for (long k = 0; k < p.GetImgFileCount(); ++k)
        if (const char* name = p.GetImageFileName(k))
            m.SetNameValue(CPLSPrintf("GetImageFileName(%ld)", k), name);
    whole("GetSceneWidth", p.GetSceneWidth());
    whole("GetSceneHeight", p.GetSceneHeight());
    real("GetXPixelSize", p.GetXPixelSize());
    real("GetYPixelSize", p.GetYPixelSize());
    real("GetUpperLeftCornerNorthing", p.GetUpperLeftCornerNorthing());
    real("GetUpperLeftCornerEasting", p.GetUpperLeftCornerEasting());
    whole("GetUTMZoneNum", p.GetUTMZoneNum());
    whole("GetUTMHemishpere", p.GetUTMHemishpere());
    const char* projection = p.GetMapProjection();
    m.SetNameValue("GetMapProjection", projection ? projection : "");
    real("GetProjectionCenterLon", p.GetProjectionCenterLon());
    real("GetProjectionCenterLat", p.GetProjectionCenterLat());
    real("GetSceneCenterUTMX", p.GetSceneCenterUTMX());
    real("GetSceneCenterUTMY", p.GetSceneCenterUTMY());
    m.SetNameValue("GetEllipsoidName", p.GetEllipsoidName());
    latLon("GetULCornerLatLon", &CeosAlosjDataset::GetULCornerLatLon);
    latLon("GetURCornerLatLon", &CeosAlosjDataset::GetURCornerLatLon);
    latLon("GetLLCornerLatLon", &CeosAlosjDataset::GetLLCornerLatLon);
    latLon("GetLRCornerLatLon", &CeosAlosjDataset::GetLRCornerLatLon);
    whole("GetMapDirection", p.GetMapDirection());
    whole("IsGeocoded", p.IsGeocoded());
}

CPLStringList* AlosjGdalDataset::SensorModel() {
    if (!isPrismBelowL1B2_) return nullptr;
    std::lock_guard<std::mutex> lock(productMutex_);
    if (!sensorModelMade_) {
        sensorModelMade_ = true;
        LibraryReportScope reports;
        sensorModel_.AddString(SensorModelJson(*product_).c_str());
        reports.Emit(CE_Warning, CPLE_FileIO, kErrorPrefix);
    }
    return &sensorModel_;
}

AlosjGdalDataset::~AlosjGdalDataset() {
    AlosjGdalDataset::FlushCache(true);
    if (product_) {
        LibraryReportScope reports;
        product_->FileClose();
        product_.reset();
        reports.Emit(CE_Warning, CPLE_FileIO, kErrorPrefix);
    }
}

CPLErr AlosjGdalDataset::GetGeoTransform(double* transform) {
    if (!hasGeoTransform_) return GDALPamDataset::GetGeoTransform(transform);
    std::memcpy(transform, geoTransform_, sizeof geoTransform_);
    return CE_None;
}

const OGRSpatialReference* AlosjGdalDataset::GetSpatialRef() const {
    return crs_.IsEmpty() ? GDALPamDataset::GetSpatialRef() : &crs_;
}

int AlosjGdalDataset::GetGCPCount() {
    return gcps_.empty() ? GDALPamDataset::GetGCPCount() : static_cast<int>(gcps_.size());
}

const OGRSpatialReference* AlosjGdalDataset::GetGCPSpatialRef() const {
    return gcps_.empty() ? GDALPamDataset::GetGCPSpatialRef() : &gcpCrs_;
}

const GDAL_GCP* AlosjGdalDataset::GetGCPs() { return gcps_.empty() ? GDALPamDataset::GetGCPs() : gcps_.data(); }

char** AlosjGdalDataset::GetMetadataDomainList() {
    return BuildMetadataDomainList(GDALPamDataset::GetMetadataDomainList(), TRUE, kQueryDomain,
                                   isPrismBelowL1B2_ ? kSensorModelDomain : nullptr, nullptr);
}

char** AlosjGdalDataset::GetMetadata(const char* domain) {
    if (domain && EQUAL(domain, kQueryDomain)) return queryMetadata_.List();
    if (domain && EQUAL(domain, kSensorModelDomain)) {
        CPLStringList* model = SensorModel();
        return model ? model->List() : nullptr;
    }
    return GDALPamDataset::GetMetadata(domain);
}

const char* AlosjGdalDataset::GetMetadataItem(const char* name, const char* domain) {
    if (domain && EQUAL(domain, kQueryDomain)) return queryMetadata_.FetchNameValue(name);
    if (domain && EQUAL(domain, kSensorModelDomain)) return nullptr;  // one document, no items
    return GDALPamDataset::GetMetadataItem(name, domain);
}

AlosjGdalRasterBand::AlosjGdalRasterBand(AlosjGdalDataset* dataset, int band, const char* layerName,
                                         GDALColorInterp colour)
    : colour_(colour) {
    poDS = dataset;
    nBand = band;
    eDataType = GDT_Byte;
    nBlockXSize = dataset->GetRasterXSize();
    nBlockYSize = 1;
    if (layerName) GDALPamRasterBand::SetDescription(layerName);
}

CPLErr AlosjGdalRasterBand::IReadBlock(int, int blockY, void* image) {
    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    unsigned char* row = static_cast<unsigned char*>(image);
    std::lock_guard<std::mutex> lock(dataset->productMutex_);
    LibraryReportScope reports;
    // The library fills exactly the scene width, which is the block width.
    dataset->product_->GetRow(nBand - 1, static_cast<unsigned long>(blockY), 0, &row);
    if (!reports.HasFailure()) {
        reports.Emit(CE_Failure, CPLE_FileIO, kErrorPrefix);
        return CE_None;
    }
    reports.Emit(CE_Failure, CPLE_FileIO,
                 std::string(kErrorPrefix) + "band " + std::to_string(nBand) + " row " + std::to_string(blockY) + ": ");
    return CE_Failure;
}

double AlosjGdalRasterBand::GetNoDataValue(int* success) {
    // A value a user set through the .aux.xml wins; otherwise dummy pixels are 0.
    int own = FALSE;
    const double value = GDALPamRasterBand::GetNoDataValue(&own);
    if (success) *success = TRUE;
    return own ? value : 0.0;
}

GDALColorInterp AlosjGdalRasterBand::GetColorInterpretation() {
    const GDALColorInterp own = GDALPamRasterBand::GetColorInterpretation();
    return own != GCI_Undefined ? own : colour_;
}

}  // namespace alosjgdal
