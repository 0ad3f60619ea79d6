#include "tools/writer/LeaderWriter.h"

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

void WriteLeaderFile(const std::string& path, const ProductSpec& product, const std::string& fileId) {
    FileWriter out(path);
    out.Write(0, FileDescriptorRecord(4680, product, 1, fileId));
}

}  // namespace ceoswriter
