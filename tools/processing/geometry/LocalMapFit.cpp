#include "tools/processing/geometry/LocalMapFit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <Eigen/Dense>

namespace alosj::processing {

namespace {

constexpr int kTerms = 10;

/// The quadratic's terms at normalized local offsets (a, b, c).
void Terms(const double local[3], double terms[kTerms]) {
    const double a = local[0], b = local[1], c = local[2];
    const double values[kTerms] = {1, a, b, c, a * a, b * b, c * c, a * b, a * c, b * c};
    std::copy(values, values + kTerms, terms);
}

}  // namespace

void LocalMapFit::Local(double X, double Y, double Z, double local[3]) const {
    const double d[3] = {X - origin_[0], Y - origin_[1], Z - origin_[2]};
    for (int k = 0; k < 3; ++k)
        local[k] = (axes_[k][0] * d[0] + axes_[k][1] * d[1] + axes_[k][2] * d[2] - middle_[k]) / half_[k];
}

void LocalMapFit::Evaluate(const double local[3], double out[3]) const {
    double terms[kTerms];
    Terms(local, terms);
    for (int k = 0; k < 3; ++k) {
        out[k] = 0;
        for (int t = 0; t < kTerms; ++t) out[k] += coefficients_[k][t] * terms[t];
    }
}

void LocalMapFit::Apply(double X, double Y, double Z, double& x, double& y, double& h) const {
    double local[3], out[3];
    Local(X, Y, Z, local);
    Evaluate(local, out);
    x = out[0];
    y = out[1];
    h = out[2];
}

bool LocalMapFit::Fit(const double* X, const double* Y, const double* Z, size_t count,
                      OGRCoordinateTransformation& toGeographic, OGRCoordinateTransformation& toMap,
                      double horizontal, double vertical) {
    if (count == 0) return false;
    // The local axes at the points' mean.
    double o[3] = {0, 0, 0};
    for (size_t k = 0; k < count; ++k) {
        o[0] += X[k];
        o[1] += Y[k];
        o[2] += Z[k];
    }
    for (double& v : o) v /= static_cast<double>(count);
    std::copy(o, o + 3, origin_);
    double lon = o[0], lat = o[1], h = o[2];
    if (!toGeographic.Transform(1, &lon, &lat, &h) || !std::isfinite(lon) || !std::isfinite(lat)) return false;
    const double l = lon * M_PI / 180, p = lat * M_PI / 180;
    const double axes[3][3] = {{-std::sin(l), std::cos(l), 0},
                               {-std::sin(p) * std::cos(l), -std::sin(p) * std::sin(l), std::cos(p)},
                               {std::cos(p) * std::cos(l), std::cos(p) * std::sin(l), std::sin(p)}};
    std::copy(&axes[0][0], &axes[0][0] + 9, &axes_[0][0]);
    std::fill(middle_, middle_ + 3, 0.0);
    std::fill(half_, half_ + 3, 1.0);

    // The box the points fill (at least a metre each way).
    double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (size_t k = 0; k < count; ++k) {
        double local[3];
        Local(X[k], Y[k], Z[k], local);
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], local[a]);
            high[a] = std::max(high[a], local[a]);
        }
    }
    for (int a = 0; a < 3; ++a) {
        if (!std::isfinite(low[a]) || !std::isfinite(high[a])) return false;
        middle_[a] = 0.5 * (low[a] + high[a]);
        half_[a] = std::max(0.5 * (high[a] - low[a]), 1.0);
    }

    // PROJ's answers at normalized offsets: a 5 x 5 x 3 lattice to fit, the
    // points halfway between its nodes to check.
    struct Sample {
        double local[3];
        double exact[3];
    };
    auto exactAt = [&](std::vector<Sample>& samples) {
        std::vector<double> gx, gy, gz;
        for (const Sample& s : samples) {
            double e[3];
            for (int a = 0; a < 3; ++a) e[a] = middle_[a] + half_[a] * s.local[a];
            gx.push_back(origin_[0] + axes_[0][0] * e[0] + axes_[1][0] * e[1] + axes_[2][0] * e[2]);
            gy.push_back(origin_[1] + axes_[0][1] * e[0] + axes_[1][1] * e[1] + axes_[2][1] * e[2]);
            gz.push_back(origin_[2] + axes_[0][2] * e[0] + axes_[1][2] * e[1] + axes_[2][2] * e[2]);
        }
        if (!toGeographic.Transform(gx.size(), gx.data(), gy.data(), gz.data()) ||
            !toMap.Transform(gx.size(), gx.data(), gy.data()))
            return false;
        for (size_t k = 0; k < samples.size(); ++k) {
            samples[k].exact[0] = gx[k];
            samples[k].exact[1] = gy[k];
            samples[k].exact[2] = gz[k];
            for (double v : samples[k].exact)
                if (!std::isfinite(v)) return false;
        }
        return true;
    };
    std::vector<Sample> nodes, checks;
    for (double a : {-1.0, -0.5, 0.0, 0.5, 1.0})
        for (double b : {-1.0, -0.5, 0.0, 0.5, 1.0})
            for (double c : {-1.0, 0.0, 1.0}) nodes.push_back({{a, b, c}, {}});
    for (double a : {-0.75, -0.25, 0.25, 0.75})
        for (double b : {-0.75, -0.25, 0.25, 0.75})
            for (double c : {-0.5, 0.5}) checks.push_back({{a, b, c}, {}});
    if (!exactAt(nodes) || !exactAt(checks)) return false;

    Eigen::MatrixXd design(static_cast<Eigen::Index>(nodes.size()), kTerms);
    Eigen::MatrixXd values(static_cast<Eigen::Index>(nodes.size()), 3);
    for (size_t k = 0; k < nodes.size(); ++k) {
        double terms[kTerms];
        Terms(nodes[k].local, terms);
        for (int t = 0; t < kTerms; ++t) design(static_cast<Eigen::Index>(k), t) = terms[t];
        for (int a = 0; a < 3; ++a) values(static_cast<Eigen::Index>(k), a) = nodes[k].exact[a];
    }
    const Eigen::MatrixXd solution = design.colPivHouseholderQr().solve(values);
    for (int a = 0; a < 3; ++a)
        for (int t = 0; t < kTerms; ++t) coefficients_[a][t] = solution(t, a);

    for (const Sample& s : checks) {
        double out[3];
        Evaluate(s.local, out);
        if (!(std::abs(out[0] - s.exact[0]) <= horizontal && std::abs(out[1] - s.exact[1]) <= horizontal &&
              std::abs(out[2] - s.exact[2]) <= vertical))
            return false;
    }
    return true;
}

}  // namespace alosj::processing
