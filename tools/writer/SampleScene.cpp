#include "tools/writer/SampleScene.h"

#include "tools/writer/PolynomialFit.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <stdexcept>
#include <utility>
#include <cmath>
#include <cstdio>
#include <vector>

namespace ceoswriter {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// GRS80.
constexpr double kSemiMajor = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257222101;
constexpr double kUtmScale = 0.9996;
constexpr double kFalseEasting = 500000.0;
constexpr double kFalseNorthingSouth = 10000000.0;

// Where the scene is centred (the landscape's origin), and its UTM zone.
constexpr double kOriginLatitude = 35.1440;
constexpr double kOriginLongitude = 138.6530;
constexpr int kZone = 54;
// The volcano's centre, metres east and north of the origin.
constexpr double kVolcanoU = 6800.0, kVolcanoV = 24000.0;
/// Survey targets: dark discs painted on the ground (landscape metres) at
/// the volcano's summit and on the plain, for checking where orthoimages
/// put them.
constexpr double kPlainU = -3000.0, kPlainV = -700.0;
constexpr double kTargetRadius = 10.0;

// Time of the scene centre: 13 October 2006, 01:45:12.345 UTC (10:45 local),
// a descending daytime pass; the sun stands 45 degrees high in azimuth 160.
constexpr int kYear = 2006, kMonth = 10, kDay = 13, kDayOfYear = 286;
constexpr double kCentreSecondOfDay = 1 * 3600 + 45 * 60 + 12.345;
constexpr double kSunAzimuth = 160.0 * kDeg;
constexpr double kSunElevation = 45.0 * kDeg;

// Orbit: circular, 691.65 km above the scene, heading 190 degrees (south by
// south-west) over it in the inertial frame, as an orbit inclined 98.16
// degrees passes 35 degrees north; lines of Level 1A/1B1 run along that
// track.
constexpr double kAltitude = 691650.0;
constexpr double kHeading = 190.0 * kDeg;
constexpr double kEarthGm = 3.986004418e14;
constexpr double kEarthRotation = 7.2921150e-5;  // rad/s

// PRISM's nadir CCD files overlap by this many pixels.
constexpr int kPrismOverlap = 32;
// AVNIR-2 odd detectors trail the even ones by this many lines (more when
// pointing far across the track, as the reader expects).
int Avnir2Stagger(double pointingDegrees) {
    const double a = std::fabs(std::trunc(pointingDegrees));
    return a <= 23.3 ? 5 : a <= 35.3 ? 6 : 7;
}

// PRISM's forward and backward telescopes look this far ahead and behind.
constexpr double kAlongTrackView = 23.8 * kDeg;

// ---------------------------------------------------------------- noise --

uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = seed * 0x9E3779B9u;
    h ^= static_cast<uint32_t>(x) * 0x27D4EB2Du;
    h = (h ^ (h >> 15)) * 0x85EBCA6Bu;
    h ^= static_cast<uint32_t>(y) * 0x165667B1u;
    h = (h ^ (h >> 13)) * 0xC2B2AE35u;
    return h ^ (h >> 16);
}

double Hash01(int32_t x, int32_t y, uint32_t seed) { return Hash(x, y, seed) / 4294967296.0; }

double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }

double SmoothStep(double edge0, double edge1, double x) {
    return Smooth(std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0));
}

double Mix(double a, double b, double t) { return a + (b - a) * t; }

/// Value noise in [0, 1) with unit lattice spacing.
double ValueNoise(double x, double y, uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
    const double tx = Smooth(x - fx), ty = Smooth(y - fy);
    const double a = Hash01(ix, iy, seed), b = Hash01(ix + 1, iy, seed);
    const double c = Hash01(ix, iy + 1, seed), d = Hash01(ix + 1, iy + 1, seed);
    return Mix(Mix(a, b, tx), Mix(c, d, tx), ty);
}

/// Fractal noise in about [-1, 1]; the first octave has wavelength `scale`.
double Fbm(double x, double y, double scale, int octaves, uint32_t seed) {
    double sum = 0, amplitude = 1, norm = 0;
    x /= scale;
    y /= scale;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * (2.0 * ValueNoise(x, y, seed + 101u * o) - 1.0);
        norm += amplitude;
        amplitude *= 0.5;
        x = x * 2.03 + 17.1;
        y = y * 2.03 - 9.7;
    }
    return sum / norm;
}

// ------------------------------------------------------------- landscape --
// Local ground coordinates: u metres east, v metres north of the origin.

/// Reflectance in the four AVNIR-2 bands: blue, green, red, near infrared.
struct Reflectance {
    double b, g, r, n;
};

Reflectance Blend(const Reflectance& p, const Reflectance& q, double t) {
    return {Mix(p.b, q.b, t), Mix(p.g, q.g, t), Mix(p.r, q.r, t), Mix(p.n, q.n, t)};
}

Reflectance Scale(const Reflectance& p, double k) { return {p.b * k, p.g * k, p.r * k, p.n * k}; }

constexpr Reflectance kClearWater = {0.055, 0.045, 0.022, 0.008};
constexpr Reflectance kDeepWater = {0.045, 0.032, 0.014, 0.005};
constexpr Reflectance kTurbidWater = {0.090, 0.125, 0.115, 0.035};
constexpr Reflectance kRiverWater = {0.060, 0.065, 0.045, 0.015};
constexpr Reflectance kSurf = {0.45, 0.46, 0.45, 0.30};
constexpr Reflectance kSand = {0.21, 0.23, 0.26, 0.30};
constexpr Reflectance kGravel = {0.17, 0.18, 0.19, 0.22};
constexpr Reflectance kAsphalt = {0.075, 0.078, 0.085, 0.10};
constexpr Reflectance kConcrete = {0.22, 0.22, 0.23, 0.25};
constexpr Reflectance kRailBed = {0.10, 0.10, 0.11, 0.13};
constexpr Reflectance kGrass = {0.040, 0.085, 0.055, 0.38};
constexpr Reflectance kForest = {0.028, 0.050, 0.030, 0.27};
constexpr Reflectance kAutumnForest = {0.035, 0.060, 0.055, 0.25};
constexpr Reflectance kTea = {0.030, 0.068, 0.038, 0.33};
constexpr Reflectance kVegetables = {0.045, 0.095, 0.060, 0.42};
constexpr Reflectance kHarvestedPaddy = {0.085, 0.105, 0.130, 0.19};
constexpr Reflectance kRipePaddy = {0.070, 0.110, 0.120, 0.30};
constexpr Reflectance kBareSoil = {0.095, 0.115, 0.145, 0.20};
constexpr Reflectance kGreenhouse = {0.42, 0.43, 0.43, 0.40};
constexpr Reflectance kVolcanicRock = {0.060, 0.065, 0.080, 0.11};
constexpr Reflectance kSnow = {0.80, 0.80, 0.78, 0.68};
constexpr Reflectance kRoofs[] = {
    {0.17, 0.17, 0.18, 0.20},   // grey tiles
    {0.13, 0.15, 0.18, 0.17},   // blue-grey
    {0.11, 0.10, 0.13, 0.15},   // brown
    {0.23, 0.23, 0.24, 0.25},   // light metal
    {0.16, 0.11, 0.10, 0.14},   // red-brown
    {0.20, 0.21, 0.21, 0.23},   // concrete flat roof
};

struct Town {
    double u, v, radius;
};
constexpr Town kTowns[] = {
    {1100, -450, 1700},    // the main town, east of the river mouth
    {-7800, -700, 1000},   // a smaller town on the west bank
    {12500, 700, 1400},    // a town at the foot of the peninsula
    {3500, 4200, 500},     // a village in the hills
};

double CoastNorthing(double u) {
    double v = -1350.0 + 220.0 * std::sin(u / 2900.0 + 0.7) + 90.0 * std::sin(u / 1100.0 + 2.0) +
               45.0 * Fbm(u, 0.0, 400.0, 3, 7);
    // A peninsula to the east: the coast turns south beyond 11 km.
    if (u > 11000.0) v -= 1.3 * (u - 11000.0) * SmoothStep(11000.0, 15000.0, u);
    return v;
}

double RiverEasting(double v) {
    return -1500.0 + 300.0 * std::sin(v / 1700.0 + 0.3) + 120.0 * std::sin(v / 530.0 + 1.1) +
           600.0 * std::sin(v / 9000.0);
}

/// Half width of the river's gravel bed, widest at the mouth.
double RiverBedHalfWidth(double v) { return Mix(130.0, 25.0, SmoothStep(600.0, 6000.0, v)); }

/// The coastal highway and the railway follow the coast inland.
double HighwayNorthing(double u, double coast) { return coast + 520.0 + 60.0 * std::sin(u / 5000.0); }
double RailwayNorthing(double coast) { return coast + 800.0; }
double MainRoadEasting(double v) { return 1350.0 + 260.0 * std::sin(v / 2100.0); }

/// The coastal plain is flat this far inland at the least.
constexpr double kPlainWidth = 1300.0;

/// Ground height in metres (0 at the coast, hills to the north, the volcano);
/// coast and river are CoastNorthing(u) and RiverEasting(v).
double Elevation(double u, double v, double coast, double river) {
    const double inland = std::max(0.0, v - coast);
    double h = 0.012 * inland;
    // Hills rise behind the coastal plain (1.3 km inland at the least), but
    // not on the volcano's smooth slopes.
    const double du = u - kVolcanoU, dv = v - kVolcanoV;
    const double r = std::sqrt(du * du + dv * dv);
    double hills = inland > kPlainWidth ? SmoothStep(1800.0, 3500.0, inland + 500.0 * Fbm(u, 0.0, 3000.0, 2, 19)) : 0.0;
    hills *= SmoothStep(4000.0, 13000.0, r);
    if (hills > 0) {
        // Mountain ranges, their ridges and spurs, and the roughness of slopes.
        const double ranges = 1.0 - std::fabs(Fbm(u, v, 7000.0, 3, 23));
        const double ridges = 1.0 - std::fabs(Fbm(u, v, 1500.0, 4, 11));
        h += hills * (700.0 * ranges * ranges * SmoothStep(2500.0, 7000.0, inland) + 420.0 * ridges * ridges +
                      45.0 * Fbm(u, v, 220.0, 3, 13));
    }
    if (r < 21000.0) {
        h += 3776.0 * std::pow(1.0 - r / 21000.0, 1.8);
        if (r < 350.0) h -= 220.0 * (1.0 - r / 350.0);  // the crater
        h += 40.0 * Fbm(u, v, 900.0, 3, 17) * SmoothStep(21000.0, 8000.0, r);
    }
    // The river has cut its valley.
    const double fromRiver = std::fabs(u - river);
    h *= Mix(0.35, 1.0, SmoothStep(RiverBedHalfWidth(v), 900.0, fromRiver));
    return h;
}

/// Where the ground has relief worth shading: the hills and the volcano.
bool Rugged(double u, double v, double coast) {
    return v - coast > kPlainWidth || std::hypot(u - kVolcanoU, v - kVolcanoV) < 21000.0;
}

/// Heights of the rugged ground on a square lattice, each node computed once
/// and kept in a direct-mapped cache; heights and slopes between the nodes
/// are interpolated, so that a pixel costs a few look-ups instead of three
/// full evaluations.  What the cache holds never changes a result.  Not for
/// use by two threads at once.
class Terrain {
public:
    explicit Terrain(double spacing) : spacing_(spacing), slots_(kSlots) {}

    /// Height at (u, v): the four nodes around it interpolated.
    double Height(double u, double v) const {
        const double fx = u / spacing_, fy = v / spacing_;
        const double x0 = std::floor(fx), y0 = std::floor(fy);
        const int32_t i = static_cast<int32_t>(x0), j = static_cast<int32_t>(y0);
        const double tx = fx - x0, ty = fy - y0;
        return Mix(Mix(Node(i, j), Node(i + 1, j), tx), Mix(Node(i, j + 1), Node(i + 1, j + 1), tx), ty);
    }

    /// Height and its slope (dh/du, dh/dv) at (u, v).
    void Sample(double u, double v, double& height, double& slopeU, double& slopeV) const {
        const double fx = u / spacing_, fy = v / spacing_;
        const double x0 = std::floor(fx), y0 = std::floor(fy);
        const int32_t i = static_cast<int32_t>(x0), j = static_cast<int32_t>(y0);
        const double tx = fx - x0, ty = fy - y0;
        // Nodes i-1 .. i+2 by j-1 .. j+2 less the four corners: n[a][b] is node (i+a-1, j+b-1).
        double n[4][4] = {};
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b)
                if ((a == 0 || a == 3) + (b == 0 || b == 3) < 2) n[a][b] = Node(i + a - 1, j + b - 1);
        auto bilinear = [&](double p00, double p10, double p01, double p11) {
            return Mix(Mix(p00, p10, tx), Mix(p01, p11, tx), ty);
        };
        height = bilinear(n[1][1], n[2][1], n[1][2], n[2][2]);
        auto gu = [&](int a, int b) { return (n[a + 1][b] - n[a - 1][b]) / (2.0 * spacing_); };
        auto gv = [&](int a, int b) { return (n[a][b + 1] - n[a][b - 1]) / (2.0 * spacing_); };
        slopeU = bilinear(gu(1, 1), gu(2, 1), gu(1, 2), gu(2, 2));
        slopeV = bilinear(gv(1, 1), gv(2, 1), gv(1, 2), gv(2, 2));
    }

private:
    static constexpr size_t kSlots = size_t{1} << 18;
    struct Slot {
        int32_t i = INT32_MIN;
        int32_t j = 0;
        double height = 0;
    };

    double Node(int32_t i, int32_t j) const {
        Slot& slot = slots_[Hash(i, j, 131) & (kSlots - 1)];
        if (slot.i != i || slot.j != j) {
            const double u = i * spacing_, v = j * spacing_;
            slot = {i, j, Elevation(u, v, CoastNorthing(u), RiverEasting(v))};
        }
        return slot.height;
    }

    double spacing_;
    mutable std::vector<Slot> slots_;
};

double TownWeight(double u, double v) {
    double weight = 0;
    for (const Town& t : kTowns) {
        const double d = std::hypot(u - t.u, (v - t.v) * 1.3);
        weight = std::max(weight, 1.0 - SmoothStep(0.55 * t.radius, t.radius, d));
    }
    return weight;
}

/// A town block: streets on a grid turned 15 degrees, lots of houses,
/// some parks and large factory roofs.
Reflectance TownSurface(double u, double v) {
    const double c = std::cos(15.0 * kDeg), s = std::sin(15.0 * kDeg);
    const double a = u * c - v * s, b = u * s + v * c;
    const double blockA = 110.0, blockB = 85.0;
    const double ia = std::floor(a / blockA), ib = std::floor(b / blockB);
    const double ra = a - ia * blockA, rb = b - ib * blockB;
    const bool arterial = static_cast<int>(ia) % 5 == 0 || static_cast<int>(ib) % 6 == 0;
    const double street = arterial ? 14.0 : 8.0;
    if (ra < street || rb < street) return kAsphalt;
    const uint32_t block = Hash(static_cast<int32_t>(ia), static_cast<int32_t>(ib), 31);
    if (block % 100 < 8) return Blend(kGrass, kForest, ValueNoise(u / 12.0, v / 12.0, 37));  // park
    if (block % 100 < 14) return Blend(kRoofs[3], kConcrete, (block >> 8) % 2 ? 0.2 : 0.8);  // factory
    if (block % 100 < 17) return kConcrete;  // a car park
    // Houses on lots of about 22 by 20 metres, gardens between them.
    const double la = std::floor((ra - street) / 22.0), lb = std::floor((rb - street) / 20.0);
    const double pa = ra - street - la * 22.0, pb = rb - street - lb * 20.0;
    const uint32_t lot = Hash(static_cast<int32_t>(ia * 16 + la), static_cast<int32_t>(ib * 16 + lb), 41);
    if (pa > 17.0 || pb > 15.0) return Blend(kGrass, kConcrete, 0.5);
    return kRoofs[lot % 6];
}

/// Fields on a grid turned 20 degrees: paddies (mostly harvested in
/// October), vegetables, tea, greenhouses, bare soil, with paths between.
Reflectance FieldSurface(double u, double v, double height) {
    const double c = std::cos(20.0 * kDeg), s = std::sin(20.0 * kDeg);
    const double a = u * c + v * s, b = -u * s + v * c;
    const double fa = 150.0, fb = 95.0;
    const double ia = std::floor(a / fa), ib = std::floor(b / fb);
    const double ra = a - ia * fa, rb = b - ib * fb;
    if (ra < 3.0 || rb < 3.0) return kGrass;
    const uint32_t field = Hash(static_cast<int32_t>(ia), static_cast<int32_t>(ib), 53);
    const double texture = 0.92 + 0.16 * ValueNoise(u / 9.0, v / 9.0, 59);
    unsigned kind = field % 100;
    if (height > 50.0) kind = kind < 55 ? 78 : kind;  // tea on the lower slopes
    Reflectance r;
    if (kind < 35)
        r = kHarvestedPaddy;
    else if (kind < 47)
        r = kRipePaddy;
    else if (kind < 65)
        r = kVegetables;
    else if (kind < 75)
        r = kBareSoil;
    else if (kind < 87)
        r = kTea;
    else if (kind < 89 && ra > 40.0 && rb > 30.0)
        r = kGreenhouse;
    else
        r = Blend(kGrass, kForest, 0.5);  // orchard
    // A farmhouse in the corner of some fields.
    if (field % 7 == 0 && ra > fa - 18.0 && rb > fb - 16.0) r = kRoofs[(field >> 8) % 6];
    return Scale(r, texture);
}

/// The surface at (u, v) and the factor of its illumination.
struct GroundSample {
    Reflectance reflectance;
    double shade;
};

GroundSample Surface(double u, double v, const Terrain& terrain) {
    const double coast = CoastNorthing(u);
    const double river = RiverEasting(v);
    const double riverHalf = RiverBedHalfWidth(v);
    const double fromRiver = std::fabs(u - river);

    if (v < coast) {  // the sea
        const double offshore = coast - v;
        if (offshore < 10.0 + 10.0 * ValueNoise(u / 40.0, 0.0, 61)) return {kSurf, 1.0};
        Reflectance sea = Blend(kClearWater, kDeepWater, SmoothStep(300.0, 6000.0, offshore));
        const double mouth = std::hypot(u - RiverEasting(coast), (v - coast) * 1.4);
        const double plume = std::exp(-mouth / 2200.0) * (0.7 + 0.6 * ValueNoise(u / 450.0, v / 450.0, 67));
        sea = Blend(sea, kTurbidWater, std::clamp(plume, 0.0, 1.0));
        const double waves = 1.0 + 0.06 * Fbm(u, v * 3.0, 60.0, 2, 71);
        return {Scale(sea, waves), 1.0};
    }

    // Illumination of the slope by the morning sun; the plain is flat enough
    // to leave unshaded.
    double height = 0, shade = 1.0;
    if (!Rugged(u, v, coast)) {
        height = Elevation(u, v, coast, river);
    } else {
        double hx, hy;
        terrain.Sample(u, v, height, hx, hy);
        const double sx = std::sin(kSunAzimuth) * std::cos(kSunElevation);
        const double sy = std::cos(kSunAzimuth) * std::cos(kSunElevation);
        const double sz = std::sin(kSunElevation);
        const double lit = (-hx * sx - hy * sy + sz) / std::sqrt(hx * hx + hy * hy + 1.0);
        shade = std::clamp(0.1 + 0.9 * lit / sz, 0.1, 1.8);
    }

    // Roads and the railway cross the river on bridges.
    const double toHighway = std::fabs(v - HighwayNorthing(u, coast));
    if (toHighway < 11.0 && height < 200.0) return {toHighway < 1.0 ? kConcrete : kAsphalt, 1.0};
    if (std::fabs(v - RailwayNorthing(coast)) < 5.0 && height < 200.0) return {kRailBed, 1.0};
    const double mainRoad = std::fabs(u - MainRoadEasting(v));
    if (mainRoad < 8.0 && v < 9000.0) return {kAsphalt, shade};

    if (fromRiver < riverHalf) {  // the gravel bed with braided channels
        const double across = (u - river) / riverHalf;
        const double braid = std::sin(across * 4.0 + 3.0 * Fbm(u, v, 700.0, 2, 73));
        const bool channel = std::fabs(across) < 0.22 || braid > 0.62;
        return {channel ? kRiverWater : Scale(kGravel, 0.9 + 0.2 * ValueNoise(u / 15.0, v / 15.0, 79)), 1.0};
    }
    if (v - coast < 55.0 + 20.0 * ValueNoise(u / 80.0, 1.0, 83)) return {kSand, 1.0};

    if (height > 3250.0 + 80.0 * Fbm(u, v, 300.0, 2, 89)) {
        // Sastrugi: ridges of wind-packed snow a few metres apart and tens
        // of metres long, across the westerly wind, their faces turned
        // towards the sun or away from it.
        const double across = 0.94 * u + 0.34 * v, along = -0.34 * u + 0.94 * v;
        const double ridges = 2.0 * ValueNoise(across / 4.0, along / 15.0, 151) - 1.0;
        return {kSnow, shade * (1.0 + 0.06 * ridges)};
    }
    if (height > 2300.0) {  // lava flows and scoria: patches of tens of metres, blocks of a few
        const double flows = 0.85 + 0.3 * ValueNoise(u / 60.0, v / 60.0, 97);
        const double blocks = 0.8 + 0.25 * Fbm(u, v, 12.0, 3, 131) + 0.3 * ValueNoise(u / 4.0, v / 4.0, 137);
        return {Scale(kVolcanicRock, flows * blocks), shade};
    }

    // Towns fray into their fields: scattered houses at the edge.
    const double town = TownWeight(u, v) + 0.9 * Fbm(u, v, 900.0, 3, 101);
    if (town > 0.5 && height < 120.0) return {TownSurface(u, v), 1.0};
    if (town > 0.3 && height < 120.0 && Hash(static_cast<int32_t>(std::floor(u / 25.0)),
                                              static_cast<int32_t>(std::floor(v / 22.0)), 113) % 100 < 30)
        return {TownSurface(u, v), 1.0};
    if (height < 110.0 + 50.0 * Fbm(u, v, 1500.0, 2, 103)) return {FieldSurface(u, v, height), shade};

    // Forest: crowns of about 8 metres, evergreen with autumn patches.
    const double crowns = 0.8 + 0.4 * ValueNoise(u / 8.0, v / 8.0, 107);
    const double autumn = SmoothStep(0.2, 0.7, Fbm(u, v, 1200.0, 3, 109));
    return {Scale(Blend(kForest, kAutumnForest, autumn), crowns), shade};
}

// --------------------------------------------------------------- geodesy --

struct Kruger {
    double n, a, e;
    double alpha[3], beta[3], delta[3];
    Kruger() {
        n = kFlattening / (2.0 - kFlattening);
        const double n2 = n * n, n3 = n2 * n;
        a = kSemiMajor / (1.0 + n) * (1.0 + n2 / 4.0 + n2 * n2 / 64.0);
        e = 2.0 * std::sqrt(n) / (1.0 + n);
        alpha[0] = n / 2.0 - 2.0 * n2 / 3.0 + 5.0 * n3 / 16.0;
        alpha[1] = 13.0 * n2 / 48.0 - 3.0 * n3 / 5.0;
        alpha[2] = 61.0 * n3 / 240.0;
        beta[0] = n / 2.0 - 2.0 * n2 / 3.0 + 37.0 * n3 / 96.0;
        beta[1] = n2 / 48.0 + n3 / 15.0;
        beta[2] = 17.0 * n3 / 480.0;
        delta[0] = 2.0 * n - 2.0 * n2 / 3.0 - 2.0 * n3;
        delta[1] = 7.0 * n2 / 3.0 - 8.0 * n3 / 5.0;
        delta[2] = 56.0 * n3 / 15.0;
    }
};

const Kruger& KrugerSeries() {
    static const Kruger k;
    return k;
}

double CentralMeridian(int zone) { return (6.0 * zone - 183.0) * kDeg; }

// ------------------------------------------------------------------ time --

/// Days since 1970-01-01 of a civil date.
long DaysFromCivil(long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

/// Greenwich mean sidereal angle in degrees at a second of the scene's day.
double GreenwichAngle(double secondOfDay) {
    const double julian = DaysFromCivil(kYear, kMonth, kDay) + 2440587.5 + secondOfDay / 86400.0;
    return std::fmod(280.46061837 + 360.98564736629 * (julian - 2451545.0), 360.0);
}

/// hhmmss.ffffff of a second of the day.
double ClockTime(double secondOfDay) {
    const int hour = static_cast<int>(secondOfDay / 3600.0);
    const int minute = static_cast<int>((secondOfDay - hour * 3600.0) / 60.0);
    const double second = secondOfDay - hour * 3600.0 - minute * 60.0;
    return hour * 10000.0 + minute * 100.0 + second;
}

struct Vec3 {
    double x, y, z;
};
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double k, Vec3 a) { return {k * a.x, k * a.y, k * a.z}; }
double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec3 Unit(Vec3 a) { return (1.0 / std::sqrt(Dot(a, a))) * a; }
Vec3 RotateZ(Vec3 a, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return {c * a.x - s * a.y, s * a.x + c * a.y, a.z};
}

}  // namespace

// ---------------------------------------------------------------- public --

void GeographicToUtm(double latitude, double longitude, int zone, bool north, double& easting,
                     double& northing) {
    const Kruger& k = KrugerSeries();
    const double phi = latitude * kDeg;
    const double lambda = longitude * kDeg - CentralMeridian(zone);
    const double t = std::sinh(std::atanh(std::sin(phi)) - k.e * std::atanh(k.e * std::sin(phi)));
    const double xi = std::atan2(t, std::cos(lambda));
    const double eta = std::atanh(std::sin(lambda) / std::sqrt(1.0 + t * t));
    double x = eta, y = xi;
    for (int j = 1; j <= 3; ++j) {
        x += k.alpha[j - 1] * std::cos(2 * j * xi) * std::sinh(2 * j * eta);
        y += k.alpha[j - 1] * std::sin(2 * j * xi) * std::cosh(2 * j * eta);
    }
    easting = kFalseEasting + kUtmScale * k.a * x;
    northing = (north ? 0.0 : kFalseNorthingSouth) + kUtmScale * k.a * y;
}

void UtmToGeographic(double easting, double northing, int zone, bool north, double& latitude,
                     double& longitude) {
    const Kruger& k = KrugerSeries();
    const double xi = (northing - (north ? 0.0 : kFalseNorthingSouth)) / (kUtmScale * k.a);
    const double eta = (easting - kFalseEasting) / (kUtmScale * k.a);
    double xiP = xi, etaP = eta;
    for (int j = 1; j <= 3; ++j) {
        xiP -= k.beta[j - 1] * std::sin(2 * j * xi) * std::cosh(2 * j * eta);
        etaP -= k.beta[j - 1] * std::cos(2 * j * xi) * std::sinh(2 * j * eta);
    }
    const double chi = std::asin(std::sin(xiP) / std::cosh(etaP));
    double phi = chi;
    for (int j = 1; j <= 3; ++j) phi += k.delta[j - 1] * std::sin(2 * j * chi);
    latitude = phi / kDeg;
    longitude = (CentralMeridian(zone) + std::atan2(std::sinh(etaP), std::cos(xiP))) / kDeg;
}



namespace {

/// A pushbroom line is not quite straight: it bends along the track by this
/// fraction of half the swath at its edges (about 3 pixels on a full PRISM
/// line), as a real focal plane's line of detectors does.
constexpr double kLineBend = 0.0002;

/// The terrain lies between these heights above the ellipsoid (metres).
constexpr double kLowestGround = -100.0;
constexpr double kHighestGround = 4500.0;
/// A traced height is this close to the terrain's (metres).
constexpr double kHeightTolerance = 0.005;

/// State vector of the sample's orbit at t seconds after the scene centre
/// time, Earth-fixed (metres, metres per second): over position0 at t = 0,
/// moving along0 (inertial).
StateVector OrbitAt(double t, Vec3 position0, Vec3 along0) {
    const double radius = std::sqrt(Dot(position0, position0));
    const double speed = std::sqrt(kEarthGm / radius);
    const double angle = speed / radius * t;
    const Vec3 inertial = (radius * std::cos(angle)) * Unit(position0) + (radius * std::sin(angle)) * along0;
    const Vec3 inertialVelocity = (-speed * std::sin(angle)) * Unit(position0) + (speed * std::cos(angle)) * along0;
    // The Earth turns beneath: rotate into the Earth-fixed frame of time t.
    const Vec3 p = RotateZ(inertial, -kEarthRotation * t);
    const Vec3 v = RotateZ(inertialVelocity, -kEarthRotation * t) + Cross({0, 0, -kEarthRotation}, p);
    return {p.x, p.y, p.z, v.x, v.y, v.z};
}

/// Earth-fixed position of a point on GRS80 at the given height.
Vec3 EarthFixed(double latitude, double longitude, double height) {
    const double e2 = kFlattening * (2.0 - kFlattening);
    const double phi = latitude * kDeg, lambda = longitude * kDeg;
    const double n = kSemiMajor / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
    return {(n + height) * std::cos(phi) * std::cos(lambda), (n + height) * std::cos(phi) * std::sin(lambda),
            (n * (1.0 - e2) + height) * std::sin(phi)};
}

/// Geodetic latitude, longitude (degrees) and height of an Earth-fixed point.
void Geodetic(Vec3 p, double& latitude, double& longitude, double& height) {
    const double e2 = kFlattening * (2.0 - kFlattening);
    const double r = std::hypot(p.x, p.y);
    double phi = std::atan2(p.z, r * (1.0 - e2)), n = kSemiMajor;
    for (int i = 0; i < 6; ++i) {
        n = kSemiMajor / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
        phi = std::atan2(p.z + e2 * n * std::sin(phi), r);
    }
    n = kSemiMajor / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
    latitude = phi / kDeg;
    longitude = std::atan2(p.y, p.x) / kDeg;
    height = r * std::cos(phi) + p.z * std::sin(phi) - n * (1.0 - e2 * std::sin(phi) * std::sin(phi));
}

/// The ellipsoid's outward normal at a latitude and longitude.
Vec3 Normal(double latitude, double longitude) {
    const double phi = latitude * kDeg, lambda = longitude * kDeg;
    return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

/// Where the ray from s (outside) along the unit vector d first reaches the
/// height h above the ellipsoid: its meeting with the ellipsoid raised by h,
/// raised further until the point's height is h.  False when it misses.
bool PointAtHeight(Vec3 s, Vec3 d, double h, Vec3& point) {
    double raise = h;
    for (int i = 0; i < 10; ++i) {
        const double a = kSemiMajor + raise, b = kSemiMajor * (1.0 - kFlattening) + raise;
        const double qa = (d.x * d.x + d.y * d.y) / (a * a) + d.z * d.z / (b * b);
        const double qb = 2.0 * ((s.x * d.x + s.y * d.y) / (a * a) + s.z * d.z / (b * b));
        const double qc = (s.x * s.x + s.y * s.y) / (a * a) + s.z * s.z / (b * b) - 1.0;
        const double discriminant = qb * qb - 4.0 * qa * qc;
        if (!(discriminant >= 0 && qb < 0)) return false;
        point = s + (qc / (-0.5 * (qb - std::sqrt(discriminant)))) * d;
        double latitude, longitude, height;
        Geodetic(point, latitude, longitude, height);
        if (std::fabs(height - h) < 1e-5) break;
        raise += h - height;
    }
    return true;
}

/// Quaternion (x, y, z, w) of a rotation matrix given row after row.
std::array<double, 4> Quaternion(const double m[3][3]) {
    const double w = std::sqrt(std::max(0.0, 1.0 + m[0][0] + m[1][1] + m[2][2])) / 2.0;
    const double x = std::copysign(std::sqrt(std::max(0.0, 1.0 + m[0][0] - m[1][1] - m[2][2])) / 2.0, m[2][1] - m[1][2]);
    const double y = std::copysign(std::sqrt(std::max(0.0, 1.0 - m[0][0] + m[1][1] - m[2][2])) / 2.0, m[0][2] - m[2][0]);
    const double z = std::copysign(std::sqrt(std::max(0.0, 1.0 - m[0][0] - m[1][1] + m[2][2])) / 2.0, m[1][0] - m[0][1]);
    return {x, y, z, w};
}

/// The satellite's orbital frame: z to its nadir (along the ellipsoid's
/// normal beneath it), x along its Earth-fixed velocity (the satellite
/// steers its yaw to it), y = z × x (to the right of the track).
struct OrbitalFrame {
    Vec3 x, y, z;
    explicit OrbitalFrame(const StateVector& s) {
        double latitude, longitude, height;
        Geodetic({s.x, s.y, s.z}, latitude, longitude, height);
        z = -1.0 * Normal(latitude, longitude);
        const Vec3 v = {s.vx, s.vy, s.vz};
        x = Unit(v + (-Dot(v, z)) * z);
        y = Cross(z, x);
    }
};

/// The landscape's origin (u = v = 0) in UTM.
void LandOrigin(double& easting, double& northing) {
    static const std::array<double, 2> origin = [] {
        std::array<double, 2> o{};
        GeographicToUtm(kOriginLatitude, kOriginLongitude, kZone, true, o[0], o[1]);
        return o;
    }();
    easting = origin[0];
    northing = origin[1];
}

/// Terrain height above the ellipsoid at landscape position (u, v).
double TrueHeight(double u, double v) {
    double easting, northing, latitude, longitude;
    LandOrigin(easting, northing);
    UtmToGeographic(easting + u, northing + v, kZone, true, latitude, longitude);
    return Elevation(u, v, CoastNorthing(u), RiverEasting(v)) + SampleScene::GeoidUndulation(latitude, longitude);
}

/// The height at which a ray first meets the terrain.  probe(h) gives the
/// terrain's height under the ray's point at height h.  Secant steps from
/// the seed (e.g. a neighbour's height) converge where the terrain's
/// slope along the ray is gentler than the ray; where it is not (a grazing
/// ray, a slope hidden behind a ridge) or the iteration stalls, the ray is
/// followed down from above the highest terrain to its first point below
/// the ground, and the crossing is found by bisection.
template <class Probe>
double TraceHeight(const Probe& probe, double seed) {
    double h0 = std::clamp(seed, kLowestGround, kHighestGround);
    double f0 = probe(h0) - h0;
    if (std::fabs(f0) < kHeightTolerance) return h0;
    double h1 = std::clamp(h0 + f0, kLowestGround, kHighestGround);  // a first step to the terrain's height
    for (int i = 0; i < 12; ++i) {
        const double f1 = probe(h1) - h1;
        if (std::fabs(f1) < kHeightTolerance) return h1;
        // The terrain's rate of change along the ray, with height.
        const double rate = 1.0 + (f1 - f0) / (h1 - h0);
        if (!(rate < 0.9)) break;  // the ray grazes the slope
        h0 = h1, f0 = f1;
        h1 = std::clamp(h1 + f1 / (1.0 - rate), kLowestGround, kHighestGround);
    }
    double above = kHighestGround, below = kLowestGround;
    for (double h = kHighestGround - 10.0; h > kLowestGround; h -= 10.0) {
        if (probe(h) >= h) {
            below = h;
            break;
        }
        above = h;
    }
    for (int i = 0; i < 40 && above - below > kHeightTolerance; ++i) {
        const double middle = (above + below) / 2.0;
        (probe(middle) >= middle ? below : above) = middle;
    }
    return (above + below) / 2.0;
}

}  // namespace

/// The product's geometry and the rendering of its pixels.
struct SampleScene::Geometry {
    SampleOptions options;
    bool prism = true;
    bool sensorGeometry = true;  // Level 1A/1B1; Level 1B2 is a north-up UTM grid
    double pixelSize = 2.5;      // metres on the ground
    int width = 0, height = 0;   // the assembled raster
    int bands = 1;
    // Image files.
    int pixelsPerLine = 0;  // dummy pixels included
    int fileLines = 0;
    std::vector<int> left, right;
    std::vector<int> firstColumn;  // raster column of each file's first valid pixel
    int stagger = 0;               // AVNIR-2 1A/1B1: lines the odd detectors trail
    std::vector<double> rowShift;  // PRISM 1A/1B1: rows each file's are imaged later (fractions too)

    // The sensor: the view's angle ahead (radians), its pointing across the
    // track and the small bias that makes its centre ray meet the scene's
    // centre, the angle between neighbouring detectors, the line period
    // and the time of row 0 (seconds after kCentreSecondOfDay).  Level 1B2
    // is resampled from such a sensor of the grid's size.
    double viewAlong = 0, pointing = 0, crossBias = 0, ifov = 0;
    double lineInterval = 0, startTime = 0;
    // The orbit: over position0 at kCentreSecondOfDay, moving along0.
    Vec3 position0{}, along0{};
    // The landscape's origin in UTM; Level 1B2: the grid's centre.
    double landEasting = 0, landNorthing = 0;
    double gridEasting = 0, gridNorthing = 0;

    // For rendering: every `nodeStep` pixels the ray's landscape position
    // as a quadratic in height (u = u[0] + u[1] h + u[2] h²) and the height
    // where it meets the terrain, interpolated between the nodes (the
    // heights as each pixel's first guess, so that a pixel's value never
    // depends on which was rendered before); the geoid as a linear map of
    // the landscape to latitude and longitude; the terrain's heights on a
    // lattice.
    struct Node {
        double u[3], v[3];
        double height;
    };
    static constexpr int kNodeStep = 32;
    double nodeColumn0 = 0, nodeRow0 = 0;
    int nodeColumns = 0, nodeRows = 0;
    std::vector<Node> nodes;
    double geoidLatitude[3] = {}, geoidLongitude[3] = {};  // value at origin, per u, per v
    std::unique_ptr<Terrain> terrain;                    // nodes two pixels apart

    // ---------------------------------------------------------- sensor --

    StateVector Satellite(double t) const { return OrbitAt(t, position0, along0); }

    double RowTime(double row) const { return startTime + row * lineInterval; }

    /// PRISM 1A/1B1: the file whose pixel the raster shows at column (the
    /// files after the first from their 33rd valid pixel on); 0 otherwise.
    int FileOfColumn(double column) const {
        if (!prism || !sensorGeometry) return 0;
        for (int k = static_cast<int>(firstColumn.size()) - 1; k > 0; --k)
            if (column >= firstColumn[k] + kPrismOverlap - 0.5) return k;
        return 0;
    }
    /// The rows the file's row `row` is imaged later than row `row` of the
    /// first file (its time tags say so).
    double ShiftOf(int file) const {
        return file >= 0 && static_cast<size_t>(file) < rowShift.size() ? rowShift[file] : 0.0;
    }
    double LargestShift() const {
        double most = 0;
        for (double shift : rowShift) most = std::max(most, std::ceil(std::fabs(shift)));
        return most;
    }

    /// The look of the detector at raster column `column`: its angle ahead
    /// (the view's, and the line's bend) and across (its place in the line
    /// through the optics, the pointing and the bias), in the frame.
    Vec3 Look(const OrbitalFrame& f, double column) const {
        const double a = column - (width - 1) / 2.0;
        const double half = std::max(1.0, (width - 1) / 2.0), s = a / half;
        const double along = viewAlong + kLineBend * half * ifov * s * s;
        const double across = pointing + crossBias + std::atan(-a * ifov);  // columns run to the left
        return std::cos(along) * (std::cos(across) * f.z + std::sin(across) * f.y) + std::sin(along) * f.x;
    }

    /// The time (after the scene centre time) and raster column at which
    /// the sensor sees the Earth-fixed point p, from a first guess of the
    /// time; false if the search fails.
    bool Seeing(Vec3 p, double& t, double& column) const {
        const double half = std::max(1.0, (width - 1) / 2.0);
        auto misfit = [&](double time, double& c) {
            const StateVector s = Satellite(time);
            const OrbitalFrame f(s);
            const Vec3 w = Unit(p - Vec3{s.x, s.y, s.z});
            const double across = std::atan2(Dot(w, f.y), Dot(w, f.z));
            const double a = -std::tan(across - pointing - crossBias) / ifov;
            c = a + (width - 1) / 2.0;
            const double along = viewAlong + kLineBend * half * ifov * (a / half) * (a / half);
            return std::asin(std::clamp(Dot(w, f.x), -1.0, 1.0)) - along;
        };
        for (int i = 0; i < 40; ++i) {
            double c1;
            const double f0 = misfit(t, column), f1 = misfit(t + 1e-3, c1);
            if (!std::isfinite(f0) || !(f1 != f0)) return false;
            const double step = std::clamp(f0 * 1e-3 / (f0 - f1), -60.0, 60.0);
            t += step;
            if (std::fabs(step) < 1e-9) {
                misfit(t, column);
                return std::isfinite(column);
            }
        }
        return false;
    }

    /// Level 1B2: the UTM position of grid position (column, row).
    void GridToUtm(double column, double row, double& easting, double& northing) const {
        easting = gridEasting + (column + 0.5 - width / 2.0) * pixelSize;
        northing = gridNorthing + (height / 2.0 - row - 0.5) * pixelSize;
    }

    /// The ray of raster pixel (column, row): the satellite, the unit look.
    bool PixelRay(double column, double row, Vec3& from, Vec3& look) const {
        return FileRay(FileOfColumn(column), column, row, from, look);
    }
    /// The same as seen by the given file (PRISM 1A/1B1 CCDs may see a row
    /// at different times).
    bool FileRay(int file, double column, double row, Vec3& from, Vec3& look) const {
        if (sensorGeometry) {
            const StateVector s = Satellite(RowTime(row + ShiftOf(file)));
            from = {s.x, s.y, s.z};
            look = Look(OrbitalFrame(s), column);
            return true;
        }
        // Level 1B2: the ray from where the satellite saw the grid position.
        double easting, northing, latitude, longitude, t = RowTime(row), c;
        GridToUtm(column, row, easting, northing);
        UtmToGeographic(easting, northing, kZone, true, latitude, longitude);
        const Vec3 ground = EarthFixed(latitude, longitude, 0.0);
        if (!Seeing(ground, t, c)) return false;
        const StateVector s = Satellite(t);
        from = {s.x, s.y, s.z};
        look = Unit(ground - from);
        return true;
    }

    /// The UTM position where the ray of raster pixel (column, row), as the
    /// file sees it, meets the ellipsoid (Level 1B2: the grid position).
    void EllipsoidUtm(int file, double column, double row, double& easting, double& northing) const {
        if (!sensorGeometry) return GridToUtm(column, row, easting, northing);
        const StateVector s = Satellite(RowTime(row + ShiftOf(file)));
        double u = NAN, v = NAN;
        RayAt({s.x, s.y, s.z}, Look(OrbitalFrame(s), column), 0.0, u, v);
        easting = landEasting + u;
        northing = landNorthing + v;
    }

    /// The ray's point at height h as a landscape position (u, v), exactly.
    bool RayAt(Vec3 from, Vec3 look, double h, double& u, double& v, double* latitude = nullptr,
               double* longitude = nullptr) const {
        Vec3 p;
        if (!PointAtHeight(from, look, h, p)) return false;
        double lat, lon, height, easting, northing;
        Geodetic(p, lat, lon, height);
        GeographicToUtm(lat, lon, kZone, true, easting, northing);
        u = easting - landEasting;
        v = northing - landNorthing;
        if (latitude) *latitude = lat;
        if (longitude) *longitude = lon;
        return true;
    }

    // ----------------------------------------------------------- truth --

    /// Where the ray of raster pixel (column, row) first meets the
    /// terrain, computed exactly (no lattice, no interpolation).
    GroundPoint Ground(double column, double row) const {
        Vec3 from, look;
        GroundPoint point{NAN, NAN, NAN};
        if (!PixelRay(column, row, from, look)) return point;
        auto probe = [&](double h) {
            double u, v;
            return RayAt(from, look, h, u, v) ? TrueHeight(u, v) : h;
        };
        double u, v;
        point.height = TraceHeight(probe, 0.0);
        RayAt(from, look, point.height, u, v, &point.latitude, &point.longitude);
        return point;
    }

    // ------------------------------------------------------- rendering --

    /// The ray quadratics at the nodes, every kNodeStep pixels over the
    /// raster and a node beyond its edges (AVNIR-2 odd detectors reach
    /// `stagger` rows beyond).
    void MakeNodes() {
        nodeColumn0 = -kNodeStep;
        const int margin = stagger + static_cast<int>(LargestShift());
        nodeRow0 = -kNodeStep - margin;
        nodeColumns = (width + 2 * kNodeStep) / kNodeStep + 2;
        nodeRows = (height + 2 * margin + 2 * kNodeStep) / kNodeStep + 2;
        nodes.assign(static_cast<size_t>(nodeColumns) * nodeRows, Node{});
        constexpr double kHeights[3] = {0.0, 2500.0, 5000.0};
        double seen = RowTime(nodeRow0), c = 0;
        for (int j = 0; j < nodeRows; ++j) {
            const double row = nodeRow0 + j * kNodeStep;
            const StateVector s = Satellite(RowTime(row));
            const OrbitalFrame frame(s);
            for (int i = 0; i < nodeColumns; ++i) {
                const double column = nodeColumn0 + i * kNodeStep;
                Vec3 from, look;
                if (sensorGeometry) {
                    from = {s.x, s.y, s.z};
                    look = Look(frame, column);
                } else {
                    double easting, northing, latitude, longitude;
                    GridToUtm(column, row, easting, northing);
                    UtmToGeographic(easting, northing, kZone, true, latitude, longitude);
                    const Vec3 ground = EarthFixed(latitude, longitude, 0.0);
                    if (i == 0) seen = RowTime(row);
                    if (!Seeing(ground, seen, c)) throw std::runtime_error("sample geometry: no time sees the grid");
                    const StateVector at = Satellite(seen);
                    from = {at.x, at.y, at.z};
                    look = Unit(ground - from);
                }
                double u[3], v[3];
                for (int k = 0; k < 3; ++k)
                    if (!RayAt(from, look, kHeights[k], u[k], v[k]))
                        throw std::runtime_error("sample geometry: a ray misses the Earth");
                Node& n = nodes[static_cast<size_t>(j) * nodeColumns + i];
                const double step = kHeights[1];
                n.u[0] = u[0];
                n.u[1] = (4.0 * u[1] - 3.0 * u[0] - u[2]) / (2.0 * step);
                n.u[2] = (u[2] - 2.0 * u[1] + u[0]) / (2.0 * step * step);
                n.v[0] = v[0];
                n.v[1] = (4.0 * v[1] - 3.0 * v[0] - v[2]) / (2.0 * step);
                n.v[2] = (v[2] - 2.0 * v[1] + v[0]) / (2.0 * step * step);
            }
        }
        // The geoid's latitude and longitude as linear in (u, v) about the
        // scene (metres off within 40 km: millimetres of undulation).
        double latitude, longitude, la, lo;
        UtmToGeographic(gridEasting, gridNorthing, kZone, true, latitude, longitude);
        const double u0 = gridEasting - landEasting, v0 = gridNorthing - landNorthing;
        UtmToGeographic(gridEasting + 1000.0, gridNorthing, kZone, true, la, lo);
        geoidLatitude[1] = (la - latitude) / 1000.0, geoidLongitude[1] = (lo - longitude) / 1000.0;
        UtmToGeographic(gridEasting, gridNorthing + 1000.0, kZone, true, la, lo);
        geoidLatitude[2] = (la - latitude) / 1000.0, geoidLongitude[2] = (lo - longitude) / 1000.0;
        geoidLatitude[0] = latitude - u0 * geoidLatitude[1] - v0 * geoidLatitude[2];
        geoidLongitude[0] = longitude - u0 * geoidLongitude[1] - v0 * geoidLongitude[2];
        for (Node& n : nodes) n.height = TraceHeight([&](double h) { return TerrainUnder(n.u, n.v, h); }, 0.0);
    }

    /// The terrain's height (lattice and geoid) under the point at height h
    /// of the ray with landscape position (qu, qv) as quadratics in height.
    double TerrainUnder(const double qu[3], const double qv[3], double h) const {
        const double x = qu[0] + h * (qu[1] + h * qu[2]), y = qv[0] + h * (qv[1] + h * qv[2]);
        const double latitude = geoidLatitude[0] + x * geoidLatitude[1] + y * geoidLatitude[2];
        const double longitude = geoidLongitude[0] + x * geoidLongitude[1] + y * geoidLongitude[2];
        return terrain->Height(x, y) + SampleScene::GeoidUndulation(latitude, longitude);
    }

    /// The landscape position raster pixel (column, row) shows, traced on
    /// the terrain's lattice along the interpolated ray.
    void Trace(double column, double row, double& u, double& v) const {
        const double fx = (column - nodeColumn0) / kNodeStep, fy = (row - nodeRow0) / kNodeStep;
        const int i = std::clamp(static_cast<int>(std::floor(fx)), 0, nodeColumns - 2);
        const int j = std::clamp(static_cast<int>(std::floor(fy)), 0, nodeRows - 2);
        const double tx = fx - i, ty = fy - j;
        const Node* n = &nodes[static_cast<size_t>(j) * nodeColumns + i];
        const Node& a = n[0];
        const Node& b = n[1];
        const Node& c = n[nodeColumns];
        const Node& d = n[nodeColumns + 1];
        double qu[3], qv[3];
        for (int k = 0; k < 3; ++k) {
            qu[k] = Mix(Mix(a.u[k], b.u[k], tx), Mix(c.u[k], d.u[k], tx), ty);
            qv[k] = Mix(Mix(a.v[k], b.v[k], tx), Mix(c.v[k], d.v[k], tx), ty);
        }
        const double seed = Mix(Mix(a.height, b.height, tx), Mix(c.height, d.height, tx), ty);
        const double h = TraceHeight([&](double height) { return TerrainUnder(qu, qv, height); }, seed);
        u = qu[0] + h * (qu[1] + h * qu[2]);
        v = qv[0] + h * (qv[1] + h * qv[2]);
    }

    /// The calibrated value of band at a raster position; at Level 1A with
    /// the gain and offset of the detector (file, pixel) that saw it.
    uint8_t Value(int band, double column, double row, int file, int detector) const {
        double u, v;
        Trace(column, row + (prism && sensorGeometry ? ShiftOf(file) : 0.0), u, v);
        if (std::hypot(u - kVolcanoU, v - kVolcanoV) < kTargetRadius ||
            std::hypot(u - kPlainU, v - kPlainV) < kTargetRadius)
            return 1;  // a survey target, darker than any ground
        const GroundSample ground = Surface(u, v, *terrain);
        const Reflectance& r = ground.reflectance;
        double dn;
        if (prism) {
            dn = 12.0 + 380.0 * (0.30 * r.g + 0.45 * r.r + 0.25 * r.n) * ground.shade;
        } else {
            static const double offset[4] = {38.0, 24.0, 14.0, 8.0};  // path radiance
            static const double gain[4] = {420.0, 450.0, 480.0, 330.0};
            const double value[4] = {r.b, r.g, r.r, r.n};
            dn = offset[band] + gain[band] * value[band] * ground.shade;
        }
        const int32_t x = static_cast<int32_t>(std::lround(column));
        const int32_t y = static_cast<int32_t>(std::lround(row));
        dn += 2.0 * (Hash01(x, y, 200u + static_cast<uint32_t>(band)) - 0.5);  // sensor noise
        if (options.level == 0 && file >= 0) {
            static const double ccdGain[8] = {-0.05, 0.03, 0.0, 0.04, -0.03, 0.02, 0.01, -0.02};
            const double gain = 1.0 + 0.035 * (Hash01(file, detector, 211) - 0.5) +
                                (prism ? ccdGain[file % 8] : 0.0);
            dn = dn * gain + 3.0 * (Hash01(file, detector, 223) - 0.5);
        }
        return static_cast<uint8_t>(std::clamp(std::lround(dn), 1L, 255L));  // 0 marks fill
    }

    /// The byte the writer puts at pixel (dummy pixels excluded) of line of file.
    uint8_t FilePixel(int file, int line, int pixel) const {
        if (!sensorGeometry) return Value(prism ? 0 : file, pixel, line, -1, -1);
        if (prism) return Value(0, firstColumn[file] + pixel - left[file], line, file, pixel);
        // AVNIR-2: odd detectors, counted from the first valid pixel, see
        // the ground of a line `stagger` lines later than the even ones.
        const int k = pixel - left[file];
        return Value(file, k, (k & 1) ? line - stagger : line, file, pixel);
    }

    uint8_t RasterPixel(int band, long x, long y) const {
        const double column = static_cast<double>(x), row = static_cast<double>(y);
        if (!sensorGeometry) return Value(band, column, row, -1, -1);
        if (!prism) return Value(band, column, row, band, left[band] + static_cast<int>(x));
        // The raster takes each file after the first from its 33rd valid pixel on.
        int file = 0;
        for (int k = static_cast<int>(firstColumn.size()) - 1; k >= 0; --k)
            if (x >= firstColumn[k] + (k > 0 ? kPrismOverlap : 0)) {
                file = k;
                break;
            }
        return Value(0, column, row, file, left[file] + static_cast<int>(x - firstColumn[file]));
    }
};

const char* SampleScene::PlaceName() { return "Fuji River mouth, Suruga Bay, Japan"; }

// The EGM96 geoid's height above GRS80 over the scene: a cubic in
// x = longitude - 138.65 and y = latitude - 35.2 (degrees), fitted to PROJ's
// bilinear interpolation of egm96_15.gtx (proj-data) on a 31 × 31 grid over
// latitude 34.85 to 35.6, longitude 138.2 to 139.1; it departs from the
// grid by 2 cm RMS and 12 cm at most there.
double SampleScene::GeoidUndulation(double latitude, double longitude) {
    const double x = longitude - 138.65, y = latitude - 35.2;
    return 40.85417190476539 + y * (4.0686969220843965 + y * (0.0024152839528078745 - 4.2586078762890285 * y)) +
           x * (-2.5654547666578154 + y * (-3.6043728132534376 + 6.857329660200127 * y)) +
           x * x * (-2.135241308062889 - 5.357481496850078 * y - 1.1432023418439232 * x);
}

double SampleScene::HeightAboveGeoid(double easting, double northing) {
    double e0, n0;
    LandOrigin(e0, n0);
    const double u = easting - e0, v = northing - n0;
    return Elevation(u, v, CoastNorthing(u), RiverEasting(v));
}

double SampleScene::EllipsoidalHeight(double latitude, double longitude) {
    double easting, northing;
    GeographicToUtm(latitude, longitude, kZone, true, easting, northing);
    return HeightAboveGeoid(easting, northing) + GeoidUndulation(latitude, longitude);
}

namespace {

/// A landmark at landscape position (u, v).
GroundPoint Landmark(double u, double v) {
    double easting, northing;
    LandOrigin(easting, northing);
    GroundPoint p;
    UtmToGeographic(easting + u, northing + v, kZone, true, p.latitude, p.longitude);
    p.height = SampleScene::EllipsoidalHeight(p.latitude, p.longitude);
    return p;
}

}  // namespace

GroundPoint SampleScene::Summit() { return Landmark(kVolcanoU, kVolcanoV); }
GroundPoint SampleScene::PlainPoint() { return Landmark(kPlainU, kPlainV); }

SampleScene::SampleScene(const SampleOptions& options) {
    auto g = std::make_shared<Geometry>();
    g->options = options;
    g->prism = options.sensor == Sensor::Prism;
    g->sensorGeometry = options.level != 2;
    g->pixelSize = g->prism ? 2.5 : 10.0;
    g->bands = g->prism ? 1 : 4;
    g->terrain = std::make_unique<Terrain>(2.0 * g->pixelSize);
    // Sizes by SampleSize: tiny, small, full.
    auto pick = [&](int tiny, int small, int full) {
        return options.size == SampleSize::Tiny ? tiny : options.size == SampleSize::Small ? small : full;
    };
    const char mode = !g->prism                         ? 'A'
                      : options.view == View::Forward  ? 'F'
                      : options.view == View::Backward ? 'B'
                                                       : 'N';

    ProductRecipe product = g->prism ? PrismProduct(options.level, mode) : Avnir2Product(options.level);
    const int files = product.ImageCount();

    if (g->sensorGeometry && g->prism) {
        // Six CCD files side by side, each with a few dummy pixels at both ends.
        g->pixelsPerLine = pick(96, 624, 4992);
        g->fileLines = g->height = pick(80, 2400, 16000);
        int column = 0;
        for (int k = 0; k < files; ++k) {
            g->left.push_back(5 + k % 3);
            g->right.push_back(4 + (k + 1) % 2);
            g->firstColumn.push_back(column);
            column += g->pixelsPerLine - g->left[k] - g->right[k] - kPrismOverlap;
        }
        g->width = column + kPrismOverlap;
    } else if (g->sensorGeometry) {
        // Four band files; every odd detector trails, so each file holds
        // `stagger` lines more than the scene for the odd detectors' view of
        // its last lines.
        g->pixelsPerLine = pick(140, 1040, 7100);
        g->stagger = Avnir2Stagger(options.pointing);
        g->height = pick(90, 1000, 7200);
        g->fileLines = g->height + g->stagger;
        for (int k = 0; k < files; ++k) {
            g->left.push_back(pick(24, 24, 30));
            g->right.push_back(pick(16, 16, 30));
            g->firstColumn.push_back(0);
        }
        g->width = g->pixelsPerLine - g->left[0] - g->right[0];
    } else {
        // Geocoded: the whole line is image, no dummy pixels.
        g->width = g->pixelsPerLine = g->prism ? pick(360, 3552, 29728) : pick(100, 1000, 7040);
        g->height = g->fileLines = g->prism ? pick(80, 2400, 16000) : pick(90, 1000, 7200);
        g->left.assign(files, 0);
        g->right.assign(files, 0);
        g->firstColumn.assign(files, 0);
    }

    // The sensor.
    g->viewAlong = !g->prism ? 0.0 : options.view == View::Forward ? kAlongTrackView
                                 : options.view == View::Backward ? -kAlongTrackView : 0.0;
    g->pointing = g->prism ? 0.0 : options.pointing * kDeg;
    g->ifov = g->pixelSize / kAltitude;
    g->lineInterval = g->prism ? 370e-6 : 1480e-6;
    g->rowShift.assign(static_cast<size_t>(files), 0.0);
    if (options.laterCcd >= 0 && g->prism && g->sensorGeometry) {
        if (options.laterCcd >= files) throw std::invalid_argument("sample geometry: no such CCD to image later");
        g->rowShift[static_cast<size_t>(options.laterCcd)] = options.laterCcdMicroseconds * 1e-6 / g->lineInterval;
    }

    // The scene's centre on the terrain: the coast at the river mouth (the
    // full scenes reach north to the volcano), or the volcano's summit.
    LandOrigin(g->landEasting, g->landNorthing);
    double centreU = 0, centreV = options.size == SampleSize::Full ? 9000.0 : 0.0;
    if (options.place == Place::Volcano) centreU = kVolcanoU, centreV = kVolcanoV;
    const double centreEasting = std::round((g->landEasting + centreU) * 1000.0) / 1000.0;
    const double centreNorthing = std::round((g->landNorthing + centreV) * 1000.0) / 1000.0;
    double centreLatitude, centreLongitude;
    UtmToGeographic(centreEasting, centreNorthing, kZone, true, centreLatitude, centreLongitude);
    const Vec3 centre = EarthFixed(centreLatitude, centreLongitude, EllipsoidalHeight(centreLatitude, centreLongitude));

    // The orbit passes over `beneath` at kCentreSecondOfDay: the scene's
    // centre, or beside it so that a pointing sensor sees it.  The view's
    // centre time is when its centre ray meets the scene's centre; the bias
    // across the track takes up what the track's curvature leaves.
    double centreTime = 0;
    auto solveView = [&](double aside) {
        double easting = centreEasting + aside * std::sin(kHeading - 90.0 * kDeg);
        double northing = centreNorthing + aside * std::cos(kHeading - 90.0 * kDeg);
        double latitude, longitude;
        UtmToGeographic(easting, northing, kZone, true, latitude, longitude);
        g->position0 = EarthFixed(latitude, longitude, kAltitude);
        const double phi = latitude * kDeg, lambda = longitude * kDeg;
        const Vec3 north = {-std::sin(phi) * std::cos(lambda), -std::sin(phi) * std::sin(lambda), std::cos(phi)};
        const Vec3 east = {-std::sin(lambda), std::cos(lambda), 0.0};
        g->along0 = Unit(std::cos(kHeading) * north + std::sin(kHeading) * east);
        g->crossBias = 0;
        const double middle = (g->width - 1) / 2.0;
        centreTime = -std::tan(g->viewAlong) * kAltitude / 6800.0;
        double column = middle;
        if (!g->Seeing(centre, centreTime, column)) throw std::runtime_error("sample geometry: no view of the centre");
        // The bias that moves the centre ray onto the centre (the
        // detectors' angles across are linear in their tangents).
        return std::atan((middle - column) * g->ifov);
    };
    double aside = 0, bias = solveView(aside);
    if (g->pointing != 0.0) {
        // Secant steps on the orbit's distance to the side.
        double previous = aside, previousBias = bias;
        aside = kAltitude * std::tan(g->pointing);
        bias = solveView(aside);
        for (int i = 0; i < 20 && std::fabs(bias) > 1e-12; ++i) {
            const double next = aside - bias * (aside - previous) / (bias - previousBias);
            previous = aside, previousBias = bias;
            aside = next;
            bias = solveView(aside);
        }
    }
    g->crossBias = bias;
    double column = (g->width - 1) / 2.0;
    if (!g->Seeing(centre, centreTime, column)) throw std::runtime_error("sample geometry: no view of the centre");
    // Row 0's time to the microsecond the image records keep.
    const long long startMicros =
        std::llround((kCentreSecondOfDay + centreTime - (g->height - 1) / 2.0 * g->lineInterval) * 1e6);
    g->startTime = startMicros * 1e-6 - kCentreSecondOfDay;
    centreTime = g->RowTime((g->height - 1) / 2.0);

    // Level 1B2's grid is centred where the view's centre ray meets the
    // ellipsoid (to the millimetre).
    {
        const StateVector s = g->Satellite(centreTime);
        double u, v;
        if (!g->RayAt({s.x, s.y, s.z}, g->Look(OrbitalFrame(s), (g->width - 1) / 2.0), 0.0, u, v))
            throw std::runtime_error("sample geometry: the centre ray misses the Earth");
        g->gridEasting = std::round((g->landEasting + u) * 1000.0) / 1000.0;
        g->gridNorthing = std::round((g->landNorthing + v) * 1000.0) / 1000.0;
    }
    g->MakeNodes();
    geometry_ = g;

    // Image files.
    ImageLayout& image = product.image;
    image.pixelsPerLine = g->pixelsPerLine;
    image.lines = g->fileLines;
    image.leftDummyWidth = [g](int file, int) { return g->left[static_cast<size_t>(file)]; };
    image.rightDummyWidth = [g](int file, int) { return g->right[static_cast<size_t>(file)]; };
    image.pixel = [g](int file, int line, int pixel) { return g->FilePixel(file, line, pixel); };
    image.lineIntervalMicroseconds = g->prism ? 370 : 1480;
    if (g->sensorGeometry) {  // Level 1B2 lines hold no time
        image.startMilliseconds = static_cast<int32_t>(startMicros / 1000);
        image.startMicroseconds = static_cast<int16_t>(startMicros % 1000);
        if (options.laterCcd >= 0 && g->prism) {
            const long long later = startMicros + options.laterCcdMicroseconds;
            image.files[options.laterCcd].startMilliseconds = static_cast<int32_t>(later / 1000);
            image.files[options.laterCcd].startMicroseconds = static_cast<int16_t>(later % 1000);
        }
    }

    // Scene header.
    LeaderRecipe& leader = product.leader;
    double easting, northing, latitude, longitude;
    PixelToUtm((g->width - 1) / 2.0, (g->height - 1) / 2.0, easting, northing);
    PixelToGeographic((g->width - 1) / 2.0, (g->height - 1) / 2.0, latitude, longitude);
    leader.sceneCenterLatitude = latitude;
    leader.sceneCenterLongitude = longitude;
    const double centreSecond = kCentreSecondOfDay + centreTime;
    const long long centreMicros = std::llround(centreSecond * 1e6);
    const int seconds = static_cast<int>(centreMicros / 1000000);
    char centreTimeText[32];
    std::snprintf(centreTimeText, sizeof centreTimeText, "%04d%02d%02d%02d%02d%02d%06d", kYear, kMonth, kDay,
                  seconds / 3600, seconds / 60 % 60, seconds % 60, static_cast<int>(centreMicros % 1000000));
    leader.sceneCenterTime = centreTimeText;
    leader.sceneDate = "13Oct06";
    char pointingText[16];
    std::snprintf(pointingText, sizeof pointingText, "%+.3f", g->prism ? 0.0 : options.pointing);
    leader.offNadirAngle = pointingText;
    {
        // The incidence at the scene's centre: the centre ray against the
        // ellipsoid's normal where it meets it.
        const StateVector s = g->Satellite(centreTime);
        const Vec3 look = g->Look(OrbitalFrame(s), (g->width - 1) / 2.0);
        char incidence[16];
        std::snprintf(incidence, sizeof incidence, "%.3f",
                      std::acos(-Dot(look, Normal(latitude, longitude))) / kDeg);
        leader.incidenceAngle = incidence;
    }
    leader.numberOfLines = g->height;
    // AVNIR-2 and Level 1B2 rows are as wide as the scene header says; PRISM
    // 1A/1B1 keeps the width of one CCD file there.
    if (!g->prism || !g->sensorGeometry) leader.pixelsPerLine = g->width;
    if (g->sensorGeometry) {
        leader.mapProjectionFlags = "NNNNNNNNNNNNNNNN";  // not map-projected
    } else {
        leader.mapProjectionFlags = "YNNNNNNNNNNNNNNN";  // UTM
        leader.geocodingLetter = 'G';
        product.processingSuffix[4] = 'G';
    }
    const double lastColumn = g->width - 1.0, lastRow = g->height - 1.0;
    PixelToGeographic(0, 0, leader.upperLeftLatitude, leader.upperLeftLongitude);
    PixelToGeographic(lastColumn, 0, leader.upperRightLatitude, leader.upperRightLongitude);
    PixelToGeographic(0, lastRow, leader.lowerLeftLatitude, leader.lowerLeftLongitude);
    PixelToGeographic(lastColumn, lastRow, leader.lowerRightLatitude, leader.lowerRightLongitude);

    // The processor's geolocation: per CCD file or band (Level 1B2: for the
    // image) cubics from stored pixel and line to latitude and longitude and
    // back, fitted to the rays' points on the ellipsoid.  Positions are
    // continuous, 0 at the left and top edge of the first stored pixel; a
    // de-staggered AVNIR-2 line lies where its even detectors looked.
    auto fitUnit = [&](int file, std::array<std::array<double, 10>, 4>& sets) {
        constexpr int kSteps = 24;
        const double first = g->left[static_cast<size_t>(file)];
        const double last = g->pixelsPerLine - g->right[static_cast<size_t>(file)];
        std::vector<Sample> latitudes, longitudes, pixels, lines;
        for (int i = 0; i <= kSteps; ++i)
            for (int j = 0; j <= kSteps; ++j) {
                const double p = first + (last - first) * i / kSteps;
                const double l = static_cast<double>(g->height) * j / kSteps;
                double lat, lon, easting, northing;
                // Pixel centres, as this file sees them.
                g->EllipsoidUtm(file, g->firstColumn[static_cast<size_t>(file)] + p - first - 0.5, l - 0.5, easting,
                                northing);
                UtmToGeographic(easting, northing, kZone, true, lat, lon);
                latitudes.push_back({p, l, lat});
                longitudes.push_back({p, l, lon});
                pixels.push_back({lat, lon, p});
                lines.push_back({lat, lon, l});
            }
        sets = {FitCubic(latitudes), FitCubic(longitudes), FitCubic(pixels), FitCubic(lines)};
    };
    if (g->sensorGeometry) {
        for (int k = 0; k < files; ++k) {
            std::array<std::array<double, 10>, 4> sets;
            fitUnit(k, sets);
            const int unit = product.designators[static_cast<size_t>(k)];
            for (int role = 0; role < 4; ++role) leader.coefficientSets[4 * (unit - 1) + role] = sets[role];
        }
    } else {
        fitUnit(0, leader.level1B2Sets);
    }

    // Map projection values.
    leader.xPixelSize = leader.yPixelSize = g->pixelSize;
    leader.xPixelSize1B2 = leader.yPixelSize1B2 = g->pixelSize;
    leader.hemisphereCode = 0;
    leader.utmZoneNumber = kZone;
    leader.sceneCenterEasting = easting / 1000.0;
    leader.sceneCenterNorthing = northing / 1000.0;
    leader.projectionCenterLatitude = latitude;
    leader.projectionCenterLongitude = longitude;
    leader.ellipsoidName = "GRS80";
    leader.semiMajorAxis = kSemiMajor / 1000.0;
    leader.semiMinorAxis = kSemiMajor * (1.0 - kFlattening) / 1000.0;

    // The orbit: 28 state vectors a minute apart, the view's centre time
    // near the middle.
    const Vec3 position0 = g->position0, along0 = g->along0;
    const double firstSecond = std::floor((centreSecond - 13.5 * 60.0) / 60.0) * 60.0;
    leader.dataPoints.clear();
    for (int k = 0; k < 28; ++k)
        leader.dataPoints.push_back(OrbitAt(firstSecond + 60.0 * k - kCentreSecondOfDay, position0, along0));
    leader.firstPointYear = kYear;
    leader.firstPointMonth = kMonth;
    leader.firstPointDay = kDay;
    leader.firstPointDayOfYear = kDayOfYear;
    leader.firstPointSecondOfDay = firstSecond;
    leader.dataPointInterval = 60.0;
    leader.greenwichMeanHourAngle = GreenwichAngle(firstSecond);
    leader.orbitalElementsDesignator = "PRECISION";
    const double radius = std::sqrt(Dot(position0, position0));
    leader.orbitalElements = {radius / 1000.0, 0.0011, 98.16, 0.0, 90.0, 0.0};

    if (product.HasSupplemental()) {
        SupplementalRecipe& sup = product.supplemental;
        const int32_t date = kYear * 10000 + kMonth * 100 + kDay;
        // State vectors (kilometres, kilometres per second) a minute apart
        // over the scene: the precision orbit, and a predicted one a few
        // metres off.
        sup.firstBlock.lines.clear();
        sup.secondBlock.lines.clear();
        const double blockStart = std::floor((centreSecond - 240.0) / 60.0) * 60.0;
        for (int k = 0; k < 9; ++k) {
            const double second = blockStart + 60.0 * k;
            const StateVector s = OrbitAt(second - kCentreSecondOfDay, position0, along0);
            StateVectorLine line = {date, ClockTime(second),
                                    {s.x / 1000, s.y / 1000, s.z / 1000, s.vx / 1000, s.vy / 1000, s.vz / 1000}};
            sup.secondBlock.lines.push_back(line);
            line.values[0] += 0.004;
            line.values[1] -= 0.003;
            sup.firstBlock.lines.push_back(line);
        }
        // Earth rotation matrices (inertial to Earth-fixed) and their
        // inverses a minute apart.
        sup.referenceDate = date;
        sup.referenceTimeOfDay = ClockTime(blockStart);
        sup.referenceValue1 = GreenwichAngle(blockStart);
        sup.referenceValue2 = 360.98564736629 / 86400.0;  // degrees per second
        sup.matrices.clear();
        for (int k = 0; k < 9; ++k) {
            const double second = blockStart + 60.0 * k;
            const double theta = GreenwichAngle(second) * kDeg;
            MatrixEntryRecipe entry = {date, ClockTime(second), {}, {}};
            const double c = std::cos(theta), s = std::sin(theta);
            const double m[3][3] = {{c, s, 0}, {-s, c, 0}, {0, 0, 1}};
            for (int r = 0; r < 3; ++r)
                for (int q = 0; q < 3; ++q) {
                    entry.firstMatrix[r][q] = m[r][q];
                    entry.secondMatrix[r][q] = m[q][r];
                }
            sup.matrices.push_back(entry);
        }
        // Attitude every 0.1 s from a second before the first line to a
        // second after the last: the orbital frame the satellite holds, with
        // a slight wobble.
        sup.attitude.clear();
        const double first = kCentreSecondOfDay + g->startTime - 1.0;
        const double span = (g->height - 1) * g->lineInterval + 2.0;
        const int samples = static_cast<int>(std::ceil(span / 0.1)) + 1;
        for (int k = 0; k < samples; ++k) {
            const double second = std::round((first + 0.1 * k) * 10.0) / 10.0;
            const OrbitalFrame f(OrbitAt(second - kCentreSecondOfDay, position0, along0));
            const double wobble = 2e-5 * std::sin(second * 1.7);
            const double m[3][3] = {{f.x.x, f.y.x + wobble, f.z.x},
                                    {f.x.y, f.y.y, f.z.y - wobble},
                                    {f.x.z, f.y.z, f.z.z}};
            const std::array<double, 4> q = Quaternion(m);
            const int whole = static_cast<int>(second);
            AttitudeSampleRecipe sample = {kYear, kMonth, kDay, whole / 3600, whole / 60 % 60,
                                         second - (whole / 60) * 60.0,
                                         {q[0], q[1], q[2], q[3]},
                                         {static_cast<float>(wobble), static_cast<float>(-1.06e-3),
                                          static_cast<float>(1.5e-6)}};
            sup.attitude.push_back(sample);
        }
        // The sensor alignment: a rotation of a few hundredths of a degree.
        const double ax = 0.012 * kDeg, ay = -0.021 * kDeg, az = 0.034 * kDeg;
        const double m[3][3] = {{1.0, -az, ay}, {az, 1.0, -ax}, {-ay, ax, 1.0}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) sup.sensorMatrix[r][c] = m[r][c];
    }

    if (!g->sensorGeometry && g->prism) {
        // The raster is aligned with the UTM grid.
        product.summary = SummaryRecipe{};
        product.summary->mapDirection = std::string("MapNorth");
    }
    product_ = std::move(product);
}

int SampleScene::Width() const { return geometry_->width; }
int SampleScene::Height() const { return geometry_->height; }
int SampleScene::Bands() const { return geometry_->bands; }

uint8_t SampleScene::RasterPixel(int band, long column, long row) const {
    return geometry_->RasterPixel(band, column, row);
}

void SampleScene::PixelToUtm(double column, double row, double& easting, double& northing) const {
    const Geometry& g = *geometry_;
    g.EllipsoidUtm(g.FileOfColumn(column), column, row, easting, northing);
}

void SampleScene::PixelToGeographic(double column, double row, double& latitude, double& longitude) const {
    double easting, northing;
    PixelToUtm(column, row, easting, northing);
    UtmToGeographic(easting, northing, kZone, true, latitude, longitude);
}

GroundPoint SampleScene::PixelGround(double column, double row) const { return geometry_->Ground(column, row); }

bool SampleScene::GroundToPixel(double latitude, double longitude, double height, double& column,
                                double& row) const {
    const Geometry& g = *geometry_;
    const Vec3 p = EarthFixed(latitude, longitude, height);
    double t = g.RowTime((g.height - 1) / 2.0), c = 0;
    if (!g.Seeing(p, t, c)) return false;
    if (g.sensorGeometry) {
        // Seen by the file giving that column, at its own time.
        column = c;
        row = (t - g.startTime) / g.lineInterval - g.ShiftOf(g.FileOfColumn(c));
        return true;
    }
    // Level 1B2: where the ray through the point meets the ellipsoid.
    const StateVector s = g.Satellite(t);
    const Vec3 from = {s.x, s.y, s.z};
    double u, v;
    if (!g.RayAt(from, Unit(p - from), 0.0, u, v)) return false;
    column = (g.landEasting + u - g.gridEasting) / g.pixelSize + g.width / 2.0 - 0.5;
    row = g.height / 2.0 - 0.5 - (g.landNorthing + v - g.gridNorthing) / g.pixelSize;
    return true;
}

void SampleScene::SatelliteAt(double column, double row, double position[3]) const {
    Vec3 from{NAN, NAN, NAN}, look{};
    geometry_->PixelRay(column, row, from, look);
    position[0] = from.x, position[1] = from.y, position[2] = from.z;
}

void SampleScene::CoverageUtm(double& minEasting, double& minNorthing, double& maxEasting,
                              double& maxNorthing) const {
    const Geometry& g = *geometry_;
    minEasting = minNorthing = INFINITY;
    maxEasting = maxNorthing = -INFINITY;
    // The raster's edges, on the ellipsoid and at the highest terrain.
    constexpr int kSteps = 16;
    for (int k = 0; k <= kSteps; ++k)
        for (const auto& [x, y] : {std::pair<double, double>{k / double(kSteps), 0.0}, {k / double(kSteps), 1.0},
                                   {0.0, k / double(kSteps)}, {1.0, k / double(kSteps)}}) {
            Vec3 from, look;
            // A CCD imaged later reaches further along the track.
            const double row = y * (g.height - 1) + (y == 0.0 ? -1 : y == 1.0 ? 1 : 0) * g.LargestShift();
            if (!g.FileRay(0, x * (g.width - 1), row, from, look)) continue;
            for (double h : {kLowestGround, kHighestGround}) {
                double u, v;
                if (!g.RayAt(from, look, h, u, v)) continue;
                minEasting = std::min(minEasting, g.landEasting + u);
                maxEasting = std::max(maxEasting, g.landEasting + u);
                minNorthing = std::min(minNorthing, g.landNorthing + v);
                maxNorthing = std::max(maxNorthing, g.landNorthing + v);
            }
        }
}

}  // namespace ceoswriter
