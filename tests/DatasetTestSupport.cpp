#include "DatasetTestSupport.h"

#include <gtest/gtest.h>

namespace testing_support {

std::unique_ptr<CeosAlosjDataset> OpenAndRead(const std::string& volume, long ccd, long* openResult) {
    auto dataset = ccd >= 0 ? std::make_unique<CeosAlosjDataset>(volume.c_str(), ccd)
                            : std::make_unique<CeosAlosjDataset>(volume.c_str());
    long result = dataset->FileOpen(nullptr);
    if (openResult) *openResult = result;
    if (result >= 0) dataset->FileRead();
    return dataset;
}

OpenedSample::OpenedSample(const ceoswriter::SampleOptions& sample)
    : options(sample),
      scene(sample),
      files(ceoswriter::WriteProduct(dir.path(), scene.Product())),
      product(OpenAndRead(files.volume)) {}

std::string OpenedSample::Name() const {
    return std::string(options.sensor == ceoswriter::Sensor::Prism ? "PRISM" : "AVNIR-2") + " level " +
           std::to_string(options.level);
}

std::vector<unsigned char> Row(CeosAlosjDataset& dataset, int band, unsigned long row) {
    const long width = dataset.GetSceneWidth();
    constexpr size_t kGuard = 64;
    std::vector<unsigned char> buffer(static_cast<size_t>(width) + kGuard, 0xA5);
    unsigned char* data = buffer.data();
    EXPECT_EQ(dataset.GetRow(band, row, 0, &data), 0);
    for (size_t i = static_cast<size_t>(width); i < buffer.size(); ++i)
        if (buffer[i] != 0xA5) {
            ADD_FAILURE() << "GetRow wrote past the scene width at " << i;
            break;
        }
    buffer.resize(static_cast<size_t>(width));
    return buffer;
}

}  // namespace testing_support
