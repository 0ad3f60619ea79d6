// How an exported raster is placed on the Earth.
//
// Map products carry a coordinate reference system and a north-up
// geotransform from the upper-left corner of the pixel grid and the pixel
// sizes:
//   - UTM on GRS80 or WGS84: EPSG 326zz (north) or 327zz (south);
//   - polar stereographic: the pole of the scene's hemisphere, the central
//     meridian and the latitude of true scale at the projection centre (the
//     processor centres its polar stereographic projection on the scene).
// Products without a map projection carry their four corner coordinates as
// ground control points in geographic coordinates (EPSG:4326), at the
// centres of the corner pixels.
#pragma once

#include <string>
#include <vector>

#include "dataset/CeosAlosjDataset.h"

namespace alosj {

struct Georeferencing {
    enum class Kind { GeoTransform, Gcps };
    struct Gcp {
        double pixel, line;  // raster position, (0, 0) the upper-left corner of the first pixel
        double longitude, latitude;
    };

    Kind kind = Kind::Gcps;
    int epsg = 0;     // the CRS's EPSG code, 0 for a CRS without one
    std::string crs;  // "EPSG:32654" or a PROJ string
    double geoTransform[6] = {};
    std::vector<Gcp> gcps;
    std::string warning;  // why the placement may be approximate; empty when it is not
};

Georeferencing GeoreferencingOf(CeosAlosjDataset& dataset, long width, long height);

}  // namespace alosj
