// The trailer file reader fed an arbitrary file.
//
// Input: the file's bytes; the reader expects the file ID they record.
#include <cstdint>
#include <optional>

#include "files/CeosAlosjTrailerFile.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;
using fuzzsupport::CheckTexts;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    const std::string fileId = fuzzsupport::RecordedFileId(data, size, "ALPSM_N1TRL     ");
    CeosAlosjTrailerFile trailer(fuzzsupport::VolumePath().c_str(), fileId.c_str());
    const std::string name = fuzzsupport::ScratchName(trailer.FileName());
    std::optional<fuzzsupport::ScratchFile> file;
    if (!name.empty()) file.emplace(name, data, size);

    const long identified = trailer.SetFd();
    Check((identified == 0) == trailer.IsOpen(),
          "SetFd leaves the file open exactly when it succeeds");
    Check(trailer.Read() == 0, "Read always gives 0");
    const TrailerFileFileDescriptor& d = trailer.FileDescriptor();
    CheckTexts(d.asciiFlag, d.documentId, d.documentRevision, d.formatRevision, d.softwareRelease,
               d.recordedFileId, d.sequenceFlag, d.codeFlag, d.lengthFlag, d.reservedFlag1,
               d.reservedFlag2, d.reservedFlag3, d.reservedFlag4);
    // The trailer record is decoded whole or not at all.
    const bool complete = trailer.IsOpen() && size >= CeosAlosjTrailerFile::kTrailerOffset +
                                                          CeosAlosjTrailerFile::kTrailerSize;
    if (!complete) {
        Check(trailer.Trailer().recordLength == 0 && trailer.Trailer().values21[255] == 0,
              "an unreadable trailer record stays zero-filled");
    }
    if (trailer.IsOpen()) Check(trailer.Close() == 0, "an open file closes");
    fuzzsupport::CheckNoTemporaryFilesLeft();
    return 0;
}
