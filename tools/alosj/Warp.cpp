#include "tools/alosj/Warp.h"

#include <algorithm>
#include <cstdlib>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <gdal_alg.h>
#include <gdalwarper.h>

#include "tools/alosj/Gdal.h"
#include "tools/alosj/Processing.h"

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

/// A transformation between CRSs that workers share: made one at a time, as
/// making one may cache text in the CRS objects (they are not thread-safe).
TransformPtr Transformation(const OGRSpatialReference& from, const OGRSpatialReference& to) {
    static std::mutex making;
    const std::lock_guard<std::mutex> lock(making);
    TransformPtr t(OGRCreateCoordinateTransformation(&from, &to));
    if (!t) throw Failure(kExitFailure, "cannot transform between the CRSs: " + GdalSession::LastError());
    return t;
}

}  // namespace

WarpGrid PlanWarp(Product& product, const std::string& crs, const OutlinePlacer& place) {
    CeosAlosjDataset& d = product.Dataset();
    const double width = static_cast<double>(product.Width()), height = static_cast<double>(product.Height());
    double centreLat, centreLon;
    if (d.PixelToLatLon(0, width / 2, height / 2, &centreLat, &centreLon) != ALOSJ_LOCATE_OK)
        throw Failure(kExitFailure, product.VolumePath() +
                                        ": has no usable geolocation polynomials, so --warp cannot place it");
    WarpGrid grid;
    grid.crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (crs.empty()) {
        const int epsg = UtmEpsgAt(centreLat, centreLon);
        grid.crs.importFromEPSG(epsg);
        grid.crsText = "EPSG:" + std::to_string(epsg);
    } else {
        if (grid.crs.SetFromUserInput(crs.c_str()) != OGRERR_NONE)
            throw Failure(kExitUsage, "--warp " + crs + ": not a coordinate reference system GDAL knows");
        if (!grid.crs.IsProjected())
            throw Failure(kExitUsage, "--warp " + crs + ": a projected CRS (in metres) is needed");
        RequireMetres(grid.crs, "--warp", crs);
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
            std::vector<Place> places(1);
            const bool placed = place ? place(x, y, places)
                                      : d.PixelToLatLon(0, x, y, &places[0].first, &places[0].second) == ALOSJ_LOCATE_OK;
            if (!placed) throw Failure(kExitFailure, product.VolumePath() + ": the raster's outline cannot be placed");
            for (auto [lat, lon] : places) {
                if (!toMap->Transform(1, &lon, &lat))
                    throw Failure(kExitFailure, product.VolumePath() + ": the raster's outline cannot be placed");
                minX = std::min(minX, lon);
                maxX = std::max(maxX, lon);
                minY = std::min(minY, lat);
                maxY = std::max(maxY, lat);
            }
        }
    if (!(minX <= maxX && minY <= maxY))
        throw Failure(kExitFailure, product.VolumePath() + ": the raster's outline shows nowhere on the heights (its "
                                        "lines of sight meet the DEM only at the faces of its edges or voids)");
    const double size = product.Description().Sensor() == alosjdescribe::kPrism ? 2.5 : 10.0;
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

/// Warp options from the product's rows into `out`: the source bands
/// `bands` (0-based) into the output bands `outBands` (1-based), 0 no data
/// on both sides; the transformer is the caller's to set and destroy.
struct WarpOptions {
    GDALWarpOptions* o;
    WarpOptions(GDALDataset& source, GDALDataset& out, const std::vector<int>& bands, const std::vector<int>& outBands,
                const std::string& resampling) {
        o = GDALCreateWarpOptions();
        o->hSrcDS = GDALDataset::ToHandle(&source);
        o->hDstDS = GDALDataset::ToHandle(&out);
        o->nBandCount = static_cast<int>(bands.size());
        o->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int) * bands.size()));
        o->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int) * bands.size()));
        o->padfSrcNoDataReal = static_cast<double*>(CPLCalloc(bands.size(), sizeof(double)));
        o->padfDstNoDataReal = static_cast<double*>(CPLCalloc(bands.size(), sizeof(double)));
        for (size_t k = 0; k < bands.size(); ++k) {
            o->panSrcBands[k] = bands[k] + 1;
            o->panDstBands[k] = outBands[k];
        }
        o->eResampleAlg = resampling == "near"          ? GRA_NearestNeighbour
                          : resampling == "bilinear"    ? GRA_Bilinear
                          : resampling == "cubicspline" ? GRA_CubicSpline
                          : resampling == "lanczos"     ? GRA_Lanczos
                                                        : GRA_Cubic;
        o->dfWarpMemoryLimit = kWarpMemoryBytes;
        o->papszWarpOptions = CSLSetNameValue(o->papszWarpOptions, "INIT_DEST", "0");
        // One thread per warper, whatever GDAL_NUM_THREADS says: the workers
        // are the threads, and GDAL cannot share our transformers among its own.
        o->papszWarpOptions = CSLSetNameValue(o->papszWarpOptions, "NUM_THREADS", "1");
        // Grid chunks that reach past the scene: find the source by a grid of samples.
        o->papszWarpOptions = CSLSetNameValue(o->papszWarpOptions, "SAMPLE_GRID", "YES");
    }
    ~WarpOptions() {
        o->pTransformerArg = nullptr;  // the caller's to destroy
        GDALDestroyWarpOptions(o);
    }
    WarpOptions(const WarpOptions&) = delete;
    WarpOptions& operator=(const WarpOptions&) = delete;
};

/// Warps `rows` rows of a strip `width` pixels wide from the product's rows
/// into `target` through `transformer`; reports of the rows read fail it.
void WarpStrip(GDALDataset& source, GDALDataset& target, const std::vector<int>& bands,
               const std::vector<int>& outBands, const std::string& resampling, GDALTransformerFunc transformer,
               void* argument, int width, int rows, Product& mine) {
    WarpOptions options(source, target, bands, outBands, resampling);
    // The grid has about the raster's resolution: a strip's source window,
    // tall for the scene's turn and relief, must not widen the kernel as if
    // it were downsampled.
    options.o->papszWarpOptions = CSLSetNameValue(options.o->papszWarpOptions, "XSCALE", "1");
    options.o->papszWarpOptions = CSLSetNameValue(options.o->papszWarpOptions, "YSCALE", "1");
    options.o->pfnTransformer = transformer;
    options.o->pTransformerArg = argument;
    GDALWarpOperation operation;
    CPLErr err = operation.Initialize(options.o);
    if (err == CE_None) err = operation.ChunkAndWarpImage(0, 0, width, rows);
    mine.CheckReports("reading rows to warp");
    if (err != CE_None) throw Failure(kExitFailure, "cannot warp: " + GdalSession::LastError());
}

/// Threads that each open the product once and keep it, running jobs given
/// to all of them at once (a dataset is used by one thread at a time; its
/// reports go to the thread's own watch).
class ProductWorkers {
public:
    ProductWorkers(const ProductOptions& options, size_t count) : products_(count), busy_(count) {
        unstarted_ = count;
        try {
            threads_.reserve(count);
            for (size_t w = 0; w < count; ++w) {
                threads_.emplace_back([this, w, options] { Serve(w, options); });
                --unstarted_;
            }
            Wait();  // opened
        } catch (...) {
            // A product that does not open again, or a thread not started:
            // the threads end before the failure goes on.
            {
                std::lock_guard<std::mutex> lock(mutex_);
                busy_ -= unstarted_;
            }
            Stop();
            throw;
        }
    }
    ~ProductWorkers() { Stop(); }
    size_t Count() const { return products_.size(); }
    Product& ProductOf(size_t w) { return *products_[w]; }

    /// Starts job(w, product) on every thread.
    void Start(std::function<void(size_t, Product&)> job) {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        busy_ = products_.size();
        ++generation_;
        wake_.notify_all();
    }
    /// Waits for the job; rethrows the first failure.
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return busy_ == 0; });
        if (error_) {
            std::exception_ptr error = error_;
            error_ = nullptr;
            std::rethrow_exception(error);
        }
    }
    void RunOnAll(std::function<void(size_t, Product&)> job) {
        Start(std::move(job));
        Wait();
    }

private:
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }
    void Serve(size_t w, ProductOptions options) {
        CPLPushErrorHandler(CPLQuietErrorHandler);  // as GdalSession does on the main thread
        OpensOnThisThreadAreWorkerHandles();
        std::unique_lock<std::mutex> lock(mutex_);
        unsigned long seen = generation_;
        lock.unlock();
        Finish([&] { products_[w] = std::make_unique<Product>(options); });
        for (;;) {
            lock.lock();
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) break;
            seen = generation_;
            const std::function<void(size_t, Product&)> job = job_;
            lock.unlock();
            Finish([&] {
                if (!products_[w]) throw Failure(kExitFailure, "the product could not be opened again");
                job(w, *products_[w]);
            });
        }
        lock.unlock();
        products_[w].reset();  // on the thread that opened it
        CPLPopErrorHandler();
    }
    template <typename F>
    void Finish(F f) {
        std::exception_ptr error;
        try {
            f();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (error && !error_) error_ = error;
        if (--busy_ == 0) done_.notify_all();
    }

    std::vector<std::unique_ptr<Product>> products_;
    size_t busy_;  // threads still at the job (at first: opening)
    size_t unstarted_ = 0;  // threads not (yet) started
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::function<void(size_t, Product&)> job_;
    unsigned long generation_ = 0;
    bool stop_ = false;
    std::exception_ptr error_;
};

/// Output rows warped at a time by one thread (a row of the GeoTIFF's tiles).
constexpr int kStripRows = 256;

/// A strip of the grid → raster positions on the heights under its pixels.
struct HeightTransform {
    const SightGrid* sights = nullptr;
    const float* heights = nullptr;  // null: `height` everywhere
    double height = 0.0;
    int top = 0, width = 0, rows = 0;
};

int TransformOnHeights(void* arg, int dstToSrc, int count, double* x, double* y, double*, int* success) {
    const auto* t = static_cast<const HeightTransform*>(arg);
    std::fill(success, success + count, FALSE);
    if (!dstToSrc) return FALSE;  // the warper asks the other way only
    for (int i = 0; i < count; ++i) {
        double h = t->height;
        if (t->heights) {
            const int c = std::clamp(static_cast<int>(std::floor(x[i])), 0, t->width - 1);
            const int r = std::clamp(static_cast<int>(std::floor(y[i])), 0, t->rows - 1);
            const float value = t->heights[static_cast<size_t>(r) * t->width + c];
            h = std::isfinite(value) ? value : CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT;
        }
        double pixel, line;
        if (!t->sights->Source(x[i], y[i] + t->top, h, pixel, line)) continue;
        x[i] = pixel;
        y[i] = line;
        success[i] = TRUE;
    }
    return TRUE;
}

/// A warped strip waiting to be written.
struct Strip {
    std::vector<unsigned char> pixels;  // band after band
    long uncovered = 0;
};

/// Every core (or GDAL_NUM_THREADS), at most 16: each thread holds the
/// product, strips in flight and a DEM strip.
size_t WarpThreads() { return static_cast<size_t>(std::min(WorkerThreads(), 16)); }

/// Warps one strip, `rows` rows of the grid from `top`, into `target` (a
/// MEM dataset of those rows, all output bands) and reads it into `strip`
/// (ReadStrip); on one worker, with that worker's own product.
using StripWarper = std::function<void(GDALDataset& target, int top, int rows, Strip& strip)>;

/// The warped pixels of `target` into strip.pixels, band after band.
void ReadStrip(GDALDataset& target, Strip& strip) {
    const int width = target.GetRasterXSize(), rows = target.GetRasterYSize(), count = target.GetRasterCount();
    strip.pixels.resize(static_cast<size_t>(width) * rows * count);
    if (target.RasterIO(GF_Read, 0, 0, width, rows, strip.pixels.data(), width, rows, GDT_Byte, count, nullptr, 0, 0,
                        0, nullptr) != CE_None)
        throw Failure(kExitFailure, "cannot read a warped strip: " + GdalSession::LastError());
}

/// Warps the grid into `out` (`count` bands) in strips of kStripRows rows
/// on every worker, each strip by the StripWarper that `prepare` makes for
/// the worker once (its state: its rows, transformations), and writes the
/// strips here in order; no worker runs more than a few strips ahead of the
/// writing, so memory stays at a few strips whatever the grid.  The
/// result: the strips' uncovered pixels, summed.
long WarpStrips(ProductWorkers& workers, const WarpGrid& grid, int count, GDALDataset& out, ProgressBar& bar,
                double from, double to, const std::function<StripWarper(Product&)>& prepare) {
    const int strips = (grid.height + kStripRows - 1) / kStripRows;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, Strip> ready;
    int taken = 0, written = 0;
    bool failed = false;
    const int ahead = static_cast<int>(workers.Count()) + 2;
    workers.Start([&](size_t, Product& mine) {
        try {
            const StripWarper warp = prepare(mine);
            GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
            for (;;) {
                int k;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    changed.wait(lock, [&] { return failed || taken >= strips || taken - written < ahead; });
                    if (failed || taken >= strips) return;
                    k = taken++;
                }
                const int top = k * kStripRows, rows = std::min(kStripRows, grid.height - top);
                std::unique_ptr<GDALDataset, GdalDatasetCloser> target(
                    memory->Create("", grid.width, rows, count, GDT_Byte, nullptr));
                if (!target) throw Failure(kExitFailure, "cannot make a strip: " + GdalSession::LastError());
                Strip strip;
                warp(*target, top, rows, strip);
                std::lock_guard<std::mutex> lock(mutex);
                ready.emplace(k, std::move(strip));
                changed.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            failed = true;
            changed.notify_all();
            throw;
        }
    });
    long uncovered = 0;
    try {
        for (int k = 0; k < strips; ++k) {
            Strip strip;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return failed || ready.count(k) > 0; });
                if (failed) break;
                strip = std::move(ready[k]);
                ready.erase(k);
            }
            const int top = k * kStripRows, rows = std::min(kStripRows, grid.height - top);
            uncovered += strip.uncovered;
            CPLErrorReset();
            CPLErr err = out.RasterIO(GF_Write, 0, top, grid.width, rows, strip.pixels.data(), grid.width, rows,
                                      GDT_Byte, count, nullptr, 0, 0, 0, nullptr);
            if (err == CE_None) out.FlushCache(false);
            if (err != CE_None || CPLGetLastErrorType() >= CE_Failure)
                throw Failure(kExitFailure, "cannot write the warped raster: " + GdalSession::LastError());
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++written;
                changed.notify_all();
            }
            bar.Update(from + (to - from) * (k + 1) / strips);
        }
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            failed = true;
            changed.notify_all();
        }
        try {
            workers.Wait();
        } catch (...) {
        }
        throw;
    }
    workers.Wait();
    return uncovered;
}

// The bands a warp places together, by the geolocation of `band`: each band
// in a pass of its own when the bands are placed apart, otherwise all in
// one.  outBands are the output's bands (from 1) that bands fill.
struct BandPass {
    int band;
    std::vector<int> bands, outBands;
};

std::vector<BandPass> BandPasses(Product& product, const std::vector<int>& bands) {
    std::vector<BandPass> passes;
    if (!product.Description().BandsPlacedApart() || bands.size() < 2) {
        BandPass pass{bands.empty() ? 0 : bands.front(), bands, {}};
        for (size_t k = 0; k < bands.size(); ++k) pass.outBands.push_back(static_cast<int>(k) + 1);
        passes.push_back(std::move(pass));
    } else {
        for (size_t k = 0; k < bands.size(); ++k) passes.push_back({bands[k], {bands[k]}, {static_cast<int>(k) + 1}});
    }
    return passes;
}

long WarpOnHeights(Product& product, const std::vector<int>& bands, const WarpGrid& grid, GDALDataset& out,
                   const std::string& resampling, ProgressBar& bar, double from, double to,
                   const WarpHeights& heights) {
    struct Pass : BandPass {
        std::unique_ptr<SightGrid> sights;
    };
    std::vector<Pass> passes;
    for (BandPass& pass : BandPasses(product, bands)) passes.push_back({std::move(pass), nullptr});

    const GridFrame frame{&grid.crs, grid.geoTransform, grid.width, grid.height, WktOf(grid.crs)};
    double lowest = heights.height, highest = heights.height;
    GridShift shift;
    if (heights.dem) {
        shift = heights.dem->ShiftOver(frame);
        lowest = highest = CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT;  // where the DEM has none
        double least, most;
        if (!heights.dem->RangeOver(frame, least, most))
            throw Failure(kExitFailure, "--dem " + heights.dem->Path() + ": gives no height anywhere under the scene "
                                            "(it lies elsewhere, or only voids lie there); nothing would be placed on it");
        lowest = std::min(lowest, least);
        highest = std::max(highest, most);
    }
    ProductWorkers workers(heights.product, WarpThreads());
    std::vector<CeosAlosjDataset*> datasets;
    for (size_t w = 0; w < workers.Count(); ++w) datasets.push_back(&workers.ProductOf(w).Dataset());
    const ParallelRunner run = [&](const std::function<void(size_t)>& job) {
        workers.RunOnAll([&](size_t w, Product&) { job(w); });
    };
    for (Pass& pass : passes) {
        try {
            pass.sights = std::make_unique<SightGrid>(product.Dataset(), datasets, run, pass.band, grid.crs,
                                                      grid.geoTransform, grid.width, grid.height, lowest, highest);
        } catch (const Failure&) {
            throw;
        } catch (const processing::Error&) {
            throw;
        } catch (const std::exception& e) {
            throw Failure(kExitFailure, product.VolumePath() + ": the line-of-sight model cannot place the grid: " +
                                            e.what());
        }
        if (pass.sights->CheckedError() > kWarpMaxErrorPixels)
            throw Failure(kExitFailure, product.VolumePath() + ": the line-of-sight model varies too fast over the "
                                            "grid to be interpolated within " + std::to_string(kWarpMaxErrorPixels) +
                                            " pixel");
    }

    const int count = static_cast<int>(bands.size());
    return WarpStrips(workers, grid, count, out, bar, from, to, [&](Product& mine) -> StripWarper {
        auto source = std::make_shared<ProductRows>(mine);
        std::shared_ptr<Dem::Strips> dem;
        if (heights.dem) dem = std::make_shared<Dem::Strips>(*heights.dem, frame, shift);
        auto stripHeights = std::make_shared<std::vector<float>>();
        return [&, source, dem, stripHeights, &mine = mine](GDALDataset& target, int top, int rows, Strip& strip) {
            if (dem) dem->Read(top, rows, *stripHeights);
            for (const Pass& pass : passes) {
                HeightTransform transform;
                transform.sights = pass.sights.get();
                transform.heights = dem ? stripHeights->data() : nullptr;
                transform.height = heights.height;
                transform.top = top;
                transform.width = grid.width;
                transform.rows = rows;
                WarpStrip(*source, target, pass.bands, pass.outBands, resampling, TransformOnHeights, &transform,
                          grid.width, rows, mine);
            }
            ReadStrip(target, strip);
            // Pixels that show the scene without a height from the DEM.
            if (dem)
                for (size_t i = 0; i < stripHeights->size(); ++i)
                    if (!std::isfinite((*stripHeights)[i]) && strip.pixels[i] != 0) ++strip.uncovered;
        };
    });
}

}  // namespace

long WarpInto(Product& product, const std::vector<int>& bands, const WarpGrid& grid, GDALDataset& out,
              const std::string& resampling, ProgressBar& bar, double from, double to, const WarpHeights* heights) {
    if (heights) return WarpOnHeights(product, bands, grid, out, resampling, bar, from, to, *heights);
    const std::vector<BandPass> passes = BandPasses(product, bands);
    const OGRSpatialReference geographic = GeographicOf(product);

    // Strips of the grid on every core, each worker with the product opened
    // again and transformations of its own.
    ProductWorkers workers(ProductOptions{product.VolumePath(), product.Ccd(), true}, WarpThreads());
    return WarpStrips(workers, grid, static_cast<int>(bands.size()), out, bar, from, to, [&](Product& mine) -> StripWarper {
        auto source = std::make_shared<ProductRows>(mine);
        auto transform = std::make_shared<PolynomialTransform>();
        transform->dataset = &mine.Dataset();
        transform->toGeographic = Transformation(grid.crs, geographic);
        transform->toMap = Transformation(geographic, grid.crs);
        return [&, source, transform, &mine = mine](GDALDataset& target, int top, int rows, Strip& strip) {
            // The strip's own grid: the rows from `top` on.
            std::copy(grid.geoTransform, grid.geoTransform + 6, transform->geoTransform);
            transform->geoTransform[0] += top * grid.geoTransform[2];
            transform->geoTransform[3] += top * grid.geoTransform[5];
            if (!GDALInvGeoTransform(transform->geoTransform, transform->inverse))
                throw Failure(kExitFailure, "the map grid cannot be inverted");
            for (const BandPass& pass : passes) {
                transform->band = pass.band;
                void* approximate = GDALCreateApproxTransformer(TransformPoints, transform.get(), kWarpMaxErrorPixels);
                struct Release {
                    void* approximate;
                    ~Release() { GDALDestroyApproxTransformer(approximate); }
                } release{approximate};
                WarpStrip(*source, target, pass.bands, pass.outBands, resampling, GDALApproxTransform, approximate,
                          grid.width, rows, mine);
            }
            ReadStrip(target, strip);
        };
    });
}

}  // namespace alosj
