// Trailer file: the CEOS file that follows a product's image files.
//
// Two records are decoded: the file descriptor (the common 180 bytes, then
// two 6-digit values at 181 and 187) and the first trailer record at byte
// offset 8460, 1044 bytes holding 256 big-endian 32-bit values from record
// position 21 on.  A record whose read fails is reported under its own name
// and stays as it was (zero-filled when never read).
#pragma once

#include <cstdint>
#include <memory>

#include "ceos/CeosAlosjBaseClass.h"
#include "ceos/CeosRecord.h"

struct TrailerFileFileDescriptor : CeosAlosjFileDescriptor {
    int32_t value181 = 0;
    int32_t value187 = 0;

    /// Reads the common part, then record bytes 181-192, whatever became of
    /// the common part.
    void Read(Tfio_File fileHandle);
};

struct TrailerFileTrailer : CeosRecordHeader {
    static constexpr int kValueCount = 256;

    int32_t value13 = 0;
    int32_t value17 = 0;
    int32_t values21[kValueCount] = {};  // value k from record position 21 + 4 × k

    void Read(Tfio_File fileHandle);
};

class CeosAlosjTrailerFile : public CeosAlosjNonVolFileClass {
public:
    static constexpr int64_t kTrailerOffset = 8460;
    static constexpr long kTrailerSize = 1044;

    CeosAlosjTrailerFile(const char* volumeDirPath, const char* referencedFileId);

    /// Decodes both records from the open file.  Always 0: failed records are
    /// reported, not returned.
    long Read();

    const TrailerFileFileDescriptor& FileDescriptor() const { return *fileDescriptor; }
    const TrailerFileTrailer& Trailer() const { return *trailer; }

private:
    std::unique_ptr<TrailerFileFileDescriptor> fileDescriptor;
    std::unique_ptr<TrailerFileTrailer> trailer;
};
