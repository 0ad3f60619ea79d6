#include "tools/alosj/Georeferencing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace alosj {

namespace {

std::string Upper(const char* text) {
    std::string s = text ? text : "";
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

/// The ellipsoid for a PROJ string; GRS80 when the name is not one we know.
std::string ProjEllipsoid(const std::string& name) {
    if (Contains(name, "WGS") && Contains(name, "84")) return "WGS84";
    if (Contains(name, "BESSEL")) return "bessel";
    return "GRS80";
}

bool IsGrs80OrWgs84(const std::string& name) {
    return (Contains(name, "GRS") && Contains(name, "80")) || (Contains(name, "GRS") && Contains(name, "1980")) ||
           (Contains(name, "WGS") && Contains(name, "84"));
}

std::string Number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

void CornerGcps(CeosAlosjDataset& dataset, long width, long height, Georeferencing& g) {
    g.kind = Georeferencing::Kind::Gcps;
    g.epsg = 4326;
    g.crs = "EPSG:4326";
    const double right = width - 0.5, bottom = height - 0.5;
    double lat, lon;
    dataset.GetULCornerLatLon(&lat, &lon);
    g.gcps.push_back({0.5, 0.5, lon, lat});
    dataset.GetURCornerLatLon(&lat, &lon);
    g.gcps.push_back({right, 0.5, lon, lat});
    dataset.GetLRCornerLatLon(&lat, &lon);
    g.gcps.push_back({right, bottom, lon, lat});
    dataset.GetLLCornerLatLon(&lat, &lon);
    g.gcps.push_back({0.5, bottom, lon, lat});
}

}  // namespace

Georeferencing GeoreferencingOf(CeosAlosjDataset& dataset, long width, long height) {
    Georeferencing g;
    const std::string projection = dataset.GetMapProjection() ? dataset.GetMapProjection() : "";
    const std::string ellipsoid = Upper(dataset.GetEllipsoidName());
    const double xSize = dataset.GetXPixelSize(), ySize = dataset.GetYPixelSize();

    // Only a geocoded Level 1B2 product lies north up on its map grid: a
    // georeferenced one follows the orbit path, a true-north one is turned by
    // the meridian convergence, and the lower levels are not map-projected.
    // The others are placed by their four corners.
    const bool gridAligned = dataset.GetProductLevel() == 2 && dataset.IsGeocoded() == TMSC_TRUE &&
                             dataset.GetMapDirection() != CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH;
    if ((projection != "UTM" && projection != "PS") || !gridAligned) {
        CornerGcps(dataset, width, height, g);
        return g;
    }
    if (!(xSize > 0) || !(ySize > 0)) {
        CornerGcps(dataset, width, height, g);
        g.warning = "pixel sizes " + Number(xSize) + " x " + Number(ySize) +
                    " m are not usable; the corners are given as ground control points";
        return g;
    }
    if (projection == "UTM") {
        const long zone = dataset.GetUTMZoneNum();
        if (zone < 1 || zone > 60) {
            CornerGcps(dataset, width, height, g);
            g.warning = "UTM zone " + std::to_string(zone) +
                        " is not a zone; the corners are given as ground control points";
            return g;
        }
        const bool north = dataset.GetUTMHemishpere() == 1;
        g.epsg = (north ? 32600 : 32700) + static_cast<int>(zone);
        g.crs = "EPSG:" + std::to_string(g.epsg);
        if (!IsGrs80OrWgs84(ellipsoid))
            g.warning = "ellipsoid \"" + ellipsoid + "\" taken as WGS 84 for the UTM zone's EPSG code";
    } else {
        // Polar stereographic centred on the scene: the pole of its
        // hemisphere, true scale and central meridian at the projection centre.
        const double latitude = dataset.GetProjectionCenterLat();
        const double longitude = dataset.GetProjectionCenterLon();
        g.epsg = 0;
        g.crs = "+proj=stere +lat_0=" + std::string(latitude < 0 ? "-90" : "90") + " +lat_ts=" + Number(latitude) +
                " +lon_0=" + Number(longitude) + " +k=1 +x_0=0 +y_0=0 +ellps=" + ProjEllipsoid(ellipsoid) +
                " +units=m +no_defs";
    }
    g.kind = Georeferencing::Kind::GeoTransform;
    const double geoTransform[6] = {dataset.GetUpperLeftCornerEasting(), xSize, 0.0,
                                    dataset.GetUpperLeftCornerNorthing(), 0.0, -ySize};
    std::copy(geoTransform, geoTransform + 6, g.geoTransform);
    return g;
}

}  // namespace alosj
