#include "tools/alosj/Heights.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gdal_alg.h>
#include <gdalwarper.h>

#include "tools/alosj/Cli.h"

namespace alosj {

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

Dem::Dem(const std::string& path, bool ellipsoidal) : path_(path) {
    dataset_.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!dataset_) throw Failure(kExitUsage, "--dem " + path + ": not a raster GDAL reads: " + GdalSession::LastError());
    const OGRSpatialReference* crs = dataset_->GetSpatialRef();
    if (!crs || crs->IsEmpty() || dataset_->GetGeoTransform(geoTransform_) != CE_None ||
        !GDALInvGeoTransform(geoTransform_, inverse_))
        throw Failure(kExitUsage, "--dem " + path + ": has no CRS and geotransform that place it");
    GDALRasterBand* band = dataset_->GetRasterBand(1);
    if (!band) throw Failure(kExitUsage, "--dem " + path + ": has no band");
    int hasNoData = FALSE;
    noData_ = band->GetNoDataValue(&hasNoData);
    hasNoData_ = hasNoData != FALSE;
    horizontal_ = *crs;
    const bool vertical = crs->GetAxesCount() == 3;
    if (vertical) horizontal_.StripVertical();
    horizontal_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    horizontalWkt_ = WktOf(horizontal_);
    const OGRSpatialReference geographic = Wgs84(4326);
    fromGeographic_.reset(OGRCreateCoordinateTransformation(&geographic, &horizontal_));
    if (!fromGeographic_)
        throw Failure(kExitFailure, "--dem " + path + ": its CRS cannot be reached from latitude and longitude: " +
                                        GdalSession::LastError());
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
    // Tried at the DEM's centre: a missing geoid grid shows here.
    double x = geoTransform_[0] + geoTransform_[1] * dataset_->GetRasterXSize() / 2.0 +
               geoTransform_[2] * dataset_->GetRasterYSize() / 2.0;
    double y = geoTransform_[3] + geoTransform_[4] * dataset_->GetRasterXSize() / 2.0 +
               geoTransform_[5] * dataset_->GetRasterYSize() / 2.0;
    double shift;
    if (!shift_->At(x, y, shift))
        throw Failure(kExitFailure, "--dem " + path + ": its heights are above " + datum_ +
                                        ", and PROJ finds no way to heights above the ellipsoid; install the geoid's grid (Debian: proj-data, egm96_15.gtx) or, for a "
                                        "DEM of heights above the ellipsoid, give --dem-ellipsoidal");
}

Dem::~Dem() = default;

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
    if (dataset_->GetRasterBand(1)->RasterIO(GF_Read, c, r, across, down, values, across, down, GDT_Float64, 0,
                                             static_cast<GSpacing>(2 * sizeof(double)), nullptr) != CE_None)
        return false;
    if (across == 1) values[1] = values[0], values[3] = values[2];
    if (down == 1) values[2] = values[0], values[3] = values[1];
    for (double value : values)
        if (!PlausibleDemHeight(value) || (hasNoData_ && value == noData_)) return false;
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
    if (!toDem) throw Failure(kExitFailure, "--dem " + path_ + ": the grid's CRS cannot be transformed into the DEM's");
    const double* gt = grid.geoTransform;
    for (int r = 0; r < result.rows; ++r)
        for (int c = 0; c < result.columns; ++c) {
            const double column = static_cast<double>(c) * kShiftStep, row = static_cast<double>(r) * kShiftStep;
            double x = gt[0] + gt[1] * column + gt[2] * row, y = gt[3] + gt[4] * column + gt[5] * row;
            double shift;
            if (!toDem->Transform(1, &x, &y) || !shift_->At(x, y, shift))
                throw Failure(kExitFailure, "--dem " + path_ + ": PROJ cannot turn its heights above " + datum_ +
                                                " into heights above the ellipsoid over the scene: " +
                                                GdalSession::LastError());
            result.values[static_cast<size_t>(r) * result.columns + c] = shift;
        }
    return result;
}

bool Dem::RangeOver(const GridFrame& grid, double& lowest, double& highest) {
    // The DEM's window under the grid's outline.
    const TransformPtr toDem(OGRCreateCoordinateTransformation(grid.crs, &horizontal_));
    if (!toDem) throw Failure(kExitFailure, "--dem " + path_ + ": the grid's CRS cannot be transformed into the DEM's");
    double minU = HUGE_VAL, minV = HUGE_VAL, maxU = -HUGE_VAL, maxV = -HUGE_VAL;
    constexpr int kSteps = 32;
    const double* gt = grid.geoTransform;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k <= kSteps; ++k) {
            const double f = static_cast<double>(k) / kSteps;
            const double column = side == 0 ? f * grid.width : side == 1 ? grid.width : side == 2 ? (1 - f) * grid.width : 0;
            const double row = side == 0 ? 0 : side == 1 ? f * grid.height : side == 2 ? grid.height : (1 - f) * grid.height;
            double x = gt[0] + gt[1] * column + gt[2] * row, y = gt[3] + gt[4] * column + gt[5] * row;
            if (!toDem->Transform(1, &x, &y)) continue;
            const double u = inverse_[0] + x * inverse_[1] + y * inverse_[2];
            const double v = inverse_[3] + x * inverse_[4] + y * inverse_[5];
            minU = std::min(minU, u), maxU = std::max(maxU, u), minV = std::min(minV, v), maxV = std::max(maxV, v);
        }
    if (!(std::isfinite(minU) && std::isfinite(minV) && std::isfinite(maxU) && std::isfinite(maxV))) return false;
    const double columns = dataset_->GetRasterXSize(), rowsOfDem = dataset_->GetRasterYSize();
    const int left = static_cast<int>(std::clamp(std::floor(minU) - 1, 0.0, columns));
    const int top = static_cast<int>(std::clamp(std::floor(minV) - 1, 0.0, rowsOfDem));
    const int right = static_cast<int>(std::clamp(std::ceil(maxU) + 1, 0.0, columns));
    const int bottom = static_cast<int>(std::clamp(std::ceil(maxV) + 1, 0.0, rowsOfDem));
    if (!(left < right && top < bottom)) return false;
    lowest = HUGE_VAL;
    highest = -HUGE_VAL;
    const int width = right - left;
    std::vector<double> rows(static_cast<size_t>(width) * kRangeRows);
    for (int y = top; y < bottom; y += kRangeRows) {
        const int count = std::min(kRangeRows, bottom - y);
        if (dataset_->GetRasterBand(1)->RasterIO(GF_Read, left, y, width, count, rows.data(), width, count,
                                                 GDT_Float64, 0, 0, nullptr) != CE_None)
            throw Failure(kExitFailure, "--dem " + path_ + ": cannot read: " + GdalSession::LastError());
        for (size_t i = 0; i < static_cast<size_t>(width) * count; ++i) {
            const double value = rows[i];
            if (!PlausibleDemHeight(value) || (hasNoData_ && value == noData_)) continue;
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
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
    if (!dataset_) throw Failure(kExitFailure, "--dem " + dem.path_ + ": cannot open: " + GdalSession::LastError());
}

Dem::Strips::~Strips() = default;

void Dem::Strips::Read(int top, int rows, std::vector<float>& heights) {
    const int width = grid_.width;
    heights.assign(static_cast<size_t>(width) * rows, std::numeric_limits<float>::quiet_NaN());
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> strip(memory->Create("", width, rows, 1, GDT_Float32, nullptr));
    if (!strip) throw Failure(kExitFailure, "cannot make a strip of heights: " + GdalSession::LastError());
    const double* gt = grid_.geoTransform;
    double stripTransform[6] = {gt[0] + gt[2] * top, gt[1], gt[2], gt[3] + gt[5] * top, gt[4], gt[5]};
    strip->SetGeoTransform(stripTransform);
    strip->GetRasterBand(1)->SetNoDataValue(std::numeric_limits<double>::quiet_NaN());
    void* exact = GDALCreateGenImgProjTransformer3(dem_.horizontalWkt_.c_str(), dem_.geoTransform_, grid_.wkt.c_str(),
                                                   stripTransform);
    if (!exact) throw Failure(kExitFailure, "--dem " + dem_.path_ + ": cannot be placed on the grid: " +
                                                GdalSession::LastError());
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
    options->hSrcDS = GDALDataset::ToHandle(dataset_.get());
    options->hDstDS = GDALDataset::ToHandle(strip.get());
    options->nBandCount = 1;
    options->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int)));
    options->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int)));
    options->panSrcBands[0] = options->panDstBands[0] = 1;
    if (dem_.hasNoData_) {
        options->padfSrcNoDataReal = static_cast<double*>(CPLMalloc(sizeof(double)));
        options->padfSrcNoDataReal[0] = dem_.noData_;
    }
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
    if (err == CE_None) err = operation.ChunkAndWarpImage(0, 0, width, rows);
    if (err == CE_None)
        err = strip->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, width, rows, heights.data(), width, rows, GDT_Float32,
                                                0, 0, nullptr);
    if (err != CE_None) throw Failure(kExitFailure, "--dem " + dem_.path_ + ": cannot read: " + GdalSession::LastError());
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < width; ++c) {
            float& h = heights[static_cast<size_t>(r) * width + c];
            if (!PlausibleDemHeight(h))
                h = std::numeric_limits<float>::quiet_NaN();
            else if (!shift_.values.empty())
                h = static_cast<float>(h + shift_.At(c + 0.5, top + r + 0.5));
        }
}

}  // namespace alosj
