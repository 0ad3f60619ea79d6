// What a product is, as the front ends show it: the one place that turns an
// opened CeosAlosjDataset into its placement on the Earth (CRS and
// geotransform, or ground control points), its metadata items, the meaning
// of its bands and its sensor model.  `alosj` (info, export, sensor-model)
// and the GDAL driver both describe products through this module only, so
// an exported GeoTIFF and a gdal_translate copy of the driver's dataset say
// the same.
//
// Placement:
//   - A geocoded Level 1B2 product on its map grid (map north, UTM or polar
//     stereographic, usable pixel sizes) gets the map CRS and the geotransform
//     from the upper-left corner of the pixel grid.  UTM on GRS80 or WGS 84
//     is EPSG 326zz (north) or 327zz (south); on the Bessel ellipsoid it is
//     the zone's projection on Bessel 1841.  Polar stereographic is true to
//     scale at the projection centre's latitude, about its meridian.
//   - Every other product gets ground control points in the geographic CRS
//     of its ellipsoid (EPSG:4326, or EPSG:4004 for Bessel): a grid of them
//     from the processor's geolocation polynomials (CCD seams included),
//     or, where the product has no usable polynomials, its four scene
//     corners at the centres of the corner pixels.
//   - An ellipsoid this reader does not know is taken as WGS 84, and the
//     placement carries a warning that says so.
//   - Corners that are not places on Earth, and a single PRISM CCD file
//     opened alone without polynomials (the scene's corners are not its
//     strip's), leave the raster unplaced, with a warning.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gdal.h>
#include <nlohmann/json.hpp>
#include <ogr_spatialref.h>

#include "dataset/CeosAlosjDataset.h"

namespace alosjdescribe {

// The numbers the library's classification queries give.
constexpr long kPrism = CEOSALOSJ_SENSOR_PRISM;
constexpr long kAvnir2 = CEOSALOSJ_SENSOR_AVNIR2;
constexpr long kLevel1A = CEOSALOSJ_LEVEL_1A;
constexpr long kLevel1B1 = CEOSALOSJ_LEVEL_1B1;
constexpr long kLevel1B2 = CEOSALOSJ_LEVEL_1B2;

/// The sensor a volume directory file's name announces (kPrism, kAvnir2,
/// -1): the library's own rule, CeosAlosjSensorOfVolumeDirectoryName.
long SensorOfVolumeDirectoryName(const std::string& fileName);

/// "PRISM", "AVNIR-2"; "1A", "1B1", "1B2"; null for other numbers.
const char* SensorName(long sensor);
const char* LevelName(long level);
/// "N", "F", "B", "W", "A"; "OTHER" for any other letter.
const char* ObservationModeCode(MissionType mode);
/// "Nadir Normal View", "Forward View", "Backward View", "Nadir 70km View",
/// "AVNIR-2 Observation", "Other".
const char* ObservationModeName(MissionType mode);

/// "2006-10-13T01:45:12.345678Z", microseconds rounded, seconds of 60 or
/// more carried into the minute; "" for a time that is no date.
std::string IsoUtc(const AlosjDateTime& time);
std::string IsoUtc(const CeosAlosjUtcTime& time);

/// A latitude and longitude that name a place on Earth: finite, latitude
/// within ±90°, longitude within ±360° (beyond ±180° it goes on round), and
/// not exactly (0, 0), which blank or damaged fields read as.  The one test
/// of the GCPs, the footprint and the corners.
bool IsPlaceOnEarth(double latitude, double longitude);

/// Why the scene header's four corners place no raster: "" when each is a
/// place on Earth and together they span an area; otherwise the reason
/// (the corners that are no places, or a quadrilateral collapsed to a line
/// or a point).
std::string CornerProblem(const CeosAlosjDataset& dataset);

/// The metadata domain of GDAL's imagery items.
constexpr const char* kImageryDomain = "IMAGERY";

struct GroundControlPoint {
    std::string id;      // "UL", "UR", "LR", "LL"
    double pixel, line;  // (0, 0) the upper-left corner of the first pixel
    double longitude, latitude;
};

struct Placement {
    enum class Kind { None, GeoTransform, Gcps };
    Kind kind = Kind::None;
    /// The map CRS of a geotransform, or the geographic CRS of the GCPs;
    /// empty for Kind::None.  Axis order: x east, y north.
    OGRSpatialReference crs;
    int epsg = 0;         // the CRS's EPSG code, 0 when it has none
    std::string crsText;  // "EPSG:32654" or a PROJ string; "" for Kind::None
    double geoTransform[6] = {0, 1, 0, 0, 0, 1};
    std::vector<GroundControlPoint> gcps;
    std::string warning;  // why the placement is approximate or missing; "" when all is well
};

/// The unit of radiance, as GeoTIFF band units carry it.
constexpr const char* kRadianceUnit = "W m-2 sr-1 um-1";

struct BandMeaning {
    std::string layer;        // "Layer_1" …
    std::string description;  // "blue (0.42-0.50 um)", "Panchromatic (0.52-0.77 um)"
    GDALColorInterp colour;   // AVNIR-2 blue, green, red, undefined (near infrared); PRISM grey
    double centralWavelengthUm = 0.0;
    double fwhmUm = 0.0;
    /// Radiance = gain × DN + offset (kRadianceUnit); `calibrated` for
    /// Levels 1B1 and 1B2 only, whose DN the gains turn into radiance.
    double gain = 0.0;
    double offset = 0.0;
    bool calibrated = false;
    /// Why a radiometrically corrected band's gain and offset give no
    /// radiance (not finite, or outside kPlausibleGain / kPlausibleOffset);
    /// "" when they do, and for Level 1A.
    std::string calibrationProblem;
};

/// Gains and offsets that can be a product's: real gains are 0.0x to 2
/// W m-2 sr-1 um-1 per DN and offsets near 0.  Beyond these ranges a
/// Float32 radiance would be infinite, zero or meaningless.
constexpr double kPlausibleGain[2] = {1e-3, 1e2};
constexpr double kPlausibleOffset = 1e3;  // |offset| at most

using MetadataItems = std::vector<std::pair<std::string, std::string>>;

/// The description of an opened and read product.  ccd > 0: a PRISM CCD
/// file opened alone.  Reads only what the dataset has decoded, but for
/// the scene export's first-line time (see the dataset's reports).
class ProductDescription {
public:
    ProductDescription(CeosAlosjDataset& dataset, long ccd);

    long Sensor() const { return sensor_; }
    long Level() const { return level_; }
    long Width() const { return width_; }
    long Height() const { return height_; }
    const Placement& GetPlacement() const { return placement_; }
    /// Every band of the raster, in product order.
    const std::vector<BandMeaning>& Bands() const { return bands_; }
    /// Items of the default metadata domain, in order.
    const MetadataItems& Metadata() const { return metadata_; }
    /// The library's answers under the names of its queries ("GetSceneWidth",
    /// …): the metadata domain kQueryDomain.
    const MetadataItems& Queries() const { return queries_; }
    /// Items of a band's default metadata domain.
    MetadataItems BandMetadata(int band) const;
    /// GDAL's IMAGERY domain: the dataset's (SATELLITEID,
    /// ACQUISITIONDATETIME) and a band's (CENTRAL_WAVELENGTH_UM, FWHM_UM).
    const MetadataItems& Imagery() const { return imagery_; }
    MetadataItems BandImagery(int band) const;
    /// What the leader's scene header and radiometric record hold.
    const CeosAlosjAcquisition& Acquisition() const { return acquisition_; }
    /// ISO 8601 UTC times; "" when the product does not hold them.
    const std::string& SceneStartTime() const { return startTime_; }
    const std::string& SceneCenterTime() const { return centerTime_; }
    const std::string& SceneEndTime() const { return endTime_; }

    /// The RPC model fitted to band's line-of-sight model over heights
    /// -500 m to 9000 m (CeosAlosjDataset::GetRpc: made when first asked
    /// for, then kept; the library warns when none is offered).
    CeosAlosjRpcFit Rpc(int band) const;
    /// Whether each band carries an RPC model of its own: AVNIR-2's bands
    /// do at every level (below Level 1B2 they are placed apart, see
    /// BandsPlacedApart; at Level 1B2 the four models agree), so a band
    /// taken alone keeps one; a PRISM raster is one band.
    bool RpcPerBand() const { return bands_.size() > 1; }

    /// Whether each band is placed by geolocation of its own: AVNIR-2
    /// below Level 1B2, whose bands have polynomials and lines of sight of
    /// their own; otherwise every band is placed as the first.
    bool BandsPlacedApart() const { return sensor_ == kAvnir2 && level_ != kLevel1B2; }

    /// The `alosj info --json` document (alosjInfoVersion 1).
    nlohmann::ordered_json InfoJson(const std::string& volumePath) const;

private:
    void Place(CeosAlosjDataset& dataset);
    void PlaceByCorners(CeosAlosjDataset& dataset, int geographicEpsg);
    /// A grid of GCPs from the processor's polynomials; false when they are
    /// not usable.
    bool PlaceByPolynomials(CeosAlosjDataset& dataset, int geographicEpsg);
    void PlaceByGcps(std::vector<GroundControlPoint> gcps, int geographicEpsg);
    void Describe(CeosAlosjDataset& dataset);

    CeosAlosjDataset& dataset_;
    long ccd_;
    long sensor_;
    long level_;
    long width_;
    long height_;
    std::string ellipsoid_;
    Placement placement_;
    std::vector<BandMeaning> bands_;
    MetadataItems metadata_;
    MetadataItems queries_;
    MetadataItems imagery_;
    CeosAlosjAcquisition acquisition_;
    std::string startTime_;
    std::string centerTime_;
    std::string endTime_;
};

/// GDAL's metadata domain of RPC models.
constexpr const char* kRpcDomain = "RPC";

/// GDAL's RPC metadata items of a model (LINE_OFF … MAX_LAT).
MetadataItems RpcMetadata(const CeosAlosjRpc& rpc);
/// A fit's residuals at its check points, as default-domain items
/// (RPC_RESIDUAL_RMS_PIXELS, RPC_RESIDUAL_MAX_PIXELS, RPC_CHECK_POINTS);
/// none without a fit.
MetadataItems RpcResidualItems(const CeosAlosjRpcFit& fit);
/// Why a band has no RPC model; "" when it has one.  A raster joined from
/// ccdFiles > 1 CCD image files that no one model follows is told that each
/// CCD opened alone has its own.
std::string RpcProblem(const CeosAlosjRpcFit& fit, long ccdFiles = 1);

/// Why a band has no line-of-sight model: the check it failed, or what it
/// lacks (a status other than ALOSJ_SENSOR_OK).
std::string LineOfSightProblem(CeosAlosjSensorStatus status);
/// The model as the text of a file GDAL reads beside a raster: "name_RPC.TXT"
/// (KEY: value lines) or "name.RPB" (rpb).
std::string RpcFileText(const CeosAlosjRpc& rpc, bool rpb);

/// The metadata domain of the library's query answers.
constexpr const char* kQueryDomain = "ALOSJ";
/// The metadata domain holding the sensor model document.
constexpr const char* kSensorModelDomain = "json:ALOSJ_SENSOR_MODEL";

/// True for the products that carry a sensor model: PRISM Level 1B1, whose
/// leader and supplemental files hold the scene geometry, orbit, attitude
/// and sensor constants in the form the exports hand over.
bool HasSensorModel(const CeosAlosjDataset& dataset);

/// The sensor model document (alosjSensorModelVersion 1) of a product that
/// has one: the scene, ephemeris, attitude and sensor exports with times in
/// ISO 8601 UTC.  The exports' blocks are given back before it returns.
nlohmann::ordered_json SensorModelJson(CeosAlosjDataset& dataset, const std::string& volumePath);

}  // namespace alosjdescribe
