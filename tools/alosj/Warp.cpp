#include "tools/alosj/Warp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

#include <gdal_alg.h>
#include <gdalwarper.h>

#include "tools/alosj/Gdal.h"

namespace alosj {

namespace {

constexpr double kWarpMemoryBytes = 64.0 * 1024 * 1024;
/// Points along each edge of the raster whose places bound the grid.
constexpr int kOutlineSteps = 64;
/// The most pixels a map grid may have per pixel of the raster it shows.
constexpr double kMostGridPixelsPerRasterPixel = 64;

std::string Fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

/// The product's rows as a GDAL dataset for the warper to read: one block a
/// row, read through GetRow.  The warper reads it on this thread only.
class ProductRows final : public GDALDataset {
public:
    explicit ProductRows(Product& product);
    Product& product() { return product_; }

private:
    Product& product_;
};

class ProductRowsBand final : public GDALRasterBand {
public:
    ProductRowsBand(ProductRows* dataset, int band) {
        poDS = dataset;
        nBand = band;
        eDataType = GDT_Byte;
        nBlockXSize = dataset->GetRasterXSize();
        nBlockYSize = 1;
    }
    CPLErr IReadBlock(int, int blockY, void* image) override {
        unsigned char* row = static_cast<unsigned char*>(image);
        static_cast<ProductRows*>(poDS)->product().Dataset().GetRow(nBand - 1, static_cast<unsigned long>(blockY),
                                                                    0, &row);
        return CE_None;
    }
    double GetNoDataValue(int* success) override {
        if (success) *success = TRUE;
        return 0.0;  // dummy pixels and fill
    }
};

ProductRows::ProductRows(Product& product) : product_(product) {
    nRasterXSize = static_cast<int>(product.Width());
    nRasterYSize = static_cast<int>(product.Height());
    for (int b = 0; b < product.Bands(); ++b) SetBand(b + 1, new ProductRowsBand(this, b + 1));
}

using TransformPtr = std::unique_ptr<OGRCoordinateTransformation>;

/// Map coordinates of the grid ↔ raster positions of the product, through
/// the product's geographic coordinates and its polynomials.
struct PolynomialTransform {
    CeosAlosjDataset* dataset = nullptr;
    int band = 0;
    double geoTransform[6] = {};  // grid pixel → map
    double inverse[6] = {};       // map → grid pixel
    TransformPtr toGeographic;    // map → longitude, latitude
    TransformPtr toMap;           // longitude, latitude → map
};

int TransformPoints(void* arg, int dstToSrc, int count, double* x, double* y, double*, int* success) {
    auto* t = static_cast<PolynomialTransform*>(arg);
    std::fill(success, success + count, FALSE);
    if (dstToSrc) {
        // Grid pixels to map coordinates, all points to geographic at once.
        for (int i = 0; i < count; ++i) {
            const double px = x[i], py = y[i];
            x[i] = t->geoTransform[0] + px * t->geoTransform[1] + py * t->geoTransform[2];
            y[i] = t->geoTransform[3] + px * t->geoTransform[4] + py * t->geoTransform[5];
        }
        std::vector<int> converted(static_cast<size_t>(count), FALSE);
        t->toGeographic->Transform(count, x, y, nullptr, converted.data());
        for (int i = 0; i < count; ++i) {
            if (!converted[i]) continue;
            double pixel, line;
            // Beyond the raster's edge the position is still what the
            // resampler needs: it tells there is no source there.
            const CeosAlosjLocateStatus status = t->dataset->LatLonToPixel(t->band, y[i], x[i], &pixel, &line);
            if (status != ALOSJ_LOCATE_OK && status != ALOSJ_LOCATE_OUTSIDE) continue;
            x[i] = pixel;
            y[i] = line;
            success[i] = TRUE;
        }
        return TRUE;
    }
    std::vector<int> located(static_cast<size_t>(count), FALSE);
    for (int i = 0; i < count; ++i) {
        double latitude, longitude;
        if (t->dataset->PixelToLatLon(t->band, x[i], y[i], &latitude, &longitude) != ALOSJ_LOCATE_OK) continue;
        x[i] = longitude;
        y[i] = latitude;
        located[i] = TRUE;
    }
    std::vector<int> converted(static_cast<size_t>(count), FALSE);
    t->toMap->Transform(count, x, y, nullptr, converted.data());
    for (int i = 0; i < count; ++i) {
        if (!located[i] || !converted[i]) continue;
        const double mx = x[i], my = y[i];
        x[i] = t->inverse[0] + mx * t->inverse[1] + my * t->inverse[2];
        y[i] = t->inverse[3] + mx * t->inverse[4] + my * t->inverse[5];
        success[i] = TRUE;
    }
    return TRUE;
}

/// The geographic CRS the product's polynomials give latitudes and
/// longitudes in: that of its ground control points, else WGS 84.
OGRSpatialReference GeographicOf(const Product& product) {
    const alosjdescribe::Placement& p = product.Description().GetPlacement();
    OGRSpatialReference geographic;
    if (p.kind == alosjdescribe::Placement::Kind::Gcps)
        geographic = p.crs;
    else
        geographic.importFromEPSG(4326);
    geographic.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return geographic;
}

TransformPtr Transformation(const OGRSpatialReference& from, const OGRSpatialReference& to) {
    TransformPtr t(OGRCreateCoordinateTransformation(&from, &to));
    if (!t) throw Failure(kExitFailure, "cannot transform between the CRSs: " + GdalSession::LastError());
    return t;
}

}  // namespace

WarpGrid PlanWarp(Product& product, const std::string& crs) {
    CeosAlosjDataset& d = product.Dataset();
    const double width = static_cast<double>(product.Width()), height = static_cast<double>(product.Height());
    double centreLat, centreLon;
    if (d.PixelToLatLon(0, width / 2, height / 2, &centreLat, &centreLon) != ALOSJ_LOCATE_OK)
        throw Failure(kExitFailure, product.VolumePath() +
                                        ": has no usable geolocation polynomials, so --warp cannot place it");
    WarpGrid grid;
    grid.crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (crs.empty()) {
        const int zone = std::clamp(static_cast<int>(std::floor((centreLon + 180.0) / 6.0)) + 1, 1, 60);
        const int epsg = (centreLat >= 0 ? 32600 : 32700) + zone;
        grid.crs.importFromEPSG(epsg);
        grid.crsText = "EPSG:" + std::to_string(epsg);
    } else {
        if (grid.crs.SetFromUserInput(crs.c_str()) != OGRERR_NONE)
            throw Failure(kExitUsage, "--warp " + crs + ": not a coordinate reference system GDAL knows");
        grid.crsText = crs;
    }
    // The outline of the raster on the map.
    const OGRSpatialReference geographic = GeographicOf(product);
    const TransformPtr toMap = Transformation(geographic, grid.crs);
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k <= kOutlineSteps; ++k) {
            const double f = static_cast<double>(k) / kOutlineSteps;
            const double x = side == 0 ? f * width : side == 1 ? width : side == 2 ? (1 - f) * width : 0.0;
            const double y = side == 0 ? 0.0 : side == 1 ? f * height : side == 2 ? height : (1 - f) * height;
            double lat, lon;
            if (d.PixelToLatLon(0, x, y, &lat, &lon) != ALOSJ_LOCATE_OK || !toMap->Transform(1, &lon, &lat))
                throw Failure(kExitFailure, product.VolumePath() + ": the raster's outline cannot be placed");
            minX = std::min(minX, lon);
            maxX = std::max(maxX, lon);
            minY = std::min(minY, lat);
            maxY = std::max(maxY, lat);
        }
    const double size = product.Description().Sensor() == alosjdescribe::kPrism ? 2.5 : 10.0;
    if (!grid.crs.IsProjected())
        throw Failure(kExitUsage, "--warp " + crs + ": a projected CRS (in metres) is needed");
    const double left = std::floor(minX / size) * size, top = std::ceil(maxY / size) * size;
    const double columns = std::ceil((maxX - left) / size), rows = std::ceil((top - minY) / size);
    // At about the product's own resolution the grid holds about as many
    // pixels as the raster, twice that when turned by 45°, more where the
    // CRS stretches the ground: far more is a geometry (or a CRS unit) that
    // no scene has, and would be warped for hours into a file of nothing.
    const double most = kMostGridPixelsPerRasterPixel * width * height;
    if (!(columns * rows <= most) || columns > INT_MAX || rows > INT_MAX)
        throw Failure(kExitFailure, product.VolumePath() + ": --warp onto " + grid.crsText + " would make a grid of " +
                                        Fixed(columns) + " x " + Fixed(rows) + " pixels of " + Fixed(size) +
                                        " units, more than " + Fixed(kMostGridPixelsPerRasterPixel) +
                                        " times the raster's " + std::to_string(product.Width()) + " x " +
                                        std::to_string(product.Height()) +
                                        " pixels can cover; its geolocation or the CRS's unit is not usable");
    grid.width = static_cast<int>(columns);
    grid.height = static_cast<int>(rows);
    const double transform[6] = {left, size, 0.0, top, 0.0, -size};
    std::copy(transform, transform + 6, grid.geoTransform);
    return grid;
}

namespace {

/// One pass of the warper: the source bands `bands` (0-based) into the
/// output bands `outBands` (1-based), placed by the polynomials of `band`.
void WarpPass(Product& product, ProductRows& source, int band, const std::vector<int>& bands,
              const std::vector<int>& outBands, const WarpGrid& grid, GDALDataset& out,
              const std::string& resampling, ProgressBar& bar, double from, double to) {
    PolynomialTransform transform;
    transform.dataset = &product.Dataset();
    transform.band = band;
    std::copy(grid.geoTransform, grid.geoTransform + 6, transform.geoTransform);
    if (!GDALInvGeoTransform(transform.geoTransform, transform.inverse))
        throw Failure(kExitFailure, "the map grid cannot be inverted");
    const OGRSpatialReference geographic = GeographicOf(product);
    transform.toGeographic = Transformation(grid.crs, geographic);
    transform.toMap = Transformation(geographic, grid.crs);
    void* approximate = GDALCreateApproxTransformer(TransformPoints, &transform, kWarpMaxErrorPixels);
    struct Release {
        void* approximate;
        ~Release() { GDALDestroyApproxTransformer(approximate); }
    } release{approximate};

    GDALWarpOptions* options = GDALCreateWarpOptions();
    struct Options {
        GDALWarpOptions* o;
        ~Options() {
            o->pTransformerArg = nullptr;  // ours to destroy
            GDALDestroyWarpOptions(o);
        }
    } owned{options};
    options->hSrcDS = GDALDataset::ToHandle(&source);
    options->hDstDS = GDALDataset::ToHandle(&out);
    options->nBandCount = static_cast<int>(bands.size());
    options->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int) * bands.size()));
    options->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int) * bands.size()));
    options->padfSrcNoDataReal = static_cast<double*>(CPLCalloc(bands.size(), sizeof(double)));
    options->padfDstNoDataReal = static_cast<double*>(CPLCalloc(bands.size(), sizeof(double)));
    for (size_t k = 0; k < bands.size(); ++k) {
        options->panSrcBands[k] = bands[k] + 1;
        options->panDstBands[k] = outBands[k];
    }
    options->eResampleAlg = resampling == "near"          ? GRA_NearestNeighbour
                            : resampling == "bilinear"    ? GRA_Bilinear
                            : resampling == "cubicspline" ? GRA_CubicSpline
                            : resampling == "lanczos"     ? GRA_Lanczos
                                                          : GRA_Cubic;
    options->dfWarpMemoryLimit = kWarpMemoryBytes;
    options->pfnTransformer = GDALApproxTransform;
    options->pTransformerArg = approximate;
    options->papszWarpOptions = CSLSetNameValue(options->papszWarpOptions, "INIT_DEST", "0");
    // Grid chunks that reach past the scene: find the source by a grid of samples.
    options->papszWarpOptions = CSLSetNameValue(options->papszWarpOptions, "SAMPLE_GRID", "YES");
    void* scaled = GDALCreateScaledProgress(from, to, &ProgressBar::GdalCallback, &bar);
    options->pfnProgress = GDALScaledProgress;
    options->pProgressArg = scaled;

    GDALWarpOperation operation;
    CPLErr err = operation.Initialize(options);
    if (err == CE_None) err = operation.ChunkAndWarpImage(0, 0, grid.width, grid.height);
    GDALDestroyScaledProgress(scaled);
    product.CheckReports("reading rows to warp");
    if (err != CE_None) throw Failure(kExitFailure, "cannot warp: " + GdalSession::LastError());
}

}  // namespace

void WarpInto(Product& product, const std::vector<int>& bands, const WarpGrid& grid, GDALDataset& out,
              const std::string& resampling, ProgressBar& bar, double from, double to) {
    ProductRows source(product);
    // AVNIR-2 bands below Level 1B2 have polynomials of their own: each is
    // placed by its own, in a pass of its own.  The others share one set.
    const alosjdescribe::ProductDescription& d = product.Description();
    const bool perBand = d.Sensor() == alosjdescribe::kAvnir2 && d.Level() != alosjdescribe::kLevel1B2;
    std::vector<int> outBands;
    for (size_t k = 0; k < bands.size(); ++k) outBands.push_back(static_cast<int>(k) + 1);
    if (!perBand || bands.size() < 2)
        return WarpPass(product, source, bands.empty() ? 0 : bands.front(), bands, outBands, grid, out, resampling,
                        bar, from, to);
    const double step = (to - from) / static_cast<double>(bands.size());
    for (size_t k = 0; k < bands.size(); ++k)
        WarpPass(product, source, bands[k], {bands[k]}, {outBands[k]}, grid, out, resampling, bar,
                 from + step * static_cast<double>(k), from + step * static_cast<double>(k + 1));
}

}  // namespace alosj
