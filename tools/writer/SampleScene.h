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
// rendered into each product's own geometry by tracing each pixel's line of
// sight onto the relief (ellipsoidal height: the elevation above the EGM96
// geoid plus the geoid's undulation):
//   - Level 1A/1B1: sensor geometry of a pushbroom on a circular orbit
//     (691.65 km, 98.16 degrees inclination, descending), yaw-steered: each
//     detector looks along the view's angle ahead (PRISM nadir 0, forward
//     +23.8, backward -23.8 degrees) and across the track by its place in
//     the line (and AVNIR-2's pointing); a row is imaged one line period
//     after the one before; the view's centre ray meets the terrain at the
//     scene's centre.  Lines run along the track, turned 10 degrees from
//     north; PRISM's CCD files overlap by 32 pixels, AVNIR-2
//     odd detectors see each ground line a few lines later than even ones
//     (the files are staggered; de-staggering restores the scene);
//     Level 1A adds the uncalibrated detectors' gain and offset striping.
//   - Level 1B2: geocoded, a north-up UTM grid of positions on the
//     ellipsoid; each shows what the ray through it meets on the terrain.
// Corner and centre coordinates and the leader's polynomials (the rays'
// points on the ellipsoid, height 0), times, the orbit's state vectors and
// the attitude samples all agree with that geometry.
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

/// PRISM's three telescopes: nadir, 23.8 degrees ahead, 23.8 degrees behind.
enum class View { Nadir, Forward, Backward };

/// Where the scene is centred: the coast at the river mouth (full scenes
/// reach north towards the volcano), or the volcano's summit.
enum class Place { Coast, Volcano };

struct SampleOptions {
    Sensor sensor = Sensor::Prism;
    int level = 1;  // 0 Level 1A, 1 Level 1B1, 2 Level 1B2
    SampleSize size = SampleSize::Small;
    View view = View::Nadir;  // PRISM
    /// AVNIR-2's pointing across the track, degrees (-44 to 44), positive
    /// to the right of the direction of flight.
    double pointing = 0.0;
    Place place = Place::Coast;
    /// PRISM Level 1A/1B1: the CCD file (index from 0) whose rows are
    /// imaged laterCcdMicroseconds after the other files' rows of the same
    /// number, as its own image records' time tags say (-1: none); its
    /// pixels and polynomials show what it saw then.
    int laterCcd = -1;
    int laterCcdMicroseconds = 0;
};

/// A point by latitude, longitude (degrees, GRS80) and height (metres
/// above the ellipsoid).
struct GroundPoint {
    double latitude = 0.0;
    double longitude = 0.0;
    double height = 0.0;
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

    /// UTM position of the centre of raster pixel (column, row) on the
    /// ellipsoid (height 0): where its ray meets it, the leader polynomials'
    /// reference surface (Level 1B2: the grid position).
    void PixelToUtm(double column, double row, double& easting, double& northing) const;
    /// Latitude and longitude of the same point.
    void PixelToGeographic(double column, double row, double& latitude, double& longitude) const;

    // The truth of the geometry, for tests.  Raster positions are pixel
    // centres (column, row from 0), as above.

    /// The ground point that raster pixel (column, row) shows: where its
    /// ray first meets the terrain.
    GroundPoint PixelGround(double column, double row) const;
    /// The raster position at which the point (latitude, longitude, height
    /// above the ellipsoid) is seen, found by solving the geometry (a
    /// position outside the raster when the scene does not show it); false
    /// if no time near the scene's sees it.
    bool GroundToPixel(double latitude, double longitude, double height, double& column, double& row) const;
    /// The UTM rectangle (zone 54 north) holding every ground point the
    /// raster can show, from the ellipsoid up to the highest terrain.
    void CoverageUtm(double& minEasting, double& minNorthing, double& maxEasting, double& maxNorthing) const;
    /// The satellite's Earth-fixed position (metres) when it imaged raster
    /// pixel (column, row): when the CCD file giving the column imaged row
    /// `row` (Level 1B2: when it saw the pixel).
    void SatelliteAt(double column, double row, double position[3]) const;

    /// The terrain: its height above the EGM96 geoid (as a DEM gives it) at
    /// a UTM position (zone 54 north), the geoid's undulation (metres
    /// above the ellipsoid) and the terrain's height above the ellipsoid.
    static double HeightAboveGeoid(double easting, double northing);
    static double GeoidUndulation(double latitude, double longitude);
    static double EllipsoidalHeight(double latitude, double longitude);
    /// Landmarks on the terrain (heights above the ellipsoid): the
    /// volcano's summit, the apex of its cone (in its summit crater), and a
    /// point on the coastal plain west of the river.  Each is the centre of
    /// a survey target, a disc 20 m across that every band shows as DN 1.
    static GroundPoint Summit();
    static GroundPoint PlainPoint();
    static constexpr int kUtmZone = 54;

    /// Where the sample lies, for messages ("Fuji River mouth, Suruga Bay, Japan").
    static const char* PlaceName();

    struct Geometry;

private:
    std::shared_ptr<const Geometry> geometry_;
    ProductRecipe product_;
};

}  // namespace ceoswriter
