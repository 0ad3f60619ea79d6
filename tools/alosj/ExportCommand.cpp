// alosj export: the assembled raster as a tiled, georeferenced GeoTIFF or
// cloud-optimised GeoTIFF, DEFLATE-compressed unless asked otherwise.
//
// Rows are streamed: each row of every band is read through GetRow and
// written with RasterIO, and every complete tile-row is flushed before the
// next, so the memory used does not grow with the scene.  A COG is
// written in the same single pass: the rows are compressed into the full
// resolution's tiles and reduced into its overviews' at once, and the
// tiles are then laid out as a COG; a warp is written as a GeoTIFF first
// and read again into a COG the same way.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <filesystem>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include <unistd.h>

#include <cpl_string.h>
#include <ogr_spatialref.h>

#include "tools/alosj/Export.h"
#include "tools/alosj/Processing.h"
#include "tools/alosj/Gdal.h"
#include "tools/alosj/Stretch.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Progress.h"
#include "tools/alosj/QgisStyle.h"
#include "tools/alosj/Quicklook.h"
#include "tools/alosj/Warp.h"

namespace alosj {

namespace {

constexpr int kTileSize = 256;

using alosjdescribe::Placement;

void Georeference(GDALDataset& out, const Placement& p) {
    if (p.kind == Placement::Kind::GeoTransform) {
        double geoTransform[6];
        std::copy(p.geoTransform, p.geoTransform + 6, geoTransform);
        if (out.SetSpatialRef(&p.crs) != CE_None || out.SetGeoTransform(geoTransform) != CE_None)
            throw Failure(kExitFailure, "cannot georeference the output: " + GdalSession::LastError());
    } else if (p.kind == Placement::Kind::Gcps) {
        std::vector<GDAL_GCP> gcps;
        for (const auto& point : p.gcps)
            gcps.push_back({const_cast<char*>(point.id.c_str()), const_cast<char*>(""), point.pixel, point.line,
                            point.longitude, point.latitude, 0.0});
        if (out.SetGCPs(static_cast<int>(gcps.size()), gcps.data(), &p.crs) != CE_None)
            throw Failure(kExitFailure, "cannot store the corner control points: " + GdalSession::LastError());
    }
}

CPLStringList ItemList(const alosjdescribe::MetadataItems& items) {
    CPLStringList list;
    for (const auto& [name, value] : items) list.SetNameValue(name.c_str(), value.c_str());
    return list;
}

/// The description's items made true of a raster warped onto `grid`: it is
/// map-projected, in the grid's projection; the library's answers about the
/// product's own raster grid (size, pixel sizes, corner, projection,
/// direction) are left out, its answers about the product kept.
void DescribeWarped(const WarpGrid& grid, const std::string& resampling, const std::string& placedOn,
                    const std::string& footprint, alosjdescribe::MetadataItems& metadata,
                    alosjdescribe::MetadataItems& queries) {
    int north = 0;
    const char* method = grid.crs.GetAttrValue("PROJECTION");
    const std::string projection = grid.crs.GetUTMZone(&north) != 0 ? "UTM"
                                   : method && std::string(method).rfind("Polar_Stereographic", 0) == 0
                                       ? "PS"
                                       : grid.crsText;
    alosjdescribe::MetadataItems items;
    for (auto& [name, value] : metadata) {
        if (name == "MAP_DIRECTION") continue;  // of the product's grid
        if (name == "GEOCODED") value = "YES";
        if (name == "MAP_PROJECTION") value = projection;
        items.emplace_back(name, value);
        if (name == "GEOCODED" && std::none_of(metadata.begin(), metadata.end(),
                                               [](const auto& item) { return item.first == "MAP_PROJECTION"; }))
            items.emplace_back("MAP_PROJECTION", projection);
    }
    items.emplace_back("WARP_CRS", grid.crsText);
    items.emplace_back("WARP_RESAMPLING", resampling);
    if (!placedOn.empty()) items.emplace_back("WARP_HEIGHT", placedOn);
    if (!footprint.empty()) items.emplace_back(kWarpFootprintItem, footprint);
    metadata = std::move(items);
    const std::vector<std::string> ofTheRawGrid = {
        "GetSceneWidth",      "GetSceneHeight",   "GetXPixelSize",   "GetYPixelSize", "GetUpperLeftCornerNorthing",
        "GetUpperLeftCornerEasting", "GetMapProjection", "GetMapDirection", "IsGeocoded"};
    queries.erase(std::remove_if(queries.begin(), queries.end(),
                                 [&](const auto& item) {
                                     return std::find(ofTheRawGrid.begin(), ofTheRawGrid.end(), item.first) !=
                                            ofTheRawGrid.end();
                                 }),
                  queries.end());
}

/// How a warp places the raster on heights: the heights, what they are in
/// words, and the footprint they give (GeoJSON text).
struct HeightPlacement {
    WarpHeights heights;
    std::string words;
    std::string footprint;
};

/// Tile-rows of the bands, read with the library's multi-row reads (few
/// large reads per image file), as digital numbers or (`radiance`) as
/// Float32 radiance, DN 0 (dummy pixels, fill) none.
class RowReader {
public:
    /// `seen` (when given) is shown the digital numbers of every band read,
    /// each band once however often `bands` names it.
    RowReader(Product& product, const std::vector<int>& bands, bool radiance, RowsSeen seen = {})
        : product_(product), bands_(bands), radiance_(radiance), seen_(std::move(seen)) {
        if (!radiance) return;
        for (int b : bands) {
            const alosjdescribe::BandMeaning& meaning = product.Description().Bands()[b];
            std::array<float, 256> table;
            table[0] = std::numeric_limits<float>::quiet_NaN();
            for (int dn = 1; dn < 256; ++dn) table[dn] = static_cast<float>(meaning.gain * dn + meaning.offset);
            radianceOf_.push_back(table);
        }
    }
    GDALDataType Type() const { return radiance_ ? GDT_Float32 : GDT_Byte; }
    size_t PixelBytes() const { return radiance_ ? sizeof(float) : 1; }
    /// What stands for no data: 0, or NaN radiance.
    double NoData() const { return radiance_ ? std::numeric_limits<double>::quiet_NaN() : 0.0; }

    /// Rows top to top + rows - 1 of every band, band after band, into
    /// `into` (rows × width × PixelBytes() bytes a band).  A failed read is
    /// a Failure naming the product.
    void Read(long top, long rows, void* into) {
        if (warped_) {
            const int width = warped_->GetRasterXSize();
            if (warped_->RasterIO(GF_Read, 0, static_cast<int>(top), width, static_cast<int>(rows), into, width,
                                  static_cast<int>(rows), GDT_Byte, static_cast<int>(bands_.size()), nullptr, 0, 0, 0,
                                  nullptr) != CE_None)
                throw Failure(kExitFailure, "cannot read the warped raster again: " + GdalSession::LastError());
            return;
        }
        const size_t plane = static_cast<size_t>(product_.Width()) * static_cast<size_t>(rows);
        bytes_.resize(plane * bands_.size());
        unsigned char* numbers = radiance_ ? bytes_.data() : static_cast<unsigned char*>(into);
        for (size_t k = 0; k < bands_.size(); ++k)
            product_.Dataset().GetRows(bands_[k], static_cast<unsigned long>(top), static_cast<unsigned long>(rows),
                                       numbers + k * plane);
        product_.CheckReports("reading rows " + std::to_string(top) + " to " + std::to_string(top + rows - 1));
        if (seen_)
            for (size_t k = 0; k < bands_.size(); ++k)
                if (std::find(bands_.begin(), bands_.begin() + static_cast<long>(k), bands_[k]) ==
                    bands_.begin() + static_cast<long>(k))
                    seen_(bands_[k], top, rows, numbers + k * plane);
        if (!radiance_) return;
        float* values = static_cast<float*>(into);
        for (size_t k = 0; k < bands_.size(); ++k) {
            const std::array<float, 256>& table = radianceOf_[k];
            for (size_t i = k * plane; i < (k + 1) * plane; ++i) values[i] = table[numbers[i]];
        }
    }

    /// Reads the rows from `warped` (digital numbers warped onto a grid, the
    /// bands in order) instead of the product.
    void ReadWarped(GDALDataset* warped) { warped_ = warped; }

private:
    Product& product_;
    std::vector<int> bands_;
    bool radiance_;
    RowsSeen seen_;
    GDALDataset* warped_ = nullptr;
    std::vector<std::array<float, 256>> radianceOf_;
    std::vector<unsigned char> bytes_;
};

/// Writes `rows` rows from `top` of every band, as RowReader::Read gives
/// them, into `out` and has GDAL compress and write the complete tiles.
void WriteRows(GDALDataset& out, const RowReader& reader, long top, long rows, void* data, const std::string& path) {
    const int width = out.GetRasterXSize(), count = out.GetRasterCount();
    const GSpacing pixel = static_cast<GSpacing>(reader.PixelBytes());
    if (out.RasterIO(GF_Write, 0, static_cast<int>(top), width, static_cast<int>(rows), data, width,
                     static_cast<int>(rows), reader.Type(), count, nullptr, pixel, pixel * width,
                     pixel * width * rows, nullptr) != CE_None)
        throw Failure(kExitFailure, path + ": cannot write: " + GdalSession::LastError());
    CPLErrorReset();
    out.FlushCache(false);
    if (CPLGetLastErrorType() >= CE_Failure)
        throw Failure(kExitFailure, path + ": cannot write: " + GdalSession::LastError());
}

/// Closes `out`, which writes its directory; a failure names `path`.
void Close(std::unique_ptr<GDALDataset, GdalDatasetCloser>& out, const std::string& path) {
    CPLErrorReset();
    out.reset();
    if (CPLGetLastErrorType() >= CE_Failure)
        throw Failure(kExitFailure, path + ": cannot finish writing: " + GdalSession::LastError());
}

/// A new GeoTIFF at path, `width` × `height`, with the bands' placement,
/// metadata and meaning as the GDAL driver gives them: the raster as the
/// product has it, or (`grid`) warped onto a map grid, on `placement`'s
/// heights when given.
std::unique_ptr<GDALDataset, GdalDatasetCloser> CreateDescribed(
    Product& product, const std::vector<int>& bands, const std::string& path, CPLStringList& creation,
    bool radiance, const WarpGrid* grid, const std::string& resampling, const HeightPlacement* placement) {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver) throw Failure(kExitFailure, "GDAL has no GTiff driver");
    const long width = grid ? grid->width : product.Width(), height = grid ? grid->height : product.Height();
    const int count = static_cast<int>(bands.size());
    std::unique_ptr<GDALDataset, GdalDatasetCloser> out(driver->Create(
        path.c_str(), static_cast<int>(width), static_cast<int>(height), count, radiance ? GDT_Float32 : GDT_Byte,
        creation.List()));
    if (!out) throw Failure(kExitFailure, path + ": cannot create: " + GdalSession::LastError());

    const alosjdescribe::ProductDescription& description = product.Description();
    if (grid) {
        double geoTransform[6];
        std::copy(grid->geoTransform, grid->geoTransform + 6, geoTransform);
        if (out->SetSpatialRef(&grid->crs) != CE_None || out->SetGeoTransform(geoTransform) != CE_None)
            throw Failure(kExitFailure, "cannot georeference the output: " + GdalSession::LastError());
    } else {
        Georeference(*out, description.GetPlacement());
    }
    alosjdescribe::MetadataItems metadata = description.Metadata(), queries = description.Queries();
    if (grid) {
        DescribeWarped(*grid, resampling, placement ? placement->words : "", placement ? placement->footprint : "",
                       metadata, queries);
    } else {
        // The raster as the product has it: beside its GCPs, the RPC model
        // of its first band (GDAL writes it into the GeoTIFF), and its
        // residuals.
        const CeosAlosjRpcFit fit = description.Rpc(description.RpcPerBand() ? bands.front() : 0);
        if (fit.offered) out->SetMetadata(ItemList(alosjdescribe::RpcMetadata(fit.rpc)).List(), alosjdescribe::kRpcDomain);
        for (const auto& item : alosjdescribe::RpcResidualItems(fit)) metadata.push_back(item);
    }
    out->SetMetadata(ItemList(metadata).List());
    out->SetMetadata(ItemList(queries).List(), alosjdescribe::kQueryDomain);
    out->SetMetadata(ItemList(description.Imagery()).List(), alosjdescribe::kImageryDomain);
    for (int k = 0; k < count; ++k) {
        GDALRasterBand* band = out->GetRasterBand(k + 1);
        const alosjdescribe::BandMeaning& meaning = description.Bands()[bands[k]];
        band->SetDescription(meaning.description.c_str());
        band->SetColorInterpretation(meaning.colour);
        alosjdescribe::MetadataItems bandItems = description.BandMetadata(bands[k]);
        // Bands whose RPC models are their own tell their residuals, as the driver's do.
        if (!grid && description.RpcPerBand())
            for (const auto& item : alosjdescribe::RpcResidualItems(description.Rpc(bands[k])))
                bandItems.push_back(item);
        band->SetMetadata(ItemList(bandItems).List());
        band->SetMetadata(ItemList(description.BandImagery(bands[k])).List(), alosjdescribe::kImageryDomain);
        if (radiance) {
            band->SetNoDataValue(std::numeric_limits<double>::quiet_NaN());
            band->SetUnitType(alosjdescribe::kRadianceUnit);
        } else {
            band->SetNoDataValue(0);  // dummy pixels and fill
            // Levels 1B1 and 1B2: scale and offset give radiance from the DN.
            if (meaning.calibrated) {
                band->SetScale(meaning.gain);
                band->SetOffset(meaning.offset);
                band->SetUnitType(alosjdescribe::kRadianceUnit);
            }
        }
    }
    return out;
}

/// Writes the raster into a new GeoTIFF at path (CreateDescribed);
/// progress runs from 0 to `share`.  The result: output pixels the DEM gave
/// no height.  Without `grid`, `seen` is shown the rows read (RowReader).
long StreamGeoTiff(Product& product, const std::vector<int>& bands, const std::string& path,
                   CPLStringList& creation, bool radiance, const WarpGrid* grid, const std::string& resampling,
                   const HeightPlacement* placement, ProgressBar& bar, double share, const RowsSeen& seen) {
    std::unique_ptr<GDALDataset, GdalDatasetCloser> out =
        CreateDescribed(product, bands, path, creation, radiance, grid, resampling, placement);
    if (grid) {
        const long uncovered =
            WarpInto(product, bands, *grid, *out, resampling, bar, 0.0, share, placement ? &placement->heights : nullptr);
        Close(out, path);
        return uncovered;
    }

    // A tile-row of every band at a time goes to GDAL, which compresses and
    // writes the tiles when it is flushed: memory stays at one tile-row per
    // band of our own plus the same in GDAL's cache.
    RowReader reader(product, bands, radiance, seen);
    const long width = product.Width(), height = product.Height();
    std::vector<unsigned char> buffer(static_cast<size_t>(width) * std::min<long>(kTileSize, height) * bands.size() *
                                      reader.PixelBytes());
    for (long top = 0; top < height; top += kTileSize) {
        const long rows = std::min<long>(kTileSize, height - top);
        reader.Read(top, rows, buffer.data());
        WriteRows(*out, reader, top, rows, buffer.data(), path);
        bar.Update(share * static_cast<double>(top + rows) / static_cast<double>(height));
    }
    Close(out, path);
    return 0;
}

/// Tiles of a COG, and the rows read at a time to write them.
constexpr int kCogTileSize = 512;

/// An overview being written: its tiles, how it is reduced from the next
/// larger level, and its reduced rows not yet written.
template <class T>
struct OverviewLevel {
    CogTiles* out;
    AverageReduction<T> reduction;
    std::vector<T> pending;
    long written = 0;
};

/// Reduces `count` rows of the full resolution, band after band as
/// RowReader::Read gives them, into every overview in turn, each level from
/// the one before as GDAL's COG driver does; the reduced rows wait in the
/// levels' `pending`.
template <class T>
void ReduceRows(std::vector<OverviewLevel<T>>& levels, const T* rows, long count, int bands, int width) {
    // Band after band becomes row after row, each row band after band.
    std::vector<T> given, made;
    if (bands > 1) {
        given.resize(static_cast<size_t>(count) * width * bands);
        for (long r = 0; r < count; ++r)
            for (int k = 0; k < bands; ++k)
                std::copy_n(rows + (k * static_cast<size_t>(count) + r) * width, width,
                            given.data() + (r * bands + k) * static_cast<size_t>(width));
        rows = given.data();
    }
    for (OverviewLevel<T>& level : levels) {
        made.clear();
        count = level.reduction.Push(rows, count, made);
        if (count == 0) break;
        level.pending.insert(level.pending.end(), made.begin(), made.end());
        // The rows this level makes are the next level's to reduce.
        made.swap(given);
        rows = given.data();
    }
}

/// Compresses the overviews' pending rows that make whole tile-rows, or
/// complete the level; the rest wait.
template <class T>
void WritePending(std::vector<OverviewLevel<T>>& levels) {
    for (OverviewLevel<T>& level : levels) {
        const size_t rowValues =
            static_cast<size_t>(level.reduction.Bands()) * static_cast<size_t>(level.reduction.Width());
        const long pending = static_cast<long>(level.pending.size() / rowValues);
        const long rows = level.written + pending == level.reduction.Height() ? pending
                                                                              : pending / kCogTileSize * kCogTileSize;
        if (rows == 0) continue;
        const size_t band = sizeof(T) * static_cast<size_t>(level.reduction.Width());
        level.out->Append(static_cast<int>(rows), {level.pending.data(), band * level.reduction.Bands(), band});
        level.written += rows;
        level.pending.erase(level.pending.begin(),
                            level.pending.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(rows) * rowValues));
    }
}

/// Reads the raster a tile-row at a time on this thread (the product's
/// reports are collected here) while one worker compresses the tile-row
/// before into `full` and another reduces it into the overviews
/// (ReduceRows), whose rows are compressed a tile-row at a time.
template <class T>
void StreamLevels(RowReader& reader, CogTiles& full, const std::vector<CogTiles*>& overviews, int bands,
                  ProgressBar& bar, double from, double to) {
    const int width = full.Width(), height = full.Height();
    std::vector<OverviewLevel<T>> levels;
    for (size_t i = 0; i < overviews.size(); ++i) {
        const int fromWidth = i == 0 ? width : overviews[i - 1]->Width();
        const int fromHeight = i == 0 ? height : overviews[i - 1]->Height();
        levels.push_back({overviews[i],
                          AverageReduction<T>(bands, fromWidth, fromHeight, overviews[i]->Width(),
                                              overviews[i]->Height()),
                          {}, 0});
    }
    const size_t tileRow = static_cast<size_t>(width) * kCogTileSize * static_cast<size_t>(bands);
    std::array<std::vector<T>, 2> buffers = {std::vector<T>(tileRow), std::vector<T>(tileRow)};
    // Declared last: on the way out, the workers are waited for before what they use goes.
    std::future<void> compressing, reducing;
    auto finish = [&] {
        if (compressing.valid()) compressing.get();
        if (reducing.valid()) reducing.get();
    };
    for (long top = 0, turn = 0; top < height; top += kCogTileSize, turn ^= 1) {
        const long rows = std::min<long>(kCogTileSize, height - top);
        T* buffer = buffers[turn].data();
        reader.Read(top, rows, buffer);
        finish();  // the tile-row before: its buffer is read into next
        compressing = std::async(std::launch::async, [&full, buffer, rows] {
            CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);  // as GdalSession does on the main thread
            const size_t line = sizeof(T) * static_cast<size_t>(full.Width());
            full.Append(static_cast<int>(rows), {buffer, line, line * static_cast<size_t>(rows)});
        });
        if (!levels.empty())
            reducing = std::async(std::launch::async, [&levels, buffer, rows, bands, width] {
                CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
                ReduceRows(levels, buffer, rows, bands, width);
                WritePending(levels);
            });
        bar.Update(from + (to - from) * static_cast<double>(top + rows) / height);
    }
    finish();
}

/// A raster warped onto a grid and written (StreamGeoTiff), to be read
/// again for a COG.
struct WarpedRows {
    GDALDataset* dataset;
    const WarpGrid* grid;
    std::string resampling;
    const HeightPlacement* placement;
};

/// A GDAL in-memory file, removed when done with.
struct MemoryFile {
    explicit MemoryFile(std::string name) : path(std::move(name)) {}
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile() { VSIUnlink(path.c_str()); }
    const std::string path;
};

/// Writes the raster as a COG at `path` in one pass over its rows: each
/// tile-row is read once, compressed into the full resolution's tiles and
/// reduced into the overviews' (AverageReduction, the averages GDAL's COG
/// driver makes), each level's tiles in a file beside the output
/// (CogTiles), their tags from GeoTIFFs without tiles in memory
/// (CreateDescribed); then they are laid out as a COG (LayOutCog), the full
/// resolution's tiles staying where they are where the file system allows.
/// Temporaries are removed on every path.  `seen` is shown the product's
/// rows read (RowReader); the rows of a warped raster are not the product's.
void StreamCog(Product& product, const std::vector<int>& bands, const std::string& path, const std::string& output,
               CPLStringList& creation, bool radiance, ProgressBar& bar, const RowsSeen& seen,
               const WarpedRows* warped) {
    RowReader reader(product, bands, radiance, seen);
    if (warped) reader.ReadWarped(warped->dataset);
    const long width = warped ? warped->grid->width : product.Width();
    const long height = warped ? warped->grid->height : product.Height();
    const int count = static_cast<int>(bands.size());
    // The levels' sizes as GDAL's COG driver makes them: halved until one
    // tile holds the smallest.
    std::vector<std::pair<int, int>> sizes = {{static_cast<int>(width), static_cast<int>(height)}};
    for (long w = width, h = height; w > kCogTileSize || h > kCogTileSize;) {
        w = std::max(1L, w / 2);
        h = std::max(1L, h / 2);
        sizes.emplace_back(static_cast<int>(w), static_cast<int>(h));
    }
    // Every level in classic TIFF, unless together they might pass 4 GB.
    double bytes = 0;
    for (const auto& [w, h] : sizes) bytes += static_cast<double>(w) * h * static_cast<double>(bands.size() * reader.PixelBytes());
    creation.SetNameValue("BIGTIFF", bytes > 4.0e9 ? "YES" : "NO");

    // Each level's tags, from a GeoTIFF in memory with no tile written.
    CPLStringList tagged(creation);
    tagged.SetNameValue("SPARSE_OK", "YES");
    tagged.SetNameValue("NUM_THREADS", nullptr);
    std::vector<std::unique_ptr<MemoryFile>> tags;
    std::vector<std::unique_ptr<OutputFile>> files;
    std::vector<std::unique_ptr<CogTiles>> tiles;
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    for (size_t i = 0; i < sizes.size(); ++i) {
        const auto [w, h] = sizes[i];
        char name[96];
        std::snprintf(name, sizeof name, "/vsimem/alosj-cog-%p-%zu.tif", static_cast<void*>(&tags), i);
        tags.push_back(std::make_unique<MemoryFile>(name));
        std::unique_ptr<GDALDataset, GdalDatasetCloser> level =
            i == 0 ? (warped ? CreateDescribed(product, bands, name, tagged, radiance, warped->grid, warped->resampling,
                                               warped->placement)
                             : CreateDescribed(product, bands, name, tagged, radiance, nullptr, "", nullptr))
                   : std::unique_ptr<GDALDataset, GdalDatasetCloser>(
                         driver->Create(name, w, h, count, reader.Type(), tagged.List()));
        if (!level) throw Failure(kExitFailure, output + ": cannot create an overview: " + GdalSession::LastError());
        Close(level, output);
        files.push_back(std::make_unique<OutputFile>(CreateUniqueFileBeside(output, ".tif")));
        tiles.push_back(std::make_unique<CogTiles>(files.back()->path(), w, h, count, reader.Type(), creation, output));
    }
    std::vector<CogTiles*> overviews;
    for (size_t i = 1; i < tiles.size(); ++i) overviews.push_back(tiles[i].get());
    const double from = warped ? 0.5 : 0.0;
    if (radiance)
        StreamLevels<float>(reader, *tiles[0], overviews, count, bar, from, 0.95);
    else
        StreamLevels<unsigned char>(reader, *tiles[0], overviews, count, bar, from, 0.95);
    std::vector<CogLevelParts> levels;
    for (size_t i = 0; i < tiles.size(); ++i) {
        tiles[i]->Close();
        levels.push_back({tags[i]->path, tiles[i].get()});
    }
    if (LayOutCog(levels, path, output)) files[0]->Keep();  // the full resolution's file became the COG
    bar.Update(1.0);
}

/// Rows of each shown band read for the style's stretch, spread over the scene.
constexpr long kStretchRows = 512;

/// The bands (1-based, of the output) a QGIS style shows as red, green and
/// blue: those whose colour they are (AVNIR-2 3, 2, 1), else the first three
/// bands in order (4, 3, 2 gives the usual false colour); one band, grey,
/// when fewer than three are written.
std::vector<int> ShownBands(const alosjdescribe::ProductDescription& description, const std::vector<int>& bands) {
    std::vector<int> shown;
    for (size_t k : ColourPositions(description, bands)) shown.push_back(static_cast<int>(k) + 1);
    if (!shown.empty()) return shown;
    if (bands.size() >= 3) return {1, 2, 3};
    return {1};
}

/// The rows of the bands a QGIS style shows that its stretch counts:
/// kStretchRows rows spread over the scene, taken from a pass over the
/// rows (Push) or read for the style alone (ReadRows).
class StretchRows {
public:
    StretchRows(Product& product, const std::vector<int>& bands)
        : shown_(ShownBands(product.Description(), bands)), histograms_(shown_.size(), DigitalNumberHistogram()),
          step_(std::max(1L, product.Height() / kStretchRows)), width_(product.Width()) {
        for (int k : shown_) bands_.push_back(bands[static_cast<size_t>(k) - 1]);
    }
    /// The bands shown (1-based, of the output).
    const std::vector<int>& Shown() const { return shown_; }

    void Push(int band, long top, long rows, const unsigned char* data) {
        for (size_t k = 0; k < bands_.size(); ++k) {
            if (bands_[k] != band) continue;
            for (long r = FirstCounted(top); r < top + rows; r += step_) {
                const unsigned char* row = data + static_cast<size_t>(r - top) * static_cast<size_t>(width_);
                for (long c = 0; c < width_; ++c) ++histograms_[k].counts[row[c]];
            }
        }
    }
    void ReadRows(Product& product) {
        std::vector<unsigned char> row(static_cast<size_t>(width_));
        for (size_t k = 0; k < bands_.size(); ++k)
            for (long r = step_ / 2; r < product.Height(); r += step_) {
                unsigned char* data = row.data();
                product.Dataset().GetRow(bands_[k], static_cast<unsigned long>(r), 0, &data);
                for (unsigned char v : row) ++histograms_[k].counts[v];
            }
        product.CheckReports("reading rows for the display stretch");
    }
    DisplayStretch Stretch() const { return StretchOf(histograms_, kColourBalance); }

private:
    /// The first row counted from `top` on: step / 2, step / 2 + step, ...
    long FirstCounted(long top) const {
        const long first = step_ / 2;
        return top <= first ? first : first + (top - first + step_ - 1) / step_ * step_;
    }
    std::vector<int> shown_;
    std::vector<int> bands_;  // the product's bands shown
    std::vector<ValueHistogram> histograms_;  // of the digital numbers
    long step_, width_;
};

/// The QGIS layer style (.qml) of the output: QGIS puts bands 1, 2, 3 on
/// red, green and blue whatever their colours, so the style says which band
/// is which, stretched as the quicklook stretches (StretchOf), from the
/// digital numbers of rows spread over the scene (StretchRows).  Values
/// above the stretch (the saturated ones) QGIS draws white.
std::string QgisStyle(Product& product, const std::vector<int>& bands, bool radiance, const StretchRows& rows) {
    const alosjdescribe::ProductDescription& description = product.Description();
    const std::vector<int>& shown = rows.Shown();
    const DisplayStretch stretch = rows.Stretch();

    auto number = [](double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", value);
        return std::string(text);
    };
    // The stretch in the values QGIS shows: the digital numbers, or their
    // radiance where the band is radiance or has the scale and offset that
    // give it (QGIS applies them).
    auto enhancement = [&](const char* element, size_t k) {
        const alosjdescribe::BandMeaning& meaning = description.Bands()[bands[shown[k] - 1]];
        double minimum = stretch.low[k], maximum = stretch.high[k];
        if (radiance || meaning.calibrated) {
            minimum = meaning.gain * minimum + meaning.offset;
            maximum = meaning.gain * maximum + meaning.offset;
        }
        return std::string("      <") + element + ">\n        <minValue>" + number(minimum) +
               "</minValue>\n        <maxValue>" + number(maximum) +
               "</maxValue>\n        <algorithm>StretchToMinimumMaximum</algorithm>\n      </" + element + ">\n";
    };
    std::string renderer;
    if (shown.size() == 3) {
        renderer = "    <rasterrenderer type=\"multibandcolor\" redBand=\"" + std::to_string(shown[0]) +
                   "\" greenBand=\"" + std::to_string(shown[1]) + "\" blueBand=\"" + std::to_string(shown[2]) +
                   "\" alphaBand=\"-1\" opacity=\"1\" nodataColor=\"\">\n      <rasterTransparency/>\n" +
                   enhancement("redContrastEnhancement", 0) + enhancement("greenContrastEnhancement", 1) +
                   enhancement("blueContrastEnhancement", 2) + "    </rasterrenderer>\n";
    } else {
        renderer = "    <rasterrenderer type=\"singlebandgray\" grayBand=\"" + std::to_string(shown[0]) +
                   "\" gradient=\"BlackToWhite\" alphaBand=\"-1\" opacity=\"1\" nodataColor=\"\">\n"
                   "      <rasterTransparency/>\n" +
                   enhancement("contrastEnhancement", 0) + "    </rasterrenderer>\n";
    }
    // Where the stretch is not as usual, the style says so to whoever reads it.
    return QgisStyleDocument(renderer, stretch.note);
}

std::string Metres(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

/// Refuses --height and --dem for a product whose line-of-sight model
/// fails its checks, with the reason.
void CheckLineOfSight(Product& product, const std::vector<int>& bands, const std::string& option) {
    for (int band : bands) {
        CeosAlosjLineOfSight sight;
        const CeosAlosjSensorStatus status = product.Dataset().GetLineOfSight(
            band, product.Width() / 2.0, product.Height() / 2.0, &sight);
        if (status != ALOSJ_SENSOR_OK)
            throw Failure(kExitFailure, product.VolumePath() + ": " + option +
                                            " needs the line-of-sight model, which this product cannot give: " +
                                            SensorStatusText(status));
    }
}

/// Refuses what the output's name or the compression options would make
/// something else than asked for.
void CheckOutputOptions(const ExportOptions& options) {
    RefuseNonGeoTiffName(options.output, "alosj export");
    if (options.level == 0) return;
    const int most = options.compress == "DEFLATE" ? 12 : options.compress == "ZSTD" ? 22 : 0;
    if (most == 0)
        throw Failure(kExitUsage, "--level " + std::to_string(options.level) + ": --compress " + options.compress +
                                      " has no level (DEFLATE 1 to 12, ZSTD 1 to 22)");
    if (options.level < 1 || options.level > most)
        throw Failure(kExitUsage, "--level " + std::to_string(options.level) + ": " + options.compress +
                                      " levels run from 1 to " + std::to_string(most));
}

/// The lock every export to `output` holds: one for the exports named like
/// it (scene.alosj-lock for scene.tif, scene.tiff and their style scene.qml).
std::string ExportLockPath(const std::string& output) {
    const std::filesystem::path path(output);
    return (path.parent_path() / path.stem()).string() + kLockSuffix;
}

/// Removes what a killed export to `output` left, under its lock
/// (ExportLockPath).  Temporaries in a directory an alosj convert is writing
/// (its lock held beside the directory) are that conversion's own: they are
/// left alone.
void ClearLeftovers(const std::string& output) {
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::absolute(output, error).parent_path();
    const std::string conversionLock = directory.string() + kLockSuffix;
    if (std::filesystem::exists(conversionLock, error) && !FileLock(conversionLock, "", false).Held()) return;
    for (const std::string& written : {output, StylePath(output)}) RemoveStaleTemporariesOf(written);
}

}  // namespace

std::string ExportProduct(Product& product, const ExportOptions& options, const RowsSeen& seen) {
    CheckOutputOptions(options);
    const std::string stylePath = StylePath(options.output);
    if (product.Dataset().GetNumOfBytesPerPixel() != 1)
        throw Failure(kExitFailure, product.VolumePath() + ": " +
                                        std::to_string(product.Dataset().GetNumOfBytesPerPixel()) +
                                        " bytes per pixel; alosj exports products of one byte per pixel");
    const std::vector<int> bands = ParseBands(options.bands, product);
    if (options.radiance && !product.Description().Acquisition().radiometricallyCorrected)
        throw Failure(kExitUsage, "--radiance: " + product.VolumePath() + " is " + product.SensorName() +
                                      " Level " + product.LevelName() +
                                      ", which is not radiometrically corrected: its gains give no radiance "
                                      "(Levels 1B1 and 1B2 have radiance)");
    for (int b : bands) {
        const alosjdescribe::BandMeaning& meaning = product.Description().Bands()[b];
        if (options.radiance && !meaning.calibrated)
            throw Failure(kExitFailure, product.VolumePath() + ": band " + std::to_string(b + 1) +
                                            " has no usable calibration gain (" + meaning.calibrationProblem +
                                            "); no radiance can be made");
    }
    const Placement& placement = product.Description().GetPlacement();
    if (!placement.warning.empty() && !options.product.quiet)
        std::cerr << "alosj: warning: " << placement.warning << "\n";

    GdalSession gdal;
    const bool cog = options.format == "COG";
    const HeightChoice choice{options.height, options.heightValue, options.dem, options.demEllipsoidal};
    std::unique_ptr<Dem> dem;
    std::unique_ptr<HeightPlacement> onHeights;
    if (choice.Given()) {
        if (!options.warp)
            throw Failure(kExitUsage, std::string(choice.constant ? "--height" : "--dem") +
                                          " places a warped raster: give --warp too");
        CheckHeightChoice(choice);
        CheckLineOfSight(product, bands, choice.constant ? "--height" : "--dem");
        if (!choice.constant) dem = std::make_unique<Dem>(choice.dem, choice.ellipsoidal, "--dem " + choice.dem);
        onHeights = std::make_unique<HeightPlacement>();
        onHeights->heights.height = choice.constant ? choice.height : CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT;
        onHeights->heights.dem = dem.get();
        onHeights->heights.product = ProductOptions{product.VolumePath(), product.Ccd(), true};
        onHeights->words = dem ? "the DEM " + std::filesystem::path(choice.dem).filename().string() +
                                     ", heights above " + dem->Datum()
                               : Metres(choice.height) + " m above the ellipsoid";
        onHeights->footprint =
            Footprint(product.Dataset(), product.Width(), product.Height(), product.VolumePath(), &choice, dem.get())
                .dump();
    }
    std::unique_ptr<WarpGrid> grid;
    if (options.warp) {
        if (options.radiance) throw Failure(kExitUsage, "--radiance and --warp: warp the digital numbers, whose "
                                                        "scale and offset give radiance");
        OutlinePlacer place;
        if (onHeights)
            place = [&](double x, double y, std::vector<Place>& places) {
                return PlacesOfWarp(product.Dataset(), bands.front(), x, y, choice, dem.get(), places) ==
                       ALOSJ_SENSOR_OK;
            };
        grid = std::make_unique<WarpGrid>(PlanWarp(product, options.warpCrs, place));
    }

    ProgressBar bar("export", options.progress, options.product.quiet);
    // The output is written under a temporary name beside it and takes its
    // name only when complete.
    OutputFile output(CreateUniqueFileBeside(options.output, ".tif"));

    CPLStringList creation;
    creation.SetNameValue("TILED", "YES");
    creation.SetNameValue("BLOCKXSIZE", std::to_string(kTileSize).c_str());
    creation.SetNameValue("BLOCKYSIZE", std::to_string(kTileSize).c_str());
    const bool compressed = options.compress != "NONE";
    creation.SetNameValue("COMPRESS", options.compress.c_str());
    // Tiles are compressed on every core, at the fastest level unless
    // --level asks for a smaller file.
    creation.SetNameValue("NUM_THREADS", "ALL_CPUS");
    const std::string level = std::to_string(options.level > 0 ? options.level : 1);
    if (options.compress == "DEFLATE") creation.SetNameValue("ZLEVEL", level.c_str());
    if (options.compress == "ZSTD") creation.SetNameValue("ZSTD_LEVEL", level.c_str());
    creation.SetNameValue("BIGTIFF", "IF_SAFER");
    // Bands are samples of their own meaning, never RGB(A): without this,
    // four Byte bands become red, green, blue and alpha.
    creation.SetNameValue("PHOTOMETRIC", "MINISBLACK");
    // Horizontal differencing: of integers, or of floating point samples.
    if (compressed) creation.SetNameValue("PREDICTOR", options.radiance ? "3" : "2");
    long uncovered = 0;
    // The style's stretch counts rows of the pass over the raster's rows;
    // a warp, whose reads are the warper's, has them read for it.
    StretchRows stretchRows(product, bands);
    const RowsSeen seenAlso = [&](int band, long top, long rows, const unsigned char* data) {
        stretchRows.Push(band, top, rows, data);
        if (seen) seen(band, top, rows, data);
    };
    if (!cog) {
        uncovered = StreamGeoTiff(product, bands, output.path(), creation, options.radiance, grid.get(),
                                  options.resampling, onHeights.get(), bar, 1.0, seenAlso);
    } else {
        if (grid) {
            // A warp is written as a GeoTIFF first (the warper writes strips
            // as its threads finish them), then read again a tile-row at a
            // time into the COG as a product's rows are.
            OutputFile staging(CreateUniqueFileBeside(options.output, ".tif"));
            CPLStringList fast(creation);
            if (options.compress == "DEFLATE") fast.SetNameValue("ZLEVEL", "1");
            if (options.compress == "ZSTD") fast.SetNameValue("ZSTD_LEVEL", "1");
            uncovered = StreamGeoTiff(product, bands, staging.path(), fast, options.radiance, grid.get(),
                                      options.resampling, onHeights.get(), bar, 0.5, seenAlso);
            std::unique_ptr<GDALDataset, GdalDatasetCloser> warped(
                GDALDataset::Open(staging.path().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
            if (!warped) throw Failure(kExitFailure, options.output + ": cannot read the warped raster again: " +
                                                         GdalSession::LastError());
            const WarpedRows rows{warped.get(), grid.get(), options.resampling, onHeights.get()};
            creation.SetNameValue("BLOCKXSIZE", std::to_string(kCogTileSize).c_str());
            creation.SetNameValue("BLOCKYSIZE", std::to_string(kCogTileSize).c_str());
            StreamCog(product, bands, output.path(), options.output, creation, options.radiance, bar, seenAlso,
                      &rows);
        } else {
            creation.SetNameValue("BLOCKXSIZE", std::to_string(kCogTileSize).c_str());
            creation.SetNameValue("BLOCKYSIZE", std::to_string(kCogTileSize).c_str());
            StreamCog(product, bands, output.path(), options.output, creation, options.radiance, bar, seenAlso,
                      nullptr);
        }
    }
    if (grid) stretchRows.ReadRows(product);
    // The QGIS style beside it, written whole before either takes its name.
    OutputFile style(CreateUniqueFileBeside(stylePath, ".qml"));
    WriteTextInto(style.path(), QgisStyle(product, bands, options.radiance, stretchRows), stylePath);
    PublishOutput(output.path(), options.output, options.overwrite, "alosj export");
    output.Keep();
    PublishOutput(style.path(), stylePath, options.overwrite, "alosj export");
    style.Keep();
    bar.Finish();
    if (uncovered > 0 && !options.product.quiet)
        std::cerr << "alosj: warning: " << uncovered << " output pixel(s) lie where the DEM gives no height; "
                  << "they are placed at the ellipsoid (" << Metres(CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT) << " m)\n";
    const std::string note = stretchRows.Stretch().note;
    std::string placed = "not placed";
    if (placement.kind == Placement::Kind::GeoTransform) placed = placement.crsText;
    if (placement.kind == Placement::Kind::Gcps)
        placed = std::to_string(placement.gcps.size()) + " GCPs in " + placement.crsText;
    if (grid) placed = "warped onto " + grid->crsText + " by the processor's geolocation";
    if (onHeights) placed = "warped onto " + grid->crsText + " by the line-of-sight model on " + onHeights->words;
    return options.output + " (" + (cog ? "COG" : "GeoTIFF") + ", " +
           std::to_string(grid ? grid->width : product.Width()) + " x " +
           std::to_string(grid ? grid->height : product.Height()) + " pixels, " + std::to_string(bands.size()) +
           " band(s), " + placed + ") and its QGIS style " + stylePath +
           (note.empty() ? "" : " (" + note + ")");
}

int RunExport(const ExportOptions& options) {
    CheckOutputOptions(options);
    RefuseExistingOutputs({options.output, StylePath(options.output)}, options.overwrite, "alosj export");
    Product product(options.product);
    RefuseOutputInProduct(options.output, product);
    // One export at a time to an output: another is refused, and what a
    // killed one left is removed.
    std::optional<FileLock> locked;
    try {
        locked.emplace(ExportLockPath(options.output),
                       "alosj export of " + product.VolumePath() + " (process " + std::to_string(::getpid()) + ")",
                       false);
    } catch (const Failure& failure) {
        throw Failure(kExitFailure, options.output + ": cannot create a file beside it: " + failure.what());
    }
    const FileLock& lock = *locked;
    if (!lock.Held())
        throw Failure(kExitFailure, options.output + ": being written at this moment by another alosj export" +
                                        (lock.Holder().empty() ? "" : ", " + lock.Holder()) + "; not exported");
    ClearLeftovers(options.output);
    // Printed once it is done: a failure or a warning never follows "Wrote".
    const std::string wrote = ExportProduct(product, options, {});
    std::cout << "Wrote " << wrote << "\n";
    return 0;
}

}  // namespace alosj
