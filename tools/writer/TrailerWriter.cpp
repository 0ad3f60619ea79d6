#include "tools/writer/TrailerWriter.h"

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

void WriteTrailerFile(const std::string& path, const ProductSpec& product, const std::string& fileId) {
    FileWriter out(path);
    out.Write(0, FileDescriptorRecord(720, product, 3, fileId));
}

}  // namespace ceoswriter
