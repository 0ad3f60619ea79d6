// The UTM zone a place lies in, on WGS 84: the map grid outputs take when
// the user names none.
#pragma once

#include <algorithm>
#include <cmath>

namespace alosj::processing {

/// EPSG code of the WGS 84 / UTM zone of a latitude and longitude (degrees):
/// zones of 6° from 180° W, 326zz north of the equator, 327zz south.
inline int UtmEpsgAt(double latitude, double longitude) {
    const int zone = std::clamp(static_cast<int>(std::floor((longitude + 180.0) / 6.0)) + 1, 1, 60);
    return (latitude >= 0 ? 32600 : 32700) + zone;
}

}  // namespace alosj::processing
