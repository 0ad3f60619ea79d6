// alosj info: what the dataset knows about a product, for a person or as JSON.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "tools/alosj/Product.h"

namespace alosj {

namespace {

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string LatLonText(const nlohmann::ordered_json& point) {
    const double lat = point["latitude"], lon = point["longitude"];
    return Format("%.6f", std::fabs(lat)) + (lat < 0 ? " S  " : " N  ") + Format("%.6f", std::fabs(lon)) +
           (lon < 0 ? " W" : " E");
}

void PrintHuman(const nlohmann::ordered_json& info, std::ostream& out) {
    auto row = [&](const char* label, const std::string& value) {
        char padded[24];
        std::snprintf(padded, sizeof padded, "%-20s", label);
        out << padded << value << "\n";
    };
    row("Product", info["volumeDirectoryFile"].get<std::string>());
    row("Sensor", info["sensor"].get<std::string>() + ", Level " + info["level"].get<std::string>() + ", " +
                      info["observationMode"]["name"].get<std::string>() + " (" +
                      info["observationMode"]["code"].get<std::string>() + ")" +
                      (info["ccd"].is_null() ? "" : ", CCD " + std::to_string(info["ccd"].get<long>()) + " only"));
    auto text = [](const nlohmann::ordered_json& value, const std::string& unit = "") {
        if (value.is_null()) return std::string("-");
        if (value.is_string()) return value.get<std::string>().empty() ? "-" : value.get<std::string>();
        return (value.is_number_float() ? Format("%g", value.get<double>()) : JsonText(value)) + unit;
    };
    const nlohmann::ordered_json& a = info["acquisition"];
    row("Product ID", text(a["productId"]) + ", scene " + text(a["sceneId"]) + ", RSP " + text(a["rspId"]));
    row("Scene start", text(info["sceneStartTime"]));
    row("Scene centre time", text(info["sceneCenterTime"]));
    row("Scene end", text(info["sceneEndTime"]));
    row("Orbit", text(a["orbitNumber"]) + ", " + text(a["orbitDirection"]));
    row("Off-nadir angle", text(a["offNadirAngle"], " deg") + "; orientation " + text(a["orientationAngle"], " deg") +
                               ", incidence " + text(a["incidenceAngle"], " deg"));
    row("Sun", "elevation " + text(a["sunElevation"], " deg") + ", azimuth " + text(a["sunAzimuth"], " deg"));
    row("Processing", text(a["processingCode"]) + "; resampling " + text(a["resamplingMethod"]) +
                          ", map projection " + text(a["mapProjectionMethod"]));
    row("Radiometry", a["radiometricallyCorrected"].get<bool>()
                          ? "radiance = gain x DN + offset, W m-2 sr-1 um-1"
                          : "not radiometrically corrected (Level 1A): the gains give no radiance");
    row("Image files", std::to_string(info["imageFiles"].size()));
    for (const auto& file : info["imageFiles"])
        out << "  " << std::filesystem::path(file["path"].get<std::string>()).filename().string() << "  "
            << file["bytes"].get<unsigned long long>() << " bytes\n";
    bool first = true;
    for (const auto& band : info["bands"]) {
        row(first ? "Bands" : "", band["layer"].get<std::string>() + "  " + band["description"].get<std::string>() +
                                      ", " + band["colorInterpretation"].get<std::string>() + "; centre " +
                                      text(band["centralWavelength"], " um") + ", width " +
                                      text(band["bandwidth"], " um") + "; gain " + text(band["gain"]) +
                                      ", offset " + text(band["offset"]));
        first = false;
    }
    row("Raster", std::to_string(info["width"].get<long>()) + " x " + std::to_string(info["height"].get<long>()) +
                      " pixels, " + std::to_string(info["layers"].size()) + " band(s), " +
                      info["pixelType"].get<std::string>() + ", " + std::to_string(info["bytesPerPixel"].get<long>()) +
                      " byte(s) per pixel");
    if (info["staggerShift"].get<long>() != 0)
        row("De-staggering", "odd pixels from " + std::to_string(info["staggerShift"].get<long>()) + " lines later");
    row("Geocoded", info["geocoded"].get<bool>() ? "yes" : "no");
    const std::string projection = info["mapProjection"].is_null() ? "none" : info["mapProjection"].get<std::string>();
    row("Map projection", projection);
    row("UTM zone", std::to_string(info["utmZone"].get<long>()) + " " + info["hemisphere"].get<std::string>());
    row("Pixel size", Format("%.3f", info["pixelSize"]["x"]) + " x " + Format("%.3f", info["pixelSize"]["y"]) + " m");
    row("Scene centre (UTM)", "E " + Format("%.3f", info["sceneCenterUtm"]["easting"]) + "  N " +
                                  Format("%.3f", info["sceneCenterUtm"]["northing"]));
    row("Projection centre", LatLonText(info["projectionCenter"]));
    if (info["upperLeftCorner"].is_null())
        row("Upper-left corner", "- (not map-projected)");
    else
        row("Upper-left corner", "E " + Format("%.3f", info["upperLeftCorner"]["easting"]) + "  N " +
                                     Format("%.3f", info["upperLeftCorner"]["northing"]) + " (corner of the pixel grid)");
    row("Corners", "upper left   " + LatLonText(info["corners"]["upperLeft"]));
    row("", "upper right  " + LatLonText(info["corners"]["upperRight"]));
    row("", "lower right  " + LatLonText(info["corners"]["lowerRight"]));
    row("", "lower left   " + LatLonText(info["corners"]["lowerLeft"]));
    row("Ellipsoid", info["ellipsoid"].get<std::string>());
    row("Map direction", info["mapDirection"].get<std::string>());
    const nlohmann::ordered_json& g = info["georeferencing"];
    if (g["method"] == "geotransform")
        row("GeoTIFF placement", g["crs"].get<std::string>() + ", geotransform from the upper-left corner");
    else if (g["method"] == "gcps" && g["gcps"].size() == 4)
        row("GeoTIFF placement", "the four corners as ground control points, " + g["crs"].get<std::string>());
    else if (g["method"] == "gcps")
        row("GeoTIFF placement", std::to_string(g["gcps"].size()) +
                                     " ground control points from the processor's geolocation, " +
                                     g["crs"].get<std::string>());
    else
        row("GeoTIFF placement", "none");
    if (!g["warning"].is_null()) row("", "note: " + g["warning"].get<std::string>());
}

}  // namespace

int RunInfo(const InfoOptions& options) {
    Product product(options.product);
    const nlohmann::ordered_json info = product.Info();
    if (options.json)
        std::cout << JsonText(info, 2) << "\n";
    else
        PrintHuman(info, std::cout);
    return 0;
}

}  // namespace alosj
