// summary.txt of a synthetic product.
#pragma once

#include <string>

namespace ceoswriter {

struct ProductSpec;

struct SummarySpec {
    std::string mapDirection = "TrueNorth";
};

void WriteSummaryFile(const std::string& path, const ProductSpec& product);

}  // namespace ceoswriter
