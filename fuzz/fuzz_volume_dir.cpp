// The volume directory reader fed an arbitrary file.
//
// Input: one control byte choosing the file's name (PRISM, AVNIR-2, lower
// case, neither), then the file's bytes.  The reader identifies the file,
// reads it, and every record it kept is touched: each text member must end
// inside its array.
#include <cstdint>

#include "files/CeosAlosjVolumeDirFile.h"
#include "fuzz/FuzzInputs.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;
using fuzzsupport::CheckTexts;

namespace {

void TouchRecord(const VolumeDirFileVolumneDescriptor& d) {
    CheckTexts(d.asciiFlag, d.documentId, d.documentRevision, d.formatRevision, d.softwareRelease,
               d.logicalVolumeId, d.volumeSetId, d.creationDate, d.creationTime,
               d.generationCountry, d.generationAgency, d.generationFacility);
}

void TouchRecord(const VolumeDirFileFilePointer& p) {
    CheckTexts(p.asciiFlag, p.referencedFileId, p.fileClass, p.fileClassCode, p.fileDataType,
               p.fileDataTypeCode, p.recordLengthType, p.recordLengthTypeCode);
}

void TouchRecord(const VolumeDirFileText& t) {
    CheckTexts(t.asciiFlag, t.productType, t.productCreation, t.physicalVolumeId, t.sceneIdPrefix);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    fuzzsupport::InputBytes input(data, size);
    const uint8_t nameChoice = input.Byte();
    fuzzsupport::ScratchFile file(fuzzinputs::VolumeFileName(nameChoice), input.rest(),
                                  input.restSize());

    CeosAlosjVolumeDirFile volume(file.path().c_str());
    const long sensor = volume.SetFd();
    Check(sensor >= -1 && sensor <= 1, "SetFd gives a sensor or -1");
    Check((sensor == -1) != volume.IsOpen(), "SetFd leaves the file open exactly when it succeeds");
    if (nameChoice % fuzzinputs::kVolumeNameCount == fuzzinputs::kVolumeUnnamed)
        Check(sensor == -1, "a file without a sensor name is refused");
    if (sensor == -1) return 0;

    Check(volume.Read() == 0, "Read succeeds on an open file");
    const long count = volume.FileCount();
    Check(count >= 0 && count <= CeosAlosjVolumeDirFile::kMaxFilePointerRecords,
          "the file pointer count is believable");
    // Only records that lie in the file are read.
    Check(count == 0 || static_cast<size_t>(count + 1) * CeosAlosjVolumeDirFile::kRecordLength <=
                            input.restSize(),
          "every file pointer record lies inside the file");
    TouchRecord(volume.VolumeDescriptor());
    TouchRecord(volume.TextRecord());
    for (long i = 0; i < count; ++i) TouchRecord(volume.FilePointer(i));

    Check(volume.Close() == 0, "an open file closes");
    Check(!volume.IsOpen(), "Close leaves the reader closed");
    fuzzsupport::CheckNoTemporaryFilesLeft();
    return 0;
}
