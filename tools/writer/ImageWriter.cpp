#include "tools/writer/ImageWriter.h"

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

void WriteImageFile(const std::string& path, const ProductSpec& product, int,
                    const std::string& fileId) {
    const int recordLength = 34 + product.image.pixelsPerLine;
    FileWriter out(path);
    Record descriptor = FileDescriptorRecord(static_cast<size_t>(recordLength) < 720 ? 720 : recordLength,
                                             product, 2, fileId);
    out.Write(0, descriptor);
}

}  // namespace ceoswriter
