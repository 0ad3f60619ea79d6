#include "tools/writer/SummaryWriter.h"

#include <utility>

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

void WriteSummaryFile(const std::string& path, const ProductSpec& product) {
    const SummarySpec& spec = *product.summary;
    std::vector<std::pair<std::string, std::string>> keys = {
        {"Scs_SceneID", product.sceneId},
        {"Pds_ProductID", product.sceneId + "-" + product.processingSuffix},
        {"Pds_ProcessingLevel", product.level == 0 ? "1A" : product.level == 1 ? "1B1" : "1B2"},
        {"Pds_MapProjection", "UTM"},
    };
    if (spec.mapDirection) keys.emplace_back("Pds_MapDirection", *spec.mapDirection);
    keys.emplace_back("Pds_PixelSpacing", "2.50");

    std::string text;
    for (const std::string& line : spec.leadingLines) text += line + spec.lineEnd;
    for (const auto& key : keys) {
        const std::string value = spec.quoteValues ? "\"" + key.second + "\"" : key.second;
        text += key.first + spec.separator + value + spec.lineEnd;
    }
    WriteTextFile(path, text);
}

}  // namespace ceoswriter
