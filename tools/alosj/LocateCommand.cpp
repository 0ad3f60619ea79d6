// alosj locate: the processor's geolocation of one position, raster to
// ground or ground to raster.
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "tools/alosj/Processing.h"
#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"

namespace alosj {

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

/// The position on a height or a DEM, by the line-of-sight model.
int LocateOnHeights(const LocateOptions& options, Product& product, bool fromPixel) {
    CeosAlosjDataset& d = product.Dataset();
    const int band = options.band - 1;
    GdalSession gdal;
    const HeightChoice choice{options.height, options.heightValue, options.dem, options.demEllipsoidal};
    CheckHeightChoice(choice);
    std::unique_ptr<Dem> dem;
    if (!choice.constant) dem = std::make_unique<Dem>(choice.dem, choice.ellipsoidal, "--dem " + choice.dem);
    SurfacePoint point;
    double pixel = 0, line = 0;
    CeosAlosjSensorStatus status;
    if (fromPixel) {
        pixel = options.pixel[0];
        line = options.pixel[1];
        status = PlaceOnSurface(d, band, pixel, line, choice, dem.get(), point);
    } else {
        point.latitude = options.latLon[0];
        point.longitude = options.latLon[1];
        point.height = choice.height;
        if (dem) {
            point.covered = dem->HeightAt(point.latitude, point.longitude, point.height);
            if (!point.covered) point.height = CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT;
        }
        status = d.LatLonHeightToPixel(band, point.latitude, point.longitude, point.height, &pixel, &line);
    }
    product.CheckReports("locating the position");
    const std::string where = fromPixel ? "position (" + Fixed(pixel, 3) + ", " + Fixed(line, 3) + ")"
                                        : "latitude " + Fixed(point.latitude, 7) + ", longitude " +
                                              Fixed(point.longitude, 7);
    if (status == ALOSJ_SENSOR_OUTSIDE)
        throw Failure(kExitFailure, product.VolumePath() + ": " + where + " lies outside the raster (" +
                                        std::to_string(product.Width()) + " x " + std::to_string(product.Height()) +
                                        " pixels)");
    if (status != ALOSJ_SENSOR_OK)
        throw Failure(kExitFailure, product.VolumePath() + ": " + where +
                                        " cannot be located by the line-of-sight model: " + SensorStatusText(status));
    const std::string source = !dem ? "height" : point.covered ? "dem" : "reference";
    const long file = d.GetImageFileIndexAt(band, pixel, line);
    const char* path = file >= 0 ? d.GetImageFileName(file) : nullptr;
    const std::string imageFile = path ? std::filesystem::path(path).filename().string() : "";
    if (options.json) {
        nlohmann::ordered_json out = {{"pixel", pixel},         {"line", line},
                                      {"latitude", point.latitude}, {"longitude", point.longitude},
                                      {"band", options.band},   {"image_file", imageFile},
                                      {"height", point.height}, {"height_source", source}};
        if (dem) out["height_datum"] = dem->Datum();
        if (dem && fromPixel) out["iterations"] = point.iterations;
        std::cout << JsonText(out, 2) << "\n";
        return 0;
    }
    const std::string said = source == "height"  ? "given"
                             : source == "dem"   ? "from the DEM, heights above " + dem->Datum()
                                                 : "the reference height: the DEM gives none there";
    std::cout << "pixel " << Fixed(pixel, 3) << ", line " << Fixed(line, 3) << " of band " << options.band << " ("
              << imageFile << "): latitude " << Fixed(point.latitude, 7) << ", longitude "
              << Fixed(point.longitude, 7) << ", at " << Fixed(point.height, 3) << " m above the ellipsoid (" << said
              << ")\n";
    return 0;
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
    if (options.height || !options.dem.empty()) return LocateOnHeights(options, product, fromPixel);

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
