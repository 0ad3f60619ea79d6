#include "tools/writer/TrailerWriter.h"

#include <cmath>

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

namespace {

constexpr size_t kDescriptorLength = 8460;
constexpr size_t kTrailerLength = 1044;
constexpr RecordType kTrailerType = {0x12, 0x3F, 0x12, 0x12};

}  // namespace

std::array<int32_t, 256> DefaultHistogram() {
    std::array<int32_t, 256> counts{};
    for (int k = 0; k < 256; ++k)
        counts[k] = static_cast<int32_t>(std::lround(250000.0 * std::exp(-(k - 96) * (k - 96) / 800.0)));
    return counts;
}

void WriteTrailerFile(const std::string& path, const ProductRecipe& product, const std::string& fileId) {
    const TrailerRecipe& recipe = product.trailer;
    const int records = product.ImageCount() > 0 ? product.ImageCount() : 1;
    FileWriter out(path);
    Record descriptor = FileDescriptorRecord(kDescriptorLength, product, 3, fileId);
    descriptor.Int(181, 6, records).Int(187, 6, static_cast<long long>(kTrailerLength));
    out.Write(0, descriptor);

    for (int r = 0; r < records; ++r) {
        const bool single = product.IsPrism() && product.level == 2;
        const int designator = single ? 0 : product.designators[r];
        Record trailer(kTrailerLength);
        trailer.Header(2 + r, kTrailerType)
            .Int(13, 4, recipe.recordNumber + r)
            .Int(17, 4, r == 0 ? recipe.designator.value_or(designator) : designator);
        // Later records carry the same shape, scaled, so each file differs.
        for (int k = 0; k < 256; ++k) trailer.BinInt(21 + 4 * k, 4, recipe.values[k] / (r + 1));
        out.Write(kDescriptorLength + kTrailerLength * static_cast<uint64_t>(r), trailer);
    }
}

}  // namespace ceoswriter
