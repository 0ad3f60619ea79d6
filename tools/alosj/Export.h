// alosj export as a call on a product already open, for the commands made
// of it (export, convert).
#pragma once

#include <string>

#include "tools/alosj/Cli.h"
#include "tools/alosj/Quicklook.h"

namespace alosj {

class Product;

/// Writes `product` as `options` ask (the raster as a GeoTIFF or COG, and
/// its QGIS style beside it), each under a temporary name renamed when
/// complete; an existing output is replaced only with options.overwrite.
/// Warnings go to stderr (unless quiet).  `seen` (when given) is shown the
/// digital numbers of every row of every band exported, each once, top to
/// bottom, as the pass over the raster reads them; a warp reads no such
/// pass and shows it none.  Returns what was written, e.g. "a.tif (COG,
/// 100 x 50 pixels, 1 band(s), ...) and its QGIS style a.qml".
std::string ExportProduct(Product& product, const ExportOptions& options, const RowsSeen& seen);

}  // namespace alosj
