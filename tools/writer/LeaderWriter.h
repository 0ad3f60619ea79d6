// Leader file of a synthetic product.
#pragma once

#include <string>

namespace ceoswriter {

struct ProductSpec;

struct LeaderSpec {};

void WriteLeaderFile(const std::string& path, const ProductSpec& product, const std::string& fileId);

}  // namespace ceoswriter
