#include "tools/writer/SummaryWriter.h"

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

void WriteSummaryFile(const std::string& path, const ProductSpec& product) {
    std::string text = "Pds_MapDirection=\"" + product.summary->mapDirection + "\"\n";
    WriteTextFile(path, text);
}

}  // namespace ceoswriter
