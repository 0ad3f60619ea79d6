// The sample product of `alosj sample`: a synthetic scene a person
// recognises, with realistic metadata.
//
// The landscape is modelled on the mouth of the Fuji River on Suruga Bay,
// Japan (UTM zone 54 north, GRS80): sea in the south with a turbid river
// plume and surf, a beach, the river's wide gravel bed with braided
// channels, a town grid with roads and a railway, rice paddies, vegetable
// fields, tea and greenhouses on the plain, forested hills rising to the
// north under a morning sun from the south-east, and at full size the snow-
// capped volcano 25 km to the north.  It is a function of ground position,
// rendered into each product's own geometry:
//   - Level 1A/1B1: sensor geometry, lines along a descending track rotated
//     10 degrees from north; PRISM's CCD files overlap by 32 pixels, AVNIR-2
//     odd detectors see each ground line a few lines later than even ones
//     (the files are staggered; de-staggering restores the scene);
//     Level 1A adds the uncalibrated detectors' gain and offset striping.
//   - Level 1B2: geocoded, a north-up UTM grid.
// Corner and centre coordinates, times, the orbit (state vectors of a
// circular orbit that passes over the scene at its centre time) and the
// attitude samples all agree with that geometry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

enum class SampleSize {
    Tiny,   // a few hundred pixels, for tests
    Small,  // a cut-out of some kilometres: written in seconds
    Full,   // the real size of the image files: PRISM 6 x 4992 pixels by 16000 lines, AVNIR-2 7100 by 7200
};

struct SampleOptions {
    Sensor sensor = Sensor::Prism;
    int level = 1;  // 0 Level 1A, 1 Level 1B1, 2 Level 1B2
    SampleSize size = SampleSize::Small;
};

/// Latitude/longitude (degrees) ↔ UTM (metres) on GRS80, Krüger's series
/// (sub-millimetre within a zone).
void GeographicToUtm(double latitude, double longitude, int zone, bool north, double& easting,
                     double& northing);
void UtmToGeographic(double easting, double northing, int zone, bool north, double& latitude,
                     double& longitude);

class SampleScene {
public:
    explicit SampleScene(const SampleOptions& options);

    /// Everything WriteProduct needs: files, metadata and the pixel content.
    const ProductRecipe& Product() const { return product_; }

    /// Size of the raster the reader assembles (after CCD stitching and
    /// de-staggering), and its band count (1 PRISM, 4 AVNIR-2).
    int Width() const;
    int Height() const;
    int Bands() const;

    /// Pixel (band from 0, column, row) of the raster the reader assembles.
    uint8_t RasterPixel(int band, long column, long row) const;

    /// UTM position of the centre of raster pixel (column, row).
    void PixelToUtm(double column, double row, double& easting, double& northing) const;
    /// Latitude and longitude of the centre of raster pixel (column, row).
    void PixelToGeographic(double column, double row, double& latitude, double& longitude) const;

    /// Where the sample lies, for messages ("Fuji River mouth, Suruga Bay, Japan").
    static const char* PlaceName();

    struct Geometry;

private:
    std::shared_ptr<const Geometry> geometry_;
    ProductRecipe product_;
};

}  // namespace ceoswriter
