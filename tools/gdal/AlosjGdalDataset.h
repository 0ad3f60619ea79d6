// The GDAL raster driver "ALOSJ": an ALOS PRISM or AVNIR-2 Level 1 product
// opened by its volume directory file (or its product directory) through the
// library's CeosAlosjDataset.
//
// The raster is the product's assembled scene (PRISM CCD files stitched,
// AVNIR-2 lines de-staggered), one Byte band per layer, read one row per
// block.  Placement, metadata, band meaning and the sensor model come from
// the product description alosj shares (tools/describe): the default domain
// holds the product's description, the domain "ALOSJ" every query of the
// library, and "json:ALOSJ_SENSOR_MODEL" the PRISM Level 1A/1B1 sensor model.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cpl_string.h"
#include "gdal_pam.h"
#include "ogr_spatialref.h"

class CeosAlosjDataset;
namespace alosjdescribe {
class ProductDescription;
}

namespace alosjgdal {

/// What the driver recognises in a file name and a volume descriptor.
/// Returns 0 for PRISM, 1 for AVNIR-2, -1 for anything else.
int IdentifyVolumeDirectory(const char* fileName, const unsigned char* header, int headerBytes);

/// The one volume directory file of a product directory, or "" when the
/// directory holds none or more than one.
std::string FindVolumeDirectoryIn(const char* directory);

class AlosjGdalRasterBand;

class AlosjGdalDataset final : public GDALPamDataset {
    friend class AlosjGdalRasterBand;

public:
    static int Identify(GDALOpenInfo* openInfo);
    static GDALDataset* Open(GDALOpenInfo* openInfo);

    ~AlosjGdalDataset() override;

    CPLErr GetGeoTransform(double* transform) override;
    /// Refused: overviews would be written beside the product.
    CPLErr IBuildOverviews(const char* resampling, int overviewCount, const int* overviewFactors, int bandCount,
                           const int* bandList, GDALProgressFunc progress, void* progressData,
                           CSLConstList options) override;
    const OGRSpatialReference* GetSpatialRef() const override;
    int GetGCPCount() override;
    const OGRSpatialReference* GetGCPSpatialRef() const override;
    const GDAL_GCP* GetGCPs() override;

    /// Every file of the product: the volume directory, leader, image and
    /// trailer files, the supplemental file and summary.txt where there are
    /// such, then what GDAL keeps beside the dataset (.aux.xml), so that
    /// GDAL's copy, rename and delete take the product whole.
    char** GetFileList() override;

    char** GetMetadataDomainList() override;
    char** GetMetadata(const char* domain = "") override;
    const char* GetMetadataItem(const char* name, const char* domain = "") override;

private:
    AlosjGdalDataset() = default;

    /// Opens and reads the product; false (with CPLErrors issued) when it
    /// cannot deliver a raster.
    bool OpenProduct(const std::string& volumePath, int ccdNumber);
    /// Takes placement, metadata and band meaning from the shared description.
    void Describe(int ccdNumber);
    CPLStringList* SensorModel();
    /// The RPC items of band (0-based), fitted when first asked for, null
    /// when none is offered; the residuals are added to the default domain
    /// of the dataset (band 0) and of the band (bands of their own models).
    char** Rpc(int band);

    std::unique_ptr<CeosAlosjDataset> product_;
    /// One thread at a time in the library's dataset.
    std::mutex productMutex_;

    bool singleCcd_ = false;  ///< one PRISM CCD file opened alone (CCD=n)
    bool hasGeoTransform_ = false;
    double geoTransform_[6] = {0, 1, 0, 0, 0, 1};
    OGRSpatialReference crs_;
    std::vector<GDAL_GCP> gcps_;
    std::vector<std::string> gcpIds_;
    OGRSpatialReference gcpCrs_;

    CPLStringList queryMetadata_;
    std::string volumePath_;
    bool hasSensorModel_ = false;
    bool sensorModelMade_ = false;
    CPLStringList sensorModel_;
    std::unique_ptr<alosjdescribe::ProductDescription> description_;
    struct BandRpc {
        bool made = false;
        bool offered = false;
        CPLStringList items;
    };
    std::vector<BandRpc> rpcs_;
};

class AlosjGdalRasterBand final : public GDALPamRasterBand {
public:
    AlosjGdalRasterBand(AlosjGdalDataset* dataset, int band, const std::string& description, GDALColorInterp colour);

    /// A block is kBlockRows full-width rows, read with the library's
    /// multi-row reads.
    CPLErr IReadBlock(int blockX, int blockY, void* image) override;
    /// Reads whole rows straight into the buffer, windows out of the kept
    /// row bands, and what is resampled through the blocks; when a read
    /// fails, the rows asked for are read one by one, so that rows next to a
    /// damaged one still read and the failure names the rows that cannot be
    /// read.
    CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int width, int height, void* buffer, int bufferWidth,
                     int bufferHeight, GDALDataType bufferType, GSpacing pixelSpacing, GSpacing lineSpacing,
                     GDALRasterIOExtraArg* extra) override;
    double GetNoDataValue(int* success = nullptr) override;
    GDALColorInterp GetColorInterpretation() override;
    char** GetMetadataDomainList() override;
    char** GetMetadata(const char* domain = "") override;
    const char* GetMetadataItem(const char* name, const char* domain = "") override;

    static constexpr int kBlockRows = 256;
    /// The most bytes one row band holds.
    static constexpr size_t kMostRowBandBytes = size_t{64} << 20;

private:
    /// Whole rows kept for windows: the blocks a window lies in, read at once.
    struct RowBand {
        int first = 0;
        int count = 0;  // 0: holds nothing
        uint64_t lastUse = 0;
        std::vector<unsigned char> rows;
    };
    /// Reads rows [first, first + count) of the band through the library's
    /// multi-row read, with the product's lock held; true when nothing
    /// failed (the library's other reports passed on), false after a failure,
    /// which is left to the caller to read its own way.
    bool ReadRowsAtOnce(int first, int count, unsigned char* rows);
    /// Reads a window (full resolution) out of the row band that holds its
    /// rows, reading the band first when neither kept band does; false when
    /// the band would be too large or cannot be read (nothing is reported
    /// then: the caller reads the window its own way).
    bool ReadFromRowBand(int x, int y, int width, int height, void* buffer, GDALDataType bufferType,
                         GSpacing pixelSpacing, GSpacing lineSpacing);

    /// Reads rows [y, y + height) row by row into buffer (full resolution).
    CPLErr ReadRowByRow(int x, int y, int width, int height, void* buffer, GDALDataType bufferType,
                        GSpacing pixelSpacing, GSpacing lineSpacing);

    GDALColorInterp colour_;
    std::array<RowBand, 2> rowBands_;
    uint64_t rowBandUses_ = 0;
};

}  // namespace alosjgdal
