#include "tools/alosj/QgisStyle.h"

#include <cstdio>
#include <filesystem>

namespace alosj {

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

}  // namespace

std::string StylePath(const std::string& output) {
    return std::filesystem::path(output).replace_extension(".qml").string();
}

std::string QgisStyleDocument(const std::string& renderer, const std::string& note) {
    return "<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n" +
           (note.empty() ? std::string() : "<!-- alosj: " + note + " -->\n") +
           "<qgis version=\"3.22.0\" styleCategories=\"Symbology\">\n"
           "  <pipe>\n" +
           renderer +
           "    <brightnesscontrast brightness=\"0\" contrast=\"0\" gamma=\"1\"/>\n"
           "    <huesaturation saturation=\"0\" grayscaleMode=\"0\" colorizeOn=\"0\"/>\n"
           "    <rasterresampler maxOversampling=\"2\"/>\n"
           "  </pipe>\n"
           "  <blendMode>0</blendMode>\n"
           "</qgis>\n";
}

std::string PseudocolorRenderer(const std::vector<ColourStop>& stops) {
    const std::string low = Number(stops.front().first), high = Number(stops.back().first);
    std::string items;
    for (const auto& [value, colour] : stops)
        items += "          <item alpha=\"255\" value=\"" + Number(value) + "\" label=\"" + Number(value) +
                 "\" color=\"" + colour + "\"/>\n";
    return "    <rasterrenderer type=\"singlebandpseudocolor\" band=\"1\" classificationMin=\"" + low +
           "\" classificationMax=\"" + high + "\" alphaBand=\"-1\" opacity=\"1\" nodataColor=\"\">\n"
           "      <rasterTransparency/>\n"
           "      <rastershader>\n"
           "        <colorrampshader colorRampType=\"INTERPOLATED\" classificationMode=\"1\" clip=\"0\" "
           "minimumValue=\"" + low + "\" maximumValue=\"" + high + "\">\n" +
           items +
           "        </colorrampshader>\n"
           "      </rastershader>\n"
           "    </rasterrenderer>\n";
}

std::string PalettedRenderer(const std::vector<std::pair<ColourStop, std::string>>& classes) {
    std::string entries;
    for (const auto& [stop, label] : classes)
        entries += "        <paletteEntry value=\"" + Number(stop.first) + "\" color=\"" + stop.second +
                   "\" alpha=\"255\" label=\"" + label + "\"/>\n";
    return "    <rasterrenderer type=\"paletted\" band=\"1\" alphaBand=\"-1\" opacity=\"1\" nodataColor=\"\">\n"
           "      <rasterTransparency/>\n"
           "      <colorPalette>\n" +
           entries +
           "      </colorPalette>\n"
           "    </rasterrenderer>\n";
}

}  // namespace alosj
