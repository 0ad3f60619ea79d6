#include "tools/writer/SummaryWriter.h"

#include <utility>

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

void WriteSummaryFile(const std::string& path, const ProductRecipe& product) {
    const SummaryRecipe& recipe = *product.summary;
    std::vector<std::pair<std::string, std::string>> keys = {
        {"Scs_SceneID", product.sceneId},
        {"Pds_ProductID", product.sceneId + "-" + product.processingSuffix},
        {"Pds_ProcessingLevel", product.level == 0 ? "1A" : product.level == 1 ? "1B1" : "1B2"},
        {"Pds_MapProjection", "UTM"},
    };
    if (recipe.mapDirection) keys.emplace_back("Pds_MapDirection", *recipe.mapDirection);
    keys.emplace_back("Pds_PixelSpacing", "2.50");

    std::string text;
    for (const std::string& line : recipe.leadingLines) text += line + recipe.lineEnd;
    for (const auto& key : keys) {
        const std::string value = recipe.quoteValues ? "\"" + key.second + "\"" : key.second;
        text += key.first + recipe.separator + value + recipe.lineEnd;
    }
    WriteTextFile(path, text);
}

}  // namespace ceoswriter
