#include "files/CeosAlosjVolumeDirFile.h"

#include <cstring>
#include <new>

#include "host/tstr.h"

namespace {

bool ReadVolumeRecord(Tfio_File handle, int64_t offset, unsigned char (&buffer)[360],
                      const char* operation) {
    return CeosReadRecord(handle, offset, buffer, sizeof buffer, operation);
}

}  // namespace

void VolumeDirFileVolumneDescriptor::Read(Tfio_File fileHandle) {
    unsigned char buffer[360];
    if (!ReadVolumeRecord(fileHandle, 0, buffer, "VolumeDirFileVolumneDescriptor::Read")) return;
    const CeosFields f(buffer, sizeof buffer);
    Decode(f);
    f(13, 2, FT_ASCII, asciiFlag);
    f(17, 12, FT_ASCII, documentId);
    f(29, 2, FT_ASCII, documentRevision);
    f(31, 2, FT_ASCII, formatRevision);
    f(33, 12, FT_ASCII, softwareRelease);
    f(61, 16, FT_ASCII, logicalVolumeId);
    f(77, 16, FT_ASCII, volumeSetId);
    f(99, 2, FT_INT, physicalVolumeNumber);
    f(101, 4, FT_INT, firstFileNumber);
    f(105, 4, FT_INT, logicalVolumeNumber);
    f(113, 8, FT_ASCII, creationDate);
    f(121, 8, FT_ASCII, creationTime);
    f(129, 12, FT_ASCII, generationCountry);
    f(141, 8, FT_ASCII, generationAgency);
    f(149, 12, FT_ASCII, generationFacility);
    f(161, 4, FT_INT, numberOfFilePointerRecords);
    f(165, 4, FT_INT, numberOfRecords);
}

void VolumeDirFileFilePointer::Read(Tfio_File fileHandle, int64_t offset) {
    unsigned char buffer[360];
    if (!ReadVolumeRecord(fileHandle, offset, buffer, "VolumeDirFileFilePointer::Read")) return;
    const CeosFields f(buffer, sizeof buffer);
    Decode(f);
    f(13, 2, FT_ASCII, asciiFlag);
    f(17, 4, FT_INT, referencedFileNumber);
    f(21, 16, FT_ASCII, referencedFileId);
    f(37, 28, FT_ASCII, fileClass);
    f(65, 4, FT_ASCII, fileClassCode);
    f(69, 28, FT_ASCII, fileDataType);
    f(97, 4, FT_ASCII, fileDataTypeCode);
    f(101, 8, FT_INT, numberOfFileRecords);
    f(109, 8, FT_INT, firstRecordLength);
    f(117, 8, FT_INT, maxRecordLength);
    f(125, 12, FT_ASCII, recordLengthType);
    f(137, 4, FT_ASCII, recordLengthTypeCode);
    f(141, 2, FT_INT, firstVolumeNumber);
    f(143, 2, FT_INT, lastVolumeNumber);
    f(145, 8, FT_INT, firstRecordOnVolume);
}

void VolumeDirFileText::Read(Tfio_File fileHandle, int64_t offset) {
    unsigned char buffer[360];
    if (!ReadVolumeRecord(fileHandle, offset, buffer, "VolumeDirFileText::Read")) return;
    const CeosFields f(buffer, sizeof buffer);
    Decode(f);
    f(13, 2, FT_ASCII, asciiFlag);
    f(17, 40, FT_ASCII, productType);
    f(57, 60, FT_ASCII, productCreation);
    f(117, 40, FT_ASCII, physicalVolumeId);
    f(157, 4, FT_ASCII, sceneIdPrefix);
}

CeosAlosjVolumeDirFile::CeosAlosjVolumeDirFile(const char* volumeDirPath)
    : CeosAlosjBaseClass(volumeDirPath),
      volumeDescriptor(std::make_unique<VolumeDirFileVolumneDescriptor>()),
      textRecord(std::make_unique<VolumeDirFileText>()) {
    fileName = volumeDirPath ? volumeDirPath : "";
}

long VolumeDirectorySensorOfName(const char* path) {
    if (!path) return -1;
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (tfnp_IsSeparator(*c)) name = c + 1;
    if (tstr_SubStringic(name, "VOL-ALPSM")) return 0;
    if (tstr_SubStringic(name, "VOL-ALAV2")) return 1;
    return -1;
}

bool VolumeDocumentIdIsSensors(const char* documentId, long sensor) {
    if (!documentId || sensor < 0 || sensor > 1) return false;
    char id[kVolumeDocumentIdLength + 1] = {};
    std::memcpy(id, documentId, kVolumeDocumentIdLength);
    return tstr_Eqic(id, sensor == 0 ? "CEOS-PSM-CCT" : "CEOS-AV2-CCT");
}

long CeosAlosjVolumeDirFile::FileIdentify() {
    const long sensor = VolumeDirectorySensorOfName(fileName.c_str());
    if (sensor < 0) return -1;

    char documentId[kVolumeDocumentIdLength];
    Terr_ErrorReport report = nullptr;
    tfio_ReadDirect(fileHandle, kVolumeDocumentIdOffset, documentId, kVolumeDocumentIdLength, &report);
    if (report) {
        terr_ReportAndDelete("CeosAlosjVolumeDirFile::FileIdentify", __LINE__, &report,
                             "tfio_ReadDirect failed");
        return -1;
    }
    if (VolumeDocumentIdIsSensors(documentId, sensor)) return sensor;
    terr_ReportAndDelete("CeosAlosjVolumeDirFile::FileIdentify", __LINE__, nullptr,
                         sensor == 0 ? "Not a ALOS PRISM VOL file" : "Not a ALOS AVNIR-2 VOL file");
    return -1;
}

long CeosAlosjVolumeDirFile::Read() {
    // The count decides how many records are read: without a readable
    // descriptor there is no count to believe.
    volumeDescriptor->numberOfFilePointerRecords = 0;
    volumeDescriptor->Read(fileHandle);

    fileCount = volumeDescriptor->numberOfFilePointerRecords;
    // Only records that lie inside the file can be read.
    Terr_ErrorReport sizeReport = nullptr;
    const int64_t fileSize = tfio_FileSize(fileHandle, &sizeReport);
    terr_DeleteErrorReportEx(&sizeReport);
    // A file too short for its descriptor holds no file pointer record (and
    // its count of 0 is no further fault: the failed read was reported).
    const int64_t recordsInFile = fileSize >= kRecordLength ? fileSize / kRecordLength - 1 : 0;
    if (fileCount < 0) {
        terr_ReportAndDelete("CeosAlosjVolumeDirFile::Read", __LINE__, nullptr,
                             "Invalid number of file pointer records");
        fileCount = 0;
    }
    // A count larger than the file holds is cut to the file pointer records
    // that are there: those after the descriptor, up to the first record of
    // another type (the text record).
    const bool cut = fileCount > recordsInFile;
    const long toRead = cut ? static_cast<long>(recordsInFile) : fileCount;
    filePointers.clear();
    for (long i = 0; i < toRead; ++i) {
        auto record = std::unique_ptr<VolumeDirFileFilePointer>(new (std::nothrow)
                                                                    VolumeDirFileFilePointer);
        if (!record) {
            fileCount = static_cast<long>(filePointers.size());
            terr_ReportAndDelete("CeosAlosjVolumeDirFile::Read", __LINE__, nullptr,
                                 "No memory for VolumeFileFilePointers!");
            return -1;
        }
        record->Read(fileHandle, kRecordLength * (i + 1));
        if (cut && record->firstRecordSubtype != kFilePointerSubtype) break;
        filePointers.push_back(std::move(record));
    }
    if (cut) {
        // Records without a file pointer's type code: the last one is taken
        // for the text record.
        if (filePointers.empty() && recordsInFile > 1) {
            for (long i = 0; i < recordsInFile - 1; ++i) {
                auto record = std::make_unique<VolumeDirFileFilePointer>();
                record->Read(fileHandle, kRecordLength * (i + 1));
                filePointers.push_back(std::move(record));
            }
        }
        fileCount = static_cast<long>(filePointers.size());
        terr_Warn("CeosAlosjVolumeDirFile::Read", __LINE__,
                  "Number of file pointer records cut to the records the file holds");
    }
    textRecord->Read(fileHandle, kRecordLength * (fileCount + 1));
    return 0;
}
