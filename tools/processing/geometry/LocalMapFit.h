// Geocentric points near one place → a map CRS's coordinates and heights
// above the ellipsoid, as quadratics in the points' offsets east, north and
// up from the place.  Fitted to PROJ's exact answers across the box the
// points fill, and used only where it agrees with them at points between
// those it was fitted to: PROJ's per-point cost (the geocentric inverse and
// the map projection) is otherwise a large share of intersecting a stereo
// tile's rays, and over a few kilometres both are quadratic to well below a
// millimetre.
#pragma once

#include <cstddef>

#include <ogr_spatialref.h>

namespace alosj::processing {

class LocalMapFit {
public:
    /// Fits across the box (east, north, up around the points' mean) that
    /// holds the `count` geocentric points (EPSG:4978, metres).
    /// `toGeographic` converts geocentric to longitude, latitude and
    /// ellipsoidal height (EPSG:4979, longitude first); `toMap` longitude
    /// and latitude to the map CRS.  False where PROJ fails, or where the
    /// quadratics miss PROJ by more than `horizontal` (map units) or
    /// `vertical` (metres) at any check point.
    bool Fit(const double* X, const double* Y, const double* Z, size_t count,
             OGRCoordinateTransformation& toGeographic, OGRCoordinateTransformation& toMap, double horizontal,
             double vertical);

    /// Map coordinates and ellipsoidal height of a geocentric point in the
    /// box of the last successful Fit.
    void Apply(double X, double Y, double Z, double& x, double& y, double& h) const;

private:
    /// The point's offsets along the local axes, scaled to [-1, 1] across the box.
    void Local(double X, double Y, double Z, double local[3]) const;
    /// The quadratics at normalized offsets: x, y, h.
    void Evaluate(const double local[3], double out[3]) const;

    double origin_[3] = {0, 0, 0};
    double axes_[3][3] = {};   // east, north, up (unit geocentric vectors)
    double middle_[3] = {0, 0, 0}, half_[3] = {1, 1, 1};
    double coefficients_[3][10] = {};  // x, y, h over the terms of Terms()
};

}  // namespace alosj::processing
