// Least-squares fits of the geolocation cubics a leader carries.
#pragma once

#include <array>
#include <vector>

namespace ceoswriter {

/// One sample of a function of two variables: x, y and the value there.
using Sample = std::array<double, 3>;

/// The coefficients a0 … a9 of the cubic in the leader's term order,
///   a0 + a1·x + a2·y + a3·x·y + a4·x² + a5·y² + a6·x²·y + a7·x·y² + a8·x³ + a9·y³,
/// that fits the samples best in least squares.  The fit is made in centred
/// and scaled variables and expanded back, so that arguments far from 0
/// (latitudes and longitudes, line numbers in the thousands) fit as well as
/// small ones.
std::array<double, 10> FitCubic(const std::vector<Sample>& samples);

/// The cubic's value at (x, y).
double EvaluateCubic(const std::array<double, 10>& a, double x, double y);

}  // namespace ceoswriter
