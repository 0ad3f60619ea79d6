// The products the GDAL driver tests open, by name, shared by the GoogleTest
// suite and the fixture tool that the Python and command-line tests call.
#pragma once

#include <string>
#include <vector>

#include "tools/writer/ProductWriter.h"

namespace gdaltest {

/// Every product name, for tests that go over all kinds.
const std::vector<std::string>& ProductNames();

/// The product called name; an unknown name gives a PRISM Level 1B1 product
/// and sets *known to false.
ceoswriter::ProductRecipe ProductByName(const std::string& name, bool* known = nullptr);

}  // namespace gdaltest
