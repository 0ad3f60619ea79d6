// alosj locate: the processor's geolocation of one position, raster to
// ground or ground to raster.
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "tools/alosj/Product.h"

namespace alosj {

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

int RunLocate(const LocateOptions& options) {
    const bool fromPixel = options.pixel.size() == 2;
    if (fromPixel == (options.latLon.size() == 2))
        throw Failure(kExitUsage, "locate: give either --pixel X Y or --latlon LAT LON");
    Product product(options.product);
    CeosAlosjDataset& d = product.Dataset();
    if (options.band > product.Bands())
        throw Failure(kExitUsage, "--band " + std::to_string(options.band) + ": the product has " +
                                      std::to_string(product.Bands()) + " band(s)");
    const int band = options.band - 1;

    double pixel = 0, line = 0, latitude = 0, longitude = 0;
    CeosAlosjLocateStatus status;
    if (fromPixel) {
        pixel = options.pixel[0];
        line = options.pixel[1];
        status = d.PixelToLatLon(band, pixel, line, &latitude, &longitude);
    } else {
        latitude = options.latLon[0];
        longitude = options.latLon[1];
        status = d.LatLonToPixel(band, latitude, longitude, &pixel, &line);
    }
    product.CheckReports("locating the position");
    const std::string where = fromPixel ? "position (" + Fixed(pixel, 3) + ", " + Fixed(line, 3) + ")"
                                        : "latitude " + Fixed(latitude, 7) + ", longitude " + Fixed(longitude, 7);
    switch (status) {
        case ALOSJ_LOCATE_OK: break;
        case ALOSJ_LOCATE_OUTSIDE:
            throw Failure(kExitFailure, product.VolumePath() + ": " + where + " lies outside the raster (" +
                                            std::to_string(product.Width()) + " x " +
                                            std::to_string(product.Height()) + " pixels)");
        case ALOSJ_LOCATE_NO_POLYNOMIALS:
            throw Failure(kExitFailure, product.VolumePath() + ": band " + std::to_string(options.band) +
                                            " has no usable geolocation polynomials");
        case ALOSJ_LOCATE_NO_CONVERGENCE:
            throw Failure(kExitFailure, product.VolumePath() + ": " + where +
                                            ": the polynomials do not converge to a raster position");
        default: throw Failure(kExitUsage, product.VolumePath() + ": " + where + " cannot be located");
    }
    const long file = d.GetImageFileIndexAt(band, pixel, line);
    const char* path = file >= 0 ? d.GetImageFileName(file) : nullptr;
    const std::string imageFile = path ? std::filesystem::path(path).filename().string() : "";
    if (options.json) {
        const nlohmann::ordered_json out = {{"pixel", pixel},         {"line", line},
                                            {"latitude", latitude},   {"longitude", longitude},
                                            {"band", options.band},   {"image_file", imageFile}};
        std::cout << JsonText(out, 2) << "\n";
        return 0;
    }
    std::cout << "pixel " << Fixed(pixel, 3) << ", line " << Fixed(line, 3) << " of band " << options.band
              << " (" << imageFile << "): latitude " << Fixed(latitude, 7) << ", longitude " << Fixed(longitude, 7)
              << "\n";
    return 0;
}

}  // namespace alosj
