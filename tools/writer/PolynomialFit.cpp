#include "tools/writer/PolynomialFit.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace ceoswriter {

namespace {

// The powers of x and y of each term, in the leader's order.
constexpr int kPowers[10][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 0}, {0, 2}, {2, 1}, {1, 2}, {3, 0}, {0, 3}};

int TermOf(int i, int j) {
    for (int t = 0; t < 10; ++t)
        if (kPowers[t][0] == i && kPowers[t][1] == j) return t;
    throw std::logic_error("no such term");
}

double Binomial(int n, int k) {
    static const double rows[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
    return rows[n][k];
}

/// Solves the 10 × 10 system m · a = b by Gaussian elimination with partial pivoting.
std::array<double, 10> Solve(double m[10][10], double b[10]) {
    for (int c = 0; c < 10; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 10; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
        if (m[pivot][c] == 0) throw std::invalid_argument("the samples do not determine a cubic");
        std::swap(m[c], m[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = c + 1; r < 10; ++r) {
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 10; ++k) m[r][k] -= f * m[c][k];
            b[r] -= f * b[c];
        }
    }
    std::array<double, 10> a{};
    for (int c = 9; c >= 0; --c) {
        double s = b[c];
        for (int k = c + 1; k < 10; ++k) s -= m[c][k] * a[k];
        a[c] = s / m[c][c];
    }
    return a;
}

}  // namespace

double EvaluateCubic(const std::array<double, 10>& a, double x, double y) {
    double value = 0;
    for (int t = 0; t < 10; ++t) value += a[t] * std::pow(x, kPowers[t][0]) * std::pow(y, kPowers[t][1]);
    return value;
}

std::array<double, 10> FitCubic(const std::vector<Sample>& samples) {
    if (samples.size() < 10) throw std::invalid_argument("a cubic needs at least ten samples");
    double x0 = 0, y0 = 0;
    for (const Sample& s : samples) {
        x0 += s[0];
        y0 += s[1];
    }
    x0 /= samples.size();
    y0 /= samples.size();
    double sx = 0, sy = 0;
    for (const Sample& s : samples) {
        sx = std::max(sx, std::fabs(s[0] - x0));
        sy = std::max(sy, std::fabs(s[1] - y0));
    }
    if (sx == 0 || sy == 0) throw std::invalid_argument("the samples span no area");

    // Normal equations in u = (x − x0) / sx, v = (y − y0) / sy.
    double m[10][10] = {};
    double b[10] = {};
    for (const Sample& s : samples) {
        const double u = (s[0] - x0) / sx, v = (s[1] - y0) / sy;
        double basis[10];
        for (int t = 0; t < 10; ++t) basis[t] = std::pow(u, kPowers[t][0]) * std::pow(v, kPowers[t][1]);
        for (int r = 0; r < 10; ++r) {
            for (int c = 0; c < 10; ++c) m[r][c] += basis[r] * basis[c];
            b[r] += basis[r] * s[2];
        }
    }
    const std::array<double, 10> scaled = Solve(m, b);

    // c · u^i · v^j expanded into powers of x and y.
    std::array<double, 10> raw{};
    for (int t = 0; t < 10; ++t) {
        const int i = kPowers[t][0], j = kPowers[t][1];
        const double c = scaled[t] / (std::pow(sx, i) * std::pow(sy, j));
        for (int a = 0; a <= i; ++a)
            for (int bb = 0; bb <= j; ++bb)
                raw[TermOf(a, bb)] +=
                    c * Binomial(i, a) * std::pow(-x0, i - a) * Binomial(j, bb) * std::pow(-y0, j - bb);
    }
    return raw;
}

}  // namespace ceoswriter
