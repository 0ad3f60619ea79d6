#include "tools/processing/geometry/Heights.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include <gdal_alg.h>
#ifdef ALOSJ_WITH_PROJ
#include <proj.h>
#endif
#include <gdalwarper.h>

#include "tools/processing/Error.h"

namespace alosj::processing {

namespace {

/// Grid pixels between the nodes of the geoid's lattice (the geoid varies
/// over tens of kilometres).
constexpr int kShiftStep = 256;
/// DEM rows read at a time for its range.
constexpr int kRangeRows = 256;
constexpr double kDemWarpMemoryBytes = 32.0 * 1024 * 1024;

using TransformPtr = std::unique_ptr<OGRCoordinateTransformation>;

OGRSpatialReference Wgs84(int epsg) {
    OGRSpatialReference crs;
    crs.importFromEPSG(epsg);
    crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return crs;
}

}  // namespace

void CheckHeightChoice(const HeightChoice& choice) {
    if (choice.constant && !(std::fabs(choice.height) <= kMostHeight)) {
        char text[96];
        std::snprintf(text, sizeof text, "--height %g: metres above the ellipsoid, from -%.0f to %.0f", choice.height,
                      kMostHeight, kMostHeight);
        throw Error::BadInput(text);
    }
}

std::string WktOf(const OGRSpatialReference& crs) {
    char* text = nullptr;
    crs.exportToWkt(&text);
    std::string wkt = text ? text : "";
    CPLFree(text);
    return wkt;
}

class VerticalShift {
public:
    /// From the DEM's horizontal CRS plus its vertical datum (`crs`, three
    /// axes) to heights above the WGS 84 ellipsoid; PROJ may not leave the
    /// vertical datum out.
    explicit VerticalShift(const OGRSpatialReference& crs) {
        const OGRSpatialReference ellipsoidal = Wgs84(4979);
        OGRCoordinateTransformationOptions options;
        options.SetBallparkAllowed(false);
        transform_.reset(OGRCreateCoordinateTransformation(&crs, &ellipsoidal, options));
    }
    bool Usable() const { return transform_ != nullptr; }
    /// The height above the ellipsoid of a value 0 at (x, y) of the DEM's CRS.
    bool At(double x, double y, double& shift) const {
        double z = 0;
        if (!transform_ || !transform_->Transform(1, &x, &y, &z) || !std::isfinite(z)) return false;
        shift = z;
        return true;
    }

private:
    TransformPtr transform_;
};

double GridShift::At(double column, double row) const {
    if (values.empty()) return 0.0;
    const double u = column / step, v = row / step;
    const int c = std::clamp(static_cast<int>(std::floor(u)), 0, std::max(0, columns - 2));
    const int r = std::clamp(static_cast<int>(std::floor(v)), 0, std::max(0, rows - 2));
    const double fu = std::clamp(u - c, 0.0, 1.0), fv = std::clamp(v - r, 0.0, 1.0);
    auto value = [&](int cc, int rr) {
        return values[static_cast<size_t>(std::min(rr, rows - 1)) * columns + std::min(cc, columns - 1)];
    };
    return (1 - fv) * ((1 - fu) * value(c, r) + fu * value(c + 1, r)) +
           fv * ((1 - fu) * value(c, r + 1) + fu * value(c + 1, r + 1));
}

namespace {

/// Metres per unit of a DEM band's values (GDAL's unit type); 0 for a unit
/// that is no length alosj knows.
double MetresPerUnit(std::string unit) {
    for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (unit.empty() || unit == "m" || unit == "metre" || unit == "metres" || unit == "meter" || unit == "meters")
        return 1.0;
    if (unit == "ft" || unit == "foot" || unit == "feet" || unit == "international foot") return 0.3048;
    if (unit == "us survey foot" || unit == "us-ft" || unit == "ftus" || unit == "us_survey_foot") return 1200.0 / 3937.0;
    return 0.0;
}

/// Metres between two nearby points (degrees), on a sphere of the Earth's radius.
double GroundMetres(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kMetresPerDegree = 6378137.0 * 3.14159265358979323846 / 180.0;
    const double north = (lat2 - lat1) * kMetresPerDegree;
    const double east = (lon2 - lon1) * kMetresPerDegree * std::cos(lat1 * 3.14159265358979323846 / 180.0);
    return std::hypot(north, east);
}

/// Network and input errors: the DEM is there but cannot be read.
bool ReadError(CPLErrorNum number) {
    return number == CPLE_FileIO || number == CPLE_HttpResponse || number == CPLE_AWSError ||
           number == CPLE_AWSAccessDenied || number == CPLE_AWSObjectNotFound || number == CPLE_AWSSignatureDoesNotMatch;
}

/// Why PROJ finds no way from `source` (a horizontal CRS with a vertical
/// datum) to heights above the WGS 84 ellipsoid at a longitude and
/// latitude, in words: the grids its transformations there need that are
/// not installed, or that it knows none.
std::string MissingGrids(const OGRSpatialReference& source, double longitude, double latitude) {
    const std::string fallback = "install the grid it needs (" + LastGdalError() + ")";
#ifdef ALOSJ_WITH_PROJ
    const char* options[] = {"FORMAT=WKT2_2019", nullptr};
    char* text = nullptr;
    source.exportToWkt(&text, options);
    const std::string wkt = text ? text : "";
    CPLFree(text);
    PJ_CONTEXT* context = proj_context_create();
    proj_log_level(context, PJ_LOG_NONE);
    PJ* from = proj_create(context, wkt.c_str());
    PJ* to = proj_create(context, "EPSG:4979");
    PJ_OPERATION_FACTORY_CONTEXT* factory = proj_create_operation_factory_context(context, nullptr);
    std::string reason;
    if (from && to && factory) {
        proj_operation_factory_context_set_grid_availability_use(context, factory, PROJ_GRID_AVAILABILITY_IGNORED);
        proj_operation_factory_context_set_allow_ballpark_transformations(context, factory, 0);
        proj_operation_factory_context_set_spatial_criterion(context, factory,
                                                             PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
        proj_operation_factory_context_set_area_of_interest(context, factory, longitude - 0.01, latitude - 0.01,
                                                            longitude + 0.01, latitude + 0.01);
        PJ_OBJ_LIST* operations = proj_create_operations(context, from, to, factory);
        const int count = operations ? proj_list_get_count(operations) : 0;
        std::vector<std::string> missing;
        for (int k = 0; k < count && missing.empty(); ++k) {
            PJ* operation = proj_list_get(context, operations, k);
            for (int g = 0; operation && g < proj_coordoperation_get_grid_used_count(context, operation); ++g) {
                const char *name = nullptr, *full = nullptr, *package = nullptr, *url = nullptr;
                int direct = 0, open = 0, available = 0;
                if (proj_coordoperation_get_grid_used(context, operation, g, &name, &full, &package, &url, &direct,
                                                      &open, &available) &&
                    !available && name)
                    missing.push_back(name);
            }
            proj_destroy(operation);
        }
        proj_list_destroy(operations);
        if (count == 0)
            reason = "PROJ knows no transformation from that datum to the ellipsoid where the DEM lies";
        for (const std::string& name : missing)
            reason += (reason.empty() ? "install the grid " : ", ") + name;
        if (!missing.empty()) reason += " (Debian: proj-data, or projsync --file NAME, or PROJ_NETWORK=ON)";
    }
    proj_operation_factory_context_destroy(factory);
    proj_destroy(from);
    proj_destroy(to);
    proj_context_destroy(context);
    return reason.empty() ? fallback : reason;
#else
    (void)source, (void)longitude, (void)latitude;
    return fallback;
#endif
}

}  // namespace

Dem::Dem(const std::string& path, bool ellipsoidal, std::string name) : path_(path), name_(std::move(name)) {
    CPLErrorReset();
    dataset_.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR));
    if (!dataset_ && ReadError(CPLGetLastErrorNo())) Unreadable();
    if (!dataset_) throw Error::BadInput(name_ + ": not a raster GDAL reads: " + LastGdalError());
    const OGRSpatialReference* crs = dataset_->GetSpatialRef();
    if (!crs || crs->IsEmpty() || dataset_->GetGeoTransform(geoTransform_) != CE_None ||
        !GDALInvGeoTransform(geoTransform_, inverse_))
        throw Error::BadInput(name_ + ": has no CRS and geotransform that place it");
    GDALRasterBand* band = dataset_->GetRasterBand(1);
    if (!band) throw Error::BadInput(name_ + ": has no band");
    int hasNoData = FALSE;
    noData_ = band->GetNoDataValue(&hasNoData);
    hasNoData_ = hasNoData != FALSE;
    const char* unit = band->GetUnitType();
    const double metres = MetresPerUnit(unit ? unit : "");
    if (metres == 0.0)
        throw Error::BadInput(name_ + ": its heights are in " + unit +
                              ", which alosj does not know as a length (metres or feet)");
    int hasScale = FALSE, hasOffset = FALSE;
    const double scale = band->GetScale(&hasScale), offset = band->GetOffset(&hasOffset);
    scale_ = (hasScale && scale != 0.0 ? scale : 1.0) * metres;
    offset_ = (hasOffset ? offset : 0.0) * metres;
    horizontal_ = *crs;
    const bool vertical = crs->GetAxesCount() == 3;
    if (vertical) horizontal_.StripVertical();
    horizontal_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    horizontalWkt_ = WktOf(horizontal_);
    const OGRSpatialReference geographic = Wgs84(4326);
    fromGeographic_.reset(OGRCreateCoordinateTransformation(&geographic, &horizontal_));
    const TransformPtr toGeographic(OGRCreateCoordinateTransformation(&horizontal_, &geographic));
    if (!fromGeographic_ || !toGeographic)
        throw Error::Failed(name_ + ": its CRS cannot be reached from latitude and longitude: " +
                            LastGdalError());
    // The DEM's centre and the pixels beside it, on the ground.
    const double column = dataset_->GetRasterXSize() / 2.0, row = dataset_->GetRasterYSize() / 2.0;
    double x[3], y[3];
    for (int k = 0; k < 3; ++k) {
        const double c = column + (k == 1), r = row + (k == 2);
        x[k] = geoTransform_[0] + geoTransform_[1] * c + geoTransform_[2] * r;
        y[k] = geoTransform_[3] + geoTransform_[4] * c + geoTransform_[5] * r;
    }
    const double centreX = x[0], centreY = y[0];
    if (toGeographic->Transform(3, x, y))
        pixelMetres_ = std::min(GroundMetres(y[0], x[0], y[1], x[1]), GroundMetres(y[0], x[0], y[2], x[2]));
    if (ellipsoidal) {
        datum_ = "the ellipsoid (--dem-ellipsoidal)";
        return;
    }
    // GeoTIFF cannot state heights above the ellipsoid: alosj dsm's say so in HEIGHTS.
    const char* heights = dataset_->GetMetadataItem("HEIGHTS");
    if (!vertical && heights && std::string(heights) == "above the WGS 84 ellipsoid") {
        datum_ = "the ellipsoid (its HEIGHTS metadata)";
        return;
    }
    OGRSpatialReference source;
    if (vertical) {
        source = *crs;
        const char* name = crs->GetAttrValue("VERT_CS");
        datum_ = name ? std::string(name) + " (its CRS's vertical part)" : "the ellipsoid (its CRS is three-dimensional)";
    } else {
        OGRSpatialReference geoid;
        geoid.importFromEPSG(5773);  // EGM96 height
        source.SetCompoundCS((std::string(horizontal_.GetName() ? horizontal_.GetName() : "DEM") + " + EGM96 height").c_str(),
                             &horizontal_, &geoid);
        datum_ = "the EGM96 geoid (its CRS has no vertical part)";
    }
    source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    CPLErrorReset();
    shift_ = std::make_unique<VerticalShift>(source);
    // Tried at the DEM's centre: a missing grid shows here.
    double shift;
    if (!shift_->At(centreX, centreY, shift))
        throw Error::Failed(name_ + ": its heights are above " + datum_ +
                            ", and PROJ cannot turn them into heights above the ellipsoid: " +
                            MissingGrids(source, x[0], y[0]) +
                            "; for a DEM of heights above the ellipsoid, give --dem-ellipsoidal");
}

Dem::~Dem() = default;

void Dem::Unreadable() const {
    throw Error::Failed(name_ + ": cannot read: " + LastGdalError());
}

double Dem::Metres(double value) const {
    if (!std::isfinite(value) || (hasNoData_ && value == noData_)) return std::numeric_limits<double>::quiet_NaN();
    const double metres = value * scale_ + offset_;
    return PlausibleDemHeight(metres) ? metres : std::numeric_limits<double>::quiet_NaN();
}

bool Dem::HeightAt(double latitude, double longitude, double& height) {
    double x = longitude, y = latitude;
    if (!fromGeographic_->Transform(1, &x, &y)) return false;
    const double u = inverse_[0] + x * inverse_[1] + y * inverse_[2] - 0.5;
    const double v = inverse_[3] + x * inverse_[4] + y * inverse_[5] - 0.5;
    if (!(u >= -0.5 && v >= -0.5 && u <= dataset_->GetRasterXSize() - 0.5 && v <= dataset_->GetRasterYSize() - 0.5))
        return false;
    // The four pixel centres around (u, v), clamped at the DEM's edges.
    const int c = std::clamp(static_cast<int>(std::floor(u)), 0, std::max(0, dataset_->GetRasterXSize() - 2));
    const int r = std::clamp(static_cast<int>(std::floor(v)), 0, std::max(0, dataset_->GetRasterYSize() - 2));
    const int across = std::min(2, dataset_->GetRasterXSize()), down = std::min(2, dataset_->GetRasterYSize());
    double values[4] = {};
    CPLErrorReset();
    if (dataset_->GetRasterBand(1)->RasterIO(GF_Read, c, r, across, down, values, across, down, GDT_Float64, 0,
                                             static_cast<GSpacing>(2 * sizeof(double)), nullptr) != CE_None)
        Unreadable();
    if (across == 1) values[1] = values[0], values[3] = values[2];
    if (down == 1) values[2] = values[0], values[3] = values[1];
    for (double& value : values)
        if (!std::isfinite(value = Metres(value))) return false;
    const double fu = std::clamp(u - c, 0.0, 1.0), fv = std::clamp(v - r, 0.0, 1.0);
    const double value = (1 - fv) * ((1 - fu) * values[0] + fu * values[1]) + fv * ((1 - fu) * values[2] + fu * values[3]);
    double shift = 0;
    if (shift_ && !shift_->At(x, y, shift)) return false;
    height = value + shift;
    return true;
}

GridShift Dem::ShiftOver(const GridFrame& grid) {
    GridShift result;
    if (!shift_) return result;
    result.step = kShiftStep;
    result.columns = (grid.width + kShiftStep - 1) / kShiftStep + 1;
    result.rows = (grid.height + kShiftStep - 1) / kShiftStep + 1;
    result.values.assign(static_cast<size_t>(result.columns) * result.rows, 0.0);
    const TransformPtr toDem(OGRCreateCoordinateTransformation(grid.crs, &horizontal_));
    if (!toDem) throw Error::Failed(name_ + ": the grid's CRS cannot be transformed into the DEM's");
    const double* gt = grid.geoTransform;
    for (int r = 0; r < result.rows; ++r)
        for (int c = 0; c < result.columns; ++c) {
            const double column = static_cast<double>(c) * kShiftStep, row = static_cast<double>(r) * kShiftStep;
            double x = gt[0] + gt[1] * column + gt[2] * row, y = gt[3] + gt[4] * column + gt[5] * row;
            double shift;
            if (!toDem->Transform(1, &x, &y) || !shift_->At(x, y, shift))
                throw Error::Failed(name_ + ": PROJ cannot turn its heights above " + datum_ +
                                    " into heights above the ellipsoid over the scene: " +
                                    LastGdalError());
            result.values[static_cast<size_t>(r) * result.columns + c] = shift;
        }
    return result;
}

DemWindow Dem::WindowUnder(OGRCoordinateTransformation& toDem, const GridFrame& grid, int top, int rows,
                           int margin) const {
    double minU = HUGE_VAL, minV = HUGE_VAL, maxU = -HUGE_VAL, maxV = -HUGE_VAL;
    constexpr int kSteps = 32;
    const double* gt = grid.geoTransform;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k <= kSteps; ++k) {
            const double f = static_cast<double>(k) / kSteps;
            const double column = side == 0 ? f * grid.width : side == 1 ? grid.width : side == 2 ? (1 - f) * grid.width : 0;
            const double row = top + (side == 0 ? 0 : side == 1 ? f * rows : side == 2 ? rows : (1 - f) * rows);
            double x = gt[0] + gt[1] * column + gt[2] * row, y = gt[3] + gt[4] * column + gt[5] * row;
            if (!toDem.Transform(1, &x, &y)) continue;
            const double u = inverse_[0] + x * inverse_[1] + y * inverse_[2];
            const double v = inverse_[3] + x * inverse_[4] + y * inverse_[5];
            minU = std::min(minU, u), maxU = std::max(maxU, u), minV = std::min(minV, v), maxV = std::max(maxV, v);
        }
    DemWindow window;
    if (!(std::isfinite(minU) && std::isfinite(minV) && std::isfinite(maxU) && std::isfinite(maxV))) return window;
    const double columns = dataset_->GetRasterXSize(), demRows = dataset_->GetRasterYSize();
    window.left = static_cast<int>(std::clamp(std::floor(minU) - margin, 0.0, columns));
    window.top = static_cast<int>(std::clamp(std::floor(minV) - margin, 0.0, demRows));
    window.right = static_cast<int>(std::clamp(std::ceil(maxU) + margin, 0.0, columns));
    window.bottom = static_cast<int>(std::clamp(std::ceil(maxV) + margin, 0.0, demRows));
    return window;
}

std::vector<float> Dem::Read(GDALDataset& dataset, const DemWindow& window, int columns, int rows) const {
    const int width = window.right - window.left, height = window.bottom - window.top;
    std::vector<double> values(static_cast<size_t>(columns) * rows);
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    // Averaged down (GDAL leaves nodata out of the averages, and takes
    // overviews where the DEM has them).
    if (columns < width || rows < height) extra.eResampleAlg = GRIORA_Average;
    CPLErrorReset();
    if (dataset.GetRasterBand(1)->RasterIO(GF_Read, window.left, window.top, width, height, values.data(), columns,
                                           rows, GDT_Float64, 0, 0, &extra) != CE_None)
        Unreadable();
    std::vector<float> heights(values.size());
    for (size_t i = 0; i < values.size(); ++i) heights[i] = static_cast<float>(Metres(values[i]));
    return heights;
}

bool Dem::RangeOver(const GridFrame& grid, double& lowest, double& highest) {
    const TransformPtr toDem(OGRCreateCoordinateTransformation(grid.crs, &horizontal_));
    if (!toDem) throw Error::Failed(name_ + ": the grid's CRS cannot be transformed into the DEM's");
    const DemWindow window = WindowUnder(*toDem, grid, 0, grid.height, 1);
    if (window.Empty()) return false;
    // At most one DEM sample per grid pixel.
    const int width = window.right - window.left, height = window.bottom - window.top;
    const int step = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(width) * height /
                                                            (static_cast<double>(grid.width) * grid.height))));
    lowest = HUGE_VAL;
    highest = -HUGE_VAL;
    for (int y = window.top; y < window.bottom; y += kRangeRows * step) {
        const DemWindow part{window.left, y, window.right, std::min(window.bottom, y + kRangeRows * step)};
        const int columns = (width + step - 1) / step, rows = (part.bottom - part.top + step - 1) / step;
        for (const float value : Read(*dataset_, part, columns, rows))
            if (std::isfinite(value)) lowest = std::min<double>(lowest, value), highest = std::max<double>(highest, value);
    }
    if (!(lowest <= highest)) return false;
    const GridShift shift = ShiftOver(grid);
    if (!shift.values.empty()) {
        const auto [least, most] = std::minmax_element(shift.values.begin(), shift.values.end());
        lowest += *least;
        highest += *most;
    }
    return true;
}

Dem::Strips::Strips(const Dem& dem, const GridFrame& grid, const GridShift& shift)
    : dem_(dem), grid_(grid), shift_(shift) {
    dataset_.reset(GDALDataset::Open(dem.path_.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!dataset_) dem.Unreadable();
    // CRSs of its own, from text: threads share the frame and the DEM.
    OGRSpatialReference gridCrs, demCrs;
    gridCrs.importFromWkt(grid.wkt.c_str());
    demCrs.importFromWkt(dem.horizontalWkt_.c_str());
    gridCrs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    demCrs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    toDem_.reset(OGRCreateCoordinateTransformation(&gridCrs, &demCrs));
    if (!toDem_)
        throw Error::Failed(dem.name_ + ": the grid's CRS cannot be transformed into the DEM's");
}

Dem::Strips::~Strips() = default;

void Dem::Strips::Read(int top, int rows, std::vector<float>& heights) {
    const int width = grid_.width;
    heights.assign(static_cast<size_t>(width) * rows, std::numeric_limits<float>::quiet_NaN());
    // The DEM under the strip, at about two samples per grid pixel where
    // it is finer, with a margin for the bilinear resampling.
    DemWindow window = dem_.WindowUnder(*toDem_, grid_, top, rows, 2);
    if (window.Empty()) return;
    const double finer = std::sqrt(static_cast<double>(window.right - window.left) * (window.bottom - window.top) /
                                   (static_cast<double>(width) * rows));
    const int step = std::max(1, static_cast<int>(finer / 2));
    if (step > 1) window = dem_.WindowUnder(*toDem_, grid_, top, rows, 2 * step);
    const int demWidth = window.right - window.left, demHeight = window.bottom - window.top;
    const int columns = (demWidth + step - 1) / step, samples = (demHeight + step - 1) / step;
    std::vector<float> values = dem_.Read(*dataset_, window, columns, samples);
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> source(memory->Create("", columns, samples, 1, GDT_Float32, nullptr));
    std::unique_ptr<GDALDataset, GdalDatasetCloser> strip(memory->Create("", width, rows, 1, GDT_Float32, nullptr));
    if (!source || !strip ||
        source->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, columns, samples, values.data(), columns, samples,
                                           GDT_Float32, 0, 0, nullptr) != CE_None)
        throw Error::Failed("cannot make a strip of heights: " + LastGdalError());
    // The samples' pixels in the DEM's CRS.
    const double* d = dem_.geoTransform_;
    const double across = static_cast<double>(demWidth) / columns, down = static_cast<double>(demHeight) / samples;
    double sourceTransform[6] = {d[0] + d[1] * window.left + d[2] * window.top, d[1] * across, d[2] * down,
                                 d[3] + d[4] * window.left + d[5] * window.top, d[4] * across, d[5] * down};
    const double* gt = grid_.geoTransform;
    double stripTransform[6] = {gt[0] + gt[2] * top, gt[1], gt[2], gt[3] + gt[5] * top, gt[4], gt[5]};
    WarpHeights(*source, sourceTransform, *strip, stripTransform);
    if (strip->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, width, rows, heights.data(), width, rows, GDT_Float32, 0, 0,
                                          nullptr) != CE_None)
        throw Error::Failed("cannot read a strip of heights: " + LastGdalError());
    if (shift_.values.empty()) return;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < width; ++c) {
            float& h = heights[static_cast<size_t>(r) * width + c];
            if (std::isfinite(h)) h = static_cast<float>(h + shift_.At(c + 0.5, top + r + 0.5));
        }
}

void Dem::Strips::WarpHeights(GDALDataset& source, const double sourceTransform[6], GDALDataset& strip,
                              const double stripTransform[6]) {
    strip.SetGeoTransform(const_cast<double*>(stripTransform));
    void* exact = GDALCreateGenImgProjTransformer3(dem_.horizontalWkt_.c_str(), sourceTransform, grid_.wkt.c_str(),
                                                   stripTransform);
    if (!exact) throw Error::Failed(dem_.name_ + ": cannot be placed on the grid: " +
                                    LastGdalError());
    void* approximate = GDALCreateApproxTransformer(GDALGenImgProjTransform, exact, 0.125);
    GDALApproxTransformerOwnsSubtransformer(approximate, TRUE);
    struct Release {
        void* t;
        ~Release() { GDALDestroyApproxTransformer(t); }
    } release{approximate};
    GDALWarpOptions* options = GDALCreateWarpOptions();
    struct Options {
        GDALWarpOptions* o;
        ~Options() {
            o->pTransformerArg = nullptr;
            GDALDestroyWarpOptions(o);
        }
    } owned{options};
    options->hSrcDS = GDALDataset::ToHandle(&source);
    options->hDstDS = GDALDataset::ToHandle(&strip);
    options->nBandCount = 1;
    options->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int)));
    options->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int)));
    options->panSrcBands[0] = options->panDstBands[0] = 1;
    // NaN (no height) on both sides.
    options->padfSrcNoDataReal = static_cast<double*>(CPLMalloc(sizeof(double)));
    options->padfSrcNoDataReal[0] = std::numeric_limits<double>::quiet_NaN();
    options->padfDstNoDataReal = static_cast<double*>(CPLMalloc(sizeof(double)));
    options->padfDstNoDataReal[0] = std::numeric_limits<double>::quiet_NaN();
    options->eWorkingDataType = GDT_Float32;
    options->eResampleAlg = GRA_Bilinear;
    options->dfWarpMemoryLimit = kDemWarpMemoryBytes;
    options->pfnTransformer = GDALApproxTransform;
    options->pTransformerArg = approximate;
    options->papszWarpOptions = CSLSetNameValue(options->papszWarpOptions, "INIT_DEST", "NO_DATA");
    GDALWarpOperation operation;
    CPLErr err = operation.Initialize(options);
    if (err == CE_None) err = operation.ChunkAndWarpImage(0, 0, strip.GetRasterXSize(), strip.GetRasterYSize());
    if (err != CE_None)
        throw Error::Failed(dem_.name_ + ": cannot be warped onto the grid: " +
                            LastGdalError());
}

}  // namespace alosj::processing
