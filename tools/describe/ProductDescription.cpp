#include "tools/describe/ProductDescription.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "host/CivilDays.h"

namespace fs = std::filesystem;

namespace alosjdescribe {

namespace {

using json = nlohmann::ordered_json;

constexpr int kWgs84 = 4326;
constexpr int kBessel1841 = 4004;  // unknown datum based on the Bessel 1841 ellipsoid
/// Steps of the grid of ground control points along each side.
constexpr int kGcpSteps = 16;
/// The least area, in square degrees, four corners of a scene span (about
/// a square metre); less is no scene.
constexpr double kLeastSceneArea = 1e-10;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trimmed(const char* text) {
    std::string s = text ? text : "";
    const size_t end = s.find_last_not_of(" \t\r\n");
    s.erase(end == std::string::npos ? 0 : end + 1);
    const size_t begin = s.find_first_not_of(" \t\r\n");
    return begin == std::string::npos ? std::string() : s.substr(begin);
}

/// Shortest text that reads back as the same double.
std::string Number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

/// The geographic CRS of the ellipsoid the leader names: WGS 84 for GRS80,
/// WGS 84 and the ITRF frames (they agree far below a pixel), Bessel 1841,
/// or 0 for a name this reader does not know.
int GeographicEpsgOf(const std::string& ellipsoid) {
    std::string name;
    for (char c : Upper(ellipsoid))
        if (c != ' ' && c != '-' && c != '_') name += c;
    if (name == "GRS80" || name == "GRS1980" || name == "WGS84" || name == "WGS1984" || name.rfind("ITRF", 0) == 0)
        return kWgs84;
    if (name.rfind("BESSEL", 0) == 0) return kBessel1841;
    return 0;
}

void Append(std::string& text, const std::string& more) {
    if (more.empty()) return;
    text += (text.empty() ? "" : "; ") + more;
}

using civil_days::CivilFromDays;
using civil_days::DaysFromCivil;

/// A time of the exports: null when missing, ISO 8601 when it is a date,
/// else its fields as they are.
json TimeJson(const AlosjDateTime* t) {
    if (!t) return nullptr;
    const std::string iso = IsoUtc(*t);
    if (!iso.empty()) return iso;
    return {{"year", t->year}, {"month", t->month},   {"day", t->day},
            {"hour", t->hour}, {"minute", t->minute}, {"seconds", t->seconds}};
}

json LatLon(double latitude, double longitude) { return {{"latitude", latitude}, {"longitude", longitude}}; }

using CornerQuery = void (CeosAlosjDataset::*)(double*, double*) const;
struct Corner {
    const char* id;
    const char* key;
    bool right, bottom;
    CornerQuery query;
};
constexpr Corner kCorners[4] = {{"UL", "upperLeft", false, false, &CeosAlosjDataset::GetULCornerLatLon},
                                {"UR", "upperRight", true, false, &CeosAlosjDataset::GetURCornerLatLon},
                                {"LR", "lowerRight", true, true, &CeosAlosjDataset::GetLRCornerLatLon},
                                {"LL", "lowerLeft", false, true, &CeosAlosjDataset::GetLLCornerLatLon}};

template <typename Entry>
int32_t CountOf(const AlosjTable<Entry>* table) {
    return table && table->entries ? std::max<int32_t>(0, table->count) : 0;
}

json Matrix3(const double m[3][3]) {
    return {{m[0][0], m[0][1], m[0][2]}, {m[1][0], m[1][1], m[1][2]}, {m[2][0], m[2][1], m[2][2]}};
}

std::string Text(const char* text) { return text ? text : ""; }

}  // namespace

// ----------------------------------------------------------------- places --

bool IsPlaceOnEarth(double latitude, double longitude) {
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90 &&
           std::fabs(longitude) <= 360 && !(latitude == 0.0 && longitude == 0.0);
}

std::string CornerProblem(const CeosAlosjDataset& d) {
    std::string bad;
    double lat[4], lon[4];
    for (int c = 0; c < 4; ++c) {
        // Named first: GCC's bounds check misreads an array index inside a
        // call through a member pointer.
        const Corner& corner = kCorners[c];
        (d.*corner.query)(&lat[c], &lon[c]);
        if (!IsPlaceOnEarth(lat[c], lon[c]))
            Append(bad, std::string(corner.key) + " " + Number(lat[c]) + ", " + Number(lon[c]));
    }
    if (!bad.empty()) return "corner coordinates that are no places on Earth (" + bad + ")";
    // The shoelace area of UL, UR, LR, LL: a quadrilateral of no area (all
    // corners on one line or one point) places no raster.
    double twiceArea = 0;
    for (int c = 0; c < 4; ++c) twiceArea += lon[c] * lat[(c + 1) % 4] - lon[(c + 1) % 4] * lat[c];
    if (!(std::fabs(twiceArea) / 2 >= kLeastSceneArea))
        return "corner coordinates that collapse to a line or a point (UL " + Number(lat[0]) + ", " + Number(lon[0]) +
               "; LR " + Number(lat[2]) + ", " + Number(lon[2]) + ")";
    return "";
}

// ------------------------------------------------------------------ names --

long SensorOfVolumeDirectoryName(const std::string& fileName) {
    return CeosAlosjSensorOfVolumeDirectoryName(fileName.c_str());
}

const char* SensorName(long sensor) {
    switch (sensor) {
        case kPrism: return "PRISM";
        case kAvnir2: return "AVNIR-2";
        default: return nullptr;
    }
}

const char* LevelName(long level) {
    switch (level) {
        case kLevel1A: return "1A";
        case kLevel1B1: return "1B1";
        case kLevel1B2: return "1B2";
        default: return nullptr;
    }
}

const char* ObservationModeCode(MissionType mode) {
    switch (mode) {
        case MISSION_A: return "A";
        case MISSION_N: return "N";
        case MISSION_F: return "F";
        case MISSION_B: return "B";
        case MISSION_W: return "W";
        default: return "OTHER";
    }
}

const char* ObservationModeName(MissionType mode) {
    // The PRISM views as the library's scene export names them.
    switch (mode) {
        case MISSION_A: return "AVNIR-2 Observation";
        case MISSION_N: return "Nadir Normal View";
        case MISSION_F: return "Forward View";
        case MISSION_B: return "Backward View";
        case MISSION_W: return "Nadir 70km View";
        default: return "Other";
    }
}

std::string IsoUtc(const AlosjDateTime& t) {
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || !std::isfinite(t.seconds) ||
        std::fabs(t.seconds) > 1e9)
        return "";
    const long long micros = std::llround(t.seconds * 1e6);
    const long long total = DaysFromCivil(t.year, t.month, t.day) * 86400000000LL +
                            (static_cast<long long>(t.hour) * 3600 + static_cast<long long>(t.minute) * 60) * 1000000LL +
                            micros;
    long long days = total / 86400000000LL;
    long long rest = total % 86400000000LL;
    if (rest < 0) {
        rest += 86400000000LL;
        --days;
    }
    long long y, m, d;
    CivilFromDays(days, y, m, d);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lldZ", y, m, d,
                  rest / 3600000000LL, rest / 60000000LL % 60, rest / 1000000LL % 60, rest % 1000000LL);
    return text;
}

std::string IsoUtc(const CeosAlosjUtcTime& time) {
    if (!time.valid) return "";
    AlosjDateTime t{};
    t.year = time.year;
    t.month = time.month;
    t.day = time.day;
    t.hour = time.hour;
    t.minute = time.minute;
    t.seconds = time.seconds;
    return IsoUtc(t);
}

// -------------------------------------------------------------- placement --

ProductDescription::ProductDescription(CeosAlosjDataset& dataset, long ccd)
    : dataset_(dataset),
      ccd_(ccd),
      sensor_(dataset.GetSensorType()),
      level_(dataset.GetProductLevel()),
      width_(dataset.GetSceneWidth()),
      height_(dataset.GetSceneHeight()),
      ellipsoid_(Trimmed(dataset.GetEllipsoidName())) {
    dataset.GetAcquisition(&acquisition_);
    Place(dataset);
    Describe(dataset);
}

void ProductDescription::Place(CeosAlosjDataset& d) {
    Placement& p = placement_;
    int geographic = GeographicEpsgOf(ellipsoid_);
    if (geographic == 0) {
        p.warning = "ellipsoid \"" + ellipsoid_ + "\" is not one this reader knows; it is taken as WGS 84";
        geographic = kWgs84;
    }
    if (ccd_ > 0) {
        // One CCD's strip: its own polynomials place it; the scene's corners do not.
        if (PlaceByPolynomials(d, geographic)) return;
        Append(p.warning, "CCD " + std::to_string(ccd_) +
                              " opened alone has no usable geolocation polynomials and the scene's corners do "
                              "not belong to its strip, so the raster is not placed");
        return;
    }

    // Only a geocoded Level 1B2 product lies north up on its map grid: a
    // georeferenced one follows the orbit path, a true-north one is turned by
    // the meridian convergence, and the lower levels are not map-projected.
    const std::string projection = d.GetMapProjection() ? d.GetMapProjection() : "";
    const bool utm = projection == "UTM", ps = projection == "PS";
    const bool gridAligned = level_ == kLevel1B2 && d.IsGeocoded() == TMSC_TRUE &&
                             d.GetMapDirection() != CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH;
    if (!(utm || ps) || !gridAligned) return PlaceByCorners(d, geographic);

    const double xSize = d.GetXPixelSize(), ySize = d.GetYPixelSize();
    const double easting = d.GetUpperLeftCornerEasting(), northing = d.GetUpperLeftCornerNorthing();
    const long zone = d.GetUTMZoneNum();
    const bool north = d.GetUTMHemishpere() == 1;
    std::string unusable;
    if (!(xSize > 0) || !(ySize > 0) || !std::isfinite(xSize) || !std::isfinite(ySize))
        unusable = "pixel sizes " + Number(xSize) + " x " + Number(ySize) + " m are not usable";
    else if (!std::isfinite(easting) || !std::isfinite(northing))
        unusable = "the upper-left corner is not a map position";
    else if (utm && (zone < 1 || zone > 60))
        unusable = "UTM zone " + std::to_string(zone) + " is not a zone";

    OGRSpatialReference crs;
    crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    int epsg = 0;
    OGRErr err = OGRERR_NONE;
    if (unusable.empty()) {
        if (utm && geographic == kWgs84) {
            epsg = (north ? 32600 : 32700) + static_cast<int>(zone);
            err = crs.importFromEPSG(epsg);
        } else {
            err = crs.importFromEPSG(geographic);
            if (err == OGRERR_NONE && utm) err = crs.SetUTM(static_cast<int>(zone), north);
            // Polar stereographic true to scale at the projection centre's
            // latitude, about its meridian.
            if (err == OGRERR_NONE && ps)
                err = crs.SetPS(d.GetProjectionCenterLat(), d.GetProjectionCenterLon(), 1.0, 0.0, 0.0);
            if (err == OGRERR_NONE) err = crs.SetLinearUnits(SRS_UL_METER, 1.0);
        }
        if (err != OGRERR_NONE) unusable = "its map projection cannot be built";
    }
    if (!unusable.empty()) {
        Append(p.warning, unusable + "; the corners are given as ground control points");
        return PlaceByCorners(d, geographic);
    }
    p.kind = Placement::Kind::GeoTransform;
    p.crs = crs;
    p.epsg = epsg;
    if (epsg) {
        p.crsText = "EPSG:" + std::to_string(epsg);
    } else {
        char* proj = nullptr;
        if (crs.exportToProj4(&proj) == OGRERR_NONE && proj) p.crsText = Trimmed(proj);
        CPLFree(proj);
    }
    const double transform[6] = {easting, xSize, 0.0, northing, 0.0, -ySize};
    std::copy(transform, transform + 6, p.geoTransform);
}

bool ProductDescription::PlaceByPolynomials(CeosAlosjDataset& d, int geographicEpsg) {
    if (width_ <= 0 || height_ <= 0) return false;
    const double width = static_cast<double>(width_), height = static_cast<double>(height_);
    // Products without usable polynomials (most damaged ones) stop here,
    // before the columns are walked.
    double latitude = 0.0, longitude = 0.0;
    if (d.PixelToLatLon(0, width / 2, height / 2, &latitude, &longitude) != ALOSJ_LOCATE_OK) return false;
    // Columns: both edges of every image file's share of the raster (CCD
    // seams included) and nodes between, so that a thin-plate spline or a
    // polynomial through them follows the geometry within a tenth of a pixel.
    std::vector<double> columns;
    auto share = [&](long start, long end) {  // columns [start, end)
        const double first = start + 0.5, last = end - 0.5;
        const int between = static_cast<int>(std::ceil((last - first) / (width / kGcpSteps)));
        for (int k = 0; k <= std::max(1, between); ++k)
            columns.push_back(first + (last - first) * k / std::max(1, between));
    };
    std::vector<CeosAlosjColumnRange> ranges(static_cast<size_t>(std::max(0L, d.GetColumnRanges(0, nullptr, 0))));
    ranges.resize(static_cast<size_t>(d.GetColumnRanges(0, ranges.data(), static_cast<long>(ranges.size()))));
    long start = 0;  // columns before it are placed
    for (const CeosAlosjColumnRange& range : ranges) {
        const long first = std::clamp(range.firstColumn, start, width_);
        const long end = std::clamp(range.firstColumn + range.columnCount, first, width_);
        if (first == end) continue;
        if (start < first) share(start, first);  // columns no file gives
        share(first, end);
        start = end;
    }
    if (start < width_) share(start, width_);
    std::vector<double> rows;
    for (int k = 0; k <= kGcpSteps; ++k) rows.push_back(0.5 + (height - 1.0) * k / kGcpSteps);

    std::vector<GroundControlPoint> gcps;
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < columns.size(); ++c) {
            double lat = 0.0, lon = 0.0;
            if (d.PixelToLatLon(0, columns[c], rows[r], &lat, &lon) != ALOSJ_LOCATE_OK || !IsPlaceOnEarth(lat, lon))
                return false;
            gcps.push_back({"R" + std::to_string(r) + "C" + std::to_string(c), columns[c], rows[r], lon, lat});
        }
    PlaceByGcps(std::move(gcps), geographicEpsg);
    return true;
}

void ProductDescription::PlaceByCorners(CeosAlosjDataset& d, int geographicEpsg) {
    // The processor's own geolocation where the product has it.
    if (PlaceByPolynomials(d, geographicEpsg)) return;
    Placement& p = placement_;
    const std::string problem = CornerProblem(d);
    if (!problem.empty()) {
        Append(p.warning, problem + ": the raster is not placed");
        return;
    }
    std::vector<GroundControlPoint> gcps;
    for (const Corner& corner : kCorners) {
        double lat = 0.0, lon = 0.0;
        (d.*corner.query)(&lat, &lon);
        gcps.push_back({corner.id, corner.right ? width_ - 0.5 : 0.5, corner.bottom ? height_ - 0.5 : 0.5, lon, lat});
    }
    PlaceByGcps(std::move(gcps), geographicEpsg);
}

void ProductDescription::PlaceByGcps(std::vector<GroundControlPoint> gcps, int geographicEpsg) {
    Placement& p = placement_;
    p.kind = Placement::Kind::Gcps;
    p.crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    p.crs.importFromEPSG(geographicEpsg);
    p.epsg = geographicEpsg;
    p.crsText = "EPSG:" + std::to_string(geographicEpsg);
    p.gcps = std::move(gcps);
}

// ------------------------------------------------------------- metadata --

void ProductDescription::Describe(CeosAlosjDataset& d) {
    // Bands.
    // Viewers put the band's number before its description ("Band 1: …"):
    // the description holds only what the band shows.
    // What each band shows; its wavelengths are the library's (the
    // acquisition's centre and width).
    static const char* const kAvnir2Bands[4] = {"blue", "green", "red", "near infrared"};
    static const GDALColorInterp kAvnir2Colours[4] = {GCI_BlueBand, GCI_GreenBand, GCI_RedBand, GCI_Undefined};
    char** layers = d.GetLayerNames();
    for (long b = 0; b < std::max(0L, d.GetNumOfLayers()); ++b) {
        BandMeaning band;
        band.layer = layers && layers[b] ? layers[b] : "Layer_" + std::to_string(b + 1);
        if (sensor_ == kAvnir2 && b < 4) {
            band.description = kAvnir2Bands[b];
            band.colour = kAvnir2Colours[b];
        } else if (sensor_ == kAvnir2) {
            band.description = band.layer;
            band.colour = GCI_Undefined;
        } else {
            band.description = "Panchromatic";
            band.colour = GCI_GrayIndex;
        }
        // One radiometry for all PRISM CCDs; AVNIR-2 band by band.
        const CeosAlosjAcquisition& a = acquisition_;
        const int radiometry = sensor_ == kPrism ? 0 : static_cast<int>(b);
        if (radiometry < a.bandCount) {
            const CeosAlosjBandRadiometry& r = a.bands[radiometry];
            band.centralWavelengthUm = r.centralWavelength;
            band.fwhmUm = r.bandwidth;
            if (r.centralWavelength > 0 && r.bandwidth > 0 && band.description != band.layer) {
                char range[32];
                std::snprintf(range, sizeof range, " (%.2f-%.2f um)", r.centralWavelength - r.bandwidth / 2,
                              r.centralWavelength + r.bandwidth / 2);
                band.description += range;
            }
            band.gain = r.gain;
            band.offset = r.offset;
            // Level 1A's coefficients give no radiance, and are not judged.
            if (a.radiometricallyCorrected && !(r.gain >= kPlausibleGain[0] && r.gain <= kPlausibleGain[1]))
                band.calibrationProblem = "calibration gain " + Number(r.gain) + " lies outside " +
                                          Number(kPlausibleGain[0]) + " to " + Number(kPlausibleGain[1]) + " " +
                                          kRadianceUnit + " per DN";
            else if (a.radiometricallyCorrected && !(std::fabs(r.offset) <= kPlausibleOffset))
                band.calibrationProblem = "calibration offset " + Number(r.offset) + " lies outside -" +
                                          Number(kPlausibleOffset) + " to " + Number(kPlausibleOffset) + " " +
                                          kRadianceUnit;
            band.calibrated = a.radiometricallyCorrected && band.calibrationProblem.empty();
        }
        bands_.push_back(band);
    }

    // Times: the scene centre time of the scene header; the start and end
    // from the scene date and the first and last lines' times of day, which
    // Level 1B2 image lines do not hold.
    startTime_ = IsoUtc(acquisition_.sceneStartTime);
    centerTime_ = IsoUtc(acquisition_.sceneCenterTime);
    endTime_ = IsoUtc(acquisition_.sceneEndTime);

    // The default domain.
    MetadataItems& m = metadata_;
    const MissionType mode = d.GetObservationMode();
    m.emplace_back("SENSOR", SensorName(sensor_) ? SensorName(sensor_) : "unknown");
    m.emplace_back("PRODUCT_LEVEL", LevelName(level_) ? LevelName(level_) : "unknown");
    m.emplace_back("OBSERVATION_MODE", ObservationModeCode(mode));
    if (sensor_ == kPrism && mode >= MISSION_N && mode <= MISSION_W) m.emplace_back("VIEW", ObservationModeName(mode));
    if (ccd_ > 0) m.emplace_back("CCD", std::to_string(ccd_));
    if (!startTime_.empty()) m.emplace_back("SCENE_START_TIME", startTime_);
    if (!centerTime_.empty()) m.emplace_back("SCENE_CENTER_TIME", centerTime_);
    if (!endTime_.empty()) m.emplace_back("SCENE_END_TIME", endTime_);
    // The acquisition, as the scene header keeps it.
    const CeosAlosjAcquisition& a = acquisition_;
    auto text = [&](const char* name, const char* value) {
        if (value && *value) m.emplace_back(name, value);
    };
    auto angle = [&](const char* name, double value) {
        if (std::isfinite(value)) m.emplace_back(name, Number(value));
    };
    text("PRODUCT_ID", a.productId);
    text("SCENE_ID", a.sceneId);
    text("RSP_ID", a.rspId);
    if (a.orbitNumber > 0) m.emplace_back("ORBIT_NUMBER", std::to_string(a.orbitNumber));
    if (a.orbitDirection) m.emplace_back("ORBIT_DIRECTION", a.orbitDirection == 'A' ? "ASCENDING" : "DESCENDING");
    angle("OFF_NADIR_ANGLE", a.offNadirAngle);
    angle("SUN_ELEVATION", a.sunElevation);
    angle("SUN_AZIMUTH", a.sunAzimuth);
    angle("ORIENTATION_ANGLE", a.orientationAngle);
    angle("INCIDENCE_ANGLE", a.incidenceAngle);
    text("PROCESSING_CODE", a.processingCode);
    text("RESAMPLING_METHOD", a.resamplingMethod);
    text("MAP_PROJECTION_METHOD", a.mapProjectionMethod);
    m.emplace_back("RADIOMETRIC_CORRECTION", a.radiometricallyCorrected ? "YES" : "NO");
    m.emplace_back("GEOCODED", d.IsGeocoded() == TMSC_TRUE ? "YES" : "NO");
    if (const char* projection = d.GetMapProjection()) m.emplace_back("MAP_PROJECTION", projection);
    m.emplace_back("ELLIPSOID", ellipsoid_);
    m.emplace_back("MAP_DIRECTION",
                   d.GetMapDirection() == CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH ? "TRUE_NORTH" : "OTHER");
    if (!placement_.warning.empty()) m.emplace_back("GEOREFERENCING_WARNING", placement_.warning);
    m.emplace_back("AREA_OR_POINT", "Area");

    // GDAL's imagery domain.
    imagery_.emplace_back("SATELLITEID", "ALOS");
    if (!centerTime_.empty()) imagery_.emplace_back("ACQUISITIONDATETIME", centerTime_);

    // The library's answers under the names of its queries.
    MetadataItems& q = queries_;
    auto whole = [&](const char* query, long value) { q.emplace_back(query, std::to_string(value)); };
    auto real = [&](const char* query, double value) { q.emplace_back(query, Number(value)); };
    whole("GetSensorType", d.GetSensorType());
    whole("GetProductLevel", d.GetProductLevel());
    whole("GetImgFileCount", d.GetImgFileCount());
    whole("GetMinCcdNumber", d.GetMinCcdNumber());
    whole("GetNumOfLayers", d.GetNumOfLayers());
    std::string layerList;
    for (const BandMeaning& band : bands_) layerList += (layerList.empty() ? "" : ",") + band.layer;
    q.emplace_back("GetLayerNames", layerList);
    whole("GetObservationMode", d.GetObservationMode());
    whole("GetPixelType", d.GetPixelType());
    whole("GetNumOfBytesPerPixel", d.GetNumOfBytesPerPixel());
    whole("GetStaggerPixelShift", d.GetStaggerPixelShift());
    // File names without the directories they were read from: a copy of
    // the metadata must not tell where the reader kept the product.
    for (long k = 0; k < d.GetImgFileCount(); ++k)
        if (const char* name = d.GetImageFileName(k))
            q.emplace_back("GetImageFileName(" + std::to_string(k) + ")", fs::path(name).filename().string());
    whole("GetSceneWidth", d.GetSceneWidth());
    whole("GetSceneHeight", d.GetSceneHeight());
    real("GetXPixelSize", d.GetXPixelSize());
    real("GetYPixelSize", d.GetYPixelSize());
    real("GetUpperLeftCornerNorthing", d.GetUpperLeftCornerNorthing());
    real("GetUpperLeftCornerEasting", d.GetUpperLeftCornerEasting());
    whole("GetUTMZoneNum", d.GetUTMZoneNum());
    whole("GetUTMHemishpere", d.GetUTMHemishpere());
    q.emplace_back("GetMapProjection", d.GetMapProjection() ? d.GetMapProjection() : "");
    real("GetProjectionCenterLon", d.GetProjectionCenterLon());
    real("GetProjectionCenterLat", d.GetProjectionCenterLat());
    real("GetSceneCenterUTMX", d.GetSceneCenterUTMX());
    real("GetSceneCenterUTMY", d.GetSceneCenterUTMY());
    q.emplace_back("GetEllipsoidName", d.GetEllipsoidName() ? d.GetEllipsoidName() : "");
    for (const Corner& corner : {kCorners[0], kCorners[1], kCorners[3], kCorners[2]}) {
        double lat = 0.0, lon = 0.0;
        (d.*corner.query)(&lat, &lon);
        q.emplace_back(std::string("Get") + corner.id + "CornerLatLon", Number(lat) + "," + Number(lon));
    }
    whole("GetMapDirection", d.GetMapDirection());
    whole("IsGeocoded", d.IsGeocoded());
}

MetadataItems ProductDescription::BandMetadata(int band) const {
    if (band < 0 || band >= static_cast<int>(bands_.size())) return {};
    const BandMeaning& meaning = bands_[band];
    MetadataItems items = {{"LAYER", meaning.layer}};
    // The coefficients as the radiometric record holds them, also for Level
    // 1A, where they give no radiance.
    const int radiometry = sensor_ == kPrism ? 0 : band;
    if (radiometry < acquisition_.bandCount) {
        const CeosAlosjBandRadiometry& r = acquisition_.bands[radiometry];
        auto real = [&](const char* name, double value) {
            if (std::isfinite(value)) items.emplace_back(name, Number(value));
        };
        real("CALIBRATION_GAIN", r.gain);
        real("CALIBRATION_OFFSET", r.offset);
        if (r.exposureCoefficient >= 0) items.emplace_back("EXPOSURE_COEFFICIENT", std::to_string(r.exposureCoefficient));
        if (r.sensorGain > ' ') items.emplace_back("SENSOR_GAIN", std::string(1, r.sensorGain));
        real("DETECTOR_TEMPERATURE", r.detectorTemperature);
        real("DETECTOR_ASSEMBLY_TEMPERATURE", r.assemblyTemperature);
    }
    return items;
}

MetadataItems ProductDescription::BandImagery(int band) const {
    if (band < 0 || band >= static_cast<int>(bands_.size()) || !(bands_[band].centralWavelengthUm > 0)) return {};
    return {{"CENTRAL_WAVELENGTH_UM", Number(bands_[band].centralWavelengthUm)},
            {"FWHM_UM", Number(bands_[band].fwhmUm)}};
}

json ProductDescription::InfoJson(const std::string& volumePath) const {
    CeosAlosjDataset& d = dataset_;
    json info;
    info["alosjInfoVersion"] = 1;
    info["volumeDirectoryFile"] = fs::absolute(volumePath).lexically_normal().string();
    info["sensor"] = SensorName(sensor_) ? SensorName(sensor_) : "unknown";
    info["level"] = LevelName(level_) ? LevelName(level_) : "unknown";
    const MissionType mode = d.GetObservationMode();
    info["observationMode"] = {{"code", ObservationModeCode(mode)}, {"name", ObservationModeName(mode)}};
    info["ccd"] = ccd_ > 0 ? json(ccd_) : json(nullptr);
    info["sceneStartTime"] = startTime_.empty() ? json(nullptr) : json(startTime_);
    info["sceneCenterTime"] = centerTime_.empty() ? json(nullptr) : json(centerTime_);
    info["sceneEndTime"] = endTime_.empty() ? json(nullptr) : json(endTime_);
    const CeosAlosjAcquisition& a = acquisition_;
    auto number = [](double value) { return std::isfinite(value) ? json(value) : json(nullptr); };
    info["acquisition"] = {
        {"productId", a.productId},
        {"productLevel", a.productLevel},
        {"sceneId", a.sceneId},
        {"rspId", a.rspId},
        {"orbitNumber", a.orbitNumber > 0 ? json(a.orbitNumber) : json(nullptr)},
        {"orbitDirection", a.orbitDirection ? json(a.orbitDirection == 'A' ? "ascending" : "descending")
                                            : json(nullptr)},
        {"offNadirAngle", number(a.offNadirAngle)},
        {"orientationAngle", number(a.orientationAngle)},
        {"incidenceAngle", number(a.incidenceAngle)},
        {"sunElevation", number(a.sunElevation)},
        {"sunAzimuth", number(a.sunAzimuth)},
        {"processingCode", a.processingCode},
        {"resamplingMethod", a.resamplingMethod},
        {"mapProjectionMethod", a.mapProjectionMethod},
        {"radiometricallyCorrected", a.radiometricallyCorrected}};

    json files = json::array();
    for (long k = 0; k < d.GetImgFileCount(); ++k) {
        const char* name = d.GetImageFileName(k);
        std::error_code error;
        const auto bytes = name ? fs::file_size(name, error) : 0;
        files.push_back({{"path", name ? name : ""}, {"bytes", error ? 0 : bytes}});
    }
    info["imageFiles"] = files;

    json layers = json::array();
    json bands = json::array();
    for (const BandMeaning& band : bands_) {
        layers.push_back(band.layer);
        bands.push_back({{"layer", band.layer},
                         {"description", band.description},
                         {"colorInterpretation", GDALGetColorInterpretationName(band.colour)},
                         {"centralWavelength", band.centralWavelengthUm > 0 ? json(band.centralWavelengthUm) : json(nullptr)},
                         {"bandwidth", band.fwhmUm > 0 ? json(band.fwhmUm) : json(nullptr)},
                         {"gain", number(band.gain)},
                         {"offset", number(band.offset)},
                         {"radiance", band.calibrated}});
    }
    info["layers"] = layers;
    info["bands"] = bands;
    info["width"] = width_;
    info["height"] = height_;
    info["pixelType"] = d.GetPixelType() == ALOSJ_PIXEL_INTEGER ? "integer" : "other";
    info["bytesPerPixel"] = d.GetNumOfBytesPerPixel();
    info["staggerShift"] = d.GetStaggerPixelShift();
    info["geocoded"] = d.IsGeocoded() == TMSC_TRUE;
    const char* projection = d.GetMapProjection();
    info["mapProjection"] = projection ? json(projection) : json(nullptr);
    info["utmZone"] = d.GetUTMZoneNum();
    info["hemisphere"] = d.GetUTMHemishpere() == 1 ? "north" : "south";
    info["pixelSize"] = {{"x", d.GetXPixelSize()}, {"y", d.GetYPixelSize()}};
    info["sceneCenterUtm"] = {{"easting", d.GetSceneCenterUTMX()}, {"northing", d.GetSceneCenterUTMY()}};
    info["projectionCenter"] = LatLon(d.GetProjectionCenterLat(), d.GetProjectionCenterLon());
    const bool mapped = projection && (std::string(projection) == "UTM" || std::string(projection) == "PS");
    info["upperLeftCorner"] =
        mapped ? json{{"easting", d.GetUpperLeftCornerEasting()}, {"northing", d.GetUpperLeftCornerNorthing()}}
               : json(nullptr);
    json corners;
    for (const Corner& corner : kCorners) {
        double lat = 0.0, lon = 0.0;
        (d.*corner.query)(&lat, &lon);
        corners[corner.key] = LatLon(lat, lon);
    }
    info["corners"] = corners;
    info["ellipsoid"] = ellipsoid_;
    info["mapDirection"] =
        d.GetMapDirection() == CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH ? "TrueNorth" : "other";

    const Placement& p = placement_;
    json placement;
    placement["crs"] = p.crsText.empty() ? json(nullptr) : json(p.crsText);
    placement["epsg"] = p.epsg ? json(p.epsg) : json(nullptr);
    if (p.kind == Placement::Kind::GeoTransform) {
        placement["method"] = "geotransform";
        placement["geoTransform"] = std::vector<double>(p.geoTransform, p.geoTransform + 6);
    } else if (p.kind == Placement::Kind::Gcps) {
        placement["method"] = "gcps";
        json gcps = json::array();
        for (const auto& g : p.gcps)
            gcps.push_back({{"pixel", g.pixel}, {"line", g.line}, {"longitude", g.longitude}, {"latitude", g.latitude}});
        placement["gcps"] = gcps;
    } else {
        placement["method"] = "none";
    }
    placement["warning"] = p.warning.empty() ? json(nullptr) : json(p.warning);
    info["georeferencing"] = placement;

    // Each band's RPC model (one for a PRISM raster), with its residuals.
    json rpcs = json::array();
    for (int band = 0; band < (RpcPerBand() ? static_cast<int>(bands_.size()) : 1); ++band) {
        const CeosAlosjRpcFit fit = Rpc(band);
        json model = nullptr;
        if (fit.offered) {
            model = json::object();
            for (const auto& [key, value] : RpcMetadata(fit.rpc)) {
                if (value.find(' ') == std::string::npos) {
                    model[key] = std::strtod(value.c_str(), nullptr);
                    continue;
                }
                json values = json::array();
                for (const char* c = value.c_str(); *c;) {
                    char* end = nullptr;
                    values.push_back(std::strtod(c, &end));
                    c = end;
                }
                model[key] = values;
            }
        }
        const bool fitted = fit.checkPoints > 0;
        rpcs.push_back({{"band", band + 1},
                        {"offered", fit.offered},
                        {"problem", fit.offered ? json(nullptr)
                                                : json(RpcProblem(fit, dataset_.GetColumnRanges(band, nullptr, 0)))},
                        {"heightRange", {fit.lowestHeight, fit.highestHeight}},
                        {"residualRmsPixels", fitted ? number(fit.rmsResidual) : json(nullptr)},
                        {"residualMaxPixels", fitted ? number(fit.maxResidual) : json(nullptr)},
                        {"checkPoints", fit.checkPoints},
                        {"model", model}});
    }
    info["rpcs"] = rpcs;
    return info;
}

// ------------------------------------------------------------------- RPC --

CeosAlosjRpcFit ProductDescription::Rpc(int band) const {
    CeosAlosjRpcFit fit;
    dataset_.GetRpc(band, &fit);
    return fit;
}

namespace {

struct RpcValue {
    const char* key;      // GDAL's metadata item
    const char* rpbName;  // in an .RPB file
    double CeosAlosjRpc::*value;
};
constexpr RpcValue kRpcValues[] = {{"ERR_BIAS", "errBias", &CeosAlosjRpc::errorBias},
                                   {"ERR_RAND", "errRand", &CeosAlosjRpc::errorRandom},
                                   {"LINE_OFF", "lineOffset", &CeosAlosjRpc::lineOffset},
                                   {"SAMP_OFF", "sampOffset", &CeosAlosjRpc::sampleOffset},
                                   {"LAT_OFF", "latOffset", &CeosAlosjRpc::latitudeOffset},
                                   {"LONG_OFF", "longOffset", &CeosAlosjRpc::longitudeOffset},
                                   {"HEIGHT_OFF", "heightOffset", &CeosAlosjRpc::heightOffset},
                                   {"LINE_SCALE", "lineScale", &CeosAlosjRpc::lineScale},
                                   {"SAMP_SCALE", "sampScale", &CeosAlosjRpc::sampleScale},
                                   {"LAT_SCALE", "latScale", &CeosAlosjRpc::latitudeScale},
                                   {"LONG_SCALE", "longScale", &CeosAlosjRpc::longitudeScale},
                                   {"HEIGHT_SCALE", "heightScale", &CeosAlosjRpc::heightScale}};
struct RpcCoefficients {
    const char* key;
    const char* rpbName;
    const double* (*of)(const CeosAlosjRpc&);
};
constexpr RpcCoefficients kRpcCoefficients[] = {
    {"LINE_NUM_COEFF", "lineNumCoef", [](const CeosAlosjRpc& r) -> const double* { return r.lineNumerator; }},
    {"LINE_DEN_COEFF", "lineDenCoef", [](const CeosAlosjRpc& r) -> const double* { return r.lineDenominator; }},
    {"SAMP_NUM_COEFF", "sampNumCoef", [](const CeosAlosjRpc& r) -> const double* { return r.sampleNumerator; }},
    {"SAMP_DEN_COEFF", "sampDenCoef", [](const CeosAlosjRpc& r) -> const double* { return r.sampleDenominator; }}};

}  // namespace

MetadataItems RpcMetadata(const CeosAlosjRpc& rpc) {
    MetadataItems items;
    for (const RpcValue& v : kRpcValues) items.emplace_back(v.key, Number(rpc.*v.value));
    for (const RpcCoefficients& c : kRpcCoefficients) {
        std::string values;
        for (int k = 0; k < CEOSALOSJ_RPC_TERMS; ++k) values += (k ? " " : "") + Number(c.of(rpc)[k]);
        items.emplace_back(c.key, values);
    }
    items.emplace_back("MIN_LONG", Number(rpc.minLongitude));
    items.emplace_back("MIN_LAT", Number(rpc.minLatitude));
    items.emplace_back("MAX_LONG", Number(rpc.maxLongitude));
    items.emplace_back("MAX_LAT", Number(rpc.maxLatitude));
    return items;
}

MetadataItems RpcResidualItems(const CeosAlosjRpcFit& fit) {
    if (fit.checkPoints <= 0) return {};
    return {{"RPC_RESIDUAL_RMS_PIXELS", Number(fit.rmsResidual)},
            {"RPC_RESIDUAL_MAX_PIXELS", Number(fit.maxResidual)},
            {"RPC_CHECK_POINTS", std::to_string(fit.checkPoints)}};
}

std::string LineOfSightProblem(CeosAlosjSensorStatus status) {
    switch (status) {
        case ALOSJ_SENSOR_NO_POLYNOMIALS: return "the band has no usable geolocation polynomials";
        case ALOSJ_SENSOR_NO_ORBIT: return "the orbit is missing or does not span the scene's lines";
        // Level 1B2 finds a point's time by the orbit: an orbit that is not
        // the satellite's finds none.
        case ALOSJ_SENSOR_NO_TIMES:
            return "the lines' times cannot be read, or (Level 1B2) no time of the orbit sees the raster under the "
                   "view's angle: the orbit is damaged or not this scene's";
        case ALOSJ_SENSOR_ALTITUDE_CHECK: return "the line-of-sight model failed its altitude check";
        case ALOSJ_SENSOR_LOOK_ANGLE_CHECK: return "the line-of-sight model failed its look angle check";
        case ALOSJ_SENSOR_RAY_CHECK: return "the line-of-sight model failed its ray check";
        default: return "the line-of-sight model gives no ground point for a position of the raster";
    }
}

std::string RpcProblem(const CeosAlosjRpcFit& fit, long ccdFiles) {
    char text[400];
    switch (fit.status) {
        case ALOSJ_RPC_OK: return "";
        case ALOSJ_RPC_NO_SENSOR_MODEL: return LineOfSightProblem(fit.sensorStatus);
        case ALOSJ_RPC_NOT_CLOSE:
            std::snprintf(text, sizeof text,
                          "the fitted model is %.3g pixel off the line-of-sight model at a check point, more than "
                          "%g",
                          fit.maxResidual, CEOSALOSJ_RPC_MOST_RESIDUAL);
            if (ccdFiles > 1)
                return text + ("; the raster joins " + std::to_string(ccdFiles) +
                               " CCD image files, and each CCD opened alone has its own model (alosj rpc --ccd N, "
                               "the GDAL open option CCD=N)");
            return text;
        default: return "the product cannot be asked for one";
    }
}

std::string RpcFileText(const CeosAlosjRpc& rpc, bool rpb) {
    char number[40];
    auto exact = [&](double value) {
        std::snprintf(number, sizeof number, "%+.16e", value);
        return std::string(number);
    };
    std::string text;
    if (!rpb) {
        for (const RpcValue& v : kRpcValues) text += std::string(v.key) + ": " + exact(rpc.*v.value) + "\n";
        for (const RpcCoefficients& c : kRpcCoefficients)
            for (int k = 0; k < CEOSALOSJ_RPC_TERMS; ++k)
                text += std::string(c.key) + "_" + std::to_string(k + 1) + ": " + exact(c.of(rpc)[k]) + "\n";
        return text;
    }
    text = "satId = \"ALOS\";\nBEGIN_GROUP = IMAGE\n";
    for (const RpcValue& v : kRpcValues) text += std::string("\t") + v.rpbName + " = " + exact(rpc.*v.value) + ";\n";
    for (const RpcCoefficients& c : kRpcCoefficients) {
        text += std::string("\t") + c.rpbName + " = (\n";
        for (int k = 0; k < CEOSALOSJ_RPC_TERMS; ++k)
            text += "\t\t\t" + exact(c.of(rpc)[k]) + (k + 1 < CEOSALOSJ_RPC_TERMS ? ",\n" : ");\n");
    }
    return text + "END_GROUP = IMAGE\nEND;\n";
}

// ---------------------------------------------------------- sensor model --

bool HasSensorModel(const CeosAlosjDataset& dataset) {
    return dataset.GetSensorType() == kPrism && dataset.GetProductLevel() == kLevel1B1 &&
           dataset.GetImgFileCount() > 0;
}

namespace {

/// What the exported block of state vectors (the supplemental file's
/// second) states of itself, null without one.
json OrbitBlockJson(CeosAlosjDataset& d) {
    CeosAlosjOrbitBlock block;
    if (!d.GetOrbitBlock(1, &block)) return nullptr;
    std::string title = block.title;
    title.erase(title.find_last_not_of(' ') + 1);
    const char* const frames[] = {nullptr, "earth-fixed", "inertial"};
    const char* const kinds[] = {nullptr, "precision", "definitive", "predicted"};
    json j;
    j["title"] = title;
    j["frame"] = frames[block.frame] ? json(frames[block.frame]) : json(nullptr);
    j["kind"] = kinds[block.kind] ? json(kinds[block.kind]) : json(nullptr);
    j["usedByLineOfSight"] = block.usedByLineOfSight;
    return j;
}

}  // namespace

json SensorModelJson(CeosAlosjDataset& d, const std::string& volumePath) {
    // The storage the host supplies behind the scene export's pointers.
    AlosjDateTime start{}, centre{};
    double coefficients[8][40] = {};
    Tkmd_ALPSM1B1_IMG scene{};
    scene.sceneStartTime = &start;
    scene.sceneCenterDateTime = &centre;
    for (int k = 0; k < 8; ++k) scene.coefficientArrays[k] = coefficients[k];
    double sensorMatrix[9] = {};
    Tkmd_ALPSM1B1_SEN sensor{};
    sensor.sensorMatrix = sensorMatrix;
    Tkmd_ALPSM1B1_EPH ephemeris{};
    Tkmd_ALPSM1B1_ATT attitude{};
    // Whatever happens next, the blocks handed over go back.
    struct Release {
        Tkmd_ALPSM1B1_IMG& scene;
        Tkmd_ALPSM1B1_EPH& ephemeris;
        Tkmd_ALPSM1B1_ATT& attitude;
        ~Release() {
            Tkmd_ALPSM1B1_IMG_Release(&scene);
            Tkmd_ALPSM1B1_EPH_Release(&ephemeris);
            Tkmd_ALPSM1B1_ATT_Release(&attitude);
        }
    } release{scene, ephemeris, attitude};
    d.GetALPSM1B1SceneData(&scene);
    d.GetALPSM1B1EphemerisData(&ephemeris);
    d.GetALPSM1B1AttitudeData(&attitude);
    d.GetALPSM1B1SensorData(&sensor);

    json model;
    model["alosjSensorModelVersion"] = 1;
    model["volumeDirectoryFile"] = fs::absolute(volumePath).lexically_normal().string();

    json s;
    s["viewName"] = Text(scene.viewName);
    s["sceneText"] = Text(scene.sceneText);
    s["numLines"] = scene.numLines;
    s["numPixels"] = scene.numPixels;
    s["bitsPerSample"] = scene.bitsPerSample;
    for (int c = 0; c < 4; ++c)
        s["corners"][kCorners[c].key] = {{"longitude", scene.cornerGeo[c][0]},
                                         {"latitude", scene.cornerGeo[c][1]},
                                         {"pixel", scene.cornerImage[c][0]},
                                         {"line", scene.cornerImage[c][1]}};
    s["center"] = {{"longitude", scene.centerLon}, {"latitude", scene.centerLat}, {"pixel", scene.centerPixel},
                   {"line", scene.centerLine}};
    s["sceneStartTime"] = TimeJson(scene.sceneStartTime);
    s["sceneCenterTime"] = TimeJson(scene.sceneCenterDateTime);
    s["fixedParameter"] = scene.fixedParameter;
    s["referenceNumbers"] = {scene.referenceNumber1, scene.referenceNumber2};
    json arrays = json::array();
    for (int k = 0; k < 8; ++k) {
        json sets = json::array();
        for (int m = 0; m < 4; ++m)
            sets.push_back(std::vector<double>(coefficients[k] + 10 * m, coefficients[k] + 10 * m + 10));
        arrays.push_back(sets);
    }
    s["coefficientSets"] = arrays;
    model["scene"] = s;

    json e;
    e["startTime"] = TimeJson(ephemeris.startTime);
    e["count"] = ephemeris.ephemerisCount;
    e["intervalSeconds"] = ephemeris.ephemerisInterval;
    e["stateVectors"] = json::array();
    for (int32_t k = 0; k < CountOf(ephemeris.ephemeris); ++k) {
        const AlosjStateVectorEntry& v = ephemeris.ephemeris->entries[k];
        e["stateVectors"].push_back({{"time", TimeJson(v.time)},
                                     {"position", {v.stateVector[0], v.stateVector[1], v.stateVector[2]}},
                                     {"velocity", {v.stateVector[3], v.stateVector[4], v.stateVector[5]}}});
    }
    e["stateVectorBlock"] = OrbitBlockJson(d);
    if (ephemeris.referenceEntry)
        e["reference"] = {{"time", TimeJson(ephemeris.referenceEntry->time)},
                          {"value1", ephemeris.referenceEntry->referenceValue1},
                          {"value2", ephemeris.referenceEntry->referenceValue2}};
    else
        e["reference"] = nullptr;
    e["matrices"] = json::array();
    for (int32_t k = 0; k < CountOf(ephemeris.matrices); ++k) {
        const AlosjMatrixEntry& m = ephemeris.matrices->entries[k];
        e["matrices"].push_back(
            {{"time", TimeJson(m.time)}, {"first", Matrix3(m.firstMatrix)}, {"second", Matrix3(m.secondMatrix)}});
    }
    model["ephemeris"] = e;

    json a;
    a["startTime"] = TimeJson(attitude.startTime);
    a["count"] = attitude.attitudeCount;
    // A 4-byte float: its shortest decimal form, not the binary expansion.
    char interval[32];
    std::snprintf(interval, sizeof interval, "%.7g", static_cast<double>(attitude.attitudeInterval));
    a["intervalSeconds"] = std::strtod(interval, nullptr);
    a["samples"] = json::array();
    for (int32_t k = 0; k < CountOf(attitude.attitude); ++k) {
        const AlosjAttitudeEntry& q = attitude.attitude->entries[k];
        a["samples"].push_back({{"time", TimeJson(q.time)},
                                {"quaternion", {q.quaternion[0], q.quaternion[1], q.quaternion[2], q.quaternion[3]}},
                                {"aux", {q.auxValue[0], q.auxValue[1], q.auxValue[2]}}});
    }
    model["attitude"] = a;

    const double* m = sensorMatrix;
    model["sensor"] = {{"matrix", {{m[0], m[1], m[2]}, {m[3], m[4], m[5]}, {m[6], m[7], m[8]}}},
                       {"focalLength", sensor.focalLength},
                       {"detectorPitch", sensor.detectorPitch}};
    return model;
}

}  // namespace alosjdescribe
