// alosj rpc: a band's RPC model (GDAL's RPC00B, fitted to the line-of-sight
// model) as the _RPC.TXT or .RPB file GDAL reads beside a raster.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"

namespace alosj {

namespace {

bool EndsWith(std::string text, const std::string& ending) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

}  // namespace

int RunRpc(const RpcOptions& options) {
    const bool rpb = EndsWith(options.output, ".rpb");
    if (!options.output.empty() && !rpb && !EndsWith(options.output, "_rpc.txt"))
        throw Failure(kExitUsage, options.output +
                                      ": alosj rpc writes NAME_RPC.TXT or NAME.RPB, the files GDAL reads beside "
                                      "a raster NAME.*");
    Product product(options.product);
    RefuseOutputInProduct(options.output, product);
    if (options.band > product.Bands())
        throw Failure(kExitUsage, "--band " + std::to_string(options.band) + ": the product has " +
                                      std::to_string(product.Bands()) + " band(s)");
    const CeosAlosjRpcFit fit = product.Description().Rpc(options.band - 1);
    product.CheckReports("fitting the RPC model");
    if (!fit.offered)
        throw Failure(kExitFailure, product.VolumePath() + ": band " + std::to_string(options.band) +
                                        " has no RPC model: " +
                                        alosjdescribe::RpcProblem(
                                            fit, product.Dataset().GetColumnRanges(options.band - 1, nullptr, 0)));
    const std::string text = alosjdescribe::RpcFileText(fit.rpc, rpb);
    if (options.output.empty()) {
        std::cout << text;
        return 0;
    }
    WriteTextFile(options.output, text, options.overwrite, "alosj rpc");
    char residuals[160];
    std::snprintf(residuals, sizeof residuals, "RMS %.2g, largest %.2g pixel over %ld check points", fit.rmsResidual,
                  fit.maxResidual, fit.checkPoints);
    const std::string ccd = product.Ccd() > 0 ? " of CCD " + std::to_string(product.Ccd()) : "";
    std::cout << "Wrote " << options.output << " (band " << options.band << ccd << "; " << residuals << ")\n";
    return 0;
}

}  // namespace alosj
