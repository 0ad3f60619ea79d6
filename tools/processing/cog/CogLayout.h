// Cloud-optimised GeoTIFFs laid out from compressed tiles: each level's
// tiles compressed a tile-row at a time and kept in a file of their own,
// then laid out in COG order, copied as they are, not recompressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>

namespace alosj::processing {

/// Rows of pixels in memory: row r (0 the first given) of band k starts
/// k × bandStride + r × lineStride bytes after `data`, its pixels side by
/// side.
struct RowsInMemory {
    const void* data;
    size_t lineStride;
    size_t bandStride;
};

/// The compressed tiles of one level of a COG, `width` × `height` pixels of
/// `bands` bands of `type` in tiles as `creation` has them (GeoTIFF
/// creation options: tiled, pixel-interleaved), written to the file at
/// `path` a tile-row at a time, one after another, each with its size
/// before it and its last four bytes repeated after it, as they lie in a
/// COG.  Bytes and Float32 in DEFLATE are compressed here, as libtiff
/// does with libdeflate (after its predictors, then in zlib's format);
/// every other kind by GDAL.  A failure names `name`.
class CogTiles {
public:
    CogTiles(std::string path, int width, int height, int bands, GDALDataType type, CPLStringList creation,
             std::string name);
    ~CogTiles();
    CogTiles(const CogTiles&) = delete;
    CogTiles& operator=(const CogTiles&) = delete;

    /// Compresses the next `rows` rows (whole tile-rows, or the rows left)
    /// on every core and appends their tiles.
    void Append(int rows, const RowsInMemory& pixels);
    /// Finishes the file once every row is in.
    void Close();

    const std::string& Path() const { return path_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Complete() const { return written_ == height_ && !file_; }
    /// Where each tile lies in the file (0 for none), and its size.
    const std::vector<uint64_t>& Offsets() const { return offsets_; }
    const std::vector<uint64_t>& Counts() const { return counts_; }
    uint64_t Bytes() const { return at_; }

private:
    /// Compresses the tiles with GDAL, through a GeoTIFF in memory.
    void AppendThroughGdal(int rows, const RowsInMemory& pixels);
    /// Compresses one tile-row's tiles here, as libtiff would.
    void AppendDeflated(int rows, const RowsInMemory& pixels);
    /// Appends one compressed tile (empty: a tile not written).
    void Put(const unsigned char* data, uint64_t count);

    std::string path_, name_, rowsPath_;
    int width_, height_, bands_;
    GDALDataType type_;
    CPLStringList creation_;
    std::FILE* file_;
    int tileWidth_ = 0, tileHeight_ = 0;
    int level_ = 0;             // libdeflate's level when compressed here, 0 when by GDAL
    // The TIFF predictor applied before DEFLATE here.
    static constexpr int kNoPredictor = 1, kHorizontal = 2, kFloatingPoint = 3;
    int predictor_ = kNoPredictor;
    int written_ = 0;
    uint64_t at_ = 0;
    std::vector<uint64_t> offsets_, counts_;
};

/// A level of a COG: a GeoTIFF whose IFD gives its tags (all but the
/// tiles' places; written by GDAL with SPARSE_OK and no tile, a GDAL file
/// name, /vsimem/ too), and its compressed tiles.
struct CogLevelParts {
    std::string tags;
    const CogTiles* tiles;
};

/// Writes to `path` the cloud-optimised GeoTIFF of `levels` (the full
/// resolution first, then the overviews, largest first): GDAL's ghost
/// header (IFDs before the data, row-major blocks, each block with its size
/// before it and its last four bytes repeated after it), every IFD, then
/// the tiles of the smallest overview first and those of the full
/// resolution last.  Where the file system can insert room at the start of
/// a file (Linux, ext4 and XFS), the full resolution's tile file gets the
/// rest written before its tiles and becomes `path`, its tiles never
/// copied (the result: true); elsewhere they are copied.  The tags'
/// GeoTIFFs are little-endian, all classic TIFF or all BigTIFF.  A failure
/// names `name`.
bool LayOutCog(const std::vector<CogLevelParts>& levels, const std::string& path, const std::string& name);

}  // namespace alosj::processing
