// ceosalosj: reader of ALOS PRISM and AVNIR-2 Level 1 products (1A, 1B1, 1B2)
// in CEOS format.  This is the one header a host includes.
//
// A host constructs a CeosAlosjDataset on the path of a product's volume
// directory file (a file name containing "VOL-ALPSM" for PRISM or "VOL-ALAV2"
// for AVNIR-2: CeosAlosjSensorOfVolumeDirectoryName), then calls FileOpen, FileRead, any number of queries, GetRow
// calls and exports, then FileClose, and destroys the object.
//
//     CeosAlosjDataset dataset("/data/p1/VOL-ALPSMN038862710-O1B1__A");
//     if (dataset.FileOpen(nullptr) < 0) return;          // not a product
//     dataset.FileRead();
//     std::vector<unsigned char> row(dataset.GetSceneWidth());
//     unsigned char* data = row.data();
//     for (long r = 0; r < dataset.GetSceneHeight(); ++r)
//         dataset.GetRow(0, r, 0, &data);
//     dataset.FileClose();
//
// Failures are reported through report chains (host/HostReport.h), never
// thrown.  A dataset must be used by one thread at a time; separate datasets
// share nothing.
#pragma once

#include <memory>

#include "ceosalosj_export.h"
#include "dataset/CeosAlosjAcquisition.h"
#include "dataset/CeosAlosjGeolocation.h"
#include "dataset/CeosAlosjRpc.h"
#include "dataset/CeosAlosjSensorModel.h"
#include "files/CeosAlosjSummaryFile.h"
#include "host/HostFileSystem.h"
#include "host/HostReport.h"
#include "host/Tkmd_ALPSM1B1.h"
#include "host/tmsc.h"

/// Observation mode, from the seventh character of the first file ID.
enum MissionType {
    MISSION_A = 0,      // 'A'
    MISSION_N = 1,      // 'N': nadir normal view
    MISSION_F = 2,      // 'F': forward view
    MISSION_B = 3,      // 'B': backward view
    MISSION_W = 4,      // 'W': nadir 70 km view
    MISSION_OTHER = 5,  // any other letter
};

/// Sample type of the image files.
enum AlosjPixelType {
    ALOSJ_PIXEL_INTEGER = 0,  // format type code beginning with 'I'
    ALOSJ_PIXEL_OTHER = -1,
};

/// A small value class kept for hosts that use it; the library attaches no
/// meaning to its members.
class CEOSALOSJ_API CeosAlosjLayer {
public:
    CeosAlosjLayer();
    ~CeosAlosjLayer();
    CeosAlosjLayer& operator=(const CeosAlosjLayer& other);

    int32_t bandNumber;
    int32_t layerType;
};

/// What GetSensorType and GetProductLevel give (-1: not determined).
constexpr long CEOSALOSJ_SENSOR_PRISM = 0;
constexpr long CEOSALOSJ_SENSOR_AVNIR2 = 1;
constexpr long CEOSALOSJ_LEVEL_1A = 0;
constexpr long CEOSALOSJ_LEVEL_1B1 = 1;
constexpr long CEOSALOSJ_LEVEL_1B2 = 2;

/// The raster columns of a band that one image file's lines give.
struct CeosAlosjColumnRange {
    long file;         ///< image file index, as in GetImageFileName
    long firstColumn;  ///< the first raster column
    long columnCount;  ///< raster columns from firstColumn on
};

class CEOSALOSJ_API CeosAlosjDataset {
public:
    /// Pixels by which neighbouring PRISM CCD image files overlap.
    static const long OVERLAPWIDTH = 32;

    /// @name Lifecycle
    /// @{

    /// A dataset on the product whose volume directory file is volumeDirPath;
    /// a PRISM product is opened with all its CCD image files side by side.
    explicit CeosAlosjDataset(const char* volumeDirPath);
    /// The same, but a PRISM product below Level 1B2 is opened on the single
    /// CCD image file numbered ccdNumber.  AVNIR-2 ignores the number.
    CeosAlosjDataset(const char* volumeDirPath, long ccdNumber);
    ~CeosAlosjDataset();
    /// Copies share the opened product: both objects see the same readers,
    /// and the product is released when the last of them is destroyed.
    CeosAlosjDataset(const CeosAlosjDataset& other);
    CeosAlosjDataset& operator=(const CeosAlosjDataset& other);

    /// Opens the product's files.  Returns 0 for PRISM, 1 for AVNIR-2, or -1
    /// when the volume directory file cannot be opened or identified.  The
    /// argument is not used: the constructor's path is what is opened.
    long FileOpen(const char* name);
    /// Decodes every record of the opened files; 0.
    long FileRead();
    /// Closes the files; decoded metadata stays available; 0.
    long FileClose();
    /// @}

    /// @name Classification
    /// @{
    long GetSensorType() const;      ///< 0 PRISM, 1 AVNIR-2, -1 not determined
    long GetProductLevel() const;    ///< 0 Level 1A, 1 Level 1B1, 2 Level 1B2, -1
    long GetImgFileCount() const;
    long GetMinCcdNumber() const;    ///< smallest CCD number among the IMG-0n files (PRISM)
    long GetNumOfLayers() const;     ///< -1 without layers
    /// The layer names "Layer_1" … (the dataset's own list, not a copy).
    char** GetLayerNames() const;
    /// 0-based band of a layer name, or -1.  A name that begins with a layer
    /// name matches it ("Layer_1x" gives 0).
    long GetBandNum(const char* layerName) const;
    MissionType GetObservationMode() const;
    AlosjPixelType GetPixelType() const;
    long GetNumOfBytesPerPixel() const;
    /// Sets the AVNIR-2 de-stagger shift from the scene header (FileRead calls it).
    void SetStaggerPixelShift();
    long GetStaggerPixelShift() const;  ///< lines; 0 means no de-staggering
    /// Pixels per PRISM CCD image file by observation mode (4992 or 4928), 0
    /// when it does not apply.
    long GetPrismPixelPerFile() const;
    /// Path of image file k (0 <= k < GetImgFileCount()), or null.
    const char* GetImageFileName(long k) const;
    /// @}

    /// @name Rows
    /// @{

    /// Fills (*buffer)[0 .. GetSceneWidth() - 1] with row `row` of band
    /// bandNum: zeroes it, then reads the contributing image lines.  Never
    /// writes past GetSceneWidth() bytes.  The third argument is not used.
    /// Always 0; failed reads are reported and leave zeros.
    long GetRow(int bandNum, unsigned long row, unsigned long unused, unsigned char** buffer);
    /// Fills buffer with rowCount consecutive rows of band bandNum from
    /// firstRow on, each GetSceneWidth() bytes, one after the other: the same
    /// bytes (and reports) as GetRow row by row, read from each image file
    /// with a few large reads of consecutive records instead of one per
    /// line.  Holds at most about 16 MB of records at a time.  Always 0.
    long GetRows(int bandNum, unsigned long firstRow, unsigned long rowCount, unsigned char* buffer);
    long GetSceneWidth() const;
    long GetSceneHeight() const;
    /// The image files whose lines make up the rows of band, left to right,
    /// each with the raster columns it gives: the CCD files side by side
    /// (each after the first less its overlap) for PRISM 1A and 1B1, the
    /// band's one file across the whole row otherwise (Level 1B2 rows not
    /// geocoded cut each line by its own dummy widths within it).  Stores
    /// the first `most` ranges in ranges (which may be null with most 0) and
    /// returns how many there are; 0 for a band the product does not have.
    long GetColumnRanges(int band, CeosAlosjColumnRange* ranges, long most) const;
    /// @}

    /// @name Georeferencing
    /// @{
    double GetXPixelSize() const;  ///< metres
    double GetYPixelSize() const;
    /// Upper-left corner in map coordinates (metres); -1.0 unless the map
    /// projection is "UTM" or "PS".
    double GetUpperLeftCornerNorthing() const;
    double GetUpperLeftCornerEasting() const;
    long GetUTMZoneNum() const;
    long GetUTMHemishpere() const;  ///< 1 north, -1 south
    /// "UTM", "PS", "Raw", or null; owned by the dataset.
    char* GetMapProjection() const;
    double GetProjectionCenterLon() const;
    double GetProjectionCenterLat() const;
    double GetSceneCenterUTMX() const;  ///< metres
    double GetSceneCenterUTMY() const;
    /// The leader's 16-character ellipsoid name; owned by the dataset.
    char* GetEllipsoidName() const;
    void GetULCornerLatLon(double* lat, double* lon) const;
    void GetURCornerLatLon(double* lat, double* lon) const;
    void GetLLCornerLatLon(double* lat, double* lon) const;
    void GetLRCornerLatLon(double* lat, double* lon) const;
    CeosAlosjSummaryFile::MapDirection GetMapDirection() const;
    Tmsc_Boolean IsGeocoded() const;
    /// @}

    /// @name Acquisition and radiometry
    /// @{
    /// Fills *acquisition (CeosAlosjAcquisition.h) from the leader's scene
    /// header and radiometric record, and the scene's start and end times
    /// from the first image file's first and last lines (whose prefixes it
    /// reads; a failed read is reported and leaves that time invalid).
    void GetAcquisition(CeosAlosjAcquisition* acquisition);
    /// @}

    /// @name Geolocation by the processor's polynomials (CeosAlosjGeolocation.h)
    /// Positions are continuous raster coordinates of band (0-based): (0, 0)
    /// the top-left corner of the first pixel, (0.5, 0.5) its centre.
    /// @{
    /// Latitude and longitude (degrees) of a raster position.
    CeosAlosjLocateStatus PixelToLatLon(int band, double pixel, double line, double* latitude, double* longitude);
    /// The raster position of a latitude and longitude, refined until the
    /// forward polynomials give them back within 0.001 pixel; a position
    /// outside the raster or a failed convergence is a status, never a guess.
    /// With ALOSJ_LOCATE_OUTSIDE the position reached, beyond the raster's
    /// edge, is stored all the same (by the polynomials of the nearest CCD
    /// or band: a resampler uses it to tell how far outside a point lies).
    CeosAlosjLocateStatus LatLonToPixel(int band, double latitude, double longitude, double* pixel, double* line);
    /// The image file (index as in GetImageFileName) whose byte a raster
    /// position shows, or -1.
    long GetImageFileIndexAt(int band, double pixel, double line);
    /// @}

    /// @name Geolocation at a height (CeosAlosjSensorModel.h)
    /// Positions as above; heights in metres above the ellipsoid.
    /// @{
    /// Latitude and longitude (degrees) of the point at height that a
    /// raster position shows.
    CeosAlosjSensorStatus PixelHeightToLatLon(int band, double pixel, double line, double height, double* latitude,
                                              double* longitude);
    /// The raster position that shows the point at latitude, longitude and
    /// height, to within 0.001 pixel.  With ALOSJ_SENSOR_OUTSIDE the
    /// position reached beyond the raster's edge is stored all the same.
    CeosAlosjSensorStatus LatLonHeightToPixel(int band, double latitude, double longitude, double height,
                                              double* pixel, double* line);
    /// The time, the satellite's position and velocity and the look
    /// direction with which a raster position was imaged (at Levels 1A and
    /// 1B1 the time of the line of the image file giving the position: every
    /// position a file gives of a row shares its time tag; PRISM CCDs may
    /// image one row at different times).
    CeosAlosjSensorStatus GetLineOfSight(int band, double pixel, double line, CeosAlosjLineOfSight* sight);
    /// What state-vector block `block` of the supplemental file states of
    /// itself: 0 the first, 1 the second (the one GetALPSM1B1EphemerisData
    /// hands over, whatever its frame).  False, leaving *out alone, when the
    /// product has no supplemental file or block is not 0 or 1.
    bool GetOrbitBlock(int block, CeosAlosjOrbitBlock* out);
    /// @}

    /// @name RPC models (CeosAlosjRpc.h)
    /// One per band; PRISM's CCDs assembled side by side are one band.
    /// @{
    /// The band's RPC00B model fitted over heights -500 m to 9000 m, made on
    /// first use and kept; *fit holds the residuals also when no model is
    /// offered (the status says why; a warning was reported).
    CeosAlosjRpcStatus GetRpc(int band, CeosAlosjRpcFit* fit);
    /// The same over a height range of the caller's (e.g. a DEM's), metres
    /// above the ellipsoid, lowestHeight < highestHeight.
    CeosAlosjRpcStatus GetRpc(int band, double lowestHeight, double highestHeight, CeosAlosjRpcFit* fit);
    /// @}

    /// @name PRISM Level 1B1 sensor-model exports
    /// Blocks handed over come from tmsc_HeapMalloc and belong to the host.
    /// @{
    void GetALPSM1B1SceneData(Tkmd_ALPSM1B1_IMG* scene);
    void GetALPSM1B1EphemerisData(Tkmd_ALPSM1B1_EPH* ephemeris);
    void GetALPSM1B1AttitudeData(Tkmd_ALPSM1B1_ATT* attitude);
    void GetALPSM1B1SensorData(Tkmd_ALPSM1B1_SEN* sensor);
    /// @}

    struct State;

private:
    void SetVolumeDirFilename(const char* name);
    void SetPathName();
    void SetSensorType();
    void SetProductLevel();
    void SetImgFileCount();
    void SetBandCount();
    void SetLayerNames();
    void SetL1B2Option();
    void SetMapProjection();
    void SetPrismOpenMode(Tmsc_Boolean allCcds, long ccdNumber);
    void SetPrismPixelPerFile();
    void SetMinCcdNumber();
    long GetNumOfImagePixelsPerLine() const;
    void SetLeftDummyWidth();
    void SetRightDummyWidth();

    std::shared_ptr<State> d;
};

/// The sensor a volume directory file's name announces, as the dataset
/// classifies it: 0 (PRISM) when the file name (the last component of the
/// path, never a directory's name) contains "VOL-ALPSM", 1 (AVNIR-2) when it
/// contains "VOL-ALAV2", in any case; -1 otherwise.  The one rule by which
/// hosts find products.
extern "C" CEOSALOSJ_API long CeosAlosjSensorOfVolumeDirectoryName(const char* path);
/// How many of a volume directory file's first bytes identify it, with its
/// name: up to the end of the document identifier at bytes 17-28.
constexpr long kCeosAlosjVolumeIdentifyingBytes = 28;
/// The sensor of a volume directory file from its path and its first
/// headerBytes bytes, as FileOpen identifies it: its name's (above) when the
/// document identifier at bytes 17-28 agrees ("CEOS-PSM-CCT" for PRISM,
/// "CEOS-AV2-CCT" for AVNIR-2, in any case); -1 otherwise, and when fewer
/// than kCeosAlosjVolumeIdentifyingBytes are given.  For hosts that hold the
/// first bytes already.
extern "C" CEOSALOSJ_API long CeosAlosjSensorOfVolumeDirectory(const char* path, const unsigned char* header,
                                                                long headerBytes);
