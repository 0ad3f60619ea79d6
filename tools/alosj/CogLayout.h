// Lays tiled GeoTIFFs out as one cloud-optimised GeoTIFF, copying their
// compressed tiles as they are.
#pragma once

#include <string>
#include <vector>

namespace alosj {

/// Writes to `path` the cloud-optimised GeoTIFF whose full resolution is the
/// tiled GeoTIFF `levels[0]` (all its tags kept) and whose overviews are
/// `levels[1]`, ... (largest first): GDAL's ghost header (IFDs before the
/// data, row-major blocks, each block with its size before it and its last
/// four bytes repeated after it), every IFD, then the tiles of the smallest
/// overview first and those of the full resolution last.  The levels are
/// little-endian, each one image, all classic TIFF or all BigTIFF, written
/// alike (tile size, compression); their compressed tiles are copied, not
/// recompressed.  A failure names `name`.
void LayOutCog(const std::vector<std::string>& levels, const std::string& path, const std::string& name);

}  // namespace alosj
