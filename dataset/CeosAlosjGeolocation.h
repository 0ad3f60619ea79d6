// The ground processor's own geolocation of a product: per PRISM CCD or
// AVNIR-2 band (and for the Level 1B2 image), cubic polynomials from image
// pixel and line to latitude and longitude and back, which the leader's map
// projection record carries.  CeosAlosjDataset::PixelToLatLon and
// LatLonToPixel evaluate them for positions of the raster GetRow delivers.
//
// Positions are continuous raster coordinates as GDAL counts them: (0, 0) is
// the top-left corner of the first pixel, (0.5, 0.5) its centre.  A raster
// position is taken back to the image file and the stored position its byte
// came from (the CCD file whose columns hold it, its dummy pixels and
// overlap added back; a Level 1B2 row's own left dummy width), where the
// polynomials are evaluated with 0 at the left and top edge of the first
// stored pixel and record.  Another reading of the polynomials, with 1-based
// pixel centres, puts every position half a pixel to one pixel away.
//
// De-staggered AVNIR-2 rows are placed by the line their even pixels come
// from: the odd pixels taken from `shift` lines further down show the same
// ground (that is what de-staggering achieves), so one raster row lies on
// one ground line.
#pragma once

/// What a geolocation call achieved.
enum CeosAlosjLocateStatus {
    ALOSJ_LOCATE_OK = 0,
    /// The position lies outside the raster (or the ground position outside
    /// the scene).
    ALOSJ_LOCATE_OUTSIDE = 1,
    /// The product carries no usable polynomials for the band: missing,
    /// not finite, or placing the scene nowhere near its centre.
    ALOSJ_LOCATE_NO_POLYNOMIALS = 2,
    /// The inverse did not converge to within 0.001 pixel.
    ALOSJ_LOCATE_NO_CONVERGENCE = 3,
    /// No such band, or a product that is not opened and read.
    ALOSJ_LOCATE_BAD_REQUEST = 4,
};
