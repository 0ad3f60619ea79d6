// A line-of-sight model of a product: where a raster position lies at a
// given height above the ellipsoid, and where a point at a height shows in
// the raster.  CeosAlosjDataset::PixelHeightToLatLon, LatLonHeightToPixel
// and GetLineOfSight answer with it.
//
// It is built from what every product carries: the leader's polynomials
// (the processor's calibrated geometry, CeosAlosjGeolocation.h) place a
// raster position on the ellipsoid (height 0, the polynomials' reference
// surface); the orbit's state vectors give the satellite at the line's time
// (8-point Lagrange interpolation, Earth-fixed: of the supplemental file's
// blocks that state an Earth-fixed frame in their title or heading lines and
// the leader's platform position record, unless it names an inertial frame,
// the one of the most trusted kind: precision, definitive, not stated,
// predicted).  The point at height h is where the ray from
// the satellite through that ground point meets the surface h metres above
// the ellipsoid (GRS80; WGS 84 differs by a tenth of a millimetre).  Line
// times come from the image records' time tags, each image file's (each
// PRISM CCD's) its own (Levels 1A and 1B1); a
// Level 1B2 point is seen when the satellite looks at it under the view's
// along-track angle from its nadir (0 for nadir views, 23.8 degrees ahead
// or behind for PRISM's forward and backward views).  Attitude, alignment
// and matrix records are not used.
//
// On first use the model checks the product: the satellite 600 to 800 km
// above the ellipsoid, the look angle at the raster's centre within 2
// degrees of the view's nominal (0 for nadir, 23.8 for forward and
// backward, the scene header's pointing angle for AVNIR-2), and at Levels
// 1A and 1B1 the rays of the raster's corners and centre, from the
// satellite at their lines' times to the polynomials' ground points,
// looking along the track as the view does (0 or ±23.8 degrees) within a
// degree (more far to the side, where a yaw of up to 4 degrees tilts a
// line).  A product that fails keeps its polynomials
// (PixelToLatLon, LatLonToPixel); its height-aware queries answer with the
// status that names the failed check.
#pragma once

#include "dataset/CeosAlosjAcquisition.h"

/// What a height-aware geolocation call achieved.
enum CeosAlosjSensorStatus {
    ALOSJ_SENSOR_OK = 0,
    /// No such band, a null argument, a height or position not finite, or
    /// a product that is not opened and read.
    ALOSJ_SENSOR_BAD_REQUEST = 1,
    /// The position lies outside the raster (or the point outside the scene).
    ALOSJ_SENSOR_OUTSIDE = 2,
    /// The band has no usable polynomials (as ALOSJ_LOCATE_NO_POLYNOMIALS).
    ALOSJ_SENSOR_NO_POLYNOMIALS = 3,
    /// The orbit is missing: fewer than 8 finite state vectors in order of
    /// time, or the lines' times outside their span.
    ALOSJ_SENSOR_NO_ORBIT = 4,
    /// The lines' times cannot be read or do not advance by less than 10 ms
    /// a line (Levels 1A and 1B1), or the scene has no date; or, at Level
    /// 1B2, no time in the orbit's span sees the point under the view's angle.
    ALOSJ_SENSOR_NO_TIMES = 5,
    /// The check failed: the satellite is not 600 to 800 km above the
    /// ellipsoid.
    ALOSJ_SENSOR_ALTITUDE_CHECK = 6,
    /// The check failed: the look angle from nadir at the raster's centre is
    /// more than 2 degrees from the view's nominal one.
    ALOSJ_SENSOR_LOOK_ANGLE_CHECK = 7,
    /// The check failed: a ray from the satellite at a corner's (or the
    /// centre's) line time to its ground point does not look along the track
    /// as the view does (Levels 1A and 1B1); or a ray misses the surface.
    ALOSJ_SENSOR_RAY_CHECK = 8,
    /// The inverse did not converge to within 0.001 pixel.
    ALOSJ_SENSOR_NO_CONVERGENCE = 9,
};

/// The line of sight of one raster position.
struct CeosAlosjLineOfSight {
    /// When the position was imaged (UTC), and the same as seconds from the
    /// start of the scene's date (beyond 86400 on the next day).
    CeosAlosjUtcTime time;
    double secondsOfSceneDate = 0.0;
    /// The satellite's position (metres) and velocity (metres per second),
    /// Earth-fixed (WGS 84 / ITRF axes).
    double position[3] = {};
    double velocity[3] = {};
    /// Unit vector from the satellite to the position's ground point.
    double look[3] = {};
    /// The ground point on the polynomials' reference surface (degrees).
    double latitude = 0.0;
    double longitude = 0.0;
    /// The look direction's angle from the satellite's nadir (the
    /// ellipsoid's normal beneath it), degrees; and the satellite's height
    /// above the ellipsoid, metres.
    double lookAngle = 0.0;
    double satelliteHeight = 0.0;
};

/// The frame in which a supplemental state-vector block states its vectors
/// are given (by the words of its title or heading lines: "EARTH FIXED",
/// "ECR", "ITRF97"…; "INERTIAL", "ECI", "J2000", "TOD"…).
enum CeosAlosjOrbitFrame {
    ALOSJ_ORBIT_FRAME_NOT_STATED = 0,
    ALOSJ_ORBIT_FRAME_EARTH_FIXED = 1,
    ALOSJ_ORBIT_FRAME_INERTIAL = 2,
};

/// The kind of orbit a block states it holds.
enum CeosAlosjOrbitKind {
    ALOSJ_ORBIT_KIND_NOT_STATED = 0,
    ALOSJ_ORBIT_KIND_PRECISION = 1,   ///< "PRECISION" or "PRECISE"
    ALOSJ_ORBIT_KIND_DEFINITIVE = 2,  ///< "DEFINITIVE"
    ALOSJ_ORBIT_KIND_PREDICTED = 3,   ///< "PREDICTED", "PREDICTIVE" or "PREDICTION"
};

/// One state-vector block of a PRISM supplemental file, as it describes itself.
struct CeosAlosjOrbitBlock {
    char title[129] = {};  ///< the block's 128-character title, trailing blanks kept
    CeosAlosjOrbitFrame frame = ALOSJ_ORBIT_FRAME_NOT_STATED;
    CeosAlosjOrbitKind kind = ALOSJ_ORBIT_KIND_NOT_STATED;
    long stateVectors = 0;  ///< data lines decoded
    /// The line-of-sight model takes its orbit from this block.
    bool usedByLineOfSight = false;
};

/// The height (metres above the ellipsoid) of the surface on which the
/// leader's polynomials place a raster position.
constexpr double CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT = 0.0;
