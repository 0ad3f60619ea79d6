// QGIS layer styles (.qml) written beside rasters: QGIS applies the style
// named like a raster when it opens it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace alosj {

/// Where QGIS looks for a raster's style: beside it, named like it, .qml.
std::string StylePath(const std::string& output);

/// The style document around one `<rasterrenderer>` element (indented by
/// four spaces, ending with a newline), with a comment for whoever reads
/// it when `note` is not empty.
std::string QgisStyleDocument(const std::string& renderer, const std::string& note = "");

/// A colour (#rrggbb) at a value.
using ColourStop = std::pair<double, std::string>;

/// Band 1 as a colour ramp interpolated between the stops (ascending
/// values); nodata transparent, values beyond the ends in the ends' colours.
std::string PseudocolorRenderer(const std::vector<ColourStop>& stops);

/// Band 1 as classes: each value its colour and label; other values
/// (nodata among them) transparent.
std::string PalettedRenderer(const std::vector<std::pair<ColourStop, std::string>>& classes);

}  // namespace alosj
