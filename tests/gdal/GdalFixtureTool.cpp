// The fixture tool of the Python and command-line GDAL tests: it writes the
// test products and says, through the library alone, what GDAL should see.
//
//   ceosalosj_gdal_fixture names
//   ceosalosj_gdal_fixture product <name> <directory>   prints the volume directory path
//   ceosalosj_gdal_fixture rows <volume> <output> [ccd] every band's rows, band after band
//   ceosalosj_gdal_fixture describe <volume>            the library's answers as JSON
//   ceosalosj_gdal_fixture locate <volume> <band> <height> <x> <y> ...
//       [latitude, longitude] of each raster position (0, 0 the top-left
//       corner) at the height by the line-of-sight model, as JSON
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "GdalTestProducts.h"
#include "dataset/CeosAlosjDataset.h"

namespace {

std::unique_ptr<CeosAlosjDataset> OpenProduct(const std::string& volume, long ccd) {
    auto product = ccd > 0 ? std::make_unique<CeosAlosjDataset>(volume.c_str(), ccd)
                           : std::make_unique<CeosAlosjDataset>(volume.c_str());
    if (product->FileOpen(nullptr) < 0) return nullptr;
    product->FileRead();
    return product;
}

int Rows(const std::string& volume, const std::string& output, long ccd) {
    auto product = OpenProduct(volume, ccd);
    if (!product) return 1;
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    std::vector<unsigned char> row(static_cast<size_t>(product->GetSceneWidth()));
    for (long band = 0; band < product->GetNumOfLayers(); ++band)
        for (long r = 0; r < product->GetSceneHeight(); ++r) {
            unsigned char* data = row.data();
            product->GetRow(static_cast<int>(band), static_cast<unsigned long>(r), 0, &data);
            out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
        }
    product->FileClose();
    return out ? 0 : 1;
}

int Describe(const std::string& volume) {
    auto product = OpenProduct(volume, 0);
    if (!product) return 1;
    CeosAlosjDataset& p = *product;
    auto corner = [&](void (CeosAlosjDataset::*get)(double*, double*) const) {
        double lat = 0, lon = 0;
        (p.*get)(&lat, &lon);
        return nlohmann::json{lat, lon};
    };
    const char* projection = p.GetMapProjection();
    nlohmann::json description{
        {"sensor", p.GetSensorType()},
        {"level", p.GetProductLevel()},
        {"width", p.GetSceneWidth()},
        {"height", p.GetSceneHeight()},
        {"layers", p.GetNumOfLayers()},
        {"projection", projection ? projection : ""},
        {"geocoded", p.IsGeocoded() != 0},
        {"trueNorth", p.GetMapDirection() == CeosAlosjSummaryFile::MAP_DIRECTION_TRUE_NORTH},
        {"upperLeftEasting", p.GetUpperLeftCornerEasting()},
        {"upperLeftNorthing", p.GetUpperLeftCornerNorthing()},
        {"xPixelSize", p.GetXPixelSize()},
        {"yPixelSize", p.GetYPixelSize()},
        {"utmZone", p.GetUTMZoneNum()},
        {"utmHemisphere", p.GetUTMHemishpere()},
        {"corners",
         {{"UL", corner(&CeosAlosjDataset::GetULCornerLatLon)},
          {"UR", corner(&CeosAlosjDataset::GetURCornerLatLon)},
          {"LR", corner(&CeosAlosjDataset::GetLRCornerLatLon)},
          {"LL", corner(&CeosAlosjDataset::GetLLCornerLatLon)}}},
    };
    std::cout << description.dump(2) << "\n";
    product->FileClose();
    return 0;
}

int Locate(const std::vector<std::string>& args) {
    auto product = OpenProduct(args[1], 0);
    if (!product) return 1;
    const int band = std::atoi(args[2].c_str()) - 1;
    const double height = std::atof(args[3].c_str());
    nlohmann::json points = nlohmann::json::array();
    for (size_t k = 4; k + 1 < args.size(); k += 2) {
        double latitude = 0, longitude = 0;
        const CeosAlosjSensorStatus status = product->PixelHeightToLatLon(
            band, std::atof(args[k].c_str()), std::atof(args[k + 1].c_str()), height, &latitude, &longitude);
        if (status != ALOSJ_SENSOR_OK) {
            std::cerr << "position " << args[k] << " " << args[k + 1] << ": status " << status << "\n";
            return 1;
        }
        points.push_back({latitude, longitude});
    }
    std::cout << points.dump() << "\n";
    return 0;
}

int Usage() {
    std::cerr << "usage: ceosalosj_gdal_fixture names | product <name> <directory> | "
                 "rows <volume> <output> [ccd] | describe <volume> | locate <volume> <band> <height> <x> <y> ...\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "names") {
        for (const std::string& name : gdaltest::ProductNames()) std::cout << name << "\n";
        return 0;
    }
    if (args.size() == 3 && args[0] == "product") {
        bool known = false;
        const ceoswriter::ProductRecipe recipe = gdaltest::ProductByName(args[1], &known);
        if (!known) return Usage();
        std::cout << ceoswriter::WriteProduct(args[2], recipe).volume << "\n";
        return 0;
    }
    if ((args.size() == 3 || args.size() == 4) && args[0] == "rows")
        return Rows(args[1], args[2], args.size() == 4 ? std::atol(args[3].c_str()) : 0);
    if (args.size() == 2 && args[0] == "describe") return Describe(args[1]);
    if (args.size() >= 6 && args.size() % 2 == 0 && args[0] == "locate") return Locate(args);
    return Usage();
}
