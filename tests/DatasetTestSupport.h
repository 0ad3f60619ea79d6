// Opening products the writer made, for the dataset tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "dataset/CeosAlosjDataset.h"
#include "tools/writer/SampleScene.h"

namespace testing_support {

/// A product written into its own temporary directory.
struct WrittenProduct {
    TempDir dir;
    ceoswriter::ProductRecipe recipe;
    ceoswriter::ProductFiles files;

    explicit WrittenProduct(const ceoswriter::ProductRecipe& product)
        : recipe(product), files(ceoswriter::WriteProduct(dir.path(), product)) {}
};

/// One of the writer's sample scenes written and opened, its reports
/// captured from the start: the writer's geometry beside the dataset on it.
struct OpenedSample {
    explicit OpenedSample(const ceoswriter::SampleOptions& options);
    /// "PRISM level 1", for test traces.
    std::string Name() const;

    ceoswriter::SampleOptions options;
    ceoswriter::SampleScene scene;
    TempDir dir;
    ceoswriter::ProductFiles files;
    ReportCapture reports;
    std::unique_ptr<CeosAlosjDataset> product;
};

/// FileOpen and FileRead on a new dataset; ccd >= 0 opens one PRISM CCD file.
std::unique_ptr<CeosAlosjDataset> OpenAndRead(const std::string& volume, long ccd = -1,
                                              long* openResult = nullptr);

/// One row through GetRow, with guard bytes behind the scene width that must
/// stay untouched.
std::vector<unsigned char> Row(CeosAlosjDataset& dataset, int band, unsigned long row);

}  // namespace testing_support
