#include "AlosjGdalDataset.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "AlosjGdalReports.h"
#include "cpl_vsi.h"
#include "dataset/CeosAlosjDataset.h"
#include "tools/describe/ProductDescription.h"

namespace alosjgdal {

namespace {

constexpr int kMaxCcdNumber = 8;

const char* const kErrorPrefix = "ALOSJ: ";

}  // namespace

int IdentifyVolumeDirectory(const char* fileName, const unsigned char* header, int headerBytes) {
    return static_cast<int>(CeosAlosjSensorOfVolumeDirectory(fileName, header, headerBytes));
}

std::string FindVolumeDirectoryIn(const char* directory) {
    const CPLStringList names(VSIReadDir(directory));
    std::string found;
    for (int i = 0; i < names.size(); ++i) {
        if (alosjdescribe::SensorOfVolumeDirectoryName(names[i]) < 0) continue;
        const std::string path = CPLFormFilename(directory, names[i], nullptr);
        VSILFILE* file = VSIFOpenL(path.c_str(), "rb");
        if (!file) continue;
        unsigned char header[kCeosAlosjVolumeIdentifyingBytes] = {};
        const size_t read = VSIFReadL(header, 1, sizeof header, file);
        VSIFCloseL(file);
        if (IdentifyVolumeDirectory(names[i], header, static_cast<int>(read)) < 0) continue;
        if (!found.empty()) return std::string();  // two products: which one is meant is unclear
        found = path;
    }
    return found;
}

int AlosjGdalDataset::Identify(GDALOpenInfo* openInfo) {
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

    dataset->volumePath_ = volume;
    dataset->Describe(ccdNumber);

    dataset->SetDescription(openInfo->pszFilename);
    // A .aux.xml or .ovr that a user put beside the product is read, but
    // nothing is ever written there: archives are often read-only, and a
    // file appearing beside a product (or beside its directory) disturbs
    // the jobs that list them.  What a client sets lives with the dataset.
    dataset->TryLoadXML(openInfo->GetSiblingFiles());
    dataset->nPamFlags |= GPF_NOSAVE;
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
    const bool ccdFiles = p.GetSensorType() == alosjdescribe::kPrism && p.GetProductLevel() != alosjdescribe::kLevel1B2;
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

void AlosjGdalDataset::Describe(int ccdNumber) {
    CeosAlosjDataset& p = *product_;
    std::unique_ptr<alosjdescribe::ProductDescription> description;
    {
        // The description reads the first line's time through the scene export.
        std::lock_guard<std::mutex> lock(productMutex_);
        LibraryReportScope reports;
        description = std::make_unique<alosjdescribe::ProductDescription>(p, singleCcd_ ? ccdNumber : 0);
        reports.Emit(CE_Warning, CPLE_FileIO, kErrorPrefix);
    }
    const alosjdescribe::Placement& placement = description->GetPlacement();
    if (!placement.warning.empty())
        CPLError(CE_Warning, CPLE_AppDefined, "%s%s: %s", kErrorPrefix, CPLGetFilename(volumePath_.c_str()),
                 placement.warning.c_str());
    if (placement.kind == alosjdescribe::Placement::Kind::GeoTransform) {
        std::memcpy(geoTransform_, placement.geoTransform, sizeof geoTransform_);
        hasGeoTransform_ = true;
        crs_ = placement.crs;
    } else if (placement.kind == alosjdescribe::Placement::Kind::Gcps) {
        for (const auto& point : placement.gcps) gcpIds_.push_back(point.id);
        for (size_t i = 0; i < placement.gcps.size(); ++i) {
            GDAL_GCP gcp{};
            gcp.pszId = &gcpIds_[i][0];
            gcp.pszInfo = const_cast<char*>("");
            gcp.dfGCPPixel = placement.gcps[i].pixel;
            gcp.dfGCPLine = placement.gcps[i].line;
            gcp.dfGCPX = placement.gcps[i].longitude;
            gcp.dfGCPY = placement.gcps[i].latitude;
            gcps_.push_back(gcp);
        }
        gcpCrs_ = placement.crs;
    }

    CPLStringList items;
    for (const auto& [name, value] : description->Metadata()) items.SetNameValue(name.c_str(), value.c_str());
    SetMetadata(items.List());
    CPLStringList imagery;
    for (const auto& [name, value] : description->Imagery()) imagery.SetNameValue(name.c_str(), value.c_str());
    SetMetadata(imagery.List(), alosjdescribe::kImageryDomain);
    for (const auto& [name, value] : description->Queries()) queryMetadata_.SetNameValue(name.c_str(), value.c_str());

    const auto& bands = description->Bands();
    for (int b = 0; b < nBands; ++b) {
        auto* band = new AlosjGdalRasterBand(this, b + 1, bands[b].description, bands[b].colour);
        SetBand(b + 1, band);
        for (const auto& [name, value] : description->BandMetadata(b))
            band->GDALPamRasterBand::SetMetadataItem(name.c_str(), value.c_str());
        for (const auto& [name, value] : description->BandImagery(b))
            band->GDALPamRasterBand::SetMetadataItem(name.c_str(), value.c_str(), alosjdescribe::kImageryDomain);
        // Levels 1B1 and 1B2: radiance = gain × DN + offset, as GDAL's scale and offset.
        if (bands[b].calibrated) {
            band->GDALPamRasterBand::SetScale(bands[b].gain);
            band->GDALPamRasterBand::SetOffset(bands[b].offset);
            band->GDALPamRasterBand::SetUnitType(alosjdescribe::kRadianceUnit);
        }
    }
    hasSensorModel_ = alosjdescribe::HasSensorModel(p);
    rpcs_.resize(static_cast<size_t>(nBands));
    description_ = std::move(description);
    // What the description set is the driver's own, not a change to save.
    nPamFlags &= ~GPF_DIRTY;
}

char** AlosjGdalDataset::Rpc(int band) {
    if (band < 0 || band >= static_cast<int>(rpcs_.size())) return nullptr;
    BandRpc& rpc = rpcs_[static_cast<size_t>(band)];
    std::lock_guard<std::mutex> lock(productMutex_);
    if (!rpc.made) try {
        CeosAlosjRpcFit fit;
        {
            LibraryReportScope reports;
            fit = description_->Rpc(band);
            reports.Emit(CE_Warning, CPLE_AppDefined, kErrorPrefix);
        }
        // No one model follows a stitched raster's CCD seams; each CCD has its own.
        const long files = product_->GetColumnRanges(band, nullptr, 0);
        if (fit.status == ALOSJ_RPC_NOT_CLOSE && files > 1) {
            const long first = product_->GetMinCcdNumber();
            CPLError(CE_Warning, CPLE_AppDefined,
                     "%sband %d: each CCD has its own RPC model when opened alone with the open option CCD=N "
                     "(N = %ld to %ld)",
                     kErrorPrefix, band + 1, first, first + files - 1);
        }
        rpc.offered = fit.offered;
        if (fit.offered)
            for (const auto& [name, value] : alosjdescribe::RpcMetadata(fit.rpc))
                rpc.items.SetNameValue(name.c_str(), value.c_str());
        // The residuals are the driver's own items, not a change to save.
        const int dirty = nPamFlags & GPF_DIRTY;
        for (const auto& [name, value] : alosjdescribe::RpcResidualItems(fit)) {
            if (band == 0) GDALPamDataset::SetMetadataItem(name.c_str(), value.c_str());
            if (description_->RpcPerBand())
                static_cast<AlosjGdalRasterBand*>(GetRasterBand(band + 1))
                    ->GDALPamRasterBand::SetMetadataItem(name.c_str(), value.c_str());
        }
        nPamFlags = (nPamFlags & ~GPF_DIRTY) | dirty;
        rpc.made = true;
    } catch (const std::exception& e) {  // no exception may reach GDAL's callers
        rpc.offered = false;
        CPLError(CE_Warning, CPLE_OutOfMemory, "%sno RPC model for band %d: %s", kErrorPrefix, band + 1, e.what());
        return nullptr;
    }
    return rpc.offered ? rpc.items.List() : nullptr;
}

CPLStringList* AlosjGdalDataset::SensorModel() {
    if (!hasSensorModel_) return nullptr;
    std::lock_guard<std::mutex> lock(productMutex_);
    if (!sensorModelMade_) {
        sensorModelMade_ = true;
        LibraryReportScope reports;
        // Text the product carries need not be UTF-8: such bytes are replaced.
        sensorModel_.AddString(alosjdescribe::SensorModelJson(*product_, volumePath_)
                                   .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                                   .c_str());
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

char** AlosjGdalDataset::GetFileList() {
    CPLStringList files;
    auto add = [&](const std::string& path) {
        VSIStatBufL stat;
        if (!path.empty() && files.FindString(path.c_str()) < 0 && VSIStatL(path.c_str(), &stat) == 0 &&
            VSI_ISREG(stat.st_mode))
            files.AddString(path.c_str());
    };
    // The other files are named like the volume directory file with their
    // own prefix in place of VOL; the image files as the library found them.
    const std::string directory = CPLGetPath(volumePath_.c_str());
    const std::string name = CPLGetFilename(volumePath_.c_str());
    const std::string tail = name.size() > 4 ? name.substr(4) : std::string();
    auto sibling = [&](const std::string& fileName) { return std::string(CPLFormFilename(directory.c_str(), fileName.c_str(), nullptr)); };
    add(volumePath_);
    add(sibling("LED-" + tail));
    {
        std::lock_guard<std::mutex> lock(productMutex_);
        for (long k = 0; k < product_->GetImgFileCount(); ++k)
            if (const char* image = product_->GetImageFileName(k)) add(image);
    }
    // One CCD file opened alone is still one file of the product.
    if (singleCcd_)
        for (int ccd = 1; ccd <= kMaxCcdNumber; ++ccd) add(sibling("IMG-0" + std::to_string(ccd) + "-" + tail));
    add(sibling("TRL-" + tail));
    add(sibling("SUP-" + tail));
    add(sibling("summary.txt"));
    // Beside the dataset: what PAM reads (the description may be the
    // product's directory, which is no file to copy).
    const CPLStringList beside(GDALPamDataset::GetFileList());
    for (int i = 0; i < beside.size(); ++i) add(beside[i]);
    return files.StealList();
}

CPLErr AlosjGdalDataset::IBuildOverviews(const char*, int, const int*, int, const int*, GDALProgressFunc, void*,
                                         CSLConstList) {
    CPLError(CE_Failure, CPLE_NotSupported,
             "%s%s: overviews are not written beside a product; make them on a copy "
             "(gdal_translate, or alosj export --format COG)",
             kErrorPrefix, CPLGetFilename(volumePath_.c_str()));
    return CE_Failure;
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
    return BuildMetadataDomainList(GDALPamDataset::GetMetadataDomainList(), TRUE, alosjdescribe::kQueryDomain,
                                   hasSensorModel_ ? alosjdescribe::kSensorModelDomain : nullptr,
                                   Rpc(0) ? alosjdescribe::kRpcDomain : nullptr, nullptr);
}

namespace {

bool IsDefaultDomain(const char* domain) { return !domain || !*domain; }

}  // namespace

char** AlosjGdalDataset::GetMetadata(const char* domain) {
    if (domain && EQUAL(domain, alosjdescribe::kQueryDomain)) return queryMetadata_.List();
    if (domain && EQUAL(domain, alosjdescribe::kSensorModelDomain)) {
        CPLStringList* model = SensorModel();
        return model ? model->List() : nullptr;
    }
    if (domain && EQUAL(domain, alosjdescribe::kRpcDomain)) return Rpc(0);
    if (IsDefaultDomain(domain)) Rpc(0);  // its residuals are default items
    return GDALPamDataset::GetMetadata(domain);
}

const char* AlosjGdalDataset::GetMetadataItem(const char* name, const char* domain) {
    if (domain && EQUAL(domain, alosjdescribe::kQueryDomain)) return queryMetadata_.FetchNameValue(name);
    if (domain && EQUAL(domain, alosjdescribe::kSensorModelDomain)) return nullptr;  // one document, no items
    if (domain && EQUAL(domain, alosjdescribe::kRpcDomain)) return CSLFetchNameValue(Rpc(0), name);
    if (IsDefaultDomain(domain) && name && STARTS_WITH_CI(name, "RPC_")) Rpc(0);
    return GDALPamDataset::GetMetadataItem(name, domain);
}

char** AlosjGdalRasterBand::GetMetadataDomainList() {
    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    const bool own = dataset->description_->RpcPerBand() && dataset->Rpc(nBand - 1);
    return BuildMetadataDomainList(GDALPamRasterBand::GetMetadataDomainList(), TRUE,
                                   own ? alosjdescribe::kRpcDomain : nullptr, nullptr);
}

char** AlosjGdalRasterBand::GetMetadata(const char* domain) {
    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    if (dataset->description_->RpcPerBand()) {
        if (domain && EQUAL(domain, alosjdescribe::kRpcDomain)) return dataset->Rpc(nBand - 1);
        if (IsDefaultDomain(domain)) dataset->Rpc(nBand - 1);  // its residuals are default items
    }
    return GDALPamRasterBand::GetMetadata(domain);
}

const char* AlosjGdalRasterBand::GetMetadataItem(const char* name, const char* domain) {
    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    if (dataset->description_->RpcPerBand()) {
        if (domain && EQUAL(domain, alosjdescribe::kRpcDomain))
            return CSLFetchNameValue(dataset->Rpc(nBand - 1), name);
        if (IsDefaultDomain(domain) && name && STARTS_WITH_CI(name, "RPC_")) dataset->Rpc(nBand - 1);
    }
    return GDALPamRasterBand::GetMetadataItem(name, domain);
}

AlosjGdalRasterBand::AlosjGdalRasterBand(AlosjGdalDataset* dataset, int band, const std::string& description,
                                         GDALColorInterp colour)
    : colour_(colour) {
    poDS = dataset;
    nBand = band;
    eDataType = GDT_Byte;
    nBlockXSize = dataset->GetRasterXSize();
    nBlockYSize = std::max(1, std::min(kBlockRows, dataset->GetRasterYSize()));
    GDALPamRasterBand::SetDescription(description.c_str());
}

CPLErr AlosjGdalRasterBand::IReadBlock(int, int blockY, void* image) {
    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    const int first = blockY * nBlockYSize;
    const int rows = std::max(0, std::min(nBlockYSize, nRasterYSize - first));
    auto* pixels = static_cast<unsigned char*>(image);
    std::lock_guard<std::mutex> lock(dataset->productMutex_);
    LibraryReportScope reports;
    // The library fills exactly the scene width, which is the block width;
    // the rows of the last block below the raster stay 0.
    dataset->product_->GetRows(nBand - 1, static_cast<unsigned long>(first), static_cast<unsigned long>(rows), pixels);
    std::memset(pixels + static_cast<size_t>(rows) * nBlockXSize, 0,
                static_cast<size_t>(nBlockYSize - rows) * nBlockXSize);
    if (!reports.HasFailure()) {
        reports.Emit(CE_Failure, CPLE_FileIO, kErrorPrefix);
        return CE_None;
    }
    reports.Emit(CE_Failure, CPLE_FileIO,
                 std::string(kErrorPrefix) + "band " + std::to_string(nBand) + " rows " + std::to_string(first) +
                     " to " + std::to_string(first + rows - 1) + ": ");
    return CE_Failure;
}

CPLErr AlosjGdalRasterBand::IRasterIO(GDALRWFlag flag, int x, int y, int width, int height, void* buffer,
                                      int bufferWidth, int bufferHeight, GDALDataType bufferType,
                                      GSpacing pixelSpacing, GSpacing lineSpacing, GDALRasterIOExtraArg* extra) {
    if (flag != GF_Read)
        return GDALPamRasterBand::IRasterIO(flag, x, y, width, height, buffer, bufferWidth, bufferHeight, bufferType,
                                            pixelSpacing, lineSpacing, extra);
    // Whole rows of bytes, side by side in the buffer: read straight into it,
    // past the block cache.
    const bool wholeRows = x == 0 && width == nRasterXSize && bufferWidth == width && bufferHeight == height &&
                           bufferType == GDT_Byte && pixelSpacing == 1 && lineSpacing == width;
    if (wholeRows) {
        bool read = false;
        {
            std::lock_guard<std::mutex> lock(static_cast<AlosjGdalDataset*>(poDS)->productMutex_);
            read = ReadRowsAtOnce(y, height, static_cast<unsigned char*>(buffer));
        }
        return read ? CE_None : ReadRowByRow(x, y, width, height, buffer, bufferType, pixelSpacing, lineSpacing);
    }
    if (bufferWidth == width && bufferHeight == height &&
        ReadFromRowBand(x, y, width, height, buffer, bufferType, pixelSpacing, lineSpacing))
        return CE_None;
    CPLPushErrorHandler(CPLQuietErrorHandler);
    const CPLErr result = GDALPamRasterBand::IRasterIO(flag, x, y, width, height, buffer, bufferWidth, bufferHeight,
                                                       bufferType, pixelSpacing, lineSpacing, extra);
    CPLPopErrorHandler();
    if (result == CE_None) return CE_None;
    if (bufferWidth == width && bufferHeight == height)
        return ReadRowByRow(x, y, width, height, buffer, bufferType, pixelSpacing, lineSpacing);
    // Resampled: the failure again, said aloud.
    return GDALPamRasterBand::IRasterIO(flag, x, y, width, height, buffer, bufferWidth, bufferHeight, bufferType,
                                        pixelSpacing, lineSpacing, extra);
}

bool AlosjGdalRasterBand::ReadRowsAtOnce(int first, int count, unsigned char* rows) {
    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    LibraryReportScope reports;
    dataset->product_->GetRows(nBand - 1, static_cast<unsigned long>(first), static_cast<unsigned long>(count), rows);
    if (reports.HasFailure()) return false;
    reports.Emit(CE_Failure, CPLE_FileIO, kErrorPrefix);
    return true;
}

bool AlosjGdalRasterBand::ReadFromRowBand(int x, int y, int width, int height, void* buffer, GDALDataType bufferType,
                                          GSpacing pixelSpacing, GSpacing lineSpacing) {
    // Whole blocks, so that narrow and short windows across a row share one
    // read; kept, so that the next window along the row finds it.
    const int first = y / kBlockRows * kBlockRows;
    const int end = std::min(nRasterYSize, (y + height + kBlockRows - 1) / kBlockRows * kBlockRows);
    const size_t rowBytes = static_cast<size_t>(nRasterXSize);
    if (end <= first || static_cast<size_t>(end - first) * rowBytes > kMostRowBandBytes) return false;

    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    std::lock_guard<std::mutex> lock(dataset->productMutex_);
    RowBand* band = nullptr;
    for (RowBand& kept : rowBands_)
        if (kept.count > 0 && kept.first <= y && y + height <= kept.first + kept.count) band = &kept;
    if (!band) {
        band = &*std::min_element(rowBands_.begin(), rowBands_.end(),
                                  [](const RowBand& a, const RowBand& b) { return a.lastUse < b.lastUse; });
        band->count = 0;
        try {
            band->rows.resize(static_cast<size_t>(end - first) * rowBytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (!ReadRowsAtOnce(first, end - first, band->rows.data())) return false;
        band->first = first;
        band->count = end - first;
    }
    band->lastUse = ++rowBandUses_;
    for (int r = 0; r < height; ++r)
        GDALCopyWords64(band->rows.data() + static_cast<size_t>(y - band->first + r) * rowBytes + x, GDT_Byte, 1,
                        static_cast<GByte*>(buffer) + r * lineSpacing, bufferType, static_cast<int>(pixelSpacing),
                        width);
    return true;
}

CPLErr AlosjGdalRasterBand::ReadRowByRow(int x, int y, int width, int height, void* buffer, GDALDataType bufferType,
                                         GSpacing pixelSpacing, GSpacing lineSpacing) {
    auto* dataset = static_cast<AlosjGdalDataset*>(poDS);
    std::vector<unsigned char> row(static_cast<size_t>(nRasterXSize));
    unsigned char* data = row.data();
    CPLErr result = CE_None;
    for (int r = y; r < y + height; ++r) {
        {
            std::lock_guard<std::mutex> lock(dataset->productMutex_);
            LibraryReportScope reports;
            dataset->product_->GetRow(nBand - 1, static_cast<unsigned long>(r), 0, &data);
            if (reports.HasFailure()) {
                reports.Emit(CE_Failure, CPLE_FileIO,
                             std::string(kErrorPrefix) + "band " + std::to_string(nBand) + " row " +
                                 std::to_string(r) + ": ");
                result = CE_Failure;
            } else {
                reports.Emit(CE_Failure, CPLE_FileIO, kErrorPrefix);
            }
        }
        GDALCopyWords64(row.data() + x, GDT_Byte, 1, static_cast<GByte*>(buffer) + (r - y) * lineSpacing, bufferType,
                        static_cast<int>(pixelSpacing), width);
    }
    return result;
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
