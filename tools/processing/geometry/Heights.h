// The heights a product is placed on: one height for the scene, or a DEM.
//
// A DEM is any raster GDAL reads with a geotransform and a CRS.  Its values
// (after the band's scale and offset, in its unit: metres unless it says
// feet) are heights above the EGM96 geoid when its CRS has no vertical part (as
// SRTM, AW3D30 and the Copernicus DEMs are delivered), above what its
// vertical part says otherwise, or above the ellipsoid when the user says
// so (or its metadata HEIGHTS does, as alosj dsm's DSMs say it); PROJ turns them into heights above the ellipsoid (the geoid's grid,
// egm96_15.gtx, must be installed: PROJ is never allowed to leave the geoid
// out).  Heights between the DEM's pixel centres are bilinear; a point the
// DEM does not cover (outside it, or a nodata pixel among the four) has none;
// a DEM much finer than the grid it is read for is read averaged down to it.
#pragma once

#include <cmath>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "tools/processing/Gdal.h"

namespace alosj::processing {

/// What `--height H`, `--dem DEM` and `--dem-ellipsoidal` asked for.
struct HeightChoice {
    bool constant = false;  // --height
    double height = 0.0;    // metres above the ellipsoid
    std::string dem;        // --dem
    bool ellipsoidal = false;
    bool Given() const { return constant || !dem.empty(); }
};

/// Heights --height takes (metres above the ellipsoid): beyond them no
/// ground lies.
constexpr double kMostHeight = 100000.0;
/// Refuses (a usage error) a --height beyond ±kMostHeight.
void CheckHeightChoice(const HeightChoice& choice);

/// Heights above the geoid or another vertical datum → above the ellipsoid.
class VerticalShift;

/// A map grid's pixels: `geoTransform` in `crs`.
/// A CRS as WKT (empty when it has none).
std::string WktOf(const OGRSpatialReference& crs);

struct GridFrame {
    const OGRSpatialReference* crs = nullptr;
    const double* geoTransform = nullptr;
    int width = 0;
    int height = 0;
    std::string wkt;  // crs as WKT, made once: threads share the frame, never the CRS object
};

/// Heights (metres) a DEM may hold: values beyond are fill the DEM does not
/// flag (-32768, -3.4e38 …) and count as no height.
constexpr double kLowestDemHeight = -1000.0;
constexpr double kHighestDemHeight = 9000.0;
inline bool PlausibleDemHeight(double value) {
    return std::isfinite(value) && value >= kLowestDemHeight && value <= kHighestDemHeight;
}

/// The DEM's height above the ellipsoid minus its value (the geoid's
/// undulation) on a lattice of a map grid, interpolated between nodes.
struct GridShift {
    int step = 1;
    int columns = 0, rows = 0;
    std::vector<double> values;
    double At(double column, double row) const;
};

/// A window of a DEM's pixels: columns left to right - 1, rows top to
/// bottom - 1.
struct DemWindow {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return !(left < right && top < bottom); }
};

class Dem {
public:
    /// Opens the DEM; throws a bad-input Error for one GDAL does not take as
    /// a placed raster, a failure Error for one it cannot read (a network error)
    /// or whose heights PROJ cannot convert.  The errors' messages begin
    /// with `name` (alosj's: "--dem PATH").
    Dem(const std::string& path, bool ellipsoidal, std::string name);
    ~Dem();

    const std::string& Path() const { return path_; }
    /// What the DEM's values are heights above, in words.
    const std::string& Datum() const { return datum_; }
    /// About how many metres on the ground the DEM's pixels are apart.
    double PixelMetres() const { return pixelMetres_; }

    /// The height above the ellipsoid at a latitude and longitude (WGS 84,
    /// degrees); false where the DEM does not cover it.  Throws an Error
    /// when the DEM cannot be read there.  One thread.
    bool HeightAt(double latitude, double longitude, double& height);

    /// The lowest and highest heights above the ellipsoid the DEM gives
    /// over the grid; false when it gives none there.
    bool RangeOver(const GridFrame& grid, double& lowest, double& highest);
    /// The shift from the DEM's values to heights above the ellipsoid over
    /// the grid.
    GridShift ShiftOver(const GridFrame& grid);

    /// Heights above the ellipsoid of the grid's rows top to top + rows - 1
    /// at their pixels' centres (NaN where the DEM does not cover them),
    /// read through a dataset of its own: one Strips per thread.
    class Strips {
    public:
        Strips(const Dem& dem, const GridFrame& grid, const GridShift& shift);
        ~Strips();
        void Read(int top, int rows, std::vector<float>& heights);

    private:
        /// Warps the DEM's samples (`source`, placed by sourceTransform in
        /// the DEM's CRS) onto the strip, bilinearly; NaN no height.
        void WarpHeights(GDALDataset& source, const double sourceTransform[6], GDALDataset& strip,
                         const double stripTransform[6]);

        const Dem& dem_;
        GridFrame grid_;
        const GridShift& shift_;
        std::unique_ptr<GDALDataset, GdalDatasetCloser> dataset_;
        std::unique_ptr<OGRCoordinateTransformation> toDem_;  // the grid's CRS → the DEM's
    };

private:
    /// A DEM value → metres (its scale, offset and unit applied), NaN for
    /// no height (nodata, not a number, beyond plausible heights).
    double Metres(double value) const;
    /// The DEM's pixels under rows top to top + rows - 1 of the grid, with a
    /// margin of `margin` pixels.
    DemWindow WindowUnder(OGRCoordinateTransformation& toDem, const GridFrame& grid, int top, int rows,
                          int margin) const;
    /// The window's heights in metres (Metres) on a lattice of `columns` x
    /// `rows` samples spanning it (averaged down when coarser than the DEM),
    /// read from `dataset` (this DEM opened on the caller's thread).
    std::vector<float> Read(GDALDataset& dataset, const DemWindow& window, int columns, int rows) const;
    /// An Error: the DEM cannot be read, with GDAL's reason.
    [[noreturn]] void Unreadable() const;

    std::string path_;
    std::string name_;  // how errors name the DEM
    std::string datum_;
    std::string horizontalWkt_;
    OGRSpatialReference horizontal_;
    double geoTransform_[6] = {};
    double inverse_[6] = {};
    bool hasNoData_ = false;
    double noData_ = 0;
    double scale_ = 1.0, offset_ = 0.0;  // metres = value * scale_ + offset_
    double pixelMetres_ = 0.0;
    std::unique_ptr<GDALDataset, GdalDatasetCloser> dataset_;
    std::unique_ptr<OGRCoordinateTransformation> fromGeographic_;  // WGS 84 → the DEM's horizontal CRS
    std::unique_ptr<VerticalShift> shift_;
};

}  // namespace alosj::processing
