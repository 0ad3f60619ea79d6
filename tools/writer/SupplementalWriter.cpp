#include "tools/writer/SupplementalWriter.h"

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

void WriteSupplementalFile(const std::string& path, const ProductSpec& product,
                           const std::string& fileId) {
    FileWriter out(path);
    out.Write(0, FileDescriptorRecord(720, product, 4, fileId));
}

}  // namespace ceoswriter
