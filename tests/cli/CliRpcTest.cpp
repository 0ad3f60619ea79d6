// alosj rpc and the RPC models in alosj info --json: the library's fits,
// band by band, in the _RPC.TXT and .RPB forms and the JSON; refused with
// the reason when the line-of-sight model fails its checks.
#include <filesystem>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "CliSupport.h"
#include "tools/writer/SampleScene.h"

using cli_support::OpenedProduct;
using cli_support::RunAlosj;
using cli_support::WriteProductIn;
using nlohmann::json;

namespace {

/// "KEY: value" lines.
std::map<std::string, double> RpcText(const std::string& text) {
    std::map<std::string, double> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) values[line.substr(0, colon)] = std::stod(line.substr(colon + 2));
    }
    return values;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(CliRpc, WritesEachBandsModelAndRefusesAProductWhoseOrbitFailsItsCheck) {
    testing_support::TempDir dir;
    const ceoswriter::SampleScene scene({ceoswriter::Sensor::Avnir2, 1, ceoswriter::SampleSize::Tiny});
    const auto files = WriteProductIn(dir, "avnir2", scene.Product());
    OpenedProduct product(files.volume);
    CeosAlosjRpcFit fits[4];
    for (int band = 0; band < 4; ++band) ASSERT_EQ(product->GetRpc(band, &fits[band]), ALOSJ_RPC_OK);

    // info --json: every band's model, its residuals and heights.
    const cli_support::RunResult info = RunAlosj({"info", files.volume, "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const json rpcs = json::parse(info.out)["rpcs"];
    ASSERT_EQ(rpcs.size(), 4u);
    for (int band = 0; band < 4; ++band) {
        const json& r = rpcs[band];
        EXPECT_EQ(r["band"], band + 1);
        EXPECT_EQ(r["offered"], true);
        EXPECT_TRUE(r["problem"].is_null());
        EXPECT_EQ(r["heightRange"], json({-500.0, 9000.0}));
        EXPECT_EQ(r["residualMaxPixels"].get<double>(), fits[band].maxResidual);
        EXPECT_EQ(r["checkPoints"], fits[band].checkPoints);
        EXPECT_EQ(r["model"]["LINE_OFF"].get<double>(), fits[band].rpc.lineOffset);
        EXPECT_EQ(r["model"]["MAX_LAT"].get<double>(), fits[band].rpc.maxLatitude);
        ASSERT_EQ(r["model"]["SAMP_DEN_COEFF"].size(), 20u);
        for (int k = 0; k < 20; ++k)
            EXPECT_EQ(r["model"]["SAMP_DEN_COEFF"][k].get<double>(), fits[band].rpc.sampleDenominator[k]);
    }

    // On stdout the _RPC.TXT form, band 3's; with -o by the name's ending.
    const cli_support::RunResult text = RunAlosj({"rpc", files.volume, "--band", "3"});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::map<std::string, double> values = RpcText(text.out);
    EXPECT_EQ(values.size(), 12u + 80u);
    EXPECT_EQ(values.at("LAT_OFF"), fits[2].rpc.latitudeOffset);
    EXPECT_EQ(values.at("ERR_BIAS"), -1.0);
    for (int k = 0; k < 20; ++k) {
        EXPECT_EQ(values.at("LINE_NUM_COEFF_" + std::to_string(k + 1)), fits[2].rpc.lineNumerator[k]);
        EXPECT_EQ(values.at("SAMP_DEN_COEFF_" + std::to_string(k + 1)), fits[2].rpc.sampleDenominator[k]);
    }
    const std::string txt = dir.path() + "/scene_RPC.TXT", rpb = dir.path() + "/scene.RPB";
    ASSERT_EQ(RunAlosj({"rpc", files.volume, "--band", "3", "-o", txt}).status, 0);
    EXPECT_EQ(FileText(txt), text.out);
    ASSERT_EQ(RunAlosj({"rpc", files.volume, "-o", rpb}).status, 0);
    const std::string rpbText = FileText(rpb);
    EXPECT_EQ(rpbText.rfind("satId = \"ALOS\";\n", 0), 0u);
    EXPECT_NE(rpbText.find("\tlatOffset = " + [&] {
                  char number[40];
                  std::snprintf(number, sizeof number, "%+.16e", fits[0].rpc.latitudeOffset);
                  return std::string(number);
              }() + ";\n"),
              std::string::npos);
    // Names GDAL does not read beside a raster are refused before the product is read.
    const cli_support::RunResult wrong = RunAlosj({"rpc", files.volume, "-o", dir.path() + "/scene.txt"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("_RPC.TXT or NAME.RPB"), std::string::npos) << wrong.err;
    // Nothing is written inside the product's directory, even where GDAL
    // would look for it.
    const std::string beside = files.directory + "/IMG-01_RPC.TXT";
    const cli_support::RunResult inside = RunAlosj({"rpc", files.volume, "-o", beside});
    EXPECT_EQ(inside.status, 2) << inside.err;
    EXPECT_FALSE(std::filesystem::exists(beside));

    // State vectors 5000 km up: no model, and the check that failed is named.
    ceoswriter::ProductRecipe high = scene.Product();
    ceoswriter::ChangeOrbit(high, 0.0, [](ceoswriter::StateVector& v) {
        const double r = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z), k = (r - 691650 + 5000e3) / r;
        v.x *= k, v.y *= k, v.z *= k;
    });
    const auto damaged = WriteProductIn(dir, "high", high);
    const std::string refusedPath = dir.path() + "/high_RPC.TXT";
    const cli_support::RunResult refused = RunAlosj({"rpc", damaged.volume, "-o", refusedPath});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("band 1 has no RPC model: the line-of-sight model failed its altitude check"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::ifstream(refusedPath).good());
    const cli_support::RunResult damagedInfo = RunAlosj({"info", damaged.volume, "--json"});
    ASSERT_EQ(damagedInfo.status, 0) << damagedInfo.err;
    const json none = json::parse(damagedInfo.out)["rpcs"][0];
    EXPECT_EQ(none["offered"], false);
    EXPECT_TRUE(none["model"].is_null());
    EXPECT_NE(none["problem"].get<std::string>().find("altitude check"), std::string::npos);
}

// A forward view whose second CCD images each row 44 ms after the others:
// no one model follows the stitched raster, and the refusal says that each
// CCD has its own; `--ccd 2` writes that CCD's.
TEST(CliRpc, EachCcdHasItsOwnModelWhereTheStitchedRasterHasNone) {
    testing_support::TempDir dir;
    ceoswriter::SampleOptions options{ceoswriter::Sensor::Prism, 1, ceoswriter::SampleSize::Tiny};
    options.view = ceoswriter::View::Forward;
    options.laterCcd = 1;
    options.laterCcdMicroseconds = 44000;
    const auto files = WriteProductIn(dir, "later", ceoswriter::SampleScene(options).Product());
    const cli_support::RunResult stitched = RunAlosj({"rpc", files.volume});
    EXPECT_EQ(stitched.status, 1);
    EXPECT_NE(stitched.err.find("the raster joins 6 CCD image files, and each CCD opened alone has its own model "
                                "(alosj rpc --ccd N"),
              std::string::npos)
        << stitched.err;
    const std::string path = dir.path() + "/ccd2_RPC.TXT";
    const cli_support::RunResult alone = RunAlosj({"rpc", files.volume, "--ccd", "2", "-o", path});
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_NE(alone.out.find("(band 1 of CCD 2; RMS"), std::string::npos) << alone.out;
    const std::map<std::string, double> values = RpcText(FileText(path));
    EXPECT_EQ(values.size(), 12u + 80u);
}
