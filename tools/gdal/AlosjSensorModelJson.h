// The PRISM Level 1B1 sensor model of a product as one JSON document: the
// scene geometry, orbit, attitude and sensor constants that the dataset's
// GetALPSM1B1…Data exports hand over, under the exports' own member names.
//
//   {"scene": {"numLines": …, "cornerGeo": [[lon, lat], …], …},
//    "ephemeris": {"ephemerisCount": …, "ephemeris": [{"time": {…}, "stateVector": […]}, …], …},
//    "attitude": {…}, "sensor": {"sensorMatrix": [[…], […], […]], …}}
#pragma once

#include <string>

class CeosAlosjDataset;

namespace alosjgdal {

/// The sensor model of an opened and read PRISM product below Level 1B2.
std::string SensorModelJson(CeosAlosjDataset& product);

}  // namespace alosjgdal
