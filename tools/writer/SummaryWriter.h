// summary.txt of a synthetic product: keyword lines, values in double quotes
// as real products write them, for example
//   Pds_MapDirection="TrueNorth"
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ceoswriter {

struct ProductRecipe;

struct SummaryRecipe {
    /// The value of "Pds_MapDirection"; without one the key is not written.
    std::optional<std::string> mapDirection = std::string("TrueNorth");
    std::string separator = "=";   // between key and value, e.g. " = "
    bool quoteValues = true;
    std::string lineEnd = "\n";    // "\r\n" for a file from Windows
    /// Written verbatim, one a line, before the keys (comments, blank lines).
    std::vector<std::string> leadingLines;
};

void WriteSummaryFile(const std::string& path, const ProductRecipe& product);

}  // namespace ceoswriter
