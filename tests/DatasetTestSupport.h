// Opening products the writer made, for the dataset tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "dataset/CeosAlosjDataset.h"

namespace testing_support {

/// A product written into its own temporary directory.
struct WrittenProduct {
    TempDir dir;
    ceoswriter::ProductRecipe recipe;
    ceoswriter::ProductFiles files;

    explicit WrittenProduct(const ceoswriter::ProductRecipe& product)
        : recipe(product), files(ceoswriter::WriteProduct(dir.path(), product)) {}
};

/// FileOpen and FileRead on a new dataset; ccd >= 0 opens one PRISM CCD file.
std::unique_ptr<CeosAlosjDataset> OpenAndRead(const std::string& volume, long ccd = -1,
                                              long* openResult = nullptr);

/// One row through GetRow, with guard bytes behind the scene width that must
/// stay untouched.
std::vector<unsigned char> Row(CeosAlosjDataset& dataset, int band, unsigned long row);

}  // namespace testing_support
