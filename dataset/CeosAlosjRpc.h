// Rational polynomial coefficients (GDAL's RPC00B model) fitted to the
// line-of-sight model (CeosAlosjSensorModel.h): CeosAlosjDataset::GetRpc.
//
// The model maps a ground point to a raster position:
//   P = (latitude - latitudeOffset) / latitudeScale
//   L = (longitude - longitudeOffset) / longitudeScale
//   H = (height - heightOffset) / heightScale      (metres above the ellipsoid)
//   T = 1, L, P, H, LP, LH, PH, L², P², H², PLH, L³, LP², LH², L²P, P³, PH²,
//       L²H, P²H, H³
//   line   = (lineNumerator·T / lineDenominator·T) · lineScale + lineOffset
//   sample = (sampleNumerator·T / sampleDenominator·T) · sampleScale + sampleOffset
// with (line, sample) = (0, 0) the centre of the raster's first pixel: raster
// position (x, y) of this library's calls, whose (0, 0) is that pixel's
// top-left corner, is sample x - 0.5, line y - 0.5.  Each denominator's
// first coefficient is 1.
//
// The fit: ground points of an image grid (15 x 15 pixel centres spread over
// the raster) at six heights through the height range, from
// PixelHeightToLatLon, fitted by iteratively reweighted linear least squares
// (weights 1 / denominator², a small Tikhonov term).  Check points not used
// in the fit (the grid offset by half a step, at heights halfway between the
// layers) give the residuals.  A model is offered while its largest residual
// stays within CEOSALOSJ_RPC_MOST_RESIDUAL; otherwise, and when the
// line-of-sight model cannot answer, the band has none and a warning says
// why (not for a band without polynomials, which has no geolocation at all).  Fits are made once per band and height range and kept.
#pragma once

#include "dataset/CeosAlosjSensorModel.h"

/// The terms of each polynomial.
constexpr int CEOSALOSJ_RPC_TERMS = 20;
/// The height range (metres above the ellipsoid) of GetRpc's default fit.
constexpr double CEOSALOSJ_RPC_LOWEST_HEIGHT = -500.0;
constexpr double CEOSALOSJ_RPC_HIGHEST_HEIGHT = 9000.0;
/// A model is offered while no check point is further off than this (pixels).
constexpr double CEOSALOSJ_RPC_MOST_RESIDUAL = 0.5;

/// What GetRpc achieved.
enum CeosAlosjRpcStatus {
    /// A model is offered.
    ALOSJ_RPC_OK = 0,
    /// No such band, a null argument, a height range that is not finite or
    /// empty, or a product that is not opened and read.
    ALOSJ_RPC_BAD_REQUEST = 1,
    /// The line-of-sight model does not answer (its status is in
    /// CeosAlosjRpcFit::sensorStatus: a failed check, no orbit, no times …).
    ALOSJ_RPC_NO_SENSOR_MODEL = 2,
    /// The fitted model is further than CEOSALOSJ_RPC_MOST_RESIDUAL from the
    /// line-of-sight model at a check point (or no finite model was found).
    ALOSJ_RPC_NOT_CLOSE = 3,
};

/// One RPC00B model, in the units of GDAL's RPC metadata items (degrees,
/// metres, pixels).
struct CeosAlosjRpc {
    double lineOffset = 0.0, sampleOffset = 0.0, latitudeOffset = 0.0, longitudeOffset = 0.0, heightOffset = 0.0;
    double lineScale = 1.0, sampleScale = 1.0, latitudeScale = 1.0, longitudeScale = 1.0, heightScale = 1.0;
    double lineNumerator[CEOSALOSJ_RPC_TERMS] = {};
    double lineDenominator[CEOSALOSJ_RPC_TERMS] = {};
    double sampleNumerator[CEOSALOSJ_RPC_TERMS] = {};
    double sampleDenominator[CEOSALOSJ_RPC_TERMS] = {};
    /// Expected bias and random error (metres); -1: not known.
    double errorBias = -1.0;
    double errorRandom = -1.0;
    /// The ground the fit covered (degrees).
    double minLatitude = 0.0, maxLatitude = 0.0, minLongitude = 0.0, maxLongitude = 0.0;
};

/// A band's fit and how close it came.
struct CeosAlosjRpcFit {
    CeosAlosjRpcStatus status = ALOSJ_RPC_BAD_REQUEST;
    /// ALOSJ_SENSOR_OK unless the line-of-sight model failed (then status is
    /// ALOSJ_RPC_NO_SENSOR_MODEL).
    CeosAlosjSensorStatus sensorStatus = ALOSJ_SENSOR_OK;
    /// status == ALOSJ_RPC_OK: the model may be used.
    bool offered = false;
    int band = 0;
    double lowestHeight = CEOSALOSJ_RPC_LOWEST_HEIGHT;
    double highestHeight = CEOSALOSJ_RPC_HIGHEST_HEIGHT;
    /// Distances (pixels) between the model's raster positions and the
    /// line-of-sight model's at the check points: root mean square, largest.
    double rmsResidual = 0.0;
    double maxResidual = 0.0;
    long checkPoints = 0;
    long fitPoints = 0;
    /// The model (filled whenever a fit was made, offered or not).
    CeosAlosjRpc rpc;
};
