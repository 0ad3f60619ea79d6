// alosj dsm: a surface model from two or three PRISM views of one scene.
//
// The products are checked to see one scene (imaged within minutes, from
// different directions, overlapping).  A coarse pass over the widest pair
// (images averaged down 16 times, every height from -500 to 9000 m) finds
// the terrain's shape, its blunders left out (DropSpikes, DropIslands); the
// fine pass lays its frames on that surface, searches kResidual about it,
// matches every pair in tiles (Stereo.h), every core a tile at a time, and
// fuses a cell's pair heights (Fusion.h): the median of the largest group
// within the agreement bound of each other; cells whose pairs disagree get
// no height.  The DSM holds the heights alone; a companion file beside it
// counts the pairs in each height's group.  Every output is checked before
// the matching and published with the others or not at all.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <mutex>
#include <thread>

#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogr_geometry.h>

#include "tools/alosj/Cli.h"
#include "tools/alosj/Fusion.h"
#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Processing.h"
#include "tools/alosj/Progress.h"
#include "tools/alosj/QgisStyle.h"
#include "tools/alosj/Stereo.h"

namespace alosj {

namespace {

constexpr double kPrismGsd = 2.5;
constexpr double kMostSecondsApart = 600;
constexpr int kCoarseFactor = 16;
constexpr double kLowestHeight = -500, kHighestHeight = 9000;
/// Fine tiles span 128 cells of 5 m (256 samples of the frames at 2.5 m)
/// and, with coarser cells, as few as span the same samples, at least one:
/// a tile's frames, and the memory semi-global matching needs, stay the same
/// size whatever the cells.
constexpr int kTileCells = 128, kTileSamples = 256, kCoarseTileCells = 48;
/// Metres a coarse height may stand above or below those around it: more
/// than a volcano's flanks rise over two coarse cells (80 m at 45°), and
/// little more than the fine search reaches (kResidual).
constexpr double kSpike = 150;
/// Metres a fine tile searches above and below the coarse surface: more
/// than the coarse pass misses by, even where its cells of 40 m cut across
/// a ridge or a gully.
constexpr double kResidual = 100;
constexpr float kNoData = -32768.0f;
/// Coarse cells (of 40 m) a group of coarse heights needs, joined by steps
/// of at most kSpike, to count as terrain rather than a blunder: 0.16 km².
/// On the small volcano the terrain is one group of 15668 and the blunders
/// (500-1000 m high, on a flank turned from the sun) groups of 44 and fewer.
constexpr int kFewestCoarse = 100;
/// A height no other pair confirms is kept within kLone metres of the coarse
/// surface, where the coarse pass measured a height within kLoneReach of its
/// coarse cells: farther, the surface only fills a hole, and where it misses
/// the terrain by more than the fine search reaches (kResidual) the pair's
/// match there is a blunder.
constexpr double kLone = 50;
constexpr int kLoneReach = 3;

std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

/// Seconds since 1970 of a UTC time.
double EpochSeconds(const CeosAlosjUtcTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    return static_cast<double>(timegm(&tm)) + t.seconds;
}

struct View {
    ProductOptions options;
    std::string id;
    double angle = 0;  // along the track, degrees: + ahead
    double time = 0;   // seconds since 1970 at the centre
    std::string Name() const { return angle > 10 ? "forward" : angle < -10 ? "backward" : "nadir"; }
};

/// The view a product shows; an output inside its directory is refused.
View Inspect(const ProductOptions& options, const std::string& output) {
    Product product(options);
    RefuseOutputInProduct(output, product);
    if (product.SensorName() != "PRISM")
        throw Failure(kExitUsage, options.product + ": an " + product.SensorName() + " product; dsm needs PRISM views");
    CeosAlosjLineOfSight sight;
    const CeosAlosjSensorStatus status =
        product.Dataset().GetLineOfSight(0, product.Width() / 2.0, product.Height() / 2.0, &sight);
    if (status != ALOSJ_SENSOR_OK || !sight.time.valid)
        throw Failure(kExitFailure, options.product + ": dsm needs the line-of-sight model, which this product cannot give: " +
                                        alosjdescribe::LineOfSightProblem(status != ALOSJ_SENSOR_OK ? status : ALOSJ_SENSOR_NO_TIMES));
    const double speed = std::sqrt(sight.velocity[0] * sight.velocity[0] + sight.velocity[1] * sight.velocity[1] +
                                   sight.velocity[2] * sight.velocity[2]);
    const double along =
        (sight.look[0] * sight.velocity[0] + sight.look[1] * sight.velocity[1] + sight.look[2] * sight.velocity[2]) /
        speed;
    View view;
    view.options = options;
    view.id = ItemId(product);
    view.angle = std::asin(std::clamp(along, -1.0, 1.0)) * 180 / M_PI;
    view.time = EpochSeconds(sight.time);
    return view;
}

/// The product's outline placed on height h, in the grid's CRS.
std::unique_ptr<OGRPolygon> Outline(Product& product, double h, OGRCoordinateTransformation& toMap) {
    constexpr int kSteps = 16;
    auto ring = std::make_unique<OGRLinearRing>();
    const double w = product.Width(), l = product.Height();
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k < kSteps; ++k) {
            const double f = static_cast<double>(k) / kSteps;
            const double p = side == 0 ? f * w : side == 1 ? w : side == 2 ? (1 - f) * w : 0;
            const double q = side == 0 ? 0 : side == 1 ? f * l : side == 2 ? l : (1 - f) * l;
            double lat, lon;
            if (product.Dataset().PixelHeightToLatLon(0, p, q, h, &lat, &lon) != ALOSJ_SENSOR_OK) return nullptr;
            double x = lon, y = lat;
            if (!toMap.Transform(1, &x, &y)) return nullptr;
            ring->addPoint(x, y);
        }
    ring->closeRings();
    auto polygon = std::make_unique<OGRPolygon>();
    polygon->addRingDirectly(ring.release());
    return polygon;
}

/// Tile i of a grid `width` × `height` cut into tiles of `cells` × `cells`,
/// row after row; those at the right and bottom edges are cut to the grid.
TileBox TileAt(size_t i, int cells, int width, int height) {
    const size_t across = static_cast<size_t>((width + cells - 1) / cells);
    TileBox tile;
    tile.column = static_cast<int>(i % across) * cells;
    tile.row = static_cast<int>(i / across) * cells;
    tile.columns = std::min(cells, width - tile.column);
    tile.rows = std::min(cells, height - tile.row);
    return tile;
}

/// Leaves out the coarse heights that stand more than kSpike from the median
/// of the heights around them (5 x 5 cells), and those with fewer than 3
/// heights around them to judge by: a mismatch there would raise or sink
/// the surface the fine frames lie on beyond what their search reaches.
/// The holes left are filled from the heights around them (FillHoles).
void DropSpikes(std::vector<float>& heights, int width, int height) {
    const std::vector<float> found = heights;
    std::vector<float> around;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            float& h = heights[static_cast<size_t>(r) * width + c];
            if (!std::isfinite(h)) continue;
            around.clear();
            for (int y = std::max(0, r - 2); y <= std::min(height - 1, r + 2); ++y)
                for (int x = std::max(0, c - 2); x <= std::min(width - 1, c + 2); ++x)
                    if ((x != c || y != r) && std::isfinite(found[static_cast<size_t>(y) * width + x]))
                        around.push_back(found[static_cast<size_t>(y) * width + x]);
            if (around.size() < 3 || std::fabs(h - Median(around)) > kSpike) h = NAN;
        }
}

/// Gives every cell without a height the mean of its neighbours' (8 around),
/// ring after ring inwards from the holes' edges, so that the surface the
/// fine frames lie on runs on smoothly where the coarse pass found nothing.
/// Each cell is visited a few times, however wide the holes (sea, cloud).
/// A grid without any height is left as it is.
void FillHoles(std::vector<float>& heights, int width, int height) {
    const auto at = [width](int c, int r) { return static_cast<size_t>(r) * width + c; };
    std::vector<char> queued(heights.size(), 0);
    std::vector<std::pair<int, int>> ring, next;
    // Calls visit(column, row) for the cells around (c, r) inside the grid.
    const auto around = [&](int c, int r, auto visit) {
        for (int y = std::max(0, r - 1); y <= std::min(height - 1, r + 1); ++y)
            for (int x = std::max(0, c - 1); x <= std::min(width - 1, c + 1); ++x)
                if (x != c || y != r) visit(x, y);
    };
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            if (std::isfinite(heights[at(c, r)])) continue;
            bool edge = false;
            around(c, r, [&](int x, int y) { edge = edge || std::isfinite(heights[at(x, y)]); });
            if (edge) {
                ring.emplace_back(c, r);
                queued[at(c, r)] = 1;
            }
        }
    std::vector<float> values;
    while (!ring.empty()) {
        // The ring's values from the cells known before it.
        values.clear();
        for (const auto& [c, r] : ring) {
            double sum = 0;
            int count = 0;
            around(c, r, [&](int x, int y) {
                const float v = heights[at(x, y)];
                if (std::isfinite(v)) {
                    sum += v;
                    ++count;
                }
            });
            values.push_back(static_cast<float>(sum / count));
        }
        next.clear();
        for (size_t k = 0; k < ring.size(); ++k) {
            const auto [c, r] = ring[k];
            heights[at(c, r)] = values[k];
            around(c, r, [&](int x, int y) {
                if (!queued[at(x, y)] && !std::isfinite(heights[at(x, y)])) {
                    queued[at(x, y)] = 1;
                    next.emplace_back(x, y);
                }
            });
        }
        ring.swap(next);
    }
}

/// Runs work(tile index) for every tile on every core, moving the bar from
/// `from` to `to` as tiles finish.
void ForEachTile(size_t tiles, const std::function<void(size_t, StereoMatcher&)>& work,
                 const std::function<StereoMatcher*()>& makeMatcher, ProgressBar& bar, double from, double to) {
    const unsigned threads = std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(), static_cast<unsigned>(tiles)));
    std::atomic<size_t> next{0}, finished{0};
    std::mutex mutex;
    std::exception_ptr failure;
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);  // as GdalSession does on the main thread
            try {
                std::unique_ptr<StereoMatcher> matcher(makeMatcher());
                for (size_t i; (i = next++) < tiles;) {
                    work(i, *matcher);
                    const size_t count = ++finished;
                    std::lock_guard<std::mutex> lock(mutex);
                    bar.Update(from + (to - from) * static_cast<double>(count) / static_cast<double>(tiles));
                }
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!failure) failure = std::current_exception();
                next = tiles;
            }
        });
    for (std::thread& thread : pool) thread.join();
    if (failure) std::rethrow_exception(failure);
}

/// The files dsm writes, beside one another: NAME.tif (heights),
/// NAME_agreement.tif (the pairs that agree), their QGIS styles and
/// NAME_relief.png (a shaded relief).
struct DsmNames {
    std::string dsm, agreement, relief, dsmStyle, agreementStyle;
    explicit DsmNames(const std::string& output) : dsm(output) {
        const std::string base = output.substr(0, output.size() - LowerCaseEnding(output).size());
        agreement = base + "_agreement.tif";
        relief = base + "_relief.png";
        dsmStyle = StylePath(dsm);
        agreementStyle = StylePath(agreement);
    }
    std::vector<std::string> All() const { return {dsm, agreement, relief, dsmStyle, agreementStyle}; }
};

/// The outputs' temporaries beside them, made before any work (so that an
/// unwritable directory shows at once); with --format COG the GeoTIFFs the
/// COGs are copied from too.
struct DsmFiles {
    const DsmNames names;
    OutputFile dsm, agreement, relief, dsmStyle, agreementStyle;
    std::unique_ptr<OutputFile> dsmTiff, agreementTiff;
    DsmFiles(const std::string& output, bool cog)
        : names(output), dsm(CreateUniqueFileBeside(names.dsm, ".tif")),
          agreement(CreateUniqueFileBeside(names.agreement, ".tif")),
          relief(CreateUniqueFileBeside(names.relief, ".png")),
          dsmStyle(CreateUniqueFileBeside(names.dsmStyle, ".qml")),
          agreementStyle(CreateUniqueFileBeside(names.agreementStyle, ".qml")) {
        if (!cog) return;
        dsmTiff = std::make_unique<OutputFile>(CreateUniqueFileBeside(names.dsm, ".tif"));
        agreementTiff = std::make_unique<OutputFile>(CreateUniqueFileBeside(names.agreement, ".tif"));
    }
    /// Where the fine pass writes the heights and the agreement.
    const std::string& DsmTiff() const { return dsmTiff ? dsmTiff->path() : dsm.path(); }
    const std::string& AgreementTiff() const { return agreementTiff ? agreementTiff->path() : agreement.path(); }
};

/// The views of one pass over one scene, from forward to backward, and the
/// pairs matched: the widest first.
struct Scene {
    std::vector<View> views;
    std::vector<std::pair<size_t, size_t>> pairs;
    std::vector<ProductOptions> products;
};

/// Which views, and are they one scene?
Scene ReadViews(const DsmOptions& options) {
    Scene scene;
    std::vector<View>& views = scene.views;
    for (const std::string& path : options.products) {
        ProductOptions product;
        product.product = path;
        product.quiet = options.quiet;
        views.push_back(Inspect(product, options.output));
    }
    std::sort(views.begin(), views.end(), [](const View& a, const View& b) { return a.angle > b.angle; });
    for (size_t i = 0; i + 1 < views.size(); ++i) {
        if (views[i].angle - views[i + 1].angle < 5)
            throw Failure(kExitUsage, views[i].id + " and " + views[i + 1].id +
                                          " look the same way: two views of one direction give no heights");
    }
    for (const View& a : views)
        for (const View& b : views)
            if (std::fabs(a.time - b.time) > kMostSecondsApart)
                throw Failure(kExitUsage, a.id + " and " + b.id + " were imaged " +
                                              Format("%.0f", std::fabs(a.time - b.time)) +
                                              " s apart: not the same pass over one scene");
    scene.pairs = {{0, views.size() - 1}};
    if (views.size() == 3) {
        scene.pairs.emplace_back(0, 1);
        scene.pairs.emplace_back(1, 2);
    }
    for (const View& view : views) scene.products.push_back(view.options);
    return scene;
}

/// Sets the grid's CRS; the conversion from latitude and longitude into it.
std::unique_ptr<OGRCoordinateTransformation> ChooseCrs(const DsmOptions& options, Product& first, MapGrid& grid) {
    // The grid's CRS: given, or the UTM zone of the first view's centre.
    grid.crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (!options.crs.empty()) {
        if (grid.crs.SetFromUserInput(options.crs.c_str()) != OGRERR_NONE || !grid.crs.IsProjected())
            throw Failure(kExitUsage, "--crs " + options.crs + ": not a projected CRS GDAL knows");
        RequireMetres(grid.crs, "--crs", options.crs);
    } else {
        double lat = 0, lon = 0;
        if (first.Dataset().PixelToLatLon(0, first.Width() / 2.0, first.Height() / 2.0, &lat, &lon) !=
            ALOSJ_LOCATE_OK)
            throw Failure(kExitFailure, first.VolumePath() +
                                            ": has no usable geolocation polynomials, so no map grid can be chosen");
        grid.crs.importFromEPSG(UtmEpsgAt(lat, lon));
    }
    OGRSpatialReference geographic;
    geographic.importFromEPSG(4326);
    geographic.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> toMap(OGRCreateCoordinateTransformation(&geographic, &grid.crs));
    if (!toMap) throw Failure(kExitUsage, "--crs: PROJ cannot convert WGS 84 into it");
    return toMap;
}

/// The box (in the grid's CRS) of where all views overlap.
OGREnvelope Overlap(Product& first, const std::vector<ProductOptions>& products,
                    const std::unique_ptr<OGRCoordinateTransformation>& toMap) {
    // Where all views overlap at some height between sea level and 8000 m.
    std::vector<std::unique_ptr<Product>> opened;
    for (size_t i = 1; i < products.size(); ++i) opened.push_back(std::make_unique<Product>(products[i]));
    OGREnvelope extent;
    bool overlap = false;
    for (double h = 0; h <= 8000; h += 1000) {
        std::unique_ptr<OGRGeometry> common(Outline(first, h, *toMap));
        for (auto& product : opened) {
            std::unique_ptr<OGRPolygon> outline = Outline(*product, h, *toMap);
            if (!common || !outline) {
                common.reset();
                break;
            }
            common.reset(common->Intersection(outline.get()));
        }
        if (!common || common->IsEmpty()) continue;
        OGREnvelope envelope;
        common->getEnvelope(&envelope);
        extent.Merge(envelope);
        overlap = true;
    }
    opened.clear();
    if (!overlap) throw Failure(kExitUsage, "the products do not overlap: not one scene");
    return extent;
}

/// Says which views, pairs, overlap and cells (unless quiet).
void Announce(const DsmOptions& options, const Scene& scene, const OGREnvelope& extent, double resolution,
              double sample) {
    const std::vector<View>& views = scene.views;
    const std::vector<std::pair<size_t, size_t>>& pairs = scene.pairs;
    if (!options.quiet) {
        std::cerr << "alosj dsm: " << views.size() << " views imaged within "
                  << Format("%.0f", views.back().time - views.front().time) << " s:";
        for (const View& view : views)
            std::cerr << " " << view.Name() << " " << view.id << Format(" (%+.1f deg)", view.angle);
        std::cerr << "\n  pairs:";
        for (auto [a, b] : pairs) std::cerr << " " << views[a].Name() << "-" << views[b].Name();
        std::cerr << Format("\n  overlap %.1f x %.1f km, cells of %g m", (extent.MaxX - extent.MinX) / 1000,
                            (extent.MaxY - extent.MinY) / 1000, resolution)
                  << Format(", images sampled every %g m\n", sample);
    }
}

/// What the coarse pass found: heights on a grid of kCoarseFactor samples
/// (NaN where nothing matched or a spike was dropped), and the surface the
/// fine frames lie on (those heights with the holes filled).
struct Coarse {
    MapGrid grid;
    double sample = kCoarseFactor * kPrismGsd;
    std::vector<float> heights, surface;
};

/// Coarse pass: the widest pair, every height.
void CoarsePass(const Scene& scene, const MapGrid& grid, const OGREnvelope& extent, ProgressBar& bar,
                Coarse& result) {
    const std::vector<std::pair<size_t, size_t>>& pairs = scene.pairs;
    const std::vector<ProductOptions>& products = scene.products;
    MapGrid& coarse = result.grid;
    const double coarseSample = result.sample;
    std::vector<float>& coarseHeights = result.heights;
    coarse.crs = grid.crs;
    coarse.geoTransform[0] = std::floor(extent.MinX / coarseSample) * coarseSample;
    coarse.geoTransform[3] = std::ceil(extent.MaxY / coarseSample) * coarseSample;
    coarse.geoTransform[1] = coarseSample;
    coarse.geoTransform[5] = -coarseSample;
    coarse.width = static_cast<int>(std::ceil((extent.MaxX - coarse.geoTransform[0]) / coarseSample));
    coarse.height = static_cast<int>(std::ceil((coarse.geoTransform[3] - extent.MinY) / coarseSample));
    coarseHeights.assign(static_cast<size_t>(coarse.width) * coarse.height, NAN);
    const int coarseAcross = (coarse.width + kCoarseTileCells - 1) / kCoarseTileCells;
    const int coarseDown = (coarse.height + kCoarseTileCells - 1) / kCoarseTileCells;
    ForEachTile(
        static_cast<size_t>(coarseAcross) * coarseDown,
        [&](size_t i, StereoMatcher& matcher) {
            const TileBox tile = TileAt(i, kCoarseTileCells, coarse.width, coarse.height);
            ReferenceSurface level;
            level.height = 0.5 * (kLowestHeight + kHighestHeight);
            const TileHeights found = matcher.Match(pairs[0].first, pairs[0].second, tile, coarseSample, level,
                                                    kLowestHeight - level.height, kHighestHeight - level.height);
            for (int r = 0; r < tile.rows; ++r)
                for (int c = 0; c < tile.columns; ++c)
                    coarseHeights[static_cast<size_t>(tile.row + r) * coarse.width + tile.column + c] =
                        found.heights[static_cast<size_t>(r) * tile.columns + c];
        },
        [&] { return new StereoMatcher(products, coarse, kPrismGsd); }, bar, 0.0, 0.1);
    DropSpikes(coarseHeights, coarse.width, coarse.height);
    DropIslands(coarseHeights, coarse.width, coarse.height, kSpike, kFewestCoarse);
    result.surface = coarseHeights;
    FillHoles(result.surface, coarse.width, coarse.height);
}

/// The fine grid: what the coarse pass found heights on, in cells of `resolution`.
void PlaceFineGrid(const Coarse& found, double resolution, MapGrid& grid) {
    const MapGrid& coarse = found.grid;
    const double coarseSample = found.sample;
    const std::vector<float>& coarseHeights = found.heights;
    int cMin = coarse.width, cMax = -1, rMin = coarse.height, rMax = -1;
    for (int r = 0; r < coarse.height; ++r)
        for (int c = 0; c < coarse.width; ++c)
            if (std::isfinite(coarseHeights[static_cast<size_t>(r) * coarse.width + c])) {
                cMin = std::min(cMin, c);
                cMax = std::max(cMax, c);
                rMin = std::min(rMin, r);
                rMax = std::max(rMax, r);
            }
    if (cMax < 0) throw Failure(kExitFailure, "no part of the views could be matched");
    grid.geoTransform[0] = std::floor((coarse.geoTransform[0] + (cMin - 1) * coarseSample) / resolution) * resolution;
    grid.geoTransform[3] = std::ceil((coarse.geoTransform[3] - (rMin - 1) * coarseSample) / resolution) * resolution;
    grid.geoTransform[1] = resolution;
    grid.geoTransform[5] = -resolution;
    grid.width = static_cast<int>(
        std::ceil((coarse.geoTransform[0] + (cMax + 2) * coarseSample - grid.geoTransform[0]) / resolution));
    grid.height = static_cast<int>(
        std::ceil((grid.geoTransform[3] - (coarse.geoTransform[3] - (rMax + 2) * coarseSample)) / resolution));
}

using DatasetPtr = std::unique_ptr<GDALDataset, GdalDatasetCloser>;

/// A tiled GeoTIFF of one band on the grid.
DatasetPtr CreateGrid(const MapGrid& grid, const std::string& path, GDALDataType type, const std::string& name) {
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    const char* createOptions[] = {"TILED=YES", "COMPRESS=DEFLATE", type == GDT_Float32 ? "PREDICTOR=3" : "PREDICTOR=2",
                                   "BIGTIFF=IF_SAFER", nullptr};
    DatasetPtr out(gtiff->Create(path.c_str(), grid.width, grid.height, 1, type, const_cast<char**>(createOptions)));
    if (!out) throw Failure(kExitFailure, name + ": cannot be written: " + GdalSession::LastError());
    double geoTransform[6];
    std::copy(grid.geoTransform, grid.geoTransform + 6, geoTransform);
    out->SetGeoTransform(geoTransform);
    return out;
}

/// The companion of agreeing pairs: a count a cell, 0 (nodata) where the
/// DSM has no height.
DatasetPtr CreateAgreement(const MapGrid& grid, const std::string& path, const std::string& name) {
    DatasetPtr agreement = CreateGrid(grid, path, GDT_Byte, name);
    agreement->SetSpatialRef(&grid.crs);
    agreement->GetRasterBand(1)->SetDescription("agreeing pairs");
    agreement->GetRasterBand(1)->SetNoDataValue(0);
    return agreement;
}

/// The DSM's file: one band of heights in metres, its CRS (with EGM96 as
/// its vertical part under --geoid) and metadata.
DatasetPtr CreateDsm(const DsmOptions& options, const MapGrid& grid, const std::string& path) {
    DatasetPtr dsm = CreateGrid(grid, path, GDT_Float32, options.output);
    OGRSpatialReference stated;
    if (options.geoid) {
        OGRSpatialReference vertical;
        vertical.importFromEPSG(5773);
        stated.SetCompoundCS((std::string(grid.crs.GetName()) + " + EGM96 height").c_str(), &grid.crs, &vertical);
    } else {
        stated = grid.crs;  // GeoTIFF has no ellipsoidal vertical CRS: HEIGHTS says so
    }
    dsm->SetSpatialRef(&stated);
    dsm->SetMetadataItem("HEIGHTS", options.geoid ? "above the EGM96 geoid" : "above the WGS 84 ellipsoid");
    dsm->GetRasterBand(1)->SetDescription("height");
    dsm->GetRasterBand(1)->SetUnitType("m");
    dsm->GetRasterBand(1)->SetNoDataValue(kNoData);
    return dsm;
}

/// Ellipsoidal heights → EGM96 heights (null without --geoid).
std::unique_ptr<OGRCoordinateTransformation> GeoidTransform(const DsmOptions& options) {
    std::unique_ptr<OGRCoordinateTransformation> toGeoid;
    if (options.geoid) {
        OGRSpatialReference ellipsoidal, geoid;
        ellipsoidal.importFromEPSG(4979);
        geoid.SetFromUserInput("EPSG:4326+5773");
        ellipsoidal.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        geoid.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        OGRCoordinateTransformationOptions transformOptions;
        transformOptions.SetBallparkAllowed(false);
        toGeoid.reset(OGRCreateCoordinateTransformation(&ellipsoidal, &geoid, transformOptions));
        if (!toGeoid) throw Failure(kExitFailure, "--geoid: PROJ cannot find the EGM96 geoid (egm96_15.gtx)");
    }
    return toGeoid;
}

/// What the fine pass adds up over its tiles.
struct FineTotals {
    long filled = 0;  // cells with a height
    std::vector<GapHistogram> gaps;
    double frameSamples = 0, matchSeconds = 0;
};

/// Fine pass: every pair in tiles on the coarse surface, fused, written into dsm.
FineTotals FinePass(const DsmOptions& options, const Scene& scene, const MapGrid& grid, const Coarse& rough,
                    double sample, OGRCoordinateTransformation* toGeoid, DatasetPtr& dsm, DatasetPtr& companion,
                    ProgressBar& bar) {
    const std::vector<std::pair<size_t, size_t>>& pairs = scene.pairs;
    const std::vector<ProductOptions>& products = scene.products;
    const MapGrid& coarse = rough.grid;
    const double coarseSample = rough.sample, resolution = grid.geoTransform[1];
    const std::vector<float>& coarseHeights = rough.heights;
    ReferenceSurface terrain;
    terrain.grid = &coarse;
    terrain.heights = &rough.surface;
    FusionRule fusion;
    fusion.agreement = 2 * sample;  // metres: two samples of parallax at a base-to-height of 1
    fusion.lone = kLone;
    fusion.reach = kLoneReach;
    companion->SetMetadataItem(
        "AGREEMENT", Format("the pairs whose heights lie within %g m of each other", fusion.agreement).c_str());
    const CoarseSurface coarseSurfaces{terrain, &coarseHeights};
    const int tileCells = std::clamp(static_cast<int>(kTileSamples * sample / resolution), 1, kTileCells);
    const int across = (grid.width + tileCells - 1) / tileCells, down = (grid.height + tileCells - 1) / tileCells;
    std::mutex writing, geoidLock;
    std::atomic<long> filled{0};
    std::vector<GapHistogram> gaps(pairs.size());
    double frameSamples = 0, matchSeconds = 0;
    ForEachTile(
        static_cast<size_t>(across) * down,
        [&](size_t i, StereoMatcher& matcher) {
            const TileBox tile = TileAt(i, tileCells, grid.width, grid.height);
            // A tile is matched where the coarse pass found heights around it.
            const double x0 = grid.geoTransform[0] + tile.column * resolution;
            const double y0 = grid.geoTransform[3] - tile.row * resolution;
            const int c0 = static_cast<int>(std::floor((x0 - coarse.geoTransform[0]) / coarseSample)) - 2;
            const int r0 = static_cast<int>(std::floor((coarse.geoTransform[3] - y0) / coarseSample)) - 2;
            const int c1 = c0 + static_cast<int>(std::ceil(tile.columns * resolution / coarseSample)) + 4;
            const int r1 = r0 + static_cast<int>(std::ceil(tile.rows * resolution / coarseSample)) + 4;
            bool known = false;
            for (int r = std::max(0, r0); r <= std::min(coarse.height - 1, r1) && !known; ++r)
                for (int c = std::max(0, c0); c <= std::min(coarse.width - 1, c1) && !known; ++c)
                    known = std::isfinite(coarseHeights[static_cast<size_t>(r) * coarse.width + c]);
            std::vector<float> heights(static_cast<size_t>(tile.columns) * tile.rows, kNoData);
            std::vector<float> agreeing(heights.size(), 0.0f);
            if (known) {
                std::vector<TileHeights> found;
                for (size_t p = 0; p < pairs.size(); ++p)
                    found.push_back(matcher.Match(pairs[p].first, pairs[p].second, tile, sample, terrain,
                                                  -kResidual, kResidual));
                const long tileFilled = FuseTile(found, TileCells{x0, y0, resolution, tile.columns}, coarseSurfaces,
                                                 fusion, kNoData, heights, agreeing);
                if (toGeoid) {
                    std::vector<double> xs, ys, zs;
                    std::vector<size_t> where;
                    for (size_t c = 0; c < heights.size(); ++c)
                        if (heights[c] != kNoData) {
                            xs.push_back(x0 + (static_cast<double>(c % tile.columns) + 0.5) * resolution);
                            ys.push_back(y0 - (static_cast<double>(c / tile.columns) + 0.5) * resolution);
                            zs.push_back(heights[c]);
                            where.push_back(c);
                        }
                    if (!xs.empty()) {
                        bool converted = matcher.ToGeographic(xs, ys);
                        {
                            std::lock_guard<std::mutex> lock(geoidLock);  // one transformation for all threads
                            converted = converted && toGeoid->Transform(xs.size(), xs.data(), ys.data(), zs.data());
                        }
                        if (!converted) throw Failure(kExitFailure, "--geoid: PROJ cannot convert the heights to EGM96");
                        for (size_t k = 0; k < where.size(); ++k) heights[where[k]] = static_cast<float>(zs[k]);
                    }
                }
                filled += tileFilled;
                std::lock_guard<std::mutex> lock(writing);
                for (size_t p = 0; p < pairs.size(); ++p) {
                    gaps[p].Add(found[p].gaps);
                    frameSamples += found[p].frameSamples;
                    matchSeconds += found[p].matchSeconds;
                }
            }
            std::lock_guard<std::mutex> lock(writing);
            if (dsm->GetRasterBand(1)->RasterIO(GF_Write, tile.column, tile.row, tile.columns, tile.rows,
                                                heights.data(), tile.columns, tile.rows, GDT_Float32, 0, 0) != CE_None ||
                companion->GetRasterBand(1)->RasterIO(GF_Write, tile.column, tile.row, tile.columns, tile.rows,
                                                      agreeing.data(), tile.columns, tile.rows, GDT_Float32, 0,
                                                      0) != CE_None)
                throw Failure(kExitFailure, options.output + ": cannot be written: " + GdalSession::LastError());
        },
        [&] { return new StereoMatcher(products, grid, kPrismGsd); }, bar, 0.1, 0.95);

    FineTotals totals;
    totals.filled = filled;
    totals.gaps = std::move(gaps);
    totals.frameSamples = frameSamples;
    totals.matchSeconds = matchSeconds;
    return totals;
}

/// How closely each pair's rays meet, a line each: the DSM's metadata says it too.
std::vector<std::string> RayGapSummaries(const Scene& scene, const FineTotals& totals, GDALDataset& dsm) {
    const std::vector<View>& views = scene.views;
    const std::vector<std::pair<size_t, size_t>>& pairs = scene.pairs;
    const std::vector<GapHistogram>& gaps = totals.gaps;
    std::vector<std::string> gapSummaries;
    for (size_t p = 0; p < pairs.size(); ++p) {
        std::string name = views[pairs[p].first].Name() + "_" + views[pairs[p].second].Name();
        gapSummaries.push_back(Format("%.0f points, ray gap median %.3f m, 90th percentile %.3f m",
                                      static_cast<double>(gaps[p].total), gaps[p].Percentile(0.5),
                                      gaps[p].Percentile(0.9)));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        dsm.SetMetadataItem(("RAY_GAP_" + name).c_str(), gapSummaries.back().c_str());
    }
    return gapSummaries;
}

/// A shaded relief of the DSM's heights, written as a PNG into `temporary`.
void WriteRelief(GDALDataset& dsm, const std::string& temporary, const std::string& reliefPath) {
    const char* demArguments[] = {"-of", "MEM", "-compute_edges", "-b", "1", nullptr};
    GDALDEMProcessingOptions* demOptions = GDALDEMProcessingOptionsNew(const_cast<char**>(demArguments), nullptr);
    int usageError = 0;
    std::unique_ptr<GDALDataset, GdalDatasetCloser> shaded(GDALDataset::FromHandle(
        GDALDEMProcessing("", GDALDataset::ToHandle(&dsm), "hillshade", nullptr, demOptions, &usageError)));
    GDALDEMProcessingOptionsFree(demOptions);
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> written(
        shaded && png ? png->CreateCopy(temporary.c_str(), shaded.get(), FALSE, nullptr, nullptr, nullptr) : nullptr);
    if (!written) throw Failure(kExitFailure, reliefPath + ": cannot be written: " + GdalSession::LastError());
    written.reset();
    VSIUnlink((temporary + ".aux.xml").c_str());
}

/// The heights' style: a colour ramp from low ground to high over their 2nd
/// to 98th percentiles (by metre), nodata transparent.
std::string HeightStyle(GDALDataset& dsm) {
    constexpr double kLowest = -1000, kHighest = 9500;  // metres: beyond every height the matching searches
    std::vector<GUIntBig> counts(static_cast<size_t>(kHighest - kLowest));
    if (dsm.GetRasterBand(1)->GetHistogram(kLowest, kHighest, static_cast<int>(counts.size()), counts.data(), FALSE,
                                           FALSE, nullptr, nullptr) != CE_None)
        throw Failure(kExitFailure, "cannot read the DSM's heights again: " + GdalSession::LastError());
    GUIntBig total = 0;
    for (GUIntBig count : counts) total += count;
    const auto percentile = [&](double fraction) {
        GUIntBig below = 0;
        for (size_t k = 0; k < counts.size(); ++k)
            if ((below += counts[k]) > 0 && static_cast<double>(below) >= fraction * static_cast<double>(total))
                return kLowest + static_cast<double>(k) + 0.5;
        return 0.0;
    };
    const double low = percentile(0.02), high = std::max(percentile(0.98), low + 1);
    const char* colours[] = {"#267300", "#a3cc51", "#f2e6a0", "#a0784f", "#ffffff"};  // lowland green to snow
    std::vector<ColourStop> stops;
    for (int k = 0; k < 5; ++k) stops.emplace_back(low + (high - low) * k / 4, colours[k]);
    return QgisStyleDocument(PseudocolorRenderer(stops));
}

/// The companion's style: a colour for each count of agreeing pairs.
std::string AgreementStyle(size_t pairs) {
    const char* colours[] = {"#fdae61", "#a6d96a", "#1a9641"};
    std::vector<std::pair<ColourStop, std::string>> classes;
    for (size_t k = 1; k <= pairs; ++k)
        classes.push_back({{static_cast<double>(k), colours[k - 1]}, std::to_string(k) + (k == 1 ? " pair" : " pairs")});
    return QgisStyleDocument(PalettedRenderer(classes));
}

/// Closes a finished GeoTIFF at `path`: what GDAL still had to write is
/// checked, and the statistics GDAL kept beside it are removed.
void Finish(DatasetPtr& dataset, const std::string& path, const std::string& name) {
    CPLErrorReset();
    GDALClose(dataset.release());
    if (CPLGetLastErrorType() == CE_Failure)
        throw Failure(kExitFailure, name + ": cannot be written: " + GdalSession::LastError());
    VSIUnlink((path + ".aux.xml").c_str());
}

/// The finished GeoTIFF `tiff` copied as a COG into `cog` by GDAL's COG
/// driver, its overviews made by `resampling` (nodata left out).
void CopyAsCog(const std::string& tiff, const std::string& cog, const char* resampling, const std::string& name) {
    DatasetPtr source(GDALDataset::Open(tiff.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("COG");
    if (!source || !driver) throw Failure(kExitFailure, name + ": cannot be written as a COG: " + GdalSession::LastError());
    CPLStringList options;
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("PREDICTOR", "YES");
    options.SetNameValue("BIGTIFF", "IF_SAFER");
    options.SetNameValue("NUM_THREADS", "ALL_CPUS");
    options.SetNameValue("RESAMPLING", resampling);
    DatasetPtr copied(driver->CreateCopy(cog.c_str(), source.get(), FALSE, options.List(), nullptr, nullptr));
    if (!copied) throw Failure(kExitFailure, name + ": cannot be written as a COG: " + GdalSession::LastError());
    Finish(copied, cog, name);
}

/// The summary on stderr (unless quiet).
void Report(const DsmOptions& options, const Scene& scene, const MapGrid& grid, const FineTotals& totals,
            const std::vector<std::string>& gapSummaries) {
    if (options.quiet) return;
    const std::vector<View>& views = scene.views;
    const std::vector<std::pair<size_t, size_t>>& pairs = scene.pairs;
    std::cerr << Format("alosj dsm: %.0f x %.0f cells, %.1f %% with a height", grid.width, grid.height,
                        100.0 * static_cast<double>(totals.filled) / (static_cast<double>(grid.width) * grid.height));
    for (size_t p = 0; p < pairs.size(); ++p)
        std::cerr << "\n  " << views[pairs[p].first].Name() << "-" << views[pairs[p].second].Name() << ": "
                  << gapSummaries[p];
    std::cerr << Format("\n  semi-global matching of %.1f megapixels of rectified frames: %.1f s of its threads (%.2f s a megapixel)",
                        totals.frameSamples / 1e6, totals.matchSeconds,
                        totals.frameSamples > 0 ? totals.matchSeconds / (totals.frameSamples / 1e6) : 0.0)
              << " on " << std::max(1u, std::thread::hardware_concurrency()) << " threads";
    std::cerr << "\n";
}

}  // namespace

int RunDsm(const DsmOptions& options) {
    GdalSession session;
    if (options.products.size() < 2 || options.products.size() > 3)
        throw Failure(kExitUsage, "dsm takes two or three products");
    // Every output is checked before any work.
    RefuseNonGeoTiffName(options.output, "alosj dsm");
    RefuseExistingOutputs(DsmNames(options.output).All(), options.overwrite, "alosj dsm");
    const Scene scene = ReadViews(options);
    DsmFiles files(options.output, options.format == "COG");
    const DsmNames& names = files.names;
    Product first(scene.products[0]);
    MapGrid grid;
    const std::unique_ptr<OGRCoordinateTransformation> toMap = ChooseCrs(options, first, grid);
    const OGREnvelope extent = Overlap(first, scene.products, toMap);
    const double resolution = options.resolution > 0 ? options.resolution : 2 * kPrismGsd;
    const double sample = std::min(kPrismGsd, resolution / 2);
    Announce(options, scene, extent, resolution, sample);
    ProgressBar bar("dsm", options.progress, options.quiet);

    Coarse coarse;
    CoarsePass(scene, grid, extent, bar, coarse);
    PlaceFineGrid(coarse, resolution, grid);

    DatasetPtr dsm = CreateDsm(options, grid, files.DsmTiff());
    DatasetPtr agreement = CreateAgreement(grid, files.AgreementTiff(), names.agreement);
    const std::unique_ptr<OGRCoordinateTransformation> toGeoid = GeoidTransform(options);
    const FineTotals totals = FinePass(options, scene, grid, coarse, sample, toGeoid.get(), dsm, agreement, bar);
    const std::vector<std::string> gapSummaries = RayGapSummaries(scene, totals, *dsm);

    WriteRelief(*dsm, files.relief.path(), names.relief);
    WriteTextInto(files.dsmStyle.path(), HeightStyle(*dsm), names.dsmStyle);
    WriteTextInto(files.agreementStyle.path(), AgreementStyle(scene.pairs.size()), names.agreementStyle);
    Finish(dsm, files.DsmTiff(), names.dsm);
    Finish(agreement, files.AgreementTiff(), names.agreement);
    if (files.dsmTiff) {
        CopyAsCog(files.dsmTiff->path(), files.dsm.path(), "AVERAGE", names.dsm);
        CopyAsCog(files.agreementTiff->path(), files.agreement.path(), "MODE", names.agreement);
    }
    bar.Update(1.0);
    bar.Finish();
    PublishOutputs({{files.dsm.path(), names.dsm},
                    {files.agreement.path(), names.agreement},
                    {files.relief.path(), names.relief},
                    {files.dsmStyle.path(), names.dsmStyle},
                    {files.agreementStyle.path(), names.agreementStyle}},
                   options.overwrite, "alosj dsm");
    for (OutputFile* file : {&files.dsm, &files.agreement, &files.relief, &files.dsmStyle, &files.agreementStyle})
        file->Keep();
    Report(options, scene, grid, totals, gapSummaries);
    for (const std::string& name : names.All()) std::cout << name << "\n";
    return 0;
}

}  // namespace alosj
