// The line-of-sight model (CeosAlosjSensorModel.h): the polynomials' ground
// point on the ellipsoid, the satellite at the position's time from the
// orbit's state vectors, and the ray between them.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

#include "dataset/DatasetState.h"
#include "host/CivilDays.h"
#include "host/terr.h"

namespace {

using Vec = std::array<double, 3>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
// GRS80 (WGS 84's semi-minor axis differs by a tenth of a millimetre).
constexpr double kSemiMajor = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257222101;
constexpr double kSemiMinor = kSemiMajor * (1.0 - kFlattening);
constexpr double kEccentricity2 = kFlattening * (2.0 - kFlattening);

constexpr int kLagrangePoints = 8;
constexpr double kLeastAltitude = 600e3, kMostAltitude = 800e3;  // metres
constexpr double kLookTolerance = 2.0;                           // degrees
/// PRISM's forward and backward telescopes look this far ahead and behind.
constexpr double kAlongTrackView = 23.8;  // degrees
/// A pushbroom line is seen across the track: every ray of a line of
/// Levels 1A and 1B1 leaves the satellite at the view's along-track angle,
/// within this (degrees; a degree is about 12 km on the ground, 1.7 s of
/// the line times)...
constexpr double kAlongTolerance = 1.0;
/// ...and, for a look far to the side, what a yaw of this much (degrees;
/// the Earth's rotation skews the ground track by up to 3.5 degrees against
/// the orbit's plane, should the satellite not steer it out) adds there.
constexpr double kLargestYaw = 4.0;
constexpr double kLongestLineInterval = 0.01;  // seconds
constexpr double kConvergencePixels = 0.001;
constexpr int kMaxIterations = 30;
constexpr double kSecondsPerDay = 86400.0;

Vec operator+(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec operator-(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec operator*(double k, const Vec& a) { return {k * a[0], k * a[1], k * a[2]}; }
double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm(const Vec& a) { return std::sqrt(Dot(a, a)); }
Vec Unit(const Vec& a) { return (1.0 / Norm(a)) * a; }

Vec EarthFixed(double latitude, double longitude, double height) {
    const double phi = latitude * kDeg, lambda = longitude * kDeg;
    const double n = kSemiMajor / std::sqrt(1.0 - kEccentricity2 * std::sin(phi) * std::sin(phi));
    return {(n + height) * std::cos(phi) * std::cos(lambda), (n + height) * std::cos(phi) * std::sin(lambda),
            (n * (1.0 - kEccentricity2) + height) * std::sin(phi)};
}

/// Geodetic latitude, longitude (degrees) and height (metres) of an
/// Earth-fixed point away from the Earth's centre.
void Geodetic(const Vec& p, double& latitude, double& longitude, double& height) {
    const double r = std::hypot(p[0], p[1]);
    double phi = std::atan2(p[2], r * (1.0 - kEccentricity2));
    for (int i = 0; i < 8; ++i) {
        const double n = kSemiMajor / std::sqrt(1.0 - kEccentricity2 * std::sin(phi) * std::sin(phi));
        phi = std::atan2(p[2] + kEccentricity2 * n * std::sin(phi), r);
    }
    latitude = phi / kDeg;
    longitude = std::atan2(p[1], p[0]) / kDeg;
    height = r * std::cos(phi) + p[2] * std::sin(phi) -
             kSemiMajor * std::sqrt(1.0 - kEccentricity2 * std::sin(phi) * std::sin(phi));
}

Vec Normal(double latitude, double longitude) {
    const double phi = latitude * kDeg, lambda = longitude * kDeg;
    return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

/// The distance along the unit direction u from s, outside the ellipsoid of
/// semi-axes (a, a, b), to where the ray first meets it; false when it
/// misses or s is not outside.
bool MeetEllipsoid(const Vec& s, const Vec& u, double a, double b, double& distance) {
    const double a2 = a * a, b2 = b * b;
    const double qa = (u[0] * u[0] + u[1] * u[1]) / a2 + u[2] * u[2] / b2;
    const double qb = 2.0 * ((s[0] * u[0] + s[1] * u[1]) / a2 + s[2] * u[2] / b2);
    const double qc = (s[0] * s[0] + s[1] * s[1]) / a2 + s[2] * s[2] / b2 - 1.0;
    const double discriminant = qb * qb - 4.0 * qa * qc;
    if (!(qc > 0 && qb < 0 && discriminant >= 0)) return false;
    // Both roots are positive; the nearer is c / q (stable for either).
    const double q = -0.5 * (qb - std::sqrt(discriminant));
    distance = qc / q;
    return std::isfinite(distance);
}

/// Where the ray from s along u first reaches the geodetic height h: the
/// ellipsoid raised by h, raised further until the point's height is h.
bool PointAtHeight(const Vec& s, const Vec& u, double h, Vec& point) {
    double raise = h;
    for (int i = 0; i < 8; ++i) {
        double distance = 0;
        if (!MeetEllipsoid(s, u, kSemiMajor + raise, kSemiMinor + raise, distance)) return false;
        point = s + distance * u;
        double latitude, longitude, height;
        Geodetic(point, latitude, longitude, height);
        if (std::fabs(height - h) < 1e-5) return true;
        raise += h - height;
    }
    return true;
}

using civil_days::DaysFromCivil;

void CivilFromDays(long long days, int32_t& year, int32_t& month, int32_t& day) {
    long long y, m, d;
    civil_days::CivilFromDays(days, y, m, d);
    year = static_cast<int32_t>(y);
    month = static_cast<int32_t>(m);
    day = static_cast<int32_t>(d);
}

bool PlausibleDate(int32_t year, int32_t month, int32_t day) {
    return year >= 1900 && year <= 2200 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

/// The words of a text, upper case: its runs of letters and digits.
std::vector<std::string> WordsOf(const char* text) {
    std::vector<std::string> words(1);
    for (const char* c = text; *c; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)))
            words.back() += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        else if (!words.back().empty())
            words.emplace_back();
    }
    if (words.back().empty()) words.pop_back();
    return words;
}

/// The frame a text (a block's heading, the leader's reference system)
/// names by its words: an inertial one wins over an Earth-fixed one.
CeosAlosjOrbitFrame FrameNamed(const char* text) {
    const std::vector<std::string> words = WordsOf(text);
    CeosAlosjOrbitFrame frame = ALOSJ_ORBIT_FRAME_NOT_STATED;
    for (size_t k = 0; k < words.size(); ++k) {
        const std::string& w = words[k];
        if (w == "INERTIAL" || w == "ECI" || w == "J2000" || w == "TOD" || w == "CIS")
            return ALOSJ_ORBIT_FRAME_INERTIAL;
        const bool earthFixed = (w == "EARTH" && k + 1 < words.size() && words[k + 1] == "FIXED") ||
                                w == "EARTHFIXED" || w == "ECR" || w == "ECEF" || w == "ECF" ||
                                w.rfind("ITRF", 0) == 0 || w == "CTS" || w == "GREENWICH" || w == "ROTATING";
        if (earthFixed) frame = ALOSJ_ORBIT_FRAME_EARTH_FIXED;
    }
    return frame;
}

/// The kind of orbit a text names by its words ("PRECISION ORBIT",
/// "DEFINITIVE", "PREDICTED").
CeosAlosjOrbitKind KindNamed(const char* text) {
    for (const std::string& w : WordsOf(text)) {
        if (w == "PRECISION" || w == "PRECISE") return ALOSJ_ORBIT_KIND_PRECISION;
        if (w == "DEFINITIVE") return ALOSJ_ORBIT_KIND_DEFINITIVE;
        if (w == "PREDICTED" || w == "PREDICTIVE" || w == "PREDICTION") return ALOSJ_ORBIT_KIND_PREDICTED;
    }
    return ALOSJ_ORBIT_KIND_NOT_STATED;
}

/// A block's headings in order: its title, then its text lines before the
/// first data line (the fifth is a data line when the offset is 0).
std::vector<const char*> HeadingsOf(const AlosjStateVectorBlock& block) {
    std::vector<const char*> headings = {block.title, block.textLine1, block.textLine2, block.textLine3,
                                         block.textLine4};
    if (block.dataLineOffset > 0) headings.push_back(block.textLine5);
    return headings;
}

/// What a block states of itself: the frame and the kind its first heading
/// naming one names (a product may state them in its title or in a text line).
CeosAlosjOrbitFrame FrameOfBlock(const AlosjStateVectorBlock& block) {
    for (const char* heading : HeadingsOf(block))
        if (const CeosAlosjOrbitFrame frame = FrameNamed(heading); frame != ALOSJ_ORBIT_FRAME_NOT_STATED)
            return frame;
    return ALOSJ_ORBIT_FRAME_NOT_STATED;
}
CeosAlosjOrbitKind KindOfBlock(const AlosjStateVectorBlock& block) {
    for (const char* heading : HeadingsOf(block))
        if (const CeosAlosjOrbitKind kind = KindNamed(heading); kind != ALOSJ_ORBIT_KIND_NOT_STATED) return kind;
    return ALOSJ_ORBIT_KIND_NOT_STATED;
}

/// How much an orbit of a kind is trusted: precision above definitive above
/// one that does not say, a predicted one least.
int Trust(CeosAlosjOrbitKind kind) {
    switch (kind) {
        case ALOSJ_ORBIT_KIND_PRECISION: return 3;
        case ALOSJ_ORBIT_KIND_DEFINITIVE: return 2;
        case ALOSJ_ORBIT_KIND_PREDICTED: return 0;
        default: return 1;
    }
}

/// State vectors, metres or kilometres (by their size), made an orbit:
/// empty unless at least 8, finite, in order of time.
std::vector<OrbitSample> UsableOrbit(std::vector<OrbitSample> orbit) {
    if (orbit.size() < static_cast<size_t>(kLagrangePoints)) return {};
    for (size_t k = 0; k < orbit.size(); ++k) {
        OrbitSample& o = orbit[k];
        const double r = std::sqrt(o.position[0] * o.position[0] + o.position[1] * o.position[1] +
                                   o.position[2] * o.position[2]);
        if (!std::isfinite(r) || !std::isfinite(o.time) || (k > 0 && !(o.time > orbit[k - 1].time))) return {};
        if (r < 1e5)  // kilometres
            for (int i = 0; i < 3; ++i) {
                o.position[i] *= 1000.0;
                o.velocity[i] *= 1000.0;
            }
        for (double v : o.velocity)
            if (!std::isfinite(v)) return {};
    }
    return orbit;
}

/// The satellite at time t (seconds of the scene's date) by 8-point
/// Lagrange interpolation of the state vectors around it; false outside
/// their span.
bool SatelliteAt(const std::vector<OrbitSample>& orbit, double t, Vec& position, Vec& velocity) {
    if (orbit.empty() || !(t >= orbit.front().time && t <= orbit.back().time)) return false;
    const long n = static_cast<long>(orbit.size());
    const long after = static_cast<long>(std::upper_bound(orbit.begin(), orbit.end(), t,
                                                          [](double time, const OrbitSample& o) {
                                                              return time < o.time;
                                                          }) -
                                         orbit.begin());
    const long first = std::clamp(after - kLagrangePoints / 2, 0L, n - kLagrangePoints);
    position = velocity = Vec{0, 0, 0};
    for (long j = first; j < first + kLagrangePoints; ++j) {
        double weight = 1.0;
        for (long m = first; m < first + kLagrangePoints; ++m)
            if (m != j) weight *= (t - orbit[m].time) / (orbit[j].time - orbit[m].time);
        for (int i = 0; i < 3; ++i) {
            position[i] += weight * orbit[j].position[i];
            velocity[i] += weight * orbit[j].velocity[i];
        }
    }
    return true;
}

CeosAlosjSensorStatus FromLocate(CeosAlosjLocateStatus status) {
    switch (status) {
        case ALOSJ_LOCATE_OK: return ALOSJ_SENSOR_OK;
        case ALOSJ_LOCATE_OUTSIDE: return ALOSJ_SENSOR_OUTSIDE;
        case ALOSJ_LOCATE_NO_POLYNOMIALS: return ALOSJ_SENSOR_NO_POLYNOMIALS;
        case ALOSJ_LOCATE_NO_CONVERGENCE: return ALOSJ_SENSOR_NO_CONVERGENCE;
        default: return ALOSJ_SENSOR_BAD_REQUEST;
    }
}

/// The view's nominal look angle from nadir and along-track angle (positive
/// ahead), degrees; a NaN look angle for a PRISM view of unknown direction.
void NominalView(CeosAlosjDataset& dataset, const CeosAlosjDataset::State& s, double& look, double& along) {
    along = 0;
    look = 0;
    if (s.IsAvnir2()) {
        const double pointing = s.sceneHeader.offNadirAngle;
        look = std::isfinite(pointing) ? std::fabs(pointing) : 0.0;
        return;
    }
    switch (dataset.GetObservationMode()) {
        case MISSION_N:
        case MISSION_W: break;
        case MISSION_F: look = along = kAlongTrackView; break;
        case MISSION_B:
            look = kAlongTrackView;
            along = -kAlongTrackView;
            break;
        default: look = NAN;
    }
}

/// Seconds from the start of the scene's date to a date's second of day
/// (NaN for an implausible date).
struct SceneClock {
    long long sceneDay = 0;
    double operator()(int32_t year, int32_t month, int32_t day, double secondOfDay) const {
        if (!PlausibleDate(year, month, day)) return NAN;
        return static_cast<double>(DaysFromCivil(year, month, day) - sceneDay) * kSecondsPerDay + secondOfDay;
    }
};

/// A supplemental block's state vectors as an orbit (empty when unusable).
std::vector<OrbitSample> BlockOrbit(const AlosjStateVectorBlock& block, const SceneClock& clock) {
    if (!block.samples || !block.samples->entries) return {};
    std::vector<OrbitSample> orbit;
    for (int32_t k = 0; k < block.samples->count; ++k) {
        const AlosjStateVectorEntry& e = block.samples->entries[k];
        if (!e.time) continue;  // an entry whose time record could not be made
        OrbitSample o;
        o.time = clock(e.time->year, e.time->month, e.time->day,
                       e.time->hour * 3600.0 + e.time->minute * 60.0 + e.time->seconds);
        for (int i = 0; i < 3; ++i) {
            o.position[i] = e.stateVector[i];
            o.velocity[i] = e.stateVector[3 + i];
        }
        orbit.push_back(o);
    }
    return UsableOrbit(std::move(orbit));
}

/// The leader's platform position record as an orbit (empty when unusable).
std::vector<OrbitSample> LeaderOrbit(const AlosjLeaderFileAncillary3& leader, const SceneClock& clock) {
    std::vector<OrbitSample> orbit;
    const double start =
        clock(leader.firstPointYear, leader.firstPointMonth, leader.firstPointDay, leader.firstPointSecondOfDay);
    for (int k = 0; k < leader.StoredDataPoints(); ++k) {
        OrbitSample o;
        o.time = start + k * leader.dataPointInterval;
        o.position[0] = leader.positionX[k], o.position[1] = leader.positionY[k], o.position[2] = leader.positionZ[k];
        o.velocity[0] = leader.velocityX[k], o.velocity[1] = leader.velocityY[k], o.velocity[2] = leader.velocityZ[k];
        orbit.push_back(o);
    }
    return UsableOrbit(std::move(orbit));
}

/// The orbit of the model: of the sources in Earth-fixed axes (a
/// supplemental block that states an Earth-fixed frame, the leader's record
/// unless it names an inertial one) the most trusted kind; among equals the
/// supplemental file's second block, then its first, then the leader's.
/// The leader's record counts as of no stated kind unless it says it is
/// predicted: a supplemental block is preferred to it unless that block is
/// the predicted orbit.
void ChooseOrbit(const CeosAlosjDataset::State& s, const SceneClock& clock, SensorModelInputs& m) {
    const AlosjLeaderFileAncillary3& leader = s.leaderFile->Ancillary3();
    struct Source {
        int id;
        int trust;
    };
    std::vector<Source> sources;
    if (s.supplementalFile) {
        const AlosjSupplementalFileAncillary8& record = s.supplementalFile->Ancillary8();
        for (int id : {kOrbitSecondBlock, kOrbitFirstBlock}) {
            const AlosjStateVectorBlock& block = id == kOrbitFirstBlock ? record.firstBlock : record.secondBlock;
            if (FrameOfBlock(block) == ALOSJ_ORBIT_FRAME_EARTH_FIXED)
                sources.push_back({id, Trust(KindOfBlock(block))});
        }
    }
    if (FrameNamed(leader.referenceCoordinateSystem) != ALOSJ_ORBIT_FRAME_INERTIAL)
        sources.push_back({kOrbitLeader, std::min(Trust(ALOSJ_ORBIT_KIND_NOT_STATED),
                                                  Trust(KindNamed(leader.orbitalElementsDesignator)))});
    std::stable_sort(sources.begin(), sources.end(),
                     [](const Source& a, const Source& b) { return a.trust > b.trust; });
    for (const Source& source : sources) {
        if (source.id == kOrbitLeader) {
            m.orbit = LeaderOrbit(leader, clock);
        } else {
            const AlosjSupplementalFileAncillary8& record = s.supplementalFile->Ancillary8();
            m.orbit = BlockOrbit(source.id == kOrbitFirstBlock ? record.firstBlock : record.secondBlock, clock);
        }
        if (!m.orbit.empty()) {
            m.orbitSource = source.id;
            return;
        }
    }
}

/// The orbit, the scene's date and centre time, made once.
void MakeInputs(CeosAlosjDataset::State& s) {
    SensorModelInputs& m = s.sensorModel;
    if (m.made || !s.leaderFile) return;
    m.made = true;
    const SceneHeaderValues& v = s.sceneHeader;
    const AlosjLeaderFileAncillary3& leader = s.leaderFile->Ancillary3();
    if (v.hasSceneDate && PlausibleDate(v.sceneYear, v.sceneMonth, v.sceneDay)) {
        m.year = v.sceneYear, m.month = v.sceneMonth, m.day = v.sceneDay;
    } else if (v.sceneCenterTime.valid) {
        m.year = v.sceneCenterTime.year, m.month = v.sceneCenterTime.month, m.day = v.sceneCenterTime.day;
    } else {
        m.year = leader.firstPointYear, m.month = leader.firstPointMonth, m.day = leader.firstPointDay;
    }
    m.hasDate = PlausibleDate(m.year, m.month, m.day);
    if (!m.hasDate) return;
    const SceneClock clock{DaysFromCivil(m.year, m.month, m.day)};
    if (v.sceneCenterTime.valid) {
        const CeosAlosjUtcTime& c = v.sceneCenterTime;
        m.centreTime = clock(c.year, c.month, c.day, c.hour * 3600.0 + c.minute * 60.0 + c.seconds);
    }
    ChooseOrbit(s, clock, m);
}

/// A position's line of sight: its time, the satellite, the ground point.
struct Sight {
    double time = 0;
    Vec satellite{}, velocity{}, ground{};
};

class SensorModel {
public:
    SensorModel(CeosAlosjDataset& dataset, CeosAlosjDataset::State& s, int band)
        : dataset_(dataset), s_(s), band_(band) {}

    /// The time at which the satellite sees the Earth-fixed point p under
    /// the view's along-track angle from its nadir (Level 1B2).
    CeosAlosjSensorStatus TimeSeeing(const Vec& p, double& t) const {
        const std::vector<OrbitSample>& orbit = s_.sensorModel.orbit;
        double look, along;
        NominalView(dataset_, s_, look, along);
        // The look's angle from the satellite's nadir towards its
        // horizontal velocity.
        auto misfit = [&](double time, double& f) {
            Sight sight;
            sight.ground = p;
            if (!SatelliteAt(orbit, time, sight.satellite, sight.velocity)) return false;
            double aside;
            AlongAndAcross(sight, f, aside);
            f -= along;
            return true;
        };
        t = std::isfinite(s_.sensorModel.centreTime) ? s_.sensorModel.centreTime
                                                     : (orbit.front().time + orbit.back().time) / 2;
        t = std::clamp(t, orbit.front().time + 1.0, orbit.back().time - 1.0);
        for (int i = 0; i < kMaxIterations; ++i) {
            double f0, f1;
            if (!misfit(t, f0) || !misfit(t + 0.01, f1) || f1 == f0) return ALOSJ_SENSOR_NO_TIMES;
            const double step = f0 * 0.01 / (f0 - f1);
            t += step;
            if (std::fabs(step) < 1e-7) return misfit(t, f0) ? ALOSJ_SENSOR_OK : ALOSJ_SENSOR_NO_TIMES;
        }
        return ALOSJ_SENSOR_NO_TIMES;
    }

    /// The time of raster position (x, y) (Levels 1A and 1B1): that of the
    /// line of the image file giving column x (the nearest file's beyond
    /// the raster) whose time tag is that of its centre, y = k + 0.5.
    double TimeOfLine(double x, double y) const {
        const std::vector<SensorModelInputs::Band::Timing>& timings =
            s_.sensorModel.bands[static_cast<size_t>(band_)].timings;
        size_t k = 0;
        while (k + 1 < timings.size() && !(x < timings[k].endColumn)) ++k;
        return timings[k].firstLineTime + (y - 0.5) * timings[k].lineInterval;
    }

    /// The satellite at time t and the ray through the ground point.
    CeosAlosjSensorStatus At(double t, const Vec& ground, Sight& sight) const {
        sight.time = t;
        sight.ground = ground;
        return SatelliteAt(s_.sensorModel.orbit, t, sight.satellite, sight.velocity) ? ALOSJ_SENSOR_OK
                                                                                     : ALOSJ_SENSOR_NO_ORBIT;
    }

    /// The line of sight of raster position (x, y).
    CeosAlosjSensorStatus SightOf(double x, double y, Sight& sight) const {
        double latitude, longitude;
        const CeosAlosjSensorStatus located = FromLocate(dataset_.PixelToLatLon(band_, x, y, &latitude, &longitude));
        if (located != ALOSJ_SENSOR_OK) return located;
        const Vec ground = EarthFixed(latitude, longitude, CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT);
        double t = 0;
        if (s_.IsLevel1B2()) {
            const CeosAlosjSensorStatus timed = TimeSeeing(ground, t);
            if (timed != ALOSJ_SENSOR_OK) return timed;
        } else {
            t = TimeOfLine(x, y);
        }
        return At(t, ground, sight);
    }

    /// The band's inputs and checks, made once: OK when the model may answer.
    CeosAlosjSensorStatus Ready() {
        if (band_ < 0 || band_ >= dataset_.GetNumOfLayers() || !s_.leaderFile) return ALOSJ_SENSOR_BAD_REQUEST;
        MakeInputs(s_);
        SensorModelInputs& m = s_.sensorModel;
        m.bands.resize(static_cast<size_t>(std::max(0L, dataset_.GetNumOfLayers())));
        SensorModelInputs::Band& b = m.bands[static_cast<size_t>(band_)];
        if (!b.checked) {
            b.checked = true;
            b.status = Check(b);
            if (b.status >= ALOSJ_SENSOR_ALTITUDE_CHECK && b.status <= ALOSJ_SENSOR_RAY_CHECK && !m.warned) {
                m.warned = true;
                terr_Warn("CeosAlosjDataset::PixelHeightToLatLon", __LINE__,
                          b.status == ALOSJ_SENSOR_ALTITUDE_CHECK
                              ? "The orbit does not put the satellite 600 to 800 km above the ellipsoid; "
                                "geolocation at a height is not available"
                          : b.status == ALOSJ_SENSOR_LOOK_ANGLE_CHECK
                              ? "The orbit and the polynomials give a look angle more than 2 degrees from the "
                                "view's; geolocation at a height is not available"
                              : "Rays from the satellite at the lines' times to the polynomials' ground points "
                                "do not look along the track as the view does; geolocation at a height is not "
                                "available");
            }
        }
        return static_cast<CeosAlosjSensorStatus>(b.status);
    }

private:
    /// Each image file's line times from its first and last lines' tags
    /// (every CCD of a PRISM raster has its own): false when a file's cannot
    /// be read or do not advance by less than 10 ms a line.
    bool ReadTimings(SensorModelInputs::Band& b) {
        b.timings.clear();
        for (const RowPart& part : s_.Layout(band_, false).parts) {
            CeosAlosjImageFile* image = part.image;
            const long lines = image ? image->GetLinesPresent() : 0;
            const double first = lines >= 2 ? image->GetStartScanTime() : -1.0;
            double last = lines >= 2 ? image->GetEndScanTime() : -1.0;
            if (!(first >= 0 && last >= 0)) return false;
            if (last < first) last += kSecondsPerDay;  // past midnight
            SensorModelInputs::Band::Timing timing;
            timing.endColumn = part.firstColumn + part.columnCount;
            timing.firstLineTime = first;
            timing.lineInterval = (last - first) / static_cast<double>(lines - 1);
            if (!(timing.lineInterval > 0 && timing.lineInterval < kLongestLineInterval)) return false;
            b.timings.push_back(timing);
        }
        return !b.timings.empty();
    }

    CeosAlosjSensorStatus Check(SensorModelInputs::Band& b) {
        const SensorModelInputs& m = s_.sensorModel;
        const double w = static_cast<double>(dataset_.GetSceneWidth()), h = static_cast<double>(dataset_.GetSceneHeight());
        double latitude, longitude;
        if (dataset_.PixelToLatLon(band_, w / 2, h / 2, &latitude, &longitude) == ALOSJ_LOCATE_NO_POLYNOMIALS)
            return ALOSJ_SENSOR_NO_POLYNOMIALS;
        if (!s_.IsLevel1B2()) {
            if (!m.hasDate || !ReadTimings(b)) return ALOSJ_SENSOR_NO_TIMES;
        } else if (!m.hasDate) {
            return ALOSJ_SENSOR_NO_TIMES;
        }
        if (m.orbit.empty()) return ALOSJ_SENSOR_NO_ORBIT;
        // The raster's corners (half a pixel in) and centre.
        const double places[5][2] = {{w / 2, h / 2}, {0.5, 0.5}, {w - 0.5, 0.5}, {w - 0.5, h - 0.5}, {0.5, h - 0.5}};
        Sight sights[5];
        for (int k = 0; k < 5; ++k) {
            const CeosAlosjSensorStatus status = SightOf(places[k][0], places[k][1], sights[k]);
            if (status != ALOSJ_SENSOR_OK) return status;
        }
        for (const Sight& sight : sights) {
            double altitude;
            Geodetic(sight.satellite, latitude, longitude, altitude);
            if (!(altitude >= kLeastAltitude && altitude <= kMostAltitude)) return ALOSJ_SENSOR_ALTITUDE_CHECK;
        }
        double look, along;
        NominalView(dataset_, s_, look, along);
        const double angle = LookAngle(sights[0]);
        const bool lookFits = std::isfinite(look) ? std::fabs(angle - look) <= kLookTolerance
                                                  : std::fabs(angle) <= kLookTolerance ||
                                                        std::fabs(angle - kAlongTrackView) <= kLookTolerance;
        if (!lookFits) return ALOSJ_SENSOR_LOOK_ANGLE_CHECK;
        // The line times, the orbit and the polynomials agree when every
        // corner's ray looks along the track as the view does (Level 1B2
        // takes its times from that angle, so there it holds by making).
        if (!s_.IsLevel1B2())
            for (const Sight& sight : sights) {
                double ahead, aside;
                AlongAndAcross(sight, ahead, aside);
                const double yawed = std::atan(std::tan(std::fabs(aside) * kDeg) * std::sin(kLargestYaw * kDeg)) / kDeg;
                if (!(std::fabs(ahead - along) <= kAlongTolerance + yawed)) return ALOSJ_SENSOR_RAY_CHECK;
            }
        return ALOSJ_SENSOR_OK;
    }

public:
    /// The look's angles from the satellite's nadir (the ellipsoid's normal
    /// beneath it), degrees: along the track (positive ahead, towards the
    /// Earth-fixed velocity's horizontal part) and across it.
    static void AlongAndAcross(const Sight& sight, double& ahead, double& aside) {
        double latitude, longitude, altitude;
        Geodetic(sight.satellite, latitude, longitude, altitude);
        const Vec nadir = -1.0 * Normal(latitude, longitude);
        const Vec forward = Unit(sight.velocity - Dot(sight.velocity, nadir) * nadir);
        const Vec side = {nadir[1] * forward[2] - nadir[2] * forward[1], nadir[2] * forward[0] - nadir[0] * forward[2],
                          nadir[0] * forward[1] - nadir[1] * forward[0]};
        const Vec look = Unit(sight.ground - sight.satellite);
        ahead = std::atan2(Dot(look, forward), Dot(look, nadir)) / kDeg;
        aside = std::atan2(Dot(look, side), Dot(look, nadir)) / kDeg;
    }

    static double LookAngle(const Sight& sight) {
        double latitude, longitude, altitude;
        Geodetic(sight.satellite, latitude, longitude, altitude);
        const double c = Dot(Unit(sight.ground - sight.satellite), -1.0 * Normal(latitude, longitude));
        return std::acos(std::clamp(c, -1.0, 1.0)) / kDeg;
    }

private:
    CeosAlosjDataset& dataset_;
    CeosAlosjDataset::State& s_;
    int band_;
};

}  // namespace

namespace {

/// The line of sight of a raster position, through a model of the band made
/// ready (its checks passed).
CeosAlosjSensorStatus SightAt(CeosAlosjDataset& dataset, CeosAlosjDataset::State& s, int band, double pixel,
                              double line, Sight& sight) {
    if (!std::isfinite(pixel) || !std::isfinite(line)) return ALOSJ_SENSOR_BAD_REQUEST;
    SensorModel model(dataset, s, band);
    const CeosAlosjSensorStatus status = model.Ready();
    return status != ALOSJ_SENSOR_OK ? status : model.SightOf(pixel, line, sight);
}

}  // namespace

CeosAlosjSensorStatus CeosAlosjDataset::PixelHeightToLatLon(int band, double pixel, double line, double height,
                                                            double* latitude, double* longitude) {
    if (!latitude || !longitude || !std::isfinite(height)) return ALOSJ_SENSOR_BAD_REQUEST;
    Sight sight;
    const CeosAlosjSensorStatus status = SightAt(*this, *d, band, pixel, line, sight);
    if (status != ALOSJ_SENSOR_OK) return status;
    Vec point;
    if (!PointAtHeight(sight.satellite, Unit(sight.ground - sight.satellite), height, point))
        return ALOSJ_SENSOR_RAY_CHECK;
    double h;
    Geodetic(point, *latitude, *longitude, h);
    return ALOSJ_SENSOR_OK;
}

CeosAlosjSensorStatus CeosAlosjDataset::LatLonHeightToPixel(int band, double latitude, double longitude,
                                                            double height, double* pixel, double* line) {
    if (!pixel || !line || !std::isfinite(latitude) || !std::isfinite(longitude) || !std::isfinite(height))
        return ALOSJ_SENSOR_BAD_REQUEST;
    SensorModel model(*this, *d, band);
    CeosAlosjSensorStatus status = model.Ready();
    if (status != ALOSJ_SENSOR_OK) return status;
    const Vec target = EarthFixed(latitude, longitude, height);
    double t = 0;
    if (d->IsLevel1B2()) {  // the time depends on the point alone
        status = model.TimeSeeing(target, t);
        if (status != ALOSJ_SENSOR_OK) return status;
    }
    // Fixed point: the ray from the satellite at the line's time through
    // the point meets the polynomials' surface where their inverse gives
    // the next position.
    double x = 0, y = 0;
    CeosAlosjLocateStatus located = LatLonToPixel(band, latitude, longitude, &x, &y);
    for (int i = 0; i < kMaxIterations; ++i) {
        if (located != ALOSJ_LOCATE_OK && located != ALOSJ_LOCATE_OUTSIDE) return FromLocate(located);
        Sight sight;
        status = model.At(d->IsLevel1B2() ? t : model.TimeOfLine(x, y), target, sight);
        if (status != ALOSJ_SENSOR_OK) return status;
        Vec ground;
        if (!PointAtHeight(sight.satellite, Unit(target - sight.satellite), CEOSALOSJ_POLYNOMIAL_REFERENCE_HEIGHT,
                           ground))
            return ALOSJ_SENSOR_RAY_CHECK;
        double groundLatitude, groundLongitude, h;
        Geodetic(ground, groundLatitude, groundLongitude, h);
        double nx = 0, ny = 0;
        located = LatLonToPixel(band, groundLatitude, groundLongitude, &nx, &ny);
        if (located != ALOSJ_LOCATE_OK && located != ALOSJ_LOCATE_OUTSIDE) return FromLocate(located);
        const bool converged = std::hypot(nx - x, ny - y) < kConvergencePixels / 10;
        x = nx;
        y = ny;
        if (converged) {
            *pixel = x;
            *line = y;
            return located == ALOSJ_LOCATE_OK ? ALOSJ_SENSOR_OK : ALOSJ_SENSOR_OUTSIDE;
        }
    }
    return ALOSJ_SENSOR_NO_CONVERGENCE;
}

CeosAlosjSensorStatus CeosAlosjDataset::GetLineOfSight(int band, double pixel, double line,
                                                       CeosAlosjLineOfSight* out) {
    if (!out) return ALOSJ_SENSOR_BAD_REQUEST;
    Sight sight;
    const CeosAlosjSensorStatus status = SightAt(*this, *d, band, pixel, line, sight);
    if (status != ALOSJ_SENSOR_OK) return status;
    CeosAlosjLineOfSight result;
    result.secondsOfSceneDate = sight.time;
    const double days = std::floor(sight.time / kSecondsPerDay);
    const double second = sight.time - days * kSecondsPerDay;
    const SensorModelInputs& m = d->sensorModel;
    CivilFromDays(DaysFromCivil(m.year, m.month, m.day) + static_cast<long long>(days), result.time.year,
                  result.time.month, result.time.day);
    result.time.hour = static_cast<int32_t>(second / 3600);
    result.time.minute = static_cast<int32_t>((second - result.time.hour * 3600.0) / 60);
    result.time.seconds = second - result.time.hour * 3600.0 - result.time.minute * 60.0;
    result.time.valid = true;
    const Vec look = Unit(sight.ground - sight.satellite);
    for (int i = 0; i < 3; ++i) {
        result.position[i] = sight.satellite[i];
        result.velocity[i] = sight.velocity[i];
        result.look[i] = look[i];
    }
    double h;
    Geodetic(sight.ground, result.latitude, result.longitude, h);
    double satelliteLatitude, satelliteLongitude;
    Geodetic(sight.satellite, satelliteLatitude, satelliteLongitude, result.satelliteHeight);
    result.lookAngle = SensorModel::LookAngle(sight);
    *out = result;
    return ALOSJ_SENSOR_OK;
}

bool CeosAlosjDataset::GetOrbitBlock(int block, CeosAlosjOrbitBlock* out) {
    if (!out || !d->supplementalFile || (block != kOrbitFirstBlock && block != kOrbitSecondBlock)) return false;
    const AlosjSupplementalFileAncillary8& record = d->supplementalFile->Ancillary8();
    const AlosjStateVectorBlock& b = block == kOrbitFirstBlock ? record.firstBlock : record.secondBlock;
    CeosAlosjOrbitBlock result;
    std::snprintf(result.title, sizeof result.title, "%s", b.title);
    result.frame = FrameOfBlock(b);
    result.kind = KindOfBlock(b);
    result.stateVectors = b.samples ? b.samples->count : 0;
    MakeInputs(*d);
    result.usedByLineOfSight = d->sensorModel.orbitSource == block;
    *out = result;
    return true;
}
