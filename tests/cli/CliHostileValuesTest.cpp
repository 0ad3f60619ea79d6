// Values that are wrong but look like values: geolocation that leaves the
// Earth, collapses or bulges, corners of no place, absurd calibration gains.
// Each is refused or left out, with a reason, never passed on as good.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "CliSupport.h"
#include "tools/writer/SampleScene.h"

using cli_support::RunAlosj;
using cli_support::RunResult;
using ceoswriter::SampleScene;
using ceoswriter::SampleSize;
using ceoswriter::Sensor;

namespace {

// File offsets of the leader's scene header and radiometric record.
constexpr long kSceneHeader = 4680;
constexpr long kRadiometry = 14040;
// Scene header positions of the corners' latitudes and longitudes.
constexpr int kCornerPositions[8] = {1733, 1749, 1765, 1781, 1797, 1813, 1829, 1845};

void PatchText(const std::string& path, long offset, const std::string& text) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::string Field(const std::string& text, size_t width) { return std::string(width - text.size(), ' ') + text; }

bool Has(const RunResult& run, const std::string& text) { return run.err.find(text) != std::string::npos; }

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

// The tiny PRISM 1B1 sample with every CCD's latitude polynomial changed by
// `change(set)`.
template <typename Change>
ceoswriter::ProductFiles WriteChanged(const testing_support::TempDir& dir, const std::string& name, Change change) {
    ceoswriter::ProductRecipe recipe = SampleScene({Sensor::Prism, 1, SampleSize::Tiny}).Product();
    for (int ccd : recipe.designators) change(recipe.leader.coefficientSets[4 * (ccd - 1)]);
    return cli_support::WriteProductIn(dir, name, recipe);
}

}  // namespace

TEST(CliHostileGeolocation, PlacesOffTheEarthOrCollapsedAreNoPlacesForLocateStacAndWarp) {
    testing_support::TempDir dir;
    const SampleScene scene({Sensor::Prism, 1, SampleSize::Tiny});
    const double lines = scene.Height();
    const std::string middle[2] = {std::to_string(scene.Width() / 2), std::to_string(scene.Height() / 2)};

    // Latitude right at the corners, 200° more half way down: c(l² − H·l).
    const auto bulging = WriteChanged(dir, "bulging", [&](auto& set) {
        const double c = -800 / (lines * lines);
        set[5] += c;
        set[2] -= c * lines;
    });
    RunResult run = RunAlosj({"locate", bulging.volume, "--pixel", middle[0], middle[1]});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(Has(run, "has no usable geolocation polynomials")) << run.err;
    EXPECT_TRUE(Has(run, "off the Earth")) << run.err;
    // The footprint falls back to the scene's corners.
    const std::string item = dir.File("bulging.json");
    run = RunAlosj({"stac", bulging.volume, "-o", item});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json bbox = ReadJson(item)["bbox"];
    ASSERT_EQ(bbox.size(), 4u);
    EXPECT_LT(bbox[3].get<double>(), 36.0);

    // Every position at one place: no GCPs from it, no 1 x 1 warp.
    ceoswriter::ProductRecipe recipe = scene.Product();
    for (int ccd : recipe.designators) {
        recipe.leader.coefficientSets[4 * (ccd - 1)] = {35.3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        recipe.leader.coefficientSets[4 * (ccd - 1) + 1] = {138.7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    }
    const auto point = cli_support::WriteProductIn(dir, "point", recipe);
    run = RunAlosj({"info", "--json", point.volume});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run, "collapse or fold")) << run.err;
    // The scene's four corners place it instead.
    EXPECT_EQ(nlohmann::json::parse(run.out)["georeferencing"]["gcps"].size(), 4u);
    run = RunAlosj({"export", point.volume, dir.File("point.tif"), "--warp"});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(Has(run, "has no usable geolocation polynomials")) << run.err;

    // Sound polynomials onto a grid of decimetres: grids are made in metres,
    // and another unit is refused before anything is written.
    const auto sound = cli_support::WriteProductIn(dir, "sound", scene.Product());
    run = RunAlosj({"export", sound.volume, dir.File("dm.tif"), "--warp", "+proj=utm +zone=54 +datum=WGS84 +units=dm"});
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_TRUE(Has(run, "give the CRS in metres")) << run.err;
    EXPECT_FALSE(std::ifstream(dir.File("dm.tif")).good());
}

TEST(CliHostileCorners, CornersOfNoPlaceGiveItemsWithoutFootprintWhichTheCollectionLeavesOut) {
    testing_support::TempDir dir;
    const std::string catalog = dir.File("catalog");
    const std::pair<std::string, std::string> cases[] = {{"good", ""}, {"infinite", "1e999"}, {"huge", "1e300"}, {"nan", "NaN"}};
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        // The writer's placeholder polynomials leave the corners to place it.
        const auto files = cli_support::WriteProductIn(dir, name, ceoswriter::PrismProduct(1));
        if (!text.empty())
            for (int position : kCornerPositions) PatchText(files.leader, kSceneHeader + position - 1, Field(text, 16));
        std::filesystem::create_directories(catalog + "/" + name);
        const std::string path = catalog + "/" + name + "/" + name + ".json";
        const RunResult run = RunAlosj({"stac", files.volume, "-o", path});
        ASSERT_EQ(run.status, 0) << run.err;
        const nlohmann::json item = ReadJson(path);
        if (text.empty()) {
            EXPECT_EQ(item["bbox"].size(), 4u);
        } else {
            EXPECT_TRUE(item["geometry"].is_null());
            EXPECT_FALSE(item.contains("bbox"));
            EXPECT_TRUE(Has(run, "no footprint: corner coordinates that are no places on Earth")) << run.err;
        }
    }
    // An Item damaged after it was written does not stop the Collection either.
    std::filesystem::create_directories(catalog + "/damaged");
    std::ofstream(catalog + "/damaged/damaged.json") << R"({"type": "Feature", "bbox": [null, 1, 2, 3], "properties": 5})";

    const RunResult run = RunAlosj({"catalog", catalog});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("(1 item(s))"), std::string::npos) << run.out;
    const nlohmann::json collection = ReadJson(catalog + "/collection.json");
    EXPECT_EQ(collection["extent"]["spatial"]["bbox"][0], ReadJson(catalog + "/good/good.json")["bbox"]);
    int items = 0;
    for (const auto& link : collection["links"]) items += link["rel"] == "item";
    EXPECT_EQ(items, 1);
}

TEST(CliHostileRadiometry, GainsAndOffsetsNoProductHasGiveNoRadiance) {
    testing_support::TempDir dir;
    // Radiometric record positions of the PRISM gain and offset (F8.4).
    const struct {
        int position;
        std::string text, reason;
    } cases[] = {{2703, " 1.0E38 ", "calibration gain 1e+38 lies outside 0.001 to 100"},
                 {2703, "1.0E-300", "calibration gain 1e-300 lies outside"},
                 {2711, "-1.0E300", "calibration offset -1e+300 lies outside -1000 to 1000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto files = cli_support::WriteProductIn(dir, "p" + std::to_string(&c - cases), ceoswriter::PrismProduct(1));
        PatchText(files.leader, kRadiometry + c.position - 1, c.text);
        const std::string out = dir.File("radiance" + std::to_string(&c - cases) + ".tif");
        const RunResult run = RunAlosj({"export", files.volume, out, "--radiance"});
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_TRUE(Has(run, c.reason)) << run.err;
        EXPECT_FALSE(std::ifstream(out).good());
    }
}
