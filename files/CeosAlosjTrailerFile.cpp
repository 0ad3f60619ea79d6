#include "files/CeosAlosjTrailerFile.h"

namespace {

// The trailer's own part of its descriptor ends at record byte 192.
constexpr long kDescriptorOwnEnd = 192;

}  // namespace

void TrailerFileFileDescriptor::Read(Tfio_File fileHandle) {
    CeosAlosjFileDescriptor::Read(fileHandle);

    // The buffer mirrors record bytes 1-192 so that positions read like the
    // record's table; only bytes 181-192 are read here.
    unsigned char buffer[kDescriptorOwnEnd] = {};
    if (!CeosReadDescriptorPart(fileHandle, buffer, "TrailerFileFileDescriptor::Read"))
        return;
    const CeosFields f(buffer, sizeof buffer);
    f(181, 6, FT_INT, value181);
    f(187, 6, FT_INT, value187);
}

void TrailerFileTrailer::Read(Tfio_File fileHandle) {
    unsigned char buffer[CeosAlosjTrailerFile::kTrailerSize];
    if (!CeosReadRecord(fileHandle, CeosAlosjTrailerFile::kTrailerOffset, buffer, sizeof buffer,
                        "TrailerFileTrailer::Read"))
        return;
    const CeosFields f(buffer, sizeof buffer);
    Decode(f);
    f(13, 4, FT_INT, value13);
    f(17, 4, FT_INT, value17);
    for (int k = 0; k < kValueCount; ++k) f(21 + 4 * k, 4, FT_BIN_INT, values21[k]);
}

CeosAlosjTrailerFile::CeosAlosjTrailerFile(const char* volumeDirPath, const char* referencedFileId)
    : CeosAlosjNonVolFileClass(volumeDirPath, referencedFileId),
      fileDescriptor(std::make_unique<TrailerFileFileDescriptor>()),
      trailer(std::make_unique<TrailerFileTrailer>()) {}

long CeosAlosjTrailerFile::Read() {
    fileDescriptor->Read(fileHandle);
    trailer->Read(fileHandle);
    return 0;
}
