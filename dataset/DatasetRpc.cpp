// The RPC00B models (CeosAlosjRpc.h): a band's line-of-sight model sampled
// on an image grid at several heights, fitted by iteratively reweighted
// linear least squares and checked at points between.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "dataset/DatasetState.h"
#include "host/terr.h"

namespace {

constexpr int kTerms = CEOSALOSJ_RPC_TERMS;
/// The fit's image grid: kGridSteps + 1 positions along each side.
constexpr int kGridSteps = 14;
constexpr int kHeightLayers = 6;
constexpr int kReweightings = 5;
/// The Tikhonov term's weight, against rows of unit size: it only steadies
/// the directions the points hardly determine.
constexpr double kTikhonov = 1e-9;
/// A denominator nearer 0 than this among the points makes a pole there.
constexpr double kLeastDenominator = 0.1;

struct GroundPoint {
    double latitude, longitude, height;
    double line, sample;  // RPC raster position: (0, 0) the centre of the first pixel
};

/// The 20 terms of normalised latitude P, longitude L and height H, in
/// RPC00B order.
void Terms(double P, double L, double H, double t[kTerms]) {
    const double terms[kTerms] = {1.0,       L,         P,         H,         L * P,     L * H,     P * H,
                                  L * L,     P * P,     H * H,     P * L * H, L * L * L, L * P * P, L * H * H,
                                  L * L * P, P * P * P, P * H * H, L * L * H, P * P * H, H * H * H};
    std::copy(terms, terms + kTerms, t);
}

double Dot(const double* a, const double* b) {
    double sum = 0.0;
    for (int k = 0; k < kTerms; ++k) sum += a[k] * b[k];
    return sum;
}

/// The normalised terms of a ground point.
void TermsOf(const CeosAlosjRpc& rpc, double latitude, double longitude, double height, double t[kTerms]) {
    Terms((latitude - rpc.latitudeOffset) / rpc.latitudeScale, (longitude - rpc.longitudeOffset) / rpc.longitudeScale,
          (height - rpc.heightOffset) / rpc.heightScale, t);
}

/// Fits numerator / denominator (first denominator coefficient 1) to the
/// normalised values r at rows of terms; false when no finite model came.
bool FitRatio(const Eigen::MatrixXd& terms, const Eigen::VectorXd& r, double numerator[kTerms],
              double denominator[kTerms]) {
    const Eigen::Index n = terms.rows();
    constexpr int unknowns = 2 * kTerms - 1;
    Eigen::MatrixXd a(n + unknowns, unknowns);
    Eigen::VectorXd b(n + unknowns);
    a.bottomRows(unknowns) = std::sqrt(kTikhonov) * Eigen::MatrixXd::Identity(unknowns, unknowns);
    b.tail(unknowns).setZero();
    Eigen::VectorXd denominatorValues = Eigen::VectorXd::Ones(n);
    Eigen::VectorXd x = Eigen::VectorXd::Zero(unknowns);
    for (int round = 0; round < kReweightings; ++round) {
        // numerator·t - r·(denominator·t - 1) = r, each row divided by the
        // last round's denominator: its misfit is then that of the ratio.
        for (Eigen::Index i = 0; i < n; ++i) {
            const double w = 1.0 / denominatorValues(i);
            a.block(i, 0, 1, kTerms) = w * terms.row(i);
            a.block(i, kTerms, 1, kTerms - 1) = (-w * r(i)) * terms.block(i, 1, 1, kTerms - 1);
            b(i) = w * r(i);
        }
        x = a.colPivHouseholderQr().solve(b);
        if (!x.allFinite()) return false;
        denominatorValues = Eigen::VectorXd::Ones(n) + terms.rightCols(kTerms - 1) * x.tail(kTerms - 1);
    }
    for (int k = 0; k < kTerms; ++k) numerator[k] = x(k);
    denominator[0] = 1.0;
    for (int k = 1; k < kTerms; ++k) denominator[k] = x(kTerms + k - 1);
    // A denominator that comes near 0 among the points is a pole.
    return denominatorValues.cwiseAbs().minCoeff() >= kLeastDenominator;
}

const char* SensorProblem(CeosAlosjSensorStatus status) {
    switch (status) {
        case ALOSJ_SENSOR_NO_POLYNOMIALS: return "the band has no usable geolocation polynomials";
        case ALOSJ_SENSOR_NO_ORBIT: return "the orbit is missing or does not span the scene's lines";
        case ALOSJ_SENSOR_NO_TIMES: return "the lines' times cannot be read";
        case ALOSJ_SENSOR_ALTITUDE_CHECK:
            return "the line-of-sight model failed its altitude check: the orbit does not put the satellite 600 "
                   "to 800 km above the ellipsoid";
        case ALOSJ_SENSOR_LOOK_ANGLE_CHECK:
            return "the line-of-sight model failed its look angle check: the orbit and the polynomials give a look "
                   "angle more than 2 degrees from the view's";
        case ALOSJ_SENSOR_RAY_CHECK:
            return "the line-of-sight model failed its ray check: rays from the satellite at the lines' times "
                   "do not look along the track as the view does";
        default: return "the line-of-sight model gives no ground point for a position of the raster";
    }
}

/// The fit of one band over one height range.
CeosAlosjRpcFit Fit(CeosAlosjDataset& dataset, int band, double lowest, double highest) {
    CeosAlosjRpcFit fit;
    fit.band = band;
    fit.lowestHeight = lowest;
    fit.highestHeight = highest;
    const double width = static_cast<double>(dataset.GetSceneWidth());
    const double height = static_cast<double>(dataset.GetSceneHeight());

    // Ground points of raster positions (columns and rows from fractions of
    // the span between the first and last pixel centres) at heights.
    auto sample = [&](double across, double down, double h, GroundPoint& point) {
        const double x = 0.5 + across * (width - 1.0), y = 0.5 + down * (height - 1.0);
        point.height = h;
        point.sample = x - 0.5;
        point.line = y - 0.5;
        return dataset.PixelHeightToLatLon(band, x, y, h, &point.latitude, &point.longitude);
    };
    std::vector<GroundPoint> fitPoints, checkPoints;
    for (int layer = 0; layer < kHeightLayers; ++layer) {
        const double h = lowest + (highest - lowest) * layer / (kHeightLayers - 1);
        const double between = lowest + (highest - lowest) * (layer + 0.5) / (kHeightLayers - 1);
        for (int i = 0; i <= kGridSteps; ++i)
            for (int j = 0; j <= kGridSteps; ++j) {
                GroundPoint point;
                CeosAlosjSensorStatus status =
                    sample(static_cast<double>(j) / kGridSteps, static_cast<double>(i) / kGridSteps, h, point);
                if (status == ALOSJ_SENSOR_OK) {
                    fitPoints.push_back(point);
                    if (layer + 1 < kHeightLayers && i < kGridSteps && j < kGridSteps) {
                        status = sample((j + 0.5) / kGridSteps, (i + 0.5) / kGridSteps, between, point);
                        checkPoints.push_back(point);
                    }
                }
                if (status != ALOSJ_SENSOR_OK) {
                    fit.status = ALOSJ_RPC_NO_SENSOR_MODEL;
                    fit.sensorStatus = status;
                    return fit;
                }
            }
    }
    fit.fitPoints = static_cast<long>(fitPoints.size());
    fit.checkPoints = static_cast<long>(checkPoints.size());

    // Offsets at mid-range, scales at half the range.
    CeosAlosjRpc& rpc = fit.rpc;
    // Longitudes unwrapped about the first point's, so that a scene across
    // the antimeridian stays one span.
    const double reference = fitPoints.front().longitude;
    for (GroundPoint& p : fitPoints) p.longitude = reference + std::remainder(p.longitude - reference, 360.0);
    for (GroundPoint& p : checkPoints) p.longitude = reference + std::remainder(p.longitude - reference, 360.0);
    auto [lowLat, highLat] = std::minmax_element(fitPoints.begin(), fitPoints.end(),
                                                 [](auto& a, auto& b) { return a.latitude < b.latitude; });
    auto [lowLon, highLon] = std::minmax_element(fitPoints.begin(), fitPoints.end(),
                                                 [](auto& a, auto& b) { return a.longitude < b.longitude; });
    rpc.minLatitude = lowLat->latitude, rpc.maxLatitude = highLat->latitude;
    rpc.minLongitude = lowLon->longitude, rpc.maxLongitude = highLon->longitude;
    auto half = [](double low, double high) { return std::max((high - low) / 2, 1e-9); };
    rpc.latitudeOffset = (rpc.minLatitude + rpc.maxLatitude) / 2;
    rpc.latitudeScale = half(rpc.minLatitude, rpc.maxLatitude);
    rpc.longitudeOffset = (rpc.minLongitude + rpc.maxLongitude) / 2;
    rpc.longitudeScale = half(rpc.minLongitude, rpc.maxLongitude);
    rpc.heightOffset = (lowest + highest) / 2;
    rpc.heightScale = half(lowest, highest);
    rpc.lineOffset = (height - 1.0) / 2;
    rpc.lineScale = std::max(height / 2, 1.0);
    rpc.sampleOffset = (width - 1.0) / 2;
    rpc.sampleScale = std::max(width / 2, 1.0);

    const Eigen::Index n = static_cast<Eigen::Index>(fitPoints.size());
    Eigen::MatrixXd terms(n, kTerms);
    Eigen::VectorXd lines(n), samples(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const GroundPoint& p = fitPoints[static_cast<size_t>(i)];
        double t[kTerms];
        TermsOf(rpc, p.latitude, p.longitude, p.height, t);
        for (int k = 0; k < kTerms; ++k) terms(i, k) = t[k];
        lines(i) = (p.line - rpc.lineOffset) / rpc.lineScale;
        samples(i) = (p.sample - rpc.sampleOffset) / rpc.sampleScale;
    }
    fit.status = ALOSJ_RPC_NOT_CLOSE;
    // Both are fitted: the residuals are told also of a model refused for its poles.
    const bool lineFits = FitRatio(terms, lines, rpc.lineNumerator, rpc.lineDenominator);
    const bool sampleFits = FitRatio(terms, samples, rpc.sampleNumerator, rpc.sampleDenominator);

    double sum = 0.0, most = 0.0;
    for (const GroundPoint& p : checkPoints) {
        double t[kTerms];
        TermsOf(rpc, p.latitude, p.longitude, p.height, t);
        const double line = Dot(rpc.lineNumerator, t) / Dot(rpc.lineDenominator, t) * rpc.lineScale + rpc.lineOffset;
        const double sampleAt =
            Dot(rpc.sampleNumerator, t) / Dot(rpc.sampleDenominator, t) * rpc.sampleScale + rpc.sampleOffset;
        const double off = std::hypot(line - p.line, sampleAt - p.sample);
        sum += off * off;
        most = std::isnan(off) || std::isnan(most) ? NAN : std::max(most, off);
    }
    fit.rmsResidual = std::sqrt(sum / static_cast<double>(checkPoints.size()));
    fit.maxResidual = most;
    if (lineFits && sampleFits && most <= CEOSALOSJ_RPC_MOST_RESIDUAL) {
        fit.status = ALOSJ_RPC_OK;
        fit.offered = true;
    }
    return fit;
}

}  // namespace

CeosAlosjRpcStatus CeosAlosjDataset::GetRpc(int band, CeosAlosjRpcFit* fit) {
    return GetRpc(band, CEOSALOSJ_RPC_LOWEST_HEIGHT, CEOSALOSJ_RPC_HIGHEST_HEIGHT, fit);
}

CeosAlosjRpcStatus CeosAlosjDataset::GetRpc(int band, double lowestHeight, double highestHeight,
                                            CeosAlosjRpcFit* fit) {
    if (!fit || band < 0 || band >= GetNumOfLayers() || !d->leaderFile || !std::isfinite(lowestHeight) ||
        !std::isfinite(highestHeight) || !(lowestHeight < highestHeight) || GetSceneWidth() < 1 ||
        GetSceneHeight() < 1)
        return ALOSJ_RPC_BAD_REQUEST;
    RpcFits& kept = d->rpcFits;
    for (const CeosAlosjRpcFit& made : kept.fits)
        if (made.band == band && made.lowestHeight == lowestHeight && made.highestHeight == highestHeight) {
            *fit = made;
            return fit->status;
        }
    // A band keeps the fit over the default heights and the latest over a
    // caller's own: one trying range after range holds no more.
    const bool ownRange =
        lowestHeight != CEOSALOSJ_RPC_LOWEST_HEIGHT || highestHeight != CEOSALOSJ_RPC_HIGHEST_HEIGHT;
    if (ownRange)
        kept.fits.erase(std::remove_if(kept.fits.begin(), kept.fits.end(),
                                       [&](const CeosAlosjRpcFit& made) {
                                           return made.band == band &&
                                                  (made.lowestHeight != CEOSALOSJ_RPC_LOWEST_HEIGHT ||
                                                   made.highestHeight != CEOSALOSJ_RPC_HIGHEST_HEIGHT);
                                       }),
                        kept.fits.end());
    kept.fits.push_back(Fit(*this, band, lowestHeight, highestHeight));
    const CeosAlosjRpcFit& made = kept.fits.back();
    char message[512];
    // A band without polynomials has no geolocation at all, which its
    // placement already tells; every other failure is worth a word.
    if (made.status == ALOSJ_RPC_NO_SENSOR_MODEL && made.sensorStatus != ALOSJ_SENSOR_NO_POLYNOMIALS &&
        !kept.sensorWarned) {
        kept.sensorWarned = true;
        std::snprintf(message, sizeof message, "Band %d has no RPC model: %s", band + 1,
                      SensorProblem(made.sensorStatus));
        terr_Warn("CeosAlosjDataset::GetRpc", __LINE__, message);
    } else if (made.status == ALOSJ_RPC_NOT_CLOSE) {
        // One model cannot follow the seams between CCD files that see a row
        // at different times or places; each file opened alone has its own.
        const long files = GetColumnRanges(band, nullptr, 0);
        char ccds[160] = "";
        if (files > 1)
            std::snprintf(ccds, sizeof ccds,
                          "; the raster joins %ld CCD image files, and each opened alone (on its CCD number) has "
                          "its own model",
                          files);
        std::snprintf(message, sizeof message,
                      "Band %d has no RPC model: fitted over heights %g to %g m, it is %.3g pixel off the "
                      "line-of-sight model at a check point (RMS %.3g pixel over %ld check points), more than %g%s",
                      band + 1, lowestHeight, highestHeight, made.maxResidual, made.rmsResidual, made.checkPoints,
                      CEOSALOSJ_RPC_MOST_RESIDUAL, ccds);
        terr_Warn("CeosAlosjDataset::GetRpc", __LINE__, message);
    }
    *fit = made;
    return fit->status;
}
