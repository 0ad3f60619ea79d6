// alosj sensor-model: the PRISM Level 1B1 scene, orbit, attitude and
// sensor exports, with times in ISO 8601 (UTC).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/alosj/Product.h"

namespace alosj {

namespace {

/// What the exported block of state vectors states of itself: its title,
/// frame and kind.
std::string BlockText(const nlohmann::ordered_json& block) {
    if (!block.is_object()) return "no block";
    auto named = [&](const char* key, const char* otherwise) {
        return block[key].is_string() ? block[key].get<std::string>() : std::string(otherwise);
    };
    return "\"" + block["title"].get<std::string>() + "\" (" + named("frame", "frame not stated") + ", " +
           named("kind", "kind not stated") + ")";
}

}  // namespace

int RunSensorModel(const SensorModelOptions& options) {
    Product product(options.product);
    CeosAlosjDataset& d = product.Dataset();
    if (!alosjdescribe::HasSensorModel(d))
        throw Failure(kExitFailure, product.VolumePath() + ": has no sensor model: it is " + product.SensorName() +
                                        " Level " + product.LevelName() +
                                        "; the sensor model comes with PRISM Level 1B1 products");
    const nlohmann::ordered_json model = alosjdescribe::SensorModelJson(d, product.VolumePath());
    product.CheckReports("exporting the sensor model");
    const nlohmann::ordered_json& s = model["scene"];
    const nlohmann::ordered_json& e = model["ephemeris"];
    const nlohmann::ordered_json& a = model["attitude"];

    if (options.json) {
        std::cout << JsonText(model, 2) << "\n";
        return 0;
    }
    std::cout << "Product             " << model["volumeDirectoryFile"].get<std::string>() << "\n"
              << "View                " << s["viewName"].get<std::string>() << ", " << s["numPixels"] << " x "
              << s["numLines"] << " pixels\n"
              << "Scene start         " << s["sceneStartTime"].dump() << "\n"
              << "Scene centre        " << s["sceneCenterTime"].dump() << "\n"
              << "State vectors       " << e["stateVectors"].size() << " from " << e["startTime"].dump() << ", every "
              << e["intervalSeconds"] << " s, " << BlockText(e["stateVectorBlock"]) << "\n"
              << "Matrix entries      " << e["matrices"].size() << "\n"
              << "Attitude samples    " << a["samples"].size() << " from " << a["startTime"].dump() << ", every "
              << a["intervalSeconds"] << " s\n"
              << "Focal length        " << model["sensor"]["focalLength"] << " mm, detector pitch "
              << model["sensor"]["detectorPitch"] << " mm\n"
              << "(all values: alosj sensor-model --json)\n";
    return 0;
}

}  // namespace alosj
